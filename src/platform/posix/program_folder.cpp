#include "platform/posix/program_folder.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/ports.hpp"

namespace pasotune {

std::string FolderOfExecutable(std::string_view exePath) {
  // A rebuilt or reinstalled program still runs from its old folder.
  constexpr std::string_view kDeleted = " (deleted)";
  // A file cannot have an empty name, so "/dir/ (deleted)" names a file.
  if (exePath.size() > kDeleted.size() &&
      exePath.substr(exePath.size() - kDeleted.size()) == kDeleted &&
      exePath[exePath.size() - kDeleted.size() - 1] != '/') {
    exePath.remove_suffix(kDeleted.size());
  }
  const std::size_t slash = exePath.rfind('/');
  if (slash == std::string_view::npos) return ".";
  if (slash == 0) return "/";
  return std::string(exePath.substr(0, slash));
}

std::string ExecutableFolder() {
  std::string buffer(512, '\0');
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0)
      throw PortError(std::string("Cannot find the program's folder: ") + std::strerror(errno));
    if (static_cast<std::size_t>(n) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(n));
      return FolderOfExecutable(buffer);
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace pasotune
