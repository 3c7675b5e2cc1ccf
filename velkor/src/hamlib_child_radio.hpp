#pragma once

#include <memory>
#include <string>

#include "child.hpp"
#include "radio.hpp"
#include "rigctld_radio.hpp"
#include "settings.hpp"

namespace velkor {

// A radio Hamlib drives, with Hamlib in a process of its own: Hamlib's rigctld on the radio's
// port, started by the engine on a free loopback port and reached with the engine's own rigctld
// client. Whatever a radio sends that Hamlib's serial code cannot take (noise has crashed it)
// ends that process, not the engine: the lost link says how it ended, and the next open starts
// it again.
class HamlibChildRadio : public Radio {
 public:
  // program: Hamlib's rigctld.
  HamlibChildRadio(Settings settings, std::filesystem::path program);
  ~HamlibChildRadio() override;

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

 private:
  // A lost link names the end of rigctld, when that was the cause.
  Outcome checked(Outcome outcome);

  Settings settings_;
  std::filesystem::path program_;
  std::unique_ptr<sys::Child> child_;
  std::unique_ptr<RigctldRadio> radio_;
  std::string description_;
};

// Where the engine finds Hamlib's rigctld: beside itself, else (Linux) where Debian puts it.
std::filesystem::path rigctldProgram();

}  // namespace velkor
