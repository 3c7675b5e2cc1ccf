#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "radio.hpp"

namespace velkor {

// Runs a radio whose I/O can block for seconds on a thread of its own, so the TCP side never
// waits for it. Only the newest frequency and mode per band and the newest tone state are kept:
// a slow radio never builds a backlog and always ends on the newest values. Results that come
// later (READY after SETPORT, radio failures) are handed to notify, from the worker thread.
//
// A radio that stops answering is closed; the next command reopens it, at most once per
// reopenInterval.
class QueuedRadio : public Radio {
 public:
  using Notify = std::function<void(const std::string& reply, const std::string& action)>;

  QueuedRadio(std::unique_ptr<Radio> backend, Notify notify,
              std::chrono::milliseconds reopenInterval = std::chrono::seconds(1));
  QueuedRadio(const QueuedRadio&) = delete;
  QueuedRadio& operator=(const QueuedRadio&) = delete;
  ~QueuedRadio() override;

  Outcome open(const std::string& port) override;
  void close() override;
  Outcome setFrequency(Band band, std::int64_t hz) override;
  Outcome setMode(Band band, Mode mode) override;
  Outcome setTone(int tenthsHz) override;
  Outcome toneOff() override;

  // These wait for the radio's current I/O to finish.
  std::optional<std::int64_t> frequency(Band band) override;
  std::optional<Mode> mode(Band band) override;
  std::optional<ToneState> tone() override;

  // True once everything queued has been sent.
  bool waitIdle(std::chrono::milliseconds timeout);
  // Stops the worker and closes the radio. False when the radio still holds the worker after
  // patience; the caller then has to leave without it.
  bool shutdown(std::chrono::milliseconds patience);

 private:
  struct Pending {
    std::array<std::optional<std::int64_t>, 2> hz;
    std::array<std::optional<Mode>, 2> mode;
    std::optional<ToneState> tone;
    bool empty() const { return !hz[0] && !hz[1] && !mode[0] && !mode[1] && !tone; }
  };

  Outcome queue(const std::function<void(Pending&)>& change);
  bool hasWork() const { return openPending_ || closePending_ || !pending_.empty(); }
  void run();
  // Returns false when the radio is gone and the rest of the work must be dropped.
  bool openRadio(const std::string& port, bool asked);
  void apply(const std::string& port, const Pending& work);

  std::unique_ptr<Radio> backend_;
  Notify notify_;
  const std::chrono::milliseconds reopenInterval_;

  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable idle_;
  std::optional<std::string> port_;  // the port the client asked for
  bool openPending_ = false;
  bool closePending_ = false;
  bool linkDown_ = false;
  bool busy_ = false;
  bool stopping_ = false;
  bool exited_ = false;
  std::chrono::steady_clock::time_point lastOpen_{};
  Pending pending_;

  std::mutex io_;  // held around every call into the backend
  std::thread worker_;
};

}  // namespace velkor
