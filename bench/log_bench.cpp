// Appending a million lines to the activity log: time per 10,000 lines at
// the start and at the end, and peak memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "app/form1.hpp"

int main() {
  using Clock = std::chrono::steady_clock;
  pasotune::Form1 form;
  constexpr int kLines = 1'000'000;
  constexpr int kBlock = 10'000;
  double first = 0, last = 0, worst = 0;
  const std::string line = "SET FREQ MAIN 432.1500";
  for (int block = 0; block < kLines / kBlock; ++block) {
    const auto t0 = Clock::now();
    for (int i = 0; i < kBlock; ++i) {
      form.List1.AddItem(line);
      form.List1.SetListIndex(static_cast<long>(form.List1.ListCount()) - 1);
    }
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    if (block == 0) first = ms;
    last = ms;
    if (ms > worst) worst = ms;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::printf(
      "lines: %zu\nfirst 10k: %.3f ms\nlast 10k: %.3f ms\nworst 10k: %.3f ms\npeak RSS: %.1f MB\n",
      form.List1.ListCount(), first, last, worst, usage.ru_maxrss / 1024.0);
  return 0;
}
