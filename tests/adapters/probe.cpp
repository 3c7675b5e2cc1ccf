// A child for the adapter tests. Started by PosixProcesses it gets no
// arguments, so it leaves a "<exe>.ready" note once loaded and sleeps until
// killed; when its file name starts with "EndsOwnName" it instead ends every
// process of its own name and leaves a note saying it survived, and with
// "ExitsWith3" it exits with status 3. With an
// argument it answers a question or ends through ExitProgramEnd.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/posix/exit_program_end.hpp"
#include "platform/posix/posix_processes.hpp"
#include "platform/posix/program_folder.hpp"
#include "platform/qt/qt_locale.hpp"

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--decimal") == 0) {
    std::printf("%c\n", pasotune::SystemDecimalSeparator());
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--end") == 0) {
    // Both still buffered when the end comes; the atexit handler must not run.
    std::atexit([] { std::fputs(" atexit", stdout); });
    std::fputs("flushed", stdout);
    std::cout << " too";
    pasotune::ExitProgramEnd().End();
  }
  if (argc > 1 && std::strcmp(argv[1], "--folder") == 0) {
    std::printf("%s\n", pasotune::ExecutableFolder().c_str());
    return 0;
  }
  char exe[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string self = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
  const std::string name = pasotune::ImageNameOfProcess(::getpid());
  if (name.rfind("EndsOwnName", 0) == 0) {
    pasotune::PosixProcesses().EndByImageName(name);
    std::ofstream(self + ".alive") << "alive\n";
    return 0;
  }
  if (name.rfind("ExitsWith3", 0) == 0) return 3;
  // Renamed into place, so the note is never seen while still open.
  std::ofstream(self + ".ready.tmp") << "ready\n";
  std::rename((self + ".ready.tmp").c_str(), (self + ".ready").c_str());
  for (;;) ::pause();
}
