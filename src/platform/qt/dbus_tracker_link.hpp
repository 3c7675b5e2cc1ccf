// The tracker link over the D-Bus session bus. Service S, topic T and item I
// are the string property I of interface dde.Topic on object /T of the bus
// name dde.S, announced with org.freedesktop.DBus.Properties.PropertiesChanged.
#pragma once

#include <QDBusConnection>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

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
  // A value longer than this (in UTF-16 units) is cut to it before anything
  // else is done with it. No record comes near it, and the core refuses
  // records far shorter than this and says so, so what it gets still fails
  // that test, while a 10 MB value costs no more than D-Bus already paid.
  static constexpr qsizetype kMaxValueChars = 64 * 1024;

 private:
  friend class DBusTrackerLinkReceiver;
  void Changed(const QString& interface, const QVariantMap& changed,
               const QStringList& invalidated);
  void Reread();
  // Values that arrive within one turn of the event loop are handed over
  // as one, the newest: a burst of changes costs one update, not thousands.
  void Offer(const QString& value);
  void Flush();
  bool Subscribe(bool on);

  QDBusConnection bus_;
  std::unique_ptr<DBusTrackerLinkReceiver> receiver_;
  bool open_ = false;
  std::optional<QString> pending_;  // the newest value not yet handed over
  bool flushPosted_ = false;
  std::uint64_t generation_ = 0;
  QString busName_, path_, item_;
  Update onUpdate_;
};

}  // namespace pasotune
