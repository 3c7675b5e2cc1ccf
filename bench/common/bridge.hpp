// What the bridge benchmarks share, on Linux over D-Bus and under Wine over
// DDE: their options, the stand-ins for the ports they do not measure (the
// soak benchmark's too), the records they publish, and how they report.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "common/timing.hpp"
#include "platform/ports.hpp"
#include "synthetic_pass.hpp"

namespace pasotune::bench {

constexpr int kEnginePort = 9000;

// The engine is already listening: nothing to start or end.
class NoProcesses : public Processes {
 public:
  void Start(const std::string&) override {}
  void EndByImageName(const std::string&) override {}
};

class AnswerYes : public MessageBox {
 public:
  MsgResult Show(const std::string& text, const std::string&, MsgButtons buttons,
                 MsgIcon) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    return buttons == MsgButtons::kOk ? MsgResult::kOk : MsgResult::kYes;
  }
};

struct BridgeOptions {
  int updates = 200;
  int spacingMs = 600;  // the follower pauses 500 ms after each command
  int cpuSeconds = 60;
  std::string samples;  // file for every latency, one a line
  bool latency = true;
  bool cpu = true;
};

inline constexpr const char* kBridgeUsage =
    "usage: [--updates N] [--spacing ms] [--cpu-seconds s] [--samples file] [--no-latency] "
    "[--no-cpu]";

inline bool ParseBridgeOptions(int argc, char** argv, BridgeOptions& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const auto number = [&](int& into) {
      if (i + 1 >= argc) return false;
      into = std::atoi(argv[++i]);
      return into > 0;
    };
    if (a == "--updates") {
      if (!number(o.updates)) return false;
    } else if (a == "--spacing") {
      if (!number(o.spacingMs)) return false;
    } else if (a == "--cpu-seconds") {
      if (!number(o.cpuSeconds)) return false;
    } else if (a == "--samples" && i + 1 < argc) {
      o.samples = argv[++i];
    } else if (a == "--no-latency") {
      o.latency = false;
    } else if (a == "--no-cpu") {
      o.cpu = false;
    } else {
      return false;
    }
  }
  return true;
}

// Each timed update moves the downlink only, so exactly one SET FREQ SUB
// goes out.
inline std::string BridgeRecord(std::int64_t downlinkHz) {
  return feed::Record("SO-50", downlinkHz, 432150000, "FM", "FM");
}

// The latencies, and the part of each up to the record landing in the text
// box (sents[k] and changes[k] belong to latencies[k]).
inline void ReportLatency(const char* link, const BridgeOptions& options,
                          const std::vector<double>& latencies,
                          const std::vector<SteadyClock::time_point>& sents,
                          const std::vector<SteadyClock::time_point>& changes) {
  if (!options.samples.empty()) {
    std::ofstream out(options.samples);
    for (double ms : latencies) out << ms << "\n";
  }
  std::printf("latency, %s update to command at the engine, %zu updates %d ms apart:\n", link,
              latencies.size(), options.spacingMs);
  std::printf("  median %.3f ms   p99 %.3f ms   max %.3f ms   (goals: median < 1 ms, p99 < 5 ms)\n",
              Percentile(latencies, 0.5), Percentile(latencies, 0.99), Percentile(latencies, 1.0));
  std::vector<double> toTextBox;
  for (std::size_t k = 0; k < latencies.size() && k < changes.size() && k < sents.size(); ++k) {
    toTextBox.push_back(Ms(changes[k] - sents[k]));
  }
  if (!toTextBox.empty()) {
    std::printf("  of which up to the text box: median %.3f ms   p99 %.3f ms\n",
                Percentile(toTextBox, 0.5), Percentile(toTextBox, 0.99));
  }
  std::fflush(stdout);
}

// CPU seconds over wall seconds, the stand-in engine's thread set apart.
inline void ReportCpu(double wall, std::size_t commands, double cpu, double engineCpu) {
  std::printf(
      "cpu, following a pass around its closest approach, 1 update/s for %.0f s, %zu commands:\n",
      wall, commands);
  std::printf(
      "  bridge %.3f %% of a core   (whole process with the stand-in engine %.3f %%; goal < 1 "
      "%%)\n",
      100 * (cpu - engineCpu) / wall, 100 * cpu / wall);
  std::fflush(stdout);
}

}  // namespace pasotune::bench
