// Stands in for Velkor.exe on the TCP side: accepts the program's
// connection, answers SETPORT with "Velkor READY", and notes when each
// command line arrived. Runs on a thread of its own with plain sockets, so
// arrival times do not depend on the event loop being measured.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "common/heard_lines.hpp"

namespace pasotune::bench {

class FakeEngine {
 public:
  using Line = HeardLines::Line;

  FakeEngine() = default;
  ~FakeEngine();
  FakeEngine(const FakeEngine&) = delete;
  FakeEngine& operator=(const FakeEngine&) = delete;

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
  double CpuSeconds() const;

 private:
  void Serve();

  int listen_ = -1;
  int wake_[2] = {-1, -1};
  std::thread thread_;
  HeardLines heard_;
};

}  // namespace pasotune::bench
