// The event pump over the Qt event loop of the calling (main) thread.
#pragma once

#include <memory>

#include "platform/ports.hpp"

namespace pasotune {

class QtEventPump : public EventPump {
 public:
  // Needs a QCoreApplication (or a GUI one) and must live in its thread.
  QtEventPump();
  ~QtEventPump() override;
  QtEventPump(const QtEventPump&) = delete;
  QtEventPump& operator=(const QtEventPump&) = delete;

  // Handles what is pending; only when nothing was, blocks for the next
  // event, at most maxWaitMs. Safe to call from inside any handler.
  void PumpOnce(int maxWaitMs) override;
  // An interval of zero or less starts nothing and returns 0, as a timer
  // with no interval never ticks.
  TimerId StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(TimerId id) override;

 private:
  class Hub;
  std::unique_ptr<Hub> hub_;
};

}  // namespace pasotune
