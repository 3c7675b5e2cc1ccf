#include "gpredict_radio.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <utility>

#include "tracker_record.hpp"

namespace pasotune::feed::gpredict {

namespace {

enum class Kind {
  kSetFreq,
  kGetFreq,
  kSetUpFreq,
  kGetUpFreq,
  kSetSplit,
  kGetPtt,
  kSetPtt,
  kSetVfo,
  kGetVfo,
  kGetDcd,
  kCheckVfo,
  kSetVfoOption,
  kDumpState,
  kSignal,  // AOS, LOS
  kQuit,
};

struct Command {
  std::string_view shortName;  // empty: long form only
  std::string_view longName;
  Kind kind;
  std::size_t args;  // without the VFO
  bool takesVfo;     // may come with a VFO first (Gpredict 2.6)
};

// rigctld's short and long names of what Gpredict 2.3 and 2.6 send; get_dcd's
// short name is the byte 0x8b.
constexpr Command kCommands[] = {
    {"F", "set_freq", Kind::kSetFreq, 1, true},
    {"f", "get_freq", Kind::kGetFreq, 0, true},
    {"I", "set_split_freq", Kind::kSetUpFreq, 1, true},
    {"i", "get_split_freq", Kind::kGetUpFreq, 0, true},
    {"S", "set_split_vfo", Kind::kSetSplit, 2, true},
    {"t", "get_ptt", Kind::kGetPtt, 0, true},
    {"T", "set_ptt", Kind::kSetPtt, 1, true},
    {"V", "set_vfo", Kind::kSetVfo, 1, false},
    {"v", "get_vfo", Kind::kGetVfo, 0, false},
    {"\x8b", "get_dcd", Kind::kGetDcd, 0, true},
    {"", "chk_vfo", Kind::kCheckVfo, 0, false},
    {"", "set_vfo_opt", Kind::kSetVfoOption, 1, false},
    {"", "dump_state", Kind::kDumpState, 0, false},
    {"AOS", "", Kind::kSignal, 0, false},
    {"LOS", "", Kind::kSignal, 0, false},
    {"q", "quit", Kind::kQuit, 0, false},
    {"Q", "", Kind::kQuit, 0, false},
};

// Hamlib's error numbers, negated on the wire.
constexpr std::string_view kOk = "RPRT 0\n";
constexpr std::string_view kInvalid = "RPRT -1\n";       // RIG_EINVAL
constexpr std::string_view kUnavailable = "RPRT -11\n";  // RIG_ENAVAIL

// A radio with nothing to say about itself, short enough for one read of
// Gpredict's 128-byte buffer.
constexpr std::string_view kDumpState =
    "0\n1\n2\n0 0 0 0 0 0 0\n0 0 0 0 0 0 0\n0 0\n0 0\n0\n0\n0\n0\n\n\n"
    "0x0\n0x0\n0x0\n0x0\n0x0\n0x0\n";

std::vector<std::string_view> Words(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

const Command* Find(std::string_view word) {
  const bool isLong = !word.empty() && word.front() == '\\';
  if (isLong) word.remove_prefix(1);
  for (const Command& c : kCommands) {
    if (isLong ? c.longName == word : c.shortName == word) return &c;
  }
  return nullptr;
}

// Whole Hz from rigctld's number ("145950000", "145950000.000000");
// nothing for anything else.
std::optional<std::int64_t> Hertz(std::string_view text) {
  double hz = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), hz);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(hz) || hz < 0 || hz > 1e12) return std::nullopt;
  return std::llround(hz);
}

}  // namespace

std::string TurnedAway(int port) {
  return "se rechaza un segundo cliente en el puerto " + std::to_string(port) +
         ": una radio de Gpredict por puerto";
}

Session::Session(Role role, RadioMemory& memory, std::function<void(Direction, std::int64_t)> tuned,
                 std::function<void(const std::string&)> complain)
    : role_(role), memory_(memory), tuned_(std::move(tuned)), complain_(std::move(complain)) {}

Session::Output Session::Receive(std::string_view bytes) {
  Output out;
  while (!bytes.empty() && !ended_) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view part = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    if (!overlong_) {
      pending_.append(part);
      if (pending_.size() > kMaxLineBytes) {
        overlong_ = true;
        complain_("se rechaza una línea de más de " + std::to_string(kMaxLineBytes) +
                  " bytes: " + Shown(pending_));
        pending_.clear();
      }
    }
    if (lf == std::string_view::npos) break;
    if (overlong_) {
      out.reply += kInvalid;
      overlong_ = false;
      continue;
    }
    std::string line = std::exchange(pending_, {});
    if (!line.empty() && line.back() == '\r') line.pop_back();
    Output one = Answer(line);
    out.reply += one.reply;
    if (one.end) {
      out.end = ended_ = true;
    }
  }
  return out;
}

