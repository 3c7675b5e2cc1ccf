// Requests to end the program that come from outside the window: SIGTERM,
// SIGHUP and SIGINT, and the desktop session's end. Each becomes the
// window's own close request, so it asks the exit question like the close
// box and, on Yes, saves the settings and stops the engine.
#pragma once

#include <QObject>
#include <csignal>
#include <functional>

class QSessionManager;
class QSocketNotifier;

namespace pasotune {

class OutsideClose : public QObject {
 public:
  // close: makes the close request; true when the window closed. Needs a
  // QGuiApplication. Takes the three signals until destroyed.
  explicit OutsideClose(std::function<bool()> close);
  ~OutsideClose() override;
  OutsideClose(const OutsideClose&) = delete;
  OutsideClose& operator=(const OutsideClose&) = delete;

 private:
  void SignalArrived();
  void SessionEnding(QSessionManager& manager);

  std::function<bool()> close_;
  int pipe_[2] = {-1, -1};
  QSocketNotifier* notifier_ = nullptr;
  struct Taken {
    int signal;
    struct sigaction previous;
  };
  Taken taken_[3] = {{SIGTERM, {}}, {SIGHUP, {}}, {SIGINT, {}}};
  bool installed_ = false;
};

}  // namespace pasotune
