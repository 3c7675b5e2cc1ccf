#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come first.
#include <windows.h>

#include <mutex>

#include "net.hpp"

namespace velkor::net {
namespace {

std::string errorText(int code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string out;
  if (length > 0 && text) {
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                          nullptr, nullptr);
    out.resize(static_cast<std::size_t>(bytes));
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), bytes, nullptr,
                        nullptr);
  }
  if (text) LocalFree(text);
  while (!out.empty() &&
         (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  if (out.empty()) out = "Winsock error " + std::to_string(code);
  return out;
}

bool makeNonBlocking(SOCKET s) {
  u_long yes = 1;
  return ioctlsocket(s, FIONBIO, &yes) == 0;
}

// Classic Windows reports a refused non-blocking connect through select() only, not WSAPoll.
int finishConnect(SOCKET s, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return WSAETIMEDOUT;
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv{static_cast<long>(left.count() / 1000),
               static_cast<long>(left.count() % 1000) * 1000};
    const int ready = select(0, nullptr, &writable, &failed, &tv);
    if (ready < 0) return WSAGetLastError();
    if (ready == 0) continue;
    int code = 0;
    int length = sizeof code;
    getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&code), &length);
    if (FD_ISSET(s, &failed) && code == 0) code = WSAECONNREFUSED;
    return code;
  }
}

}  // namespace

std::string start() {
  static std::once_flag once;
  static int status = 0;
  std::call_once(once, [] {
    WSADATA data;
    status = WSAStartup(MAKEWORD(2, 2), &data);
  });
  return status == 0 ? std::string{} : "WSAStartup: " + errorText(status);
}

std::string lastError() {
  return errorText(WSAGetLastError());
}

Socket listenLoopback(std::uint16_t port, std::uint16_t& bound, std::string& error) {
  if (error = start(); !error.empty()) return kNoSocket;
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) {
    error = "socket: " + lastError();
    return kNoSocket;
  }
  // No SO_REUSEADDR: on Windows that would let a second listener share the port. A plain bind
  // already keeps other users' programs off it, and unlike SO_EXCLUSIVEADDRUSE it is not refused
  // while connections of an engine killed a moment ago linger in TIME_WAIT.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (!makeNonBlocking(s) || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 4) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + lastError();
    closesocket(s);
    return kNoSocket;
  }
  int length = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  bound = ntohs(address.sin_port);
  return s;
}

Socket accept(Socket listener) {
  const SOCKET s = ::accept(listener, nullptr, nullptr);
  if (s == INVALID_SOCKET) return kNoSocket;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  makeNonBlocking(s);
  return s;
}

Socket connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
               std::string& error) {
  if (error = start(); !error.empty()) return kNoSocket;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  addrinfo* found = nullptr;
  const int status = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (status != 0) {
    error = "cannot find " + host + ": " + errorText(status);
    return kNoSocket;
  }
  error = "no address for " + host;
  Socket result = kNoSocket;
  for (const addrinfo* a = found; a && result == kNoSocket; a = a->ai_next) {
    const SOCKET s = WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0,
                                WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
      error = lastError();
      continue;
    }
    int code = 0;
    if (!makeNonBlocking(s)) {
      code = WSAGetLastError();
    } else if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
      code = WSAGetLastError();
      if (code == WSAEWOULDBLOCK) code = finishConnect(s, deadline);
    }
    if (code == 0) {
      // Commands are single short lines: send each at once.
      const BOOL yes = TRUE;
      setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&yes), sizeof yes);
      result = s;
    } else {
      error = errorText(code);
      closesocket(s);
    }
  }
  freeaddrinfo(found);
  if (result != kNoSocket) error.clear();
  return result;
}

long receive(Socket socket, char* buffer, std::size_t size) {
  const int got = recv(socket, buffer, static_cast<int>(size), 0);
  if (got >= 0) return got;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAEINTR) return kWouldBlock;
  return kFailed;
}

long send(Socket socket, const char* data, std::size_t size) {
  const int sent = ::send(socket, data, static_cast<int>(size), 0);
  if (sent >= 0) return sent;
  const int code = WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAEINTR) return kWouldBlock;
  return kFailed;
}

void close(Socket socket) {
  if (socket != kNoSocket) closesocket(socket);
}

bool wait(std::vector<Watch>& watches, std::chrono::milliseconds timeout) {
  std::vector<WSAPOLLFD> fds;
  fds.reserve(watches.size());
  for (Watch& w : watches) {
    w.readable = w.writable = w.broken = false;
    SHORT events = 0;
    if (w.read) events |= POLLRDNORM;
    if (w.write) events |= POLLWRNORM;
    fds.push_back({w.socket, events, 0});
  }
  const INT ms = timeout.count() < 0 ? -1 : static_cast<INT>(timeout.count());
  if (WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), ms) == SOCKET_ERROR) {
    return WSAGetLastError() == WSAEINTR;
  }
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].readable = fds[i].revents & (POLLRDNORM | POLLRDBAND);
    watches[i].writable = fds[i].revents & POLLWRNORM;
    watches[i].broken = fds[i].revents & (POLLHUP | POLLERR | POLLNVAL);
  }
  return true;
}

// No eventfd here: a connected pair of loopback sockets, checked to be each other's peer.
Waker::Waker() {
  if (error_ = start(); !error_.empty()) return;
  std::uint16_t port = 0;
  const Socket listener = listenLoopback(0, port, error_);
  if (listener == kNoSocket) return;
  write_ = connect("127.0.0.1", port, std::chrono::seconds(5), error_);
  if (write_ != kNoSocket) {
    std::vector<Watch> watch{{listener, true}};
    if (wait(watch, std::chrono::seconds(5)) && watch[0].readable) read_ = accept(listener);
    sockaddr_in mine{};
    sockaddr_in theirs{};
    int mineLength = sizeof mine;
    int theirsLength = sizeof theirs;
    const bool paired =
        read_ != kNoSocket &&
        getsockname(write_, reinterpret_cast<sockaddr*>(&mine), &mineLength) == 0 &&
        getpeername(read_, reinterpret_cast<sockaddr*>(&theirs), &theirsLength) == 0 &&
        mine.sin_port == theirs.sin_port && mine.sin_addr.s_addr == theirs.sin_addr.s_addr;
    if (!paired) {
      error_ = "cannot make the wake-up socket pair";
      close(read_);
      close(write_);
      read_ = write_ = kNoSocket;
    }
  }
  close(listener);
}

Waker::~Waker() {
  close(read_);
  close(write_);
}

void Waker::wake() {
  const char one = 1;
  // A full buffer is a pending wake-up already.
  ::send(write_, &one, 1, 0);
}

void Waker::drain() {
  char buffer[256];
  while (recv(read_, buffer, sizeof buffer, 0) > 0) {
  }
}

}  // namespace velkor::net
