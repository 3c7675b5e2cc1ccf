// What the Windows benchmarks measure with: CPU time of this process and of
// Wine's wineserver, and memory.
#pragma once

#include "common/timing.hpp"
#include "platform/win32/win32_api.hpp"

namespace pasotune::bench {

// A FILETIME span in seconds.
double Seconds(const FILETIME& t);
// User and kernel CPU seconds of this process.
double CpuOfProcess();
// Under Wine, window messages, DDE and socket notifications all pass through
// the wineserver, doing work that Windows does in its kernel. Its CPU
// seconds from Linux's /proc (drive Z: is /), when this Wine has exactly one
// wineserver in sight, as in a private PID namespace; negative if not.
double CpuOfWineserver();
// The most memory this process has held, in MB.
double PeakMemoryMb();

}  // namespace pasotune::bench
