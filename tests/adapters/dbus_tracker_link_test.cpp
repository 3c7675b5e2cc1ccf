#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "feed_child.hpp"
#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "private_tracker.hpp"
#include "support.hpp"

extern char** environ;

namespace pasotune {
namespace {

using Texts = std::vector<std::string>;

class DBusTrackerLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tracker.StartError().isEmpty()) << tracker.StartError().toStdString();
  }

  void OpenInto(Texts& into) {
    link.Open("Orbitron", "Tracking", "TrackingData",
              [&into](const std::string& t) { into.push_back(t); });
  }
  bool WaitFor(const Texts& got, std::size_t count) {
    return test::PumpUntil(pump, [&] { return got.size() >= count; });
  }

  QtEventPump pump;
  test::PrivateTracker tracker;
  DBusTrackerLink link;
};

TEST_F(DBusTrackerLinkTest, AbsentOrUnreadableTrackerFailsAtOnce) {
  const struct {
    const char* service;
    const char* topic;
    const char* item;
    const char* why;
  } cases[] = {
      {"Nobody", "Tracking", "TrackingData", "No tracker is running"},
      {"Orbitron", "Elsewhere", "TrackingData", "Cannot read"},
      {"Orbitron", "Tracking", "Azimuth", "Cannot read"},
      {"Orbit ron", "Tracking", "TrackingData", "Not a valid"},
      {"", "Tracking", "TrackingData", "Not a valid"},
      {"Orbitron", "Track/", "TrackingData", "Not a valid"},
      {"Orbitron", "Tracking", "9Data", "Not a valid"},
      {"Orbitron", "Tracking", "", "Not a valid"},
  };
  Texts got;
  for (const auto& c : cases) {
    const auto t0 = test::Clock::now();
    try {
      link.Open(c.service, c.topic, c.item, [&got](const std::string& t) { got.push_back(t); });
      ADD_FAILURE() << "opened " << c.service << " " << c.topic << " " << c.item;
    } catch (const PortError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
    EXPECT_LT(test::MsSince(t0), 1500) << c.service << " " << c.topic << " " << c.item;
  }
  test::PumpFor(pump, 100);
  EXPECT_TRUE(got.empty());
}

// Changes far enough apart are each handed over; changes close together
// may be merged, but never reordered, and the newest always comes through.
TEST_F(DBusTrackerLinkTest, CurrentValueFirstThenChangesInOrderNewestLast) {
  Texts got;
  OpenInto(got);
  EXPECT_TRUE(got.empty()) << "delivered inside Open";
  ASSERT_TRUE(WaitFor(got, 1));
  Texts expected{"R0"};
  for (int i = 1; i <= 5; ++i) {
    expected.push_back("SNAO-07 DN" + std::to_string(145950000 + i));
    tracker->Publish(QString::fromStdString(expected.back()));
    ASSERT_TRUE(WaitFor(got, expected.size())) << i;
  }
  EXPECT_EQ(got, expected);

  for (int i = 1; i <= 30; ++i) {
    expected.push_back("SNAO-07 UP" + std::to_string(432150000 + i));
    tracker->Publish(QString::fromStdString(expected.back()));
  }
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return got.back() == expected.back(); }));
  test::PumpFor(pump, 100);
  EXPECT_EQ(got.back(), expected.back());
  auto from = expected.begin();
  for (const std::string& t : got) {
    from = std::find(from, expected.end(), t);
    ASSERT_NE(from, expected.end()) << t << " out of order or unknown";
    ++from;
  }
}

