// Stands in for Velkor.exe on the TCP side, on Winsock: accepts the
// program's connection, answers SETPORT with "Velkor READY", and notes when
// each command line arrived. A thread of its own, so arrival times do not
// depend on the message queue being measured.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/heard_lines.hpp"
#include "platform/win32/win32_api.hpp"

namespace pasotune::bench {

class StandInEngine {
 public:
  using Line = HeardLines::Line;

  StandInEngine() = default;
  ~StandInEngine();
  StandInEngine(const StandInEngine&) = delete;
  StandInEngine& operator=(const StandInEngine&) = delete;

  // Listens on 127.0.0.1:port and starts serving; empty or why not.
  std::string Start(int port);
  void Stop();

  // The next line after the last one taken that matches, waiting until the
  // deadline at most.
  std::optional<Line> Next(const std::function<bool(const std::string&)>& match,
                           SteadyClock::time_point deadline) {
    return heard_.Next(match, deadline);
  }
  // Takes every line that arrived so far.
  void SkipAll() { heard_.SkipAll(); }
  std::size_t LineCount() { return heard_.Count(); }
  // CPU time of the engine's thread so far, in seconds.
  double CpuSeconds();
  // Set whenever a line arrives, for a thread that must pump its own queue
  // while it waits (auto-reset).
  HANDLE Arrived() const { return arrivedEvent_; }

 private:
  void Serve();

  SOCKET listen_ = INVALID_SOCKET;
  HANDLE stop_ = nullptr;
  HANDLE arrivedEvent_ = nullptr;
  std::thread thread_;
  HeardLines heard_;
  HANDLE self_ = nullptr;  // the serving thread
  bool winsock_ = false;
};

}  // namespace pasotune::bench
