// Files on the local file system.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ports.hpp"

namespace pasotune {

// Reads only plain files, without ever blocking on a special one.
//
// A write goes to a new temporary file beside the target, created exclusively
// and never through a link, flushed to the disk and then renamed over the
// target, so a crash leaves the old file or the new one, never half of one.
// It keeps what a plain write keeps:
// - a file the user may not write (read-only mode on POSIX, the read-only
//   attribute on Windows) is refused, not replaced;
// - the file's mode, and its owner where allowed;
// - a symbolic link stays, the file it points to is replaced.
// Where the temporary file cannot take the target's place (a folder that
// refuses new files, an owner that cannot be kept, a file with other hard
// links, a file mounted over), the file is rewritten in place instead, and
// its old bytes are put back if that write fails.
class StdFiles : public Files {
 public:
  explicit StdFiles(std::string programFolder);
  // nameSeed picks the temporary names tried, so tests can plant things there.
  StdFiles(std::string programFolder, std::uint64_t nameSeed)
      : folder_(std::move(programFolder)), nextName_(nameSeed) {}

  std::string ProgramFolder() override { return folder_; }
  bool IsPlainFile(const std::string& path) override;
  std::string ReadBytes(const std::string& path, std::size_t maxBytes) override;
  void WriteBytes(const std::string& path, std::string_view bytes) override;

  // The temporary file tried for target with name number n. A write tries
  // numbers from the seed upwards, skipping names already taken.
  static std::string TemporaryName(const std::string& target, std::uint64_t n);

 private:
  std::string folder_;
  std::uint64_t nextName_;
};

}  // namespace pasotune
