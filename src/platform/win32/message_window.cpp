#include "platform/win32/message_window.hpp"

#include <exception>

#include "platform/ports.hpp"
#include "platform/win32/wide_text.hpp"

namespace pasotune {

namespace {

constexpr const wchar_t* kClassName = L"PasotuneMessageWindow";

thread_local std::exception_ptr held;

ATOM RegisterOnce(WNDPROC procedure) {
  // Thread-safe once; the class stays registered for the life of the module.
  static const ATOM atom = [procedure] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = procedure;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassExW(&wc);
  }();
  return atom;
}

}  // namespace

void HoldWindowException() {
  if (!held) held = std::current_exception();
}

void RethrowHeldWindowException() {
  if (!held) return;
  std::exception_ptr e = std::move(held);
  held = nullptr;
  std::rethrow_exception(e);
}

MessageWindow::MessageWindow(Handler handler) : handler_(std::move(handler)) {
  if (RegisterOnce(&MessageWindow::Procedure) == 0) {
    throw PortError("Cannot register a window class: " + SystemErrorText(::GetLastError()));
  }
  hwnd_ = ::CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            ::GetModuleHandleW(nullptr), this);
  if (hwnd_ == nullptr) {
    throw PortError("Cannot create a message window: " + SystemErrorText(::GetLastError()));
  }
}

MessageWindow::~MessageWindow() {
  // Nothing reaches the handler from here on, not even what DestroyWindow
  // itself sends.
  ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
  ::DestroyWindow(hwnd_);
}

LRESULT CALLBACK MessageWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MessageWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  // Messages during creation come before the constructor has the handle.
  if (self != nullptr && self->hwnd_ == hwnd && self->handler_) {
    try {
      if (self->handler_(message, wParam, lParam)) return 0;
    } catch (...) {
      HoldWindowException();
      return 0;
    }
  }
  return ::DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace pasotune
