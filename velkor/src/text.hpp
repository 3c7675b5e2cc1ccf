#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/text.hpp"

namespace velkor {

// The wire speaks Windows-1252, as the program's does; everything inside the
// engine is UTF-8. Characters Windows-1252 lacks become '?'.
inline std::string cp1252ToUtf8(std::string_view bytes) {
  return pasotune::Cp1252ToUtf8(bytes);
}
inline std::string utf8ToCp1252(std::string_view utf8) {
  return pasotune::Utf8ToCp1252(utf8);
}

// For logs and replies: control characters (C0, DEL and C1) shown as \xNN, malformed UTF-8
// (overlong forms included) as U+FFFD, cut to maxChars with "…".
std::string printable(std::string_view utf8, std::size_t maxChars);

// How many characters of someone else's text a reply repeats.
inline constexpr std::size_t kEchoChars = 64;

// Someone else's text inside a reply: printable, at most kEchoChars characters, malformed UTF-8
// as U+FFFD, and with the first letter of "ERROR", "Velkor READY" and "NOT DONE" escaped, since
// the program reacts to those words anywhere in a reply and an echo must never pass for the
// engine's own verdict.
std::string echoText(std::string_view utf8);

// Bytes from or for a radio as plain ASCII: printable characters as they are, a backslash as
// \\, anything else as \xNN, so a report shows exactly what crossed the line.
std::string radioBytes(std::string_view bytes);

}  // namespace velkor
