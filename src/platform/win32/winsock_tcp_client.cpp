#include "platform/win32/winsock_tcp_client.hpp"

#include <algorithm>

#include "platform/text.hpp"
#include "platform/win32/wide_text.hpp"

namespace pasotune {

namespace {

// The texts the Winsock-shaped core already knows from the simulation.
constexpr const char* kWrongState = "Estado de conexión incorrecto";

// Our own notes to ourselves: wParam is the connection's generation.
constexpr UINT kConnectFailed = WM_APP;  // lParam: the Winsock error
constexpr UINT kService = WM_APP + 1;
// Socket notifications: one message number per connection, out of this many.
constexpr UINT kFirstSocketMessage = WM_APP + 16;
constexpr UINT kSocketMessages = 0x3000;

struct WinsockError {
  int number;
  std::string description;
};

// The numbers and descriptions the Winsock control reports.
WinsockError ToWinsock(int error) {
  switch (error) {
    case WSAECONNREFUSED:
      return {10061, "Connection is forcefully rejected"};
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
      return {11001, "Authoritative answer: Host not found"};
    case WSAETIMEDOUT:
      return {10060, "Connection timed out"};
    default:
      return {10053, error == 0 ? std::string("Connection is aborted") : SystemErrorText(error)};
  }
}

struct AddressList {
  addrinfo* list = nullptr;
  ~AddressList() {
    if (list != nullptr) ::freeaddrinfo(list);
  }
};

}  // namespace

WinsockTcpClient::Winsock::Winsock() {
  WSADATA data;
  const int error = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (error != 0) throw PortError("Cannot start Winsock: " + SystemErrorText(error));
}

WinsockTcpClient::Winsock::~Winsock() {
  ::WSACleanup();
}

WinsockTcpClient::WinsockTcpClient()
    : window_([this](UINT message, WPARAM wParam, LPARAM lParam) {
        return OnMessage(message, wParam, lParam);
      }) {}

WinsockTcpClient::~WinsockTcpClient() {
  DropSocket();
}

UINT WinsockTcpClient::SocketMessage() const {
  return kFirstSocketMessage + generation_ % kSocketMessages;
}

void WinsockTcpClient::PostToSelf(UINT message, LPARAM lParam) {
  ::PostMessageW(window_.Handle(), message, generation_, lParam);
}

void WinsockTcpClient::DropSocket() {
  if (socket_ == INVALID_SOCKET) return;
  ::closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

void WinsockTcpClient::Connect(const std::string& host, int port) {
  if (state_ != sck::kClosed) throw PortError(kWrongState);
  if (port < 1 || port > 65535) throw PortError("Invalid port " + std::to_string(port));
  if (host.empty()) throw PortError("No host to connect to");
  ++generation_;
  inbox_.clear();
  unsent_.clear();
  announced_ = false;
  drained_ = false;
  readError_ = 0;
  state_ = sck::kConnecting;

  // From here on every failure is told by the error event, as Winsock does.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  const std::string service = std::to_string(port);
  AddressList found;
  int error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found.list);
  if (error != 0) {
    hints.ai_flags = AI_NUMERICSERV;
    error = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found.list);
  }
  if (error != 0 || found.list == nullptr) {
    PostToSelf(kConnectFailed, error != 0 ? error : WSAHOST_NOT_FOUND);
    return;
  }
  // The engine listens on IPv4: a name that has both tries that first.
  const addrinfo* address = found.list;
  for (const addrinfo* a = found.list; a != nullptr; a = a->ai_next) {
    if (a->ai_family == AF_INET) {
      address = a;
      break;
    }
  }

  socket_ = ::socket(address->ai_family, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) {
    PostToSelf(kConnectFailed, ::WSAGetLastError());
    return;
  }
  // Command lines are short and must not wait for more to come.
  const BOOL noDelay = TRUE;
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
               sizeof noDelay);
  // Non-blocking from here on; the outcome and the data come as messages.
  if (::WSAAsyncSelect(socket_, window_.Handle(), SocketMessage(),
                       FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0 ||
      (::connect(socket_, address->ai_addr, static_cast<int>(address->ai_addrlen)) != 0 &&
       ::WSAGetLastError() != WSAEWOULDBLOCK)) {
    PostToSelf(kConnectFailed, ::WSAGetLastError());
  }
}

void WinsockTcpClient::Close() {
  // The connection's message number goes with it: closing from this side
  // raises nothing, even for what was already queued.
  DropSocket();
  ++generation_;
  inbox_.clear();
  unsent_.clear();
  announced_ = false;
  drained_ = false;
  readError_ = 0;
  state_ = sck::kClosed;
}

