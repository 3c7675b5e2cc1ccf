#include "platform/qt/dbus_tracker_link.hpp"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QEvent>
#include <QObject>

#include "platform/qt/dde_mapping.hpp"

namespace pasotune {

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QEvent::Type FlushEvent() {
  static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
  return type;
}

}  // namespace

// QtDBus delivers signals to slots only, so a small QObject stands in. It
// lives as long as the link: its posted events are what Close discards.
class DBusTrackerLinkReceiver : public QObject {
  Q_OBJECT
 public:
  DBusTrackerLinkReceiver(DBusTrackerLink& link, const QDBusConnection& bus)
      : link_(link),
        watcher_(new QDBusServiceWatcher(QString(), bus, QDBusServiceWatcher::WatchForOwnerChange,
                                         this)) {
    connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString& oldOwner, const QString& newOwner) {
              link_.OwnerChanged(oldOwner, newOwner);
            });
  }
  QDBusServiceWatcher& Watcher() { return *watcher_; }

 public Q_SLOTS:
  void Changed(const QString& interface, const QVariantMap& changed,
               const QStringList& invalidated) {
    link_.Changed(interface, changed, invalidated);
  }

 protected:
  bool event(QEvent* e) override {
    if (e->type() != FlushEvent()) return QObject::event(e);
    link_.Flush();
    return true;
  }

 private:
  DBusTrackerLink& link_;
  QDBusServiceWatcher* watcher_;
};

DBusTrackerLink::DBusTrackerLink() : DBusTrackerLink(QDBusConnection::sessionBus()) {}

DBusTrackerLink::DBusTrackerLink(const QDBusConnection& bus)
    : bus_(bus), receiver_(std::make_unique<DBusTrackerLinkReceiver>(*this, bus_)) {}

DBusTrackerLink::~DBusTrackerLink() {
  Close();
}

bool DBusTrackerLink::Subscribe(bool on) {
  if (subscribed_ == on) return true;
  const QString properties = Q(dde::kPropertiesInterface);
  const QString member = Q(dde::kPropertiesChanged);
  const QStringList match{Q(dde::kInterface)};
  const char* slot = SLOT(Changed(QString, QVariantMap, QStringList));
  const bool done = on ? bus_.connect(busName_, path_, properties, member, match, QString(),
                                      receiver_.get(), slot)
                       : bus_.disconnect(busName_, path_, properties, member, match, QString(),
                                         receiver_.get(), slot);
  if (done) subscribed_ = on;
  return done;
}

QString DBusTrackerLink::Cut(const QString& value) const {
  return value.size() > kMaxValueChars ? value.left(kMaxValueChars) : value;
}

void DBusTrackerLink::Open(const std::string& service, const std::string& topic,
                           const std::string& item, Update onUpdate) {
  Close();
  const std::string busName = dde::BusName(service);
  const std::string path = dde::ObjectPath(topic);
  const std::string what = busName + " " + path + " " + item;
  if (!dde::IsValidBusName(busName) || !dde::IsValidObjectPath(path) ||
      !dde::IsValidMemberName(item)) {
    throw PortError("Not a valid tracker link: " + what);
  }
  if (!bus_.isConnected()) {
    throw PortError("No session bus to find the tracker on: " +
                    bus_.lastError().message().toStdString());
  }
  busName_ = Q(busName);
  path_ = Q(path);
  item_ = Q(item);
  onUpdate_ = std::move(onUpdate);
  following_ = true;
  ++generation_;
  // Watched before asking, so a tracker that comes meanwhile is not missed.
  receiver_->Watcher().setWatchedServices({busName_});
  const QDBusReply<bool> owned = bus_.interface()->isServiceRegistered(busName_);
  if (!owned.isValid())
    throw PortError("Cannot ask the session bus: " + owned.error().message().toStdString());
  if (!owned.value())
    throw PortError("No tracker is running: " + busName + " has no owner on the session bus");

  // Listen before reading, so no change can fall between the two.
  if (!Subscribe(true)) {
    throw PortError("Cannot follow " + what + ": " + bus_.lastError().message().toStdString());
  }
  const QDBusMessage reply = bus_.call(ReadMessage(), QDBus::Block, kReadTimeoutMs);
  std::string failure;
  if (reply.type() != QDBusMessage::ReplyMessage) {
    failure = "Cannot read " + what + ": " + reply.errorMessage().toStdString();
  } else if (const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
             value.metaType().id() != QMetaType::QString) {
    failure = "Not a text: " + what;
  }
  if (!failure.empty()) {
    Subscribe(false);
    throw PortError(failure);
  }

  linked_ = true;
  // Delivered from the event loop like every later value; a change that
  // arrives before then supersedes it.
  news_.Value(
      Cut(reply.arguments().value(0).value<QDBusVariant>().variant().toString()).toStdString());
  Post();
}

