// Engine processes on Linux: started detached with posix_spawn, ended by
// the exact file name of their executable, among the user's own processes.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/ports.hpp"

namespace pasotune {

class PosixProcesses : public Processes {
 public:
  // Hands a function to the event loop's thread, from any thread.
  using Post = std::function<void(std::function<void()>)>;
  PosixProcesses();
  ~PosixProcesses() override;
  PosixProcesses(const PosixProcesses&) = delete;
  PosixProcesses& operator=(const PosixProcesses&) = delete;

  // Without a way to the event loop, ends are not told.
  void SetPost(Post post);
  void Start(const std::string& path) override;
  // Start, telling the pid. No shell: path is run as it is, with no
  // arguments, in its own session, stdin, stdout and stderr on /dev/null.
  // A thread of ours waits for it, so it never lingers as a zombie, and
  // tells its end through the post.
  int Spawn(const std::string& path);
  // SIGKILL to every process but this one that has the same real user id
  // as this one, runs in the same PID namespace (another container's or
  // test world's engine is not ours, even under the same user id) and
  // whose executable's file name is exactly imageName. Processes that
  // cannot be inspected are skipped.
  //
  // A process whose file has been deleted since it started (as a rebuild or
  // a reinstall does to a running engine) still runs that image and still
  // holds the engine's port, so it counts under the name it was started
  // by; a file whose name merely ends in " (deleted)" does not.
  void EndByImageName(const std::string& imageName) override;

 private:
  struct Watch;
  std::shared_ptr<Watch> watch_;
};

// A wait status in words, to follow "terminó".
std::string EndCause(int waitStatus);

// The last component of a /proc/<pid>/exe link text. With deleted (the
// kernel says the file is gone), without the " (deleted)" it then adds.
std::string ImageNameOf(std::string_view exeLink, bool deleted);

// The image name of a running process, as EndByImageName sees it; empty
// when it cannot be told.
std::string ImageNameOfProcess(int pid);

}  // namespace pasotune
