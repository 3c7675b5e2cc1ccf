#include "platform/win32/win32_clock.hpp"

#include "platform/win32/win32_api.hpp"

namespace pasotune {

double Win32Clock::SecondsSinceMidnight() {
  SYSTEMTIME t;
  ::GetLocalTime(&t);
  return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
}

}  // namespace pasotune
