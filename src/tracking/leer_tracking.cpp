#include "tracking/leer_tracking.hpp"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

namespace pasotune {
namespace {

// A field ends at a blank or at any control character (C0, DEL, and the C1
// range U+0080 to U+009F, two bytes in UTF-8): a mode holding a line end
// would otherwise become a line of its own at the engine. Returns the length
// of the separator at i, or 0.
std::size_t Separator(std::string_view text, std::size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  if (c <= 0x20 || c == 0x7F) return 1;
  if (c == 0xC2 && i + 1 < text.size()) {
    const auto next = static_cast<unsigned char>(text[i + 1]);
    if (next >= 0x80 && next <= 0x9F) return 2;
  }
  return 0;
}

// Where the value starting at `from` ends: the next separator, or the end.
std::size_t ValueEnd(std::string_view text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i) {
    if (Separator(text, i) != 0) return i;
  }
  return text.size();
}

// Where a name in quotes lies: keys inside it are part of the name.
struct Span {
  std::size_t begin = 0, end = 0;
  bool Holds(std::size_t p) const { return p >= begin && p < end; }
};

bool FieldStart(std::string_view text, std::size_t p) {
  if (p == 0) return true;
  if (Separator(text, p - 1) == 1) return true;
  return p >= 2 && Separator(text, p - 2) == 2;
}

// The value of the first field with this key, or nullopt.
std::optional<std::string_view> Field(std::string_view record, std::string_view key,
                                      Span quoted = {}) {
  for (std::size_t p = record.find(key); p != std::string_view::npos; p = record.find(key, p + 1)) {
    if (FieldStart(record, p) && !quoted.Holds(p)) {
      const std::size_t start = p + key.size();
      return record.substr(start, ValueEnd(record, start) - start);
    }
  }
  return std::nullopt;
}

// Whether the value was taken; a value of digits only that does not fit in
// the field is handed back in tooLarge.
bool ReadFrequency(std::string_view record, std::string_view key, Span quoted, std::int32_t& field,
                   std::string& tooLarge) {
  const auto value = Field(record, key, quoted);
  if (!value || value->empty()) return false;
  for (char c : *value) {
    if (c < '0' || c > '9') return false;
  }
  std::int32_t hz = 0;
  const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), hz);
  if (ec == std::errc::result_out_of_range) {
    // A record is at most a few kilobytes, but the log needs no more than this.
    constexpr std::size_t kMaxDigits = 24;
    tooLarge = value->size() <= kMaxDigits ? std::string(*value)
                                           : std::string(value->substr(0, kMaxDigits)) + "…";
    return false;
  }
  if (ec != std::errc{} || end != value->data() + value->size()) return false;
  field = hz;
  return true;
}

void ReadMode(std::string_view record, std::string_view key, Span quoted, std::string& field) {
  if (const auto value = Field(record, key, quoted)) field = std::string(*value);
}

// A name in quotes ("ISS (ZARYA)"): the text up to the closing quote. A
// control character before it means the name was cut, so none is taken.
std::optional<std::string_view> QuotedName(std::string_view record, std::size_t start,
                                           Span& quoted) {
  for (std::size_t i = start + 1; i < record.size(); ++i) {
    if (record[i] == '"') {
      quoted = {start, i + 1};
      return record.substr(start + 1, i - start - 1);
    }
    if (record[i] != ' ' && Separator(record, i) != 0) break;
  }
  return std::nullopt;
}

}  // namespace

Lectura LeerTracking(std::string_view record, Module1& m) {
  Span quoted;
  if (const auto name = Field(record, "SN"); name && !name->empty()) {
    const std::size_t start = static_cast<std::size_t>(name->data() - record.data());
    if (name->front() == '"') {
      const auto inside = QuotedName(record, start, quoted);
      if (inside && !inside->empty()) m.Satelite = std::string(*inside);
    } else if (start + name->size() < record.size()) {
      // The name must be followed by a separator: a name that ends the
      // record may have been cut short.
      m.Satelite = std::string(*name);
    }
  }
  Lectura lectura;
  lectura.bajadaLeida = ReadFrequency(record, "DN", quoted, m.FrecBajada, lectura.bajadaNoCabe);
  lectura.subidaLeida = ReadFrequency(record, "UP", quoted, m.FrecSubida, lectura.subidaNoCabe);
  ReadMode(record, "DM", quoted, m.ModoBajada);
  ReadMode(record, "UM", quoted, m.ModoSubida);
  return lectura;
}

}  // namespace pasotune
