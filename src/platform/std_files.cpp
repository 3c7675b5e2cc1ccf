#include "platform/std_files.hpp"

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

std::string StdFiles::TemporaryName(const std::string& target, std::uint64_t n) {
  char suffix[32];
  std::snprintf(suffix, sizeof suffix, ".%016llx.tmp", static_cast<unsigned long long>(n));
  return target + suffix;
}

}  // namespace pasotune
