#include "rigctld_radio.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <utility>

#include "commands.hpp"
#include "port_problem.hpp"
#include "text.hpp"

namespace velkor {
namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint16_t kDefaultPort = 4532;
constexpr auto kConnectTimeout = std::chrono::seconds(3);
// Longer than anything rigctld says in one line; a peer that says more is not rigctld.
constexpr std::size_t kMaxLine = 8 * 1024;
constexpr std::size_t kMaxLines = 4096;

struct ModeName {
  Mode mode;
  std::string_view rigctld;
  bool narrow;
};

// Hamlib's names for the modes, as HamlibRadio maps them.
constexpr std::array<ModeName, 12> kModes{{
    {Mode::kUsb, "USB", false},
    {Mode::kLsb, "LSB", false},
    {Mode::kCw, "CW", false},
    {Mode::kCwR, "CWR", false},
    {Mode::kCwN, "CW", true},
    {Mode::kFm, "FM", false},
    {Mode::kFmN, "FM", true},
    {Mode::kFmW, "WFM", false},
    {Mode::kAm, "AM", false},
    {Mode::kUsbData, "PKTUSB", false},
    {Mode::kLsbData, "PKTLSB", false},
    {Mode::kFmData, "PKTFM", false},
}};

const ModeName& lookup(Mode mode) {
  for (const auto& m : kModes) {
    if (m.mode == mode) return m;
  }
  return kModes[0];
}

std::string statusText(int code) {
  return hamlibText(code);
}

// As HamlibRadio: the radio behind rigctld stopped answering.
bool radioLost(int code) {
  return problemOf(Source::kHamlib, code) == Problem::kNoAnswer;
}

std::vector<std::string> words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) out.emplace_back(text.substr(start, i - start));
  }
  return out;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == ',')) s.remove_suffix(1);
  return s;
}

// The value of "Key: value", or the whole line when it has no key (get_func).
std::string_view valueOf(std::string_view line) {
  const std::size_t colon = line.find(": ");
  return trimmed(colon == std::string_view::npos ? line : line.substr(colon + 2));
}

template <typename T>
std::optional<T> number(std::string_view text) {
  text = trimmed(text);
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "15.0000 kHz", "500.0 Hz": Hamlib's way of printing a width.
long widthHz(std::string_view text) {
  const auto parts = words(trimmed(text));
  if (parts.size() != 2) return 0;
  const auto value = number<double>(parts[0]);
  if (!value || !std::isfinite(*value) || *value < 0 || *value > 1e7) return 0;
  double scale = 1;
  if (parts[1] == "kHz") scale = 1e3;
  if (parts[1] == "MHz") scale = 1e6;
  return std::lround(*value * scale);
}

}  // namespace

RigctldCaps RigctldCaps::parse(const std::vector<std::string>& lines) {
  RigctldCaps caps;
  std::string mfg;
  std::string model;
  bool inBandwidths = false;
  for (const std::string& line : lines) {
    const std::string_view l(line);
    if (inBandwidths) {
      // "\tFM\tNormal: 15.0000 kHz,\tNarrow: 8.0000 kHz,\tWide: 0.0 Hz"
      if (l.empty() || (l.front() != '\t' && l.front() != ' ')) {
        inBandwidths = false;
      } else {
        const auto first = words(l.substr(0, l.find("Normal:")));
        const std::size_t normal = l.find("Normal:");
        const std::size_t narrow = l.find("Narrow:");
        if (first.size() == 1 && normal != std::string_view::npos &&
            narrow != std::string_view::npos && narrow > normal) {
          Widths w;
          w.normal = widthHz(l.substr(normal + 7, narrow - normal - 7));
          const std::size_t end = l.find(',', narrow);
          w.narrow =
              widthHz(l.substr(narrow + 7, end == std::string_view::npos ? std::string_view::npos
                                                                         : end - narrow - 7));
          caps.widths[first[0]] = w;
        }
        continue;
      }
    }
    const std::size_t colon = l.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view key = l.substr(0, colon);
    const std::string_view value = trimmed(l.substr(colon + 1));
    if (key == "Model name") {
      model = std::string(value);
    } else if (key == "Mfg name") {
      mfg = std::string(value);
    } else if (key == "Mode list") {
      caps.modes = words(value);
    } else if (key == "VFO list") {
      caps.vfos = words(value);
    } else if (key == "Set functions") {
      caps.setFunctions = words(value);
    } else if (key == "Get functions") {
      caps.getFunctions = words(value);
    } else if (key == "Bandwidths") {
      inBandwidths = true;
    } else if (key == "CTCSS") {
      // "67.0 69.3 ... 254.1 Hz, 50 tones", or "None"
      for (const std::string& word : words(value)) {
        const auto tone = number<double>(word);
        if (!tone) break;
        if (*tone > 0 && *tone < 10000) {
          caps.ctcssTenths.push_back(static_cast<int>(std::lround(*tone * 10)));
        }
      }
    }
  }
  caps.model = mfg.empty() ? model : mfg + " " + model;
  if (caps.model.empty()) caps.model = "radio";
  return caps;
}

