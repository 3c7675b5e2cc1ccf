// Waiting in the adapter tests: always on events, always with a deadline.
#pragma once

#include <chrono>
#include <functional>

#include "platform/qt/qt_event_pump.hpp"

namespace pasotune::test {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Pumps until done() holds or timeoutMs passes; tells whether it held.
inline bool PumpUntil(EventPump& pump, const std::function<bool()>& done, int timeoutMs = 5000) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pump.PumpOnce(static_cast<int>(left));
  }
  return true;
}

// Handles events for ms milliseconds.
inline void PumpFor(EventPump& pump, int ms) {
  PumpUntil(
      pump, [] { return false; }, ms);
}

}  // namespace pasotune::test
