#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velkor {

// MAIN is the band the radio transmits the uplink on, SUB the one it receives the downlink on.
enum class Band { kMain, kSub };

enum class Mode { kUsb, kLsb, kCw, kCwR, kCwN, kFm, kFmN, kFmW, kAm, kUsbData, kLsbData, kFmData };

std::string_view bandName(Band band);
std::string_view modeName(Mode mode);
// Satellite trackers spell modes in many ways ("CW-R", "cwr", "FM-N", "NFM"); all map here.
std::optional<Mode> parseMode(std::string_view text);

// The program puts its window back to "connect" whenever a reply holds "ERROR", so the two
// ways a command can go wrong are kept apart: kFailed needs the user (the port cannot be opened,
// the radio stopped answering), kRefused is a value this radio cannot take (a band it lacks, a
// mode, a tone), which the user can do nothing about and the program must not take for a
// broken link.
struct Outcome {
  enum class Kind { kDone, kQueued, kRefused, kFailed };

  Kind kind = Kind::kDone;
  std::string reason;
  // The radio stopped answering: close it and reopen it before the next command.
  bool linkLost = false;

  static Outcome done() { return {}; }
  static Outcome queued() { return {Kind::kQueued, {}, false}; }
  static Outcome refused(std::string why) { return {Kind::kRefused, std::move(why), false}; }
  static Outcome failed(std::string why, bool lost = false) {
    return {Kind::kFailed, std::move(why), lost};
  }
  bool ok() const { return kind == Kind::kDone || kind == Kind::kQueued; }
};

struct ToneState {
  bool on = false;
  int tenthsHz = 0;
  bool operator==(const ToneState&) const = default;
};

inline constexpr std::string_view kNoPortOpen =
    "sin puerto abierto: elija el puerto de la radio y pulse Conectar";

// Narrow and normal are one mode as far as a radio can report it: the TS-790 has no narrow FM
// filter at all, and Hamlib reads the width back as normal.
bool sameMode(Mode a, Mode b);

class Radio {
 public:
  virtual ~Radio() = default;

  // Closes whatever was open first, so a failed SETPORT leaves no port open.
  virtual Outcome open(const std::string& port) = 0;
  virtual void close() = 0;
  virtual Outcome setFrequency(Band band, std::int64_t hz) = 0;
  virtual Outcome setMode(Band band, Mode mode) = 0;
  virtual Outcome setTone(int tenthsHz) = 0;
  virtual Outcome toneOff() = 0;

  // What open() reached, for the ready line: "Kenwood TS-790 en COM1 (/dev/ttyS0, 4800
  // baudios)".
  virtual std::string description() const = 0;
  // What the user should know about the radio just opened (another model answered, another
  // program holds its port), each said after the ready line.
  virtual std::vector<std::string> openNotes() { return {}; }

  // What the radio reports right now; empty when it cannot say.
  virtual std::optional<std::int64_t> frequency(Band band) = 0;
  virtual std::optional<Mode> mode(Band band) = 0;
  virtual std::optional<ToneState> tone() = 0;
};

}  // namespace velkor
