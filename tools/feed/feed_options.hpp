// What pasotune-feed is told on its command line, and the records that
// follow from it. The same for the D-Bus and the DDE publisher.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gpredict_radio.hpp"
#include "synthetic_pass.hpp"

namespace pasotune::feed {

enum class Mode { kFile, kPass, kOnce, kStdin, kGpredict };

// A port that answers Gpredict as a radio would: F and I both ways
// (--gpredict), or one direction only (--gpredict-down, --gpredict-up).
struct GpredictPort {
  gpredict::Role role;
  int port;
  bool operator==(const GpredictPort&) const = default;
};

// A pass at 1000 times real time is one record a millisecond; at 0.01 one
// every 100 s.
inline constexpr double kMinSpeed = 0.01;
inline constexpr double kMaxSpeed = 1000;

struct Options {
  Mode mode = Mode::kOnce;
  std::string file;
  int intervalMs = 1000;
  bool loop = false;
  Pass pass;
  double startS = 0;
  double speed = 1;
  std::string once;
  bool exitAtEnd = false;
  bool quiet = false;
  std::string service = "Orbitron";
  std::string topic = "Tracking";
  std::string item = "TrackingData";
  std::vector<GpredictPort> gpredictPorts;
  std::string gpredictConfig;                         // empty: Gpredict's own place
  std::optional<std::string> name, downMode, upMode;  // given for --gpredict
};

// Either the options, or what to print and the status to exit with: 0 with
// the help text for standard output, otherwise a complaint for standard
// error with 1 for a command line it cannot read, 2 for a value it refuses.
struct Parsed {
  std::optional<Options> options;
  int exitCode = 0;
  std::string message;
};

// args without the program's name, UTF-8. description heads the help text.
Parsed ParseArguments(const std::vector<std::string>& args, std::string_view description);

// Says what on standard error: "pasotune-feed: what".
void Tell(const std::string& what);
// Says on standard error why the program ends ("pasotune-feed: why"); code.
int Fail(const std::string& why, int code);
// When the command line ends the program: help printed on standard output
// (0), or its error (the error's code). Nothing when the program goes on.
std::optional<int> EndedEarly(const Parsed& parsed);

// Hands out the records one at a time (UTF-8); nothing when there are no more.
using Source = std::function<std::optional<std::string>()>;

struct Records {
  Source next;
  int periodMs = 1000;  // between records
  std::string error;    // why there are none; next is empty then
};
// Reads the file of --file (a regular file only); --stdin and --gpredict
// start with the empty record. Every record ends in CR LF, as the tracker's
// do.
Records MakeRecords(const Options& options);

// A record is a few hundred bytes; a line of --file or --stdin is cut here.
inline constexpr std::size_t kMaxLineBytes = 64 * 1024;

// Whole lines out of bytes as they come, without their CR LF or LF, in time
// and memory in step with the bytes. A line past kMaxLineBytes is cut there;
// a line holding a NUL, which would cut the record short for a reader, is
// left out. Each is told once.
class LineSplitter {
 public:
  explicit LineSplitter(std::function<void(const std::string&)> tell = &Tell);
  std::vector<std::string> Add(std::string_view bytes);
  // At the end of the input: the last line, if it had no line end.
  std::optional<std::string> Finish();

 private:
  std::optional<std::string> Take();

  std::function<void(const std::string&)> tell_;
  std::string pending_;
  bool cut_ = false;
};

}  // namespace pasotune::feed
