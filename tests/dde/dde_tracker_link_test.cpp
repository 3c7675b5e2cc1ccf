#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

using Texts = std::vector<std::string>;

// "SNAO-07 DN145950007 ... X...X": numbered, and long enough that a record
// cut short or run together shows.
std::string Record(int i) {
  return "SNAO-07 DN" + std::to_string(145950000 + i) + " UP432150000 DMUSB UMLSB " +
         std::string(3000, static_cast<char>('a' + i % 26));
}

// The feed ends each record in CR LF, as the tracker does, and the link hands
// it on whole: the texts compared here are without it.
std::string Bare(const std::string& text) {
  if (text.empty()) return text;
  EXPECT_EQ(text.substr(text.size() < 2 ? 0 : text.size() - 2), "\r\n") << text.substr(0, 40);
  return text.substr(0, text.size() < 2 ? 0 : text.size() - 2);
}

class DdeTrackerLinkTest : public ::testing::Test {
 protected:
  // A feed that publishes what the test writes to it, "R0" first.
  void StartStdinFeed(test::Feed& f) {
    ASSERT_TRUE(f.Start({L"--stdin", L"--exit-at-end"}));
    f.Write("R0\n");
    ASSERT_EQ(f.NextLine(), "R0") << "published";
  }
  void OpenInto(Texts& into) {
    link.Open("Orbitron", "Tracking", "TrackingData",
              [&into](const std::string& t) { into.push_back(Bare(t)); });
  }
  static bool WaitFor(const Texts& got, std::size_t count) {
    return test::PumpUntil([&] { return got.size() >= count; });
  }

  DdeTrackerLink link;
  test::Feed feed;
};

TEST_F(DdeTrackerLinkTest, AbsentTrackerOrItemFailsAtOnce) {
  ASSERT_TRUE(feed.Start({L"--once", L"R0"}));
  ASSERT_EQ(feed.NextLine(), "R0");
  const struct {
    std::string service, topic, item;
    const char* why;
  } cases[] = {
      {"Nobody", "Tracking", "TrackingData", "No tracker is running"},
      {"Orbitron", "Elsewhere", "TrackingData", "No tracker is running"},
      {"Orbitron", "Tracking", "Azimuth", "Cannot follow"},
      {"", "Tracking", "TrackingData", "Not a valid"},
      {"Orbitron", "", "TrackingData", "Not a valid"},
      {"Orbitron", "Tracking", "", "Not a valid"},
      {std::string(256, 'O'), "Tracking", "TrackingData", "Not a valid"},
  };
  Texts got;
  for (const auto& c : cases) {
    const std::string what = c.service + "|" + c.topic + " " + c.item;
    const auto t0 = test::Clock::now();
    try {
      link.Open(c.service, c.topic, c.item, [&got](const std::string& t) { got.push_back(t); });
      ADD_FAILURE() << "opened " << what;
    } catch (const PortError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
    }
    EXPECT_LT(test::MsSince(t0), 5000) << what;
    EXPECT_FALSE(link.Linked()) << what;
  }
  test::PumpFor(200);
  EXPECT_TRUE(got.empty());
}

TEST_F(DdeTrackerLinkTest, CurrentValueFirstThenEveryChangeInOrderAndWhole) {
  StartStdinFeed(feed);
  Texts got;
  OpenInto(got);
  EXPECT_TRUE(got.empty()) << "delivered inside Open";
  EXPECT_TRUE(link.Linked());
  Texts expected{"R0"};
  ASSERT_TRUE(WaitFor(got, 1));
  // One at a time: every value arrives.
  for (int i = 1; i <= 10; ++i) {
    feed.Write(Record(i) + "\n");
    expected.push_back(Record(i));
    ASSERT_TRUE(WaitFor(got, expected.size())) << i;
  }
  test::PumpFor(100);
  EXPECT_EQ(got, expected);

  // A burst: the newest always arrives; anything before it, whole and in order.
  got.clear();
  std::string burst;
  for (int i = 11; i <= 40; ++i) burst += Record(i) + "\n";
  feed.Write(burst);
  ASSERT_TRUE(test::PumpUntil([&] { return !got.empty() && got.back() == Record(40); }));
  test::PumpFor(100);
  int last = 10;
  for (const std::string& text : got) {
    int i = last + 1;
    while (i <= 40 && Record(i) != text) ++i;
    ASSERT_LE(i, 40) << "not one of the burst, or out of order: " << text.substr(0, 30);
    last = i;
  }
  EXPECT_EQ(last, 40);
}

