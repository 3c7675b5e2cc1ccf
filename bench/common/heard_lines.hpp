// The lines a stand-in engine hears, each with the moment it arrived: cut
// from the bytes its serving thread reads, taken in order by the benchmark.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pasotune::bench {

using SteadyClock = std::chrono::steady_clock;

class HeardLines {
 public:
  struct Line {
    std::string text;  // without CR LF
    SteadyClock::time_point at;
  };

  // From the serving thread: bytes read at `at`. Every whole line goes to
  // answer (to reply as the engine would) and is then noted; how many were.
  std::size_t Feed(std::string_view bytes, SteadyClock::time_point at,
                   const std::function<void(const std::string&)>& answer) {
    partial_.append(bytes);
    std::size_t added = 0;
    for (std::size_t end; (end = partial_.find("\r\n")) != std::string::npos; ++added) {
      std::string line = partial_.substr(0, end);
      partial_.erase(0, end + 2);
      answer(line);
      {
        const std::lock_guard lock(mutex_);
        lines_.push_back({std::move(line), at});
      }
      arrived_.notify_all();
    }
    return added;
  }
  // From the serving thread: a new connection starts with no partial line.
  void NewConnection() { partial_.clear(); }

  // The next line after the last one taken that matches, waiting until the
  // deadline at most.
  std::optional<Line> Next(const std::function<bool(const std::string&)>& match,
                           SteadyClock::time_point deadline) {
    std::unique_lock lock(mutex_);
    for (;;) {
      for (; taken_ < lines_.size(); ++taken_) {
        if (match(lines_[taken_].text)) return lines_[taken_++];
      }
      if (arrived_.wait_until(lock, deadline) == std::cv_status::timeout &&
          taken_ == lines_.size()) {
        return std::nullopt;
      }
    }
  }
  // Takes every line that arrived so far.
  void SkipAll() {
    const std::lock_guard lock(mutex_);
    taken_ = lines_.size();
  }
  std::size_t Count() {
    const std::lock_guard lock(mutex_);
    return lines_.size();
  }

 private:
  std::string partial_;  // the serving thread's alone
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<Line> lines_;
  std::size_t taken_ = 0;
};

}  // namespace pasotune::bench
