#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/win32_event_pump.hpp"
#include "platform/win32/winsock_tcp_client.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

// A blocking socket that closes itself.
class Socket {
 public:
  Socket() = default;
  explicit Socket(SOCKET s) : s_(s) {}
  ~Socket() { Close(); }
  Socket(Socket&& o) noexcept : s_(o.s_) { o.s_ = INVALID_SOCKET; }
  Socket& operator=(Socket&& o) noexcept {
    std::swap(s_, o.s_);
    return *this;
  }
  SOCKET Get() const { return s_; }
  void Close() {
    if (s_ != INVALID_SOCKET) ::closesocket(s_);
    s_ = INVALID_SOCKET;
  }
  // Waits at most timeoutMs for the socket to be readable.
  bool Readable(int timeoutMs) const {
    WSAPOLLFD p{s_, POLLRDNORM, 0};
    return ::WSAPoll(&p, 1, timeoutMs) == 1;
  }
  void Send(std::string_view bytes) const {
    ::send(s_, bytes.data(), static_cast<int>(bytes.size()), 0);
  }

 private:
  SOCKET s_ = INVALID_SOCKET;
};

class WinsockTcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The client has started Winsock by now.
    listener = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ASSERT_NE(listener.Get(), INVALID_SOCKET);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener.Get(), 4), 0);
    int size = sizeof address;
    ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    client.SetEvents({
        .connected = [this] { events.push_back("connected"); },
        .closed = [this] { events.push_back("closed"); },
        .dataArrival = [this](long n) { events.push_back("data " + std::to_string(n)); },
        .error =
            [this](int n, const std::string& d) {
              events.push_back("error " + std::to_string(n) + " " + d);
            },
    });
  }

  // Connects the client and hands back the listener's end.
  Socket ConnectPeer(const std::string& host = "127.0.0.1") {
    client.Connect(host, port);
    EXPECT_TRUE(test::PumpUntil(pump, [&] { return client.State() == sck::kConnected; }));
    if (!listener.Readable(5000)) return Socket();
    return Socket(::accept(listener.Get(), nullptr, nullptr));
  }

  std::string ReadPeer(const Socket& peer, std::size_t size) {
    std::string got;
    char buffer[4096];
    while (got.size() < size && peer.Readable(5000)) {
      const int n = ::recv(peer.Get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  Win32EventPump pump;
  WinsockTcpClient client;
  Socket listener;
  int port = 0;
  std::vector<std::string> events;
};

TEST_F(WinsockTcpClientTest, RefusedConnectionRaisesTheErrorEvent) {
  listener.Close();  // nothing listens on the port now
  client.Connect("127.0.0.1", port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(events.empty()) << "no event from inside Connect";
  ASSERT_TRUE(test::PumpUntil(
      pump, [&] { return !events.empty(); }, 10000));
  test::PumpFor(pump, 50);
  EXPECT_EQ(events, std::vector<std::string>{"error 10061 Connection is forcefully rejected"});
  EXPECT_EQ(client.State(), sck::kError);
  // As with Winsock, only a Close makes it usable again.
  EXPECT_THROW(client.Connect("127.0.0.1", port), PortError);
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
}

TEST_F(WinsockTcpClientTest, ConnectingThenConnectedByAddressOrName) {
  for (const char* host : {"127.0.0.1", "localhost"}) {
    events.clear();
    client.Connect(host, port);
    EXPECT_EQ(client.State(), sck::kConnecting) << host;
    EXPECT_TRUE(events.empty()) << host;
    ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); })) << host;
    EXPECT_EQ(events, std::vector<std::string>{"connected"}) << host;
    EXPECT_EQ(client.State(), sck::kConnected) << host;
    EXPECT_THROW(client.Connect(host, port), PortError) << host;
    EXPECT_EQ(client.State(), sck::kConnected) << host;
    client.Close();
  }
}

TEST_F(WinsockTcpClientTest, PeerCloseRaisesClosedAndNoError) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
  peer.Close();
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return client.State() != sck::kConnected; }));
  test::PumpFor(pump, 100);
  EXPECT_EQ(events, (std::vector<std::string>{"connected", "closed"}));
  EXPECT_EQ(client.State(), sck::kClosing);
  EXPECT_THROW(client.SendData("X\r\n"), PortError);
  client.Close();
  test::PumpFor(pump, 50);
  EXPECT_EQ(client.State(), sck::kClosed);
  EXPECT_EQ(events.size(), 2u);
}

// One event until the data is taken; then GetData hands over everything
// that came, decoded from Windows-1252.
TEST_F(WinsockTcpClientTest, DataInChunksIsAnnouncedOnceAndTakenWhole) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
  events.clear();
  peer.Send("Velkor ");
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"data 7"});
  peer.Send("READY \xE9\x80\r\n");
  test::PumpFor(pump, 150);
  EXPECT_EQ(events.size(), 1u) << "second chunk announced before the first was taken";
  EXPECT_EQ(client.GetData(), "Velkor READY \xC3\xA9\xE2\x82\xAC\r\n");
  EXPECT_EQ(client.GetData(), "");
  test::PumpFor(pump, 50);
  EXPECT_EQ(events.size(), 1u) << "announced with nothing waiting";
  peer.Send("OK\r\n");
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return events.size() == 2; }));
  EXPECT_EQ(events.back(), "data 4");
  EXPECT_EQ(client.GetData(), "OK\r\n");
}