void DBusTrackerLink::Close() {
  if (!following_) return;
  following_ = false;
  linked_ = false;
  ++generation_;
  onUpdate_ = nullptr;
  news_.Clear();
  flushPosted_ = false;
  receiver_->Watcher().setWatchedServices({});
  Subscribe(false);
  // Whatever QtDBus had already queued for the old link goes too, and the
  // pending hand-over with it.
  QCoreApplication::removePostedEvents(receiver_.get());
}

void DBusTrackerLink::OwnerChanged(const QString& oldOwner, const QString& newOwner) {
  if (!following_) return;
  // An owner that left, or was replaced by another, took its item with it.
  if (linked_ && !oldOwner.isEmpty()) Unlink();
  if (!linked_ && !newOwner.isEmpty()) Link();
}

void DBusTrackerLink::Unlink() {
  linked_ = false;
  ++generation_;
  Subscribe(false);
  news_.Gone();
  Post();
}

void DBusTrackerLink::Link() {
  ++generation_;  // an earlier attempt still waiting for its answer is void
  if (!Subscribe(true)) return;
  ReadLater([this](const std::optional<QString>& value) {
    if (linked_) return;
    if (!value) {
      // Not the item we know: wait for the next owner.
      Subscribe(false);
      return;
    }
    linked_ = true;
    news_.Linked();
    news_.Value(Cut(*value).toStdString());
    Post();
  });
}

QDBusMessage DBusTrackerLink::ReadMessage() const {
  QDBusMessage get = QDBusMessage::createMethodCall(busName_, path_, Q(dde::kPropertiesInterface),
                                                    QStringLiteral("Get"));
  get << Q(dde::kInterface) << item_;
  return get;
}

void DBusTrackerLink::ReadLater(std::function<void(const std::optional<QString>&)> done) {
  // Asynchronous: the answer queues behind the signals before it and ahead
  // of those after it, so order holds without blocking the window.
  auto* watcher =
      new QDBusPendingCallWatcher(bus_.asyncCall(ReadMessage(), kReadTimeoutMs), receiver_.get());
  QObject::connect(
      watcher, &QDBusPendingCallWatcher::finished, receiver_.get(),
      [this, generation = generation_, done = std::move(done)](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (generation != generation_ || !following_) return;
        const QDBusPendingReply<QDBusVariant> reply = *w;
        const QVariant value = reply.isError() ? QVariant() : reply.value().variant();
        if (value.metaType().id() != QMetaType::QString) {
          done(std::nullopt);
        } else {
          done(value.toString());
        }
      });
}

void DBusTrackerLink::Changed(const QString& interface, const QVariantMap& changed,
                              const QStringList& invalidated) {
  if (!linked_ || interface != Q(dde::kInterface)) return;
  if (const auto it = changed.constFind(item_); it != changed.constEnd()) {
    if (it->metaType().id() != QMetaType::QString) return;
    news_.Value(Cut(it->toString()).toStdString());
    Post();
  } else if (invalidated.contains(item_)) {
    Reread();
  }
}

void DBusTrackerLink::Reread() {
  ReadLater([this](const std::optional<QString>& value) {
    if (!linked_ || !value) return;
    news_.Value(Cut(*value).toStdString());
    Post();
  });
}

void DBusTrackerLink::Post() {
  if (flushPosted_) return;
  flushPosted_ = true;
  // Low priority: it waits behind every signal QtDBus queues meanwhile, so
  // the whole of a burst lands in news_ before it is handed over.
  QCoreApplication::postEvent(receiver_.get(), new QEvent(FlushEvent()), Qt::LowEventPriority);
}

void DBusTrackerLink::Flush() {
  flushPosted_ = false;
  if (!following_) return;
  news_.HandOver(onUpdate_, [this](bool linked) { RaisePresence(linked); });
}

}  // namespace pasotune

#include "dbus_tracker_link.moc"
