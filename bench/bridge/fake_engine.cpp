#include "fake_engine.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

namespace pasotune::bench {

FakeEngine::~FakeEngine() {
  Stop();
}

std::string FakeEngine::Start(int port) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listen_ < 0) return std::string("socket: ") + std::strerror(errno);
  const int on = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<std::uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_, 4) != 0) {
    return "127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
  }
  if (::pipe2(wake_, O_CLOEXEC) != 0) return std::string("pipe: ") + std::strerror(errno);
  thread_ = std::thread([this] { Serve(); });
  return {};
}

void FakeEngine::Stop() {
  if (thread_.joinable()) {
    const char byte = 0;
    [[maybe_unused]] const ssize_t n = ::write(wake_[1], &byte, 1);
    thread_.join();
  }
  for (int* fd : {&listen_, &wake_[0], &wake_[1]}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
}

double FakeEngine::CpuSeconds() const {
  clockid_t id;
  timespec ts{};
  if (!thread_.joinable() ||
      pthread_getcpuclockid(const_cast<std::thread&>(thread_).native_handle(), &id) != 0 ||
      clock_gettime(id, &ts) != 0) {
    return 0;
  }
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void FakeEngine::Serve() {
  int client = -1;
  for (;;) {
    pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listen_, POLLIN, 0}, {client, POLLIN, 0}};
    if (::poll(fds, client >= 0 ? 3 : 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if (fds[1].revents & POLLIN) {
      // The program connects afresh on every Conectar: the newest wins.
      const int fresh = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fresh >= 0) {
        if (client >= 0) ::close(client);
        client = fresh;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        heard_.NewConnection();
      }
      continue;
    }
    if (client < 0 || fds[2].revents == 0) continue;
    char buffer[4096];
    const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
    const auto at = SteadyClock::now();
    if (n <= 0) {
      ::close(client);
      client = -1;
      continue;
    }
    heard_.Feed({buffer, static_cast<std::size_t>(n)}, at, [client](const std::string& line) {
      if (line.rfind("SETPORT", 0) == 0) {
        static constexpr char kReady[] = "Velkor READY\r\n";
        [[maybe_unused]] const ssize_t sent =
            ::send(client, kReady, sizeof kReady - 1, MSG_NOSIGNAL);
      }
    });
  }
  if (client >= 0) ::close(client);
}

}  // namespace pasotune::bench
