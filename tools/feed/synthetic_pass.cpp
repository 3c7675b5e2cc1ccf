#include "synthetic_pass.hpp"

#include <algorithm>
#include <cmath>

#include "tracker_record.hpp"

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

Pointing PointingAt(const Pass& pass, double t) {
  constexpr double kPi = 3.14159265358979323846;
  const double part = std::clamp(t / pass.durationS, 0.0, 1.0);
  return {std::fmod(225 + 180 * part, 360.0), pass.maxElevationDeg * std::sin(kPi * part)};
}

std::string Record(std::string_view name, std::int64_t downlinkHz, std::int64_t uplinkHz,
                   std::string_view downMode, std::string_view upMode) {
  RecordFields f;
  f.name = std::string(name);
  f.downlinkHz = downlinkHz;
  f.uplinkHz = uplinkHz;
  f.downMode = std::string(downMode);
  f.upMode = std::string(upMode);
  return feed::Record(f);
}

std::string RecordAt(const Pass& pass, double t, char decimalSeparator) {
  const Tuning tuning = TuningAt(pass, t);
  const Pointing pointing = PointingAt(pass, t);
  return feed::Record({pass.name, pointing.azimuthDeg, pointing.elevationDeg, tuning.downlinkHz,
                       tuning.uplinkHz, pass.downMode, pass.upMode},
                      decimalSeparator);
}

}  // namespace pasotune::feed
