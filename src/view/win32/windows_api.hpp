// <windows.h> for the window, with UTF-8 <-> UTF-16 for its texts. Lean and
// without min/max; MessageBox and ERROR undefined, so that no macro renames
// the program's own names.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#undef MessageBox
#undef ERROR

#include <exception>
#include <string>
#include <string_view>

namespace pasotune::win32view {

// Malformed UTF-8 becomes U+FFFD.
inline std::wstring Wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int size = static_cast<int>(utf8.size());
  const int n = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
  return wide;
}

inline std::string Utf8(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string utf8(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
  return utf8;
}

// A window's text.
inline std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(::GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(::GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// An exception must not unwind through the system's code that called a
// window procedure: the procedure holds it here, for whoever dispatched the
// message to throw again. A second one before that is dropped.
inline std::exception_ptr& HeldException() {
  thread_local std::exception_ptr held;
  return held;
}
inline void HoldException() {
  if (!HeldException()) HeldException() = std::current_exception();
}

}  // namespace pasotune::win32view
