// What every TcpClient adapter must do towards the core, whatever sockets it
// wraps. A platform instantiates these cases with a host that holds its
// pump, its client and a listening peer of its own:
//   struct Host {
//     SomePump pump; SomeClient client; int port;
//     static constexpr std::size_t kMaxTake;      // the client's bound
//     bool Listen(); void StopListening();
//     bool AcceptPeer();                           // once the client connected
//     void PeerSend(std::string_view bytes);
//     void PeerSendAllThenClose(std::string bytes);
//     void PeerClose();
//     std::string PeerRead(std::size_t size);      // at least size bytes, or what came
//   };
//   INSTANTIATE_TYPED_TEST_SUITE_P(Name, TcpClientContract, Host);
// Each platform's file adds what only its client does.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/ports.hpp"
#include "platform/pump_until.hpp"

namespace pasotune::test {

template <class Host>
class TcpClientContract : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.Listen());
    host.client.SetEvents(Recording());
  }

  TcpClient::Events Recording() {
    return {
        .connected = [this] { events.push_back("connected"); },
        .closed = [this] { events.push_back("closed"); },
        .dataArrival = [this](long n) { events.push_back("data " + std::to_string(n)); },
        .error =
            [this](int n, const std::string& d) {
              events.push_back("error " + std::to_string(n) + " " + d);
            },
    };
  }
  // Connects the client and takes the peer's end.
  bool ConnectPeer() {
    host.client.Connect("127.0.0.1", host.port);
    return PumpUntil(host.pump, [&] { return host.client.State() == sck::kConnected; }) &&
           host.AcceptPeer();
  }
  void PumpFor(int ms) {
    PumpUntil(
        host.pump, [] { return false; }, ms);
  }

  Host host;
  std::vector<std::string> events;
};

TYPED_TEST_SUITE_P(TcpClientContract);

