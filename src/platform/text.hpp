// Conversions at the edges: the core speaks UTF-8, the wire and the settings
// file speak Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace pasotune {

// The code point that starts at pos, which moves past it. Only the shortest form of a scalar
// value counts: an overlong form ("\xC1\x85" for 'E'), a surrogate, a value past U+10FFFF, a
// stray or cut-short byte is U+FFFD for its first byte, so no bytes can pass for ASCII letters
// they do not hold.
inline constexpr char32_t kReplacementChar = 0xFFFD;
char32_t DecodeUtf8(std::string_view utf8, std::size_t& pos);

// Characters that Windows-1252 cannot hold become '?'; malformed UTF-8 too.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace pasotune
