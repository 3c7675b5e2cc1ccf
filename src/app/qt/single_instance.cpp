#include "app/qt/single_instance.hpp"

#include <unistd.h>

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QThread>
#include <cstdio>

namespace pasotune {

namespace {

QString SessionKey() {
  // The session bus is the desktop session's own; without one, the display.
  QByteArray session = qgetenv("DBUS_SESSION_BUS_ADDRESS");
  if (session.isEmpty()) session = qgetenv("WAYLAND_DISPLAY") + '|' + qgetenv("DISPLAY");
  return QString::number(::getuid()) + QLatin1Char('-') +
         QString::fromLatin1(
             QCryptographicHash::hash(session, QCryptographicHash::Sha256).toHex().left(16));
}

// The user's own runtime folder where there is one; others cannot plant
// files there.
QString Folder() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  return !runtime.isEmpty() && QDir(runtime).exists() ? runtime : QDir::tempPath();
}

}  // namespace

SingleInstance::SingleInstance(const QString& key)
    : socket_(Folder() + QStringLiteral("/pasotune-") + (key.isEmpty() ? SessionKey() : key)),
      lock_(socket_ + QStringLiteral(".lock")) {
  // Only a live holder counts, however old its lock.
  lock_.setStaleLockTime(0);
}

bool SingleInstance::First() {
  if (lock_.tryLock(0)) {
    // Ours now: a socket left by one that crashed is stale.
    QLocalServer::removeServer(socket_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
      while (QLocalSocket* other = server_.nextPendingConnection()) {
        other->disconnectFromServer();
        other->deleteLater();
        if (raise) raise();
      }
    });
    if (!server_.listen(socket_)) {
      std::fprintf(stderr, "pasotune: cannot listen on %s: %s\n", qPrintable(socket_),
                   qPrintable(server_.errorString()));
    }
    return true;
  }
  // Another holds the lock; it may still be starting.
  const QDeadlineTimer deadline(3000);
  while (!deadline.hasExpired()) {
    QLocalSocket first;
    first.connectToServer(socket_);
    if (first.waitForConnected(500)) {
      first.disconnectFromServer();
      return false;
    }
    QThread::msleep(100);
  }
  std::fprintf(stderr, "pasotune: another Pasotune holds %s but does not answer\n",
               qPrintable(lock_.fileName()));
  return true;
}

}  // namespace pasotune