TEST_F(DBusTrackerLinkTest, BurstIsHandedOverAsTheNewestValueOnly) {
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  constexpr int kBurst = 10'000;
  for (int i = 1; i <= kBurst; ++i) {
    tracker->Publish(QStringLiteral("SNAO-07 DN%1").arg(145950000 + i));
  }
  // The tracker answers this read after sending every signal above, so they
  // are all queued here before the event loop runs again.
  QDBusMessage get = QDBusMessage::createMethodCall(
      QStringLiteral("dde.Orbitron"), QStringLiteral("/Tracking"),
      QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
  get << QStringLiteral("dde.Topic") << QStringLiteral("TrackingData");
  const QDBusMessage reply = QDBusConnection::sessionBus().call(get, QDBus::Block, 20000);
  ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
  ASSERT_TRUE(WaitFor(got, 2));
  test::PumpFor(pump, 200);
  EXPECT_EQ(got, (Texts{"R0", "SNAO-07 DN" + std::to_string(145950000 + kBurst)}))
      << got.size() << " values handed over";
}

// 10 MB in one value: what D-Bus itself needs is paid, no more, and the
// event loop keeps coming round.
TEST_F(DBusTrackerLinkTest, HugeValueIsCutBeforeItCostsMore) {
  feed::FeedChild feed(FEED_PATH, {"--service", "Huge"});
  ASSERT_TRUE(feed.Started());
  QDBusConnection bus = QDBusConnection::sessionBus();
  bool owned = false;
  QDBusServiceWatcher watcher(QStringLiteral("dde.Huge"), bus,
                              QDBusServiceWatcher::WatchForRegistration);
  QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&] { owned = true; });
  ASSERT_TRUE(test::PumpUntil(pump, [&] {
    return owned || bus.interface()->isServiceRegistered(QStringLiteral("dde.Huge")).value();
  }));
  Texts got;
  link.Open("Huge", "Tracking", "TrackingData", [&got](const std::string& t) { got.push_back(t); });
  ASSERT_TRUE(WaitFor(got, 1));

  const std::string small = "SNSO-50 DN145950000 UP436795000 DMFM UMFM";
  const std::string chunk(64 * 1024, 'X');
  const test::MemoryWatch memory;
  const test::LoopLag lag;
  std::thread writer([&] {
    feed.Write("SNAO-07 DN145950000 ");
    for (int i = 0; i < 160; ++i) feed.Write(chunk);  // 10 MiB
    feed.Write("\n" + small + "\n");
  });
  const bool arrived = test::PumpUntil(
      pump, [&] { return got.back() == small + "\r\n"; }, 60000 * test::kSlowdown);
  writer.join();
  ASSERT_TRUE(arrived);
  for (const std::string& t : got) {
    if (t != small + "\r\n" && !t.empty()) {
      EXPECT_EQ(t.size(), DBusTrackerLink::kMaxValueChars);
    }
  }
  EXPECT_LT(lag.MaxCpuMs(), test::LoopLag::kMaxCpuMs);
  EXPECT_LT(lag.MaxWallMs(), test::LoopLag::kMaxWallMs);
  if (memory.Valid()) {
    EXPECT_LT(memory.PeakGrowthMb(), 100);
  }
  std::printf("10 MiB value: loop lag %.1f ms (cpu %.1f ms), memory %s\n", lag.MaxWallMs(),
              lag.MaxCpuMs(), memory.Text().c_str());
}

TEST_F(DBusTrackerLinkTest, InvalidatedItemIsReadBack) {
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  tracker->Invalidate(QStringLiteral("SNSO-50 DN145950000"));
  ASSERT_TRUE(WaitFor(got, 2));
  EXPECT_EQ(got, (Texts{"R0", "SNSO-50 DN145950000"}));
}

TEST_F(DBusTrackerLinkTest, OpenAgainReplacesTheLink) {
  Texts first, second, third;
  OpenInto(first);
  OpenInto(second);  // before the first value got through: it must not
  ASSERT_TRUE(WaitFor(second, 1));
  tracker->Publish(QStringLiteral("A"));
  ASSERT_TRUE(WaitFor(second, 2));
  OpenInto(third);
  ASSERT_TRUE(WaitFor(third, 1));
  tracker->Publish(QStringLiteral("B"));
  ASSERT_TRUE(WaitFor(third, 2));
  test::PumpFor(pump, 150);
  EXPECT_EQ(first, Texts{});
  EXPECT_EQ(second, (Texts{"R0", "A"}));
  EXPECT_EQ(third, (Texts{"A", "B"}));
}

TEST_F(DBusTrackerLinkTest, CloseStopsDeliveries) {
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  tracker->Publish(QStringLiteral("queued, then closed"));
  link.Close();
  tracker->Publish(QStringLiteral("after close"));
  test::PumpFor(pump, 200);
  EXPECT_EQ(got, Texts{"R0"});
  link.Close();  // twice is harmless
}

TEST_F(DBusTrackerLinkTest, HandlerMayReopenFromInsideAnUpdate) {
  Texts got;
  int opens = 0;
  std::function<void(const std::string&)> onUpdate = [&](const std::string& t) {
    got.push_back(t);
    if (++opens < 3) link.Open("Orbitron", "Tracking", "TrackingData", onUpdate);
  };
  link.Open("Orbitron", "Tracking", "TrackingData", onUpdate);
  ASSERT_TRUE(WaitFor(got, 3));
  tracker->Publish(QStringLiteral("C"));
  ASSERT_TRUE(WaitFor(got, 4));
  test::PumpFor(pump, 100);
  EXPECT_EQ(got, (Texts{"R0", "R0", "R0", "C"}));
}

// What the link hands over, presence included: "+" linked, "-" gone.
struct Heard {
  Texts got;
  void Into(DBusTrackerLink& link) {
    link.SetPresence([this](bool linked) { got.push_back(linked ? "+" : "-"); });
  }
  TrackerLink::Update Update() {
    return [this](const std::string& t) { got.push_back(t); };
  }
};

