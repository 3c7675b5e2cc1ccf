#include "view/win32/clipboard.hpp"

#include <cstring>
#include <string>

namespace pasotune::win32view {

bool CopyText(HWND owner, std::string_view utf8) {
  const std::wstring text = Utf8ToWide(utf8);
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  const HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, bytes);
  if (memory == nullptr) return false;
  void* to = ::GlobalLock(memory);
  if (to == nullptr) {
    ::GlobalFree(memory);
    return false;
  }
  std::memcpy(to, text.c_str(), bytes);
  ::GlobalUnlock(memory);
  // Another program may hold the clipboard for a moment.
  bool open = false;
  for (int tries = 0; tries < 5 && !open; ++tries) {
    open = ::OpenClipboard(owner) != FALSE;
    if (!open) ::Sleep(20);
  }
  if (!open) {
    ::GlobalFree(memory);
    return false;
  }
  ::EmptyClipboard();
  const bool done = ::SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
  ::CloseClipboard();
  if (!done) ::GlobalFree(memory);  // the clipboard owns it only when taken
  return done;
}

}  // namespace pasotune::win32view
