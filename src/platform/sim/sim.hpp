// The deterministic simulation: virtual time, a loop of scheduled events and
// scripted peers for every port. A pause of 500 ms costs microseconds.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/ports.hpp"

namespace pasotune::sim {

inline constexpr double kDayMs = 86'400'000.0;

// Thrown through every handler when the program ends, so that nothing after
// the end runs; the test catches it.
struct Ended {};

// Clock and event pump over virtual time.
class Loop : public Clock, public EventPump {
 public:
  // startOfDay: local time of day at virtual time 0, in seconds.
  explicit Loop(double startOfDay = 12 * 3600.0) : dayOffsetMs_(startOfDay * 1000.0) {}

  double SecondsSinceMidnight() override;
  void PumpOnce(int maxWaitMs) override;
  TimerId StartTimer(int intervalMs, std::function<void()> tick) override;
  void StopTimer(TimerId id) override;

  // Virtual milliseconds since the simulation began.
  double Now() const { return now_; }
  // Runs fn at Now() + delayMs, from the pump.
  void After(double delayMs, std::function<void()> fn);
  // Runs fn at the absolute virtual time atMs.
  void At(double atMs, std::function<void()> fn);
  // Pumps until virtual time reaches Now() + ms.
  void RunFor(double ms);
  // Pumps until nothing is scheduled, or the limit is reached.
  void RunUntilIdle(double limitMs = 600'000);
  int Pumps() const { return pumps_; }
  bool Idle() const { return queue_.empty(); }
  void Stop() { stopped_ = true; }
  bool Stopped() const { return stopped_; }

 private:
  using Key = std::pair<double, std::uint64_t>;
  bool RunDue();
  void ScheduleTick(TimerId id, double at);

  double now_ = 0;
  double dayOffsetMs_;
  std::uint64_t seq_ = 0;
  std::map<Key, std::function<void()>> queue_;
  std::map<TimerId, int> timers_;  // id -> interval
  TimerId nextTimer_ = 1;
  int pumps_ = 0;
  bool stopped_ = false;
};

class TcpClient;

// The engine's end of the TCP link, scripted by the test. It stands for the
// radio engine process: Processes starts and kills it.
class Peer {
 public:
  explicit Peer(Loop& loop) : loop_(loop) {}
  // Whether a connection attempt now would be accepted.
  bool Listening() const { return listening_; }
  void SetListening(bool on) { listening_ = on; }
  // When not listening: refuse attempts (error event) or leave them hanging.
  bool refuse = true;
  // Another user's program holds the port: every attempt fails with this.
  std::optional<std::string> foreignHolder;
  double connectLatencyMs = 1;
  double replyLatencyMs = 1;

  // Bytes received on the wire, as sent (Windows-1252).
  const std::string& Received() const { return received_; }
  // Complete lines received, CR LF removed, in arrival order, with the
  // virtual time each arrived.
  struct Line {
    std::string bytes;
    double at;
  };
  const std::vector<Line>& Lines() const { return lines_; }
  std::vector<std::string> LineTexts() const;
  // Called for every complete line; may Reply.
  std::function<void(const std::string& line)> onLine;
  // Sends raw bytes (Windows-1252) to the client as one arrival.
  void Reply(std::string bytes);
  // The engine closes its end.
  void Hangup();
  // The next SendData on the client fails with this description.
  std::optional<std::string> failNextSend;
  int SendCalls() const { return sendCalls_; }
  int Accepted() const { return accepted_; }

 private:
  friend class TcpClient;
  Loop& loop_;
  bool listening_ = false;
  std::string received_;
  std::string partial_;
  std::vector<Line> lines_;
  int sendCalls_ = 0;
  int accepted_ = 0;
  TcpClient* client_ = nullptr;
};

class TcpClient : public pasotune::TcpClient {
 public:
  TcpClient(Loop& loop, Peer& peer) : loop_(loop), peer_(peer) {}
  int State() override { return state_; }
  void Connect(const std::string& host, int port) override;
  void Close() override;
  void SendData(std::string_view text) override;
  std::string GetData() override;

