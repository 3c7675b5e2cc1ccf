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

bool FieldStart(std::string_view text, std::size_t p) {
  if (p == 0) return true;
  if (Separator(text, p - 1) == 1) return true;
  return p >= 2 && Separator(text, p - 2) == 2;
}

// The value of the first field with this key, or nullopt.
std::optional<std::string_view> Field(std::string_view record, std::string_view key) {
  for (std::size_t p = record.find(key); p != std::string_view::npos; p = record.find(key, p + 1)) {
    if (FieldStart(record, p)) {
      const std::size_t start = p + key.size();
      return record.substr(start, ValueEnd(record, start) - start);
    }
  }
  return std::nullopt;
}

void ReadFrequency(std::string_view record, std::string_view key, std::int32_t& field) {
  const auto value = Field(record, key);
  if (!value || value->empty()) return;
  for (char c : *value) {
    if (c < '0' || c > '9') return;
  }
  std::int32_t hz = 0;
  const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), hz);
  if (ec == std::errc{} && end == value->data() + value->size()) field = hz;
}

void ReadMode(std::string_view record, std::string_view key, std::string& field) {
  if (const auto value = Field(record, key)) field = std::string(*value);
}

}  // namespace

void LeerTracking(std::string_view record, Module1& m) {
  // The name must be followed by a separator: a name that ends the record
  // may have been cut short.
  if (const auto name = Field(record, "SN")) {
    const std::size_t start = static_cast<std::size_t>(name->data() - record.data());
    if (!name->empty() && start + name->size() < record.size()) m.Satelite = std::string(*name);
  }
  ReadFrequency(record, "DN", m.FrecBajada);
  ReadFrequency(record, "UP", m.FrecSubida);
  ReadMode(record, "DM", m.ModoBajada);
  ReadMode(record, "UM", m.ModoSubida);
}

}  // namespace pasotune
