#include "platform/posix/posix_processes.hpp"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>

extern char** environ;

namespace pasotune {

namespace {

constexpr std::string_view kDeleted = " (deleted)";

bool EndsWithDeleted(std::string_view exeLink) {
  return exeLink.size() > kDeleted.size() &&
         exeLink.substr(exeLink.size() - kDeleted.size()) == kDeleted;
}

std::string ErrnoText(int error) {
  return std::strerror(error);
}

// Reads a symbolic link whole, however long.
bool ReadLink(const std::string& path, std::string& out) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t n = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      out = std::move(buffer);
      return true;
    }
    if (buffer.size() > 65536) return false;
    buffer.resize(buffer.size() * 2);
  }
}

// Whether the kernel added " (deleted)" to this text of dir/exe. A file may
// be named so, so the text alone cannot tell: the suffix is the kernel's
// when the path it spells is not the very file the process runs. Empty
// when the process cannot be looked at.
std::optional<bool> ExeDeleted(const std::string& dir, const std::string& exeLink) {
  if (!EndsWithDeleted(exeLink)) return false;
  struct stat running {};
  if (::stat((dir + "/exe").c_str(), &running) != 0) return std::nullopt;
  struct stat named {};
  return ::stat(exeLink.c_str(), &named) != 0 || named.st_dev != running.st_dev ||
         named.st_ino != running.st_ino;
}

// The real user id from dir/status ("Uid:\treal\teffective\tsaved\tfs").
std::optional<uid_t> RealUid(const std::string& dir) {
  std::ifstream in(dir + "/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Uid:", 0) != 0) continue;
    const std::size_t from = line.find_first_not_of(" \t", 4);
    if (from == std::string::npos) return std::nullopt;
    uid_t uid = 0;
    const auto [end, ec] = std::from_chars(line.data() + from, line.data() + line.size(), uid);
    if (ec != std::errc{}) return std::nullopt;
    return uid;
  }
  return std::nullopt;
}

// Holds on to the process that has a pid now, so what is checked about it
// and what is signalled are the same process even if the pid is reused
// in between. Without pidfds (kernels before 5.3) the pid alone it is.
class PinnedProcess {
 public:
  explicit PinnedProcess(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
    fd_ = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    gone_ = fd_ < 0 && errno == ESRCH;
#endif
  }
  ~PinnedProcess() {
    if (fd_ >= 0) ::close(fd_);
  }
  PinnedProcess(const PinnedProcess&) = delete;
  PinnedProcess& operator=(const PinnedProcess&) = delete;

  bool Gone() const {
    return gone_;
  }
  void Kill() {
#ifdef SYS_pidfd_send_signal
    if (fd_ >= 0) {
      ::syscall(SYS_pidfd_send_signal, fd_, SIGKILL, nullptr, 0);
      return;
    }
#endif
    ::kill(pid_, SIGKILL);
  }

 private:
  pid_t pid_;
  int fd_ = -1;
  bool gone_ = false;
};

struct SpawnSetup {
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attributes;
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
};

}  // namespace

// Shared with the threads that wait for our children, which may outlive us.
struct PosixProcesses::Watch {
  std::mutex mutex;
  Post post;                        // under mutex
  PosixProcesses* owner = nullptr;  // read and written in the loop's thread only
};

PosixProcesses::PosixProcesses() : watch_(std::make_shared<Watch>()) {
  watch_->owner = this;
}

PosixProcesses::~PosixProcesses() {
  const std::lock_guard<std::mutex> lock(watch_->mutex);
  watch_->post = nullptr;
  watch_->owner = nullptr;
}

void PosixProcesses::SetPost(Post post) {
  const std::lock_guard<std::mutex> lock(watch_->mutex);
  watch_->post = std::move(post);
}

std::string EndCause(int status) {
  if (WIFSIGNALED(status)) {
    const int signal = WTERMSIG(status);
    std::string cause = "por la señal " + std::to_string(signal);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 32))
    if (const char* name = ::sigabbrev_np(signal)) cause += " (SIG" + std::string(name) + ")";
#endif
    return cause;
  }
  if (WIFEXITED(status)) return "con el código de salida " + std::to_string(WEXITSTATUS(status));
  return "con el estado " + std::to_string(status);
}

std::string ImageNameOf(std::string_view exeLink, bool deleted) {
  if (deleted && EndsWithDeleted(exeLink)) exeLink.remove_suffix(kDeleted.size());
  const std::size_t slash = exeLink.rfind('/');
  return std::string(slash == std::string_view::npos ? exeLink : exeLink.substr(slash + 1));
}

