// The tracking record as Orbitron sends it, whatever the feed's source:
// "SN<name> AZ<az> EL<el> DN<Hz> UP<Hz> DM<mode> UM<mode>", single blanks,
// CR LF at the end. A field that is not known is left out, so a reader keeps
// what it had.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pasotune::feed {

struct RecordFields {
  std::optional<std::string> name;
  std::optional<double> azimuthDeg, elevationDeg;
  std::optional<std::int64_t> downlinkHz, uplinkHz;
  std::optional<std::string> downMode, upMode;
  bool operator==(const RecordFields&) const = default;
};

// AZ and EL with one decimal and the given separator; a name holding a blank
// is quoted (SN"ISS (ZARYA)"), as some versions of the tracker do.
std::string Record(const RecordFields& fields, char decimalSeparator = '.');

// A record as given, with the tracker's line end; the empty record stays
// empty (nothing to tell yet).
std::string WithLineEnd(std::string record);
// What is printed of a record: the line without the tracker's line end.
std::string WithoutLineEnd(std::string record);

// The decimal separator of the system: the user's locale on Windows, a
// point elsewhere.
char SystemDecimalSeparator();

}  // namespace pasotune::feed
