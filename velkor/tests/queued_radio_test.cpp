#include "queued_radio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "commands.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A radio whose calls can be held up and that can stop answering, as a serial link does.
class FakeRadio : public Radio {
 public:
  Outcome open(const std::string& port) override {
    step("open " + port);
    if (dead || refuseOpen) return Outcome::failed("cannot open " + port + ": no answer", true);
    std::lock_guard lock(mutex_);
    open_ = true;
    return Outcome::done();
  }
  void close() override {
    step("close");
    std::lock_guard lock(mutex_);
    open_ = false;
  }
  Outcome setFrequency(Band band, std::int64_t hz) override {
    step("freq");
    if (dead) return Outcome::failed("timed out", true);
    std::lock_guard lock(mutex_);
    if (!drop()) hz_[band == Band::kMain ? 0 : 1] = hz;
    return Outcome::done();
  }
  Outcome setMode(Band band, Mode mode) override {
    step("mode");
    if (dead) return Outcome::failed("timed out", true);
    if (mode == Mode::kAm) return Outcome::refused("no AM here");
    std::lock_guard lock(mutex_);
    if (!drop()) mode_[band == Band::kMain ? 0 : 1] = mode;
    return Outcome::done();
  }
  Outcome setTone(int tenthsHz) override {
    step("tone");
    std::lock_guard lock(mutex_);
    if (!drop()) tone_ = {true, tenthsHz};
    return Outcome::done();
  }
  Outcome toneOff() override {
    step("tone");
    std::lock_guard lock(mutex_);
    if (!drop()) tone_.on = false;
    return Outcome::done();
  }
  std::string description() const override { return "fake radio"; }
  std::optional<std::int64_t> frequency(Band band) override {
    std::lock_guard lock(mutex_);
    return hz_[band == Band::kMain ? 0 : 1];
  }
  std::optional<Mode> mode(Band band) override {
    std::lock_guard lock(mutex_);
    return mode_[band == Band::kMain ? 0 : 1];
  }
  std::optional<ToneState> tone() override {
    std::lock_guard lock(mutex_);
    return tone_;
  }

  void hold() {
    std::lock_guard lock(mutex_);
    held_ = true;
  }
  void release() {
    {
      std::lock_guard lock(mutex_);
      held_ = false;
    }
    gate_.notify_all();
  }
  // Waits until the worker is stuck inside a held call.
  bool waitUntilStuck() {
    std::unique_lock lock(mutex_);
    return gate_.wait_for(lock, 3s, [this] { return waiting_; });
  }
  bool isOpen() {
    std::lock_guard lock(mutex_);
    return open_;
  }
  std::vector<std::string> calls() {
    std::lock_guard lock(mutex_);
    return calls_;
  }
  std::vector<Clock::time_point> openTimes() {
    std::lock_guard lock(mutex_);
    return openTimes_;
  }

  std::atomic<bool> dead{false};
  std::atomic<bool> refuseOpen{false};
  // The next n settings are answered as done but not taken, as Hamlib lets some pass.
  void dropNext(int n) {
    std::lock_guard lock(mutex_);
    dropSets = n;
  }

 private:
  int dropSets = 0;
  bool drop() {
    if (dropSets == 0) return false;
    --dropSets;
    return true;
  }

  void step(const std::string& call) {
    std::unique_lock lock(mutex_);
    waiting_ = held_;
    gate_.notify_all();
    gate_.wait(lock, [this] { return !held_; });
    waiting_ = false;
    calls_.push_back(call);
    if (call.rfind("open", 0) == 0) openTimes_.push_back(Clock::now());
  }

  std::mutex mutex_;
  std::condition_variable gate_;
  bool held_ = false;
  bool waiting_ = false;
  bool open_ = false;
  std::array<std::int64_t, 2> hz_{};
  std::array<Mode, 2> mode_{Mode::kUsb, Mode::kUsb};
  ToneState tone_;
  std::vector<std::string> calls_;
  std::vector<Clock::time_point> openTimes_;
};

// What the worker reported, in order.
class Inbox {
 public:
  QueuedRadio::Notify notify() {
    return [this](const std::string& reply, const std::string&) {
      if (reply.empty()) return;
      {
        std::lock_guard lock(mutex_);
        replies_.push_back(reply);
      }
      arrived_.notify_all();
    };
  }
  // The next reply, or "" when none comes in time.
  std::string next(std::chrono::milliseconds timeout = 3s) {
    std::unique_lock lock(mutex_);
    if (!arrived_.wait_for(lock, timeout, [this] { return read_ < replies_.size(); })) return "";
    return replies_[read_++];
  }
  std::size_t unread() {
    std::lock_guard lock(mutex_);
    return replies_.size() - read_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<std::string> replies_;
  std::size_t read_ = 0;
};

class QueuedRadioTest : public ::testing::Test {
 protected:
  std::unique_ptr<QueuedRadio> makeRadio() {
    auto fake = std::make_unique<FakeRadio>();
    fake_ = fake.get();
    QueuedRadio::Options options;
    options.reopenInterval = kInterval;
    options.settle = 20ms;
    options.afterOpen = {"NOT DONE velkor.conf, línea 3: clave desconocida «x»; se ignora"};
    return std::make_unique<QueuedRadio>(std::move(fake), inbox_.notify(), options);
  }

