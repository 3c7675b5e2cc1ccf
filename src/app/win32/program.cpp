#include "app/win32/program.hpp"

#include <cstdio>
#include <exception>
#include <utility>

#include "view/win32/windows_api.hpp"

namespace pasotune {

Program::Program(const Options& options)
    : files_(options.programFolder.empty() ? ModuleFolder() : options.programFolder),
      platform_{clock_,
                pump_,
                tcp_,
                tracker_,
                processes_,
                files_,
                options.messages ? *options.messages : messages_,
                options.programEnd ? *options.programEnd : exit_,
                SystemDecimalSeparator(),
                '\\'},
      app_(platform_),
      view_(app_.form) {
  messages_.SetOwner(view_.Handle());
  // The window goes only once its close was let through; the loop ends then.
  view_.destroyed = [] { PostQuitMessage(0); };
}

void Program::Start() {
  app_.Load();
  view_.ShowCentred();
}

int Program::Run() {
  int failures = 0;
  ULONGLONG firstFailure = 0;
  while (!pump_.QuitPosted()) {
    try {
      pump_.PumpOnce(60 * 60 * 1000);
      // The window holds what its handlers threw for whoever dispatched.
      if (std::exception_ptr held = std::exchange(win32view::HeldException(), nullptr)) {
        std::rethrow_exception(held);
      }
      failures = 0;
    } catch (const std::exception& e) {
      // A handler that failed stops where it failed; the rest of the
      // program carries on, as it does after any event. Only failures
      // that come back at once, over and over, end it rather than spin.
      std::fprintf(stderr, "pasotune: %s\n", e.what());
      const ULONGLONG now = GetTickCount64();
      if (failures == 0 || now - firstFailure > kFailureWindowMs) {
        failures = 0;
        firstFailure = now;
      }
      if (++failures == kMaxFailuresInARow) return 1;
    }
  }
  return pump_.QuitCode();
}

}  // namespace pasotune
