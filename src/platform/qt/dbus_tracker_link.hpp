// The tracker link over the D-Bus session bus. Service S, topic T and item I
// are the string property I of interface dde.Topic on object /T of the bus
// name dde.S, announced with org.freedesktop.DBus.Properties.PropertiesChanged.
#pragma once

#include <QDBusConnection>
#include <cstdint>
#include <memory>

#include "platform/ports.hpp"

namespace pasotune {

class DBusTrackerLinkReceiver;

class DBusTrackerLink : public TrackerLink {
 public:
  DBusTrackerLink();  // the session bus
  explicit DBusTrackerLink(const QDBusConnection& bus);
  ~DBusTrackerLink() override;
  DBusTrackerLink(const DBusTrackerLink&) = delete;
  DBusTrackerLink& operator=(const DBusTrackerLink&) = delete;

  void Open(const std::string& service, const std::string& topic, const std::string& item,
            Update onUpdate) override;
  void Close() override;

  // How long Open waits for the tracker to answer the first read.
  static constexpr int kReadTimeoutMs = 2000;

 private:
  friend class DBusTrackerLinkReceiver;
  void Changed(const QString& interface, const QVariantMap& changed,
               const QStringList& invalidated);
  void Reread();
  void Deliver(const QString& value);
  bool Subscribe(bool on);

  QDBusConnection bus_;
  std::unique_ptr<DBusTrackerLinkReceiver> receiver_;
  bool open_ = false;
  bool changeSeen_ = false;  // a change arrived before the first value did
  std::uint64_t generation_ = 0;
  QString busName_, path_, item_;
  Update onUpdate_;
};

}  // namespace pasotune
