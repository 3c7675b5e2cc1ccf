// The Windows pasotune-feed answering Gpredict over Winsock while it serves
// DDE: each transcript replayed through a real socket, the records through
// the tracker link.
#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "feed_clients.hpp"
#include "gpredict_replay.hpp"
#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "platform/win32/win32_api.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

using Texts = std::vector<std::string>;

const std::filesystem::path kData = GPREDICT_DATA;

class Winsock {
 public:
  Winsock() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }
  ~Winsock() {
    if (started_) WSACleanup();
  }

 private:
  bool started_ = false;
};

// A port nothing listens on just now.
int FreePort() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int size = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &size);
  closesocket(s);
  return ntohs(a.sin_port);
}

// Gpredict's side: one blocking socket, each command answered within 2 s.
class Client {
 public:
  explicit Client(int port) {
    s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 2000;
    setsockopt(s_, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
               sizeof timeout);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<u_short>(port));
    connected_ = connect(s_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~Client() { closesocket(s_); }
  bool Connected() const { return connected_; }
  void Send(const std::string& bytes) { send(s_, bytes.data(), static_cast<int>(bytes.size()), 0); }
  // One line, LF included; nothing when none came in time or the feed closed.
  std::optional<std::string> Line() {
    std::string line;
    char c;
    while (recv(s_, &c, 1, 0) == 1) {
      line += c;
      if (c == '\n') return line;
    }
    return std::nullopt;
  }
  bool ClosedByFeed() {
    char c;
    return recv(s_, &c, 1, 0) == 0;
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
  bool connected_ = false;
};

// The next record the feed printed; what it tells on standard error comes
// in line with them.
std::string NextRecord(test::Feed& feed) {
  std::string line;
  while ((line = feed.NextLine()).rfind("pasotune-feed: ", 0) == 0) {
  }
  return line;
}

// Starts the feed on args and reads its lines up to the one saying it
// answers Gpredict.
::testing::AssertionResult StartAnswering(test::Feed& feed, const std::vector<std::wstring>& args) {
  if (!feed.Start(args)) return ::testing::AssertionFailure() << "the feed did not start";
  for (std::string line; (line = feed.NextLine()).rfind("answering", 0) != 0;) {
    if (line.empty()) return ::testing::AssertionFailure() << "never answered";
  }
  return ::testing::AssertionSuccess();
}

TEST(FeedGpredict, EveryTranscriptOverWinsockToTheDdeLink) {
  const Winsock winsock;
  for (const char* name : test::kGpredictTranscripts) {
    SCOPED_TRACE(name);
    const test::GpredictReplay plan = test::PlanGpredictReplay(kData, name);
    const int port = FreePort();
    test::Feed feed;
    // Its lines: what it found, that it answers, then each record.
    ASSERT_TRUE(StartAnswering(feed, {dde::Widen(plan.option), std::to_wstring(port),
                                      L"--gpredict-config", (kData / "config").wstring()}));
    Client gpredict(port);
    ASSERT_TRUE(gpredict.Connected());
    // The link is opened once the first record is out, as a user starts
    // the program beside a feed already tracking.
    DdeTrackerLink link;
    Texts got;
    std::size_t printed = 0;
    for (const test::GpredictExchange& e : plan.exchanges) {
      const std::optional<std::string> needed = test::NeededReply(e);
      gpredict.Send(e.command + "\n");
      if (!needed) {
        EXPECT_TRUE(gpredict.ClosedByFeed()) << "q ends the session";
        break;
      }
      EXPECT_EQ(gpredict.Line(), needed) << e.command;
      test::PumpFor(0);
      if (printed == 0 && (e.command[0] == 'F' || e.command[0] == 'I')) {
        ASSERT_EQ(NextRecord(feed) + "\r\n", plan.records.front());
        ++printed;
        link.Open("Orbitron", "Tracking", "TrackingData",
                  [&got](const std::string& t) { got.push_back(t); });
      }
    }
    for (; printed < plan.records.size(); ++printed) {
      EXPECT_EQ(NextRecord(feed) + "\r\n", plan.records[printed]);
    }
    EXPECT_TRUE(test::PumpUntil([&] { return test::InOrderEndingWithTheLast(got, plan.records); }))
        << got.size() << " got, the last: " << (got.empty() ? "" : got.back());
    link.Close();
    feed.Quit();
    EXPECT_EQ(feed.WaitForExit(), 0);
  }
}

TEST(FeedGpredict, ASecondClientIsToldAndClosedAndTheFirstGoesOn) {
  const Winsock winsock;
  const int port = FreePort();
  test::Feed feed;
  ASSERT_TRUE(StartAnswering(feed, {L"--gpredict", std::to_wstring(port), L"--gpredict-config",
                                    (kData / "nowhere").wstring(), L"--name", L"AO-07"}));
  Client first(port);
  first.Send("F 145950000\n");
  EXPECT_EQ(first.Line(), "RPRT 0\n");
  EXPECT_EQ(feed.NextLine(), "SNAO-07 DN145950000");
  Client second(port);
  EXPECT_EQ(second.Line(), "RPRT -14\n");
  EXPECT_TRUE(second.ClosedByFeed());
  EXPECT_NE(feed.NextLine().find("se rechaza un segundo cliente"), std::string::npos);
  first.Send(std::string(100000, 'x') + "\nf\n");
  EXPECT_EQ(first.Line(), "RPRT -1\n");
  EXPECT_EQ(first.Line(), "145950000\n");
  EXPECT_NE(feed.NextLine().find("más de 256 bytes"), std::string::npos);
  feed.Quit();
  EXPECT_EQ(feed.WaitForExit(), 0);
}

// Every answer reaches a client that pipelines its reads, one that ends its
// side once it has sent, and one that comes back the moment it left.
TEST(FeedGpredict, EveryClientGetsEveryAnswer) {
  const Winsock winsock;
  const int port = FreePort();
  test::Feed feed;
  ASSERT_TRUE(StartAnswering(feed, {L"--gpredict", std::to_wstring(port), L"--gpredict-config",
                                    (kData / "nowhere").wstring(), L"--name", L"AO-07"}));
  test::ExpectEveryClientGetsEveryAnswer(port);
  feed.Quit();
  for (std::string line; !(line = feed.NextLine(3000)).empty() || feed.Running();) {
    EXPECT_EQ(line.find("se cierra"), std::string::npos) << line;
    EXPECT_EQ(line.find("se rechaza un segundo"), std::string::npos) << line;
  }
  EXPECT_EQ(feed.WaitForExit(), 0);
}

}  // namespace
}  // namespace pasotune
