// A made-up but plausible overhead pass of a low-orbit satellite: a straight
// fly-by at orbital speed, which gives the familiar S-shaped Doppler curve.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pasotune::feed {

struct Pass {
  std::string name = "SO-50";
  double durationS = 600;  // AOS to LOS
  double downlinkHz = 145'950'000;
  double uplinkHz = 432'150'000;
  std::string downMode = "FM";
  std::string upMode = "FM";
  double speedKmS = 7.5;   // along the track
  double closestKm = 900;  // slant range at the middle of the pass
  double maxElevationDeg = 60;
};

inline constexpr double kLightKmS = 299'792.458;

// Rate of change of the range at t seconds after AOS: about -7 km/s at AOS
// (closing), 0 at the middle, about +7 km/s at LOS.
double RangeRateKmS(const Pass& pass, double t);

struct Tuning {
  std::int64_t downlinkHz;  // heard on the ground: f (1 - v/c)
  std::int64_t uplinkHz;    // sent from the ground so the satellite hears f: f (1 + v/c)
};
Tuning TuningAt(const Pass& pass, double t);

// Where the antenna points: from the south-west at AOS through maxElevationDeg
// at the middle to the north-east at LOS. Made up, but moving as a pass does.
struct Pointing {
  double azimuthDeg;
  double elevationDeg;
};
Pointing PointingAt(const Pass& pass, double t);

// "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB" and the line end.
std::string Record(std::string_view name, std::int64_t downlinkHz, std::int64_t uplinkHz,
                   std::string_view downMode, std::string_view upMode);
// The whole record of the pass at t, AZ and EL included.
std::string RecordAt(const Pass& pass, double t, char decimalSeparator = '.');

}  // namespace pasotune::feed
