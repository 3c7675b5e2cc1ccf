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

#include "../common/tcp_client_contract.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "platform/qt/qt_tcp_client.hpp"
#include "support.hpp"

namespace pasotune {
namespace test {

// The host of the shared cases: a QTcpServer on the same event loop.
struct QtTcpHost {
  QtEventPump pump;
  QtTcpClient client;
  QTcpServer server;
  int port = 0;
  QTcpSocket* peer = nullptr;
  static constexpr std::size_t kMaxTake = QtTcpClient::kMaxTake;

  bool Listen() {
    if (!server.listen(QHostAddress::LocalHost, 0)) return false;
    port = server.serverPort();
    return true;
  }
  void StopListening() { server.close(); }
  bool AcceptPeer() {
    if (!PumpUntil(pump, [&] { return server.hasPendingConnections(); })) return false;
    peer = server.nextPendingConnection();
    return peer != nullptr;
  }
  void PeerSend(std::string_view bytes) {
    peer->write(bytes.data(), static_cast<qint64>(bytes.size()));
    peer->flush();
  }
  void PeerSendAllThenClose(const std::string& bytes) {
    peer->write(bytes.data(), static_cast<qint64>(bytes.size()));
    peer->disconnectFromHost();  // once everything is written
  }
  void PeerClose() { peer->disconnectFromHost(); }
  std::string PeerRead(std::size_t size) {
    std::string got;
    PumpUntil(pump, [&] {
      const QByteArray b = peer->readAll();
      got.append(b.constData(), static_cast<std::size_t>(b.size()));
      return got.size() >= size;
    });
    return got;
  }
};
INSTANTIATE_TYPED_TEST_SUITE_P(TcpClient, TcpClientContract, QtTcpHost);

}  // namespace test

namespace {

class QtTcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.Listen()); }

  // Connects the client and hands back the server's end.
  QTcpSocket* ConnectPeer() {
    client.Connect("127.0.0.1", host.port);
    EXPECT_TRUE(test::PumpUntil(pump, [&] { return client.State() == sck::kConnected; }));
    EXPECT_TRUE(host.AcceptPeer());
    return host.peer;
  }

  test::QtTcpHost host;
  QtEventPump& pump = host.pump;
  QtTcpClient& client = host.client;
};

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

}  // namespace
}  // namespace pasotune
