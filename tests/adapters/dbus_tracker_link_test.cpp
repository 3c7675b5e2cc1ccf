#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "private_tracker.hpp"
#include "support.hpp"

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

TEST_F(DBusTrackerLinkTest, CurrentValueFirstThenEveryChangeInOrder) {
  Texts got;
  OpenInto(got);
  EXPECT_TRUE(got.empty()) << "delivered inside Open";
  Texts expected{"R0"};
  for (int i = 1; i <= 30; ++i) {
    const std::string r = "SNAO-07 DN1459" + std::to_string(50000 + i) + " UP432150000 DMUSB UMLSB";
    tracker->Publish(QString::fromStdString(r));
    expected.push_back(r);
  }
  ASSERT_TRUE(WaitFor(got, expected.size()));
  test::PumpFor(pump, 100);
  EXPECT_EQ(got, expected);
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
