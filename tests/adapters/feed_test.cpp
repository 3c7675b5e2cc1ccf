#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "form/form1.hpp"
#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "support.hpp"
#include "synthetic_pass.hpp"
#include "tracking/leer_tracking.hpp"

namespace pasotune {
namespace {

using Texts = std::vector<std::string>;

class FeedProgramTest : public ::testing::Test {
 protected:
  void TearDown() override {
    for (QProcess* p : {&feed, &rival}) {
      if (p->state() != QProcess::NotRunning) {
        p->kill();  // by its pid
        p->waitForFinished(5000);
      }
    }
  }
  // Starts pasotune-feed and waits for the first record it prints, which it
  // does once it holds the name.
  std::string StartFeed(QProcess& p, const QStringList& args) {
    p.start(QStringLiteral(FEED_PATH), args);
    if (!p.waitForStarted(5000)) return {};
    std::string line;
    const auto t0 = test::Clock::now();
    while (!p.canReadLine() && test::MsSince(t0) < 5000 && p.state() == QProcess::Running) {
      p.waitForReadyRead(5000);
    }
    return p.readLine().trimmed().toStdString();
  }
  void OpenInto(Texts& into) {
    link.Open("Orbitron", "Tracking", "TrackingData",
              [&into](const std::string& t) { into.push_back(t); });
  }

  QtEventPump pump;
  DBusTrackerLink link;
  QProcess feed;
  QProcess rival;
};

TEST_F(FeedProgramTest, PublishesOneRecordHoldsTheNameAndEndsOnSigterm) {
  const std::string record = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB";
  ASSERT_EQ(StartFeed(feed, {"--once", QString::fromStdString(record)}), record);
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !got.empty(); }));
  EXPECT_EQ(got, Texts{record});

  rival.start(QStringLiteral(FEED_PATH), {"--once", "SNX"});
  ASSERT_TRUE(rival.waitForFinished(5000));
  EXPECT_NE(rival.exitCode(), 0);
  EXPECT_TRUE(rival.readAllStandardError().contains("dde.Orbitron is already owned"))
      << "rival's complaint";

  link.Close();
  feed.terminate();  // SIGTERM to its pid
  ASSERT_TRUE(feed.waitForFinished(5000));
  EXPECT_EQ(feed.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(feed.exitCode(), 0);
  EXPECT_THROW(OpenInto(got), PortError) << "the name is given back on the way out";
}

TEST_F(FeedProgramTest, FileRecordsArriveInOrder) {
  QTemporaryDir dir;
  const std::string path = dir.filePath("records.txt").toStdString();
  std::ofstream(path) << "SNAO-07 DN1\r\nSNAO-07 DN2\r\n\r\nSNAO-07 DN3\r\n";
  ASSERT_EQ(StartFeed(feed, {"--file", QString::fromStdString(path), "--interval", "150",
                             "--exit-at-end"}),
            "SNAO-07 DN1");
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !got.empty() && got.back() == "SNAO-07 DN3"; }));
  // Opened after the first went out, so the link begins with whatever was
  // current then; after that, nothing skipped and nothing repeated.
  const Texts all{"SNAO-07 DN1", "SNAO-07 DN2", "SNAO-07 DN3"};
  ASSERT_LE(got.size(), all.size());
  EXPECT_EQ(got, Texts(all.end() - static_cast<long>(got.size()), all.end()));
  ASSERT_TRUE(feed.waitForFinished(5000));
  EXPECT_EQ(feed.exitCode(), 0);
}

