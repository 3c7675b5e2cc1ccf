#include "platform/qt/qt_locale.hpp"

#include <QLocale>
#include <QString>

namespace pasotune {

char SystemDecimalSeparator() {
  // Qt 6 returns a string: some locales use a separator outside one UTF-16
  // unit, and the core's texts are byte-wise.
  const QString point = QLocale::system().decimalPoint();
  if (point.size() != 1) return '.';
  const char16_t c = point.at(0).unicode();
  return c > 0x20 && c < 0x7F ? static_cast<char>(c) : '.';
}

}  // namespace pasotune
