#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <string_view>

#include "serial.hpp"

namespace velkor::sys {
namespace {

std::wstring widen(std::string_view text) {
  return std::wstring(text.begin(), text.end());
}

// "COM7" -> 7, anything else -> 0.
int comNumber(std::wstring_view name) {
  if (name.size() < 4 || name.size() > 6 || name.substr(0, 3) != L"COM") return 0;
  int n = 0;
  for (const wchar_t c : name.substr(3)) {
    if (!std::iswdigit(c)) return 0;
    n = n * 10 + (c - L'0');
  }
  return n;
}

void addPort(std::vector<int>& ports, std::wstring_view name) {
  if (const int n = comNumber(name);
      n > 0 && std::find(ports.begin(), ports.end(), n) == ports.end()) {
    ports.push_back(n);
  }
}

}  // namespace

int probeSerial(const std::string& device) {
  // Past COM9 only the device namespace reaches a port.
  const std::wstring path =
      device.rfind("\\\\.\\", 0) == 0 ? widen(device) : L"\\\\.\\" + widen(device);
  const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
  DCB state{};
  state.DCBlength = sizeof state;
  const int error = GetCommState(port, &state) ? 0 : static_cast<int>(GetLastError());
  CloseHandle(port);
  return error;
}

std::vector<SerialDevice> serialDevices() {
  std::vector<int> ports;
  // The ports the drivers announce, then every COM name the system knows.
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key) ==
      ERROR_SUCCESS) {
    for (DWORD i = 0;; ++i) {
      wchar_t name[256];
      wchar_t value[64];
      DWORD nameSize = 256;
      DWORD valueSize = sizeof value;
      DWORD type = 0;
      if (RegEnumValueW(key, i, name, &nameSize, nullptr, &type, reinterpret_cast<BYTE*>(value),
                        &valueSize) != ERROR_SUCCESS) {
        break;
      }
      if (type == REG_SZ) addPort(ports, std::wstring_view(value, wcsnlen(value, 64)));
    }
    RegCloseKey(key);
  }
  std::wstring names(64 * 1024, L'\0');
  const DWORD length = QueryDosDeviceW(nullptr, names.data(), static_cast<DWORD>(names.size()));
  for (std::size_t at = 0; at < length && names[at] != L'\0';) {
    const std::wstring_view name(names.data() + at);
    addPort(ports, name);
    at += name.size() + 1;
  }
  std::sort(ports.begin(), ports.end());
  std::vector<SerialDevice> out;
  for (const int n : ports) out.push_back({"COM" + std::to_string(n), {}});
  return out;
}

std::vector<std::string> deviceHolders(const std::string&) {
  return {};
}

std::string deviceGroup(const std::string&) {
  return {};
}

std::string errorText(int code) {
  return "error " + std::to_string(code) + " de Windows";
}

}  // namespace velkor::sys