TEST_F(FeedProgramTest, StdinLinesArePublishedAsTheyCome) {
  feed.start(QStringLiteral(FEED_PATH), {"--stdin", "--exit-at-end"});
  ASSERT_TRUE(feed.waitForStarted(5000));
  feed.write("SNA DN1\n");
  // Printed once published; the name was taken before anything was read.
  ASSERT_TRUE(feed.waitForReadyRead(5000));
  EXPECT_EQ(feed.readLine().trimmed().toStdString(), "SNA DN1");
  Texts got;
  OpenInto(got);
  feed.write("SNA DN2\r\nSNA ");  // the last line only half written yet
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return got.size() >= 2; }));
  feed.write("DN3\n");
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return got.size() >= 3; }));
  EXPECT_EQ(got, (Texts{"SNA DN1", "SNA DN2", "SNA DN3"}));
  feed.closeWriteChannel();
  ASSERT_TRUE(feed.waitForFinished(5000));
  EXPECT_EQ(feed.exitCode(), 0);
}

TEST_F(FeedProgramTest, RefusesNonsenseArguments) {
  const QStringList cases[] = {
      {},
      {"--pass", "--once", "X"},
      {"--stdin", "--file", "records.txt"},
      {"--file", "/nonexistent/records.txt"},
      {"--pass", "--modes", "USB"},
      {"--pass", "--speed", "0"},
      {"--pass", "--duration", "nan"},
      {"--pass", "--start", "9999"},
      {"--once", "X", "--service", "bad name"},
  };
  for (const QStringList& args : cases) {
    rival.start(QStringLiteral(FEED_PATH), args);
    ASSERT_TRUE(rival.waitForFinished(5000)) << args.join(' ').toStdString();
    EXPECT_NE(rival.exitCode(), 0) << args.join(' ').toStdString();
    EXPECT_FALSE(rival.readAllStandardError().isEmpty()) << args.join(' ').toStdString();
  }
}

// ---- the synthetic pass, without a bus ----

TEST(SyntheticPass, RecordHasTheTrackersExactShape) {
  EXPECT_EQ(feed::Record("AO-07", 145950000, 432150000, "USB", "LSB"),
            "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");
  Module1 m;
  LeerTracking(feed::RecordAt(feed::Pass{}, 0), m);
  const feed::Tuning t = feed::TuningAt(feed::Pass{}, 0);
  EXPECT_EQ(m.Satelite, "SO-50");
  EXPECT_EQ(m.FrecBajada, t.downlinkHz);
  EXPECT_EQ(m.FrecSubida, t.uplinkHz);
  EXPECT_EQ(m.ModoBajada, "FM");
  EXPECT_EQ(m.ModoSubida, "FM");
}

TEST(SyntheticPass, DopplerFollowsTheFlyBy) {
  const feed::Pass pass;
  const struct {
    double t;
    double rangeRateLow, rangeRateHigh;  // km/s
  } cases[] = {
      {0, -7.5, -6.5},     // AOS: closing fast
      {300, -0.01, 0.01},  // overhead
      {600, 6.5, 7.5},     // LOS: leaving
  };
  for (const auto& c : cases) {
    const double v = feed::RangeRateKmS(pass, c.t);
    EXPECT_GE(v, c.rangeRateLow) << c.t;
    EXPECT_LE(v, c.rangeRateHigh) << c.t;
    const feed::Tuning tuning = feed::TuningAt(pass, c.t);
    EXPECT_NEAR(tuning.downlinkHz, 145950000 * (1 - v / feed::kLightKmS), 1) << c.t;
    EXPECT_NEAR(tuning.uplinkHz, 432150000 * (1 + v / feed::kLightKmS), 1) << c.t;
  }
  // Heard high while closing, low while leaving; sent the other way round.
  EXPECT_GT(feed::TuningAt(pass, 0).downlinkHz, 145950000 + 3000);
  EXPECT_LT(feed::TuningAt(pass, 0).uplinkHz, 432150000 - 9000);
  for (double t = 1; t <= pass.durationS; t += 1) {
    EXPECT_LE(feed::TuningAt(pass, t).downlinkHz, feed::TuningAt(pass, t - 1).downlinkHz) << t;
    EXPECT_GE(feed::TuningAt(pass, t).uplinkHz, feed::TuningAt(pass, t - 1).uplinkHz) << t;
  }
}

}  // namespace
}  // namespace pasotune
