#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace velkor {

// The wire speaks Windows-1252; everything inside the engine is UTF-8.
std::string cp1252ToUtf8(std::string_view bytes);
// Characters Windows-1252 lacks become '?'.
std::string utf8ToCp1252(std::string_view utf8);

// For logs and replies: control characters shown as \xNN, cut to maxChars with "...".
std::string printable(std::string_view utf8, std::size_t maxChars);

}  // namespace velkor
