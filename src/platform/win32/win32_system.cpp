#include "platform/win32/win32_system.hpp"

#include <cstdio>
#include <iostream>

#include "platform/win32/wide_text.hpp"

namespace pasotune {

namespace {

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

bool IsDrive(std::string_view path, std::size_t at) {
  if (path.size() < at + 2 || path[at + 1] != ':') return false;
  const char c = path[at];
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// "\\server\share\" from at, the server's first letter.
std::size_t UncRootEnd(std::string_view path, std::size_t at) {
  std::size_t i = at;
  for (int part = 0; part < 2; ++part) {
    while (i < path.size() && !IsSeparator(path[i])) ++i;
    if (i == path.size()) return i;
    ++i;
  }
  return i;
}

// How much of path is its root, trailing separator included.
std::size_t RootLength(std::string_view path) {
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
      (path[2] == '?' || path[2] == '.') && IsSeparator(path[3])) {
    const std::string_view rest = path.substr(4);
    if (rest.size() >= 4 && (rest[0] == 'U' || rest[0] == 'u') &&
        (rest[1] == 'N' || rest[1] == 'n') && (rest[2] == 'C' || rest[2] == 'c') &&
        IsSeparator(rest[3])) {
      return UncRootEnd(path, 8);
    }
    if (IsDrive(path, 4)) return path.size() > 6 && IsSeparator(path[6]) ? 7 : 6;
    return 4;
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return UncRootEnd(path, 2);
  }
  if (IsDrive(path, 0)) return path.size() > 2 && IsSeparator(path[2]) ? 3 : 2;
  return IsSeparator(path[0]) ? 1 : 0;
}

}  // namespace

std::string FolderOfModulePath(std::string_view path) {
  if (path.empty()) return ".";
  const std::size_t root = RootLength(path);
  const std::size_t slash = path.find_last_of("\\/");
  if (slash == std::string_view::npos || slash < root) {
    return root > 0 ? std::string(path.substr(0, root)) : std::string(".");
  }
  if (slash + 1 <= root) return std::string(path.substr(0, root));
  return std::string(path.substr(0, slash));
}

std::string ModuleFolder() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      throw PortError("Cannot find the program's folder: " + SystemErrorText(::GetLastError()));
    }
    if (n < buffer.size()) {
      buffer.resize(n);
      return FolderOfModulePath(WideToUtf8(buffer));
    }
    if (buffer.size() >= 65536) throw PortError("Cannot find the program's folder: path too long");
    buffer.resize(buffer.size() * 2);
  }
}

char DecimalSeparatorFrom(std::wstring_view setting) {
  if (setting.size() != 1) return '.';
  const wchar_t c = setting[0];
  if (c <= 0x20 || c >= 0x7F || (c >= L'0' && c <= L'9') || c == L'-' || c == L'+') return '.';
  return static_cast<char>(c);
}

char SystemDecimalSeparator() {
  wchar_t buffer[16] = {};
  const int n = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buffer, 16);
  // n counts the terminating null.
  if (n <= 1) return '.';
  return DecimalSeparatorFrom(std::wstring_view(buffer, static_cast<std::size_t>(n - 1)));
}

void Win32ProgramEnd::End() {
  std::cout.flush();
  std::cerr.flush();
  std::fflush(nullptr);
  ::ExitProcess(0);
}

}  // namespace pasotune
