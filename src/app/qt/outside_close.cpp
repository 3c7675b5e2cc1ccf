#include "app/qt/outside_close.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QSessionManager>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace pasotune {

namespace {

// The write end of the pipe, for the signal handler.
volatile std::sig_atomic_t gSignalPipe = -1;

// Only notes the signal; the close request runs from the event loop.
extern "C" void NoteSignal(int signal) {
  const int saved = errno;
  const unsigned char byte = static_cast<unsigned char>(signal);
  // A full pipe already holds a request.
  if (::write(gSignalPipe, &byte, 1) < 0) {
  }
  errno = saved;
}

}  // namespace

OutsideClose::OutsideClose(std::function<bool()> close) : close_(std::move(close)) {
#ifndef QT_NO_SESSIONMANAGER
  connect(qGuiApp, &QGuiApplication::commitDataRequest, this, &OutsideClose::SessionEnding,
          Qt::DirectConnection);
#endif
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "pasotune: no pipe for signals (%s); SIGTERM ends the program unasked\n",
                 std::strerror(errno));
    pipe_[0] = pipe_[1] = -1;
    return;
  }
  notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, &OutsideClose::SignalArrived);
  gSignalPipe = pipe_[1];
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (Taken& t : taken_) sigaction(t.signal, &action, &t.previous);
  installed_ = true;
}

OutsideClose::~OutsideClose() {
  if (installed_) {
    for (const Taken& t : taken_) sigaction(t.signal, &t.previous, nullptr);
    gSignalPipe = -1;
  }
  delete notifier_;
  for (const int fd : pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void OutsideClose::SignalArrived() {
  // Emptied first: the request pumps events, and a pipe left readable would
  // wake the loop again and again.
  unsigned char bytes[64];
  while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  close_();
}

void OutsideClose::SessionEnding(QSessionManager& manager) {
  // The question needs the session manager's leave to ask. Without it the
  // program closes later, when the session ends it (Qt then closes the
  // window, or a SIGTERM comes).
  if (!manager.allowsInteraction()) return;
  // No keeps the session going, as it keeps the window.
  if (!close_()) manager.cancel();
}

}  // namespace pasotune
