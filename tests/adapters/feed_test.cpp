#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../dde/feed_clients.hpp"
#include "form/form1.hpp"
#include "gpredict_replay.hpp"
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
  EXPECT_EQ(got, Texts{record + "\r\n"}) << "with the tracker's line end";

  rival.start(QStringLiteral(FEED_PATH), {"--once", "SNX"});
  ASSERT_TRUE(rival.waitForFinished(5000));
  EXPECT_NE(rival.exitCode(), 0);
  EXPECT_TRUE(rival.readAllStandardError().contains("dde.Orbitron ya tiene dueño"))
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
  ASSERT_TRUE(
      test::PumpUntil(pump, [&] { return !got.empty() && got.back() == "SNAO-07 DN3\r\n"; }));
  // Opened after the first went out, so the link begins with whatever was
  // current then; after that, nothing skipped and nothing repeated.
  const Texts all{"SNAO-07 DN1\r\n", "SNAO-07 DN2\r\n", "SNAO-07 DN3\r\n"};
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
  EXPECT_EQ(got, (Texts{"SNA DN1\r\n", "SNA DN2\r\n", "SNA DN3\r\n"}));
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
      {"--file", "/tmp"},
      {"--file", "/dev/urandom"},
      {"--file", "/dev/zero"},
  };
  for (const QStringList& args : cases) {
    rival.start(QStringLiteral(FEED_PATH), args);
    ASSERT_TRUE(rival.waitForFinished(5000)) << args.join(' ').toStdString();
    EXPECT_NE(rival.exitCode(), 0) << args.join(' ').toStdString();
    // Neither a folder nor a device is read as records.
    EXPECT_TRUE(args.size() != 2 || args[0] != "--file" || rival.exitCode() == 2);
    EXPECT_FALSE(rival.readAllStandardError().isEmpty()) << args.join(' ').toStdString();
  }
}

// A NUL would cut a record short (a 14,595 Hz downlink for "DN14595\0..."),
// and an endless line would grow without end: neither is published whole,
// and a 64 MB line costs no more than its bytes.
TEST_F(FeedProgramTest, ALineHoldingANulOrPastItsCapIsNeverPublishedWhole) {
  QTemporaryDir dir;
  const std::string nul("SNAO-07 DN14595\0 UP435000000\n", 29), last = "SNAO-07 DN145950000\n";
  const struct {
    QStringList args;
    std::string bytes;  // the file's, and standard input's
  } cases[] = {
      {{"--stdin"}, nul + std::string(64 << 20, 'X') + "\n" + last},
      {{"--file", dir.filePath("r.txt"), "--interval", "1"},
       nul + std::string(1 << 20, 'X') + "\n" + last},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.front().toStdString());
    std::ofstream(dir.filePath("r.txt").toStdString(), std::ios::binary) << c.bytes;
    feed.start(QStringLiteral(FEED_PATH), QStringList(c.args) << "--exit-at-end");
    ASSERT_TRUE(feed.waitForStarted(5000));
    feed.write(c.bytes.data(), static_cast<qint64>(c.bytes.size()));
    feed.closeWriteChannel();
    ASSERT_TRUE(test::PumpUntil(
        pump, [&] { return feed.state() == QProcess::NotRunning; }, 60000 * test::kSlowdown));
    EXPECT_EQ(feed.exitCode(), 0);
    const QByteArray want = QByteArray(64 * 1024, 'X') + "\n" + last.c_str();
    EXPECT_TRUE(feed.readAllStandardOutput() == want);
    const QByteArray err = feed.readAllStandardError();
    EXPECT_TRUE(err.contains("se deja fuera una línea con un NUL")) << err.toStdString();
    EXPECT_TRUE(err.contains("una línea de más de 64 KiB: se descarta el resto"));
  }
}

// ---- Gpredict driving the feed as a radio, over TCP, to the bus ----

const std::filesystem::path kGpredictData = GPREDICT_DATA;

// A port nothing listens on just now.
quint16 FreePort() {
  QTcpServer probe;
  probe.listen(QHostAddress::LocalHost, 0);
  return probe.serverPort();
}

class GpredictFeedTest : public FeedProgramTest {
 protected:
  // The feed answering Gpredict on port, its first line read ("answering ...").
  bool StartGpredict(const QStringList& roleAndPort) {
    QStringList args = roleAndPort;
    args << "--gpredict-config" << QString::fromStdString((kGpredictData / "config").string());
    const std::string first = StartFeed(feed, args);
    return first.rfind("answering Gpredict's radio on 127.0.0.1:", 0) == 0;
  }
  bool Connect(QTcpSocket& s, quint16 port) {
    s.connectToHost(QHostAddress::LocalHost, port);
    return test::PumpUntil(pump, [&] { return s.state() == QAbstractSocket::ConnectedState; });
  }
  // One command and its one-line answer, as Gpredict asks: nothing when none
  // came within timeoutMs.
  std::optional<std::string> Ask(QTcpSocket& s, const std::string& command, int timeoutMs = 2000) {
    s.write((command + "\n").c_str());
    if (!test::PumpUntil(
            pump, [&] { return s.canReadLine(); }, timeoutMs))
      return std::nullopt;
    return s.readLine().toStdString();
  }
  std::string Stderr() { return feed.readAllStandardError().toStdString(); }
};

