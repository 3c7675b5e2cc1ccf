#include "tracking/frequency_text.hpp"

#include <cstdlib>

namespace pasotune {
namespace {

std::string Fraction(std::int64_t value, int digits) {
  std::string s(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value /= 10)
    s[static_cast<std::size_t>(i)] = static_cast<char>('0' + value % 10);
  return s;
}

}  // namespace

std::string MhzText(std::int32_t hz, char sep) {
  // Exact integer arithmetic: a whole number of Hz never needs more than six
  // decimals, and the result equals the double's shortest form.
  const std::int64_t v = hz;
  const std::int64_t a = std::llabs(v);
  std::string out = v < 0 ? "-" : "";
  out += std::to_string(a / 1'000'000);
  std::string frac = Fraction(a % 1'000'000, 6);
  while (!frac.empty() && frac.back() == '0') frac.pop_back();
  if (!frac.empty()) {
    out += sep;
    out += frac;
  }
  return out;
}

std::string CommandFrequencyText(std::string_view mhz, char sep) {
  const auto digit = [&](std::size_t i) {
    return i < mhz.size() && mhz[i] >= '0' && mhz[i] <= '9';
  };
  std::size_t i = 0;
  const bool negative = !mhz.empty() && mhz[0] == '-';
  if (negative) ++i;
  const std::size_t first = i;
  std::int64_t whole = 0;
  for (; digit(i) && whole < 1'000'000'000'000; ++i) whole = whole * 10 + (mhz[i] - '0');
  bool any = i > first;
  std::int64_t hz = 0;
  int places = 0;
  if (i < mhz.size() && mhz[i] == sep) {
    for (++i; digit(i); ++i, any = true) {
      if (places < 6) {
        hz = hz * 10 + (mhz[i] - '0');
        ++places;
      }
    }
  }
  if (!any || i != mhz.size()) return std::string("0") + sep + "0000";
  for (; places < 6; ++places) hz *= 10;
  hz += whole * 1'000'000;
  const std::int64_t steps = (hz + 50) / 100;  // half-way goes up
  std::string out = negative && steps != 0 ? "-" : "";
  out += std::to_string(steps / 10'000);
  out += sep;
  out += Fraction(steps % 10'000, 4);
  return out;
}

}  // namespace pasotune
