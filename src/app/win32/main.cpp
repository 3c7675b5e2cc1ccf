// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <cstdio>
#include <exception>
#include <string>

#include "app/win32/program.hpp"
#include "platform/win32/dde/dde_text.hpp"
// After windows.h, which program.hpp brings.
#include <shellapi.h>

namespace {

bool AskedForHelp() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return false;
  bool asked = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    asked = asked || arg == L"--help" || arg == L"-h" || arg == L"/?";
  }
  LocalFree(argv);
  return asked;
}

}  // namespace

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
  // Answered before the window, which would write config.txt.
  if (AskedForHelp()) {
    MessageBoxW(nullptr,
                L"Uso: pasotune.exe\n\n"
                L"Abre la ventana de Pasotune, que mantiene sintonizado un Kenwood TS-790 con el "
                L"satélite que sigue Orbitron, por medio de Velkor.exe, que está en la misma "
                L"carpeta. Guarda config.txt (puerto y tono) en esa carpeta.\n\n"
                L"Con Gpredict: pasotune-gpredict.exe. La guía: guia.html.",
                L"Pasotune 1.0", MB_OK | MB_ICONINFORMATION);
    return 0;
  }
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
