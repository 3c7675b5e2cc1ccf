#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/qt/qt_event_pump.hpp"
#include "platform/qt/qt_tcp_client.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

class QtTcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    port = server.serverPort();
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

  // Connects the client and hands back the server's end.
  QTcpSocket* ConnectPeer() {
    client.Connect("127.0.0.1", port);
    EXPECT_TRUE(test::PumpUntil(pump, [&] { return client.State() == sck::kConnected; }));
    EXPECT_TRUE(test::PumpUntil(pump, [&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    EXPECT_NE(peer, nullptr);
    return peer;
  }

  std::string ReadPeer(QTcpSocket* peer, std::size_t size) {
    std::string got;
    test::PumpUntil(pump, [&] {
      const QByteArray b = peer->readAll();
      got.append(b.constData(), static_cast<std::size_t>(b.size()));
      return got.size() >= size;
    });
    return got;
  }

  QtEventPump pump;
  QTcpServer server;
  quint16 port = 0;
  QtTcpClient client;
  std::vector<std::string> events;
};

TEST_F(QtTcpClientTest, RefusedConnectionRaisesTheErrorEvent) {
  server.close();  // nothing listens on the port now
  client.Connect("127.0.0.1", port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(events.empty()) << "no event from inside Connect";
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); }));
  test::PumpFor(pump, 50);
  EXPECT_EQ(events, std::vector<std::string>{"error 10061 Connection is forcefully rejected"});
  EXPECT_EQ(client.State(), sck::kError);
  // As with Winsock, only a Close makes it usable again.
  EXPECT_THROW(client.Connect("127.0.0.1", port), PortError);
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
}

TEST_F(QtTcpClientTest, ConnectingThenConnected) {
  client.Connect("127.0.0.1", port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"connected"});
  EXPECT_EQ(client.State(), sck::kConnected);
  EXPECT_THROW(client.Connect("127.0.0.1", port), PortError);
  EXPECT_EQ(client.State(), sck::kConnected);
}

TEST_F(QtTcpClientTest, PeerCloseRaisesClosedAndNoError) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
  peer->disconnectFromHost();
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
TEST_F(QtTcpClientTest, DataInChunksIsAnnouncedOnceAndTakenWhole) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
  events.clear();
  peer->write("Velkor ");
  peer->flush();
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"data 7"});
  peer->write("READY \xE9\x80\r\n");
  peer->flush();
  test::PumpFor(pump, 150);
  EXPECT_EQ(events.size(), 1u) << "second chunk announced before the first was taken";
  EXPECT_EQ(client.GetData(), "Velkor READY \xC3\xA9\xE2\x82\xAC\r\n");
  EXPECT_EQ(client.GetData(), "");
  peer->write("OK\r\n");
  peer->flush();
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return events.size() == 2; }));
  EXPECT_EQ(events.back(), "data 4");
  EXPECT_EQ(client.GetData(), "OK\r\n");
}

// What the engine says after a peer close is still handed over, piece by
// piece, before the close is told.
TEST_F(QtTcpClientTest, DataBeforeAPeerCloseComesInBoundedPiecesThenTheClose) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
  events.clear();
  std::string taken;
  std::size_t biggest = 0;
  client.SetEvents({
      .connected = nullptr,
      .closed = [this] { events.push_back("closed"); },
      .dataArrival =
          [&](long) {
            events.push_back("data");
            const std::string piece = client.GetData();
            biggest = std::max(biggest, piece.size());
            taken += piece;
          },
      .error = nullptr,
  });
  std::string sent;
  for (int i = 0; sent.size() < 300 * 1024; ++i) sent += "line " + std::to_string(i) + "\r\n";
  peer->write(sent.data(), static_cast<qint64>(sent.size()));
  peer->disconnectFromHost();  // once everything is written
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty() && events.back() == "closed"; }));
  test::PumpFor(pump, 100);
  EXPECT_EQ(taken, sent);
  EXPECT_LE(biggest, std::size_t{QtTcpClient::kMaxTake});
  EXPECT_GE(events.size(), sent.size() / QtTcpClient::kMaxTake + 2);
  EXPECT_EQ(events.back(), "closed");
}