// Every transcript as Gpredict sent it, through the real socket: each reply
// Gpredict needs, at once; the records on the bus in order.
TEST_F(GpredictFeedTest, EveryTranscriptReplayedThroughTheSocketToTheBus) {
  for (const char* name : test::kGpredictTranscripts) {
    SCOPED_TRACE(name);
    const test::GpredictReplay plan = test::PlanGpredictReplay(kGpredictData, name);
    const quint16 port = FreePort();
    ASSERT_TRUE(StartGpredict({plan.option, QString::number(port)}));
    Texts got;
    OpenInto(got);
    ASSERT_TRUE(test::PumpUntil(pump, [&] { return !got.empty(); }));
    ASSERT_EQ(got, Texts{""}) << "nothing known before Gpredict sets a frequency";
    got.clear();

    QTcpSocket gpredict;
    ASSERT_TRUE(Connect(gpredict, port));
    double slowestMs = 0;
    for (const test::GpredictExchange& e : plan.exchanges) {
      const std::optional<std::string> needed = test::NeededReply(e);
      if (!needed) {  // q: the feed closes
        gpredict.write("q\n");
        EXPECT_TRUE(test::PumpUntil(
            pump, [&] { return gpredict.state() == QAbstractSocket::UnconnectedState; }));
        break;
      }
      const auto t0 = test::Clock::now();
      EXPECT_EQ(Ask(gpredict, e.command), needed) << e.command;
      slowestMs = std::max(slowestMs, test::MsSince(t0));
    }
    EXPECT_LT(slowestMs, 1000 * test::kSlowdown) << "no command waits, LOS included";
    // Each record published is printed, in order.
    Texts printed;
    test::PumpUntil(pump, [&] {
      while (feed.canReadLine()) printed.push_back(feed.readLine().toStdString());
      return printed.size() >= plan.records.size();
    });
    ASSERT_EQ(printed.size(), plan.records.size());
    for (std::size_t i = 0; i < printed.size(); ++i) {
      EXPECT_EQ(printed[i], plan.records[i].substr(0, plan.records[i].size() - 2) + "\n") << i;
    }
    // The link takes the newest of a burst: what it got comes in order and
    // ends with the last.
    EXPECT_TRUE(
        test::PumpUntil(pump, [&] { return test::InOrderEndingWithTheLast(got, plan.records); }));
    EXPECT_EQ(Stderr().find("se rechaza"), std::string::npos);
    link.Close();
    feed.terminate();
    ASSERT_TRUE(feed.waitForFinished(5000));
    EXPECT_EQ(feed.exitCode(), 0);
  }
}

TEST_F(GpredictFeedTest, BadClientsAreToldOfAndTheFeedGoesOn) {
  const quint16 port = FreePort();
  ASSERT_TRUE(StartGpredict({"--gpredict", QString::number(port), "--name", "AO-07"}));
  QTcpSocket first, second;
  ASSERT_TRUE(Connect(first, port));
  EXPECT_EQ(Ask(first, "F 145950000"), "RPRT 0\n");
  // A second Gpredict on the same port is told and closed; the first goes on.
  ASSERT_TRUE(Connect(second, port));
  EXPECT_TRUE(test::PumpUntil(pump, [&] { return second.canReadLine(); }));
  EXPECT_EQ(second.readLine().toStdString(), "RPRT -14\n");
  EXPECT_TRUE(
      test::PumpUntil(pump, [&] { return second.state() == QAbstractSocket::UnconnectedState; }));
  EXPECT_EQ(Ask(first, "f"), "145950000\n");
  // A huge line is refused once, the next one answered.
  first.write(QByteArray(1 << 20, 'F'));
  EXPECT_EQ(Ask(first, ""), "RPRT -1\n");
  EXPECT_EQ(Ask(first, "gibberish \xff\x01"), "RPRT -11\n");
  EXPECT_EQ(Ask(first, "f"), "145950000\n");
  // Gone in the middle of a line: the next Gpredict is served.
  first.write("F 4358");
  first.flush();
  first.abort();
  std::string err;
  ASSERT_TRUE(test::PumpUntil(pump, [&] {
    err += Stderr();
    return err.find("a mitad de una línea: F 4358") != std::string::npos;
  }));
  QTcpSocket third;
  ASSERT_TRUE(Connect(third, port));
  EXPECT_EQ(Ask(third, "f"), "145950000\n") << "the radio remembers between connections";
  EXPECT_EQ(Ask(third, "I 432150000"), "RPRT 0\n");
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !got.empty(); }));
  EXPECT_EQ(got.back(), "SNAO-07 DN145950000 UP432150000\r\n");
  err += Stderr();
  for (const char* told : {"se rechaza un segundo cliente", "más de 256 bytes",
                           "orden desconocida: gibberish", "a mitad de una línea: F 4358"}) {
    EXPECT_NE(err.find(told), std::string::npos) << told << " in:\n" << err;
  }
  // The port taken: a second feed says so and ends.
  rival.start(QStringLiteral(FEED_PATH),
              {"--gpredict", QString::number(port), "--service", "Other"});
  ASSERT_TRUE(rival.waitForFinished(5000));
  EXPECT_EQ(rival.exitCode(), 2);
  EXPECT_NE(rival.readAllStandardError().indexOf("no se puede escuchar en 127.0.0.1:"), -1);
}

