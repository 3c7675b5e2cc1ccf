// The local time of day from the system clock.
#pragma once

#include "platform/ports.hpp"

namespace pasotune {

class Win32Clock : public Clock {
 public:
  // GetLocalTime, to the millisecond.
  double SecondsSinceMidnight() override;
};

}  // namespace pasotune
