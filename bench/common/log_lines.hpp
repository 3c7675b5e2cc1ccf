// Lines into the activity log, timed per 10,000 with the view catching up
// after each block: one measurement for every view, so their figures compare.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "common/timing.hpp"
#include "engine/channel.hpp"

namespace pasotune::bench {

// Milliseconds per block of 10,000 lines, first to last.
template <typename CatchUp>
std::vector<double> TimeLogLines(Channel& log, long lines, CatchUp catchUp) {
  constexpr long kBlock = 10'000;
  std::vector<double> blocks;
  const std::string line = "SET FREQ MAIN 432.1500";
  for (long done = 0; done < lines; done += kBlock) {
    const auto t0 = SteadyClock::now();
    for (long i = 0; i < kBlock; ++i) log.AgregarLog(line);
    catchUp();  // as the view would between events
    blocks.push_back(Ms(SteadyClock::now() - t0));
  }
  return blocks;
}

inline void ReportLogLines(long lines, const std::vector<double>& blocks, double peakMb) {
  if (blocks.empty()) return;
  std::printf(
      "%ld lines: first 10k %.2f ms, last 10k %.2f ms, worst 10k %.2f ms, peak memory %.1f MB\n",
      lines, blocks.front(), blocks.back(), *std::max_element(blocks.begin(), blocks.end()),
      peakMb);
  std::fflush(stdout);
}

}  // namespace pasotune::bench
