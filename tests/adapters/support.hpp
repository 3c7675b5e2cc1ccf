// Waiting in the adapter tests: always on events, always with a deadline.
#pragma once

#include <QObject>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>

#include "platform/pump_until.hpp"
#include "platform/qt/qt_event_pump.hpp"

namespace pasotune::test {

using Clock = std::chrono::steady_clock;
using pasotune::PumpUntil;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Handles events for ms milliseconds.
inline void PumpFor(EventPump& pump, int ms) {
  PumpUntil(
      pump, [] { return false; }, ms);
}

// AddressSanitizer holds freed memory back, so resident sizes say nothing
// about what the code under test keeps; and its unoptimised build is slow.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kMemoryMeasurable = false;
inline constexpr int kSlowdown = 3;
#else
inline constexpr bool kMemoryMeasurable = true;
inline constexpr int kSlowdown = 1;
#endif

// A figure from /proc/self/status in kB, or -1.
inline long StatusKb(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stol(line.substr(key.size() + 1));
  }
  return -1;
}

// How far the resident size rose above where it stood at the start, at its
// highest: the kernel's peak mark is reset to the present size first.
class MemoryWatch {
 public:
  MemoryWatch() {
    valid_ = kMemoryMeasurable && static_cast<bool>(std::ofstream("/proc/self/clear_refs") << "5");
    base_ = StatusKb("VmRSS");
    valid_ = valid_ && base_ > 0;
  }
  bool Valid() const { return valid_; }
  double PeakGrowthMb() const { return static_cast<double>(StatusKb("VmHWM") - base_) / 1024; }
  std::string Text() const {
    if (!valid_) return "not measured";
    char text[32];
    std::snprintf(text, sizeof text, "+%.1f MB", PeakGrowthMb());
    return text;
  }

 private:
  bool valid_ = false;
  long base_ = 0;
};

// How long the event loop went without coming round: a 10 ms timer notes
// the longest gap between its ticks, in wall time and in CPU time of this
// thread. The CPU figure is what the code under test spent in one go; the
// wall figure also counts the machine being busy with others, so only a
// wait of seconds in it says the loop was blocked.
class LoopLag {
 public:
  LoopLag() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Tick(); });
    lastWall_ = Clock::now();
    lastCpu_ = ThreadCpuMs();
    timer_.start();
  }
  static constexpr double kMaxCpuMs = 100;
  static constexpr double kMaxWallMs = 1000.0 * kSlowdown;
  double MaxWallMs() const { return maxWall_; }
  double MaxCpuMs() const { return maxCpu_; }

 private:
  static double ThreadCpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
  }
  void Tick() {
    const double cpu = ThreadCpuMs();
    maxWall_ = std::max(maxWall_, MsSince(lastWall_) - 10);
    maxCpu_ = std::max(maxCpu_, cpu - lastCpu_);
    lastWall_ = Clock::now();
    lastCpu_ = cpu;
  }

  QTimer timer_;
  Clock::time_point lastWall_;
  double lastCpu_ = 0;
  double maxWall_ = 0;
  double maxCpu_ = 0;
};

}  // namespace pasotune::test
