#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// Cuts a byte stream into lines ended by LF (an optional CR before it is dropped). A line
// longer than the cap is reported once, with its first bytes, and skipped up to its end so a
// flood cannot grow memory.
class LineSplitter {
 public:
  struct Piece {
    enum class Kind { kLine, kTooLong };
    Kind kind;
    std::string bytes;  // the line, or the start of an overlong one
  };

  static constexpr std::size_t kDefaultCap = 4096;
  static constexpr std::size_t kTooLongPrefix = 64;

  explicit LineSplitter(std::size_t cap = kDefaultCap) : cap_(cap) {}

  std::vector<Piece> feed(std::string_view data);
  // The unfinished line, e.g. when the client leaves mid-line; the splitter starts afresh.
  std::string takePartial();
  std::size_t cap() const { return cap_; }

 private:
  std::size_t cap_;
  std::string buffer_;
  bool discarding_ = false;
};

}  // namespace velkor
