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
      pump, [&] { return got.back() == small; }, 60000 * test::kSlowdown);
  writer.join();
  ASSERT_TRUE(arrived);
  for (const std::string& t : got) {
    if (t != small && !t.empty()) {
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
