#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net.hpp"

namespace velkor::net {
namespace {

std::string errorText(int code) {
  return std::strerror(code);
}

// Waits for one socket to turn writable, for a connect in progress.
bool waitWritable(Socket socket, std::chrono::steady_clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd pfd{socket, POLLOUT, 0};
    const int ready = ::poll(&pfd, 1, static_cast<int>(left.count()));
    if (ready > 0) return true;
    if (ready == 0 || errno != EINTR) return false;
  }
}

}  // namespace

std::string start() {
  return {};
}

std::string lastError() {
  return errorText(errno);
}

Socket listenLoopback(std::uint16_t port, std::uint16_t& bound, std::string& error) {
  const Socket s = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (s < 0) {
    error = "socket: " + lastError();
    return kNoSocket;
  }
  const int yes = 1;
  ::setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(s, 4) != 0) {
    error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + lastError();
    ::close(s);
    return kNoSocket;
  }
  socklen_t length = sizeof address;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length);
  bound = ntohs(address.sin_port);
  return s;
}

Socket accept(Socket listener) {
  const int s = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  return s < 0 ? kNoSocket : s;
}

Socket connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
               std::string& error) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int status = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
  if (status != 0) {
    error = "cannot find " + host + ": " + ::gai_strerror(status);
    return kNoSocket;
  }
  error = "no address for " + host;
  Socket result = kNoSocket;
  for (const addrinfo* a = found; a && result == kNoSocket; a = a->ai_next) {
    const Socket s = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s < 0) {
      error = lastError();
      continue;
    }
    int code = 0;
    if (::connect(s, a->ai_addr, a->ai_addrlen) != 0) {
      code = errno;
      if (code == EINPROGRESS) {
        code = ETIMEDOUT;
        if (waitWritable(s, deadline)) {
          socklen_t length = sizeof code;
          ::getsockopt(s, SOL_SOCKET, SO_ERROR, &code, &length);
        }
      }
    }
    if (code == 0) {
      // Commands are single short lines: send each at once.
      const int yes = 1;
      ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
      result = s;
    } else {
      error = errorText(code);
      ::close(s);
    }
  }
  ::freeaddrinfo(found);
  if (result != kNoSocket) error.clear();
  return result;
}

long receive(Socket socket, char* buffer, std::size_t size) {
  const ssize_t got = ::recv(socket, buffer, size, 0);
  if (got >= 0) return static_cast<long>(got);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kWouldBlock;
  return kFailed;
}

long send(Socket socket, const char* data, std::size_t size) {
  const ssize_t sent = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
  if (sent >= 0) return static_cast<long>(sent);
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return kWouldBlock;
  return kFailed;
}

void close(Socket socket) {
  if (socket != kNoSocket) ::close(socket);
}

bool wait(std::vector<Watch>& watches, std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds;
  fds.reserve(watches.size());
  for (Watch& w : watches) {
    w.readable = w.writable = w.broken = false;
    short events = 0;
    if (w.read) events |= POLLIN;
    if (w.write) events |= POLLOUT;
    fds.push_back({w.socket, events, 0});
  }
  const int ms = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
  if (::poll(fds.data(), fds.size(), ms) < 0) return errno == EINTR;
  for (std::size_t i = 0; i < watches.size(); ++i) {
    watches[i].readable = fds[i].revents & POLLIN;
    watches[i].writable = fds[i].revents & POLLOUT;
    watches[i].broken = fds[i].revents & (POLLHUP | POLLERR | POLLNVAL);
  }
  return true;
}

Waker::Waker() {
  read_ = write_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (read_ < 0) {
    error_ = "eventfd: " + lastError();
    read_ = write_ = kNoSocket;
  }
}

Waker::~Waker() {
  if (read_ != kNoSocket) ::close(read_);
}

void Waker::wake() {
  // Safe in a signal handler: one write(2), errno kept.
  const int saved = errno;
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(write_, &one, sizeof one);
  errno = saved;
}

void Waker::drain() {
  std::uint64_t counter = 0;
  [[maybe_unused]] const auto got = ::read(read_, &counter, sizeof counter);
}

}  // namespace velkor::net