TEST_F(DdeTrackerLinkTest, Windows1252RecordArrivesAsTheSameText) {
  // Ñ and € are single bytes in Windows-1252 (0xD1, 0x80), two and three in UTF-8.
  const std::string record = "SNA\xC3\x91O-1 DN145950000 UP432150000 DMUSB UMLSB \xE2\x82\xAC";
  ASSERT_TRUE(feed.Start({L"--once", dde::Widen(record)}));
  ASSERT_EQ(feed.NextLine(), record);
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  EXPECT_EQ(got, Texts{record});
}

TEST_F(DdeTrackerLinkTest, OpenAgainReplacesTheLinkAndCloseStopsDeliveries) {
  StartStdinFeed(feed);
  Texts first, second;
  OpenInto(first);
  OpenInto(second);  // before the first value got through: it must not
  ASSERT_TRUE(WaitFor(second, 1));
  feed.Write("A\n");
  ASSERT_TRUE(WaitFor(second, 2));
  link.Close();
  EXPECT_FALSE(link.Linked());
  feed.Write("B\n");
  ASSERT_EQ(feed.NextLine(), "A");
  ASSERT_EQ(feed.NextLine(), "B");
  test::PumpFor(200);
  EXPECT_EQ(first, Texts{});
  EXPECT_EQ(second, (Texts{"R0", "A"}));
  link.Close();  // twice is harmless
}

TEST_F(DdeTrackerLinkTest, HandlerMayPumpAndReopenInsideAnUpdate) {
  StartStdinFeed(feed);
  Texts got;
  int depth = 0, deepest = 0, opens = 0;
  std::function<void(const std::string&)> onUpdate = [&](const std::string& text) {
    const std::string t = Bare(text);
    got.push_back(t);
    deepest = std::max(deepest, ++depth);
    if (t == "R0" && ++opens < 3) {
      link.Open("Orbitron", "Tracking", "TrackingData", onUpdate);
    } else if (t == "R0") {
      // As the core's pause does: newer values are handed over inside.
      feed.Write("A\nB\n");
      test::PumpUntil([&] { return got.back() == "B"; });
    }
    --depth;
  };
  link.Open("Orbitron", "Tracking", "TrackingData", onUpdate);
  ASSERT_TRUE(test::PumpUntil([&] { return !got.empty() && got.back() == "B"; }));
  test::PumpFor(200);
  EXPECT_EQ(Texts(got.begin(), got.begin() + 3), (Texts{"R0", "R0", "R0"}));
  EXPECT_EQ(got.back(), "B");
  EXPECT_LE(got.size(), 5u);
  EXPECT_EQ(deepest, 2) << "the newer values came inside the handler's pause";
}

TEST_F(DdeTrackerLinkTest, ValueOverTheBoundIsDropped) {
  StartStdinFeed(feed);
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  // The feed cuts a line at the bound and says so; what it publishes, with the record's CR LF,
  // is still over it.
  feed.Write(std::string(DdeTrackerLink::kMaxValueBytes + 1, 'X') + "\n");
  ASSERT_NE(feed.NextLine().find("64 KiB"), std::string::npos);
  ASSERT_EQ(feed.NextLine().size(), DdeTrackerLink::kMaxValueBytes);
  feed.Write("after\n");
  ASSERT_TRUE(WaitFor(got, 2));
  EXPECT_EQ(got, (Texts{"R0", "after"}));
  EXPECT_TRUE(link.Linked());
}

