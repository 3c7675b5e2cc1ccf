// A new, empty folder under the system's temporary folder, for tests and the
// console demo, made with the standard library alone.
#pragma once

#include <string>
#include <string_view>

namespace pasotune {

// Throws std::filesystem::filesystem_error when no folder can be made.
std::string MakeTempFolder(std::string_view prefix);

}  // namespace pasotune
