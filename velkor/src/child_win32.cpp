#include <windows.h>

#include <cstdio>

#include "child.hpp"

namespace velkor::sys {
namespace {

// Every helper goes into one job that ends with the engine's last handle to it, so a killed
// engine leaves none behind holding the radio's port.
HANDLE helpersJob() {
  static const HANDLE job = [] {
    const HANDLE j = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (j) SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return j;
  }();
  return job;
}

std::wstring quoted(const std::wstring& word) {
  if (!word.empty() && word.find_first_of(L" \t\"") == std::wstring::npos) return word;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (const wchar_t c : word) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    out.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  return out + L"\"";
}

std::wstring widen(const std::string& utf8) {
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

class Win32Child : public Child {
 public:
  explicit Win32Child(HANDLE process) : process_(process) {}
  Win32Child(const Win32Child&) = delete;
  Win32Child& operator=(const Win32Child&) = delete;
  ~Win32Child() override {
    if (!how_) {
      TerminateProcess(process_, 1);
      WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
  }

  std::optional<std::string> ended() override {
    if (how_) return how_;
    if (WaitForSingleObject(process_, 0) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    GetExitCodeProcess(process_, &code);
    char text[64];
    // Exceptions (0xC0000005, an access violation) read best in hex.
    if (code >= 0xC0000000u) {
      std::snprintf(text, sizeof text, "terminó con la excepción 0x%08lX",
                    static_cast<unsigned long>(code));
    } else {
      std::snprintf(text, sizeof text, "terminó con el estado %lu",
                    static_cast<unsigned long>(code));
    }
    how_ = text;
    return how_;
  }

 private:
  HANDLE process_;
  std::optional<std::string> how_;
};

}  // namespace

std::wstring commandLine(const std::filesystem::path& program,
                         const std::vector<std::string>& args) {
  std::wstring line = quoted(program.wstring());
  for (const auto& a : args) line += L" " + quoted(widen(a));
  return line;
}

std::unique_ptr<Child> startChild(const std::filesystem::path& program,
                                  const std::vector<std::string>& args, std::string& error) {
  std::wstring line = commandLine(program, args);
  STARTUPINFOW start{};
  start.cb = sizeof start;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.wstring().c_str(), line.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &start, &info)) {
    error = "error " + std::to_string(GetLastError()) + " de Windows";
    return nullptr;
  }
  if (const HANDLE job = helpersJob()) AssignProcessToJobObject(job, info.hProcess);
  ResumeThread(info.hThread);
  CloseHandle(info.hThread);
  return std::make_unique<Win32Child>(info.hProcess);
}

}  // namespace velkor::sys
