// pasotune-feed --stdin as the child of a test or benchmark on Linux, fed
// records through a pipe of the parent's; ended by its pid, never by name.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace pasotune::feed {

class FeedChild {
 public:
  // program --stdin --quiet, then extraArgs; its output goes to /dev/null.
  FeedChild(const std::string& program, const std::vector<std::string>& extraArgs) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    std::vector<std::string> args{program, "--stdin", "--quiet"};
    args.insert(args.end(), extraArgs.begin(), extraArgs.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[0], STDIN_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[0]);
    in_ = fds[1];
  }
  ~FeedChild() {
    if (in_ >= 0) ::close(in_);
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  FeedChild(const FeedChild&) = delete;
  FeedChild& operator=(const FeedChild&) = delete;

  bool Started() const { return pid_ > 0 && in_ >= 0; }
  // All of bytes, or false once the feed stopped reading.
  bool Write(std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = ::write(in_, bytes.data(), bytes.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  // One record a line. A record that already ends in the tracker's CR LF
  // would otherwise be followed by an empty line, published as an empty
  // value that supersedes it.
  bool Publish(std::string record) {
    while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
    return Write(record + "\n");
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
};

}  // namespace pasotune::feed