// What stands where Gpredict keeps a file is looked at before it is opened:
// a FIFO, a device or an endless file is skipped with a line saying so, the
// feed answers at once, and SIGTERM ends it.
TEST_F(GpredictFeedTest, WhatIsNoGpredictFileIsSkippedAndTheFeedStillEnds) {
  const struct {
    const char* file;  // of satellite 1
    const char* kind;  // "fifo", "dir", "big", or a device to link to
    const char* why;
  } cases[] = {
      {"trsp/1.trsp", "fifo", "a FIFO"},
      {"satdata/1.sat", "fifo", "a FIFO"},
      {"trsp/1.trsp", "/dev/zero", "es un dispositivo"},
      {"satdata/1.sat", "/dev/urandom", "es un dispositivo"},
      {"trsp/1.trsp", "big", "mayor de 1024 KiB"},
      {"satdata/1.sat", "dir", "es una carpeta"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.file) + " " + c.kind);
    QTemporaryDir dir;
    const std::filesystem::path config = dir.path().toStdString(), file = config / c.file;
    for (const std::string n : {"1", "2"}) {
      std::filesystem::create_directories(config / "satdata");
      std::filesystem::create_directories(config / "trsp");
      std::ofstream(config / "trsp" / (n + ".trsp"))
          << "[FM]\nDOWN_LOW=43" << n << "000000\nMODE=FM\n";
      std::ofstream(config / "satdata" / (n + ".sat")) << "[Satellite]\nNAME=SAT" << n << "\n";
    }
    std::filesystem::remove(file);
    if (c.kind == std::string("fifo")) {
      ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    } else if (c.kind == std::string("dir")) {
      std::filesystem::create_directory(file);
    } else if (c.kind == std::string("big")) {
      std::ofstream(file) << "[FM]\nDOWN_LOW=435000000\n" << std::string(2 << 20, '#') << "\n";
    } else {
      std::filesystem::create_symlink(c.kind, file);
    }
    const quint16 port = FreePort();
    ASSERT_EQ(
        StartFeed(feed, {"--gpredict", QString::number(port), "--gpredict-config", dir.path()})
            .rfind("answering", 0),
        0u);
    QTcpSocket gpredict;
    ASSERT_TRUE(Connect(gpredict, port));
    EXPECT_EQ(Ask(gpredict, "F 432000000"), "RPRT 0\n");
    ASSERT_TRUE(test::PumpUntil(pump, [&] { return feed.canReadLine(); }));
    EXPECT_EQ(feed.readLine().toStdString(), "SNSAT2 DN432000000 DMFM\n");
    EXPECT_NE(Stderr().find("se salta " + file.string() + ": " + c.why), std::string::npos);
    feed.terminate();
    ASSERT_TRUE(feed.waitForFinished(5000));
    EXPECT_EQ(feed.exitStatus(), QProcess::NormalExit);
  }
}

// Every answer reaches a client that pipelines its reads, one that ends its
// side once it has sent, and one that comes back the moment it left.
TEST_F(GpredictFeedTest, EveryClientGetsEveryAnswer) {
  const quint16 port = FreePort();
  ASSERT_TRUE(StartGpredict({"--gpredict", QString::number(port)}));
  test::ExpectEveryClientGetsEveryAnswer(port);
  const std::string err = Stderr();
  EXPECT_EQ(err.find("se cierra"), std::string::npos) << err;
  EXPECT_EQ(err.find("se rechaza un segundo"), std::string::npos) << err;
}

// A closed terminal: the reader of the records is gone, the feed goes on.
TEST_F(GpredictFeedTest, GoesOnWhenTheReaderOfItsRecordsLeaves) {
  const quint16 port = FreePort();
  feed.setStandardOutputProcess(&rival);
  rival.start(QStringLiteral("head"), {"-n", "1"});
  feed.start(QStringLiteral(FEED_PATH), {"--gpredict", QString::number(port)});
  ASSERT_TRUE(rival.waitForFinished(5000));
  ASSERT_TRUE(rival.readAll().startsWith("answering "));
  QTcpSocket gpredict;
  ASSERT_TRUE(Connect(gpredict, port));
  for (const char* hz : {"145950000", "145951000"}) {
    EXPECT_EQ(Ask(gpredict, std::string("F ") + hz), "RPRT 0\n");
    EXPECT_EQ(Ask(gpredict, "f"), std::string(hz) + "\n");
  }
  EXPECT_EQ(feed.state(), QProcess::Running);
}

// ---- the synthetic pass, without a bus ----

TEST(SyntheticPass, RecordHasTheTrackersExactShape) {
  EXPECT_EQ(feed::Record("AO-07", 145950000, 432150000, "USB", "LSB"),
            "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB\r\n");
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
