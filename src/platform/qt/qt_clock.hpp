// Local wall-clock time of day.
#pragma once

#include "platform/ports.hpp"

namespace pasotune {

class QtClock : public Clock {
 public:
  double SecondsSinceMidnight() override;
};

}  // namespace pasotune
