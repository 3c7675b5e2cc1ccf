// The event pump over the calling thread's message queue.
#pragma once

#include <functional>
#include <map>
#include <memory>

#include "platform/ports.hpp"
#include "platform/win32/message_window.hpp"

namespace pasotune {

class Win32EventPump : public EventPump {
 public:
  // Lives in the thread whose queue it pumps; so must every window and
  // socket whose messages it is meant to handle.
  Win32EventPump();
  ~Win32EventPump() override;
  Win32EventPump(const Win32EventPump&) = delete;
  Win32EventPump& operator=(const Win32EventPump&) = delete;

  // Dispatches what is pending; only when nothing was, blocks in
  // MsgWaitForMultipleObjectsEx until a message arrives, at most maxWaitMs,
  // and dispatches it. Safe to call from inside any handler. A handler's
  // exception comes out of here once its message is dispatched.
  void PumpOnce(int maxWaitMs) override;
  // SetTimer on a message-only window of the pump. An interval of zero or
  // less starts nothing and returns 0. A tick never runs inside itself: one
  // that is still running when its timer comes round again is skipped.
  TimerId StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(TimerId id) override;

  // Whether a WM_QUIT came through, and its exit code.
  bool QuitPosted() const { return quit_; }
  int QuitCode() const { return quitCode_; }

  // The most messages dispatched by one PumpOnce, so that handlers posting
  // messages endlessly cannot keep a pause from checking its clock.
  static constexpr int kMaxDispatch = 512;

 private:
  struct Timer {
    std::function<void()> tick;
    bool running = false;
  };
  bool OnMessage(UINT message, WPARAM wParam);
  // Dispatches pending messages; tells whether there were any.
  bool DispatchPending();

  std::map<TimerId, std::shared_ptr<Timer>> timers_;
  TimerId lastId_ = 0;
  bool quit_ = false;
  int quitCode_ = 0;
  MessageWindow window_;
};

}  // namespace pasotune
