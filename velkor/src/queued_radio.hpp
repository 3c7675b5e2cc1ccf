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
#include <vector>

#include "radio.hpp"

namespace velkor {

// Runs a radio whose I/O can block for seconds on a thread of its own, so the TCP side never
// waits for it. Only the newest frequency and mode per band and the newest tone state are kept:
// a slow radio never builds a backlog and always ends on the newest values. Results that come
// later (READY after SETPORT, radio failures, a value the radio did not take) are handed to
// notify, from the worker thread.
//
// Every setting is read back where the radio can report it; one that did not take is set once
// more, and if it still did not, one NOT DONE line says what the radio has.
//
// A radio that stops answering is closed and said once; it is then reopened every
// reopenInterval, silently, until it answers, which one ready line says; the newest value of each
// setting asked meanwhile is kept for it.
class QueuedRadio : public Radio {
 public:
  using Notify = std::function<void(const std::string& reply, const std::string& action)>;
  using Clock = std::chrono::steady_clock;

  struct Options {
    std::chrono::milliseconds reopenInterval = std::chrono::seconds(1);
    bool readBack = true;
    // Hamlib keeps a Kenwood's status answer for half a second and shares it between VFOs: a
    // mode or tone read sooner after any call to the radio may report what it had before.
    std::chrono::milliseconds settle = std::chrono::milliseconds(550);
    // Said after every answer to SETPORT.
    std::vector<std::string> afterOpen;
  };

  QueuedRadio(std::unique_ptr<Radio> backend, Notify notify,
              std::chrono::milliseconds reopenInterval = std::chrono::seconds(1));
  QueuedRadio(std::unique_ptr<Radio> backend, Notify notify, Options options);
  QueuedRadio(const QueuedRadio&) = delete;
  QueuedRadio& operator=(const QueuedRadio&) = delete;
  ~QueuedRadio() override;

  Outcome open(const std::string& port) override;
  void close() override;
  Outcome setFrequency(Band band, std::int64_t hz) override;
  Outcome setMode(Band band, Mode mode) override;
  Outcome setTone(int tenthsHz) override;
  Outcome toneOff() override;
  std::string description() const override;

  // These wait for the radio's current I/O to finish.
  std::optional<std::int64_t> frequency(Band band) override;
  std::optional<Mode> mode(Band band) override;
  std::optional<ToneState> tone() override;

  // True once everything queued has been sent and checked.
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
  // A mode or tone that waits for the radio to settle before it is read back.
  struct Check {
    std::optional<Band> band;  // empty: the tone
    Mode mode = Mode::kUsb;
    ToneState tone;
    bool retried = false;
  };

  Outcome queue(const std::function<void(Pending&)>& change);
  bool hasWork() const { return openPending_ || closePending_ || !pending_.empty(); }
  void run();
  // Returns false when the radio is gone and the rest of the work must be dropped.
  bool openRadio(const std::string& port, bool asked);
  // False when the link was lost on the way.
  bool apply(const std::string& port, const Pending& work);
  // Puts back what work holds that nothing newer replaced (mutex_ held).
  void keep(const Pending& work);
  // Reads one setting back, setting it once more if it did not take; false when the link was
  // lost.
  bool checkFrequency(const std::string& port, Band band, std::int64_t hz);
  void runCheck(const std::string& port, Check check);
  // The link to the radio is gone: closed, said once, reopened on the next command.
  void lost(const std::string& port, const std::string& what, const Outcome& outcome);
  bool report(const std::string& port, const std::string& what, const Outcome& outcome);
  bool superseded(const Check& check);
  void answerOpen(const std::string& reply, const std::string& action);
  void ioDone() { lastIo_ = Clock::now(); }

  std::unique_ptr<Radio> backend_;
  Notify notify_;
  const Options options_;

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
  Clock::time_point lastOpen_{};
  Pending pending_;
  // Worker only, but read under mutex_ by waitIdle.
  std::vector<Check> checks_;
  Clock::time_point lastIo_{};

  mutable std::mutex io_;  // held around every call into the backend
  std::thread worker_;
};

}  // namespace velkor
