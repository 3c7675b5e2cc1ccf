#include "ts790_radio.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <utility>

#include "commands.hpp"
#include "port_problem.hpp"
#include "serial.hpp"
#include "text.hpp"

namespace velkor {
namespace {

// The TS-790's tone encoder, in tenths of Hz, TN01 first. It has no 97.4 Hz.
constexpr int kTones[] = {670,  719,  744,  770,  797,  825,  854,  885,  915,  948,
                          1000, 1035, 1072, 1109, 1148, 1188, 1230, 1273, 1318, 1365,
                          1413, 1462, 1514, 1567, 1622, 1679, 1738, 1799, 1862, 1928,
                          2035, 2107, 2181, 2257, 2336, 2418, 2503};

struct KenwoodId {
  std::string_view id;
  std::string_view name;
  int hamlibModel;
};

// Kenwood's answers to "ID;" and the models behind them, with Hamlib's numbers for them.
constexpr KenwoodId kIds[] = {
    {"001", "TS-940", 2011},  {"002", "TS-811", 2008},  {"003", "TS-711", 2006},
    {"004", "TS-440", 2002},  {"005", "R-5000", 2015},  {"006", "TS-140S", 2025},
    {"007", "TS-790", 2007},  {"008", "TS-950", 2012},  {"009", "TS-850", 2009},
    {"010", "TS-450S", 2003}, {"011", "TS-690S", 2005}, {"012", "TS-950SDX", 2013},
    {"013", "TS-50", 2001},   {"015", "TS-870S", 2010}, {"017", "TS-570D", 2004},
    {"018", "TS-570S", 2016}, {"019", "TS-2000", 2014}, {"020", "TS-480", 2028},
    {"021", "TS-590S", 2031}, {"022", "TS-990S", 2039}, {"023", "TS-590SG", 2037},
    {"024", "TS-890S", 2041},
};

// Kenwood's mode digits; narrow filters are the radio's own business.
char modeCode(Mode mode) {
  switch (mode) {
    case Mode::kLsb:
      return '1';
    case Mode::kUsb:
      return '2';
    case Mode::kCw:
    case Mode::kCwN:
      return '3';
    case Mode::kFm:
    case Mode::kFmN:
      return '4';
    default:
      return 0;
  }
}

std::optional<Mode> modeOf(char code) {
  switch (code) {
    case '1':
      return Mode::kLsb;
    case '2':
      return Mode::kUsb;
    case '3':
      return Mode::kCw;
    case '4':
      return Mode::kFm;
    default:
      return std::nullopt;
  }
}

constexpr std::int64_t kMaxHz = 99'999'999'999;  // eleven digits
// An answer is at most the 38 bytes of IF; a longer one is noise.
constexpr std::size_t kMaxAnswer = 48;
// What one exchange may read before it stops listening to a line that only makes noise.
constexpr std::size_t kMaxBytes = 1024;
// The radio's own time to answer, beyond the bytes' time on the line.
constexpr auto kAnswerMargin = std::chrono::milliseconds(500);
// A line this long without a byte is quiet; a line never quiet is given up on after kQuietBound.
constexpr auto kQuiet = std::chrono::milliseconds(50);
constexpr auto kQuietBound = std::chrono::milliseconds(500);

bool digits(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return !text.empty();
}

long long number(std::string_view text) {
  long long n = 0;
  std::from_chars(text.data(), text.data() + text.size(), n);
  return n;
}

// "IF" then 35 characters and ";": the current VFO's frequency and what goes with it.
struct Status {
  std::int64_t hz = 0;
  std::optional<Mode> mode;
  char vfo = 0;
  bool toneOn = false;
  int toneNumber = 0;
};

std::optional<Status> parseStatus(std::string_view answer) {
  if (answer.size() != 38 || !digits(answer.substr(2, 11)) || !digits(answer.substr(34, 2))) {
    return std::nullopt;
  }
  Status s;
  s.hz = number(answer.substr(2, 11));
  s.mode = modeOf(answer[29]);
  s.vfo = answer[30];
  s.toneOn = answer[33] == '1';
  s.toneNumber = static_cast<int>(number(answer.substr(34, 2)));
  return s;
}

// Whether an answer is the one a read waits for, whole.
bool answers(std::string_view read, std::string_view answer) {
  if (answer.substr(0, 2) != read) return false;
  if (read == "IF") return parseStatus(answer).has_value();
  if (read == "ID") return answer.size() >= 4 && digits(answer.substr(2, answer.size() - 3));
  return answer.size() == 14 && digits(answer.substr(2, 11));  // FA, FB
}

std::string number2(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%02d", n);
  return text;
}

std::size_t index(Band band) {
  return band == Band::kMain ? 0 : 1;
}

char vfoDigit(Band band) {
  return band == Band::kMain ? '0' : '1';
}

}  // namespace

int ts790ToneNumber(int tenthsHz) {
  for (std::size_t i = 0; i < std::size(kTones); ++i) {
    if (kTones[i] == tenthsHz) return static_cast<int>(i) + 1;
  }
  return 0;
}

std::string kenwoodModel(std::string_view id, int* model) {
  for (const auto& k : kIds) {
    if (k.id == id) {
      if (model) *model = k.hamlibModel;
      return std::string(k.name);
    }
  }
  if (model) *model = 0;
  return {};
}

Ts790Radio::Ts790Radio(Settings settings, Opener opener, Trace trace)
    : settings_(std::move(settings)), opener_(std::move(opener)), trace_(std::move(trace)) {
  if (!opener_) {
    opener_ = [this](const std::string& device, int& error) {
      SerialSettings serial;
      serial.speed = settings_.speed;
      serial.hardwareHandshake = settings_.handshake == Settings::Handshake::kHardware;
      return openSerial(device, serial, error);
    };
  }
}

std::string Ts790Radio::description() const {
  return description_;
}

std::vector<std::string> Ts790Radio::openNotes() {
  return notes_;
}

Ts790Radio::Answers Ts790Radio::askOnce(std::string_view commands,
                                        const std::vector<std::string_view>& reads) {
  Answers out;
  out.refused.assign(reads.size(), 0);
  wire_->discard();
  std::string heard;
  struct Traced {
    const Trace& trace;
    std::string_view sent;
    const std::string& heard;
    ~Traced() {
      if (trace) trace(sent, heard);
    }
  } traced{trace_, commands, heard};
  if (!wire_->send(commands)) {
    out.status = Answers::Status::kBroken;
    return out;
  }
  // Each character is 1 start, 8 data and the stop bits on the line.
  const std::size_t chars = commands.size() + 38 * reads.size();
  const auto onLine =
      std::chrono::milliseconds(chars * 1000 * 11 / static_cast<std::size_t>(settings_.speed));
  const auto deadline = Wire::Clock::now() + onLine + kAnswerMargin;
  std::string token;
  bool overlong = false;
  int refusedNow = 0;
  char buffer[64];
  while (out.text.size() < reads.size()) {
    const int n = wire_->receive(buffer, sizeof buffer, deadline);
    if (n < 0) {
      out.status = Answers::Status::kBroken;
      return out;
    }
    if (n == 0) {
      out.status = !heard.empty() ? Answers::Status::kGarbled : Answers::Status::kSilent;
      return out;
    }
    heard.append(buffer, static_cast<std::size_t>(n));
    for (int i = 0; i < n && out.text.size() < reads.size(); ++i) {
      const char c = buffer[i];
      if (c == '\r' || c == '\n' || c == '\0') continue;
      if (c != ';') {
        if (token.size() < kMaxAnswer) {
          token += c;
        } else {
          overlong = true;
        }
        continue;
      }
      token += ';';
      if (overlong) {
        // Noise; what follows the ';' may be sound again.
      } else if (token == "?;") {
        ++refusedNow;
      } else if (token == "E;" || token == "O;") {
        // The radio's own word for a garbled or overrun line: the whole exchange again.
        out.status = Answers::Status::kGarbled;
        return out;
      } else if (answers(reads[out.text.size()], token)) {
        out.refused[out.text.size()] = refusedNow;
        out.text.push_back(token);
        refusedNow = 0;
      }
      token.clear();
      overlong = false;
    }
    if (out.text.size() < reads.size() && heard.size() > kMaxBytes) {
      out.status = Answers::Status::kGarbled;
      return out;
    }
  }
  out.status = Answers::Status::kAnswered;
  return out;
}

Ts790Radio::Answers Ts790Radio::ask(std::string_view commands,
                                    std::vector<std::string_view> reads) {
  Answers out = askOnce(commands, reads);
  if (out.status == Answers::Status::kSilent || out.status == Answers::Status::kGarbled) {
    // One answer lost to the line is not yet a radio that is gone. The rest of a garbled
    // answer is let pass first, within bounds, so the retry hears only its own.
    const auto until = Wire::Clock::now() + kQuietBound;
    char buffer[256];
    for (auto now = Wire::Clock::now(); now < until; now = Wire::Clock::now()) {
      if (wire_->receive(buffer, sizeof buffer, std::min(now + kQuiet, until)) <= 0) break;
    }
    out = askOnce(commands, reads);
  }
  return out;
}

Outcome Ts790Radio::lost(const Answers& answers) const {
  switch (answers.status) {
    case Answers::Status::kGarbled:
      return Outcome::failed(
          "la radio contesta con bytes que no se entienden (¿otra velocidad en la radio que en "
          "velkor.conf?, ¿un cable con ruido?)",
          true);
    case Answers::Status::kBroken:
      return Outcome::failed("el puerto serie dejó de funcionar (¿se desenchufó el cable USB?)",
                             true);
    default:
      return Outcome::failed("la radio no contesta", true);
  }
}

Outcome Ts790Radio::open(const std::string& port) {
  close();
  notes_.clear();
  const auto device = settings_.devicePath(port);
  if (!device) return Outcome::failed(echoText(port) + ": no es un nombre COMn ni un dispositivo");
  int error = 0;
  wire_ = opener_(*device, error);
  if (!wire_) {
    return Outcome::failed(serialFailure(problemOf(Source::kSystem, error), port, *device,
                                         settings_, sys::errorText(error)));
  }
  // Auto-information off first, or the radio would put its status between the answers.
  const Answers id = ask("AI0;ID;", {"ID"});
  if (id.status != Answers::Status::kAnswered) {
    close();
    return Outcome::failed(
        serialFailure(Problem::kNoAnswer, port, *device, settings_, lost(id).reason));
  }
  const std::string where = " en " + echoText(port) + " (" +
                            (*device == port ? std::string() : echoText(*device) + ", ") +
                            std::to_string(settings_.speed) + " baudios)";
  const std::string idNumber = id.text[0].substr(2, id.text[0].size() - 3);
  int model = 0;
  const std::string name = kenwoodModel(idNumber, &model);
  if (name == "TS-790") {
    description_ = "Kenwood TS-790" + where;
  } else {
    description_ = (name.empty() ? "radio desconocida" : "Kenwood " + name) + where;
    notes_.push_back(notDoneReply(
        echoText(port) + ": contesta " +
        (name.empty() ? "una radio que se identifica como «" + echoText(id.text[0]) + "»"
                      : "un Kenwood " + name + " (" + id.text[0] + ")") +
        ", no un TS-790: sus órdenes pueden ser otras; para ella ponga radio = hamlib y model = " +
        (model != 0 ? std::to_string(model) : std::string("su número en Hamlib")) + " en " +
        (settings_.file.empty() ? std::string("velkor.conf") : echoText(settings_.file))));
  }
  // A pseudo-terminal always has its other end's program on it.
  if (device->rfind("/dev/pts/", 0) != 0) {
    const auto holders = sys::deviceHolders(*device);
    if (!holders.empty()) {
      std::string names;
      for (const auto& h : holders) names += (names.empty() ? "" : ", ") + echoText(h);
      notes_.push_back(notDoneReply(echoText(port) + ": " + names + " también tiene abierto " +
                                    echoText(*device) +
                                    "; dos programas a la vez manejan mal una radio: ciérrelo"));
    }
  }
  return Outcome::done();
}

void Ts790Radio::close() {
  wire_.reset();
  readHz_ = {};
  readMode_ = {};
  readTone_.reset();
}

Outcome Ts790Radio::setFrequency(Band band, std::int64_t hz) {
  if (!wire_) return Outcome::failed(std::string(kNoPortOpen));
  if (hz <= 0 || hz > kMaxHz) return Outcome::refused("el TS-790 no sintoniza " + formatHz(hz));
  const char vfo = band == Band::kMain ? 'A' : 'B';
  char set[32];
  std::snprintf(set, sizeof set, "F%c%011lld;", vfo, static_cast<long long>(hz));
  const std::string read = std::string("F") + vfo;
  const Answers a = ask(std::string(set) + read + ";", {read});
  if (a.status != Answers::Status::kAnswered) return lost(a);
  const std::int64_t got = number(a.text[0].substr(2, 11));
  readHz_[index(band)] = got;
  if (a.refused[0] > 0) {
    return Outcome::refused("la radio no la aceptó (" + std::string(set) + ") y sigue en " +
                            formatHz(got) + "; ¿está fuera de sus bandas?");
  }
  return Outcome::done();
}

std::optional<Outcome> Ts790Radio::select(Band band) {
  const std::string command = std::string("FN") + vfoDigit(band) + ";";
  const Answers a = ask(command + "ID;", {"ID"});
  if (a.status != Answers::Status::kAnswered) return lost(a);
  if (a.refused[0] == 0) return std::nullopt;
  return Outcome::refused("la radio no pasó a la VFO " +
                          std::string(band == Band::kMain ? "A" : "B") + " (rechazó " + command +
                          ")");
}

Outcome Ts790Radio::setMode(Band band, Mode mode) {
  if (!wire_) return Outcome::failed(std::string(kNoPortOpen));
  const char code = modeCode(mode);
  if (code == 0) {
    return Outcome::refused("el TS-790 no tiene el modo " + std::string(modeName(mode)));
  }
  // MD acts on whichever VFO is current: never send it before the radio is on the right one.
  if (auto refused = select(band)) {
    if (refused->linkLost) return *refused;
    return Outcome::refused(refused->reason + ", así que el modo no se cambió");
  }
  const std::string set = std::string("MD") + code + ";";
  const Answers a = ask(set + "IF;", {"IF"});
  if (a.status != Answers::Status::kAnswered) return lost(a);
  const auto status = parseStatus(a.text[0]);
  if (status && status->vfo == vfoDigit(band)) readMode_[index(band)] = status->mode;
  Outcome out = Outcome::done();
  if (a.refused[0] > 0) {
    out = Outcome::refused("la radio rechazó " + set +
                           (status && status->mode
                                ? " y sigue en " + std::string(modeName(*status->mode))
                                : std::string()));
  }
  if (band == Band::kSub) {
    // The radio is left on MAIN, as the operator expects to find it.
    if (auto back = select(Band::kMain); back && (out.ok() || back->linkLost)) return *back;
  }
  return out;
}

Outcome Ts790Radio::setTone(int tenthsHz) {
  if (!wire_) return Outcome::failed(std::string(kNoPortOpen));
  const int n = ts790ToneNumber(tenthsHz);
  if (n == 0) return Outcome::refused("el TS-790 no tiene el subtono " + formatTone(tenthsHz));
  const std::string set = "TN" + number2(n) + ";";
  const Answers a = ask(set + "TO1;IF;", {"IF"});
  if (a.status != Answers::Status::kAnswered) return lost(a);
  const auto status = parseStatus(a.text[0]);
  if (status) {
    const int number = status->toneNumber;
    readTone_ = ToneState{status->toneOn, number >= 1 && number <= 37 ? kTones[number - 1] : 0};
  }
  if (a.refused[0] == 0) return Outcome::done();
  constexpr std::string_view kUnit =
      ": ¿lleva su TS-790 la unidad de subtonos? Sin subtono, un satélite que lo pide no oye "
      "su subida";
  // Both refused, or the number did not change: the tone itself was refused.
  if (a.refused[0] > 1 || !status || status->toneNumber != n) {
    return Outcome::refused("la radio no aceptó el subtono " + formatTone(tenthsHz) + " (" + set +
                            ")" + std::string(kUnit));
  }
  return Outcome::refused("la radio tomó el subtono " + formatTone(tenthsHz) + " (" + set +
                          ") pero no lo encendió (rechazó TO1;)" + std::string(kUnit));
}

Outcome Ts790Radio::toneOff() {
  if (!wire_) return Outcome::failed(std::string(kNoPortOpen));
  const Answers a = ask("TO0;IF;", {"IF"});
  if (a.status != Answers::Status::kAnswered) return lost(a);
  const auto status = parseStatus(a.text[0]);
  if (status) readTone_ = ToneState{status->toneOn, 0};
  if (a.refused[0] == 0) return Outcome::done();
  return Outcome::refused(std::string("la radio rechazó TO0;") +
                          (status && status->toneOn ? " y sigue con su subtono" : ""));
}

std::optional<std::int64_t> Ts790Radio::frequency(Band band) {
  if (!wire_) return std::nullopt;
  if (auto got = std::exchange(readHz_[index(band)], std::nullopt)) return got;
  const std::string read = band == Band::kMain ? "FA" : "FB";
  const Answers a = ask(read + ";", {read});
  if (a.status != Answers::Status::kAnswered) return std::nullopt;
  return number(a.text[0].substr(2, 11));
}

std::optional<Mode> Ts790Radio::mode(Band band) {
  if (!wire_) return std::nullopt;
  if (auto got = std::exchange(readMode_[index(band)], std::nullopt)) return got;
  const Answers a = ask("IF;", {"IF"});
  if (a.status != Answers::Status::kAnswered) return std::nullopt;
  const auto status = parseStatus(a.text[0]);
  if (!status || status->vfo != vfoDigit(band)) return std::nullopt;
  return status->mode;
}

std::optional<ToneState> Ts790Radio::tone() {
  if (!wire_) return std::nullopt;
  if (auto got = std::exchange(readTone_, std::nullopt)) return got;
  const Answers a = ask("IF;", {"IF"});
  if (a.status != Answers::Status::kAnswered) return std::nullopt;
  const auto status = parseStatus(a.text[0]);
  if (!status) return std::nullopt;
  const int number = status->toneNumber;
  return ToneState{status->toneOn, number >= 1 && number <= 37 ? kTones[number - 1] : 0};
}

}  // namespace velkor
