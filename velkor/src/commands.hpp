#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "radio.hpp"

namespace velkor {

inline constexpr std::string_view kReadyReply = "Velkor READY";
// Only for what the user has to act on: the program shows its "connect" look on any reply
// holding "ERROR".
inline std::string errorReply(std::string_view reason) {
  return "ERROR " + std::string(reason);
}
// A line the engine did not carry out and nobody needs to act on; it never holds "ERROR".
inline std::string notDoneReply(std::string_view what) {
  return "NOT DONE " + std::string(what);
}
// SETPORT takes COM1 to this, as the program offers them; the device behind each is the user's
// choice in velkor.conf, never the client's, so nothing else is ever opened.
inline constexpr int kLastPort = 20;

struct Command {
  enum class Kind { kSetPort, kSetFrequency, kSetMode, kSetTone, kToneOff };

  Kind kind = Kind::kSetPort;
  Band band = Band::kMain;
  std::string port;
  std::int64_t hz = 0;
  Mode mode = Mode::kUsb;
  int tenthsHz = 0;
};

struct ParseResult {
  std::optional<Command> command;
  std::string error;  // set when command is empty
  // A SETPORT that names no port that could be opened: the user has to pick another.
  bool needsUser = false;
};

// "432.1500" or "432,1500" (regional settings may use a comma) to Hz, exactly.
std::optional<std::int64_t> parseMegahertz(std::string_view text);
// "88.5" or "88,5" to tenths of Hz.
std::optional<int> parseTone(std::string_view text);
ParseResult parseCommand(std::string_view line);

std::string formatHz(std::int64_t hz);  // "432.150000 MHz"
std::string formatTone(int tenthsHz);   // "88.5 Hz"

// What the engine did with one received line: the reply to send, if any, and a note for the
// transcript.
struct Handled {
  std::optional<std::string> reply;
  std::string action;
  std::vector<std::string> more;  // lines that follow the reply
};

// "MAIN frecuencia 432.150000 MHz", "SUB modo USB", "tono 88.5 Hz": a setting as the user
// reads it in NOT DONE lines.
std::string frequencyWhat(Band band, std::int64_t hz);
std::string modeWhat(Band band, Mode mode);
std::string toneWhat(const ToneState& tone);
// "Velkor READY: " and what the radio is.
std::string readyReply(std::string_view description);

class Dispatcher {
 public:
  // afterPort: lines said once, after the first answer to SETPORT of the run (what velkor.conf
  // had that the engine did not take); a port name refused unseen is answered alone.
  explicit Dispatcher(Radio& radio, std::vector<std::string> afterPort = {});
  Handled handle(std::string_view line);

 private:
  Radio& radio_;
  std::vector<std::string> afterPort_;
  bool noPortSaid_ = false;
};

}  // namespace velkor