  void openCom1() {
    EXPECT_EQ(dispatcher_.handle("SETPORT COM1").reply, std::nullopt);
    EXPECT_EQ(inbox_.next(), "Velkor READY: fake radio");
    EXPECT_EQ(inbox_.next(), "NOT DONE velkor.conf, línea 3: clave desconocida «x»; se ignora");
  }

  static constexpr auto kInterval = 200ms;
  Inbox inbox_;
  FakeRadio* fake_ = nullptr;
  std::unique_ptr<QueuedRadio> radio_ = makeRadio();
  Dispatcher dispatcher_{*radio_};
};

TEST_F(QueuedRadioTest, NeedsAPortBeforeAnythingIsQueued) {
  const Outcome outcome = radio_->setFrequency(Band::kMain, 435'000'000);
  EXPECT_EQ(outcome.kind, Outcome::Kind::kFailed);
  EXPECT_EQ(outcome.reason, kNoPortOpen);
}

TEST_F(QueuedRadioTest, AnswersSetPortLaterAndAppliesEverySetting) {
  openCom1();
  for (const char* line : {"SET MODE MAIN LSB", "SET FREQ MAIN 432.1500", "SET MODE SUB CW",
                           "SET FREQ SUB 145.9501", "SET TONE 67.0"}) {
    EXPECT_EQ(dispatcher_.handle(line).reply, std::nullopt) << line;
  }
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kMain), 432'150'000);
  EXPECT_EQ(radio_->frequency(Band::kSub), 145'950'100);
  EXPECT_EQ(radio_->mode(Band::kMain), Mode::kLsb);
  EXPECT_EQ(radio_->mode(Band::kSub), Mode::kCw);
  EXPECT_EQ(radio_->tone(), (ToneState{true, 670}));
  EXPECT_EQ(inbox_.unread(), 0u);
}

TEST_F(QueuedRadioTest, ABurstOnASlowRadioEndsOnTheNewestValues) {
  openCom1();
  fake_->hold();
  radio_->setFrequency(Band::kMain, 1);
  ASSERT_TRUE(fake_->waitUntilStuck());
  for (int i = 1; i <= 1000; ++i) {
    radio_->setFrequency(Band::kMain, 435'000'000 + i);
    radio_->setFrequency(Band::kSub, 145'000'000 + i);
    radio_->setMode(i % 2 ? Band::kMain : Band::kSub, i % 3 ? Mode::kFm : Mode::kCwR);
    if (i % 2) {
      radio_->setTone(885);
    } else {
      radio_->toneOff();
    }
  }
  fake_->release();
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kMain), 435'001'000);
  EXPECT_EQ(radio_->frequency(Band::kSub), 145'001'000);
  EXPECT_EQ(radio_->mode(Band::kMain), Mode::kCwR);  // i = 999
  EXPECT_EQ(radio_->mode(Band::kSub), Mode::kFm);    // i = 1000
  EXPECT_FALSE(radio_->tone()->on);                  // i = 1000
  // The held call, then one pass with the newest of everything.
  EXPECT_LE(fake_->calls().size(), 1u + 1u + 5u);
}

TEST_F(QueuedRadioTest, ARefusedValueIsReportedAndTheRestStillApplies) {
  openCom1();
  dispatcher_.handle("SET MODE MAIN AM");
  dispatcher_.handle("SET FREQ MAIN 435.0000");
  EXPECT_EQ(inbox_.next(), "NOT DONE MAIN modo AM: no AM here");
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kMain), 435'000'000);
  EXPECT_TRUE(fake_->isOpen());
}

TEST_F(QueuedRadioTest, FailedSetPortLeavesNoPortOpen) {
  fake_->refuseOpen = true;
  dispatcher_.handle("SETPORT COM7");
  EXPECT_EQ(inbox_.next(), "ERROR cannot open COM7: no answer");
  EXPECT_EQ(inbox_.next(), "NOT DONE velkor.conf, línea 3: clave desconocida «x»; se ignora");
  ASSERT_TRUE(radio_->waitIdle(3s));
  // Said once; the tracker's commands that follow go nowhere without a line each.
  EXPECT_EQ(dispatcher_.handle("SET TONE OFF").reply, "ERROR " + std::string(kNoPortOpen));
  EXPECT_EQ(dispatcher_.handle("SET FREQ MAIN 435.0000").reply, std::nullopt);
  fake_->refuseOpen = false;
  openCom1();
  EXPECT_EQ(dispatcher_.handle("SET FREQ MAIN 435.0000").reply, std::nullopt);
}

