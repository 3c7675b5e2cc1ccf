#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

#include "../common/event_pump_contract.hpp"
#include "platform/win32/message_window.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "support.hpp"

namespace pasotune {
namespace test {

// The host of the shared cases: a function posted from any thread runs
// when a message-only window of this thread gets it.
class Win32Host {
 public:
  Win32EventPump pump;
  void Post(std::function<void()> fn) {
    auto* held = new std::function<void()>(std::move(fn));
    if (!::PostMessageW(window_.Handle(), kRun, 0, reinterpret_cast<LPARAM>(held))) delete held;
  }

 private:
  static constexpr UINT kRun = WM_APP + 8;
  MessageWindow window_{[](UINT message, WPARAM, LPARAM lParam) {
    if (message != kRun) return false;
    const std::unique_ptr<std::function<void()>> fn(
        reinterpret_cast<std::function<void()>*>(lParam));
    (*fn)();
    return true;
  }};
};
INSTANTIATE_TYPED_TEST_SUITE_P(EventPump, EventPumpContract, Win32Host);

}  // namespace test

namespace {

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

TEST_F(Win32EventPumpTest, WaitsWithoutSpinning) {
  const double cpu0 = test::ProcessCpuMs();
  pump.PumpOnce(300);
  EXPECT_LT(test::ProcessCpuMs() - cpu0, 50) << "spun while waiting";
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
