// The tracker's record: "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB".
#pragma once

#include <string_view>

#include "form/form1.hpp"

namespace pasotune {

// Reads the five tracking fields of m from one record. A key counts only
// where a field starts: at the start of the record or right after a blank.
// A field whose key is missing, or whose value is malformed, keeps its value.
void LeerTracking(std::string_view record, Module1& m);

}  // namespace pasotune