  // From the peer, for the connection it was meant for.
  std::uint64_t ConnectionId() const { return attempt_; }
  void Deliver(std::uint64_t connection, const std::string& bytes);
  void PeerClosed(std::uint64_t connection);
  int Connects() const { return connects_; }
  std::optional<std::string> failNextGetData;

 private:
  Loop& loop_;
  Peer& peer_;
  int state_ = sck::kClosed;
  std::uint64_t attempt_ = 0;  // guards events of abandoned attempts
  std::string inbox_;
  int connects_ = 0;
};

class Tracker : public TrackerLink {
 public:
  explicit Tracker(Loop& loop) : loop_(loop) {}
  // Whether the tracker runs; set it before the link opens, and script its
  // coming and going afterwards with Start and Stop.
  bool running = true;
  double latencyMs = 1;
  void Open(const std::string& service, const std::string& topic, const std::string& item,
            Update onUpdate) override;
  void Close() override;
  // The tracker's item takes a new value; an open link delivers it.
  void Publish(std::string text);
  // The tracker starts, or comes back: a link that follows it links again.
  void Start();
  // The tracker ends: a link to it hears that it has gone.
  void Stop();
  int Opens() const { return opens_; }
  bool Linked() const { return linked_; }
  std::string service, topic, item;  // of the last open

 private:
  // Runs fn after the latency unless the link is closed or opened again.
  void Later(std::function<void()> fn);

  Loop& loop_;
  std::string value_;
  bool hasValue_ = false;
  Update subscriber_;
  bool following_ = false;
  bool linked_ = false;
  std::uint64_t generation_ = 0;
  int opens_ = 0;
};

// Records every start and kill; drives the peer like the engine process.
class Processes : public pasotune::Processes {
 public:
  Processes(Loop& loop, Peer& peer) : loop_(loop), peer_(peer) {}
  struct Call {
    std::string what;  // "start" or "end"
    std::string arg;
    double at;
  };
  std::vector<Call> calls;
  // How long a started engine takes to listen; nullopt: never.
  std::optional<double> listenAfterMs = 0;
  // Start fails with this description.
  std::optional<std::string> failStart;
  void Start(const std::string& path) override;
  // Ends the running engines, each told ended "por la señal 9 (SIGKILL)".
  void EndByImageName(const std::string& imageName) override;
  // The running engines end by themselves (a crash, another program's
  // kill), told ended with this cause.
  void Crash(const std::string& cause);
  int Running() const { return running_; }

 private:
  // The running engines go: the link drops, and each end is told 1 ms later.
  void EndAll(const std::string& cause);

  Loop& loop_;
  Peer& peer_;
  std::uint64_t generation_ = 0;
  int running_ = 0;
};

class MessageBox : public pasotune::MessageBox {
 public:
  struct Shown {
    std::string text, title;
    MsgButtons buttons;
    MsgIcon icon;
    double at;
  };
  explicit MessageBox(Loop& loop) : loop_(loop) {}
  std::vector<Shown> shown;
  std::deque<MsgResult> answers;  // Yes/No answers in order; Yes when empty
  // How long the user takes to answer. Meanwhile the box runs the event
  // loop, as a modal box does, so any handler can run inside it.
  double thinkMs = 0;
  MsgResult Show(const std::string& text, const std::string& title, MsgButtons buttons,
                 MsgIcon icon) override;

 private:
  Loop& loop_;
};

class ProgramEnd : public pasotune::ProgramEnd {
 public:
  explicit ProgramEnd(Loop& loop) : loop_(loop) {}
  [[noreturn]] void End() override {
    ended = true;
    endedAt = loop_.Now();
    loop_.Stop();
    throw Ended{};
  }
  bool ended = false;
  double endedAt = 0;

 private:
  Loop& loop_;
};

}  // namespace pasotune::sim
