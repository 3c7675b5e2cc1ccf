// The program's place and the user's settings as Windows tells them, and
// the end of the program.
#pragma once

#include <string>
#include <string_view>

#include "platform/ports.hpp"

namespace pasotune {

// The folder of the running executable (GetModuleFileNameW), in UTF-8.
// Throws PortError when the system does not tell.
std::string ModuleFolder();

// The folder part of an executable's full path, without a trailing
// backslash except at a root: "C:\", "\\server\share\", "\\?\C:\".
std::string FolderOfModulePath(std::string_view path);

// The decimal separator of the user's regional settings (GetLocaleInfoEx,
// LOCALE_SDECIMAL), as the core's one byte.
char SystemDecimalSeparator();

// A separator the core can use: one printable ASCII character other than a
// digit or a minus; anything else (several characters, non-ASCII, empty)
// reads as '.', the separator of the engine's own commands.
char DecimalSeparatorFrom(std::wstring_view setting);

class Win32ProgramEnd : public ProgramEnd {
 public:
  // Flushes stdio, then ExitProcess(0): no further message is handled.
  [[noreturn]] void End() override;
};

}  // namespace pasotune
