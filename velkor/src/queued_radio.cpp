#include "queued_radio.hpp"

#include <utility>
#include <vector>

#include "commands.hpp"
#include "text.hpp"

namespace velkor {
namespace {

// A radio's dial and Hamlib's rounding may differ by a step; more than this did not take.
constexpr std::int64_t kFrequencySlackHz = 10;

std::size_t index(Band band) {
  return band == Band::kMain ? 0 : 1;
}

bool near(std::int64_t a, std::int64_t b) {
  return (a > b ? a - b : b - a) <= kFrequencySlackHz;
}

bool tookTone(const ToneState& wanted, const ToneState& got) {
  return wanted.on ? got.on && got.tenthsHz == wanted.tenthsHz : !got.on;
}

std::string toneHas(const ToneState& got) {
  return got.on ? "la radio se quedó en " + formatTone(got.tenthsHz)
                : std::string("la radio se quedó sin tono");
}

QueuedRadio::Options withInterval(std::chrono::milliseconds reopenInterval) {
  QueuedRadio::Options options;
  options.reopenInterval = reopenInterval;
  return options;
}

}  // namespace

QueuedRadio::QueuedRadio(std::unique_ptr<Radio> backend, Notify notify,
                         std::chrono::milliseconds reopenInterval)
    : QueuedRadio(std::move(backend), std::move(notify), withInterval(reopenInterval)) {}

QueuedRadio::QueuedRadio(std::unique_ptr<Radio> backend, Notify notify, Options options)
    : backend_(std::move(backend)), notify_(std::move(notify)), options_(std::move(options)) {
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

std::string QueuedRadio::description() const {
  std::lock_guard io(io_);
  return backend_->description();
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
  return idle_.wait_for(lock, timeout,
                        [this] { return exited_ || (!busy_ && !hasWork() && checks_.empty()); });
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

bool QueuedRadio::superseded(const Check& check) {
  return check.band ? pending_.mode[index(*check.band)].has_value() : pending_.tone.has_value();
}

void QueuedRadio::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A check waiting for the radio to settle holds new settings back, since any call now would
    // push its reading further away; a newer value for the same setting replaces it instead.
    const auto ready = [this] {
      if (stopping_ || openPending_ || closePending_) return true;
      if (checks_.empty()) return !pending_.empty();
      for (const Check& check : checks_) {
        if (superseded(check)) return true;
      }
      return false;
    };
    if (checks_.empty()) {
      // A radio that stopped answering is looked for again on its own, commands or not.
      if (linkDown_ && port_) {
        wake_.wait_until(lock, lastOpen_ + options_.reopenInterval, ready);
      } else {
        wake_.wait(lock, ready);
      }
    } else {
      wake_.wait_until(lock, lastIo_ + options_.settle, ready);
    }
    if (stopping_) break;
    if (!openPending_ && !closePending_ && !checks_.empty()) {
      std::erase_if(checks_, [this](const Check& check) { return superseded(check); });
      if (!checks_.empty()) {
        if (Clock::now() < lastIo_ + options_.settle) continue;
        const Check check = checks_.front();
        checks_.erase(checks_.begin());
        const std::string port = port_.value_or("");
        busy_ = true;
        lock.unlock();
        {
          std::lock_guard io(io_);
          runCheck(port, check);
        }
        lock.lock();
        busy_ = false;
        idle_.notify_all();
        continue;
      }
    }
    const bool asked = openPending_;
    if (linkDown_ && !asked && !closePending_) {
      // Reopening a dead radio on every command would only pile up timeouts.
      const auto due = lastOpen_ + options_.reopenInterval;
      if (Clock::now() < due) {
        wake_.wait_until(lock, due, [this] { return stopping_ || openPending_ || closePending_; });
        continue;
      }
    }
    const bool retry = linkDown_ && port_ && !asked && !closePending_;
    if (!hasWork() && !retry) continue;
    const bool reopen = asked || linkDown_;
    const bool close = closePending_;
    const std::string port = port_.value_or("");
    const Pending work = std::exchange(pending_, Pending{});
    openPending_ = closePending_ = false;
    if (close || reopen) checks_.clear();
    busy_ = true;
    lock.unlock();
    bool applied = false;
    {
      std::lock_guard io(io_);
      if (close) backend_->close();
      if (!reopen || openRadio(port, asked)) applied = apply(port, work);
    }
    lock.lock();
    // What the radio did not get while it was away waits for it, unless something newer came.
    if (!applied && port_ == port) keep(work);
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

void QueuedRadio::answerOpen(const std::string& reply, const std::string& action) {
  notify_(reply, action);
  for (const auto& line : options_.afterOpen) notify_(line, "told after the port's answer");
}

bool QueuedRadio::openRadio(const std::string& port, bool asked) {
  const Outcome outcome = backend_->open(port);
  ioDone();
  std::unique_lock lock(mutex_);
  lastOpen_ = Clock::now();
  if (outcome.ok()) {
    linkDown_ = false;
    lock.unlock();
    if (asked) {
      answerOpen(readyReply(backend_->description()), "opened " + echoText(port));
    } else {
      notify_(readyReply(backend_->description() + "; la radio contesta de nuevo"),
              "reopened " + echoText(port));
    }
    for (const auto& note : backend_->openNotes()) notify_(note, "told after the port's answer");
    return true;
  }
  if (asked && !openPending_) {
    // Like a failed SETPORT on any radio: nothing is open now.
    port_.reset();
    pending_ = {};
  }
  lock.unlock();
  if (asked) {
    answerOpen(errorReply(outcome.reason), "could not open " + echoText(port));
  } else {
    // Said once when the radio went away; the tries after that are the transcript's.
    notify_("", "could not reopen " + echoText(port) + ": " + outcome.reason);
  }
  return false;
}

void QueuedRadio::lost(const std::string& port, const std::string& what, const Outcome& outcome) {
  backend_->close();
  {
    std::lock_guard lock(mutex_);
    linkDown_ = true;
    checks_.clear();
  }
  notify_(errorReply(echoText(port) + ": la radio dejó de contestar (" + what + ": " +
                     outcome.reason +
                     "); compruebe que está encendida y el cable; Velkor la sigue buscando y, "
                     "cuando conteste, le pondrá lo último que se pidió"),
          "radio failed: " + what);
}

// What a setting's outcome means for the rest of the work; says whatever the user must know.
bool QueuedRadio::report(const std::string& port, const std::string& what, const Outcome& outcome) {
  if (outcome.ok()) return true;
  if (outcome.kind == Outcome::Kind::kRefused) {
    notify_(notDoneReply(what + ": " + outcome.reason), "radio refused: " + what);
  } else if (!outcome.linkLost) {
    notify_(errorReply(echoText(port) + ": " + what + ": " + outcome.reason),
            "radio failed: " + what);
  } else {
    lost(port, what, outcome);
  }
  return false;
}

void QueuedRadio::keep(const Pending& work) {
  for (std::size_t i = 0; i < 2; ++i) {
    if (!pending_.hz[i]) pending_.hz[i] = work.hz[i];
    if (!pending_.mode[i]) pending_.mode[i] = work.mode[i];
  }
  if (!pending_.tone) pending_.tone = work.tone;
}

bool QueuedRadio::apply(const std::string& port, const Pending& work) {
  struct Step {
    std::string what;
    std::function<Outcome()> send;
    std::function<bool()> check;  // false when the link was lost
  };
  std::vector<Step> steps;
  // Modes first: some radios move the frequency when the mode changes.
  for (Band band : {Band::kMain, Band::kSub}) {
    if (const auto mode = work.mode[index(band)]) {
      steps.push_back({modeWhat(band, *mode),
                       [this, band, mode] { return backend_->setMode(band, *mode); },
                       [this, band, mode] {
                         std::lock_guard lock(mutex_);
                         checks_.push_back({band, *mode, {}, false});
                         return true;
                       }});
    }
  }
  for (Band band : {Band::kMain, Band::kSub}) {
    if (const auto hz = work.hz[index(band)]) {
      steps.push_back({frequencyWhat(band, *hz),
                       [this, band, hz] { return backend_->setFrequency(band, *hz); },
                       [this, &port, band, hz] { return checkFrequency(port, band, *hz); }});
    }
  }
  if (const auto tone = work.tone) {
    steps.push_back({toneWhat(*tone),
                     [this, tone] {
                       return tone->on ? backend_->setTone(tone->tenthsHz) : backend_->toneOff();
                     },
                     [this, tone] {
                       std::lock_guard lock(mutex_);
                       checks_.push_back({std::nullopt, Mode::kUsb, *tone, false});
                       return true;
                     }});
  }
  for (const Step& step : steps) {
    const Outcome outcome = step.send();
    ioDone();
    if (report(port, step.what, outcome)) {
      if (options_.readBack && !step.check()) return false;
      continue;
    }
    if (outcome.linkLost) return false;
  }
  return true;
}

bool QueuedRadio::checkFrequency(const std::string& port, Band band, std::int64_t hz) {
  auto got = backend_->frequency(band);
  ioDone();
  if (!got || near(*got, hz)) return true;
  {
    std::lock_guard lock(mutex_);
    if (pending_.hz[index(band)]) return true;
  }
  const std::string what = frequencyWhat(band, hz);
  const Outcome again = backend_->setFrequency(band, hz);
  ioDone();
  if (!report(port, what, again)) return !again.linkLost;
  got = backend_->frequency(band);
  ioDone();
  if (!got || near(*got, hz)) return true;
  notify_(notDoneReply(what + ": la radio se quedó en " + formatHz(*got)),
          "radio kept " + formatHz(*got) + ": " + what);
  return true;
}

void QueuedRadio::runCheck(const std::string& port, Check check) {
  std::string what;
  std::string has;
  if (check.band) {
    const Band band = *check.band;
    const auto got = backend_->mode(band);
    ioDone();
    if (!got || sameMode(*got, check.mode)) return;
    what = modeWhat(band, check.mode);
    has = "la radio se quedó en " + std::string(modeName(*got));
  } else {
    const auto got = backend_->tone();
    ioDone();
    if (!got || tookTone(check.tone, *got)) return;
    what = toneWhat(check.tone);
    has = toneHas(*got);
  }
  if (check.retried) {
    notify_(notDoneReply(what + ": " + has), "radio kept what it had: " + what);
    return;
  }
  {
    std::lock_guard lock(mutex_);
    if (superseded(check)) return;
  }
  const Outcome again =
      check.band ? backend_->setMode(*check.band, check.mode)
                 : (check.tone.on ? backend_->setTone(check.tone.tenthsHz) : backend_->toneOff());
  ioDone();
  if (!report(port, what, again)) return;
  check.retried = true;
  std::lock_guard lock(mutex_);
  checks_.push_back(check);
}

}  // namespace velkor
