#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <thread>

#include "platform/qt/qt_event_pump.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

using test::Clock;
using test::MsSince;

class QtEventPumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Leftovers of earlier tests must not count as this test's events.
    for (int i = 0; i < 10; ++i) pump.PumpOnce(0);
  }
  QtEventPump pump;
};

TEST_F(QtEventPumpTest, WaitsUntilTheDeadlineWhenNothingHappens) {
  const auto t0 = Clock::now();
  pump.PumpOnce(200);
  const double ms = MsSince(t0);
  EXPECT_GE(ms, 150);
  EXPECT_LT(ms, 1500);
}

TEST_F(QtEventPumpTest, ZeroOrLessNeverWaits) {
  for (int wait : {0, -1, -1000}) {
    const auto t0 = Clock::now();
    pump.PumpOnce(wait);
    EXPECT_LT(MsSince(t0), 100) << wait;
  }
}

TEST_F(QtEventPumpTest, HandlesWhatIsPendingWithoutWaiting) {
  int ran = 0;
  for (int i = 0; i < 3; ++i) {
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [&ran] { ++ran; }, Qt::QueuedConnection);
  }
  const auto t0 = Clock::now();
  pump.PumpOnce(5000);
  EXPECT_EQ(ran, 3);
  EXPECT_LT(MsSince(t0), 1000);
}

// An event arriving during the wait ends it, whether it comes from this
// thread's timers or is posted from another thread.
TEST_F(QtEventPumpTest, WakesWhenAnEventArrives) {
  struct Case {
    const char* what;
    std::function<void(std::atomic<bool>&)> arrange;
  };
  std::thread poster;
  const Case cases[] = {
      {"timer", [](std::atomic<bool>& ran) { QTimer::singleShot(50, [&ran] { ran = true; }); }},
      {"other thread",
       [&poster](std::atomic<bool>& ran) {
         poster = std::thread([&ran] {
           std::this_thread::sleep_for(std::chrono::milliseconds(50));
           QMetaObject::invokeMethod(
               QCoreApplication::instance(), [&ran] { ran = true; }, Qt::QueuedConnection);
         });
       }},
  };
  for (const Case& c : cases) {
    std::atomic<bool> ran{false};
    c.arrange(ran);
    const auto t0 = Clock::now();
    while (!ran && MsSince(t0) < 5000) pump.PumpOnce(5000);
    const double ms = MsSince(t0);
    if (poster.joinable()) poster.join();
    EXPECT_TRUE(ran) << c.what;
    EXPECT_LT(ms, 2500) << c.what;
  }
}

TEST_F(QtEventPumpTest, TimersTickUntilStopped) {
  EXPECT_EQ(pump.StartTimer(0, [] {}), 0);
  EXPECT_EQ(pump.StartTimer(-5, [] {}), 0);
  int ticks = 0;
  const EventPump::TimerId id = pump.StartTimer(20, [&ticks] { ++ticks; });
  ASSERT_NE(id, 0);
  test::PumpFor(pump, 300);
  EXPECT_GE(ticks, 5);
  EXPECT_LE(ticks, 16);
  pump.StopTimer(id);
  const int stoppedAt = ticks;
  test::PumpFor(pump, 100);
  EXPECT_EQ(ticks, stoppedAt);
  pump.StopTimer(id);  // twice is harmless
}

// The core pauses inside handlers: a tick that stops its own timer and then
// pumps for a while must see other timers tick meanwhile.
TEST_F(QtEventPumpTest, ATickMayStopItselfAndPumpInside) {
  int outer = 0;
  int inner = 0;
  int innerDuringOuter = -1;
  EventPump::TimerId outerId = 0;
  const EventPump::TimerId innerId = pump.StartTimer(10, [&inner] { ++inner; });
  outerId = pump.StartTimer(20, [&] {
    ++outer;
    pump.StopTimer(outerId);
    const int before = inner;
    test::PumpFor(pump, 150);
    innerDuringOuter = inner - before;
  });
  test::PumpUntil(
      pump, [&] { return innerDuringOuter >= 0; }, 3000);
  test::PumpFor(pump, 60);
  pump.StopTimer(innerId);
  EXPECT_EQ(outer, 1);
  EXPECT_GE(innerDuringOuter, 3);
}

}  // namespace
}  // namespace pasotune
