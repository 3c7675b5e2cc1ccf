// What every benchmark times with; PumpUntil waits on any platform's event
// pump.
#pragma once

#include <algorithm>
#include <chrono>
#include <cmath>
#include <vector>

#include "platform/pump_until.hpp"

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

}  // namespace pasotune::bench
