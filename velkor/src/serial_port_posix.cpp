#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "serial_port.hpp"

namespace velkor {
namespace {

speed_t baud(int speed) {
  switch (speed) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

int waitMs(Wire::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Wire::Clock::now()).count();
  return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

class PosixLine : public Wire {
 public:
  explicit PosixLine(int fd) : fd_(fd) {}
  PosixLine(const PosixLine&) = delete;
  PosixLine& operator=(const PosixLine&) = delete;
  ~PosixLine() override {
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }

  bool send(std::string_view bytes) override {
    // A line held by its handshake is as good as dead after this long.
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (!bytes.empty()) {
      const ssize_t n = ::write(fd_, bytes.data(), bytes.size());
      if (n > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (Clock::now() >= deadline || ::poll(&p, 1, waitMs(deadline)) < 0) return false;
    }
    return true;
  }

  int receive(char* buffer, std::size_t size, Clock::time_point deadline) override {
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, size);
      if (n > 0) return static_cast<int>(n);
      if (n < 0 && errno != EAGAIN && errno != EINTR) return -1;
      // A pseudo-terminal whose other end closed reads 0 at once; wait it out like silence.
      pollfd p{fd_, POLLIN, 0};
      const int ms = waitMs(deadline);
      if (ms == 0) return 0;
      const int ready = ::poll(&p, 1, ms);
      if (ready < 0 && errno != EINTR) return -1;
      if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) != 0 && (p.revents & POLLIN) == 0) {
        ::poll(nullptr, 0, ms);
        return 0;
      }
    }
  }

  void discard() override { ::tcflush(fd_, TCIFLUSH); }

 private:
  int fd_;
};

}  // namespace

std::unique_ptr<Wire> openSerial(const std::string& device, const SerialSettings& settings,
                                 int& error) {
  const speed_t speed = baud(settings.speed);
  if (speed == B0) {
    error = EINVAL;
    return nullptr;
  }
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return nullptr;
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  // Another program opening the radio's port while the engine drives it would talk over it.
  if (::ioctl(fd, TIOCEXCL) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | CRTSCTS);
  if (settings.stopBits == 2) t.c_cflag |= CSTOPB;
  if (settings.hardwareHandshake) t.c_cflag |= CRTSCTS;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, speed);
  ::cfsetospeed(&t, speed);
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    error = errno;
    ::close(fd);
    return nullptr;
  }
  ::tcflush(fd, TCIOFLUSH);
  error = 0;
  return std::make_unique<PosixLine>(fd);
}

}  // namespace velkor