void Session::Closed() {
  if (!pending_.empty() || overlong_) {
    complain_("el cliente se fue a mitad de una línea: " + Shown(pending_));
  }
  pending_.clear();
  overlong_ = false;
}

Session::Output Session::Answer(std::string_view line) {
  std::vector<std::string_view> words = Words(line);
  if (words.empty()) return {};
  const Command* command = Find(words.front());
  if (!command) {
    complain_("se rechaza una orden desconocida: " + Shown(line));
    return {std::string(kUnavailable)};
  }
  words.erase(words.begin());
  std::string_view vfo;
  if (command->takesVfo && words.size() == command->args + 1) {
    vfo = words.front();
    words.erase(words.begin());
  }
  if (words.size() != command->args) {
    complain_("se rechaza una orden con un número de valores que no es el suyo: " + Shown(line));
    return {std::string(kInvalid)};
  }
  // A one-direction port takes its direction whatever the command; a duplex
  // one reads F as the downlink unless it names the transmit VFO.
  const auto direction = [&](Direction asked) {
    if (role_ == Role::kDownlink) return Direction::kDown;
    if (role_ == Role::kUplink) return Direction::kUp;
    if (asked == Direction::kDown && !vfo.empty() && vfo != "currVFO" && vfo == memory_.txVfo) {
      return Direction::kUp;
    }
    return asked;
  };
  const auto hz = [&](Direction d) -> std::int64_t& {
    return d == Direction::kDown ? memory_.downHz : memory_.upHz;
  };
  switch (command->kind) {
    case Kind::kSetFreq:
    case Kind::kSetUpFreq: {
      const std::optional<std::int64_t> value = Hertz(words[0]);
      if (!value) {
        complain_("se rechaza una frecuencia que no lo es: " + Shown(line));
        return {std::string(kInvalid)};
      }
      const Direction d =
          direction(command->kind == Kind::kSetFreq ? Direction::kDown : Direction::kUp);
      hz(d) = *value;
      tuned_(d, *value);
      return {std::string(kOk)};
    }
    case Kind::kGetFreq:
    case Kind::kGetUpFreq:
      return {std::to_string(hz(
                  direction(command->kind == Kind::kGetFreq ? Direction::kDown : Direction::kUp))) +
              "\n"};
    case Kind::kSetSplit:
      memory_.txVfo = std::string(words[1]);
      return {std::string(kOk)};
    case Kind::kSetVfo:
      memory_.vfo = std::string(words[0]);
      return {std::string(kOk)};
    case Kind::kGetVfo:
      return {memory_.vfo + "\n"};
    case Kind::kGetPtt:
    case Kind::kGetDcd:
    case Kind::kCheckVfo:
      return {"0\n"};
    case Kind::kSetPtt:
    case Kind::kSetVfoOption:
    case Kind::kSignal:
      return {std::string(kOk)};
    case Kind::kDumpState:
      return {std::string(kDumpState)};
    case Kind::kQuit:
      return {{}, true};
  }
  return {std::string(kUnavailable)};
}

Conversation::Conversation(Role role, RadioMemory& memory,
                           std::function<void(Direction, std::int64_t)> tuned,
                           std::function<void(const std::string&)> complain, Clock::time_point now)
    : session_(role, memory, std::move(tuned), std::move(complain)), lastProgress_(now) {}

void Conversation::Received(std::string_view bytes, Clock::time_point now) {
  lastProgress_ = now;
  if (Ending()) return;
  Session::Output out = session_.Receive(bytes);
  out_ += out.reply;
  quit_ = out.end;
}

void Conversation::InputEnded() {
  if (!quit_) session_.Closed();
  inputEnded_ = true;
}

void Conversation::Sent(std::size_t bytes, Clock::time_point now) {
  if (bytes == 0) return;
  lastProgress_ = now;
  sent_ += bytes;
  // Dropped from the front only now and then, so sending stays linear.
  if (sent_ == out_.size()) {
    out_.clear();
    sent_ = 0;
  } else if (sent_ > kMaxUnsent) {
    out_.erase(0, sent_);
    sent_ = 0;
  }
}

std::optional<Conversation::Clock::time_point> Conversation::GiveUpAt() const {
  if (Unsent().empty() || WantsInput()) return std::nullopt;
  return lastProgress_ + kPatience;
}

std::string GaveUp(int port) {
  return "un cliente del puerto " + std::to_string(port) + " no tomó ninguna respuesta en " +
         std::to_string(Conversation::kPatience.count()) + " s: se cierra";
}

}  // namespace pasotune::feed::gpredict
