#include <windows.h>

#include <algorithm>

#include "serial_port.hpp"

namespace velkor {
namespace {

// Between two bytes of one answer at 1200 baud there are 9 ms.
constexpr DWORD kQuietMs = 20;

DWORD waitMs(Wire::Clock::time_point deadline) {
  const auto left =
      std::chrono::ceil<std::chrono::milliseconds>(deadline - Wire::Clock::now()).count();
  return static_cast<DWORD>(std::clamp<long long>(left, 0, 60'000));
}

class Win32Line : public Wire {
 public:
  explicit Win32Line(HANDLE port) : port_(port) {}
  Win32Line(const Win32Line&) = delete;
  Win32Line& operator=(const Win32Line&) = delete;
  ~Win32Line() override { CloseHandle(port_); }

  bool send(std::string_view bytes) override {
    DWORD written = 0;
    return WriteFile(port_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
           written == bytes.size();
  }

  int receive(char* buffer, std::size_t size, Clock::time_point deadline) override {
    const DWORD ms = waitMs(deadline);
    if (ms == 0) return 0;
    // Return once the bytes stop coming for a moment (an answer is shorter than the buffer),
    // or when the deadline passes. Wine waits out the whole deadline for the documented
    // "return at the first byte" setting.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = kQuietMs;
    t.ReadTotalTimeoutMultiplier = 0;
    t.ReadTotalTimeoutConstant = ms;
    t.WriteTotalTimeoutConstant = 2000;
    if (!SetCommTimeouts(port_, &t)) return -1;
    DWORD got = 0;
    if (!ReadFile(port_, buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
    return static_cast<int>(got);
  }

  void discard() override { PurgeComm(port_, PURGE_RXCLEAR); }

 private:
  HANDLE port_;
};

}  // namespace

std::unique_ptr<Wire> openSerial(const std::string& device, const SerialSettings& settings,
                                 int& error) {
  // Past COM9 only the device namespace reaches a port. No sharing: the port is the engine's
  // alone while it is open.
  const std::string name = device.rfind("\\\\.\\", 0) == 0 ? device : "\\\\.\\" + device;
  const std::wstring path(name.begin(), name.end());
  const HANDLE port = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (port == INVALID_HANDLE_VALUE) {
    error = static_cast<int>(GetLastError());
    return nullptr;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  bool ok = GetCommState(port, &dcb);
  if (ok) {
    dcb.BaudRate = static_cast<DWORD>(settings.speed);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = settings.hardwareHandshake ? TRUE : FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = settings.hardwareHandshake ? RTS_CONTROL_HANDSHAKE : RTS_CONTROL_ENABLE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    ok = SetCommState(port, &dcb);
  }
  if (!ok) {
    error = static_cast<int>(GetLastError());
    CloseHandle(port);
    return nullptr;
  }
  PurgeComm(port, PURGE_RXCLEAR | PURGE_TXCLEAR);
  error = 0;
  return std::make_unique<Win32Line>(port);
}

}  // namespace velkor
