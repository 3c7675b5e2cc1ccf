// How far the radio trails the tracker: a real Gpredict pass (its downlink and uplink as it set
// them, at the times it set them) turned into Pasotune's commands at Pasotune's pace, through the
// engine's own stack (dispatcher, queue, read-back) to Hamlib's dummy rig, and to the TS-790
// stand-in on a pseudo-terminal through Hamlib's TS-790 backend and through the engine's own
// TS-790 driver, with and without the read-back.
//
//   radio-trail-bench TRANSCRIPT [--from S] [--seconds N] [--radio dummy|ts790|ts790-own]
//                     [--readback yes|no]
//
// --from: where in the pass to start, in seconds (by default 450: the minute before the
// satellite passes overhead, when Doppler moves fastest).
// Without --radio and --readback it runs all six. It prints, per run: how long SETPORT took to
// READY, how long after a command
// reached the engine the radio had the value (median, p99, max), and every 100 ms how far the
// radio's frequency lay from the one the tracker asked for last (median, p99, max).

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.hpp"
#include "hamlib_radio.hpp"
#include "queued_radio.hpp"
#include "ts790_radio.hpp"
#include "ts790_standin.hpp"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Set {
  double at;  // seconds from the first set
  bool uplink;
  long long hz;
};

// "19:57:17.711 c1 -> b'F  435859707\n'": F is Gpredict's downlink, I its uplink.
std::vector<Set> ReadPass(const std::string& file) {
  std::vector<Set> sets;
  std::ifstream in(file);
  double first = -1;
  for (std::string row; std::getline(in, row);) {
    const std::size_t arrow = row.find(" -> b'");
    if (arrow == std::string::npos || row.size() < arrow + 8) continue;
    const char kind = row[arrow + 6];
    if (kind != 'F' && kind != 'I') continue;
    const double at = std::stoi(row.substr(0, 2)) * 3600.0 + std::stoi(row.substr(3, 2)) * 60.0 +
                      std::stod(row.substr(6, 6));
    if (first < 0) first = at;
    sets.push_back({at - first, kind == 'I', std::atoll(row.c_str() + arrow + 7)});
  }
  return sets;
}

std::string Mhz(long long hz) {
  char text[32];
  // Pasotune's command text: MHz to four decimals.
  std::snprintf(text, sizeof text, "%.4f", static_cast<double>(hz) / 1e6);
  return text;
}

// The radio as the engine drives it, noting when each frequency it was given took effect.
class Watched : public velkor::Radio {
 public:
  explicit Watched(std::unique_ptr<velkor::Radio> radio) : radio_(std::move(radio)) {}
  velkor::Outcome open(const std::string& port) override { return radio_->open(port); }
  void close() override { radio_->close(); }
  velkor::Outcome setFrequency(velkor::Band band, std::int64_t hz) override {
    const auto outcome = radio_->setFrequency(band, hz);
    std::lock_guard lock(mutex_);
    radioHz_[band == velkor::Band::kMain ? 0 : 1] = hz;
    return outcome;
  }
  velkor::Outcome setMode(velkor::Band band, velkor::Mode mode) override {
    return radio_->setMode(band, mode);
  }
  velkor::Outcome setTone(int tenthsHz) override { return radio_->setTone(tenthsHz); }
  velkor::Outcome toneOff() override { return radio_->toneOff(); }
  std::string description() const override { return radio_->description(); }
  std::optional<std::int64_t> frequency(velkor::Band band) override {
    return radio_->frequency(band);
  }
  std::optional<velkor::Mode> mode(velkor::Band band) override { return radio_->mode(band); }
  std::optional<velkor::ToneState> tone() override { return radio_->tone(); }

  long long Hz(int band) {
    std::lock_guard lock(mutex_);
    return radioHz_[band];
  }

 private:
  std::unique_ptr<velkor::Radio> radio_;
  std::mutex mutex_;
  long long radioHz_[2] = {0, 0};
};

// The stand-in behind a pseudo-terminal, served on a thread of its own.
class Radio {
 public:
  bool Open() {
    device_ = line_.open();
    if (device_.empty()) return false;
    thread_ = std::thread([this] {
      while (!stop_) {
        pollfd fd{line_.master, POLLIN, 0};
        if (::poll(&fd, 1, 100) > 0) line_.serve(ts790_, false);
      }
    });
    return true;
  }
  ~Radio() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  const std::string& Device() const { return device_; }

 private:
  velkor::test::Line line_;
  velkor::test::Ts790 ts790_;
  std::string device_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<std::size_t>(p * values.size()))];
}

