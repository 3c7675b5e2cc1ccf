#include "queued_radio.hpp"

#include <utility>
#include <vector>

#include "commands.hpp"
#include "text.hpp"

namespace velkor {
namespace {

std::size_t index(Band band) {
  return band == Band::kMain ? 0 : 1;
}

}  // namespace

QueuedRadio::QueuedRadio(std::unique_ptr<Radio> backend, Notify notify,
                         std::chrono::milliseconds reopenInterval)
    : backend_(std::move(backend)), notify_(std::move(notify)), reopenInterval_(reopenInterval) {
  worker_ = std::thread([this] { run(); });
}

QueuedRadio::~QueuedRadio() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (worker_.joinable()) worker_.join();
}

Outcome QueuedRadio::open(const std::string& port) {
  {
    std::lock_guard lock(mutex_);
    port_ = port;
    openPending_ = true;
    closePending_ = false;
    linkDown_ = false;
  }
  wake_.notify_all();
  return Outcome::queued();
}

void QueuedRadio::close() {
  {
    std::lock_guard lock(mutex_);
    port_.reset();
    pending_ = {};
    openPending_ = false;
    closePending_ = true;
    linkDown_ = false;
  }
  wake_.notify_all();
}

Outcome QueuedRadio::queue(const std::function<void(Pending&)>& change) {
  {
    std::lock_guard lock(mutex_);
    if (!port_) return Outcome::failed(std::string(kNoPortOpen));
    change(pending_);
  }
  wake_.notify_all();
  return Outcome::queued();
}

Outcome QueuedRadio::setFrequency(Band band, std::int64_t hz) {
  return queue([&](Pending& p) { p.hz[index(band)] = hz; });
}

Outcome QueuedRadio::setMode(Band band, Mode mode) {
  return queue([&](Pending& p) { p.mode[index(band)] = mode; });
}

Outcome QueuedRadio::setTone(int tenthsHz) {
  return queue([&](Pending& p) { p.tone = ToneState{true, tenthsHz}; });
}

Outcome QueuedRadio::toneOff() {
  return queue([&](Pending& p) { p.tone = ToneState{false, 0}; });
}

std::optional<std::int64_t> QueuedRadio::frequency(Band band) {
  std::lock_guard io(io_);
  return backend_->frequency(band);
}

std::optional<Mode> QueuedRadio::mode(Band band) {
  std::lock_guard io(io_);
  return backend_->mode(band);
}

std::optional<ToneState> QueuedRadio::tone() {
  std::lock_guard io(io_);
  return backend_->tone();
}

bool QueuedRadio::waitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return idle_.wait_for(lock, timeout, [this] { return exited_ || (!busy_ && !hasWork()); });
}

bool QueuedRadio::shutdown(std::chrono::milliseconds patience) {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  if (!idle_.wait_for(lock, patience, [this] { return exited_; })) return false;
  lock.unlock();
  if (worker_.joinable()) worker_.join();
  return true;
}

void QueuedRadio::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    wake_.wait(lock, [this] { return stopping_ || hasWork(); });
    if (stopping_) break;
    const bool asked = openPending_;
    if (linkDown_ && !asked && !closePending_) {
      // Reopening a dead radio on every command would only pile up timeouts.
      const auto due = lastOpen_ + reopenInterval_;
      if (std::chrono::steady_clock::now() < due) {
        wake_.wait_until(lock, due, [this] { return stopping_ || openPending_ || closePending_; });
        continue;
      }
    }
    const bool reopen = asked || linkDown_;
    const bool close = closePending_;
    const std::string port = port_.value_or("");
    const Pending work = std::exchange(pending_, Pending{});
    openPending_ = closePending_ = false;
    busy_ = true;
    lock.unlock();
    {
      std::lock_guard io(io_);
      if (close) backend_->close();
      if (!reopen || openRadio(port, asked)) apply(port, work);
    }
    lock.lock();
    busy_ = false;
    idle_.notify_all();
  }
  lock.unlock();
  {
    std::lock_guard io(io_);
    backend_->close();
  }
  lock.lock();
  exited_ = true;
  idle_.notify_all();
}

bool QueuedRadio::openRadio(const std::string& port, bool asked) {
  const Outcome outcome = backend_->open(port);
  std::unique_lock lock(mutex_);
  lastOpen_ = std::chrono::steady_clock::now();
  if (outcome.ok()) {
    linkDown_ = false;
    lock.unlock();
    if (asked) {
      notify_(std::string(kReadyReply), "opened " + echoText(port));
    } else {
      notify_("", "reopened " + echoText(port));
    }
    return true;
  }
  if (asked && !openPending_) {
    // Like a failed SETPORT on any radio: nothing is open now.
    port_.reset();
    pending_ = {};
  }
  lock.unlock();
  if (asked) {
    notify_(errorReply(outcome.reason), "could not open " + echoText(port));
  } else {
    notify_(errorReply("radio on " + echoText(port) + " still not answering: " + outcome.reason +
                       "; trying again on the next command"),
            "could not reopen " + echoText(port));
  }
  return false;
}

void QueuedRadio::apply(const std::string& port, const Pending& work) {
  struct Step {
    std::string what;
    std::function<Outcome()> send;
  };
  std::vector<Step> steps;
  // Modes first: some radios move the frequency when the mode changes.
  for (Band band : {Band::kMain, Band::kSub}) {
    if (const auto mode = work.mode[index(band)]) {
      steps.push_back({std::string(bandName(band)) + " mode " + std::string(modeName(*mode)),
                       [this, band, mode] { return backend_->setMode(band, *mode); }});
    }
  }
  for (Band band : {Band::kMain, Band::kSub}) {
    if (const auto hz = work.hz[index(band)]) {
      steps.push_back({std::string(bandName(band)) + " frequency " + formatHz(*hz),
                       [this, band, hz] { return backend_->setFrequency(band, *hz); }});
    }
  }
  if (const auto tone = work.tone) {
    if (tone->on) {
      steps.push_back({"tone " + formatTone(tone->tenthsHz) + " on",
                       [this, tone] { return backend_->setTone(tone->tenthsHz); }});
    } else {
      steps.push_back({"tone off", [this] { return backend_->toneOff(); }});
    }
  }
  for (const Step& step : steps) {
    const Outcome outcome = step.send();
    if (outcome.ok()) continue;
    if (outcome.kind == Outcome::Kind::kRefused) {
      notify_(notDoneReply(step.what + ": " + outcome.reason), "radio refused: " + step.what);
      continue;
    }
    if (!outcome.linkLost) {
      notify_(errorReply(outcome.reason), "radio failed: " + step.what);
      continue;
    }
    backend_->close();
    {
      std::lock_guard lock(mutex_);
      linkDown_ = true;
    }
    notify_(errorReply("radio on " + echoText(port) + " not answering (" + outcome.reason +
                       "); closed it, will reopen on the next command"),
            "radio failed: " + step.what);
    return;
  }
}

}  // namespace velkor
