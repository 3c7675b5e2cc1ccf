#include "platform/win32/winsock_tcp_client.hpp"

#include <algorithm>
#include <vector>

#include "platform/text.hpp"
#include "platform/win32/process_user.hpp"
#include "platform/win32/wide_text.hpp"

// After windows.h, which they need.
#include <iphlpapi.h>

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

std::string AccountName(std::vector<BYTE>& sid) {
  wchar_t name[256], domain[256];
  DWORD nameSize = 256, domainSize = 256;
  SID_NAME_USE use;
  if (!::LookupAccountSidW(nullptr, sid.data(), name, &nameSize, domain, &domainSize, &use)) {
    return "";
  }
  return WideToUtf8(std::wstring(domain) + L"\\" + name);
}

// Why the peer of a fresh connection is not to be trusted: a program of
// another user holds the address and port, where our own engine was meant
// to listen. Empty for a program of our own user, or one the system's
// table does not show (a peer on another machine).
std::string ForeignHolder(SOCKET s) {
  const std::optional<DWORD> pid = WinsockTcpClient::ServerProcess(s);
  if (!pid || *pid == 0 || *pid == ::GetCurrentProcessId()) return "";
  std::string who = "pid " + std::to_string(*pid);
  HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid);
  if (process == nullptr) {
    // A process we may not even ask is not ours; one that has gone took
    // its socket with it.
    if (::GetLastError() != ERROR_ACCESS_DENIED) return "";
  } else {
    auto theirs = ProcessUser(process);
    ::CloseHandle(process);
    auto ours = ProcessUser(::GetCurrentProcess());
    if (!theirs || !ours) return "";
    if (::EqualSid(theirs->data(), ours->data())) return "";
    if (const std::string name = AccountName(*theirs); !name.empty()) who += ", " + name;
  }
  sockaddr_in peer{};
  int length = sizeof peer;
  ::getpeername(s, reinterpret_cast<sockaddr*>(&peer), &length);
  char address[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &peer.sin_addr, address, sizeof address);
  return std::string(address) + ":" + std::to_string(ntohs(peer.sin_port)) +
         " lo ocupa un programa de otro usuario (" + who + "), no el motor";
}

struct AddressList {
  addrinfo* list = nullptr;
  ~AddressList() {
    if (list != nullptr) ::freeaddrinfo(list);
  }
};

}  // namespace

std::optional<DWORD> WinsockTcpClient::ServerProcess(SOCKET connected) {
  sockaddr_in local{}, peer{};
  int length = sizeof local;
  if (::getsockname(connected, reinterpret_cast<sockaddr*>(&local), &length) != 0 ||
      local.sin_family != AF_INET) {
    return std::nullopt;
  }
  length = sizeof peer;
  if (::getpeername(connected, reinterpret_cast<sockaddr*>(&peer), &length) != 0 ||
      peer.sin_family != AF_INET) {
    return std::nullopt;
  }
  std::vector<BYTE> buffer;
  DWORD size = 0;
  DWORD result = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < 5 && result == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    buffer.resize(size);
    result = ::GetExtendedTcpTable(buffer.empty() ? nullptr : buffer.data(), &size, FALSE, AF_INET,
                                   TCP_TABLE_OWNER_PID_ALL, 0);
  }
  if (result != NO_ERROR) return std::nullopt;
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
  std::optional<DWORD> accepted, listening;
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    // Addresses and ports in network order, as in the socket's own.
    const bool atPeer = static_cast<u_short>(row.dwLocalPort) == peer.sin_port;
    if (row.dwState == MIB_TCP_STATE_LISTEN) {
      if (!listening && atPeer &&
          (row.dwLocalAddr == 0 || row.dwLocalAddr == peer.sin_addr.s_addr)) {
        listening = row.dwOwningPid;
      }
    } else if (!accepted && atPeer && row.dwLocalAddr == peer.sin_addr.s_addr &&
               row.dwRemoteAddr == local.sin_addr.s_addr &&
               static_cast<u_short>(row.dwRemotePort) == local.sin_port) {
      accepted = row.dwOwningPid;
    }
  }
  return accepted ? accepted : listening;
}

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
      } else if (const std::string holder = ForeignHolder(socket_); !holder.empty()) {
        // Nothing is said to a port another user holds: it fails as a
        // refused attempt would, saying who holds it.
        DropSocket();
        state_ = sck::kError;
        RaiseError(sck::kForeignHolder, holder);
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
