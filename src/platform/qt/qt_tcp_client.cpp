#include "platform/qt/qt_tcp_client.hpp"

#include <QNetworkProxy>
#include <QObject>
#include <QSignalBlocker>
#include <QTcpSocket>

#include <unistd.h>

#include "platform/posix/tcp_owner.hpp"
#include "platform/text.hpp"

namespace pasotune {

namespace {

// The texts the Winsock-shaped core already knows from the simulation.
constexpr const char* kWrongState = "Estado de conexión incorrecto";

struct WinsockError {
  int number;
  std::string description;
};

WinsockError ToWinsock(QAbstractSocket::SocketError error, const QString& qtText) {
  switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
      return {10061, "Connection is forcefully rejected"};
    case QAbstractSocket::HostNotFoundError:
      return {11001, "Authoritative answer: Host not found"};
    case QAbstractSocket::SocketTimeoutError:
      return {10060, "Connection timed out"};
    default:
      return {10053,
              qtText.isEmpty() ? std::string("Connection is aborted") : qtText.toStdString()};
  }
}

// Why the peer of a fresh connection is not to be trusted: a program of
// another user holds the address and port, where our own engine was meant
// to listen. Empty for a peer of our own user, or one the system's tables
// do not show (a peer on another machine).
std::string ForeignHolder(const QTcpSocket& socket) {
  bool localOk = false, peerOk = false;
  TcpEnds ends;
  ends.localIp = socket.localAddress().toIPv4Address(&localOk);
  ends.peerIp = socket.peerAddress().toIPv4Address(&peerOk);
  ends.localPort = socket.localPort();
  ends.peerPort = socket.peerPort();
  if (!localOk || !peerOk) return "";
  const std::optional<uid_t> owner = ServerOwner(ends);
  if (!owner || *owner == ::geteuid()) return "";
  return socket.peerAddress().toString().toStdString() + ":" + std::to_string(ends.peerPort) +
         " lo ocupa un programa de otro usuario (" + UserText(*owner) + "), no el motor";
}

}  // namespace

QtTcpClient::QtTcpClient()
    : context_(std::make_unique<QObject>()), socket_(std::make_unique<QTcpSocket>()) {
  // The engine is local; a proxy from the environment must not get between.
  socket_->setProxy(QNetworkProxy::NoProxy);
  // What is not taken stays in the kernel, and holds the engine back.
  socket_->setReadBufferSize(static_cast<qint64>(kMaxTake));
  WireSocket();
}

QtTcpClient::~QtTcpClient() {
  const QSignalBlocker block(socket_.get());
  socket_->abort();
}

void QtTcpClient::WireSocket() {
  // Qt may signal from inside connectToHost or write; these handlers only
  // note what happened and queue the event, so no handler of the core ever
  // runs inside one of our calls.
  QObject::connect(socket_.get(), &QTcpSocket::connected, context_.get(), [this] {
    // Nothing is said to a port another user holds: it fails as a refused
    // attempt would, saying who holds it.
    if (const std::string holder = ForeignHolder(*socket_); !holder.empty()) {
      {
        const QSignalBlocker block(socket_.get());
        socket_->abort();
      }
      ended_ = true;
      Post([this, holder] {
        if (state_ != sck::kConnecting) return;
        state_ = sck::kError;
        RaiseError(sck::kForeignHolder, holder);
      });
      return;
    }
    socket_->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Post([this] {
      if (state_ != sck::kConnecting) return;
      state_ = sck::kConnected;
      RaiseConnected();
    });
  });
  QObject::connect(socket_.get(), &QTcpSocket::readyRead, context_.get(), [this] { Announce(); });
  QObject::connect(socket_.get(), &QTcpSocket::errorOccurred, context_.get(),
                   [this](QAbstractSocket::SocketError error) {
                     if (error == QAbstractSocket::RemoteHostClosedError) {
                       PeerClosed();
                     } else {
                       Failed(error);
                     }
                   });
  QObject::connect(socket_.get(), &QTcpSocket::disconnected, context_.get(),
                   [this] { PeerClosed(); });
}

void QtTcpClient::Post(std::function<void()> fn) {
  QMetaObject::invokeMethod(
      context_.get(),
      [this, generation = generation_, fn = std::move(fn)] {
        if (generation == generation_) fn();
      },
      Qt::QueuedConnection);
}

void QtTcpClient::Announce() {
  // One event until the data is taken, like a socket's read readiness.
  if (announced_) return;
  announced_ = true;
  Post([this] {
    const qint64 waiting = socket_->bytesAvailable();
    if (waiting <= 0 || (state_ != sck::kConnected && state_ != sck::kClosing)) return;
    RaiseDataArrival(static_cast<long>(waiting));
  });
}

void QtTcpClient::PeerClosed() {
  if (ended_) return;
  ended_ = true;
  Post([this] {
    if (state_ != sck::kConnected) return;
    state_ = sck::kClosing;
    RaiseClosed();
  });
}

void QtTcpClient::Failed(int error) {
  if (ended_) return;
  ended_ = true;
  const WinsockError e =
      ToWinsock(static_cast<QAbstractSocket::SocketError>(error), socket_->errorString());
  Post([this, e] {
    if (state_ != sck::kConnecting && state_ != sck::kConnected) return;
    state_ = sck::kError;
    RaiseError(e.number, e.description);
  });
}

void QtTcpClient::Connect(const std::string& host, int port) {
  if (state_ != sck::kClosed) throw PortError(kWrongState);
  if (port < 1 || port > 65535) throw PortError("Invalid port " + std::to_string(port));
  if (host.empty()) throw PortError("No host to connect to");
  ++generation_;
  ended_ = false;
  announced_ = false;
  state_ = sck::kConnecting;
  socket_->connectToHost(QString::fromStdString(host), static_cast<quint16>(port));
}

void QtTcpClient::Close() {
  {
    // Closing from this side raises nothing.
    const QSignalBlocker block(socket_.get());
    socket_->abort();
  }
  ++generation_;
  ended_ = false;
  announced_ = false;
  state_ = sck::kClosed;
}

void QtTcpClient::SendData(std::string_view text) {
  if (state_ != sck::kConnected) throw PortError(kWrongState);
  const std::string bytes = Utf8ToCp1252(text);
  if (bytes.empty()) return;
  // One write for the whole line, then out of the buffer at once rather
  // than on the next turn of the event loop.
  const qint64 written = socket_->write(bytes.data(), static_cast<qint64>(bytes.size()));
  if (written != static_cast<qint64>(bytes.size()))
    throw PortError(socket_->errorString().toStdString());
  socket_->flush();
  if (socket_->state() != QAbstractSocket::ConnectedState) {
    throw PortError(socket_->errorString().toStdString());
  }
}

std::string QtTcpClient::GetData() {
  if (state_ != sck::kConnected && state_ != sck::kClosing) throw PortError(kWrongState);
  announced_ = false;
  const QByteArray bytes = socket_->read(static_cast<qint64>(kMaxTake));
  // The rest, already here or still in the kernel, comes with the next event.
  if (socket_->bytesAvailable() > 0) Announce();
  return Cp1252ToUtf8(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

}  // namespace pasotune
