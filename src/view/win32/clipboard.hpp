// Text to the system's clipboard.
#pragma once

#include <string_view>

#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

// UTF-8 text, put on the clipboard as Unicode text; false when the
// clipboard could not be had (another program holds it open).
bool CopyText(HWND owner, std::string_view utf8);

}  // namespace pasotune::win32view
