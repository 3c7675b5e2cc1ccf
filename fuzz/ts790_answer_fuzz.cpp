// Any bytes a radio may send back, cut anywhere, for any run of the engine's commands to its
// TS-790 driver: nothing crashes, every call ends within a bounded number of reads, only the
// radio's own commands are sent, and no text from the radio spells the program's markers.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "ts790_radio.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view kCommandSet =
    "AI BY CN CT DC DN FA FB FN ID IF LK LT MC MD MR MT MW OS RC RD RT RU RX SC SM SP ST TN TO TX "
    "UP VR ";

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
  std::string_view take(std::size_t n) {
    n = std::min(n, size_ - at_);
    const std::string_view out(reinterpret_cast<const char*>(data_ + at_), n);
    at_ += n;
    return out;
  }
  bool done() const { return at_ >= size_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};

// The radio's side: what it answers comes from the input, a chunk a read; a chunk of length
// zero is a read that waits in vain.
class FuzzWire : public velkor::Wire {
 public:
  explicit FuzzWire(Input& input, int& reads) : input_(input), reads_(reads) {}
  bool send(std::string_view bytes) override {
    for (std::size_t start = 0; start < bytes.size();) {
      const std::size_t end = bytes.find(';', start);
      Check(end != std::string_view::npos && end - start >= 2);
      const std::size_t known = kCommandSet.find(std::string(bytes.substr(start, 2)) + ' ');
      Check(known != std::string_view::npos && known % 3 == 0);
      start = end + 1;
    }
    return input_.byte() != 0xFF;
  }
  int receive(char* buffer, std::size_t size, Clock::time_point) override {
    ++reads_;
    const std::string_view chunk = input_.take(std::min<std::size_t>(input_.byte() % 80, size));
    std::copy(chunk.begin(), chunk.end(), buffer);
    return static_cast<int>(chunk.size());
  }
  void discard() override {}

 private:
  Input& input_;
  int& reads_;
};

void CheckOutcome(const velkor::Outcome& outcome) {
  Check(outcome.reason.find("ERROR") == std::string::npos);
  Check(outcome.reason.find("Velkor READY") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input input(data, size);
  int reads = 0;
  velkor::Settings settings;
  settings.comDevices[1] = "/dev/pts/fuzz";  // no other program is looked for on it
  velkor::Ts790Radio radio(settings, [&](const std::string&, int& error) {
    error = 0;
    return std::make_unique<FuzzWire>(input, reads);
  });
  CheckOutcome(radio.open("COM1"));
  for (const auto& note : radio.openNotes()) {
    Check(note.rfind("NOT DONE ", 0) == 0 && note.find("ERROR") == std::string::npos &&
          note.find("Velkor READY") == std::string::npos);
  }
  constexpr velkor::Band kBands[] = {velkor::Band::kMain, velkor::Band::kSub};
  while (!input.done()) {
    const std::uint8_t op = input.byte();
    const velkor::Band band = kBands[op >> 7];
    reads = 0;
    switch (op % 8) {
      case 0:
        CheckOutcome(radio.setFrequency(band, 144'000'000 + input.byte() * 100'000));
        break;
      case 1:
        CheckOutcome(radio.setMode(band, static_cast<velkor::Mode>(input.byte() % 12)));
        break;
      case 2:
        CheckOutcome(radio.setTone(670 + input.byte() * 10));
        break;
      case 3:
        CheckOutcome(radio.toneOff());
        break;
      case 4:
        radio.frequency(band);
        break;
      case 5:
        radio.mode(band);
        break;
      case 6:
        radio.tone();
        break;
      default:
        CheckOutcome(radio.open("COM1"));
    }
    // Each exchange stops reading at about a kilobyte of noise, a mode setting has three.
    Check(reads <= 3 * 2 * (1100 + 256));
  }
  return 0;
}
