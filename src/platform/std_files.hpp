// Files on the local file system.
#pragma once

#include <cstdint>
#include <functional>
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
// links, a file mounted over), the file is rewritten in place instead: the
// new bytes padded to the old length with empty lines, synced, then the file
// cut to their length, so that at every moment it reads as the old settings
// or the new ones; its old bytes are put back the same way if that fails.
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
  void RemoveLeftovers(const std::string& path) override;

  // The temporary file tried for target with name number n. A write tries
  // numbers from the seed upwards, skipping names already taken.
  static std::string TemporaryName(const std::string& target, std::uint64_t n);
  // Whether name is a file name TemporaryName gives for a target of that name.
  static bool IsTemporaryName(std::string_view name, std::string_view targetName);

  // Called before each step of an in-place write with the step's name; true
  // makes that step fail. Lets tests look at the file between the steps and
  // stop a write at any of them.
  using StepHook = std::function<bool(const char* step)>;
  void SetStepHook(StepHook hook) { stepHook_ = std::move(hook); }

 private:
  std::string folder_;
  std::uint64_t nextName_;
  StepHook stepHook_;
};

// bytes followed by empty lines (CR LF, a lone CR for an odd byte) up to
// size bytes, which the settings reader skips; bytes alone when longer.
std::string PaddedTo(std::string_view bytes, std::uint64_t size);

}  // namespace pasotune
