// One tracker item on the session bus: bus name dde.<service>, object
// /<topic>, read-only string property <item> of interface dde.Topic, every
// new value announced with PropertiesChanged.
#pragma once

#include <QDBusConnection>
#include <QDBusVirtualObject>
#include <QMutex>
#include <QString>

namespace pasotune::feed {

class TrackerPublisher : public QDBusVirtualObject {
 public:
  TrackerPublisher(const QDBusConnection& bus, const QString& service, const QString& topic,
                   const QString& item, QObject* parent = nullptr);
  ~TrackerPublisher() override;
  TrackerPublisher(const TrackerPublisher&) = delete;
  TrackerPublisher& operator=(const TrackerPublisher&) = delete;

  // Puts the object on the bus, then takes the name. Returns why it could
  // not, or an empty string.
  QString Start(const QString& firstValue = {});
  // Drops the name and the object.
  void Stop();

  // Any thread may publish; read requests are answered in the object's thread.
  void Publish(const QString& value);
  // A new value announced only as invalidated: readers must read it back.
  void Invalidate(const QString& value);
  QString Value() const;

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  void Announce(const QString& value, bool asInvalidated);

  QDBusConnection bus_;
  QString busName_, path_, item_;
  mutable QMutex mutex_;
  QString value_;
  bool objectRegistered_ = false;
  bool nameOwned_ = false;
};

}  // namespace pasotune::feed
