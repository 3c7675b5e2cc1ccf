#pragma once

// One pass of commands played through the engine's own stack (dispatcher, queue, radio) against
// a radio that can read every setting back; shared by the Hamlib and the rigctld tests.

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "commands.hpp"
#include "queued_radio.hpp"
#include "settings.hpp"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include "support.hpp"
extern char** environ;
#endif

namespace velkor::test {

struct Expected {
  std::int64_t hz[2] = {0, 0};
  Mode mode[2] = {Mode::kUsb, Mode::kUsb};
  ToneState tone;
};

struct Step {
  std::string line;
  std::function<void(Expected&)> effect;
};

// Each line, and what the radio must read back after it.
inline std::vector<Step> session() {
  return {
      {"SET FREQ MAIN 435.1234", [](Expected& e) { e.hz[0] = 435'123'400; }},
      {"SET FREQ SUB 145,9001", [](Expected& e) { e.hz[1] = 145'900'100; }},
      {"SET MODE MAIN USB", [](Expected& e) { e.mode[0] = Mode::kUsb; }},
      {"SET MODE SUB fm-n", [](Expected& e) { e.mode[1] = Mode::kFmN; }},
      {"SET MODE SUB CW-R", [](Expected& e) { e.mode[1] = Mode::kCwR; }},
      {"SET MODE MAIN LSB", [](Expected& e) { e.mode[0] = Mode::kLsb; }},
      {"SET MODE MAIN FM", [](Expected& e) { e.mode[0] = Mode::kFm; }},
      {"SET TONE 88.5",
       [](Expected& e) {
         e.tone = {true, 885};
       }},
      {"SET TONE 100.0",
       [](Expected& e) {
         e.tone = {true, 1000};
       }},
      {"SET TONE OFF", [](Expected& e) { e.tone.on = false; }},
      {"SET FREQ MAIN 0.0000", [](Expected& e) { e.hz[0] = 0; }},
      {"SET FREQ MAIN 1296.0005", [](Expected& e) { e.hz[0] = 1'296'000'500; }},
  };
}

class Replies {
 public:
  QueuedRadio::Notify notify() {
    return [this](const std::string& reply, const std::string&) {
      if (reply.empty()) return;
      std::lock_guard lock(mutex_);
      replies_.push_back(reply);
      arrived_.notify_all();
    };
  }
  std::string next(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return !replies_.empty(); })) return "";
    std::string reply = replies_.front();
    replies_.erase(replies_.begin());
    return reply;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> replies_;
};

// The engine's own stack: dispatcher, queue and a radio that blocks.
class Rig {
 public:
  explicit Rig(std::unique_ptr<Radio> radio, bool readBack = true)
      : radio_(std::move(radio), replies_.notify(), quick(readBack)), dispatcher_(radio_) {}

  std::optional<std::string> send(const std::string& line) {
    return dispatcher_.handle(line).reply;
  }
  std::string reply(std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    return replies_.next(timeout);
  }
  bool idle() { return radio_.waitIdle(std::chrono::seconds(10)); }
  QueuedRadio& radio() { return radio_; }

  void expect(const Expected& e, const std::string& after) {
    EXPECT_EQ(radio_.frequency(Band::kMain), e.hz[0]) << after;
    EXPECT_EQ(radio_.frequency(Band::kSub), e.hz[1]) << after;
    EXPECT_EQ(radio_.mode(Band::kMain), e.mode[0]) << after;
    EXPECT_EQ(radio_.mode(Band::kSub), e.mode[1]) << after;
    EXPECT_EQ(radio_.tone(), e.tone) << after;
  }

  // Plays the session; every command must be silent and read back right.
  void play() {
    Expected expected;
    // Give every read-back a known start, each on its own or the queue would keep only TONE OFF.
    for (const char* line : {"SET FREQ MAIN 435.0000", "SET FREQ SUB 145.8000", "SET MODE MAIN USB",
                             "SET MODE SUB USB", "SET TONE 67.0", "SET TONE OFF"}) {
      ASSERT_EQ(send(line), std::nullopt) << line;
      ASSERT_TRUE(idle());
    }
    expected.hz[0] = 435'000'000;
    expected.hz[1] = 145'800'000;
    expected.tone = {false, 670};
    for (const Step& step : session()) {
      ASSERT_EQ(send(step.line), std::nullopt) << step.line;
      ASSERT_TRUE(idle()) << step.line;
      step.effect(expected);
      expect(expected, step.line);
    }
    EXPECT_EQ(reply(std::chrono::milliseconds(0)), "");
  }

 private:
  // Neither the dummy rig nor rigctld's keeps a status the way a Kenwood does.
  static QueuedRadio::Options quick(bool readBack) {
    QueuedRadio::Options options;
    options.readBack = readBack;
    options.settle = std::chrono::milliseconds(50);
    return options;
  }

  Replies replies_;
  QueuedRadio radio_;
  Dispatcher dispatcher_;
};

inline Settings dummy(Settings::Bands bands = Settings::Bands::kAuto) {
  Settings s;
  s.radio = Settings::RadioKind::kHamlib;
  s.model = 1;
  s.bands = bands;
  return s;
}

#ifndef _WIN32
// rigctld -m 1 on a free port, ended by its pid.
class Rigctld {
 public:
  Rigctld(const char* program, std::uint16_t port, bool vfoMode = false)
      : program_(program), port_(port), vfoMode_(vfoMode) {
    start();
  }
  ~Rigctld() { stop(); }

  bool start() {
    const std::string portText = std::to_string(port_);
    std::vector<const char*> argv{program_, "-m", "1", "-T", "127.0.0.1", "-t", portText.c_str()};
    if (vfoMode_) argv.push_back("--vfo");
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int status =
        posix_spawn(&pid_, program_, &actions, nullptr, const_cast<char**>(argv.data()), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
      pid_ = -1;
      return false;
    }
    // The probe stays connected while rigctld runs. Hamlib 4.5's rigctld closes a finished
    // client's descriptor three times (two fclose and a close), so a connection accepted just
    // then can lose its descriptor and be dropped at once ("fdopen: Bad file descriptor" in its
    // log). A client that never leaves gives that race nothing to hit.
    probe_ = std::make_unique<Client>(port_, std::chrono::seconds(5));
    return probe_->connected();
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    probe_.reset();
  }

 private:
  const char* program_;
  std::uint16_t port_;
  bool vfoMode_;
  pid_t pid_ = -1;
  std::unique_ptr<Client> probe_;
};
#endif

}  // namespace velkor::test
