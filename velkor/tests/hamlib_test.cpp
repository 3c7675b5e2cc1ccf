// Hamlib's dummy rig (model 1) in process, and through a real rigctld (model 2).

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <fcntl.h>

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>

#include "commands.hpp"
#include "hamlib_radio.hpp"
#include "queued_radio.hpp"
#include "support.hpp"

extern char** environ;

namespace velkor {
namespace {

using namespace std::chrono_literals;

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
std::vector<Step> session() {
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

// The engine's own stack: dispatcher, queue and Hamlib radio.
class Rig {
 public:
  explicit Rig(const Settings& settings)
      : radio_(std::make_unique<HamlibRadio>(settings), replies_.notify()), dispatcher_(radio_) {}

  std::optional<std::string> send(const std::string& line) {
    return dispatcher_.handle(line).reply;
  }
  std::string reply(std::chrono::milliseconds timeout = 5s) { return replies_.next(timeout); }
  bool idle() { return radio_.waitIdle(10s); }
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
    // Give every read-back a known start.
    // Separately, or the queue would keep only TONE OFF.
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
    EXPECT_EQ(reply(0ms), "");
  }

 private:
  Replies replies_;
  QueuedRadio radio_;
  Dispatcher dispatcher_;
};

Settings dummy(Settings::Bands bands = Settings::Bands::kAuto) {
  Settings s;
  s.radio = Settings::RadioKind::kHamlib;
  s.model = 1;
  s.bands = bands;
  return s;
}

class DummyRigTest : public ::testing::TestWithParam<Settings::Bands> {};

TEST_P(DummyRigTest, ReadsBackEveryCommand) {
  Rig rig(dummy(GetParam()));
  ASSERT_EQ(rig.send("SETPORT COM1"), std::nullopt);
  ASSERT_EQ(rig.reply(), "Velkor READY");
  rig.play();
}

INSTANTIATE_TEST_SUITE_P(Bands, DummyRigTest,
                         ::testing::Values(Settings::Bands::kAuto, Settings::Bands::kAB,
                                           Settings::Bands::kSplit),
                         [](const auto& info) {
                           switch (info.param) {
                             case Settings::Bands::kAB:
                               return "VfoAB";
                             case Settings::Bands::kSplit:
                               return "Split";
                             default:
                               return "MainSub";
                           }
                         });

TEST(DummyRig, KeepsTheNewestOfABurst) {
  Rig rig(dummy());
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply(), "Velkor READY");
  for (int i = 1; i <= 1000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "SET FREQ MAIN 435.%06d", i);
    rig.send(line);
    std::snprintf(line, sizeof line, "SET FREQ SUB 145,%04d", 9000 - i);
    rig.send(line);
    rig.send(i % 2 ? "SET MODE SUB LSB" : "SET MODE SUB CW");
  }
  ASSERT_TRUE(rig.idle());
  EXPECT_EQ(rig.radio().frequency(Band::kMain), 435'001'000);
  EXPECT_EQ(rig.radio().frequency(Band::kSub), 145'800'000);
  EXPECT_EQ(rig.radio().mode(Band::kSub), Mode::kCw);
  EXPECT_EQ(rig.reply(0ms), "");
}

TEST(DummyRig, ReportsWhatHamlibCannotDo) {
  Settings settings = dummy();
  settings.model = 999999;
  Rig unknown(settings);
  unknown.send("SETPORT COM1");
  EXPECT_EQ(unknown.reply(), "ERROR Hamlib has no rig model 999999");

  Rig rig(dummy());
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply(), "Velkor READY");
  rig.send("SET TONE 88.4");
  EXPECT_EQ(rig.reply(), "NOT DONE tone 88.4 Hz on: the Hamlib Dummy has no such tone");
}

TEST(HamlibSerial, AMissingDeviceSaysWhy) {
  Settings settings = dummy();
  settings.model = 2007;  // TS-790
  settings.comDevices[3] = "/dev/velkor-no-such-device";
  Rig rig(settings);
  rig.send("SETPORT COM3");
  EXPECT_EQ(rig.reply(),
            "ERROR cannot open COM3 (/dev/velkor-no-such-device): No such file or directory");
  EXPECT_EQ(rig.send("SET FREQ MAIN 435.0000"), "ERROR " + std::string(kNoPortOpen));
}

// rigctld -m 1 on a free port, ended by its pid.
class Rigctld {
 public:
  explicit Rigctld(std::uint16_t port) : port_(port) { start(); }
  ~Rigctld() { stop(); }

  bool start() {
    const std::string portText = std::to_string(port_);
    const char* argv[] = {VELKOR_RIGCTLD,   "-m",   "1", "-T", "127.0.0.1", "-t",
                          portText.c_str(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const int status =
        posix_spawn(&pid_, VELKOR_RIGCTLD, &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (status != 0) {
      pid_ = -1;
      return false;
    }
    test::Client probe(port_, 5s);
    return probe.connected();
  }

  void stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::uint16_t port_;
  pid_t pid_ = -1;
};

class RigctldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(VELKOR_RIGCTLD).empty()) GTEST_SKIP() << "rigctld not installed";
    // Hamlib writes to the socket of a dead rigctld.
    signal(SIGPIPE, SIG_IGN);
    port_ = test::freePort();
    settings_ = dummy();
    settings_.model = 2;
    settings_.rigctld = "127.0.0.1:" + std::to_string(port_);
  }

  std::uint16_t port_ = 0;
  Settings settings_;
};

TEST_F(RigctldTest, ReadsBackEveryCommandOverTheNetwork) {
  Rigctld rigctld(port_);
  Rig rig(settings_);
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply(), "Velkor READY");
  rig.play();
}

TEST_F(RigctldTest, SurvivesRigctldDyingAndRecoversWhenItIsBack) {
  auto rigctld = std::make_unique<Rigctld>(port_);
  Rig rig(settings_);
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply(), "Velkor READY");
  rig.send("SET FREQ MAIN 435.0000");
  ASSERT_TRUE(rig.idle());

  rigctld.reset();
  for (const char* line : {"SET FREQ MAIN 435.0100", "SET FREQ SUB 145.9000"}) {
    EXPECT_EQ(rig.send(line), std::nullopt);
    const std::string reply = rig.reply(15s);
    EXPECT_EQ(reply.rfind("ERROR radio on COM1 ", 0), 0u) << reply;
    ASSERT_TRUE(rig.idle());
  }

  rigctld = std::make_unique<Rigctld>(port_);
  rig.send("SET FREQ MAIN 435.0200");
  rig.send("SET MODE SUB LSB");
  ASSERT_TRUE(rig.idle());
  EXPECT_EQ(rig.radio().frequency(Band::kMain), 435'020'000);
  EXPECT_EQ(rig.radio().mode(Band::kSub), Mode::kLsb);
  EXPECT_EQ(rig.reply(0ms), "");
}

}  // namespace
}  // namespace velkor
