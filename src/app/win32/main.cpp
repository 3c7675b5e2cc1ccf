// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <cstdio>
#include <exception>
#include <string>

#include "app/win32/program.hpp"
#include "platform/win32/dde/dde_text.hpp"

namespace {

// One Pasotune per session: Local\ is the session's namespace, and the
// user's name keeps another user's (run as) apart.
std::wstring InstanceName() {
  wchar_t user[257] = L"";
  DWORD size = 257;
  if (!GetUserNameW(user, &size)) user[0] = L'\0';
  return std::wstring(L"Local\\Pasotune.Program.") + user;
}

// The window of the Pasotune that runs already, to the front; it may still
// be making it.
void RaiseFirst() {
  for (int i = 0; i < 50; ++i) {
    if (HWND first = FindWindowW(L"Pasotune.Form1", nullptr)) {
      if (IsIconic(first)) ShowWindow(first, SW_RESTORE);
      SetForegroundWindow(first);
      return;
    }
    Sleep(100);
  }
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // Held until the process ends.
  HANDLE instance = CreateMutexW(nullptr, FALSE, InstanceName().c_str());
  if (instance != nullptr && GetLastError() == ERROR_ALREADY_EXISTS) {
    RaiseFirst();
    return 0;
  }
  try {
    pasotune::Program program;
    program.Start();
    return program.Run();
  } catch (const std::exception& e) {
    // No console to tell: the user sees it in a box.
    std::fprintf(stderr, "pasotune: %s\n", e.what());
    const std::wstring text = pasotune::dde::Widen(std::string("Pasotune: ") + e.what());
    MessageBoxW(nullptr, text.c_str(), L"Pasotune 1.0", MB_OK | MB_ICONERROR);
    return 1;
  }
}
