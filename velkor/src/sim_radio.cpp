#include "sim_radio.hpp"

#include <algorithm>
#include <array>

#include "commands.hpp"
#include "settings.hpp"
#include "text.hpp"

namespace velkor {
namespace {

struct Range {
  std::int64_t low;
  std::int64_t high;
};

// 2 m, 70 cm, and 23 cm for radios with the optional 1.2 GHz unit.
constexpr std::array<Range, 3> kBands{{
    {144'000'000, 148'000'000},
    {430'000'000, 450'000'000},
    {1'240'000'000, 1'300'000'000},
}};

// The TS-790's 38 CTCSS tones, in tenths of Hz.
constexpr std::array<int, 38> kTones{670,  719,  744,  770,  797,  825,  854,  885,  915,  948,
                                     974,  1000, 1035, 1072, 1109, 1148, 1188, 1230, 1273, 1318,
                                     1365, 1413, 1462, 1514, 1567, 1622, 1679, 1738, 1799, 1862,
                                     1928, 2035, 2107, 2181, 2257, 2336, 2418, 2503};

bool hasMode(Mode mode) {
  switch (mode) {
    case Mode::kUsb:
    case Mode::kLsb:
    case Mode::kCw:
    case Mode::kCwR:
    case Mode::kCwN:
    case Mode::kFm:
    case Mode::kFmN:
      return true;
    default:
      return false;
  }
}

}  // namespace

Outcome SimRadio::open(const std::string& port) {
  port_.reset();
  if (const auto n = comPortNumber(port); !n || *n > kLastPort) {
    return Outcome::failed(echoText(port) + ": la radio simulada solo contesta en COM1 a COM" +
                           std::to_string(kLastPort) + "; elija uno");
  }
  port_ = port;
  return Outcome::done();
}

std::string SimRadio::description() const {
  return "radio simulado en " + echoText(port_.value_or("")) + "; nada sale del ordenador";
}

void SimRadio::close() {
  port_.reset();
}

Outcome SimRadio::setFrequency(Band band, std::int64_t hz) {
  if (!port_) return Outcome::failed(std::string(kNoPortOpen));
  const bool inBand = std::any_of(kBands.begin(), kBands.end(),
                                  [hz](const Range& r) { return hz >= r.low && hz <= r.high; });
  if (!inBand) return Outcome::refused("fuera de las bandas del TS-790");
  hz_[index(band)] = hz;
  return Outcome::done();
}

Outcome SimRadio::setMode(Band band, Mode mode) {
  if (!port_) return Outcome::failed(std::string(kNoPortOpen));
  if (!hasMode(mode)) return Outcome::refused("el TS-790 no tiene " + std::string(modeName(mode)));
  mode_[index(band)] = mode;
  return Outcome::done();
}

Outcome SimRadio::setTone(int tenthsHz) {
  if (!port_) return Outcome::failed(std::string(kNoPortOpen));
  if (std::find(kTones.begin(), kTones.end(), tenthsHz) == kTones.end()) {
    return Outcome::refused("el TS-790 no tiene el tono CTCSS de " + formatTone(tenthsHz));
  }
  tone_ = {true, tenthsHz};
  return Outcome::done();
}

Outcome SimRadio::toneOff() {
  if (!port_) return Outcome::failed(std::string(kNoPortOpen));
  tone_.on = false;
  return Outcome::done();
}

std::optional<std::int64_t> SimRadio::frequency(Band band) {
  return hz_[index(band)];
}
std::optional<Mode> SimRadio::mode(Band band) {
  return mode_[index(band)];
}
std::optional<ToneState> SimRadio::tone() {
  return tone_;
}

}  // namespace velkor
