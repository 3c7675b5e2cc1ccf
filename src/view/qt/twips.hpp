// The window's layout is fixed in twips (1/1440 inch).
#pragma once

#include <cmath>

namespace pasotune {

inline int TwipsToPixels(int twips, double dpi) {
  return static_cast<int>(std::lround(twips * dpi / 1440.0));
}

}  // namespace pasotune
