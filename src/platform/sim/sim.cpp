#include "platform/sim/sim.hpp"

#include <cmath>
#include <memory>

#include "platform/text.hpp"

namespace pasotune::sim {

// ---- Loop ----

double Loop::SecondsSinceMidnight() {
  return std::fmod(dayOffsetMs_ + now_, kDayMs) / 1000.0;
}

void Loop::After(double delayMs, std::function<void()> fn) {
  At(now_ + delayMs, std::move(fn));
}

void Loop::At(double atMs, std::function<void()> fn) {
  queue_.emplace(Key{atMs < now_ ? now_ : atMs, seq_++}, std::move(fn));
}

bool Loop::RunDue() {
  bool ran = false;
  while (!stopped_ && !queue_.empty() && queue_.begin()->first.first <= now_) {
    auto node = queue_.extract(queue_.begin());
    ran = true;
    node.mapped()();
  }
  return ran;
}

void Loop::PumpOnce(int maxWaitMs) {
  ++pumps_;
  // After the end nothing may run; a pause still waiting unwinds as well.
  if (stopped_) throw Ended{};
  if (RunDue()) return;
  const double deadline = now_ + (maxWaitMs > 0 ? maxWaitMs : 0);
  if (!queue_.empty() && queue_.begin()->first.first <= deadline) {
    now_ = queue_.begin()->first.first;
    RunDue();
  } else {
    now_ = deadline;
  }
}

void Loop::RunFor(double ms) {
  const double end = now_ + ms;
  while (!stopped_ && now_ < end) {
    PumpOnce(static_cast<int>(std::ceil(end - now_)));
  }
}

void Loop::RunUntilIdle(double limitMs) {
  const double end = now_ + limitMs;
  while (!stopped_ && !queue_.empty() && now_ < end) {
    PumpOnce(static_cast<int>(std::ceil(end - now_)));
  }
}

EventPump::TimerId Loop::StartTimer(int intervalMs, std::function<void()> tick) {
  const TimerId id = nextTimer_++;
  timers_[id] = intervalMs;
  auto shared = std::make_shared<std::function<void()>>(std::move(tick));
  // Each tick schedules the next before it runs, so a tick handler that
  // pauses does not delay the timer.
  struct Ticker {
    Loop* loop;
    TimerId id;
    std::shared_ptr<std::function<void()>> fn;
    void operator()() const {
      auto it = loop->timers_.find(id);
      if (it == loop->timers_.end()) return;
      loop->At(loop->now_ + it->second, *this);
      (*fn)();
    }
  };
  At(now_ + intervalMs, Ticker{this, id, shared});
  return id;
}

void Loop::StopTimer(TimerId id) {
  timers_.erase(id);
}

// ---- Peer ----

std::vector<std::string> Peer::LineTexts() const {
  std::vector<std::string> out;
  for (const auto& l : lines_) out.push_back(l.bytes);
  return out;
}

void Peer::Reply(std::string bytes) {
  if (!client_) return;
  loop_.After(replyLatencyMs, [client = client_, id = client_->ConnectionId(),
                               bytes = std::move(bytes)] { client->Deliver(id, bytes); });
}

void Peer::Hangup() {
  if (!client_) return;
  TcpClient* client = client_;
  client_ = nullptr;
  loop_.After(replyLatencyMs, [client, id = client->ConnectionId()] { client->PeerClosed(id); });
}

// ---- TcpClient ----

void TcpClient::Connect(const std::string& host, int port) {
  if (state_ != sck::kClosed) throw PortError("Estado de conexión incorrecto");
  ++connects_;
  state_ = sck::kConnecting;
  const std::uint64_t attempt = ++attempt_;
  const bool reachable = host == "127.0.0.1" && port == 9000;
  loop_.After(peer_.connectLatencyMs, [this, attempt, reachable] {
    if (attempt != attempt_ || state_ != sck::kConnecting) return;
    if (reachable && peer_.foreignHolder) {
      state_ = sck::kError;
      RaiseError(sck::kForeignHolder, *peer_.foreignHolder);
    } else if (reachable && peer_.Listening()) {
      state_ = sck::kConnected;
      peer_.client_ = this;
      ++peer_.accepted_;
      RaiseConnected();
    } else if (peer_.refuse) {
      state_ = sck::kError;
      RaiseError(10061, "Connection is forcefully rejected");
    }
  });
}

void TcpClient::Close() {
  ++attempt_;
  state_ = sck::kClosed;
  inbox_.clear();
  if (peer_.client_ == this) peer_.client_ = nullptr;
}

void TcpClient::SendData(std::string_view text) {
  if (state_ != sck::kConnected) throw PortError("Estado de conexión incorrecto");
  ++peer_.sendCalls_;
  if (peer_.failNextSend) {
    std::string why = *peer_.failNextSend;
    peer_.failNextSend.reset();
    throw PortError(why);
  }
  const std::string bytes = Utf8ToCp1252(text);
  peer_.received_ += bytes;
  peer_.partial_ += bytes;
  std::size_t pos;
  while ((pos = peer_.partial_.find("\r\n")) != std::string::npos) {
    std::string line = peer_.partial_.substr(0, pos);
    peer_.partial_.erase(0, pos + 2);
    peer_.lines_.push_back({line, loop_.Now()});
    if (peer_.onLine) peer_.onLine(line);
  }
}

std::string TcpClient::GetData() {
  if (failNextGetData) {
    std::string why = *failNextGetData;
    failNextGetData.reset();
    throw PortError(why);
  }
  std::string text = Cp1252ToUtf8(inbox_);
  inbox_.clear();
  return text;
}

void TcpClient::Deliver(std::uint64_t connection, const std::string& bytes) {
  if (connection != attempt_ || state_ != sck::kConnected || bytes.empty()) return;
  // Like a socket's read readiness: one event until the data is taken.
  const bool announce = inbox_.empty();
  inbox_ += bytes;
  if (announce) RaiseDataArrival(static_cast<long>(inbox_.size()));
}

void TcpClient::PeerClosed(std::uint64_t connection) {
  if (connection != attempt_ || state_ != sck::kConnected) return;
  state_ = sck::kClosing;
  RaiseClosed();
}

// ---- Tracker ----

void Tracker::Open(const std::string& s, const std::string& t, const std::string& i,
                   Update onUpdate) {
  Close();
  service = s;
  topic = t;
  item = i;
  following_ = true;
  subscriber_ = std::move(onUpdate);
  if (!running) throw PortError("No tracker is running");
  ++opens_;
  linked_ = true;
  if (hasValue_) Publish(value_);
}

void Tracker::Close() {
  subscriber_ = nullptr;
  following_ = false;
  linked_ = false;
  ++generation_;
}

void Tracker::Later(std::function<void()> fn) {
  loop_.After(latencyMs, [this, gen = generation_, fn = std::move(fn)] {
    if (gen == generation_) fn();
  });
}

void Tracker::Publish(std::string text) {
  value_ = text;
  hasValue_ = true;
  if (!linked_) return;
  Later([this, text = std::move(text)] {
    if (const Update update = subscriber_) update(text);
  });
}

void Tracker::Start() {
  running = true;
  if (!following_ || linked_) return;
  linked_ = true;
  Later([this] { RaisePresence(true); });
  if (hasValue_) Publish(value_);
}

void Tracker::Stop() {
  running = false;
  if (!linked_) return;
  linked_ = false;
  Later([this] { RaisePresence(false); });
}

// ---- Processes ----

void Processes::Start(const std::string& path) {
  calls.push_back({"start", path, loop_.Now()});
  if (failStart) throw PortError(*failStart);
  ++running_;
  if (!listenAfterMs) return;
  loop_.After(*listenAfterMs, [this, gen = generation_] {
    if (gen == generation_) peer_.SetListening(true);
  });
}

void Processes::EndByImageName(const std::string& imageName) {
  calls.push_back({"end", imageName, loop_.Now()});
  if (imageName != "Velkor.exe") return;
  EndAll("por la señal 9 (SIGKILL)");
}

void Processes::Crash(const std::string& cause) {
  EndAll(cause);
}

void Processes::EndAll(const std::string& cause) {
  ++generation_;
  peer_.SetListening(false);
  peer_.Hangup();
  for (; running_ > 0; --running_) loop_.After(1, [this, cause] { RaiseEnded(cause); });
}

// ---- MessageBox ----

MsgResult MessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons,
                           MsgIcon icon) {
  shown.push_back({text, title, buttons, icon, loop_.Now()});
  const double answerAt = loop_.Now() + thinkMs;
  while (loop_.Now() < answerAt) {
    loop_.PumpOnce(static_cast<int>(std::ceil(answerAt - loop_.Now())));
  }
  if (buttons == MsgButtons::kOk) return MsgResult::kOk;
  if (answers.empty()) return MsgResult::kYes;
  const MsgResult r = answers.front();
  answers.pop_front();
  return r;
}

}  // namespace pasotune::sim
