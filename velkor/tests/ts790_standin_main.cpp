// A TS-790 stand-in on a pseudo-terminal, for tests that put it where a real radio's serial
// device would be: prints the terminal's name, then answers as the radio until SIGTERM, noting
// every command it receives in LOG, a line each.
//   ts790-standin LOG

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ts790_standin.hpp"

namespace {

volatile std::sig_atomic_t stop = 0;

extern "C" void onStop(int) {
  stop = 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ts790-standin LOG\n");
    return 2;
  }
  std::FILE* log = std::fopen(argv[1], "a");
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char name[128];
  if (!log || master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
      ::ptsname_r(master, name, sizeof name) != 0) {
    std::perror("ts790-standin");
    return 1;
  }
  // Held open so the master never hangs up between the engine's opens.
  const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios raw{};
  if (slave < 0 || ::tcgetattr(slave, &raw) != 0) {
    std::perror("ts790-standin");
    return 1;
  }
  ::cfmakeraw(&raw);
  ::tcsetattr(slave, TCSANOW, &raw);
  struct sigaction action {};
  action.sa_handler = onStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::printf("%s\n", name);
  std::fflush(stdout);

  velkor::test::Ts790 radio;
  std::string pending;
  while (!stop) {
    pollfd fd{master, POLLIN, 0};
    // A stop asked for between the check and the wait is seen within this.
    if (::poll(&fd, 1, 200) <= 0) continue;
    char buffer[512];
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    pending.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = pending.find(';')) != std::string::npos;) {
      const std::string command = pending.substr(0, end + 1);
      pending.erase(0, end + 1);
      std::fprintf(log, "%s\n", command.c_str());
      std::fflush(log);
      const std::string answer = radio.answer(command);
      if (!answer.empty()) [[maybe_unused]] auto w = ::write(master, answer.data(), answer.size());
    }
  }
  return 0;
}
