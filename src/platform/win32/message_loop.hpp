// One turn of a plain message loop, for a thread that runs no
// Win32EventPump (a tool's main loop): wait for a message, the handle, or
// the deadline, whichever comes first, then handle every message waiting.
#pragma once

#include "platform/win32/win32_api.hpp"

namespace pasotune {

// False once WM_QUIT came; the loop should end.
inline bool WaitThenDispatch(DWORD waitMs, HANDLE also = nullptr) {
  ::MsgWaitForMultipleObjectsEx(also ? 1 : 0, &also, waitMs, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) return false;
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
  return true;
}

}  // namespace pasotune
