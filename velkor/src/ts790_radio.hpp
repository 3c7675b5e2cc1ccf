#pragma once

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "radio.hpp"
#include "serial_port.hpp"
#include "settings.hpp"

namespace velkor {

// The TS-790's own tone numbers: TN01 is 67.0 Hz and TN37 250.3 Hz; 0 for a tone it lacks.
int ts790ToneNumber(int tenthsHz);
// A Kenwood's model for its answer to "ID;" ("TS-2000" for "019"), empty when unknown; model is
// Hamlib's number for it, 0 when unknown.
std::string kenwoodModel(std::string_view id, int* model = nullptr);

// A Kenwood TS-790 driven over its serial port with the commands it has (Kenwood's IC-10 set:
// ID IF FA FB FN MD TN TO AI among them), nothing else. Every setting is followed by a read, so
// each "?;" the radio answers is heard and said, and the read's answer is what the read-back
// sees next. Answers are read into bounded buffers against a deadline: noise, half answers and
// silence end in a bounded time.
class Ts790Radio : public Radio {
 public:
  using Opener = std::function<std::unique_ptr<Wire>(const std::string& device, int& systemError)>;
  // What crossed the line in one exchange, for the transcript: the commands sent and every byte
  // that came back (at most what one exchange reads).
  using Trace = std::function<void(std::string_view sent, std::string_view received)>;

  explicit Ts790Radio(Settings settings, Opener opener = {}, Trace trace = {});

  Outcome open(const std::string& port) override;
  void close() override;
  Outcome setFrequency(Band band, std::int64_t hz) override;
  Outcome setMode(Band band, Mode mode) override;
  Outcome setTone(int tenthsHz) override;
  Outcome toneOff() override;
  std::string description() const override;
  std::vector<std::string> openNotes() override;

  std::optional<std::int64_t> frequency(Band band) override;
  // SUB's mode is known only from the read inside a mode setting: reading it on its own would
  // switch the radio's VFO under the operator's hands.
  std::optional<Mode> mode(Band band) override;
  std::optional<ToneState> tone() override;

 private:
  struct Answers {
    enum class Status { kAnswered, kSilent, kGarbled, kBroken };
    Status status = Status::kSilent;
    std::vector<std::string> text;  // one per read asked for
    std::vector<int> refused;       // "?;" heard before each
  };
  // Sends commands, which end in reads; waits for one answer per read, in order. Tries once
  // more when nothing sensible came.
  Answers ask(std::string_view commands, std::vector<std::string_view> reads);
  Answers askOnce(std::string_view commands, const std::vector<std::string_view>& reads);
  Outcome lost(const Answers& answers) const;
  // Puts the radio on VFO A (MAIN) or B (SUB); empty when it did.
  std::optional<Outcome> select(Band band);

  Settings settings_;
  Opener opener_;
  Trace trace_;
  std::unique_ptr<Wire> wire_;
  std::string description_;
  std::vector<std::string> notes_;
  // The reading that confirmed the last setting, handed once to the read-back.
  std::array<std::optional<std::int64_t>, 2> readHz_;
  std::array<std::optional<Mode>, 2> readMode_;
  std::optional<ToneState> readTone_;
};

}  // namespace velkor
