// What pasotune-dde-bridge is told on its command line, and how a tracker's
// value becomes one line of its output. Plain C++, so it is tested anywhere.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pasotune::bridge {

struct Options {
  std::string service = "Orbitron";
  std::string topic = "Tracking";
  std::string item = "TrackingData";
  // Between attempts to link while the tracker is absent, and between checks
  // that it still answers while linked.
  int retryMs = 2000;
};

inline constexpr int kMinRetryMs = 100;
inline constexpr int kMaxRetryMs = 60000;

// Either the options, or what to print and the status to exit with: 0 with
// the help text for standard output, otherwise 1 with a complaint for
// standard error.
struct Parsed {
  std::optional<Options> options;
  int exitCode = 0;
  std::string message;
};

// args without the program's name, UTF-8.
Parsed ParseArguments(const std::vector<std::string>& args);

// One value, one line ending in LF: line ends inside the value would split
// it into records the reader takes apart, so they become blanks, and those
// at its end go.
std::string AsLine(std::string_view value);

}  // namespace pasotune::bridge
