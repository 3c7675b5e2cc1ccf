#include "platform/qt/qt_clock.hpp"

#include <QTime>

namespace pasotune {

double QtClock::SecondsSinceMidnight() {
  return QTime::currentTime().msecsSinceStartOfDay() / 1000.0;
}

}  // namespace pasotune
