#include "platform/win32/win32_processes.hpp"

#include <tlhelp32.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/win32/wide_text.hpp"

namespace pasotune {

namespace {

struct HandleCloser {
  void operator()(HANDLE h) const {
    if (h != nullptr && h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
};
using Owned = std::unique_ptr<void, HandleCloser>;

// The user a process runs as, as a SID; empty when it cannot be read.
std::vector<unsigned char> UserOf(HANDLE process) {
  HANDLE rawToken = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &rawToken)) return {};
  const Owned token(rawToken);
  DWORD size = 0;
  ::GetTokenInformation(rawToken, TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<unsigned char> buffer(size);
  if (!::GetTokenInformation(rawToken, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  if (!::IsValidSid(sid)) return {};
  const auto* bytes = static_cast<const unsigned char*>(sid);
  return {bytes, bytes + ::GetLengthSid(sid)};
}

// The file name part of the process's executable, read from the process
// itself, so a pid that was reused since the snapshot is not taken for
// the one listed.
std::wstring ImageNameOf(HANDLE process) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(path.size());
    if (::QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
      path.resize(size);
      break;
    }
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// Posted to the adapter's window when a watched process has ended.
constexpr UINT kProcessEnded = WM_APP + 17;

void CALLBACK ProcessEnded(PVOID window, BOOLEAN /*timedOut*/) {
  ::PostMessageW(static_cast<HWND>(window), kProcessEnded, 0, 0);
}

}  // namespace

std::string EndCause(DWORD code) {
  // Exception codes (an access violation, a stack overrun) read best in hex.
  if ((code & 0xC0000000u) == 0xC0000000u) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(code));
    std::string cause = std::string("por la excepción ") + hex;
    switch (code) {
      case 0xC0000005u:
        return cause + " (acceso a memoria no válido)";
      case 0xC00000FDu:
        return cause + " (desbordamiento de pila)";
      case 0xC0000409u:
        return cause + " (desbordamiento de búfer)";
      case 0xC000013Au:
        return cause + " (Ctrl+C)";
      default:
        return cause;
    }
  }
  return "con el código de salida " + std::to_string(code);
}

Win32Processes::~Win32Processes() {
  // Waits for a callback under way, so none posts to a window gone.
  for (Watched& w : watched_) ::UnregisterWaitEx(w.wait, INVALID_HANDLE_VALUE);
}

void Win32Processes::Start(const std::string& path) {
  ProcessHandle process = Spawn(path);
  // It has started: a failure to watch it only leaves its end untold.
  try {
    if (!window_) {
      window_ = std::make_unique<MessageWindow>([this](UINT message, WPARAM, LPARAM) {
        if (message != kProcessEnded) return false;
        TellEnded();
        return true;
      });
    }
  } catch (const PortError&) {
    return;
  }
  Watched w{std::move(process), nullptr};
  if (!::RegisterWaitForSingleObject(&w.wait, w.process.Get(), &ProcessEnded, window_->Handle(),
                                     INFINITE, WT_EXECUTEONLYONCE)) {
    return;
  }
  watched_.push_back(std::move(w));
}

void Win32Processes::TellEnded() {
  std::vector<std::string> causes;
  for (auto it = watched_.begin(); it != watched_.end();) {
    if (::WaitForSingleObject(it->process.Get(), 0) != WAIT_OBJECT_0) {
      ++it;
      continue;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(it->process.Get(), &code);
    ::UnregisterWaitEx(it->wait, INVALID_HANDLE_VALUE);
    causes.push_back(EndCause(code));
    it = watched_.erase(it);
  }
  // After the list is settled: a handler may start another.
  for (const std::string& cause : causes) RaiseEnded(cause);
}

ProcessHandle Win32Processes::Spawn(const std::string& path) {
  const std::wstring wide = Utf8ToWide(path);
  const DWORD attributes =
      wide.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = wide.empty() ? ERROR_FILE_NOT_FOUND : ::GetLastError();
    throw PortError("Cannot start " + path + ": " + SystemErrorText(error));
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    throw PortError("Cannot start " + path + ": not a file");
  }
  // The program itself is named apart from the command line, so no search
  // and no parsing of blanks; the command line only repeats it, quoted, as
  // argv[0]. A path cannot hold a double quote.
  std::wstring commandLine = L"\"" + wide + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION info{};
  if (!::CreateProcessW(wide.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &info)) {
    throw PortError("Cannot start " + path + ": " + SystemErrorText(::GetLastError()));
  }
  ::CloseHandle(info.hThread);
  return ProcessHandle(info.hProcess);
}

void Win32Processes::EndByImageName(const std::string& imageName) {
  if (imageName.empty()) return;
  const std::wstring wanted = Utf8ToWide(imageName);
  const Owned snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (snapshot.get() == INVALID_HANDLE_VALUE) {
    throw PortError("Cannot list the running processes: " + SystemErrorText(::GetLastError()));
  }
  const DWORD self = ::GetCurrentProcessId();
  const std::vector<unsigned char> me = UserOf(::GetCurrentProcess());
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more;
       more = ::Process32NextW(snapshot.get(), &entry)) {
    if (entry.th32ProcessID == self || wanted != entry.szExeFile) continue;
    const Owned process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE,
                                      entry.th32ProcessID));
    if (process == nullptr) continue;  // gone, or not ours to end
    const std::vector<unsigned char> owner = UserOf(process.get());
    if (me.empty() || owner != me || ImageNameOf(process.get()) != wanted) continue;
    ::TerminateProcess(process.get(), 1);
  }
}

}  // namespace pasotune
