// The whole Windows program: the Win32 adapters, the core and the window.
#pragma once

#include <string>

#include "app/pasotune.hpp"
#include "platform/std_files.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "platform/win32/win32_message_box.hpp"
#include "platform/win32/win32_processes.hpp"
#include "platform/win32/win32_system.hpp"
#include "platform/win32/winsock_tcp_client.hpp"
#include "view/win32/win32_form1_view.hpp"

namespace pasotune {

class Program {
 public:
  // What a driver may put in place of the real thing.
  struct Options {
    std::string programFolder;         // empty: the executable's folder
    ProgramEnd* programEnd = nullptr;  // null: end the process on the spot
    MessageBox* messages = nullptr;    // null: the system's message boxes
  };

  // In the thread that runs the window.
  Program() : Program(Options{}) {}
  explicit Program(const Options& options);
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // The window's load event, then the window shown centred.
  void Start();
  // Handles events until the window is gone; the exit status. The program
  // normally ends inside, through ProgramEnd, after a confirmed close.
  int Run();

  Pasotune& App() { return app_; }
  Win32Form1View& View() { return view_; }
  Win32EventPump& Pump() { return pump_; }

  // Events that fail this many times in a row within kFailureWindowMs, with
  // nothing handled in between, end the program instead of spinning.
  static constexpr int kMaxFailuresInARow = 100;
  static constexpr unsigned kFailureWindowMs = 1000;

 private:
  Win32Clock clock_;
  Win32EventPump pump_;
  WinsockTcpClient tcp_;
  DdeTrackerLink tracker_;
  Win32Processes processes_;
  StdFiles files_;
  Win32MessageBox messages_;
  Win32ProgramEnd exit_;
  Platform platform_;
  Pasotune app_;
  Win32Form1View view_;
};

}  // namespace pasotune
