#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace velkor {

// One line per received line: "HH:MM:SS.mmm<TAB>line<TAB>what the engine did". A thread of its
// own writes the lines, so a slow disk never holds the engine: a line is normally in the file
// before its reply goes out, but once a write takes longer than kSlowWrite, or has not returned
// after kPatience, nobody waits for the writer until it is fast again with nothing queued; lines
// it cannot take (a queue past kMaxQueuedBytes, a full disk) are dropped and counted. The file
// marks each gap with the number lost there, and standard error says once that lines were lost.
class Transcript {
 public:
  static constexpr std::chrono::milliseconds kSlowWrite{50};
  static constexpr std::chrono::milliseconds kPatience{250};
  static constexpr std::size_t kMaxQueuedBytes = 1024 * 1024;

  // Writes what it is given to the transcript: empty, or why it could not.
  using Writer = std::function<std::string(std::string_view bytes)>;
  // warn hears the once-only line about lost lines, in Spanish for the window (standard error
  // when empty).
  explicit Transcript(std::function<void(const std::string&)> warn = {});
  Transcript(const Transcript&) = delete;
  Transcript& operator=(const Transcript&) = delete;
  // Writes what waits, unless the writer is stuck.
  ~Transcript();

  // Appends to the file, opened as velkor.conf is (a regular file only, never through a link,
  // never blocking); returns an empty string or the reason it could not.
  std::string open(const std::filesystem::path& file);
  // Writes through write instead of a file.
  void open(Writer write);
  bool enabled() const;
  void record(std::string_view received, std::string_view action);
  // Lines lost so far.
  std::uint64_t lost() const;

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};

}  // namespace velkor
