// The tracker link over the D-Bus session bus. Service S, topic T and item I
// are the string property I of interface dde.Topic on object /T of the bus
// name dde.S, announced with org.freedesktop.DBus.Properties.PropertiesChanged.
// The tracker comes and goes with the owner of that name, which the bus
// itself announces (NameOwnerChanged): the link follows it without polling.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "platform/ports.hpp"
#include "platform/tracker_news.hpp"

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
  void OwnerChanged(const QString& oldOwner, const QString& newOwner);
  // The tracker is there: follow its item and read it, without blocking.
  void Link();
  void Unlink();
  void Changed(const QString& interface, const QVariantMap& changed,
               const QStringList& invalidated);
  void Reread();
  QDBusMessage ReadMessage() const;
  // Reads the item without blocking; done gets its text, or nothing when
  // the answer holds none, unless the link has changed meanwhile.
  void ReadLater(std::function<void(const std::optional<QString>&)> done);
  // News that arrives within one turn of the event loop is handed over
  // together, values as the newest: a burst of changes costs one update,
  // not thousands.
  void Post();
  void Flush();
  bool Subscribe(bool on);
  QString Cut(const QString& value) const;

  QDBusConnection bus_;
  std::unique_ptr<DBusTrackerLinkReceiver> receiver_;
  bool following_ = false;  // opened, not closed
  bool linked_ = false;     // and the tracker's item followed
  bool subscribed_ = false;
  TrackerNews news_;
  bool flushPosted_ = false;
  std::uint64_t generation_ = 0;  // of the link: a reply to an older one is dropped
  QString busName_, path_, item_;
  Update onUpdate_;
};

}  // namespace pasotune
