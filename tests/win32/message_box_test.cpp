// Included first on purpose: after <windows.h>, MessageBox must still name
// the port (platform/ports.hpp refuses to compile otherwise).
#include "platform/win32/win32_api.hpp"
//
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/wide_text.hpp"
#include "platform/win32/win32_message_box.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

// What the box showed, read from inside its own modal loop.
struct Seen {
  std::wstring title;
  std::vector<std::wstring> texts;
  std::vector<int> buttons;
  std::vector<std::wstring> captions;  // of the buttons, in the same order
  HICON icon = nullptr;
  int defaultButton = 0;
  bool ownerDisabled = false;
};

struct Watch {
  HWND owner = nullptr;  // another window of the thread
  UINT command = 0;      // a button to press by its id, or else
  WPARAM key = 0;        // a key to press
  Seen seen;
  bool found = false;
};

thread_local Watch* watch = nullptr;

BOOL CALLBACK Child(HWND child, LPARAM) {
  wchar_t name[64] = {};
  ::GetClassNameW(child, name, 64);
  const LONG style = ::GetWindowLongW(child, GWL_STYLE);
  if (::lstrcmpiW(name, L"Button") == 0) {
    watch->seen.buttons.push_back(::GetDlgCtrlID(child));
    wchar_t caption[64] = {};
    ::GetWindowTextW(child, caption, 64);
    watch->seen.captions.emplace_back(caption);
    if ((style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
      watch->seen.defaultButton = ::GetDlgCtrlID(child);
  } else if (::lstrcmpiW(name, L"Static") == 0 && (style & SS_TYPEMASK) == SS_ICON) {
    watch->seen.icon = reinterpret_cast<HICON>(::SendMessageW(child, STM_GETICON, 0, 0));
  } else if (::lstrcmpiW(name, L"Static") == 0) {
    wchar_t text[256] = {};
    ::GetWindowTextW(child, text, 256);
    watch->seen.texts.emplace_back(text);
  }
  return TRUE;
}

BOOL CALLBACK Box(HWND hwnd, LPARAM) {
  wchar_t name[64] = {};
  ::GetClassNameW(hwnd, name, 64);
  if (std::wstring(name) != L"#32770" || watch->found) return TRUE;
  watch->found = true;
  wchar_t title[256] = {};
  ::GetWindowTextW(hwnd, title, 256);
  watch->seen.title = title;
  ::EnumChildWindows(hwnd, Child, 0);
  watch->seen.ownerDisabled = !::IsWindowEnabled(watch->owner);
  if (watch->command != 0) {
    ::PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(watch->command, BN_CLICKED), 0);
  } else {
    // As the user would: to the button that has the focus.
    const HWND focus = ::GetFocus() != nullptr ? ::GetFocus() : hwnd;
    ::PostMessageW(focus, WM_KEYDOWN, watch->key, 0);
    ::PostMessageW(focus, WM_KEYUP, watch->key, 0);
  }
  return FALSE;
}

// Runs inside MessageBoxW's own message loop, on this thread.
void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD) {
  if (watch != nullptr && !watch->found) ::EnumThreadWindows(::GetCurrentThreadId(), Box, 0);
}

TEST(Win32MessageBox, ShowsTheTextsAsGivenAndAnswers) {
  const HWND owner = ::CreateWindowExW(0, L"STATIC", L"Pasotune", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                       100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(owner, nullptr);
  const HICON question = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32514));     // IDI_QUESTION
  const HICON exclamation = ::LoadIconW(nullptr, MAKEINTRESOURCEW(32515));  // IDI_EXCLAMATION
  const char* exit = "\xC2\xBFSale de Pasotune?";
  const struct {
    const char* text;
    MsgButtons buttons;
    MsgIcon icon;
    HICON iconShown;
    UINT command;  // pressed by id, else
    WPARAM key;    // pressed on the keyboard
    MsgResult result;
  } cases[] = {
      {exit, MsgButtons::kYesNo, MsgIcon::kQuestion, question, 0, VK_RETURN, MsgResult::kYes},
      {exit, MsgButtons::kYesNo, MsgIcon::kQuestion, question, IDNO, 0, MsgResult::kNo},
      {exit, MsgButtons::kYesNo, MsgIcon::kQuestion, question, 0, VK_ESCAPE, MsgResult::kNo},
      {"Falta motor Velkor.exe", MsgButtons::kOk, MsgIcon::kExclamation, exclamation, 0, VK_RETURN,
       MsgResult::kOk},
      {"Orbitron no est\xC3\xA1 activo", MsgButtons::kOk, MsgIcon::kNone, nullptr, IDOK, 0,
       MsgResult::kOk},
  };
  for (const auto& c : cases) {
    const bool yesNo = c.buttons == MsgButtons::kYesNo;
    const std::string what = std::string(c.text) + " key " + std::to_string(c.key);
    Watch w;
    w.owner = owner;
    w.command = c.command;
    w.key = c.key;
    watch = &w;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, Look);
    Win32MessageBox box;
    const MsgResult result = box.Show(c.text, "Pasotune \xE2\x82\xAC", c.buttons, c.icon);
    ::KillTimer(nullptr, timer);
    watch = nullptr;
    ASSERT_TRUE(w.found) << what;
    EXPECT_EQ(result, c.result) << what;
    EXPECT_EQ(w.seen.title, L"Pasotune \u20AC");
    EXPECT_NE(std::find(w.seen.texts.begin(), w.seen.texts.end(), Utf8ToWide(c.text)),
              w.seen.texts.end())
        << what;
    // Spanish whatever the system's language, Yes the default.
    const std::vector<int> ids = yesNo ? std::vector<int>{IDYES, IDNO} : std::vector<int>{IDOK};
    const std::vector<std::wstring> captions = yesNo
                                                   ? std::vector<std::wstring>{L"&S\u00ED", L"&No"}
                                                   : std::vector<std::wstring>{L"Aceptar"};
    EXPECT_EQ(w.seen.buttons, ids) << what;
    EXPECT_EQ(w.seen.captions, captions) << what;
    EXPECT_EQ(w.seen.defaultButton, yesNo ? IDYES : IDOK) << what;
    EXPECT_EQ(w.seen.icon, c.iconShown) << what;
    EXPECT_TRUE(w.seen.ownerDisabled) << "task-modal: " << what;
    EXPECT_TRUE(::IsWindowEnabled(owner)) << what;
  }
  ::DestroyWindow(owner);
}

}  // namespace
}  // namespace pasotune
