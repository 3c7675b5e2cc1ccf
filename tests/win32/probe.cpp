// A child for the Win32 adapter tests. Started by Win32Processes it gets no
// arguments: it writes "<exe>.note" with how it was started, sets the event
// named by PASOTUNE_PROBE_READY and sleeps until ended. When its file name
// starts with "EndsOwnName" it instead ends every process of its own name
// and leaves "<exe>.alive"; with "ExitsWith3" it exits with 3. With an argument it answers a
// question or ends through Win32ProgramEnd.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "platform/win32/wide_text.hpp"
#include "platform/win32/win32_processes.hpp"
#include "platform/win32/win32_system.hpp"

namespace {

std::wstring SelfPath() {
  std::wstring path(32768, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
  return path;
}

void WriteNote(const std::wstring& path, const std::string& text) {
  // Renamed into place, so the note is never seen half written.
  const std::wstring temp = path + L".tmp";
  std::FILE* f = ::_wfopen(temp.c_str(), L"wb");
  if (f == nullptr) return;
  std::fputs(text.c_str(), f);
  std::fclose(f);
  ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pasotune;
  if (argc > 1 && std::strcmp(argv[1], "--decimal") == 0) {
    std::printf("%c\n", SystemDecimalSeparator());
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--folder") == 0) {
    std::printf("%s\n", ModuleFolder().c_str());
    return 0;
  }
  if (argc > 1 && std::strcmp(argv[1], "--end") == 0) {
    // Both still buffered when the end comes; the atexit handler must not run.
    std::atexit([] { std::fputs(" atexit", stdout); });
    std::fputs("flushed", stdout);
    std::cout << " too";
    Win32ProgramEnd().End();
  }
  const std::wstring self = SelfPath();
  const std::wstring name = self.substr(self.find_last_of(L"\\/") + 1);
  if (name.rfind(L"ExitsWith3", 0) == 0) return 3;
  if (name.rfind(L"EndsOwnName", 0) == 0) {
    Win32Processes().EndByImageName(WideToUtf8(name));
    WriteNote(self + L".alive", "alive\n");
    return 0;
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  ::GetStartupInfoW(&startup);
  std::string note = "flags=" + std::to_string(startup.dwFlags) +
                     " show=" + std::to_string(startup.wShowWindow) +
                     " args=" + std::to_string(argc - 1) +
                     " console=" + std::to_string(::GetConsoleWindow() != nullptr) + "\n";
  WriteNote(self + L".note", note);
  wchar_t event[256] = {};
  if (::GetEnvironmentVariableW(L"PASOTUNE_PROBE_READY", event, 256) > 0) {
    if (HANDLE ready = ::OpenEventW(EVENT_MODIFY_STATE, FALSE, event)) {
      ::SetEvent(ready);
      ::CloseHandle(ready);
    }
  }
  ::Sleep(INFINITE);
}
