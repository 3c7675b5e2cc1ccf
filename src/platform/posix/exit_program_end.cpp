#include "platform/posix/exit_program_end.hpp"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace pasotune {

void ExitProgramEnd::End() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  std::_Exit(0);
}

}  // namespace pasotune
