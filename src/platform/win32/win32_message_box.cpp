#include "platform/win32/win32_message_box.hpp"

#include "platform/win32/wide_text.hpp"

namespace pasotune {

namespace {

constexpr const wchar_t* kOriginal = L"PasotuneBoxProcedure";
constexpr const wchar_t* kYesNo = L"PasotuneBoxYesNo";

// The box that Show is about to put up, until its window is created.
struct Pending {
  bool yesNo = false;
  bool claimed = false;
};
thread_local Pending* pending = nullptr;

LRESULT CALLBACK BoxProcedure(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
  const auto original = reinterpret_cast<WNDPROC>(::GetPropW(box, kOriginal));
  if (message == WM_INITDIALOG) {
    // The system names the buttons here, in its own language.
    const LRESULT result = ::CallWindowProcW(original, box, message, wParam, lParam);
    ::SetDlgItemTextW(box, IDYES, L"&S\u00ED");
    ::SetDlgItemTextW(box, IDNO, L"&No");
    ::SetDlgItemTextW(box, IDOK, L"Aceptar");
    return result;
  }
  if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL && ::GetPropW(box, kYesNo) != nullptr) {
    // Escape, or closing the box, answers No.
    return ::CallWindowProcW(original, box, message, MAKEWPARAM(IDNO, HIWORD(wParam)), lParam);
  }
  if (message == WM_NCDESTROY) {
    ::SetWindowLongPtrW(box, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
    ::RemovePropW(box, kOriginal);
    ::RemovePropW(box, kYesNo);
  }
  return ::CallWindowProcW(original, box, message, wParam, lParam);
}

// Takes over the box's window procedure as soon as the window exists.
LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HCBT_CREATEWND && pending != nullptr && !pending->claimed) {
    const auto hwnd = reinterpret_cast<HWND>(wParam);
    wchar_t name[16] = {};
    ::GetClassNameW(hwnd, name, 16);
    if (std::wstring_view(name) == L"#32770") {
      pending->claimed = true;
      ::SetPropW(hwnd, kYesNo, pending->yesNo ? hwnd : nullptr);
      ::SetPropW(hwnd, kOriginal,
                 reinterpret_cast<HANDLE>(::SetWindowLongPtrW(
                     hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BoxProcedure))));
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

UINT Win32MessageBox::StyleFor(MsgButtons buttons, MsgIcon icon) {
  UINT style = MB_TASKMODAL | MB_SETFOREGROUND;
  style |= buttons == MsgButtons::kYesNo ? MB_YESNO | MB_DEFBUTTON1 : MB_OK;
  switch (icon) {
    case MsgIcon::kQuestion:
      style |= MB_ICONQUESTION;
      break;
    case MsgIcon::kExclamation:
      style |= MB_ICONEXCLAMATION;
      break;
    case MsgIcon::kNone:
      break;
  }
  return style;
}

MsgResult Win32MessageBox::Show(const std::string& text, const std::string& title,
                                MsgButtons buttons, MsgIcon icon) {
  const bool yesNo = buttons == MsgButtons::kYesNo;
  // A box shown from inside another (a timer's handler) has its own.
  Pending mine{yesNo};
  Pending* const outer = pending;
  pending = &mine;
  const HHOOK hook = ::SetWindowsHookExW(WH_CBT, &Watch, nullptr, ::GetCurrentThreadId());
  const int answer = ::MessageBoxW(owner_, Utf8ToWide(text).c_str(), Utf8ToWide(title).c_str(),
                                   StyleFor(buttons, icon));
  if (hook != nullptr) ::UnhookWindowsHookEx(hook);
  pending = outer;
  if (!yesNo) return MsgResult::kOk;
  // Closing the box any other way counts as No.
  return answer == IDYES ? MsgResult::kYes : MsgResult::kNo;
}

}  // namespace pasotune
