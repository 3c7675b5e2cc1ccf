#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/win32/message_window.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

using test::Clock;
using test::MsSince;

constexpr UINT kPing = WM_APP + 7;

class Win32EventPumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Leftovers of earlier tests must not count as this test's events.
    for (int i = 0; i < 10; ++i) pump.PumpOnce(0);
  }
  Win32EventPump pump;
  std::atomic<int> pings{0};
  MessageWindow window{[this](UINT message, WPARAM, LPARAM) {
    if (message != kPing) return false;
    ++pings;
    return true;
  }};
};

TEST_F(Win32EventPumpTest, WaitsUntilTheDeadlineWithoutSpinning) {
  const double cpu0 = test::ProcessCpuMs();
  const auto t0 = Clock::now();
  pump.PumpOnce(300);
  const double ms = MsSince(t0);
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 2000);
  EXPECT_LT(test::ProcessCpuMs() - cpu0, 50) << "spun while waiting";
}

TEST_F(Win32EventPumpTest, ZeroOrLessNeverWaits) {
  for (int wait : {0, -1, -1000}) {
    const auto t0 = Clock::now();
    pump.PumpOnce(wait);
    EXPECT_LT(MsSince(t0), 100) << wait;
  }
}

TEST_F(Win32EventPumpTest, HandlesWhatIsPendingWithoutWaiting) {
  for (int i = 0; i < 3; ++i) ::PostMessageW(window.Handle(), kPing, 0, 0);
  const auto t0 = Clock::now();
  pump.PumpOnce(5000);
  EXPECT_EQ(pings, 3);
  EXPECT_LT(MsSince(t0), 1000);
}

// A message arriving during the wait ends it, whether a timer of the pump
// or another thread brings it.
TEST_F(Win32EventPumpTest, WakesWhenAMessageArrives) {
  std::thread poster;
  int ticks = 0;
  EventPump::TimerId timer = 0;
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"timer", [&] { timer = pump.StartTimer(50, [&] { ++ticks; }); }},
      {"other thread",
       [&] {
         poster = std::thread([this] {
           std::this_thread::sleep_for(std::chrono::milliseconds(50));
           ::PostMessageW(window.Handle(), kPing, 0, 0);
         });
       }},
  };
  for (const auto& c : cases) {
    const int before = ticks + pings;
    c.arrange();
    const auto t0 = Clock::now();
    pump.PumpOnce(5000);
    const double ms = MsSince(t0);
    if (poster.joinable()) poster.join();
    pump.StopTimer(timer);
    EXPECT_GT(ticks + pings, before) << c.what;
    EXPECT_LT(ms, 2500) << c.what;
  }
}

TEST_F(Win32EventPumpTest, TimersTickUntilStopped) {
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
// pumps for a while must see other timers tick meanwhile, and its own timer
// must never tick inside itself.
TEST_F(Win32EventPumpTest, TicksNestButNeverInsideThemselves) {
  int inner = 0;
  int innerDuringOuter = -1;
  int outer = 0;
  int depth = 0;
  int deepest = 0;
  const EventPump::TimerId innerId = pump.StartTimer(10, [&inner] { ++inner; });
  const EventPump::TimerId outerId = pump.StartTimer(20, [&] {
    ++outer;
    deepest = std::max(deepest, ++depth);
    const int before = inner;
    test::PumpFor(pump, 150);
    if (innerDuringOuter < 0) innerDuringOuter = inner - before;
    --depth;
  });
  test::PumpUntil(
      pump, [&] { return outer >= 2; }, 3000);
  pump.StopTimer(outerId);
  pump.StopTimer(innerId);
  EXPECT_GE(outer, 2);
  EXPECT_EQ(deepest, 1);
  EXPECT_GE(innerDuringOuter, 3);
}

// A handler's exception must not unwind through the system's dispatcher:
// it comes out of PumpOnce, and the pump works on.
TEST_F(Win32EventPumpTest, AHandlersExceptionComesOutOfPumpOnce) {
  bool threw = false;
  EventPump::TimerId id = 0;
  id = pump.StartTimer(10, [&] {
    pump.StopTimer(id);
    throw PortError("from a tick");
  });
  try {
    test::PumpFor(pump, 1000);
  } catch (const PortError& e) {
    threw = std::string(e.what()) == "from a tick";
  }
  EXPECT_TRUE(threw);
  ::PostMessageW(window.Handle(), kPing, 0, 0);
  pump.PumpOnce(1000);
  EXPECT_EQ(pings, 1);
}

// A handler that always posts another message cannot keep one PumpOnce,
// and so a pause, from returning.
TEST_F(Win32EventPumpTest, EndlessMessagesStillLetPumpOnceReturn) {
  bool repost = true;
  MessageWindow echo([&](UINT message, WPARAM, LPARAM) {
    if (message != kPing) return false;
    ++pings;
    if (repost) ::PostMessageW(echo.Handle(), kPing, 0, 0);
    return true;
  });
  ::PostMessageW(echo.Handle(), kPing, 0, 0);
  pump.PumpOnce(0);
  EXPECT_EQ(pings, Win32EventPump::kMaxDispatch);
  repost = false;
  pump.PumpOnce(0);
}

}  // namespace
}  // namespace pasotune
