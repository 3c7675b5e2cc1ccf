// Waiting on the thread's message queue, always with a deadline, and the
// Windows pasotune-feed as a child process of the test.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/win32/dde/windows.hpp"

namespace pasotune::test {

using Clock = std::chrono::steady_clock;

inline double MsSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

// Dispatches the thread's messages until done() holds or timeoutMs passes;
// tells whether it held. done() is asked again on every message, and when
// wakeOn, if given, is signalled.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 5000, HANDLE wakeOn = nullptr);
void PumpFor(int ms);

// pasotune-feed.exe from beside the test, with its standard input on one
// pipe and its standard output and error on another. Ended by its own
// handle when the test is done with it.
class Feed {
 public:
  Feed() = default;
  ~Feed();
  Feed(const Feed&) = delete;
  Feed& operator=(const Feed&) = delete;

  bool Start(const std::vector<std::wstring>& args);
  // The next line it prints (UTF-8, without the line end), pumping while
  // waiting; empty after timeoutMs.
  std::string NextLine(int timeoutMs = 10000);
  void Write(std::string_view bytes);
  void CloseInput();
  // Asks it to end, as Ctrl-C would.
  void Quit();
  void Kill();
  // Its exit code, pumping while waiting; -1 when still running.
  long WaitForExit(int timeoutMs = 10000);
  bool Running() const;

 private:
  // Filled by a reader thread that ends with the pipe, whenever that is:
  // a test never waits for it.
  struct Output {
    std::mutex mutex;
    std::vector<std::string> lines;
  };

  PROCESS_INFORMATION process_{};
  HANDLE input_ = nullptr;
  std::shared_ptr<Output> output_ = std::make_shared<Output>();
};

// One argument on a Windows command line, quoted as the C runtime reads it.
std::wstring Quoted(const std::wstring& arg);

}  // namespace pasotune::test
