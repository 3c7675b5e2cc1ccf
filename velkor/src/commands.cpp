#include "commands.hpp"

#include <array>
#include <cctype>
#include <cstdio>
#include <utility>

#include "settings.hpp"
#include "text.hpp"

namespace velkor {
namespace {

struct ModeName {
  std::string_view text;
  Mode mode;
};

// The first spelling of each mode is its canonical name.
constexpr std::array<ModeName, 24> kModeNames{{
    {"USB", Mode::kUsb},
    {"LSB", Mode::kLsb},
    {"CW", Mode::kCw},
    {"CW-R", Mode::kCwR},
    {"CWR", Mode::kCwR},
    {"CW-N", Mode::kCwN},
    {"CWN", Mode::kCwN},
    {"FM", Mode::kFm},
    {"FM-N", Mode::kFmN},
    {"FMN", Mode::kFmN},
    {"NFM", Mode::kFmN},
    {"FM-W", Mode::kFmW},
    {"WFM", Mode::kFmW},
    {"FMW", Mode::kFmW},
    {"AM", Mode::kAm},
    {"USB-D", Mode::kUsbData},
    {"DATA-USB", Mode::kUsbData},
    {"PKTUSB", Mode::kUsbData},
    {"LSB-D", Mode::kLsbData},
    {"DATA-LSB", Mode::kLsbData},
    {"PKTLSB", Mode::kLsbData},
    {"FM-D", Mode::kFmData},
    {"DATA-FM", Mode::kFmData},
    {"PKTFM", Mode::kFmData},
}};

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool consume(std::string_view& s, std::string_view prefix) {
  if (s.substr(0, prefix.size()) != prefix) return false;
  s.remove_prefix(prefix.size());
  return true;
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Digits, then optionally '.' or ',' and more digits; returns value scaled by 10^decimals.
// Each digit count is checked before the digit is taken: the value never holds more than
// maxWhole + decimals digits, so no input can overflow it.
std::optional<std::int64_t> parseDecimal(std::string_view text, std::size_t maxWhole,
                                         std::size_t decimals) {
  std::int64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && isDigit(text[i]); ++i) {
    if (i == maxWhole) return std::nullopt;
    value = value * 10 + (text[i] - '0');
  }
  if (i == 0) return std::nullopt;
  std::size_t fraction = 0;
  if (i < text.size()) {
    if (text[i] != '.' && text[i] != ',') return std::nullopt;
    for (++i; i < text.size(); ++i) {
      if (!isDigit(text[i]) || fraction == decimals) return std::nullopt;
      value = value * 10 + (text[i] - '0');
      ++fraction;
    }
    if (fraction == 0) return std::nullopt;
  }
  for (; fraction < decimals; ++fraction) value *= 10;
  return value;
}

constexpr std::string_view kNoPortName = "SETPORT sin puerto: elija el puerto en Pasotune";

ParseResult fail(std::string error) {
  return {std::nullopt, std::move(error)};
}

ParseResult badPort(std::string error) {
  return {std::nullopt, std::move(error), true};
}

std::string echo(std::string_view text) {
  return echoText(text);
}

ParseResult parseBandCommand(std::string_view rest, Command::Kind kind) {
  Command command;
  command.kind = kind;
  if (consume(rest, "MAIN ")) {
    command.band = Band::kMain;
  } else if (consume(rest, "SUB ")) {
    command.band = Band::kSub;
  } else {
    return fail("se esperaba MAIN o SUB: " + echo(rest));
  }
  rest = trim(rest);
  if (kind == Command::Kind::kSetFrequency) {
    const auto hz = parseMegahertz(rest);
    if (!hz) return fail("frecuencia no válida: " + echo(rest));
    command.hz = *hz;
  } else {
    const auto mode = parseMode(rest);
    if (!mode) return fail("modo desconocido: " + echo(rest));
    command.mode = *mode;
  }
  return {command, {}};
}

std::string describe(const Outcome& outcome, std::string_view what) {
  switch (outcome.kind) {
    case Outcome::Kind::kDone:
      return std::string(what);
    case Outcome::Kind::kQueued:
      return "queued: " + std::string(what);
    case Outcome::Kind::kRefused:
      return "refused: " + std::string(what);
    case Outcome::Kind::kFailed:
      break;
  }
  return "failed: " + std::string(what);
}

}  // namespace

bool sameMode(Mode a, Mode b) {
  const auto wide = [](Mode m) {
    if (m == Mode::kCwN) return Mode::kCw;
    if (m == Mode::kFmN) return Mode::kFm;
    return m;
  };
  return wide(a) == wide(b);
}

std::string_view bandName(Band band) {
  return band == Band::kMain ? "MAIN" : "SUB";
}

std::string_view modeName(Mode mode) {
  for (const auto& entry : kModeNames) {
    if (entry.mode == mode) return entry.text;
  }
  return "?";
}

std::optional<Mode> parseMode(std::string_view text) {
  for (const auto& entry : kModeNames) {
    if (equalsIgnoreCase(entry.text, text)) return entry.mode;
  }
  return std::nullopt;
}

std::optional<std::int64_t> parseMegahertz(std::string_view text) {
  // Five whole digits reach 99 GHz; six decimals are 1 Hz.
  return parseDecimal(text, 5, 6);
}

std::optional<int> parseTone(std::string_view text) {
  const auto tenths = parseDecimal(text, 4, 1);
  if (!tenths || *tenths == 0) return std::nullopt;
  return static_cast<int>(*tenths);
}

ParseResult parseCommand(std::string_view line) {
  line = trim(line);
  std::string_view rest = line;
  if (line == "SETPORT") return badPort(std::string(kNoPortName));
  if (consume(rest, "SETPORT ")) {
    rest = trim(rest);
    if (rest.empty()) return badPort(std::string(kNoPortName));
    // Nothing else reaches the radio code or a file name: no control character, no path.
    const auto number = comPortNumber(rest);
    if (!number || *number > kLastPort) {
      return badPort(echo(rest) + ": no es un nombre de puerto (COM1 a COM" +
                     std::to_string(kLastPort) + "; los dispositivos, en velkor.conf)");
    }
    Command command;
    command.kind = Command::Kind::kSetPort;
    command.port = std::string(rest);
    return {command, {}};
  }
  if (consume(rest, "SET FREQ ")) return parseBandCommand(rest, Command::Kind::kSetFrequency);
  if (consume(rest, "SET MODE ")) return parseBandCommand(rest, Command::Kind::kSetMode);
  if (consume(rest, "SET TONE ")) {
    rest = trim(rest);
    Command command;
    if (equalsIgnoreCase(rest, "OFF")) {
      command.kind = Command::Kind::kToneOff;
      return {command, {}};
    }
    const auto tenths = parseTone(rest);
    if (!tenths) return fail("tono no válido: " + echo(rest));
    command.kind = Command::Kind::kSetTone;
    command.tenthsHz = *tenths;
    return {command, {}};
  }
  return fail("orden desconocida: " + echo(line));
}

std::string formatHz(std::int64_t hz) {
  char text[48];
  std::snprintf(text, sizeof text, "%lld.%06lld MHz", static_cast<long long>(hz / 1000000),
                static_cast<long long>(hz % 1000000));
  return text;
}

std::string formatTone(int tenthsHz) {
  return std::to_string(tenthsHz / 10) + "." + std::to_string(tenthsHz % 10) + " Hz";
}

std::string frequencyWhat(Band band, std::int64_t hz) {
  return std::string(bandName(band)) + " frecuencia " + formatHz(hz);
}

std::string modeWhat(Band band, Mode mode) {
  return std::string(bandName(band)) + " modo " + std::string(modeName(mode));
}

std::string toneWhat(const ToneState& tone) {
  return tone.on ? "tono " + formatTone(tone.tenthsHz) : std::string("tono apagado");
}

std::string readyReply(std::string_view description) {
  return std::string(kReadyReply) + ": " + std::string(description);
}

Dispatcher::Dispatcher(Radio& radio, std::vector<std::string> afterPort)
    : radio_(radio), afterPort_(std::move(afterPort)) {}

Handled Dispatcher::handle(std::string_view line) {
  if (trim(line).empty()) return {std::nullopt, "ignored: empty line", {}};
  const ParseResult parsed = parseCommand(line);
  if (!parsed.command) {
    if (!parsed.needsUser) return {notDoneReply(parsed.error), "rejected", {}};
    // As after any failed SETPORT, no port is left open.
    radio_.close();
    noPortSaid_ = false;
    return {errorReply(parsed.error), "rejected", {}};
  }
  const Command& command = *parsed.command;
  Outcome outcome;
  std::string what;
  switch (command.kind) {
    case Command::Kind::kSetPort:
      noPortSaid_ = false;
      outcome = radio_.open(command.port);
      what = "open " + echo(command.port);
      break;
    case Command::Kind::kSetFrequency:
      outcome = radio_.setFrequency(command.band, command.hz);
      what = frequencyWhat(command.band, command.hz);
      break;
    case Command::Kind::kSetMode:
      outcome = radio_.setMode(command.band, command.mode);
      what = modeWhat(command.band, command.mode);
      break;
    case Command::Kind::kSetTone:
      outcome = radio_.setTone(command.tenthsHz);
      what = toneWhat({true, command.tenthsHz});
      break;
    case Command::Kind::kToneOff:
      outcome = radio_.toneOff();
      what = toneWhat({false, 0});
      break;
  }
  Handled handled{std::nullopt, describe(outcome, what), {}};
  const bool portAnswer =
      command.kind == Command::Kind::kSetPort && outcome.kind != Outcome::Kind::kQueued;
  if (outcome.kind == Outcome::Kind::kFailed && outcome.reason == kNoPortOpen) {
    // A link whose port failed keeps bringing the tracker's commands: one line says why
    // they go nowhere, the rest are silent until the next SETPORT.
    if (noPortSaid_) return {std::nullopt, "ignored: no port open", {}};
    noPortSaid_ = true;
    handled.reply = errorReply(outcome.reason);
  } else if (outcome.kind == Outcome::Kind::kFailed) {
    handled.reply = errorReply(outcome.reason);
  } else if (outcome.kind == Outcome::Kind::kRefused) {
    handled.reply = notDoneReply(what + ": " + outcome.reason);
  } else if (portAnswer) {
    handled.reply = readyReply(radio_.description());
  }
  if (portAnswer) handled.more = std::exchange(afterPort_, {});
  return handled;
}

}  // namespace velkor
