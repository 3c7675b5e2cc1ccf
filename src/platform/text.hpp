// Conversions at the edges: the core speaks UTF-8, the wire and the settings
// file speak Windows-1252.
#pragma once

#include <string>
#include <string_view>

namespace pasotune {

// Characters that Windows-1252 cannot hold become '?'; malformed UTF-8 too.
std::string Utf8ToCp1252(std::string_view utf8);
std::string Cp1252ToUtf8(std::string_view bytes);

}  // namespace pasotune
