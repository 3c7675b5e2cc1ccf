#include "support.hpp"

#include <random>
#include <system_error>

namespace pasotune::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    const fs::path folder =
        fs::temp_directory_path() / (L"pasotune-win32-" + std::to_wstring(random() % 1000000000));
    std::error_code ec;
    if (fs::create_directory(folder, ec)) path_ = folder;
  }
  if (path_.empty()) throw std::runtime_error("cannot make a temporary folder");
}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

fs::path CopyProbe(const fs::path& folder, const std::wstring& name) {
  fs::create_directories(folder);
  const fs::path to = folder / name;
  fs::copy_file(Utf8ToWide(PROBE_PATH), to, fs::copy_options::overwrite_existing);
  return to;
}

Run RunProgram(const fs::path& program, const std::wstring& arguments,
               const std::vector<std::wstring>& environment) {
  Run run;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!::CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return run;
  ::SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  // The environment block: ours, then the extra settings, which win.
  std::wstring block;
  if (wchar_t* own = ::GetEnvironmentStringsW()) {
    for (const wchar_t* p = own; *p != L'\0'; p += std::wcslen(p) + 1) {
      const std::wstring entry = p;
      bool replaced = false;
      for (const std::wstring& e : environment) {
        const std::wstring name = e.substr(0, e.find(L'=') + 1);
        if (_wcsnicmp(entry.c_str(), name.c_str(), name.size()) == 0) replaced = true;
      }
      if (!replaced) block += entry + L'\0';
    }
    ::FreeEnvironmentStringsW(own);
  }
  for (const std::wstring& e : environment) block += e + L'\0';
  block += L'\0';

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = writeEnd;
  startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
  std::wstring commandLine = L"\"" + program.wstring() + L"\" " + arguments;
  PROCESS_INFORMATION info{};
  const BOOL started =
      ::CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                       CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr, &startup, &info);
  ::CloseHandle(writeEnd);
  if (!started) {
    ::CloseHandle(readEnd);
    return run;
  }
  ::CloseHandle(info.hThread);
  // What it prints is short and fits in the pipe: wait for the end, with a
  // deadline, then read it all.
  run.finished = ::WaitForSingleObject(info.hProcess, 10000) == WAIT_OBJECT_0;
  if (!run.finished) {
    ::TerminateProcess(info.hProcess, 1);
    ::WaitForSingleObject(info.hProcess, 5000);
  }
  ::GetExitCodeProcess(info.hProcess, &run.exitCode);
  char buffer[4096];
  DWORD n = 0;
  while (::ReadFile(readEnd, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    run.output.append(buffer, n);
  }
  ::CloseHandle(readEnd);
  ::CloseHandle(info.hProcess);
  // Text mode writes CR LF; what the tests compare is the text.
  while (!run.output.empty() && (run.output.back() == '\n' || run.output.back() == '\r')) {
    run.output.pop_back();
  }
  return run;
}

}  // namespace pasotune::test
