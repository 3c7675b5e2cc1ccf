#include "platform/std_files.hpp"

#include <algorithm>
#include <cstdio>
#include <random>

namespace pasotune {

namespace {
std::uint64_t RandomSeed() {
  std::random_device device;
  return (static_cast<std::uint64_t>(device()) << 32) ^ device();
}
}  // namespace

StdFiles::StdFiles(std::string programFolder) : StdFiles(std::move(programFolder), RandomSeed()) {}

std::string PaddedTo(std::string_view bytes, std::uint64_t size) {
  std::string out(bytes);
  while (out.size() + 2 <= size) out += "\r\n";
  if (out.size() < size) out += '\r';
  return out;
}

std::string StdFiles::TemporaryName(const std::string& target, std::uint64_t n) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(n));
  return target + suffix;
}

bool StdFiles::IsTemporaryName(std::string_view name, std::string_view targetName) {
  constexpr std::size_t kDigits = 16;
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() != targetName.size() + 1 + kDigits + kEnd.size()) return false;
  if (name.substr(0, targetName.size()) != targetName || name[targetName.size()] != '.') {
    return false;
  }
  const std::string_view digits = name.substr(targetName.size() + 1, kDigits);
  return std::all_of(digits.begin(), digits.end(),
                     [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }) &&
         name.substr(name.size() - kEnd.size()) == kEnd;
}

}  // namespace pasotune
