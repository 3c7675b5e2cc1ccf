#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "radio.hpp"

namespace velkor {

// A TS-790 that exists only in memory: it takes what the radio would take (its bands, modes and
// CTCSS tones) and refuses the rest the way the real one would, with a reason.
class SimRadio : public Radio {
 public:
  Outcome open(const std::string& port) override;
  void close() override;
  Outcome setFrequency(Band band, std::int64_t hz) override;
  Outcome setMode(Band band, Mode mode) override;
  Outcome setTone(int tenthsHz) override;
  Outcome toneOff() override;
  std::string description() const override;

  std::optional<std::int64_t> frequency(Band band) override;
  std::optional<Mode> mode(Band band) override;
  std::optional<ToneState> tone() override;

  const std::optional<std::string>& openPort() const { return port_; }

 private:
  static std::size_t index(Band band) { return band == Band::kMain ? 0 : 1; }

  std::optional<std::string> port_;
  std::array<std::int64_t, 2> hz_{435'000'000, 145'900'000};
  std::array<Mode, 2> mode_{Mode::kUsb, Mode::kUsb};
  ToneState tone_{false, 885};
};

}  // namespace velkor
