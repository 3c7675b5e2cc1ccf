// Files read the way the engine reads velkor.conf: looked at before they are
// opened, opened without blocking, a regular file only. A FIFO, a device or a
// folder where a file should be is refused at once instead of holding the
// feed or feeding it without end.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace pasotune::feed {

class PlainFile {
 public:
  explicit PlainFile(const std::filesystem::path& path);
  ~PlainFile();
  PlainFile(const PlainFile&) = delete;
  PlainFile& operator=(const PlainFile&) = delete;

  bool IsOpen() const;
  // Why it is not open, or why the last read failed: what is there ("a
  // folder") or the system's reason.
  const std::string& Why() const { return why_; }
  // Nothing has the name.
  bool Missing() const { return missing_; }
  // Bytes into buffer: how many, 0 at the end, -1 when reading failed.
  long Read(char* buffer, std::size_t size);

 private:
#ifdef _WIN32
  void* handle_ = nullptr;
#else
  int fd_ = -1;
#endif
  std::string why_;
  bool missing_ = false;
};

struct WholeFile {
  std::optional<std::string> bytes;
  std::string why;  // without bytes
  bool missing = false;
};
// A regular file of at most maxBytes, whole.
WholeFile ReadWholeFile(const std::filesystem::path& path, std::size_t maxBytes);

}  // namespace pasotune::feed
