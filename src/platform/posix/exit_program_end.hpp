// Ends the program on the spot, as the core asks at its close.
#pragma once

#include "platform/ports.hpp"

namespace pasotune {

class ExitProgramEnd : public ProgramEnd {
 public:
  // Flushes stdio, then _Exit(0): no destructor or Qt handler runs after.
  [[noreturn]] void End() override;
};

}  // namespace pasotune
