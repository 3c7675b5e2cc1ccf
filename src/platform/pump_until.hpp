// How a driver of the program (a test, a benchmark) waits on it: handling
// its events until a condition holds, never past a deadline, never spinning.
#pragma once

#include <chrono>
#include <functional>

#include "platform/ports.hpp"

namespace pasotune {

// Whether done() held before timeoutMs passed.
inline bool PumpUntil(EventPump& pump, const std::function<bool()>& done, int timeoutMs = 5000) {
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    pump.PumpOnce(static_cast<int>(left));
  }
  return true;
}

}  // namespace pasotune
