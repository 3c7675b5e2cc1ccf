#include "platform/std_files.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#if __has_include(<unistd.h>) && !defined(_WIN32)
#include <unistd.h>
#define PASOTUNE_HAVE_FSYNC 1
#endif

namespace pasotune {
namespace fs = std::filesystem;

namespace {
std::string Describe(const std::string& path, const std::string& why) {
  return path + ": " + why;
}
}  // namespace

bool StdFiles::IsPlainFile(const std::string& path) {
  std::error_code ec;
  return fs::is_regular_file(fs::path(path), ec);
}

std::string StdFiles::ReadBytes(const std::string& path, std::size_t maxBytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw PortError(Describe(path, "es una carpeta"));
  std::ifstream in(path, std::ios::binary);
  if (!in) throw PortError(Describe(path, std::strerror(errno)));
  std::string bytes;
  char buffer[16 * 1024];
  while (bytes.size() < maxBytes && in) {
    in.read(buffer, static_cast<std::streamsize>(std::min(sizeof buffer, maxBytes - bytes.size())));
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) throw PortError(Describe(path, "error de lectura"));
  return bytes;
}

void StdFiles::WriteBytes(const std::string& path, std::string_view bytes) {
  std::error_code ec;
  if (fs::is_directory(path, ec)) throw PortError(Describe(path, "es una carpeta"));
  const std::string temp = path + ".tmp";
  {
    std::FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) throw PortError(Describe(path, std::strerror(errno)));
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    int flushErr = std::fflush(f);
#ifdef PASOTUNE_HAVE_FSYNC
    // The rename must not reach the disk before the data does.
    if (flushErr == 0) flushErr = ::fsync(::fileno(f));
#endif
    const int savedErrno = errno;
    std::fclose(f);
    if (!written || flushErr != 0) {
      std::remove(temp.c_str());
      throw PortError(Describe(path, std::strerror(savedErrno)));
    }
  }
  fs::rename(temp, path, ec);
  if (ec) {
    std::remove(temp.c_str());
    throw PortError(Describe(path, ec.message()));
  }
}

}  // namespace pasotune
