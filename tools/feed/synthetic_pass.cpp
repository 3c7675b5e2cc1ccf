#include "synthetic_pass.hpp"

#include <cmath>

namespace pasotune::feed {

double RangeRateKmS(const Pass& pass, double t) {
  const double along = pass.speedKmS * (t - pass.durationS / 2);  // km from the closest point
  const double range = std::hypot(pass.closestKm, along);
  return pass.speedKmS * along / range;
}

Tuning TuningAt(const Pass& pass, double t) {
  const double beta = RangeRateKmS(pass, t) / kLightKmS;
  return {std::llround(pass.downlinkHz * (1 - beta)), std::llround(pass.uplinkHz * (1 + beta))};
}

std::string Record(std::string_view name, std::int64_t downlinkHz, std::int64_t uplinkHz,
                   std::string_view downMode, std::string_view upMode) {
  std::string r = "SN";
  r += name;
  r += " DN" + std::to_string(downlinkHz);
  r += " UP" + std::to_string(uplinkHz);
  r += " DM";
  r += downMode;
  r += " UM";
  r += upMode;
  return r;
}

std::string RecordAt(const Pass& pass, double t) {
  const Tuning tuning = TuningAt(pass, t);
  return Record(pass.name, tuning.downlinkHz, tuning.uplinkHz, pass.downMode, pass.upMode);
}

}  // namespace pasotune::feed
