#pragma once

#include <string>

#include "radio.hpp"
#include "settings.hpp"

struct s_rig;  // Hamlib's RIG

namespace velkor {

// A real radio through Hamlib. Every call blocks on the radio; QueuedRadio keeps that off the
// TCP thread.
class HamlibRadio : public Radio {
 public:
  explicit HamlibRadio(Settings settings);
  HamlibRadio(const HamlibRadio&) = delete;
  HamlibRadio& operator=(const HamlibRadio&) = delete;
  ~HamlibRadio() override;

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

  // How the bands were mapped when the radio was opened.
  Settings::Bands bands() const { return bands_; }

 private:
  int vfoFor(Band band) const;
  // The VFO to hand Hamlib for band, selecting it on the radio first where that is needed.
  int target(Band band, int& status);
  bool splitUplink(Band band) const {
    return bands_ == Settings::Bands::kSplit && band == Band::kMain;
  }
  std::string modelName() const;

  Settings settings_;
  s_rig* rig_ = nullptr;
  Settings::Bands bands_ = Settings::Bands::kAuto;
  bool selectVfo_ = false;
  std::string description_;
};

}  // namespace velkor
