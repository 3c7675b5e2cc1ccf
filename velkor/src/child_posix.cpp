#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "child.hpp"

namespace velkor::sys {
namespace {

class PosixChild : public Child {
 public:
  explicit PosixChild(pid_t pid) : pid_(pid) {}
  PosixChild(const PosixChild&) = delete;
  PosixChild& operator=(const PosixChild&) = delete;
  ~PosixChild() override {
    if (!how_) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }

  std::optional<std::string> ended() override {
    if (how_) return how_;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return std::nullopt;
    if (WIFSIGNALED(status)) {
      const int signal = WTERMSIG(status);
      const char* name = sigabbrev_np(signal);
      how_ = "terminó por la señal " + std::to_string(signal) +
             (name ? " (SIG" + std::string(name) + ")" : std::string());
    } else {
      how_ = "terminó con el estado " + std::to_string(WEXITSTATUS(status));
    }
    return how_;
  }

 private:
  pid_t pid_;
  std::optional<std::string> how_;
};

}  // namespace

std::unique_ptr<Child> startChild(const std::filesystem::path& program,
                                  const std::vector<std::string>& args, std::string& error) {
  std::vector<std::string> words{program.string()};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  // The exec's failure comes back through a pipe that closes on a successful exec.
  int report[2];
  if (::pipe2(report, O_CLOEXEC) != 0) {
    error = std::strerror(errno);
    return nullptr;
  }
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Killed with the engine, whatever ends it; only async-signal-safe calls from here.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
      ::dup2(null, 0);
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execv(argv[0], argv.data());
    const int code = errno;
    [[maybe_unused]] const auto n = ::write(report[1], &code, sizeof code);
    ::_exit(127);
  }
  ::close(report[1]);
  if (pid < 0) {
    error = std::strerror(errno);
    ::close(report[0]);
    return nullptr;
  }
  int code = 0;
  const ssize_t got = ::read(report[0], &code, sizeof code);
  ::close(report[0]);
  if (got == static_cast<ssize_t>(sizeof code)) {
    ::waitpid(pid, nullptr, 0);
    error = std::strerror(code);
    return nullptr;
  }
  return std::make_unique<PosixChild>(pid);
}

}  // namespace velkor::sys
