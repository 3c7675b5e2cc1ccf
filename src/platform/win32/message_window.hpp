// A message-only window whose messages go to a function: the place where
// timers and socket notifications of the thread's message queue arrive.
#pragma once

#include <functional>

#include "platform/win32/win32_api.hpp"

namespace pasotune {

class MessageWindow {
 public:
  // Returns whether it handled the message; the rest goes to DefWindowProc.
  using Handler = std::function<bool(UINT message, WPARAM wParam, LPARAM lParam)>;
  // Lives in the calling thread's queue; throws PortError when the system
  // has no window to give.
  explicit MessageWindow(Handler handler);
  ~MessageWindow();
  MessageWindow(const MessageWindow&) = delete;
  MessageWindow& operator=(const MessageWindow&) = delete;

  HWND Handle() const { return hwnd_; }

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  Handler handler_;
  HWND hwnd_ = nullptr;
};

// An exception must not unwind through the system's code that called the
// window procedure, so a handler's exception is held for the thread here
// and thrown again by whoever dispatched the message: the event pump does,
// right after DispatchMessageW. A second one before that is dropped.
void HoldWindowException();
void RethrowHeldWindowException();

}  // namespace pasotune
