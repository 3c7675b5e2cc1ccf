// Pictures from the bytes of an .ico file.
#pragma once

#include <string_view>

#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

// The file's image that suits a square of `size` pixels best, at its own
// size; null when the bytes hold no icon the system can read. The caller
// owns the icon (DestroyIcon).
HICON IconFromFile(std::string_view bytes, int size);

}  // namespace pasotune::win32view
