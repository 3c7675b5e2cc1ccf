#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

constexpr char kAo07[] = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB";
constexpr std::int32_t kIdle = 64;
constexpr std::int32_t kActive = 255;

struct Follower : testing::Test {
  Follower() { w.app.Load(); }
  World w;
};

TEST_F(Follower, NotConnectedShowsTheRecordAndSendsNothing) {
  w.LinkUp();
  w.m.Conectado = false;
  w.Record(kAo07);
  EXPECT_EQ(w.form.LabelSat.Caption(), "AO-07");
  EXPECT_EQ(w.form.LabelRX.Caption(), "145.95");
  EXPECT_EQ(w.form.LabelTX.Caption(), "432.15");
  EXPECT_EQ(w.form.LabelModoRX.Caption(), "USB");
  EXPECT_EQ(w.form.LabelModoTX.Caption(), "LSB");
  EXPECT_THAT(w.Sent(), IsEmpty());
  EXPECT_EQ(w.form.Shape1.FillColor(), kIdle);
  EXPECT_FALSE(w.form.Timer2.Enabled());
  EXPECT_EQ(w.loop.Now(), 5);  // no pause either
}

TEST_F(Follower, SendsTheFourLinesInOrderEachFollowedByAPause) {
  w.LinkUp();
  const double start = w.loop.Now();
  w.Record(kAo07);
  EXPECT_THAT(w.Sent(), ElementsAre("SET FREQ MAIN 432.1500", "SET MODE MAIN LSB",
                                    "SET FREQ SUB 145.9500", "SET MODE SUB USB"));
  const auto& lines = w.engine.Lines();
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NEAR(lines[i].at - start, 500.0 * i, 4) << i;
  }
  EXPECT_NEAR(w.loop.Now() - start, 2000, 8);
  EXPECT_THAT(w.Log(), ElementsAre("SET FREQ MAIN 432.1500", "SET MODE MAIN LSB",
                                   "SET FREQ SUB 145.9500", "SET MODE SUB USB"));

  // The same record again sends nothing.
  w.form.txtDDE.SetText("");
  w.Record(kAo07);
  EXPECT_EQ(w.Sent().size(), 4u);
}

TEST_F(Follower, FrequenciesMoveInHundredHertzSteps) {
  w.LinkUp();
  w.Record(kAo07);
  w.Record("SNAO-07 DN145950123 UP432149877 DMUSB UMLSB");
  EXPECT_EQ(w.form.LabelRX.Caption(), "145.950123");
  EXPECT_EQ(w.form.LabelTX.Caption(), "432.149877");
  w.Record("SNAO-07 DN145950140 UP432149877 DMUSB UMLSB");
  EXPECT_EQ(w.form.LabelRX.Caption(), "145.95014");
  EXPECT_THAT(w.SentFrom(4), ElementsAre("SET FREQ MAIN 432.1499", "SET FREQ SUB 145.9501"));
}

TEST_F(Follower, EmptyModesAreNeverSentAndDoNotForgetTheLastMode) {
  w.LinkUp();
  w.Record(kAo07);
  w.Record("SNAO-07 DN145950000 UP432150000 DM UMLSB");
  EXPECT_EQ(w.form.LabelModoRX.Caption(), "");
  w.Record(kAo07);
  w.Record("DMFM UM");
  EXPECT_EQ(w.form.LabelModoTX.Caption(), "");
  EXPECT_THAT(w.SentFrom(4), ElementsAre("SET MODE SUB FM"));
}

// 0 Hz is a tracker without data: shown, never a place to tune the radio.
TEST_F(Follower, ZeroHzIsShownButNeverSent) {
  w.LinkUp();
  w.Record("SNAO-07 DN0 UP0 DMUSB UMLSB");
  EXPECT_EQ(w.form.LabelTX.Caption(), "0");
  EXPECT_EQ(w.form.LabelRX.Caption(), "0");
  EXPECT_THAT(w.Sent(), ElementsAre("SET MODE MAIN LSB", "SET MODE SUB USB"));
  w.Record(kAo07);
  w.Record("SNAO-07 DN145950000 DMUSB UMLSB UP0");
  EXPECT_EQ(w.form.LabelTX.Caption(), "0");
  w.Record(kAo07);
  EXPECT_THAT(w.SentFrom(2), ElementsAre("SET FREQ MAIN 432.1500", "SET FREQ SUB 145.9500"));
}

// A frequency beyond the field (QO-100's 10 GHz downlink) keeps the value
// on show, and the log says so once per new value, not once per record.
TEST_F(Follower, AFrequencyTooLargeIsReportedOncePerChange) {
  w.LinkUp();
  w.Record(kAo07);
  const auto logged = w.Log().size();
  w.Record("SNQO-100 DN10489550000 UP2400050000 DMUSB UMUSB");
  w.Record("SNQO-100 DN10489550000 UP2400050000 DMUSB UMUSB");
  w.Record("SNQO-100 DN10489560000 UP2400050000 DMUSB UMUSB");
  EXPECT_EQ(w.form.LabelRX.Caption(), "145.95");
  EXPECT_EQ(w.form.LabelTX.Caption(), "432.15");
  const auto log = w.Log();
  EXPECT_THAT(std::vector<std::string>(log.begin() + static_cast<long>(logged), log.end()),
              testing::Contains("Frecuencia de bajada fuera de rango (10489550000 Hz): se "
                                "mantiene 145.95"));
  int reports = 0;
  for (const auto& line : log) reports += line.rfind("Frecuencia de", 0) == 0;
  EXPECT_EQ(reports, 3);  // down twice (two values), up once
  w.Record(kAo07);
  w.Record("SNQO-100 DN10489560000 UP432150000 DMUSB UMUSB");
  reports = 0;
  for (const auto& line : w.Log()) reports += line.rfind("Frecuencia de", 0) == 0;
  EXPECT_EQ(reports, 4);  // a value taken in between: the same one is news again
}

