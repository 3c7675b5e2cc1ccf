// Records per second through the parser and the display and command texts,
// as the follower does them for every tracker update.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "form/form1.hpp"
#include "tracking/frequency_text.hpp"
#include "tracking/leer_tracking.hpp"

namespace {

std::vector<std::string> Pass() {
  std::vector<std::string> records;
  for (int i = 0; i < 600; ++i) {
    const int doppler = (i - 300) * 11;
    records.push_back("SNSO-50 DN" + std::to_string(436795000 - doppler * 3) + " UP" +
                      std::to_string(145850000 + doppler) + " DMFM UMFM");
  }
  return records;
}

void BM_Parse(benchmark::State& state) {
  const auto records = Pass();
  pasotune::Module1 m;
  std::size_t i = 0;
  for (auto _ : state) {
    pasotune::LeerTracking(records[i++ % records.size()], m);
    benchmark::DoNotOptimize(m.FrecSubida);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Parse);

void BM_ParseAndFormat(benchmark::State& state) {
  const auto records = Pass();
  pasotune::Module1 m;
  std::size_t i = 0;
  for (auto _ : state) {
    pasotune::LeerTracking(records[i++ % records.size()], m);
    const std::string rx = pasotune::MhzText(m.FrecBajada, '.');
    const std::string tx = pasotune::MhzText(m.FrecSubida, '.');
    benchmark::DoNotOptimize(pasotune::CommandFrequencyText(rx, '.'));
    benchmark::DoNotOptimize(pasotune::CommandFrequencyText(tx, '.'));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseAndFormat);

}  // namespace
