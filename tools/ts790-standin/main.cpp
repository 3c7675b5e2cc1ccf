// A TS-790 stand-in on a pseudo-terminal, for tests that put it where a real radio's serial
// device would be: prints the terminal's name, then answers as the radio until SIGTERM, noting
// every command it receives in LOG, a line each. Lines on its standard input steer it:
// "miss N" lets the next N settings pass without effect, "silent" stops it answering and
// "speak" starts it again, "id NNN" makes it answer ID as another Kenwood ("019" a TS-2000),
// "refuse TNTO" answers "?;" to those commands, as a TS-790 without a tone unit does, and
// "noise N" answers the next read with N bytes of noise.
//   ts790-standin LOG

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ts790_standin.hpp"

namespace {

volatile std::sig_atomic_t stop = 0;

extern "C" void onStop(int) {
  stop = 1;
}

}  // namespace

constexpr const char* kUsage =
    "usage: ts790-standin LOG\n"
    "A Kenwood TS-790 as Hamlib talks to it, behind a pseudo-terminal: prints the terminal's\n"
    "name, then answers until SIGTERM, appending each command it receives to LOG. Lines on its\n"
    "standard input steer it: \"miss N\" lets the next N settings pass without effect,\n"
    "\"silent\" stops it answering.\n";

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  // A LOG named like an option is more likely a mistake than a file wanted.
  if (argc != 2 || argv[1][0] == '-') {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::FILE* log = std::fopen(argv[1], "a");
  velkor::test::Line line;
  const std::string name = line.open();
  if (!log || name.empty()) {
    std::perror("ts790-standin");
    return 1;
  }
  struct sigaction action {};
  action.sa_handler = onStop;
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::printf("%s\n", name.c_str());
  std::fflush(stdout);

  velkor::test::Ts790 radio;
  bool silent = false;
  std::string steering;
  pollfd fds[] = {{line.master, POLLIN, 0}, {0, POLLIN, 0}};
  while (!stop) {
    // A stop asked for between the check and the wait is seen within this.
    if (::poll(fds, 2, 200) <= 0) continue;
    // Steering written before a command reached the line is taken before that command.
    if (fds[1].revents != 0) {
      char buffer[256];
      const ssize_t n = ::read(0, buffer, sizeof buffer);
      if (n <= 0) fds[1].fd = -1;  // no more steering
      if (n > 0) steering.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end; (end = steering.find('\n')) != std::string::npos;) {
        const std::string order = steering.substr(0, end);
        steering.erase(0, end + 1);
        if (order.rfind("miss ", 0) == 0) radio.miss = std::atoi(order.c_str() + 5);
        if (order == "silent") silent = true;
        if (order == "speak") silent = false;
        if (order.rfind("id ", 0) == 0) radio.id = order.substr(3);
        if (order.rfind("refuse ", 0) == 0) radio.refuse = order.substr(7);
        if (order.rfind("noise ", 0) == 0) {
          const unsigned long n = std::strtoul(order.c_str() + 6, nullptr, 10);
          radio.noise = static_cast<std::size_t>(std::min(n, 1ul << 20));
        }
      }
    }
    if (fds[0].revents != 0) {
      line.serve(radio, silent, [log](const std::string& command, const std::string&) {
        std::fprintf(log, "%s\n", command.c_str());
        std::fflush(log);
      });
    }
  }
  return 0;
}
