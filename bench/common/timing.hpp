// What every benchmark times with, on any platform's event pump.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <vector>

#include "platform/ports.hpp"

namespace pasotune::bench {

using SteadyClock = std::chrono::steady_clock;

inline double Ms(SteadyClock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// The value below which a share p of the samples lie (nearest rank).
inline double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  const std::size_t i = static_cast<std::size_t>(std::ceil(p * static_cast<double>(v.size())));
  return v[std::clamp<std::size_t>(i, 1, v.size()) - 1];
}

// Handles the program's events until done() or timeoutMs; whether done.
inline bool PumpUntil(EventPump& pump, const std::function<bool()>& done, int timeoutMs) {
  const auto end = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - SteadyClock::now()).count();
    if (left <= 0) return false;
    pump.PumpOnce(static_cast<int>(left));
  }
  return true;
}

}  // namespace pasotune::bench
