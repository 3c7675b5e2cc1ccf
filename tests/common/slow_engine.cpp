// Stands in for Velkor.exe as an engine slow to start listening: it waits
// 1.5 s, then becomes (POSIX) or starts (Windows) the real engine, kept in
// the folder "later" beside it with its settings.
#include <chrono>
#include <filesystem>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int /*argc*/, char** argv) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
#ifdef _WIN32
  (void)argv;
  wchar_t self[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::filesystem::path later =
      std::filesystem::path(std::wstring(self, n)).parent_path() / L"later";
  std::wstring exe = (later / L"Velkor.exe").wstring();
  std::wstring line = L"\"" + exe + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      later.c_str(), &si, &info)) {
    return 1;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
#else
  const std::filesystem::path later =
      std::filesystem::read_symlink("/proc/self/exe").parent_path() / "later";
  const std::string exe = (later / "Velkor.exe").string();
  if (::chdir(later.c_str()) != 0) return 1;
  argv[0] = const_cast<char*>(exe.c_str());
  ::execv(exe.c_str(), argv);
  return 1;
#endif
}
