// Engine processes on Linux: started detached with posix_spawn, ended by
// the exact file name of their executable.
#pragma once

#include <string>

#include "platform/ports.hpp"

namespace pasotune {

class PosixProcesses : public Processes {
 public:
  void Start(const std::string& path) override;
  // Start, telling the pid. No shell: path is run as it is, with no
  // arguments, in its own session, stdin, stdout and stderr on /dev/null.
  // A thread of ours waits for it, so it never lingers as a zombie.
  int Spawn(const std::string& path);
  // SIGKILL to every process but this one whose /proc/<pid>/exe file name
  // is exactly imageName. Processes that cannot be inspected are skipped.
  void EndByImageName(const std::string& imageName) override;
};

// The file name of the executable behind a /proc/<pid>/exe link text: its
// last component, without the " (deleted)" the kernel adds for a replaced file.
std::string ImageNameOf(std::string_view exeLink);

}  // namespace pasotune