bool WinsockTcpClient::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kConnectFailed || message == kService) {
    if (wParam != generation_) return true;  // for an earlier connection
    if (message == kConnectFailed) {
      Failed(static_cast<int>(lParam));
    } else {
      Service();
    }
    return true;
  }
  if (message < kFirstSocketMessage || message >= kFirstSocketMessage + kSocketMessages) {
    return false;
  }
  if (message != SocketMessage() || static_cast<SOCKET>(wParam) != socket_) return true;
  const int error = WSAGETSELECTERROR(lParam);
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_CONNECT:
      if (state_ != sck::kConnecting) break;
      if (error != 0) {
        Failed(error);
      } else {
        state_ = sck::kConnected;
        RaiseConnected();
      }
      break;
    case FD_READ:
      Service();
      break;
    case FD_WRITE:
      Flush();
      break;
    case FD_CLOSE: {
      // A graceful close or a reset: either way the peer is gone, once
      // whatever it said before has been read. After a reset nothing more
      // will come, even if the inbox was too full to read the end.
      const std::uint32_t generation = generation_;
      Service();
      if (generation == generation_ && !drained_ && readError_ == 0 && error != 0) {
        drained_ = true;
        Service();
      }
      break;
    }
    default:
      break;
  }
  return true;
}

void WinsockTcpClient::ReadMore() {
  if (socket_ == INVALID_SOCKET || drained_ || readError_ != 0) return;
  char buffer[16 * 1024];
  while (inbox_.size() < kMaxTake) {
    const int want = static_cast<int>(std::min(sizeof buffer, kMaxTake - inbox_.size()));
    const int n = ::recv(socket_, buffer, want, 0);
    if (n > 0) {
      inbox_.append(buffer, static_cast<std::size_t>(n));
      continue;
    }
    if (n == 0) {
      drained_ = true;
      return;
    }
    const int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return;
    if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN) {
      drained_ = true;
    } else {
      readError_ = error;
    }
    return;
  }
  // Full: the rest stays in the kernel until GetData makes room.
}

void WinsockTcpClient::Service() {
  if (state_ != sck::kConnected && state_ != sck::kClosing) return;
  ReadMore();
  const std::uint32_t generation = generation_;
  if (!inbox_.empty() && !announced_) {
    announced_ = true;
    RaiseDataArrival(static_cast<long>(inbox_.size()));
    if (generation != generation_) return;  // closed by the handler
  }
  if (readError_ != 0) {
    Failed(readError_);
    return;
  }
  if (drained_ && state_ == sck::kConnected && (inbox_.empty() || announced_)) {
    state_ = sck::kClosing;
    RaiseClosed();
  }
}

void WinsockTcpClient::Flush() {
  while (!unsent_.empty() && socket_ != INVALID_SOCKET) {
    const int chunk = static_cast<int>(std::min<std::size_t>(unsent_.size(), 1 << 20));
    const int n = ::send(socket_, unsent_.data(), chunk, 0);
    if (n > 0) {
      unsent_.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    // Would block: FD_WRITE comes when there is room. Anything else: the
    // connection is going, and its close or error is told by the socket.
    if (::WSAGetLastError() != WSAEWOULDBLOCK) unsent_.clear();
    return;
  }
}

void WinsockTcpClient::Failed(int wsaError) {
  if (state_ != sck::kConnecting && state_ != sck::kConnected) return;
  state_ = sck::kError;
  const WinsockError e = ToWinsock(wsaError);
  RaiseError(e.number, e.description);
}

void WinsockTcpClient::SendData(std::string_view text) {
  if (state_ != sck::kConnected) throw PortError(kWrongState);
  const std::string bytes = Utf8ToCp1252(text);
  if (bytes.empty()) return;
  if (unsent_.size() + bytes.size() > kMaxUnsent) {
    throw PortError("The engine is not taking what is sent");
  }
  const bool idle = unsent_.empty();
  unsent_ += bytes;
  if (!idle) return;  // FD_WRITE sends it after what waits already
  const int n = ::send(socket_, unsent_.data(), static_cast<int>(unsent_.size()), 0);
  if (n > 0) {
    unsent_.erase(0, static_cast<std::size_t>(n));
    return;
  }
  const int error = ::WSAGetLastError();
  if (error == WSAEWOULDBLOCK) return;
  unsent_.clear();
  throw PortError(SystemErrorText(error));
}

std::string WinsockTcpClient::GetData() {
  if (state_ != sck::kConnected && state_ != sck::kClosing) throw PortError(kWrongState);
  // What reached the kernel by now counts as waiting too.
  ReadMore();
  std::string taken;
  taken.swap(inbox_);
  announced_ = false;
  // More may wait in the kernel, or the peer's close may be due: the pump
  // sees to both.
  if (state_ == sck::kConnected) PostToSelf(kService, 0);
  return Cp1252ToUtf8(taken);
}

}  // namespace pasotune
