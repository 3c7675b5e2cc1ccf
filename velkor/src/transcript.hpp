#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace velkor {

// One line per received line: "HH:MM:SS.mmm<TAB>line<TAB>what the engine did". Flushed per
// line so the file can be read while the engine runs.
class Transcript {
 public:
  Transcript() = default;
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  ~Transcript();

  // Appends to the file; returns an empty string or the reason it could not.
  std::string open(const std::filesystem::path& file);
  bool enabled() const { return file_ != nullptr; }
  void record(std::string_view received, std::string_view action);

 private:
  std::FILE* file_ = nullptr;
};

}  // namespace velkor