TEST_F(DdeTrackerLinkTest, TrackerGoingAwayEndsTheLinkAndComingBackLinksAgain) {
  StartStdinFeed(feed);
  Texts got;
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 1));
  feed.Quit();  // it withdraws and ends the conversation
  EXPECT_EQ(feed.WaitForExit(), 0);
  EXPECT_TRUE(test::PumpUntil([&] { return !link.Linked(); })) << "the link saw the end";
  EXPECT_EQ(got, Texts{"R0"}) << "the last value stays";
  EXPECT_THROW(OpenInto(got), PortError);

  // Back again: a new Open links to it.
  test::Feed again;
  ASSERT_TRUE(again.Start({L"--once", L"R1"}));
  ASSERT_EQ(again.NextLine(), "R1");
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 2));
  EXPECT_EQ(got, (Texts{"R0", "R1"}));

  // Gone without a word: nothing more arrives, and closing does not hang.
  again.Kill();
  test::PumpFor(200);
  const auto t0 = test::Clock::now();
  link.Close();
  EXPECT_LT(test::MsSince(t0), 2000);
  test::Feed third;
  ASSERT_TRUE(third.Start({L"--once", L"R2"}));
  ASSERT_EQ(third.NextLine(), "R2");
  OpenInto(got);
  ASSERT_TRUE(WaitFor(got, 3));
  EXPECT_EQ(got, (Texts{"R0", "R1", "R2"}));
}

// What the link hands over, presence included: "+" linked, "-" gone.
struct Heard {
  Texts got;
  explicit Heard(DdeTrackerLink& link) {
    link.SetPresence([this](bool linked) { got.push_back(linked ? "+" : "-"); });
  }
  TrackerLink::Update Update() {
    return [this](const std::string& t) { got.push_back(Bare(t)); };
  }
  bool Now(const Texts& expected, int timeoutMs = 10000) {
    return test::PumpUntil([&] { return got == expected; }, timeoutMs);
  }
};

TEST_F(DdeTrackerLinkTest, FeedStartedLateKilledAndRestartedIsFollowed) {
  Heard heard(link);
  try {
    link.Open("Orbitron", "Tracking", "TrackingData", heard.Update());
    ADD_FAILURE() << "opened an absent tracker";
  } catch (const PortError& e) {
    EXPECT_NE(std::string(e.what()).find("No tracker is running"), std::string::npos) << e.what();
  }
  test::PumpFor(300);
  EXPECT_EQ(heard.got, Texts{});

  {
    test::Feed late;
    ASSERT_TRUE(late.Start({L"--once", L"R1"}));
    ASSERT_EQ(late.NextLine(), "R1");
    const auto t0 = test::Clock::now();
    ASSERT_TRUE(heard.Now({"+", "R1"})) << "never linked to the late feed";
    std::printf("linked %.0f ms after the feed published\n", test::MsSince(t0));
    late.Kill();  // without a word
    ASSERT_TRUE(heard.Now({"+", "R1", "-"})) << "the killed feed was never missed";
    EXPECT_FALSE(link.Linked());
  }
  {
    test::Feed again;
    ASSERT_TRUE(again.Start({L"--stdin", L"--exit-at-end"}));
    again.Write("R2\n");
    ASSERT_EQ(again.NextLine(), "R2");
    ASSERT_TRUE(heard.Now({"+", "R1", "-", "+", "R2"}));
    again.Write("R3\n");
    ASSERT_TRUE(heard.Now({"+", "R1", "-", "+", "R2", "R3"}));
    again.Quit();  // as a tracker closes: it ends the conversation
    EXPECT_EQ(again.WaitForExit(), 0);
    ASSERT_TRUE(heard.Now({"+", "R1", "-", "+", "R2", "R3", "-"}));
  }
  // Closed: a feed that comes now is not linked.
  link.Close();
  test::Feed third;
  ASSERT_TRUE(third.Start({L"--once", L"R4"}));
  ASSERT_EQ(third.NextLine(), "R4");
  test::PumpFor(DdeTrackerLink::kRetryMs + 500);
  EXPECT_EQ(heard.got.size(), 7u);
  EXPECT_FALSE(link.Linked());
}