bool RigctldCaps::has(const std::vector<std::string>& list, std::string_view name) const {
  return std::find(list.begin(), list.end(), name) != list.end();
}

bool parseHostPort(std::string_view text, std::string& host, std::uint16_t& port) {
  text = trimmed(text);
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const std::size_t close = text.find(']');
    if (close == std::string_view::npos) return false;
    host = std::string(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty() && rest.front() != ':') return false;
    if (!rest.empty()) portText = rest.substr(1);
  } else {
    const std::size_t colon = text.rfind(':');
    // A second colon means a bare IPv6 address, with no port.
    if (colon == std::string_view::npos || text.find(':') != colon) {
      host = std::string(text);
    } else {
      host = std::string(text.substr(0, colon));
      portText = text.substr(colon + 1);
    }
  }
  if (host.empty()) return false;
  if (portText.empty()) {
    port = kDefaultPort;
    return text.back() != ':';
  }
  const auto n = number<unsigned>(portText);
  if (!n || *n == 0 || *n > 65535) return false;
  port = static_cast<std::uint16_t>(*n);
  return true;
}

RigctldRadio::RigctldRadio(Settings settings, std::chrono::milliseconds replyTimeout)
    : settings_(std::move(settings)), replyTimeout_(replyTimeout) {}

RigctldRadio::~RigctldRadio() {
  close();
}

void RigctldRadio::close() {
  net::close(socket_);
  socket_ = net::kNoSocket;
  buffer_.clear();
}

bool RigctldRadio::sendAll(std::string_view bytes, Clock::time_point deadline) {
  while (!bytes.empty()) {
    const long sent = net::send(socket_, bytes.data(), bytes.size());
    if (sent == net::kFailed) {
      linkError_ = "rigctld se fue (" + net::lastError() + ")";
      return false;
    }
    if (sent > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(sent));
      continue;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    std::vector<net::Watch> watch{{socket_, false, true}};
    if (left.count() <= 0 || !net::wait(watch, left) || !(watch[0].writable || watch[0].broken)) {
      linkError_ = "rigctld no tomó la orden en " + std::to_string(replyTimeout_.count()) + " ms";
      return false;
    }
  }
  return true;
}

