#include "plain_file.hpp"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace pasotune::feed {

#ifdef _WIN32

PlainFile::PlainFile(const std::filesystem::path& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    missing_ = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    why_ = missing_ ? "no existe" : "error de Windows " + std::to_string(error);
    return;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    why_ = "es una carpeta";
    return;
  }
  const HANDLE h = CreateFileW(path.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    why_ = "error de Windows " + std::to_string(GetLastError());
    return;
  }
  // A pipe or a device (NUL, CON, COM1) could block or never end.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    why_ = "es un dispositivo o una tubería";
    return;
  }
  handle_ = h;
}

PlainFile::~PlainFile() {
  if (handle_) CloseHandle(handle_);
}

bool PlainFile::IsOpen() const {
  return handle_ != nullptr;
}

long PlainFile::Read(char* buffer, std::size_t size) {
  DWORD n = 0;
  if (!ReadFile(handle_, buffer, static_cast<DWORD>(size), &n, nullptr)) {
    why_ = "error de Windows " + std::to_string(GetLastError());
    return -1;
  }
  return static_cast<long>(n);
}

#else

namespace {

const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "es una carpeta";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "es un dispositivo";
  if (S_ISSOCK(mode)) return "es un socket";
  return "no es un archivo normal";
}

}  // namespace

PlainFile::PlainFile(const std::filesystem::path& path) {
  struct stat st {};
  // Looked at first: opening a device can already do something.
  if (::stat(path.c_str(), &st) != 0) {
    missing_ = errno == ENOENT;
    why_ = std::strerror(errno);
    return;
  }
  if (!S_ISREG(st.st_mode)) {
    why_ = KindOf(st.st_mode);
    return;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    why_ = std::strerror(errno);
    return;
  }
  // Swapped for something else since the look.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    why_ = KindOf(st.st_mode);
    return;
  }
  fd_ = fd;
}

PlainFile::~PlainFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PlainFile::IsOpen() const {
  return fd_ >= 0;
}

long PlainFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, size);
    if (n >= 0) return static_cast<long>(n);
    if (errno == EINTR) continue;
    why_ = std::strerror(errno);
    return -1;
  }
}

#endif

WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes) {
  PlainFile file(path);
  if (!file.IsOpen()) return {std::nullopt, file.Why(), file.Missing()};
  std::string bytes;
  char buffer[16 * 1024];
  for (;;) {
    const long n = file.Read(buffer, sizeof buffer);
    if (n < 0) return {std::nullopt, file.Why()};
    if (n == 0) return {std::move(bytes), {}};
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > maxBytes) {
      return {std::nullopt, "mayor de " + std::to_string(maxBytes / 1024) + " KiB"};
    }
  }
}

}  // namespace pasotune::feed
