#include "platform/win32/win32_event_pump.hpp"

#include <climits>

#include "platform/win32/wide_text.hpp"

namespace pasotune {

Win32EventPump::Win32EventPump()
    : window_([this](UINT message, WPARAM wParam, LPARAM) { return OnMessage(message, wParam); }) {}

Win32EventPump::~Win32EventPump() {
  for (const auto& [id, timer] : timers_) ::KillTimer(window_.Handle(), static_cast<UINT_PTR>(id));
}

bool Win32EventPump::OnMessage(UINT message, WPARAM wParam) {
  if (message != WM_TIMER) return false;
  // KillTimer leaves a WM_TIMER already queued where it is: an id that is
  // no longer ours is a stopped timer. Ids are never reused.
  const auto it = timers_.find(static_cast<TimerId>(wParam));
  if (it == timers_.end()) return true;
  // Held here, because the tick may stop its own timer.
  const std::shared_ptr<Timer> timer = it->second;
  if (timer->running) return true;
  timer->running = true;
  struct Done {
    Timer& t;
    ~Done() { t.running = false; }
  } done{*timer};
  timer->tick();
  return true;
}

bool Win32EventPump::DispatchPending() {
  bool any = false;
  MSG msg;
  for (int i = 0; i < kMaxDispatch && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE); ++i) {
    any = true;
    if (msg.message == WM_QUIT) {
      // Noted for whoever runs the thread's main loop, never dispatched.
      quit_ = true;
      quitCode_ = static_cast<int>(msg.wParam);
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
    RethrowHeldWindowException();
  }
  return any;
}

void Win32EventPump::PumpOnce(int maxWaitMs) {
  if (DispatchPending() || maxWaitMs <= 0) return;
  const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(maxWaitMs);
  for (;;) {
    const ULONGLONG now = ::GetTickCount64();
    if (now >= deadline) return;
    // MWMO_INPUTAVAILABLE: a message that was already in the queue, seen
    // but not taken, wakes us too.
    const DWORD left = static_cast<DWORD>(deadline - now);
    const DWORD woke =
        ::MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woke == WAIT_FAILED) {
      throw PortError("Cannot wait for messages: " + SystemErrorText(::GetLastError()));
    }
    if (woke == WAIT_TIMEOUT) return;
    // A message sent from another thread is handled inside PeekMessageW and
    // leaves nothing to take; keep waiting for the rest of the time then.
    if (DispatchPending()) return;
  }
}

EventPump::TimerId Win32EventPump::StartTimer(int intervalMs, std::function<void()> tick) {
  if (intervalMs <= 0) return 0;
  if (lastId_ == INT_MAX) throw PortError("Cannot start a timer: no ids left");
  const TimerId id = ++lastId_;
  if (::SetTimer(window_.Handle(), static_cast<UINT_PTR>(id), static_cast<UINT>(intervalMs),
                 nullptr) == 0) {
    throw PortError("Cannot start a timer: " + SystemErrorText(::GetLastError()));
  }
  timers_[id] = std::make_shared<Timer>(Timer{std::move(tick)});
  return id;
}

void Win32EventPump::StopTimer(TimerId id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  timers_.erase(it);
  ::KillTimer(window_.Handle(), static_cast<UINT_PTR>(id));
}

}  // namespace pasotune
