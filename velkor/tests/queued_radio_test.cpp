#include "queued_radio.hpp"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <mutex>
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
    hz_[band == Band::kMain ? 0 : 1] = hz;
    return Outcome::done();
  }
  Outcome setMode(Band band, Mode mode) override {
    step("mode");
    if (dead) return Outcome::failed("timed out", true);
    if (mode == Mode::kAm) return Outcome::refused("no AM here");
    std::lock_guard lock(mutex_);
    mode_[band == Band::kMain ? 0 : 1] = mode;
    return Outcome::done();
  }
  Outcome setTone(int tenthsHz) override {
    step("tone");
    std::lock_guard lock(mutex_);
    tone_ = {true, tenthsHz};
    return Outcome::done();
  }
  Outcome toneOff() override {
    step("tone");
    std::lock_guard lock(mutex_);
    tone_.on = false;
    return Outcome::done();
  }
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

 private:
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
    return std::make_unique<QueuedRadio>(std::move(fake), inbox_.notify(), kInterval);
  }

  void openCom1() {
    EXPECT_EQ(dispatcher_.handle("SETPORT COM1").reply, std::nullopt);
    EXPECT_EQ(inbox_.next(), "Velkor READY");
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
  EXPECT_EQ(inbox_.next(), "NOT DONE MAIN mode AM: no AM here");
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kMain), 435'000'000);
  EXPECT_TRUE(fake_->isOpen());
}

TEST_F(QueuedRadioTest, FailedSetPortLeavesNoPortOpen) {
  fake_->refuseOpen = true;
  dispatcher_.handle("SETPORT COM7");
  EXPECT_EQ(inbox_.next(), "ERROR cannot open COM7: no answer");
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(dispatcher_.handle("SET TONE OFF").reply, "ERROR " + std::string(kNoPortOpen));
}

TEST_F(QueuedRadioTest, ARadioThatStopsAnsweringIsClosedAndReopenedAtMostOncePerInterval) {
  openCom1();
  fake_->dead = true;
  dispatcher_.handle("SET FREQ MAIN 435.0000");
  const std::string lost = inbox_.next();
  EXPECT_EQ(lost.rfind("ERROR radio on COM1 not answering (timed out)", 0), 0u) << lost;
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_FALSE(fake_->isOpen());

  // Each command while it is dead costs one reopen attempt, spaced by the interval.
  for (int i = 0; i < 2; ++i) {
    dispatcher_.handle("SET FREQ MAIN 435.0000");
    const std::string again = inbox_.next();
    EXPECT_EQ(again.rfind("ERROR radio on COM1 still not answering", 0), 0u) << again;
    ASSERT_TRUE(radio_->waitIdle(3s));
  }
  const auto opens = fake_->openTimes();
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_GE(opens[2] - opens[1], kInterval);

  fake_->dead = false;
  dispatcher_.handle("SET FREQ SUB 145.8000");
  ASSERT_TRUE(radio_->waitIdle(3s));
  EXPECT_EQ(radio_->frequency(Band::kSub), 145'800'000);
  EXPECT_TRUE(fake_->isOpen());
  EXPECT_EQ(inbox_.unread(), 0u);  // coming back is silent
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
