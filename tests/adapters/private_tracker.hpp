// A tracker on the test's bus, on a connection and a thread of its own, so
// it answers reads while the link under test blocks waiting for them.
#pragma once

#include <QDBusConnection>
#include <QThread>
#include <QUuid>
#include <memory>

#include "tracker_publisher.hpp"

namespace pasotune::test {

class PrivateTracker {
 public:
  PrivateTracker(const QString& first = QStringLiteral("R0"),
                 const QString& service = QStringLiteral("Orbitron"))
      : name_(QUuid::createUuid().toString()),
        bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name_)),
        publisher_(std::make_unique<feed::TrackerPublisher>(
            bus_, service, QStringLiteral("Tracking"), QStringLiteral("TrackingData"))) {
    thread_.start();
    publisher_->moveToThread(&thread_);
    startError_ = publisher_->Start(first);
  }
  ~PrivateTracker() {
    publisher_->Stop();
    thread_.quit();
    thread_.wait();
    publisher_.reset();
    QDBusConnection::disconnectFromBus(name_);
  }
  PrivateTracker(const PrivateTracker&) = delete;
  PrivateTracker& operator=(const PrivateTracker&) = delete;

  const QString& StartError() const { return startError_; }
  feed::TrackerPublisher& operator*() { return *publisher_; }
  feed::TrackerPublisher* operator->() { return publisher_.get(); }

 private:
  QString name_;
  QDBusConnection bus_;
  QThread thread_;
  std::unique_ptr<feed::TrackerPublisher> publisher_;
  QString startError_;
};

}  // namespace pasotune::test