TEST_F(Follower, ANewNameAloneSendsNothing) {
  w.LinkUp();
  w.Record(kAo07);
  w.Record("SNFO-29 DN145950000 UP432150000 DMUSB UMLSB");
  EXPECT_EQ(w.form.LabelSat.Caption(), "FO-29");
  EXPECT_EQ(w.Sent().size(), 4u);
}

TEST(FollowerComma, UsesTheRegionalDecimalSeparator) {
  World w(8 * 3600.0, ',');
  w.app.Load();
  w.LinkUp();
  w.Record(kAo07);
  EXPECT_EQ(w.form.LabelRX.Caption(), "145,95");
  EXPECT_EQ(w.form.LabelTX.Caption(), "432,15");
  EXPECT_THAT(w.Sent(), ElementsAre("SET FREQ MAIN 432,1500", "SET MODE MAIN LSB",
                                    "SET FREQ SUB 145,9500", "SET MODE SUB USB"));
}

TEST_F(Follower, TheLampLightsAfterEachPauseAndGoesIdleAtTheTick) {
  w.LinkUp();
  const double start = w.loop.Now();
  std::vector<std::pair<double, std::int32_t>> samples;
  const std::vector<std::pair<double, std::int32_t>> expected = {
      {1, kIdle},      {498, kIdle},    {505, kActive},  {790, kActive},
      {812, kIdle},    {1010, kActive}, {1290, kActive}, {1320, kIdle},
      {1512, kActive}, {1790, kActive}, {1825, kIdle}};
  for (const auto& [at, colour] : expected) {
    w.loop.At(start + at, [&, at = at] { samples.emplace_back(at, w.form.Shape1.FillColor()); });
  }
  // Three commands: the empty uplink mode sends nothing.
  w.Record("SNAO-07 DN145950000 UP432150000 DMUSB UM");
  w.loop.RunFor(1000);
  EXPECT_EQ(samples, expected);
  EXPECT_FALSE(w.form.Timer2.Enabled());
}

TEST_F(Follower, ARecordInsideAPauseIsTakenUpOnceTheRunningChecksEnd) {
  w.LinkUp();
  const double start = w.loop.Now();
  w.After(200, [&] { w.Record("SNAO-07 DN145960000 UP432140000 DMUSB UMLSB"); });
  w.Record(kAo07);
  w.loop.RunFor(3000);
  EXPECT_EQ(w.form.LabelTX.Caption(), "432.14");
  // The running checks go on with the labels as they are when each starts,
  // then run once more for the uplink that changed under the first.
  EXPECT_THAT(w.Sent(),
              ElementsAre("SET FREQ MAIN 432.1500", "SET MODE MAIN LSB", "SET FREQ SUB 145.9600",
                          "SET MODE SUB USB", "SET FREQ MAIN 432.1400"));
  const auto& lines = w.engine.Lines();
  EXPECT_NEAR(lines[1].at - start, 500, 4);
  EXPECT_NEAR(lines[4].at - start, 2000, 8);
  EXPECT_EQ(w.m.UltimaBajada, "145.9600");
}

TEST_F(Follower, LosingTheLinkInAPauseStillStoresTheRemainingValues) {
  w.LinkUp();
  w.After(100, [&] { w.engine.Hangup(); });
  w.Record(kAo07);
  EXPECT_THAT(w.Sent(), ElementsAre("SET FREQ MAIN 432.1500"));
  EXPECT_EQ(w.m.UltimoModoBajada, "USB");
  EXPECT_EQ(w.m.UltimaBajada, "145.9500");
  EXPECT_TRUE(w.m.Conectado);
}

TEST_F(Follower, ControlCharactersInAModeNeverReachTheEngine) {
  w.LinkUp();
  w.Record("SNAO-07 DN145950000 UP432150000 DMUSB\r\nSET TONE 88.5\r\n UMLSB\xC2\x85X");
  EXPECT_THAT(w.Sent(), ElementsAre("SET FREQ MAIN 432.1500", "SET MODE MAIN LSB",
                                    "SET FREQ SUB 145.9500", "SET MODE SUB USB"));
}

TEST_F(Follower, ARecordOverFourKibibytesIsIgnoredWithOneLine) {
  struct Case {
    std::size_t size;
    bool linked;
    bool taken;
  };
  const Case cases[] = {
      {4096, true, true}, {4097, true, false}, {10u << 20, true, false}, {4097, false, false}};
  for (const Case& c : cases) {
    World w;
    w.app.Load();
    if (c.linked) w.LinkUp();
    std::string record = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB ";
    record.resize(c.size, ' ');
    w.Record(record);
    EXPECT_EQ(w.form.LabelSat.Caption(), c.taken ? "AO-07" : "") << c.size;
    EXPECT_EQ(w.Sent().size(), c.taken ? 4u : 0u) << c.size;
    if (c.taken) continue;
    EXPECT_THAT(w.Log(), ElementsAre("Registro de Orbitron ignorado: tiene " +
                                     std::to_string(c.size) + " bytes, el máximo es 4096"))
        << c.size;
    EXPECT_EQ(w.loop.Now(), c.linked ? 5 : 0) << c.size;
  }
}

}  // namespace
}  // namespace pasotune::test
