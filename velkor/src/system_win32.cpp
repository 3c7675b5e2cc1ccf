#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "system.hpp"

namespace velkor::sys {
namespace {

std::wstring widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int length =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), length);
  return out;
}

std::string narrow(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), out.data(), length,
                      nullptr, nullptr);
  return out;
}

std::atomic<void (*)(void*)> stopCall{nullptr};
std::atomic<void*> stopContext{nullptr};
HANDLE stoppedEvent = nullptr;

// Runs on a thread the system starts for the event.
BOOL WINAPI onConsoleEvent(DWORD event) {
  if (const auto call = stopCall.load()) call(stopContext.load());
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // The system ends the process once this returns: let main close the radio first.
    WaitForSingleObject(stoppedEvent, 4000);
  }
  return TRUE;
}

}  // namespace

std::filesystem::path programFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length =
        GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) break;
    if (length < buffer.size()) {
      buffer.resize(length);
      return std::filesystem::path(buffer).parent_path();
    }
    if (buffer.size() >= 32768) break;
    buffer.resize(buffer.size() * 2);
  }
  std::error_code ec;
  return std::filesystem::current_path(ec);
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(widen(utf8));
}

std::string pathText(const std::filesystem::path& path) {
  return narrow(path.native());
}

std::optional<std::filesystem::path> environmentPath(const char* name) {
  const wchar_t* value = _wgetenv(widen(name).c_str());
  if (!value || !*value) return std::nullopt;
  return std::filesystem::path(value);
}

std::FILE* openForAppend(const std::filesystem::path& file, std::string& error) {
  std::FILE* f = _wfopen(file.c_str(), L"ab");
  if (!f) error = std::strerror(errno);
  return f;
}

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_s(&local, &when);
  return local;
}

bool onStopRequest(void (*stop)(void*), void* context) {
  if (!stoppedEvent) stoppedEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  stopContext = context;
  stopCall = stop;
  return stoppedEvent && SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void stopped() {
  if (stoppedEvent) SetEvent(stoppedEvent);
}

}  // namespace velkor::sys
