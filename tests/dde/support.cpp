#include "support.hpp"

#include <thread>
#include <utility>

namespace pasotune::test {

namespace {

void DispatchPending() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::wstring BesideThisProgram(const std::wstring& name) {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, n);
  folder.erase(folder.find_last_of(L"\\/") + 1);
  return folder + name;
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, int timeoutMs, HANDLE wakeOn) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    DispatchPending();
    if (done()) return true;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    MsgWaitForMultipleObjectsEx(wakeOn ? 1 : 0, &wakeOn, static_cast<DWORD>(left), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
  }
}

void PumpFor(int ms) {
  PumpUntil([] { return false; }, ms);
}

std::wstring Quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) return arg;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    // Backslashes double only before a quote.
    out.append(c == L'"' ? 2 * slashes + 1 : slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(2 * slashes, L'\\');
  return out + L"\"";
}

Feed::~Feed() {
  Kill();
  if (input_) CloseHandle(input_);
  if (process_.hProcess) CloseHandle(process_.hProcess);
  if (process_.hThread) CloseHandle(process_.hThread);
}

bool Feed::Start(const std::vector<std::wstring>& args) {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE childIn = nullptr, childOut = nullptr, output = nullptr;
  if (!CreatePipe(&childIn, &input_, &inherit, 0)) return false;
  if (!CreatePipe(&output, &childOut, &inherit, 0)) return false;
  SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);

  const std::wstring exe = BesideThisProgram(L"pasotune-feed.exe");
  std::wstring line = Quoted(exe);
  for (const std::wstring& a : args) line += L" " + Quoted(a);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = childIn;
  si.hStdOutput = childOut;
  si.hStdError = childOut;  // complaints come in line with the records
  const BOOL started = CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, TRUE,
                                      CREATE_NO_WINDOW, nullptr, nullptr, &si, &process_);
  CloseHandle(childIn);
  CloseHandle(childOut);
  if (!started) {
    CloseHandle(output);
    return false;
  }
  std::thread([output, out = output_, waiter = GetCurrentThreadId()] {
    std::string partial;
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(output, buffer, sizeof buffer, &n, nullptr) && n > 0) {
      partial.append(buffer, n);
      const std::lock_guard lock(out->mutex);
      for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
        std::string l = partial.substr(0, end);
        if (!l.empty() && l.back() == '\r') l.pop_back();
        out->lines.push_back(std::move(l));
        partial.erase(0, end + 1);
      }
      PostThreadMessageW(waiter, WM_NULL, 0, 0);  // wakes the pump
    }
    CloseHandle(output);
  }).detach();
  return true;
}

std::string Feed::NextLine(int timeoutMs) {
  std::string line;
  PumpUntil(
      [&] {
        const std::lock_guard lock(output_->mutex);
        if (output_->lines.empty()) return false;
        line = std::move(output_->lines.front());
        output_->lines.erase(output_->lines.begin());
        return true;
      },
      timeoutMs);
  return line;
}

void Feed::Write(std::string_view bytes) {
  DWORD n = 0;
  WriteFile(input_, bytes.data(), static_cast<DWORD>(bytes.size()), &n, nullptr);
}

void Feed::CloseInput() {
  if (input_) CloseHandle(std::exchange(input_, nullptr));
}

void Feed::Quit() {
  if (Running()) PostThreadMessageW(process_.dwThreadId, WM_QUIT, 0, 0);
}

void Feed::Kill() {
  if (!Running()) return;
  TerminateProcess(process_.hProcess, 9);
  WaitForSingleObject(process_.hProcess, 10000);
}

bool Feed::Running() const {
  return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

long Feed::WaitForExit(int timeoutMs) {
  if (!process_.hProcess) return -1;
  PumpUntil([this] { return !Running(); }, timeoutMs, process_.hProcess);
  DWORD code = 0;
  if (Running() || !GetExitCodeProcess(process_.hProcess, &code)) return -1;
  return static_cast<long>(code);
}

}  // namespace pasotune::test
