#include <windows.h>

#include <algorithm>
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

namespace {

std::string systemReason(DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string why = length ? narrow(std::wstring_view(text, length)) : std::string();
  if (text) LocalFree(text);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) {
    why.pop_back();
  }
  return why.empty() ? "error " + std::to_string(error) : why;
}

}  // namespace

SmallFile readSmallFile(const std::filesystem::path& file, std::size_t maxBytes) {
  SmallFile out;
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    out.status = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                     ? SmallFile::Status::kMissing
                     : SmallFile::Status::kFailed;
    out.why = systemReason(error);
    return out;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    out.status = SmallFile::Status::kNotPlain;
    out.why = "una carpeta";
    return out;
  }
  const HANDLE h = CreateFileW(file.c_str(), GENERIC_READ,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    out.why = systemReason(GetLastError());
    return out;
  }
  // A pipe or a device (NUL, CON, COM1) could block or never end.
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    out.status = SmallFile::Status::kNotPlain;
    out.why = "un dispositivo o una tubería";
    return out;
  }
  char buffer[16 * 1024];
  while (out.bytes.size() < maxBytes) {
    DWORD n = 0;
    const DWORD want =
        static_cast<DWORD>(std::min<std::size_t>(sizeof buffer, maxBytes - out.bytes.size()));
    if (!ReadFile(h, buffer, want, &n, nullptr)) {
      out.why = systemReason(GetLastError());
      CloseHandle(h);
      return out;
    }
    if (n == 0) break;
    out.bytes.append(buffer, n);
  }
  CloseHandle(h);
  out.status = SmallFile::Status::kRead;
  return out;
}

std::string createNewFile(const std::filesystem::path& file, std::string_view bytes) {
  // CREATE_NEW fails on any name that exists, a link included, so nothing is made through one.
  const HANDLE h = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return systemReason(GetLastError());
  std::string error;
  while (!bytes.empty()) {
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
      error = systemReason(GetLastError());
      break;
    }
    bytes.remove_prefix(written);
  }
  if (!CloseHandle(h) && error.empty()) error = systemReason(GetLastError());
  return error;
}

FileHandle openPlainForAppend(const std::filesystem::path& file, std::string& error) {
  const DWORD attributes = GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      error = "un enlace, a través del que nunca se escribe";
      return kNoFile;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      error = "una carpeta";
      return kNoFile;
    }
  } else if (const DWORD why = GetLastError(); why != ERROR_FILE_NOT_FOUND) {
    error = systemReason(why);
    return kNoFile;
  }
  // FILE_FLAG_OPEN_REPARSE_POINT opens a link itself, never what it points to.
  const HANDLE h = CreateFileW(
      file.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    error = systemReason(GetLastError());
    return kNoFile;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  // A pipe or a device (NUL, CON, COM1) could block or do something; a link is not followed.
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
    CloseHandle(h);
    error = "algo que no es un archivo";
    return kNoFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

std::string appendToFile(FileHandle file, std::string_view bytes, std::size_t& written) {
  written = 0;
  while (written < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data() + written,
                   static_cast<DWORD>(bytes.size() - written), &n, nullptr)) {
      return systemReason(GetLastError());
    }
    if (n == 0) return "no se escribió nada";
    written += n;
  }
  return {};
}

void closeFile(FileHandle file) {
  if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
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
