// The whole program: the production adapters, the core and the window.
#pragma once

#include <string>

#include "app/pasotune.hpp"
#include "app/qt/outside_close.hpp"
#include "platform/posix/exit_program_end.hpp"
#include "platform/posix/posix_processes.hpp"
#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_clock.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "platform/qt/qt_tcp_client.hpp"
#include "platform/std_files.hpp"
#include "view/qt/form1_view.hpp"
#include "view/qt/qt_message_box.hpp"

namespace pasotune {

class Program {
 public:
  // What a driver may put in place of the real thing.
  struct Options {
    std::string programFolder;         // empty: the executable's folder
    ProgramEnd* programEnd = nullptr;  // null: end the process on the spot
    MessageBox* messages = nullptr;    // null: Qt message boxes
  };

  // Needs a QApplication.
  Program() : Program(Options{}) {}
  explicit Program(const Options& options);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The window's load event, then the window shown centred.
  void Start();

  Pasotune& App() { return app_; }
  Form1View& View() { return view_; }

 private:
  QtClock clock_;
  QtEventPump pump_;
  QtTcpClient tcp_;
  DBusTrackerLink tracker_;
  PosixProcesses processes_;
  StdFiles files_;
  QtMessageBox messages_;
  ExitProgramEnd exit_;
  Platform platform_;
  Pasotune app_;
  Form1View view_;
  OutsideClose outside_;
};

}  // namespace pasotune
