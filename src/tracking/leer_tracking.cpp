#include "tracking/leer_tracking.hpp"

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>

namespace pasotune {
namespace {

constexpr char kBlank = ' ';

// The value of the first field with this key, or nullopt. The value runs
// from right after the key to the next blank or the end of the record.
std::optional<std::string_view> Field(std::string_view record, std::string_view key) {
  for (std::size_t p = record.find(key); p != std::string_view::npos; p = record.find(key, p + 1)) {
    if (p == 0 || record[p - 1] == kBlank) {
      const std::string_view rest = record.substr(p + key.size());
      return rest.substr(0, rest.find(kBlank));
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
  // The name must be followed by a blank: a name that ends the record may
  // have been cut short.
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
