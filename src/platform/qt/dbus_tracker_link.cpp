#include "platform/qt/dbus_tracker_link.hpp"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
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
  explicit DBusTrackerLinkReceiver(DBusTrackerLink& link) : link_(link) {}

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
};

DBusTrackerLink::DBusTrackerLink() : DBusTrackerLink(QDBusConnection::sessionBus()) {}

DBusTrackerLink::DBusTrackerLink(const QDBusConnection& bus)
    : bus_(bus), receiver_(std::make_unique<DBusTrackerLinkReceiver>(*this)) {}

DBusTrackerLink::~DBusTrackerLink() {
  Close();
}

bool DBusTrackerLink::Subscribe(bool on) {
  const QString properties = Q(dde::kPropertiesInterface);
  const QString member = Q(dde::kPropertiesChanged);
  const QStringList match{Q(dde::kInterface)};
  const char* slot = SLOT(Changed(QString, QVariantMap, QStringList));
  return on ? bus_.connect(busName_, path_, properties, member, match, QString(), receiver_.get(),
                           slot)
            : bus_.disconnect(busName_, path_, properties, member, match, QString(),
                              receiver_.get(), slot);
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
  const QDBusReply<bool> owned = bus_.interface()->isServiceRegistered(busName_);
  if (!owned.isValid())
    throw PortError("Cannot ask the session bus: " + owned.error().message().toStdString());
  if (!owned.value())
    throw PortError("No tracker is running: " + busName + " has no owner on the session bus");

  // Listen before reading, so no change can fall between the two.
  if (!Subscribe(true)) {
    throw PortError("Cannot follow " + what + ": " + bus_.lastError().message().toStdString());
  }
  QDBusMessage get = QDBusMessage::createMethodCall(busName_, path_, Q(dde::kPropertiesInterface),
                                                    QStringLiteral("Get"));
  get << Q(dde::kInterface) << item_;
  const QDBusMessage reply = bus_.call(get, QDBus::Block, kReadTimeoutMs);
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

  open_ = true;
  onUpdate_ = std::move(onUpdate);
  ++generation_;
  // Delivered from the event loop like every later value; a change that
  // arrives before then supersedes it.
  Offer(reply.arguments().value(0).value<QDBusVariant>().variant().toString());
}

void DBusTrackerLink::Close() {
  if (!open_) return;
  open_ = false;
  ++generation_;
  onUpdate_ = nullptr;
  pending_.reset();
  flushPosted_ = false;
  Subscribe(false);
  // Whatever QtDBus had already queued for the old link goes too, and the
  // pending hand-over with it.
  QCoreApplication::removePostedEvents(receiver_.get());
}

void DBusTrackerLink::Changed(const QString& interface, const QVariantMap& changed,
                              const QStringList& invalidated) {
  if (!open_ || interface != Q(dde::kInterface)) return;
  if (const auto it = changed.constFind(item_); it != changed.constEnd()) {
    if (it->metaType().id() != QMetaType::QString) return;
    Offer(it->toString());
  } else if (invalidated.contains(item_)) {
    Reread();
  }
}

void DBusTrackerLink::Reread() {
  QDBusMessage get = QDBusMessage::createMethodCall(busName_, path_, Q(dde::kPropertiesInterface),
                                                    QStringLiteral("Get"));
  get << Q(dde::kInterface) << item_;
  // Asynchronous: the answer queues behind the signals before it and ahead
  // of those after it, so order holds without blocking the window.
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(get, kReadTimeoutMs), receiver_.get());
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, receiver_.get(),
                   [this, generation = generation_](QDBusPendingCallWatcher* w) {
                     w->deleteLater();
                     const QDBusPendingReply<QDBusVariant> reply = *w;
                     if (generation != generation_ || !open_ || reply.isError()) return;
                     const QVariant value = reply.value().variant();
                     if (value.metaType().id() != QMetaType::QString) return;
                     Offer(value.toString());
                   });
}

void DBusTrackerLink::Offer(const QString& value) {
  pending_ = value.size() > kMaxValueChars ? value.left(kMaxValueChars) : value;
  if (flushPosted_) return;
  flushPosted_ = true;
  // Low priority: it waits behind every signal QtDBus queues meanwhile, so
  // the whole of a burst lands in pending_ before it is handed over.
  QCoreApplication::postEvent(receiver_.get(), new QEvent(FlushEvent()), Qt::LowEventPriority);
}

void DBusTrackerLink::Flush() {
  flushPosted_ = false;
  if (!open_ || !pending_) return;
  const std::string text = pending_->toStdString();
  pending_.reset();
  // A copy: the handler may close or reopen the link, replacing onUpdate_.
  // It may also run the event loop, and a newer value then comes through
  // from inside it.
  const Update update = onUpdate_;
  if (update) update(text);
}

}  // namespace pasotune

#include "dbus_tracker_link.moc"
