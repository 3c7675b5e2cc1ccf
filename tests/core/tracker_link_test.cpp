// The tracker may start after the program, stop and come back: one message
// box at start-up, then the link follows it by itself with a line in the log
// for each coming and going.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.hpp"
#include "tracking/frequency_text.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;

constexpr char kLinked[] = "Enlazado con Orbitron";
constexpr char kGone[] = "Orbitron se ha ido: sin datos de seguimiento";
constexpr char kAbsent[] = "No se está ejecutando Orbitron!";

// Both frequencies move a few 100 Hz steps with every record.
std::string Moving(int k) {
  return "SNSO-50 DN" + std::to_string(436'795'000 - 350 * k) + " UP" +
         std::to_string(145'850'000 + 270 * k) + " DMFM UMFM";
}

std::vector<std::string> LinkLines(const std::vector<std::string>& log) {
  std::vector<std::string> out;
  std::copy_if(log.begin(), log.end(), std::back_inserter(out),
               [](const std::string& l) { return l == kLinked || l == kGone; });
  return out;
}

TEST(TrackerComesAndGoes, LateThenGoneThenBackWithOneBoxAndALinePerChange) {
  World w;
  w.tracker.running = false;
  w.app.Load();
  w.RunFor(2100);
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text, kAbsent);
  EXPECT_EQ(w.form.txtDDE.LinkMode(), 0);
  EXPECT_EQ(w.form.List1.ListCount(), 0u);

  w.tracker.Publish(Moving(0));
  w.RunFor(3000);
  EXPECT_EQ(w.form.LabelSat.Caption(), "") << "nothing arrives while it is absent";
  w.tracker.Start();
  w.RunFor(10);
  EXPECT_EQ(w.form.LabelSat.Caption(), "SO-50");
  EXPECT_EQ(w.form.txtDDE.LinkMode(), 1);
  EXPECT_TRUE(w.tracker.Linked());

  w.tracker.Stop();
  w.tracker.Publish(Moving(1));
  w.RunFor(5000);
  EXPECT_EQ(w.form.LabelTX.Caption(), "145.85") << "the last values stay on show";

  w.tracker.Start();  // back, with what it published meanwhile
  w.RunFor(10);
  EXPECT_EQ(w.form.LabelTX.Caption(), "145.85027");
  w.tracker.Publish(Moving(2));
  w.RunFor(10);
  EXPECT_EQ(w.form.LabelTX.Caption(), "145.85054");

  EXPECT_EQ(w.messages.shown.size(), 1u) << "never a second message box";
  EXPECT_THAT(w.Log(), ElementsAre(kLinked, kGone, kLinked));
  EXPECT_EQ(w.tracker.Opens(), 0) << "the link came back by itself, not by opening again";
}

TEST(TrackerComesAndGoes, PresentAtStartUpLogsNothingUntilItGoes) {
  World w;
  w.app.Load();
  w.tracker.Publish(Moving(0));
  w.RunFor(2100);
  EXPECT_EQ(w.form.LabelSat.Caption(), "SO-50");
  EXPECT_TRUE(w.messages.shown.empty());
  EXPECT_TRUE(w.Log().empty());
  w.tracker.Stop();
  w.RunFor(10);
  w.tracker.Start();
  w.RunFor(10);
  EXPECT_THAT(w.Log(), ElementsAre(kGone, kLinked));
  EXPECT_TRUE(w.messages.shown.empty());
}

TEST(TrackerComesAndGoes, LinkingAgainByHandWhileAbsentFollowsTheNewLinkOnly) {
  World w;
  w.tracker.running = false;
  w.app.Load();
  w.RunFor(2100);
  w.app.follower.Command2_Click();  // the box again: the handler was asked to
  EXPECT_EQ(w.messages.shown.size(), 2u);
  w.tracker.Start();
  w.RunFor(10);
  EXPECT_THAT(w.Log(), ElementsAre(kLinked)) << "one line, not one per open";
}

// Records at a tracker's own rate, both frequencies moving, while it comes
// and goes four times and the engine is linked: each handler returns, each
// coming and going is one line, and the radio ends on the newest record.
TEST(TrackerComesAndGoes, RecordsKeepComingWhileItComesAndGoes) {
  for (const double every : {50.0, 1000.0}) {
    World w;
    w.PutIcons();
    w.tracker.running = false;
    w.app.Load();
    w.RunFor(2100);
    w.LinkUp();
    int entered = 0, left = 0;
    w.form.txtDDE.change = [&, inner = w.form.txtDDE.change] {
      ++entered;
      inner();
      ++left;
    };
    const double start = w.loop.Now();
    const double length = every * 120;
    int k = 0;
    for (double at = 0; at < length; at += every, ++k) {
      w.loop.At(start + at, [&w, k] { w.tracker.Publish(Moving(k)); });
    }
    const int last = k - 1;
    // Absent at the start; comes at 10 %, goes at 30 %, back at 50 %, goes at
    // 70 %, back at 85 % for good.
    for (const double share : {0.1, 0.5, 0.85}) {
      w.loop.At(start + length * share + every / 3, [&w] { w.tracker.Start(); });
    }
    for (const double share : {0.3, 0.7}) {
      w.loop.At(start + length * share + every / 3, [&w] { w.tracker.Stop(); });
    }
    w.RunFor(length + 20'000);

    EXPECT_EQ(entered, left) << every << ": a handler is still suspended";
    EXPECT_GT(entered, 3) << every;
    EXPECT_THAT(LinkLines(w.Log()), ElementsAre(kLinked, kGone, kLinked, kGone, kLinked)) << every;
    EXPECT_EQ(w.messages.shown.size(), 1u) << every;
    EXPECT_EQ(w.form.txtDDE.Text(), Moving(last)) << every;
    const auto sent = w.Sent();
    const auto lastWith = [&](std::string_view prefix) {
      for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
        if (it->rfind(prefix, 0) == 0) return it->substr(prefix.size());
      }
      return std::string("(none)");
    };
    EXPECT_EQ(lastWith("SET FREQ MAIN "), CommandFrequencyText(w.form.LabelTX.Caption(), '.'))
        << every;
    EXPECT_EQ(lastWith("SET FREQ SUB "), CommandFrequencyText(w.form.LabelRX.Caption(), '.'))
        << every;
    EXPECT_EQ(w.form.LabelTX.Caption(), MhzText(145'850'000 + 270 * last, '.')) << every;
  }
}

}  // namespace
}  // namespace pasotune::test
