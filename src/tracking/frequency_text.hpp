// How frequencies read on screen and in commands.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pasotune {

// Hz as MHz, with as many decimals as needed and none when whole:
// 145950000 -> "145.95", 1268000000 -> "1268", 0 -> "0".
std::string MhzText(std::int32_t hz, char decimalSeparator);

// A MHz text read back and written to the nearest 100 Hz with exactly four
// decimals: "145.950123" -> "145.9501", "0" -> "0.0000". Text that is not a
// number gives "0.0000".
std::string CommandFrequencyText(std::string_view mhz, char decimalSeparator);

}  // namespace pasotune
