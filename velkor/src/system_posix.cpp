#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "system.hpp"

namespace velkor::sys {
namespace {

// Set before the handlers are installed, only read in them.
void (*stopCall)(void*) = nullptr;
void* stopContext = nullptr;

extern "C" void onStopSignal(int) {
  if (stopCall) stopCall(stopContext);
}

}  // namespace

std::filesystem::path programFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path(ec) : exe.parent_path();
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::string(utf8));
}

std::string pathText(const std::filesystem::path& path) {
  return path.string();
}

std::optional<std::filesystem::path> environmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::filesystem::path(value);
}

namespace {

const char* kindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "una carpeta";
  if (S_ISFIFO(mode)) return "un FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "un dispositivo";
  if (S_ISSOCK(mode)) return "un socket";
  return "algo que no es un archivo";
}

}  // namespace

SmallFile readSmallFile(const std::filesystem::path& file, std::size_t maxBytes) {
  SmallFile out;
  struct stat st {};
  // Looked at before opening: opening a device can already do something.
  if (::stat(file.c_str(), &st) != 0) {
    out.status = errno == ENOENT ? SmallFile::Status::kMissing : SmallFile::Status::kFailed;
    out.why = std::strerror(errno);
    return out;
  }
  if (!S_ISREG(st.st_mode)) {
    out.status = SmallFile::Status::kNotPlain;
    out.why = kindOf(st.st_mode);
    return out;
  }
  const int fd = ::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    out.why = std::strerror(errno);
    return out;
  }
  // Swapped for something else since the look.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    out.status = SmallFile::Status::kNotPlain;
    out.why = kindOf(st.st_mode);
    return out;
  }
  char buffer[16 * 1024];
  while (out.bytes.size() < maxBytes) {
    const ssize_t n = ::read(fd, buffer, std::min(sizeof buffer, maxBytes - out.bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      out.why = std::strerror(errno);
      ::close(fd);
      return out;
    }
    if (n == 0) break;
    out.bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  out.status = SmallFile::Status::kRead;
  return out;
}

std::string createNewFile(const std::filesystem::path& file, std::string_view bytes) {
  const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return std::strerror(errno);
  std::string error;
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = std::strerror(errno);
      break;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  if (::close(fd) != 0 && error.empty() && errno != EINTR) error = std::strerror(errno);
  return error;
}

FileHandle openPlainForAppend(const std::filesystem::path& file, std::string& error) {
  struct stat st {};
  // Looked at first: opening a device can already do something, and a FIFO without a reader
  // would hold the engine.
  if (::lstat(file.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      error = "un enlace, a través del que nunca se escribe";
      return kNoFile;
    }
    if (!S_ISREG(st.st_mode)) {
      error = kindOf(st.st_mode);
      return kNoFile;
    }
  } else if (errno != ENOENT) {
    error = std::strerror(errno);
    return kNoFile;
  }
  const int fd =
      ::open(file.c_str(),
             O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) {
    error = errno == ELOOP ? "un enlace, a través del que nunca se escribe" : std::strerror(errno);
    return kNoFile;
  }
  // Swapped for something else since the look.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    error = kindOf(st.st_mode);
    return kNoFile;
  }
  // A hard link is a link too: as root, one planted at the name would be written through.
  if (st.st_nlink > 1) {
    ::close(fd);
    error = "un archivo con más de un nombre (un enlace duro), a través del que nunca se escribe";
    return kNoFile;
  }
  return fd;
}

std::string appendToFile(FileHandle file, std::string_view bytes, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    const ssize_t n =
        ::write(static_cast<int>(file), bytes.data() + written, bytes.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::strerror(errno);
    if (n == 0) return "no se escribió nada";
    written += static_cast<std::size_t>(n);
  }
  return {};
}

void closeFile(FileHandle file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

bool onStopRequest(void (*stop)(void*), void* context) {
  stopContext = context;
  stopCall = stop;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // A client that leaves mid-reply must not end the engine.
  std::signal(SIGPIPE, SIG_IGN);
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

void stopped() {}

}  // namespace velkor::sys
