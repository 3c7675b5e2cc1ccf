#include "tracker_publisher.hpp"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QMutexLocker>
#include <QVariantMap>

#include "platform/qt/dde_mapping.hpp"

namespace pasotune::feed {

namespace {

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

TrackerPublisher::TrackerPublisher(const QDBusConnection& bus, const QString& service,
                                   const QString& topic, const QString& item, QObject* parent)
    : QDBusVirtualObject(parent),
      bus_(bus),
      busName_(QString::fromStdString(dde::BusName(service.toStdString()))),
      path_(QString::fromStdString(dde::ObjectPath(topic.toStdString()))),
      item_(item) {}

TrackerPublisher::~TrackerPublisher() {
  Stop();
}

QString TrackerPublisher::Start(const QString& firstValue) {
  if (!dde::IsValidBusName(busName_.toStdString()))
    return "no es un nombre de bus válido: " + busName_;
  if (!dde::IsValidObjectPath(path_.toStdString()))
    return "no es una ruta de objeto válida: " + path_;
  if (!dde::IsValidMemberName(item_.toStdString()))
    return "no es un nombre de propiedad válido: " + item_;
  if (!bus_.isConnected()) return "no hay bus de sesión: " + bus_.lastError().message();
  {
    const QMutexLocker lock(&mutex_);
    value_ = firstValue;
  }
  if (!bus_.registerVirtualObject(path_, this, QDBusConnection::SingleNode)) {
    return "no se puede publicar el objeto " + path_ + ": " + bus_.lastError().message();
  }
  objectRegistered_ = true;
  const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
      bus_.interface()->registerService(busName_, QDBusConnectionInterface::DontQueueService,
                                        QDBusConnectionInterface::DontAllowReplacement);
  if (!reply.isValid()) {
    Stop();
    return "no se puede tomar el nombre " + busName_ + ": " + reply.error().message();
  }
  if (reply.value() != QDBusConnectionInterface::ServiceRegistered) {
    Stop();
    return busName_ + " ya tiene dueño en el bus de sesión: otro programa publica el seguimiento";
  }
  nameOwned_ = true;
  return {};
}

void TrackerPublisher::Stop() {
  if (nameOwned_) bus_.unregisterService(busName_);
  if (objectRegistered_) bus_.unregisterObject(path_);
  nameOwned_ = objectRegistered_ = false;
}

void TrackerPublisher::Publish(const QString& value) {
  Announce(value, false);
}

void TrackerPublisher::Invalidate(const QString& value) {
  Announce(value, true);
}

QString TrackerPublisher::Value() const {
  const QMutexLocker lock(&mutex_);
  return value_;
}

void TrackerPublisher::Announce(const QString& value, bool asInvalidated) {
  {
    const QMutexLocker lock(&mutex_);
    value_ = value;
  }
  QDBusMessage signal =
      QDBusMessage::createSignal(path_, Q(dde::kPropertiesInterface), Q(dde::kPropertiesChanged));
  QVariantMap changed;
  QStringList invalidated;
  if (asInvalidated) {
    invalidated << item_;
  } else {
    changed.insert(item_, value);
  }
  signal << Q(dde::kInterface) << changed << invalidated;
  bus_.send(signal);
}

QString TrackerPublisher::introspect(const QString&) const {
  return QStringLiteral(
             "  <interface name=\"%1\">\n"
             "    <property name=\"%2\" type=\"s\" access=\"read\">\n"
             "      <annotation name=\"org.freedesktop.DBus.Property.EmitsChangedSignal\" "
             "value=\"true\"/>\n"
             "    </property>\n"
             "  </interface>\n")
      .arg(Q(dde::kInterface), item_);
}

bool TrackerPublisher::handleMessage(const QDBusMessage& message,
                                     const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage ||
      message.interface() != Q(dde::kPropertiesInterface)) {
    return false;  // Qt answers Introspect and the errors
  }
  const QVariantList args = message.arguments();
  const QString member = message.member();
  const QString ours = Q(dde::kInterface);
  QDBusMessage reply;
  if (member == QLatin1String("Get") && message.signature() == QLatin1String("ss")) {
    if (args.at(0).toString() != ours || args.at(1).toString() != item_) {
      reply = message.createErrorReply(
          QStringLiteral("org.freedesktop.DBus.Error.UnknownProperty"),
          "No property " + args.at(1).toString() + " in " + args.at(0).toString());
    } else {
      reply = message.createReply(QVariant::fromValue(QDBusVariant(Value())));
    }
  } else if (member == QLatin1String("GetAll") && message.signature() == QLatin1String("s")) {
    QVariantMap all;
    if (args.at(0).toString() == ours) all.insert(item_, Value());
    reply = message.createReply(all);
  } else if (member == QLatin1String("Set") && message.signature() == QLatin1String("ssv")) {
    reply = message.createErrorReply(QStringLiteral("org.freedesktop.DBus.Error.PropertyReadOnly"),
                                     item_ + " is read-only");
  } else {
    return false;
  }
  connection.send(reply);
  return true;
}

}  // namespace pasotune::feed
