// Waiting in the Win32 adapter tests: always on events, always with a deadline.
#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/ports.hpp"
#include "platform/pump_until.hpp"
#include "platform/win32/wide_text.hpp"

namespace pasotune::test {

using Clock = std::chrono::steady_clock;
using pasotune::PumpUntil;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Handles events for ms milliseconds.
inline void PumpFor(EventPump& pump, int ms) {
  PumpUntil(
      pump, [] { return false; }, ms);
}

// CPU time (user + kernel) this process has used, in ms.
inline double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  const auto ms = [](const FILETIME& t) {
    return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

// A fresh folder under the temporary folder, removed with what it holds.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::string Utf8(const std::filesystem::path& p) {
  return WideToUtf8(p.wstring());
}

// A copy of the probe program at folder/name.
std::filesystem::path CopyProbe(const std::filesystem::path& folder, const std::wstring& name);

struct Run {
  bool finished = false;
  DWORD exitCode = 0;
  std::string output;  // stdout
};
// Runs program with arguments, extra environment settings ("NAME=value")
// added, and its stdout read through a pipe; at most 10 s.
Run RunProgram(const std::filesystem::path& program, const std::wstring& arguments,
               const std::vector<std::wstring>& environment = {});

}  // namespace pasotune::test
