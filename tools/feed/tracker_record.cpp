#include "tracker_record.hpp"

#include <cmath>
#include <cstdio>
#include <tuple>
#include <utility>

#include "feed_options.hpp"

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

constexpr char32_t kReplacement = 0xFFFD;

// The code point at s[i] and its length in bytes: U+FFFD and 1 for a byte
// that does not begin a well-formed sequence (overlong forms and surrogates
// included, which D-Bus would refuse).
std::pair<char32_t, std::size_t> Decode(std::string_view s, std::size_t i) {
  const auto b = static_cast<unsigned char>(s[i]);
  if (b < 0x80) return {b, 1};
  std::size_t n = 0;
  char32_t c = 0, least = 0;
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2, c = b & 0x1F, least = 0x80;
  } else if ((b & 0xF0) == 0xE0) {
    n = 3, c = b & 0x0F, least = 0x800;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4, c = b & 0x07, least = 0x10000;
  } else {
    return {kReplacement, 1};
  }
  if (i + n > s.size()) return {kReplacement, 1};
  for (std::size_t k = 1; k < n; ++k) {
    const auto next = static_cast<unsigned char>(s[i + k]);
    if ((next & 0xC0) != 0x80) return {kReplacement, 1};
    c = (c << 6) | (next & 0x3F);
  }
  if (c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return {kReplacement, 1};
  return {c, n};
}

// What would end a field for a reader, or hide itself in the window.
bool Invisible(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2069) || c == 0xFEFF;
}

}  // namespace

std::optional<std::string> RecordName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size();) {
    const auto [c, length] = Decode(name, i);
    std::string_view piece = name.substr(i, length);
    i += length;
    if (c == kReplacement && length == 1) piece = "\xEF\xBF\xBD";
    if (Invisible(c)) piece = " ";
    if (c == '"') piece = "'";
    if (piece == " " && out.empty()) continue;
    if (out.size() + piece.size() > kMaxNameBytes) break;
    out += piece;
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  if (out.empty()) return std::nullopt;
  return out;
}

bool IsRecordMode(std::string_view mode) {
  if (mode.empty() || mode.size() > kMaxModeBytes) return false;
  for (const char c : mode) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && !(c >= '0' && c <= '9') && c != '-') return false;
  }
  return true;
}

std::string Record(const RecordFields& f, char separator,
                   const std::function<void(const std::string&)>& complain) {
  std::string r;
  const auto field = [&r](const char* key, const std::string& value) {
    if (!r.empty()) r += ' ';
    r += key;
    r += value;
  };
  if (f.name) {
    if (const std::optional<std::string> name = RecordName(*f.name)) {
      field("SN", name->find(' ') != std::string::npos ? '"' + *name + '"' : *name);
    }
  }
  if (f.azimuthDeg) {
    if (!r.empty()) r += ' ';
    Angle(r, "AZ", *f.azimuthDeg, separator);
  }
  if (f.elevationDeg) {
    if (!r.empty()) r += ' ';
    Angle(r, "EL", *f.elevationDeg, separator);
  }
  for (const auto& [key, hz, what] :
       {std::tuple{"DN", f.downlinkHz, "bajada"}, std::tuple{"UP", f.uplinkHz, "subida"}}) {
    if (!hz) continue;
    if (*hz < 0) {
      complain(std::string("se deja fuera del registro una frecuencia de ") + what +
               " negativa: " + std::to_string(*hz));
      continue;
    }
    field(key, std::to_string(*hz));
  }
  for (const auto& [key, mode, what] :
       {std::tuple{"DM", &f.downMode, "bajada"}, std::tuple{"UM", &f.upMode, "subida"}}) {
    if (!*mode) continue;
    if (!IsRecordMode(**mode)) {
      complain(std::string("se deja fuera del registro un modo de ") + what +
               " que no lo es: " + Shown(**mode));
      continue;
    }
    field(key, **mode);
  }
  return WithLineEnd(std::move(r));
}

std::string Record(const RecordFields& fields, char separator) {
  return Record(fields, separator, &Tell);
}

std::string WithLineEnd(std::string record) {
  if (!record.empty()) record += "\r\n";
  return record;
}

std::string WithoutLineEnd(std::string record) {
  while (!record.empty() && (record.back() == '\n' || record.back() == '\r')) record.pop_back();
  return record;
}

std::string Shown(std::string_view line) {
  std::string out;
  for (const char c : line.substr(0, 40)) {
    const auto u = static_cast<unsigned char>(c);
    if (u >= 0x20 && u < 0x7F) {
      out += c;
    } else {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\x";
      out += kHex[u >> 4];
      out += kHex[u & 15];
    }
  }
  if (line.size() > 40) out += "...";
  return out;
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