// pasotune-feed --once value on its own, to be killed without a word.
pid_t SpawnFeed(const std::string& service, const std::string& value) {
  std::vector<std::string> args{FEED_PATH, "--once", value, "--quiet", "--service", service};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (::posix_spawn(&pid, FEED_PATH, nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return pid;
}

TEST_F(DBusTrackerLinkTest, TrackerStartedLateGoneAndBackIsFollowedInOrder) {
  Heard heard;
  heard.Into(link);
  try {
    link.Open("Late", "Tracking", "TrackingData", heard.Update());
    ADD_FAILURE() << "opened an absent tracker";
  } catch (const PortError& e) {
    EXPECT_NE(std::string(e.what()).find("No tracker is running"), std::string::npos) << e.what();
  }
  test::PumpFor(pump, 100);
  EXPECT_EQ(heard.got, Texts{});

  std::optional<test::PrivateTracker> late;
  late.emplace(QStringLiteral("L0"), QStringLiteral("Late"));
  ASSERT_TRUE(late->StartError().isEmpty());
  ASSERT_TRUE(WaitFor(heard.got, 2));
  (*late)->Publish(QStringLiteral("A"));
  ASSERT_TRUE(WaitFor(heard.got, 3));
  late.reset();  // it leaves the bus
  ASSERT_TRUE(WaitFor(heard.got, 4));
  late.emplace(QStringLiteral("L1"), QStringLiteral("Late"));
  ASSERT_TRUE(WaitFor(heard.got, 6));
  (*late)->Publish(QStringLiteral("B"));
  ASSERT_TRUE(WaitFor(heard.got, 7));
  late.reset();
  late.emplace(QStringLiteral("L2"), QStringLiteral("Late"));  // gone and back at once
  ASSERT_TRUE(WaitFor(heard.got, 10));
  test::PumpFor(pump, 100);
  EXPECT_EQ(heard.got, (Texts{"+", "L0", "A", "-", "+", "L1", "B", "-", "+", "L2"}));

  // Closed: it comes and goes unheard.
  link.Close();
  late.reset();
  late.emplace(QStringLiteral("L3"), QStringLiteral("Late"));
  test::PumpFor(pump, 300);
  EXPECT_EQ(heard.got.size(), 10u);
}

TEST_F(DBusTrackerLinkTest, KilledTrackerIsGoneAndARestartedOneLinks) {
  Heard heard;
  heard.Into(link);
  const pid_t first = SpawnFeed("Killed", "K0");
  ASSERT_GT(first, 0);
  ASSERT_TRUE(test::PumpUntil(pump, [&] {
    try {
      link.Open("Killed", "Tracking", "TrackingData", heard.Update());
      return true;
    } catch (const PortError&) {
      return false;
    }
  }));
  ASSERT_TRUE(WaitFor(heard.got, 1));
  ::kill(first, SIGKILL);
  ::waitpid(first, nullptr, 0);
  ASSERT_TRUE(WaitFor(heard.got, 2)) << "the bus tells when its owner dies";
  const pid_t second = SpawnFeed("Killed", "K1");
  ASSERT_GT(second, 0);
  ASSERT_TRUE(WaitFor(heard.got, 4));
  ::kill(second, SIGTERM);
  ::waitpid(second, nullptr, 0);
  ASSERT_TRUE(WaitFor(heard.got, 5));
  // The feed ends what it publishes with the tracker's line end.
  EXPECT_EQ(heard.got, (Texts{"K0\r\n", "-", "+", "K1\r\n", "-"}));
}

// A handler that closes the link while news waits gets none of it after.
TEST_F(DBusTrackerLinkTest, ClosingFromThePresenceHandlerDropsWhatWaits) {
  Heard heard;
  link.SetPresence([&](bool linked) {
    heard.got.push_back(linked ? "+" : "-");
    link.Close();
  });
  EXPECT_THROW(link.Open("Closer", "Tracking", "TrackingData", heard.Update()), PortError);
  test::PrivateTracker closer(QStringLiteral("C0"), QStringLiteral("Closer"));
  ASSERT_TRUE(WaitFor(heard.got, 1));
  test::PumpFor(pump, 200);
  EXPECT_EQ(heard.got, Texts{"+"});
}

TEST(DBusTrackerLinkWithoutBus, OpenFailsWithTheReason) {
  const QDBusConnection none = QDBusConnection::connectToBus(
      QStringLiteral("unix:path=/nonexistent/bus"), QStringLiteral("no-bus"));
  DBusTrackerLink link(none);
  try {
    link.Open("Orbitron", "Tracking", "TrackingData", [](const std::string&) {});
    ADD_FAILURE() << "opened without a bus";
  } catch (const PortError& e) {
    EXPECT_NE(std::string(e.what()).find("No session bus"), std::string::npos) << e.what();
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("no-bus"));
}

}  // namespace
}  // namespace pasotune
