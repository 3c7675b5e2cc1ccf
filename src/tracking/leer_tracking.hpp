// The tracker's record: "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB".
#pragma once

#include <cstddef>
#include <string_view>

#include "form/form1.hpp"

namespace pasotune {

// A record is five short fields; anything longer is not one, and parsing it
// would cost time and memory in step with whatever the tracker sends.
inline constexpr std::size_t kMaxRegistro = 4 * 1024;

// Reads the five tracking fields of m from one record. Fields are separated
// by blanks or control characters; a key counts only where a field starts.
// A field whose key is missing, or whose value is malformed, keeps its value.
void LeerTracking(std::string_view record, Module1& m);

}  // namespace pasotune
