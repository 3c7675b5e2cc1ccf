// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <cstdio>
#include <exception>
#include <string>

#include "app/win32/program.hpp"
#include "platform/win32/dde/dde_text.hpp"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
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
