// The tracking record as Orbitron sends it, whatever the feed's source:
// "SN<name> AZ<az> EL<el> DN<Hz> UP<Hz> DM<mode> UM<mode>", single blanks,
// CR LF at the end. A field that is not known is left out, so a reader keeps
// what it had.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace pasotune::feed {

struct RecordFields {
  std::optional<std::string> name;
  std::optional<double> azimuthDeg, elevationDeg;
  std::optional<std::int64_t> downlinkHz, uplinkHz;
  std::optional<std::string> downMode, upMode;
  bool operator==(const RecordFields&) const = default;
};

// A record stays far below what Pasotune reads (4 KiB) with a name this long.
inline constexpr std::size_t kMaxNameBytes = 64;
inline constexpr std::size_t kMaxModeBytes = 16;

// The name as a record can carry it: UTF-8 (what is not becomes U+FFFD),
// control and invisible format characters (C0, DEL, C1, U+2028, U+2029,
// bidi controls) become blanks, a double quote, which the record's quoting
// cannot hold, an apostrophe; blanks at the ends go, and so does whatever
// passes kMaxNameBytes. Nothing when nothing is left.
std::optional<std::string> RecordName(std::string_view name);
// A mode is one word of ASCII letters, digits and '-', at most kMaxModeBytes.
bool IsRecordMode(std::string_view mode);

// AZ and EL with one decimal and the given separator; a name holding a blank
// is quoted (SN"ISS (ZARYA)"), as some versions of the tracker do. Only what
// the record can carry goes in: the name as RecordName makes it, a mode that
// is not one and a negative frequency are left out, each told to complain.
std::string Record(const RecordFields& fields, char decimalSeparator,
                   const std::function<void(const std::string&)>& complain);
// The same, telling on standard error.
std::string Record(const RecordFields& fields, char decimalSeparator = '.');

// A record as given, with the tracker's line end; the empty record stays
// empty (nothing to tell yet).
std::string WithLineEnd(std::string record);
// What is printed of a record: the line without the tracker's line end.
std::string WithoutLineEnd(std::string record);

// A line as standard error may show it: printable ASCII, the rest as \xNN,
// at most 40 bytes of it.
std::string Shown(std::string_view line);

// The decimal separator of the system: the user's locale on Windows, a
// point elsewhere.
char SystemDecimalSeparator();

}  // namespace pasotune::feed
