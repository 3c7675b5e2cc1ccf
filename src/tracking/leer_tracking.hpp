// The tracker's record: "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "form/form1.hpp"

namespace pasotune {

// A record is five short fields; anything longer is not one, and parsing it
// would cost time and memory in step with whatever the tracker sends.
inline constexpr std::size_t kMaxRegistro = 4 * 1024;

// What a record's frequencies did to the fields, so the follower can say
// why a frequency on show is not the one the tracker sent.
struct Lectura {
  bool bajadaLeida = false;  // DN gave FrecBajada a new value
  bool subidaLeida = false;
  // The digits of a DN or UP value too large for its field (QO-100's 10 GHz
  // downlink), which then keeps its previous value; empty otherwise.
  std::string bajadaNoCabe;
  std::string subidaNoCabe;
};

// Reads the five tracking fields of m from one record. Fields are separated
// by blanks or control characters; a key counts only where a field starts.
// A name in double quotes is the text between them, blanks included.
// A field whose key is missing, or whose value is malformed, keeps its value.
Lectura LeerTracking(std::string_view record, Module1& m);

}  // namespace pasotune
