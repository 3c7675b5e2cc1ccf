// What every EventPump adapter must do, whatever queue it pumps. A platform
// instantiates these cases with a host that holds its pump and can post a
// function to the pump's thread from any thread:
//   struct Host { SomePump pump; void Post(std::function<void()> fn); };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, EventPumpContract, Host);
// Each platform's file adds what only its pump does.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "platform/pump_until.hpp"

namespace pasotune::test {

template <class Host>
class EventPumpContract : public ::testing::Test {
 protected:
  void SetUp() override {
    // Leftovers of earlier tests must not count as this test's events.
    for (int i = 0; i < 10; ++i) host.pump.PumpOnce(0);
  }
  static double MsSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  }
  void PumpFor(int ms) {
    PumpUntil(
        host.pump, [] { return false; }, ms);
  }

  Host host;
};

TYPED_TEST_SUITE_P(EventPumpContract);

TYPED_TEST_P(EventPumpContract, WaitsUntilTheDeadlineWhenNothingHappens) {
  const auto t0 = std::chrono::steady_clock::now();
  this->host.pump.PumpOnce(300);
  const double ms = this->MsSince(t0);
  EXPECT_GE(ms, 250);
  EXPECT_LT(ms, 2000);
}

TYPED_TEST_P(EventPumpContract, ZeroOrLessNeverWaits) {
  for (int wait : {0, -1, -1000}) {
    const auto t0 = std::chrono::steady_clock::now();
    this->host.pump.PumpOnce(wait);
    EXPECT_LT(this->MsSince(t0), 100) << wait;
  }
}

TYPED_TEST_P(EventPumpContract, HandlesWhatIsPendingWithoutWaiting) {
  int ran = 0;
  for (int i = 0; i < 3; ++i) this->host.Post([&ran] { ++ran; });
  const auto t0 = std::chrono::steady_clock::now();
  this->host.pump.PumpOnce(5000);
  EXPECT_EQ(ran, 3);
  EXPECT_LT(this->MsSince(t0), 1000);
}

// An event arriving during the wait ends it, whether a timer of the pump or
// another thread brings it.
TYPED_TEST_P(EventPumpContract, WakesWhenAnEventArrives) {
  EventPump& pump = this->host.pump;
  std::thread poster;
  std::atomic<int> arrived{0};
  EventPump::TimerId timer = 0;
  const struct {
    const char* what;
    std::function<void()> arrange;
  } cases[] = {
      {"timer", [&] { timer = pump.StartTimer(50, [&arrived] { ++arrived; }); }},
      {"other thread",
       [&] {
         poster = std::thread([this, &arrived] {
           std::this_thread::sleep_for(std::chrono::milliseconds(50));
           this->host.Post([&arrived] { ++arrived; });
         });
       }},
  };
  for (const auto& c : cases) {
    const int before = arrived;
    c.arrange();
    const auto t0 = std::chrono::steady_clock::now();
    while (arrived == before && this->MsSince(t0) < 5000) pump.PumpOnce(5000);
    const double ms = this->MsSince(t0);
    if (poster.joinable()) poster.join();
    pump.StopTimer(timer);
    EXPECT_GT(arrived, before) << c.what;
    EXPECT_LT(ms, 2500) << c.what;
  }
}

TYPED_TEST_P(EventPumpContract, TimersTickUntilStopped) {
  EventPump& pump = this->host.pump;
  EXPECT_EQ(pump.StartTimer(0, [] {}), 0);
  EXPECT_EQ(pump.StartTimer(-5, [] {}), 0);
  int ticks = 0;
  const EventPump::TimerId id = pump.StartTimer(20, [&ticks] { ++ticks; });
  ASSERT_NE(id, 0);
  this->PumpFor(300);
  EXPECT_GE(ticks, 5);
  EXPECT_LE(ticks, 16);
  pump.StopTimer(id);
  const int stoppedAt = ticks;
  this->PumpFor(100);
  EXPECT_EQ(ticks, stoppedAt);
  pump.StopTimer(id);  // twice is harmless
}

REGISTER_TYPED_TEST_SUITE_P(EventPumpContract, WaitsUntilTheDeadlineWhenNothingHappens,
                            ZeroOrLessNeverWaits, HandlesWhatIsPendingWithoutWaiting,
                            WakesWhenAnEventArrives, TimersTickUntilStopped);

}  // namespace pasotune::test