// 74 MiB without a line end: taken 64 KiB at a time, and while nobody takes
// it the rest waits in the kernel, not here.
TEST_F(QtTcpClientTest, HugeReplyIsTakenInBoundedPiecesAndWaitsInTheKernel) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
  constexpr std::size_t kTotal = std::size_t{74} << 20;
  const std::string chunk(64 * 1024, '\xE9');  // é in Windows-1252
  std::string utf8;
  for (std::size_t i = 0; i < QtTcpClient::kMaxTake; ++i) utf8 += "\xC3\xA9";
  bool taking = false;
  std::size_t taken = 0, biggest = 0, arrivals = 0;
  bool intact = true;
  const auto take = [&] {
    const std::string piece = client.GetData();
    biggest = std::max(biggest, piece.size());
    intact = intact && piece.size() % 2 == 0 && utf8.compare(0, piece.size(), piece) == 0;
    taken += piece.size() / 2;
  };
  client.SetEvents({.connected = nullptr,
                    .closed = nullptr,
                    .dataArrival =
                        [&](long) {
                          ++arrivals;
                          if (taking) take();
                        },
                    .error = nullptr});

  const test::MemoryWatch memory;
  const test::LoopLag lag;
  std::atomic<std::size_t> sent{0};
  const int fd = static_cast<int>(peer->socketDescriptor());
  std::thread writer([&] {
    while (sent < kTotal) {
      const ssize_t n =
          ::send(fd, chunk.data(), std::min(chunk.size(), kTotal - sent), MSG_NOSIGNAL);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 20000) <= 0) return;
      } else if (n < 0 && errno != EINTR) {
        return;
      }
    }
  });
  // A program that is slow to take: the first arrival is left waiting.
  test::PumpFor(pump, 500);
  const std::size_t sentWhileWaiting = sent;
  EXPECT_EQ(arrivals, 1u);
  taking = true;
  take();
  const bool all = test::PumpUntil(
      pump, [&] { return taken >= kTotal; }, 60000 * test::kSlowdown);
  writer.join();
  ASSERT_TRUE(all) << taken << " of " << kTotal;
  EXPECT_TRUE(intact);
  EXPECT_EQ(taken, kTotal);
  EXPECT_LE(biggest, 2 * QtTcpClient::kMaxTake);
  EXPECT_LT(lag.MaxCpuMs(), test::LoopLag::kMaxCpuMs);
  EXPECT_LT(lag.MaxWallMs(), test::LoopLag::kMaxWallMs);
  if (memory.Valid()) {
    EXPECT_LT(memory.PeakGrowthMb(), 100);
  }
  std::printf(
      "74 MiB reply: %zu arrivals, loop lag %.1f ms (cpu %.1f ms), memory %s, %.1f MiB "
      "sent while nobody took\n",
      arrivals, lag.MaxWallMs(), lag.MaxCpuMs(), memory.Text().c_str(),
      static_cast<double>(sentWhileWaiting) / (1 << 20));
}

TEST_F(QtTcpClientTest, LocalCloseRaisesNothing) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
  events.clear();
  peer->write("Velkor READY\r\n");
  peer->flush();
  peer->disconnectFromHost();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));  // on our side of the wire by now
  client.Close();
  EXPECT_EQ(client.State(), sck::kClosed);
  test::PumpFor(pump, 200);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(client.State(), sck::kClosed);
  EXPECT_THROW(client.GetData(), PortError);
}

TEST_F(QtTcpClientTest, SendDataPutsWindows1252OnTheWire) {
  QTcpSocket* peer = ConnectPeer();
  ASSERT_NE(peer, nullptr);
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

TEST_F(QtTcpClientTest, BadCallsThrowAndChangeNothing) {
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
