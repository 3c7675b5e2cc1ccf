#include <gtest/gtest.h>

#include <QCoreApplication>
#include <functional>

#include "../common/event_pump_contract.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "support.hpp"

namespace pasotune {
namespace test {

// The host of the shared cases.
struct QtHost {
  QtEventPump pump;
  void Post(std::function<void()> fn) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(fn), Qt::QueuedConnection);
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(EventPump, EventPumpContract, QtHost);

}  // namespace test

namespace {

class QtEventPumpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Leftovers of earlier tests must not count as this test's events.
    for (int i = 0; i < 10; ++i) pump.PumpOnce(0);
  }
  QtEventPump pump;
};

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