std::optional<std::string> RigctldRadio::readLine(Clock::time_point deadline) {
  for (;;) {
    if (const std::size_t lf = buffer_.find('\n'); lf != std::string::npos) {
      std::string line = buffer_.substr(0, lf);
      buffer_.erase(0, lf + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    if (buffer_.size() > kMaxLine) {
      linkError_ = "rigctld mandó una línea de más de " + std::to_string(kMaxLine) + " bytes";
      return std::nullopt;
    }
    char chunk[4096];
    const long got = net::receive(socket_, chunk, sizeof chunk);
    if (got > 0) {
      buffer_.append(chunk, static_cast<std::size_t>(got));
      continue;
    }
    if (got == 0 || got == net::kFailed) {
      linkError_ =
          got == 0 ? "rigctld cerró la conexión" : "rigctld se fue (" + net::lastError() + ")";
      return std::nullopt;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    std::vector<net::Watch> watch{{socket_, true}};
    if (left.count() <= 0 || !net::wait(watch, left) || !(watch[0].readable || watch[0].broken)) {
      linkError_ = "rigctld no contestó en " + std::to_string(replyTimeout_.count()) + " ms";
      return std::nullopt;
    }
  }
}

std::optional<RigctldRadio::Reply> RigctldRadio::transact(const std::string& command) {
  if (socket_ == net::kNoSocket) {
    linkError_ = "sin conexión con rigctld";
    return std::nullopt;
  }
  const auto deadline = Clock::now() + replyTimeout_;
  // '+': the extended responses, which always end in "RPRT n".
  if (!sendAll("+" + command + "\n", deadline)) {
    close();
    return std::nullopt;
  }
  Reply reply;
  bool echoed = false;
  for (std::size_t count = 0; count < kMaxLines; ++count) {
    const auto line = readLine(deadline);
    if (!line) break;
    if (line->rfind("RPRT ", 0) == 0) {
      if (const auto code = number<int>(std::string_view(*line).substr(5))) {
        reply.code = *code;
        return reply;
      }
      linkError_ = "rigctld contestó " + echoText(*line);
      break;
    }
    // The first line repeats the command ("set_freq: 435000000"), the rest are values.
    if (echoed) reply.values.push_back(*line);
    echoed = true;
    if (count + 1 == kMaxLines) linkError_ = "la respuesta de rigctld no terminaba";
  }
  // Out of step with rigctld now: start afresh on the next command.
  close();
  return std::nullopt;
}

Outcome RigctldRadio::linkFailed(std::string_view) {
  return Outcome::failed(linkError_, true);
}

Outcome RigctldRadio::verdict(const std::optional<Reply>& reply, std::string_view what) {
  if (!reply) return linkFailed(what);
  if (reply->code == 0) return Outcome::done();
  if (radioLost(reply->code)) return Outcome::failed(statusText(reply->code), true);
  return Outcome::refused(statusText(reply->code));
}

Outcome RigctldRadio::open(const std::string& port) {
  close();
  std::string host;
  std::uint16_t tcpPort = 0;
  if (!parseHostPort(settings_.rigctld, host, tcpPort)) {
    return Outcome::failed(echoText(port) + ": rigctld = " + echoText(settings_.rigctld) +
                           " no es host:puerto (velkor.conf)");
  }
  where_ = echoText(port) + ": no se pudo abrir rigctld en " + echoText(settings_.rigctld);
  std::string error;
  socket_ = net::connect(host, tcpPort, kConnectTimeout, error);
  if (socket_ == net::kNoSocket) {
    return Outcome::failed(where_ + ": " + error + "; compruebe que rigctld está en marcha");
  }

  // One line, whatever the version: "0", "CHKVFO 0" or "ChkVFO: 0".
  const auto deadline = Clock::now() + replyTimeout_;
  std::optional<std::string> line;
  if (sendAll("\\chk_vfo\n", deadline)) line = readLine(deadline);
  if (!line) {
    const std::string why = linkError_;
    close();
    return Outcome::failed(where_ + ": " + why);
  }
  const auto parts = words(*line);
  vfoMode_ = !parts.empty() && parts.back() == "1";

  const auto dump = transact("\\dump_caps");
  if (!dump || dump->code != 0) {
    const std::string why = dump ? statusText(dump->code) : linkError_;
    close();
    return Outcome::failed(where_ + ": dump_caps: " + why);
  }
  caps_ = RigctldCaps::parse(dump->values);

  bands_ = settings_.bands;
  if (bands_ == Settings::Bands::kAuto) {
    if (caps_.has(caps_.vfos, "Main") && caps_.has(caps_.vfos, "Sub")) {
      bands_ = Settings::Bands::kMainSub;
    } else if (caps_.has(caps_.vfos, "VFOA") && caps_.has(caps_.vfos, "VFOB")) {
      bands_ = Settings::Bands::kAB;
    } else {
      bands_ = Settings::Bands::kSplit;
    }
  }
  if (bands_ == Settings::Bands::kSplit) {
    const auto reply = transact(command("\\set_split_vfo", vfoMode_ ? "currVFO" : "", "1 TX"));
    if (!reply || reply->code != 0) {
      const std::string why = reply ? statusText(reply->code) : linkError_;
      close();
      return Outcome::failed(echoText(port) +
                             ": no se pudo poner en split la radio de rigctld: " + why);
    }
  }
  return Outcome::done();
}

std::string RigctldRadio::description() const {
  return caps_.model + " por rigctld en " + echoText(settings_.rigctld);
}

std::string RigctldRadio::vfoName(Band band) const {
  switch (bands_) {
    case Settings::Bands::kMainSub:
      return band == Band::kMain ? "Main" : "Sub";
    case Settings::Bands::kAB:
      return band == Band::kMain ? "VFOA" : "VFOB";
    default:
      return "currVFO";
  }
}

std::string RigctldRadio::command(std::string_view name, std::string_view vfo,
                                  std::string_view args) const {
  std::string line(name);
  if (!vfo.empty()) line.append(" ").append(vfo);
  if (!args.empty()) line.append(" ").append(args);
  return line;
}

std::optional<std::string> RigctldRadio::target(Band band, std::string_view what,
                                                Outcome& failure) {
  const std::string vfo = vfoName(band);
  if (vfoMode_) return vfo;
  if (vfo == "currVFO") return std::string();
  // Without --vfo rigctld acts on the current VFO: select it first.
  failure = verdict(transact(command("\\set_vfo", "", vfo)), what);
  if (!failure.ok()) return std::nullopt;
  return std::string();
}

std::optional<RigctldRadio::Reply> RigctldRadio::transactOn(Band band, std::string_view name,
                                                            std::string_view splitName,
                                                            std::string_view args,
                                                            std::string_view what,
                                                            Outcome& failure) {
  if (splitUplink(band)) return transact(command(splitName, vfoMode_ ? "currVFO" : "", args));
  const auto vfo = target(band, what, failure);
  if (!vfo) return std::nullopt;
  return transact(command(name, *vfo, args));
}

Outcome RigctldRadio::setFrequency(Band band, std::int64_t hz) {
  if (socket_ == net::kNoSocket) return Outcome::failed(std::string(kNoPortOpen));
  const std::string what = std::string(bandName(band)) + " frequency " + formatHz(hz);
  Outcome failure;
  const auto reply =
      transactOn(band, "\\set_freq", "\\set_split_freq", std::to_string(hz), what, failure);
  if (!failure.ok()) return failure;
  return verdict(reply, what);
}

Outcome RigctldRadio::setMode(Band band, Mode mode) {
  if (socket_ == net::kNoSocket) return Outcome::failed(std::string(kNoPortOpen));
  const ModeName& m = lookup(mode);
  if (!caps_.has(caps_.modes, m.rigctld)) {
    return Outcome::refused("el " + caps_.model + " no tiene el modo " + std::string(m.rigctld));
  }
  // 0 is the normal passband; a radio without a narrow filter reports 0 as its narrow width.
  long width = 0;
  if (m.narrow) {
    if (const auto it = caps_.widths.find(std::string(m.rigctld)); it != caps_.widths.end()) {
      width = it->second.narrow;
    }
  }
  const std::string what = std::string(bandName(band)) + " mode " + std::string(modeName(mode));
  Outcome failure;
  const auto reply =
      transactOn(band, "\\set_mode", "\\set_split_mode",
                 std::string(m.rigctld) + " " + std::to_string(width), what, failure);
  if (!failure.ok()) return failure;
  return verdict(reply, what);
}

Outcome RigctldRadio::setTone(int tenthsHz) {
  if (socket_ == net::kNoSocket) return Outcome::failed(std::string(kNoPortOpen));
  const std::string what = "tone " + formatTone(tenthsHz);
  if (!caps_.ctcssTenths.empty() && std::find(caps_.ctcssTenths.begin(), caps_.ctcssTenths.end(),
                                              tenthsHz) == caps_.ctcssTenths.end()) {
    return Outcome::refused("el " + caps_.model + " no tiene ese tono CTCSS");
  }
  Outcome failure;
  const auto vfo = target(Band::kMain, what, failure);
  if (!vfo) return failure;
  Outcome outcome =
      verdict(transact(command("\\set_ctcss_tone", *vfo, std::to_string(tenthsHz))), what);
  if (outcome.ok() && caps_.has(caps_.setFunctions, "TONE")) {
    outcome = verdict(transact(command("\\set_func", *vfo, "TONE 1")), what);
  }
  return outcome;
}

Outcome RigctldRadio::toneOff() {
  if (socket_ == net::kNoSocket) return Outcome::failed(std::string(kNoPortOpen));
  if (!caps_.has(caps_.setFunctions, "TONE")) {
    return Outcome::refused("Hamlib no sabe apagar el tono del " + caps_.model);
  }
  Outcome failure;
  const auto vfo = target(Band::kMain, "tone off", failure);
  if (!vfo) return failure;
  return verdict(transact(command("\\set_func", *vfo, "TONE 0")), "tone off");
}

std::optional<std::int64_t> RigctldRadio::frequency(Band band) {
  if (socket_ == net::kNoSocket) return std::nullopt;
  Outcome failure;
  const auto reply = transactOn(band, "\\get_freq", "\\get_split_freq", "", "", failure);
  if (!reply || reply->code != 0 || reply->values.empty()) return std::nullopt;
  const auto hz = number<double>(valueOf(reply->values[0]));
  if (!hz || !std::isfinite(*hz) || *hz < 0 || *hz > 1e12) return std::nullopt;
  return static_cast<std::int64_t>(std::llround(*hz));
}

std::optional<Mode> RigctldRadio::mode(Band band) {
  if (socket_ == net::kNoSocket) return std::nullopt;
  Outcome failure;
  const auto reply = transactOn(band, "\\get_mode", "\\get_split_mode", "", "", failure);
  if (!reply || reply->code != 0 || reply->values.size() < 2) return std::nullopt;
  const std::string name(valueOf(reply->values[0]));
  const long width = number<long>(valueOf(reply->values[1])).value_or(0);
  RigctldCaps::Widths widths;
  if (const auto it = caps_.widths.find(name); it != caps_.widths.end()) widths = it->second;
  const bool narrow =
      widths.narrow != 0 && width == widths.narrow && widths.narrow != widths.normal;
  for (const auto& m : kModes) {
    if (m.rigctld == name && m.narrow == narrow) return m.mode;
  }
  return std::nullopt;
}

std::optional<ToneState> RigctldRadio::tone() {
  if (socket_ == net::kNoSocket) return std::nullopt;
  Outcome failure;
  const auto vfo = target(Band::kMain, "", failure);
  if (!vfo) return std::nullopt;
  const auto reply = transact(command("\\get_ctcss_tone", *vfo, ""));
  if (!reply || reply->code != 0 || reply->values.empty()) return std::nullopt;
  const auto tenths = number<int>(valueOf(reply->values[0]));
  if (!tenths) return std::nullopt;
  int on = *tenths != 0;
  if (caps_.has(caps_.getFunctions, "TONE")) {
    const auto func = transact(command("\\get_func", *vfo, "TONE"));
    if (!func || func->code != 0 || func->values.empty()) return std::nullopt;
    const auto value = number<int>(valueOf(func->values[0]));
    if (!value) return std::nullopt;
    on = *value;
  }
  return ToneState{on != 0, *tenths};
}

}  // namespace velkor
