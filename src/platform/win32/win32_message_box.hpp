// Modal message boxes with MessageBoxW.
#pragma once

#include "platform/ports.hpp"
#include "platform/win32/win32_api.hpp"

namespace pasotune {

class Win32MessageBox : public MessageBox {
 public:
  // owner: the program's window once there is one, so the box stands over it.
  explicit Win32MessageBox(HWND owner = nullptr) : owner_(owner) {}
  void SetOwner(HWND owner) { owner_ = owner; }

  // Task-modal: every window of this thread waits for the answer. The texts
  // are shown as given; the buttons speak Spanish (Sí, No, Aceptar) whatever
  // the system's language. With Yes and No, Yes is the default button, and
  // Escape or closing the box answers No.
  MsgResult Show(const std::string& text, const std::string& title, MsgButtons buttons,
                 MsgIcon icon) override;

  // The MessageBoxW style for the buttons and the icon.
  static UINT StyleFor(MsgButtons buttons, MsgIcon icon);

 private:
  HWND owner_;
};

}  // namespace pasotune
