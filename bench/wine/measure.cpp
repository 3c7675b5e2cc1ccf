#include "measure.hpp"

// clang-format off
#include "platform/win32/win32_api.hpp"
#include <psapi.h>
// clang-format on

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace pasotune::bench {

double Seconds(const FILETIME& t) {
  return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                             t.dwLowDateTime) /
         1e7;
}

double CpuOfProcess() {
  FILETIME created, exited, kernel, user;
  ::GetProcessTimes(::GetCurrentProcess(), &created, &exited, &kernel, &user);
  return Seconds(kernel) + Seconds(user);
}

double CpuOfWineserver() {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator(L"Z:\\proc", ec)) {
    const std::wstring pid = entry.path().filename().wstring();
    if (pid.empty() ||
        !std::all_of(pid.begin(), pid.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; }))
      continue;
    std::ifstream comm(entry.path() / L"comm");
    std::string name;
    // wineserver, or wineserver64 as Debian names it.
    if (std::getline(comm, name) && name.rfind("wineserver", 0) == 0) found.push_back(entry.path());
  }
  if (found.size() != 1) return -1;
  std::ifstream in(found[0] / L"stat");
  std::string stat;
  std::getline(in, stat);
  // Fields after the command's closing parenthesis: state is the 3rd, utime
  // the 14th, stime the 15th.
  std::istringstream rest(stat.substr(stat.rfind(')') + 2));
  std::string field;
  double ticks = 0;
  for (int i = 3; i <= 15 && rest >> field; ++i) {
    if (i >= 14) ticks += std::atof(field.c_str());
  }
  return ticks / 100.0;  // USER_HZ on Linux
}

double PeakMemoryMb() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return -1;
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

}  // namespace pasotune::bench
