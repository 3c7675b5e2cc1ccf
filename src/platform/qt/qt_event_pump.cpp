#include "platform/qt/qt_event_pump.hpp"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimerEvent>
#include <cstdint>
#include <map>

namespace pasotune {

// Owns the timers and counts every event the thread delivers, so a pump
// knows whether it handled something without trusting the dispatcher's
// return value (the glib and the plain Unix dispatchers report differently).
class QtEventPump::Hub : public QObject {
 public:
  std::uint64_t delivered = 0;
  std::map<int, std::shared_ptr<std::function<void()>>> ticks;

  bool eventFilter(QObject* watched, QEvent* event) override {
    ++delivered;
    return QObject::eventFilter(watched, event);
  }

 protected:
  void timerEvent(QTimerEvent* event) override {
    const auto it = ticks.find(event->timerId());
    if (it == ticks.end()) return;  // a deadline: waking up was its whole job
    // A copy, because the tick may stop its own timer.
    const auto tick = it->second;
    (*tick)();
  }
};

QtEventPump::QtEventPump() : hub_(std::make_unique<Hub>()) {
  if (QCoreApplication::instance() == nullptr) {
    throw PortError("The event pump needs a QCoreApplication");
  }
  QCoreApplication::instance()->installEventFilter(hub_.get());
}

QtEventPump::~QtEventPump() {
  if (QCoreApplication::instance() != nullptr) {
    QCoreApplication::instance()->removeEventFilter(hub_.get());
  }
  for (const auto& [id, tick] : hub_->ticks) hub_->killTimer(id);
}

void QtEventPump::PumpOnce(int maxWaitMs) {
  const std::uint64_t before = hub_->delivered;
  QCoreApplication::processEvents(QEventLoop::AllEvents);
  if (maxWaitMs <= 0 || hub_->delivered != before) return;
  // Nothing was pending: sleep in the dispatcher until something arrives,
  // with a timer of our own as the deadline.
  const int deadline = hub_->startTimer(maxWaitMs, Qt::PreciseTimer);
  if (deadline == 0) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
  hub_->killTimer(deadline);
}

EventPump::TimerId QtEventPump::StartTimer(int intervalMs, std::function<void()> tick) {
  if (intervalMs <= 0) return 0;
  const int id = hub_->startTimer(intervalMs, Qt::PreciseTimer);
  if (id == 0) throw PortError("Cannot start a timer");
  hub_->ticks[id] = std::make_shared<std::function<void()>>(std::move(tick));
  return id;
}

void QtEventPump::StopTimer(TimerId id) {
  const auto it = hub_->ticks.find(id);
  if (it == hub_->ticks.end()) return;
  hub_->ticks.erase(it);
  hub_->killTimer(id);
}

}  // namespace pasotune
