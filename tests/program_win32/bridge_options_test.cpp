// pasotune-dde-bridge's command line and how a value becomes a line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge.hpp"

namespace pasotune::bridge {
namespace {

using Args = std::vector<std::string>;

TEST(BridgeOptions, RefusesWhatItCannotUse) {
  const struct {
    Args args;
    const char* why;
  } cases[] = {
      {{"--bogus"}, "Unknown option 'bogus'."},
      {{"Orbitron"}, "Unexpected argument 'Orbitron'."},
      {{"--service"}, "Missing value after '--service'."},
      {{"--service="}, "--service needs a name."},
      {{"--item", ""}, "--item needs a name."},
      {{"--retry", "99"}, "--retry"},
      {{"--retry", "60001"}, "--retry"},
      {{"--retry", "1.5"}, "--retry"},
      {{"--retry", ""}, "--retry"},
      {{"--retry=2s"}, "--retry"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const Parsed p = ParseArguments(c.args);
    EXPECT_FALSE(p.options) << line;
    EXPECT_EQ(p.exitCode, 1) << line;
    EXPECT_NE(p.message.find(c.why), std::string::npos) << line << ": " << p.message;
  }
}

TEST(BridgeOptions, TakesBothFormsTheLastOneWinning) {
  const Parsed none = ParseArguments({});
  ASSERT_TRUE(none.options);
  EXPECT_EQ(none.options->service, "Orbitron");
  EXPECT_EQ(none.options->topic, "Tracking");
  EXPECT_EQ(none.options->item, "TrackingData");
  EXPECT_EQ(none.options->retryMs, 2000);

  const Parsed p = ParseArguments({"--service", "A", "--service=Órbita", "--topic=T", "--item", "I",
                                   "--retry", "100", "--retry=60000"});
  ASSERT_TRUE(p.options) << p.message;
  EXPECT_EQ(p.options->service, "Órbita");
  EXPECT_EQ(p.options->topic, "T");
  EXPECT_EQ(p.options->item, "I");
  EXPECT_EQ(p.options->retryMs, 60000);
}

TEST(BridgeOptions, HelpGoesToStandardOutput) {
  for (const char* ask : {"-?", "-h", "--help"}) {
    const Parsed p = ParseArguments({"--retry", "500", ask, "--bogus"});
    EXPECT_FALSE(p.options) << ask;
    EXPECT_EQ(p.exitCode, 0) << ask;
    EXPECT_NE(p.message.find("pasotune-feed --stdin"), std::string::npos) << ask;
  }
}

TEST(BridgeLines, EveryValueIsExactlyOneLine) {
  const struct {
    const char* value;
    const char* line;
  } cases[] = {
      {"SNAO-07 DN145950000 UP432150000 DMUSB UMLSB",
       "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB\n"},
      {"", "\n"},
      {"SNSATÉLITE DN1", "SNSATÉLITE DN1\n"},
      {"SNAO-07 DN1\r\n", "SNAO-07 DN1\n"},
      {"SNAO-07 DN1\n\n\r", "SNAO-07 DN1\n"},
      {"SNAO-07\r\nDN1\nUP2\rDMFM", "SNAO-07  DN1 UP2 DMFM\n"},
      {"\r\n", "\n"},
      {"  SNA  ", "  SNA  \n"},
  };
  for (const auto& c : cases) EXPECT_EQ(AsLine(c.value), c.line) << c.value;
}

}  // namespace
}  // namespace pasotune::bridge