std::string ImageNameOfProcess(int pid) {
  std::string link;
  const std::string dir = "/proc/" + std::to_string(pid);
  if (!ReadLink(dir + "/exe", link)) return {};
  const std::optional<bool> deleted = ExeDeleted(dir, link);
  return deleted ? ImageNameOf(link, *deleted) : std::string();
}

void PosixProcesses::Start(const std::string& path) {
  Spawn(path);
}

int PosixProcesses::Spawn(const std::string& path) {
  // posix_spawn tells these too, but a plain word beats "Permission denied"
  // for a folder.
  struct stat st {};
  if (path.empty() || ::stat(path.c_str(), &st) != 0) {
    throw PortError("Cannot start " + path + ": " + ErrnoText(path.empty() ? ENOENT : errno));
  }
  if (!S_ISREG(st.st_mode)) throw PortError("Cannot start " + path + ": not a file");
  if (::access(path.c_str(), X_OK) != 0)
    throw PortError("Cannot start " + path + ": not executable");

  SpawnSetup setup;
  posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  // Our sockets and files are none of the engine's business.
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
#endif
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&setup.attributes, &none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int s : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGCHLD, SIGUSR1, SIGUSR2})
    sigaddset(&defaults, s);
  posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
#ifdef POSIX_SPAWN_SETSID
  // Its own session: closing our terminal or our process group leaves it be.
  flags |= POSIX_SPAWN_SETSID;
#else
  flags |= POSIX_SPAWN_SETPGROUP;
  posix_spawnattr_setpgroup(&setup.attributes, 0);
#endif
  posix_spawnattr_setflags(&setup.attributes, flags);

  pid_t pid = 0;
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  const int error =
      ::posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv, environ);
  if (error != 0) throw PortError("Cannot start " + path + ": " + ErrnoText(error));

  // Not awaited by the caller, but reaped: a thread blocks on this one pid,
  // never on anyone else's children, and ends with it.
  try {
    std::thread([pid, watch = watch_] {
      int status = 0;
      int got;
      while ((got = ::waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
      }
      if (got != pid) return;
      const std::lock_guard<std::mutex> lock(watch->mutex);
      if (!watch->post) return;
      watch->post([watch, cause = EndCause(status)] {
        if (watch->owner) watch->owner->RaiseEnded(cause);
      });
    }).detach();
  } catch (const std::system_error&) {
    // Without a thread it stays a zombie until we exit; it did start.
  }
  return pid;
}

void PosixProcesses::EndByImageName(const std::string& imageName) {
  if (imageName.empty()) return;
  const std::unique_ptr<DIR, int (*)(DIR*)> proc(::opendir("/proc"), ::closedir);
  if (!proc) throw PortError("Cannot list the running processes: " + ErrnoText(errno));
  const pid_t self = ::getpid();
  const uid_t user = ::getuid();
  struct stat ownWorld {};
  const bool knowWorld = ::stat("/proc/self/ns/pid", &ownWorld) == 0;
  while (const dirent* entry = ::readdir(proc.get())) {
    const std::string_view name = entry->d_name;
    if (name.empty() || name.find_first_not_of("0123456789") != std::string_view::npos) continue;
    pid_t pid = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), pid);
    if (ec != std::errc{} || end != name.data() + name.size() || pid <= 0 || pid == self) continue;
    const std::string dir = "/proc/" + std::string(name);
    std::string exe;
    if (!ReadLink(dir + "/exe", exe)) continue;  // gone, kernel or not ours to see
    // The text alone rules out nearly every process; the rest is looked at
    // closely once it is pinned.
    if (ImageNameOf(exe, false) != imageName && ImageNameOf(exe, true) != imageName) continue;
    PinnedProcess process(pid);
    if (process.Gone() || RealUid(dir) != user || ImageNameOfProcess(pid) != imageName) continue;
    // A process in a child PID namespace shows in our /proc too. Where
    // namespaces cannot be told apart (no ns/ files), all are one.
    struct stat world {};
    if (knowWorld && (::stat((dir + "/ns/pid").c_str(), &world) != 0 ||
                      world.st_dev != ownWorld.st_dev || world.st_ino != ownWorld.st_ino)) {
      continue;
    }
    process.Kill();
  }
}

}  // namespace pasotune