// What the engine says before it closes is still handed over, piece by
// piece, before the close is told.
TEST_F(WinsockTcpClientTest, DataBeforeAPeerCloseComesInBoundedPiecesThenTheClose) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
  events.clear();
  std::string taken;
  std::size_t biggest = 0;
  TcpClient::Events taking;
  taking.closed = [this] { events.push_back("closed"); };
  taking.dataArrival = [&](long) {
    events.push_back("data");
    const std::string piece = client.GetData();
    biggest = std::max(biggest, piece.size());
    taken += piece;
  };
  client.SetEvents(taking);
  std::string sent;
  for (int i = 0; sent.size() < 300 * 1024; ++i) sent += "line " + std::to_string(i) + "\r\n";
  // From another thread, as the peer's buffer may not hold it all at once.
  std::thread writer([&] {
    for (std::size_t at = 0; at < sent.size();) {
      const int n = ::send(peer.Get(), sent.data() + at,
                           static_cast<int>(std::min<std::size_t>(sent.size() - at, 65536)), 0);
      if (n <= 0) break;
      at += static_cast<std::size_t>(n);
    }
    ::shutdown(peer.Get(), SD_SEND);
  });
  const bool closed = test::PumpUntil(
      pump, [&] { return !events.empty() && events.back() == "closed"; }, 20000);
  writer.join();
  ASSERT_TRUE(closed);
  test::PumpFor(pump, 100);
  EXPECT_EQ(taken, sent);
  EXPECT_LE(biggest, WinsockTcpClient::kMaxTake);
  EXPECT_GE(events.size(), sent.size() / WinsockTcpClient::kMaxTake + 2);
  EXPECT_EQ(events.back(), "closed");
  EXPECT_EQ(std::count(events.begin(), events.end(), "closed"), 1);
}

// A peer that sends without end: while nobody takes, the client holds at
// most kMaxTake and the rest waits in the kernel, which holds the peer back.
TEST_F(WinsockTcpClientTest, UntakenDataWaitsInTheKernelNotHere) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
  events.clear();
  constexpr std::size_t kTotal = std::size_t{16} << 20;
  const auto byteAt = [](std::size_t offset) { return static_cast<char>('a' + offset % 26); };
  std::atomic<std::size_t> sent{0};
  std::thread writer([&] {
    std::string chunk(64 * 1024, '\0');
    while (sent < kTotal) {
      for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = byteAt(sent + i);
      const int n = ::send(peer.Get(), chunk.data(), static_cast<int>(chunk.size()), 0);
      if (n <= 0) return;
      sent += static_cast<std::size_t>(n);
    }
  });
  test::PumpFor(pump, 1000);
  const std::size_t sentWhileWaiting = sent;
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].rfind("data ", 0), 0u) << events[0];
  EXPECT_LT(sentWhileWaiting, kTotal) << "the peer was never held back";

  // Taking makes room: everything arrives, whole and in order, in bounded
  // pieces.
  std::size_t taken = 0;
  std::size_t biggest = 0;
  bool intact = true;
  const auto take = [&] {
    const std::string piece = client.GetData();
    biggest = std::max(biggest, piece.size());
    for (std::size_t i = 0; i < piece.size() && intact; ++i) intact = piece[i] == byteAt(taken + i);
    taken += piece.size();
  };
  TcpClient::Events taking;
  taking.dataArrival = [&](long) { take(); };
  client.SetEvents(taking);
  take();
  const bool all = test::PumpUntil(
      pump, [&] { return taken >= kTotal; }, 120000);
  writer.join();
  EXPECT_TRUE(all) << taken << " of " << kTotal;
  EXPECT_TRUE(intact);
  EXPECT_EQ(taken, kTotal);
  EXPECT_LE(biggest, WinsockTcpClient::kMaxTake);
  std::printf("%.1f MiB sent while nobody took\n",
              static_cast<double>(sentWhileWaiting) / (1 << 20));
}

TEST_F(WinsockTcpClientTest, LocalCloseRaisesNothing) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
  events.clear();
  peer.Send("Velkor READY\r\n");
  peer.Close();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // on our side of the wire by now
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
  test::PumpFor(pump, 200);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(client.State(), sck::kClosed);
  EXPECT_THROW(client.GetData(), PortError);
}

TEST_F(WinsockTcpClientTest, SendDataPutsWindows1252OnTheWire) {
  Socket peer = ConnectPeer();
  ASSERT_NE(peer.Get(), INVALID_SOCKET);
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
    client.SendData(c.text);
    EXPECT_EQ(ReadPeer(peer, c.wire.size()), c.wire) << c.text;
  }
}

TEST_F(WinsockTcpClientTest, BadCallsThrowAndChangeNothing) {
  EXPECT_THROW(client.SendData("X"), PortError);
  EXPECT_THROW(client.GetData(), PortError);
  for (int bad : {0, -1, 65536}) {
    EXPECT_THROW(client.Connect("127.0.0.1", bad), PortError) << bad;
    EXPECT_EQ(client.State(), sck::kClosed);
  }
  EXPECT_THROW(client.Connect("", port), PortError);
  client.Close();  // closing a closed client is fine
  test::PumpFor(pump, 50);
  EXPECT_TRUE(events.empty());
}

}  // namespace
}  // namespace pasotune
