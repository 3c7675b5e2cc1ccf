// A TS-790 stand-in on a pseudo-terminal, for tests that put it where a real radio's serial
// device would be: prints the terminal's name, then answers as the radio until SIGTERM, noting
// every command it receives in LOG, a line each.
//   ts790-standin LOG

#include <poll.h>

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
  while (!stop) {
    pollfd fd{line.master, POLLIN, 0};
    // A stop asked for between the check and the wait is seen within this.
    if (::poll(&fd, 1, 200) <= 0) continue;
    line.serve(radio, false, [log](const std::string& command, const std::string&) {
      std::fprintf(log, "%s\n", command.c_str());
      std::fflush(log);
    });
  }
  return 0;
}