// A server like Orbitron before its DDE output is switched on: it takes the
// conversation and the advise loop, but answers a read with nothing.
class QuietServer {
 public:
  // Not accepting, it turns every conversation down until Accept: a client
  // that missed its registration must try again to find it.
  explicit QuietServer(bool accepting = true) : accepting_(accepting) {
    thread_ = std::thread([this] { Run(); });
    while (!ready_.load()) test::PumpFor(10);
  }
  ~QuietServer() {
    PostThreadMessageW(threadId_.load(), WM_QUIT, 0, 0);
    thread_.join();
  }
  bool Ready() const { return registered_; }
  void Accept() { accepting_ = true; }
  // Sends value (ASCII) down the advise loop.
  void Publish(const std::string& value) {
    {
      const std::lock_guard lock(mutex_);
      value_ = value;
    }
    PostThreadMessageW(threadId_.load(), WM_APP, 0, 0);
  }

 private:
  static HDDEDATA CALLBACK OnDde(UINT type, UINT format, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR,
                                 ULONG_PTR) {
    QuietServer* s = current_;
    switch (type) {
      case XTYP_CONNECT:
        return reinterpret_cast<HDDEDATA>(static_cast<UINT_PTR>(s->accepting_.load()));
      case XTYP_ADVSTART:
        return reinterpret_cast<HDDEDATA>(static_cast<UINT_PTR>(format == CF_TEXT));
      case XTYP_ADVREQ: {
        const std::lock_guard lock(s->mutex_);
        return dde::MakeText(s->instance_, s->item_.get(), s->value_);
      }
      default:  // the read among them: nothing
        return nullptr;
    }
  }
  void Run() {
    current_ = this;
    threadId_ = GetCurrentThreadId();
    MSG msg;
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    if (DdeInitializeW(&instance_, &OnDde, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0) ==
        DMLERR_NO_ERROR) {
      service_ = dde::Name(instance_, "Orbitron");
      topic_ = dde::Name(instance_, "Tracking");
      item_ = dde::Name(instance_, "TrackingData");
      registered_ = DdeNameService(instance_, service_.get(), nullptr, DNS_REGISTER) != nullptr;
    }
    ready_ = true;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.message == WM_APP && !msg.hwnd) {
        DdePostAdvise(instance_, topic_.get(), item_.get());
        continue;
      }
      DispatchMessageW(&msg);
    }
    if (instance_) {
      service_ = {};
      topic_ = {};
      item_ = {};
      DdeUninitialize(instance_);
    }
  }

  static inline thread_local QuietServer* current_ = nullptr;
  std::atomic<bool> accepting_;
  std::thread thread_;
  std::atomic<DWORD> threadId_{0};
  std::atomic<bool> ready_{false};
  bool registered_ = false;
  DWORD instance_ = 0;
  dde::Name service_, topic_, item_;
  std::mutex mutex_;
  std::string value_;
};

TEST_F(DdeTrackerLinkTest, ServerThatWasNotReadyAtItsRegistrationIsFoundByTheSlowRetry) {
  QuietServer late(false);
  ASSERT_TRUE(late.Ready());
  Heard heard(link);
  EXPECT_THROW(link.Open("Orbitron", "Tracking", "TrackingData", heard.Update()), PortError);
  late.Accept();
  ASSERT_TRUE(heard.Now({"+"}, DdeTrackerLink::kRetryMs + 3000));
  late.Publish("R1\r\n");
  ASSERT_TRUE(heard.Now({"+", "R1"}));
}

TEST_F(DdeTrackerLinkTest, ReadAnsweredWithNothingStillLinksAndValuesFollow) {
  QuietServer quiet;
  ASSERT_TRUE(quiet.Ready());
  Texts got;
  OpenInto(got);
  EXPECT_TRUE(link.Linked());
  test::PumpFor(200);
  EXPECT_EQ(got, Texts{}) << "nothing to hand over yet";
  quiet.Publish("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB\r\n");
  ASSERT_TRUE(WaitFor(got, 1));
  EXPECT_EQ(got, Texts{"SNAO-07 DN145950000 UP432150000 DMUSB UMLSB"});
}

}  // namespace
}  // namespace pasotune
