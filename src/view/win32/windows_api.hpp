// What the window takes from <windows.h> (through the adapters' one way
// in), and where its handlers' exceptions wait.
#pragma once

#include <exception>
#include <string>

#include "platform/win32/wide_text.hpp"
#include "platform/win32/win32_api.hpp"

namespace pasotune::win32view {

// A window's text.
inline std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// An exception must not unwind through the system's code that called a
// window procedure: the procedure holds it here, for the program's loop to
// take and report. A second one before that is dropped.
inline std::exception_ptr& HeldException() {
  thread_local std::exception_ptr held;
  return held;
}
inline void HoldException() {
  if (!HeldException()) HeldException() = std::current_exception();
}

}  // namespace pasotune::win32view