TYPED_TEST_P(TcpClientContract, RefusedConnectionRaisesTheErrorEvent) {
  auto& client = this->host.client;
  auto& events = this->events;
  this->host.StopListening();  // nothing listens on the port now
  client.Connect("127.0.0.1", this->host.port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(events.empty()) << "no event from inside Connect";
  ASSERT_TRUE(PumpUntil(
      this->host.pump, [&] { return !events.empty(); }, 10000));
  this->PumpFor(50);
  EXPECT_EQ(events, std::vector<std::string>{"error 10061 Connection is forcefully rejected"});
  EXPECT_EQ(client.State(), sck::kError);
  // As with Winsock, only a Close makes it usable again.
  EXPECT_THROW(client.Connect("127.0.0.1", this->host.port), PortError);
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
}

TYPED_TEST_P(TcpClientContract, ConnectingThenConnected) {
  auto& client = this->host.client;
  client.Connect("127.0.0.1", this->host.port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(this->events.empty());
  ASSERT_TRUE(PumpUntil(this->host.pump, [&] { return !this->events.empty(); }));
  EXPECT_EQ(this->events, std::vector<std::string>{"connected"});
  EXPECT_EQ(client.State(), sck::kConnected);
  EXPECT_THROW(client.Connect("127.0.0.1", this->host.port), PortError);
  EXPECT_EQ(client.State(), sck::kConnected);
}

TYPED_TEST_P(TcpClientContract, PeerCloseRaisesClosedAndNoError) {
  auto& client = this->host.client;
  ASSERT_TRUE(this->ConnectPeer());
  this->host.PeerClose();
  ASSERT_TRUE(PumpUntil(this->host.pump, [&] { return client.State() != sck::kConnected; }));
  this->PumpFor(100);
  EXPECT_EQ(this->events, (std::vector<std::string>{"connected", "closed"}));
  EXPECT_EQ(client.State(), sck::kClosing);
  EXPECT_THROW(client.SendData("X\r\n"), PortError);
  client.Close();
  this->PumpFor(50);
  EXPECT_EQ(client.State(), sck::kClosed);
  EXPECT_EQ(this->events.size(), 2u);
}

// One event until the data is taken; then GetData hands over everything
// that came, decoded from Windows-1252.
TYPED_TEST_P(TcpClientContract, DataInChunksIsAnnouncedOnceAndTakenWhole) {
  auto& client = this->host.client;
  auto& events = this->events;
  ASSERT_TRUE(this->ConnectPeer());
  events.clear();
  this->host.PeerSend("Velkor ");
  ASSERT_TRUE(PumpUntil(this->host.pump, [&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"data 7"});
  this->host.PeerSend("READY \xE9\x80\r\n");
  this->PumpFor(150);
  EXPECT_EQ(events.size(), 1u) << "second chunk announced before the first was taken";
  EXPECT_EQ(client.GetData(), "Velkor READY \xC3\xA9\xE2\x82\xAC\r\n");
  EXPECT_EQ(client.GetData(), "");
  this->PumpFor(50);
  EXPECT_EQ(events.size(), 1u) << "announced with nothing waiting";
  this->host.PeerSend("OK\r\n");
  ASSERT_TRUE(PumpUntil(this->host.pump, [&] { return events.size() == 2; }));
  EXPECT_EQ(events.back(), "data 4");
  EXPECT_EQ(client.GetData(), "OK\r\n");
}

// What the engine says before it closes is still handed over, piece by
// piece, before the close is told.
TYPED_TEST_P(TcpClientContract, DataBeforeAPeerCloseComesInBoundedPiecesThenTheClose) {
  auto& client = this->host.client;
  auto& events = this->events;
  ASSERT_TRUE(this->ConnectPeer());
  events.clear();
  std::string taken;
  std::size_t biggest = 0;
  TcpClient::Events taking;
  taking.closed = [&events] { events.push_back("closed"); };
  taking.dataArrival = [&](long) {
    events.push_back("data");
    const std::string piece = client.GetData();
    biggest = std::max(biggest, piece.size());
    taken += piece;
  };
  client.SetEvents(taking);
  std::string sent;
  for (int i = 0; sent.size() < 300 * 1024; ++i) sent += "line " + std::to_string(i) + "\r\n";
  this->host.PeerSendAllThenClose(sent);
  ASSERT_TRUE(PumpUntil(
      this->host.pump, [&] { return !events.empty() && events.back() == "closed"; }, 20000));
  this->PumpFor(100);
  EXPECT_EQ(taken, sent);
  EXPECT_LE(biggest, std::size_t{TypeParam::kMaxTake});
  EXPECT_GE(events.size(), sent.size() / TypeParam::kMaxTake + 2);
  EXPECT_EQ(events.back(), "closed");
  EXPECT_EQ(std::count(events.begin(), events.end(), "closed"), 1);
}

TYPED_TEST_P(TcpClientContract, LocalCloseRaisesNothing) {
  auto& client = this->host.client;
  ASSERT_TRUE(this->ConnectPeer());
  this->events.clear();
  this->host.PeerSend("Velkor READY\r\n");
  this->host.PeerClose();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // on our side of the wire by now
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
  this->PumpFor(200);
  EXPECT_TRUE(this->events.empty());
  EXPECT_EQ(client.State(), sck::kClosed);
  EXPECT_THROW(client.GetData(), PortError);
}

TYPED_TEST_P(TcpClientContract, SendDataPutsWindows1252OnTheWire) {
  ASSERT_TRUE(this->ConnectPeer());
  const struct {
    std::string text;
    std::string wire;
  } cases[] = {
      {"SET FREQ MAIN 145.9500\r\n", "SET FREQ MAIN 145.9500\r\n"},
      {"\xC3\xA9", "\xE9"},           // é
      {"\xE2\x82\xAC", "\x80"},       // €
      {"\xE6\xBC\xA2\r\n", "?\r\n"},  // outside the code page
  };
  for (const auto& c : cases) {
    this->host.client.SendData(c.text);
    EXPECT_EQ(this->host.PeerRead(c.wire.size()), c.wire) << c.text;
  }
}

TYPED_TEST_P(TcpClientContract, BadCallsThrowAndChangeNothing) {
  auto& client = this->host.client;
  EXPECT_THROW(client.SendData("X"), PortError);
  EXPECT_THROW(client.GetData(), PortError);
  for (int bad : {0, -1, 65536}) {
    EXPECT_THROW(client.Connect("127.0.0.1", bad), PortError) << bad;
    EXPECT_EQ(client.State(), sck::kClosed);
  }
  EXPECT_THROW(client.Connect("", this->host.port), PortError);
  client.Close();  // closing a closed client is fine
  this->PumpFor(50);
  EXPECT_TRUE(this->events.empty());
}

REGISTER_TYPED_TEST_SUITE_P(TcpClientContract, RefusedConnectionRaisesTheErrorEvent,
                            ConnectingThenConnected, PeerCloseRaisesClosedAndNoError,
                            DataInChunksIsAnnouncedOnceAndTakenWhole,
                            DataBeforeAPeerCloseComesInBoundedPiecesThenTheClose,
                            LocalCloseRaisesNothing, SendDataPutsWindows1252OnTheWire,
                            BadCallsThrowAndChangeNothing);

}  // namespace pasotune::test
