#include <gtest/gtest.h>

#include <ostream>

#include "tracking/frequency_text.hpp"

namespace pasotune {
namespace {

struct Case {
  std::int32_t hz;
  char sep;
  const char* display;
  const char* command;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.hz << " Hz, '" << c.sep << "'"; }

class FrequencyText : public testing::TestWithParam<Case> {};

TEST_P(FrequencyText, DisplayAndCommand) {
  const Case& c = GetParam();
  const std::string display = MhzText(c.hz, c.sep);
  EXPECT_EQ(display, c.display);
  EXPECT_EQ(CommandFrequencyText(display, c.sep), c.command);
}

INSTANTIATE_TEST_SUITE_P(Values, FrequencyText,
                         testing::Values(Case{145950000, '.', "145.95", "145.9500"},
                                         Case{145950123, '.', "145.950123", "145.9501"},
                                         Case{145950140, '.', "145.95014", "145.9501"},
                                         Case{432149877, '.', "432.149877", "432.1499"},
                                         Case{145950150, '.', "145.95015", "145.9502"},
                                         Case{145999960, '.', "145.99996", "146.0000"},
                                         Case{1268000000, '.', "1268", "1268.0000"},
                                         Case{2147483647, '.', "2147.483647", "2147.4836"},
                                         Case{0, '.', "0", "0.0000"},
                                         Case{7, '.', "0.000007", "0.0000"},
                                         Case{1, '.', "0.000001", "0.0000"},
                                         Case{145950000, ',', "145,95", "145,9500"},
                                         Case{145950123, ',', "145,950123", "145,9501"},
                                         Case{1268000000, ',', "1268", "1268,0000"}));

TEST(FrequencyText, TextThatIsNoNumberGivesZero) {
  for (const char* text : {"", "abc", "145.95.1", "145,95"}) {
    EXPECT_EQ(CommandFrequencyText(text, '.'), "0.0000") << text;
  }
}

}  // namespace
}  // namespace pasotune