void Run(const std::vector<Set>& pass, double from, double seconds, const std::string& radioName,
         bool readBack) {
  velkor::Settings settings;
  settings.radio = velkor::Settings::RadioKind::kHamlib;
  Radio line;
  if (radioName == "dummy") {
    settings.model = 1;
  } else {
    if (!line.Open()) {
      std::cerr << "no pseudo-terminal\n";
      std::exit(1);
    }
    settings.comDevices[1] = line.Device();
  }
  const bool own = radioName == "ts790-own";
  auto watched = std::make_unique<Watched>(
      own ? std::unique_ptr<velkor::Radio>(std::make_unique<velkor::Ts790Radio>(settings))
          : std::make_unique<velkor::HamlibRadio>(settings));
  Watched& radio = *watched;
  velkor::QueuedRadio::Options options;
  options.readBack = readBack;
  // As the engine runs each: only Hamlib's status cache needs the radio to settle.
  if (own) options.settle = 0ms;
  std::atomic<int> problems{0};
  velkor::QueuedRadio queue(
      std::move(watched),
      [&](const std::string& reply, const std::string&) {
        if (!reply.empty() && reply.rfind("Velkor READY", 0) != 0) {
          ++problems;
          std::cerr << "  engine: " << reply << '\n';
        }
      },
      options);
  velkor::Dispatcher dispatcher(queue);
  const auto opening = Clock::now();
  dispatcher.handle("SETPORT COM1");
  if (!queue.waitIdle(10s)) std::exit(1);
  const double openMs = std::chrono::duration<double, std::milli>(Clock::now() - opening).count();

  // What the tracker asks for, and the commands Pasotune sends for it: a check of the uplink,
  // then the downlink, each command followed by a 500 ms pause, as the follower does.
  const auto start = Clock::now();
  const auto now = [&] {
    return from + std::chrono::duration<double>(Clock::now() - start).count();
  };
  long long wanted[2] = {0, 0};  // 0 MAIN (uplink), 1 SUB (downlink)
  std::string sent[2];
  std::size_t next = 0;
  std::vector<double> lags;
  std::vector<double> errors;
  struct Waiting {
    int band;
    long long hz;
    double at;
  };
  std::vector<Waiting> waiting;
  double pauseUntil = 0;
  int check = 0;  // 0 MAIN frequency, 1 MAIN mode, 2 SUB frequency, 3 SUB mode
  bool modesSent[2] = {false, false};
  double sampleAt = 0;
  while (now() < from + seconds) {
    const double t = now();
    while (next < pass.size() && pass[next].at <= t) {
      wanted[pass[next].uplink ? 0 : 1] = pass[next].hz;
      ++next;
    }
    if (t >= pauseUntil) {
      // One check at a time; a check with nothing to send moves on at once.
      for (int tries = 0; tries < 4; ++tries, check = (check + 1) % 4) {
        const int band = check < 2 ? 0 : 1;
        std::string command;
        if (check % 2 == 0 && wanted[band] != 0 && Mhz(wanted[band]) != sent[band]) {
          sent[band] = Mhz(wanted[band]);
          command = std::string(band == 0 ? "SET FREQ MAIN " : "SET FREQ SUB ") + sent[band];
          waiting.push_back({band, std::llround(std::stod(sent[band]) * 1e6), t});
        } else if (check % 2 == 1 && !modesSent[band]) {
          modesSent[band] = true;
          command = band == 0 ? "SET MODE MAIN LSB" : "SET MODE SUB USB";
        }
        if (command.empty()) continue;
        dispatcher.handle(command);
        pauseUntil = t + 0.5;
        check = (check + 1) % 4;
        break;
      }
    }
    for (auto it = waiting.begin(); it != waiting.end();) {
      if (radio.Hz(it->band) == it->hz) {
        lags.push_back((t - it->at) * 1000);
        it = waiting.erase(it);
      } else if (sent[it->band] != Mhz(it->hz) && radio.Hz(it->band) != it->hz && t - it->at > 5) {
        it = waiting.erase(it);  // replaced by a newer value before it reached the radio
      } else {
        ++it;
      }
    }
    // From the moment the radio first had both frequencies.
    if (t >= sampleAt && radio.Hz(0) != 0 && radio.Hz(1) != 0) {
      for (int band = 0; band < 2; ++band) {
        errors.push_back(static_cast<double>(std::llabs(radio.Hz(band) - wanted[band])));
      }
      sampleAt = t + 0.1;
    }
    std::this_thread::sleep_for(2ms);
  }
  queue.shutdown(3s);
  std::printf(
      "%-9s read-back %-3s: SETPORT to READY %6.1f ms; command to radio median %6.1f ms, p99 "
      "%6.1f ms, max %6.1f ms (%zu); radio off the tracker median %5.0f Hz, p99 %5.0f Hz, max "
      "%5.0f Hz; %d lines\n",
      radioName.c_str(), readBack ? "on" : "off", openMs, Percentile(lags, 0.5),
      Percentile(lags, 0.99), Percentile(lags, 1.0), lags.size(), Percentile(errors, 0.5),
      Percentile(errors, 0.99), Percentile(errors, 1.0), problems.load());
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  if (argc < 2) {
    std::cerr
        << "usage: radio-trail-bench TRANSCRIPT [--seconds N] [--radio dummy|ts790|ts790-own] "
           "[--readback yes|no]\n";
    return 2;
  }
  double from = 450;
  double seconds = 60;
  std::vector<std::string> radios{"dummy", "ts790", "ts790-own"};
  std::vector<bool> readBacks{false, true};
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--seconds") seconds = std::atof(value.c_str());
    if (option == "--from") from = std::atof(value.c_str());
    if (option == "--radio") radios = {value};
    if (option == "--readback") readBacks = {value == "yes"};
  }
  const auto pass = ReadPass(argv[1]);
  if (pass.empty()) {
    std::cerr << "no F or I in " << argv[1] << '\n';
    return 1;
  }
  for (const auto& radio : radios) {
    for (const bool readBack : readBacks) Run(pass, from, seconds, radio, readBack);
  }
  return 0;
}
