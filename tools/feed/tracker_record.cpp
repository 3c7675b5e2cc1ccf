#include "tracker_record.hpp"

#include <cmath>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

namespace pasotune::feed {

namespace {

void Angle(std::string& out, const char* key, double degrees, char separator) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", std::isfinite(degrees) ? degrees : 0.0);
  std::string value(text);
  // snprintf follows the C locale, which the feed never changes: a point.
  if (const std::size_t dot = value.find('.'); dot != std::string::npos) value[dot] = separator;
  out += key;
  out += value;
}

}  // namespace

std::string Record(const RecordFields& f, char separator) {
  std::string r;
  const auto field = [&r](const char* key, const std::string& value) {
    if (!r.empty()) r += ' ';
    r += key;
    r += value;
  };
  if (f.name) {
    const bool quoted = f.name->find(' ') != std::string::npos;
    field("SN", quoted ? '"' + *f.name + '"' : *f.name);
  }
  if (f.azimuthDeg) {
    if (!r.empty()) r += ' ';
    Angle(r, "AZ", *f.azimuthDeg, separator);
  }
  if (f.elevationDeg) {
    if (!r.empty()) r += ' ';
    Angle(r, "EL", *f.elevationDeg, separator);
  }
  if (f.downlinkHz) field("DN", std::to_string(*f.downlinkHz));
  if (f.uplinkHz) field("UP", std::to_string(*f.uplinkHz));
  if (f.downMode) field("DM", *f.downMode);
  if (f.upMode) field("UM", *f.upMode);
  return WithLineEnd(std::move(r));
}

std::string WithLineEnd(std::string record) {
  if (!record.empty()) record += "\r\n";
  return record;
}

std::string WithoutLineEnd(std::string record) {
  while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
  return record;
}

char SystemDecimalSeparator() {
#ifdef _WIN32
  wchar_t separator[4] = {};
  if (GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, separator, 4) > 0 &&
      separator[0] > 0 && separator[0] < 0x80 && separator[1] == 0) {
    return static_cast<char>(separator[0]);
  }
#endif
  return '.';
}

}  // namespace pasotune::feed