TEST_F(QueuedRadioTest, ARadioThatStopsAnsweringIsSaidOnceSoughtQuietlyAndSaidBack) {
  openCom1();
  fake_->dead = true;
  dispatcher_.handle("SET FREQ MAIN 435.0000");
  const std::string lost = inbox_.next();
  EXPECT_EQ(lost.rfind("ERROR COM1: la radio dejó de contestar (MAIN frecuencia 435.000000 MHz: "
                       "timed out)",
                       0),
            0u)
      << lost;
  // Asked while it is away, and kept for it; the radio is sought without commands, spaced by
  // the interval, and nothing is said of the tries.
  dispatcher_.handle("SET FREQ SUB 145.8000");
  std::this_thread::sleep_for(kInterval * 3);
  const auto opens = fake_->openTimes();
  ASSERT_GE(opens.size(), 3u);
  for (std::size_t i = 2; i < opens.size(); ++i) EXPECT_GE(opens[i] - opens[i - 1], kInterval);
  EXPECT_FALSE(fake_->isOpen());
  EXPECT_EQ(inbox_.unread(), 0u);

  fake_->dead = false;
  EXPECT_EQ(inbox_.next(), "Velkor READY: fake radio; la radio contesta de nuevo");
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kSub), 145'800'000);
  EXPECT_EQ(radio_->frequency(Band::kMain), 435'000'000);
  EXPECT_EQ(inbox_.unread(), 0u);
}

// What the radio really took, read back after each setting: set once more, then said.
struct ReadBackCase {
  const char* name;
  std::vector<const char*> lines;
  int dropped;        // settings the radio lets pass without taking them
  std::string reply;  // the one line the user reads, or none
};

class ReadBackTest : public QueuedRadioTest, public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(ReadBackTest, SetsOnceMoreThenSaysWhatTheRadioHas) {
  const ReadBackCase& c = GetParam();
  openCom1();
  dispatcher_.handle("SET FREQ SUB 145.0000");
  dispatcher_.handle("SET MODE MAIN FM");
  dispatcher_.handle("SET TONE 67.0");
  ASSERT_TRUE(radio_->waitIdle(3s));
  fake_->dropNext(c.dropped);
  const std::size_t before = fake_->calls().size();
  for (const char* line : c.lines) dispatcher_.handle(line);
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(inbox_.next(c.reply.empty() ? 100ms : 3s), c.reply);
  // Never more than one retry per setting.
  EXPECT_LE(fake_->calls().size() - before, 2 * c.lines.size());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, ReadBackTest,
    ::testing::Values(
        ReadBackCase{"FrequencyTakenOnTheSecondTry", {"SET FREQ SUB 145.9876"}, 1, ""},
        ReadBackCase{"FrequencyNeverTaken",
                     {"SET FREQ SUB 145.9876"},
                     2,
                     "NOT DONE SUB frecuencia 145.987600 MHz: la radio se quedó en 145.000000 MHz"},
        ReadBackCase{"ModeTakenOnTheSecondTry", {"SET MODE MAIN USB"}, 1, ""},
        ReadBackCase{"ModeNeverTaken",
                     {"SET MODE MAIN USB"},
                     2,
                     "NOT DONE MAIN modo USB: la radio se quedó en FM"},
        ReadBackCase{"NarrowReadsBackAsItsMode", {"SET MODE MAIN FM-N"}, 0, ""},
        ReadBackCase{"ToneNeverTaken",
                     {"SET TONE 88.5"},
                     2,
                     "NOT DONE tono 88.5 Hz: la radio se quedó en 67.0 Hz"},
        ReadBackCase{"ToneOffNeverTaken",
                     {"SET TONE OFF"},
                     2,
                     "NOT DONE tono apagado: la radio se quedó en 67.0 Hz"}),
    [](const auto& info) { return info.param.name; });

TEST_F(QueuedRadioTest, ANewerValueReplacesTheOneStillBeingChecked) {
  openCom1();
  fake_->dropNext(1);
  fake_->hold();
  dispatcher_.handle("SET MODE SUB LSB");
  ASSERT_TRUE(fake_->waitUntilStuck());
  dispatcher_.handle("SET MODE SUB CW");
  fake_->release();
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->mode(Band::kSub), Mode::kCw);
  EXPECT_EQ(inbox_.next(100ms), "");
  // LSB is not set again once CW is waiting.
  const auto calls = fake_->calls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "mode"), 2);
}

TEST_F(QueuedRadioTest, ShutdownGivesUpOnARadioStuckInIo) {
  openCom1();
  fake_->hold();
  radio_->setFrequency(Band::kMain, 435'000'000);
  ASSERT_TRUE(fake_->waitUntilStuck());
  EXPECT_FALSE(radio_->shutdown(50ms));
  fake_->release();
  EXPECT_TRUE(radio_->shutdown(3s));
  EXPECT_FALSE(fake_->isOpen());
}

}  // namespace
}  // namespace velkor
