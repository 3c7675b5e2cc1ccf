// Files on the local file system, with the standard library only.
#pragma once

#include <string>

#include "platform/ports.hpp"

namespace pasotune {

class StdFiles : public Files {
 public:
  explicit StdFiles(std::string programFolder) : folder_(std::move(programFolder)) {}
  std::string ProgramFolder() override { return folder_; }
  bool IsPlainFile(const std::string& path) override;
  std::string ReadBytes(const std::string& path, std::size_t maxBytes) override;
  // Written to a temporary file beside the target, then renamed over it, so
  // a crash or power loss leaves the old file or the new one, never half.
  void WriteBytes(const std::string& path, std::string_view bytes) override;

 private:
  std::string folder_;
};

}  // namespace pasotune
