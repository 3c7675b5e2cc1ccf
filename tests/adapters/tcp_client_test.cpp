#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "platform/posix/tcp_owner.hpp"
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

// The kernel's tables as /proc/net/tcp and tcp6 print them, for our end at
// 127.0.0.1:40000 connected to 127.0.0.1:9000 (0x2328).
constexpr std::string_view kHeading =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  "
    "timeout inode\n";

struct OwnerCase {
  const char* name;
  std::string tcp, tcp6;
  std::optional<uid_t> owner;
};

class ServerOwnerTable : public ::testing::TestWithParam<OwnerCase> {};

TEST_P(ServerOwnerTable, FindsTheSocketServingOurConnection) {
  const TcpEnds ends{0x7F000001, 40000, 0x7F000001, 9000};
  EXPECT_EQ(ServerOwner(std::string(kHeading) + GetParam().tcp,
                        std::string(kHeading) + GetParam().tcp6, ends),
            GetParam().owner);
}

std::string Row(const char* local, const char* remote, const char* state, int uid) {
  return std::string("   0: ") + local + " " + remote + " " + state +
         " 00000000:00000000 00:00000000 00000000 " + std::to_string(uid) + "        0 1 1\n";
}

INSTANTIATE_TEST_SUITE_P(
    QtTcpClient, ServerOwnerTable,
    ::testing::Values(
        // Our own end (uid 1000) is never taken for the server's.
        OwnerCase{"Accepted",
                  Row("0100007F:9C40", "0100007F:2328", "01", 1000) +
                      Row("0100007F:2328", "0100007F:9C40", "01", 65534) +
                      Row("0100007F:2328", "00000000:0000", "0A", 1000),
                  "", 65534},
        OwnerCase{"ListeningOnly", Row("0100007F:2328", "00000000:0000", "0A", 1001), "", 1001},
        OwnerCase{"ListeningOnAnyAddress", Row("00000000:2328", "00000000:0000", "0A", 1002), "",
                  1002},
        OwnerCase{"DualStackAccepted", "",
                  Row("0000000000000000FFFF00000100007F:2328",
                      "0000000000000000FFFF00000100007F:9C40", "01", 1003) +
                      Row("00000000000000000000000000000000:2328",
                          "00000000000000000000000000000000:0000", "0A", 1004),
                  1003},
        OwnerCase{"DualStackListening", "",
                  Row("00000000000000000000000000000000:2328",
                      "00000000000000000000000000000000:0000", "0A", 1004),
                  1004},
        OwnerCase{"OtherPortsAndAddresses",
                  Row("0100007F:2329", "00000000:0000", "0A", 1) +
                      Row("0200007F:2328", "00000000:0000", "0A", 2) +
                      Row("0100007F:2328", "0100007F:9C41", "01", 3),
                  Row("00000000000000000000000001000000:2328",
                      "00000000000000000000000000000000:0000", "0A", 4),
                  std::nullopt},
        OwnerCase{"Garbage", "0: zz:yy 01 x\n\n   1: 0100007F:2328\n", "\xff\xfe", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

// A listener of another user: the connection is dropped before a byte goes
// out and fails as an attempt does, saying who holds the port. IPv4 alone,
// and IPv6 taking IPv4 too.
class ForeignListener : public ::testing::TestWithParam<int> {};

TEST_P(ForeignListener, IsRefusedNamingItsUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to listen as another user";
  int ports[2], counts[2];
  ASSERT_EQ(::pipe(ports), 0);
  ASSERT_EQ(::pipe(counts), 0);
  const int family = GetParam();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::alarm(30);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const int fd = ::socket(family, SOCK_STREAM, 0);
    sockaddr_storage address{};
    socklen_t length = 0;
    if (family == AF_INET) {
      auto* in = reinterpret_cast<sockaddr_in*>(&address);
      in->sin_family = AF_INET;
      in->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      length = sizeof *in;
    } else {
      auto* in6 = reinterpret_cast<sockaddr_in6*>(&address);
      in6->sin6_family = AF_INET6;
      in6->sin6_addr = in6addr_any;
      const int no = 0;
      ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
      length = sizeof *in6;
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 1) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::_exit(3);
    }
    const std::uint16_t port =
        ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&address)->sin_port
                                : reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
    if (::write(ports[1], &port, sizeof port) != sizeof port) ::_exit(4);
    const int peer = ::accept(fd, nullptr, nullptr);
    // Everything the client sends, until it goes.
    char buffer[256];
    int total = 0;
    for (ssize_t n; (n = ::read(peer, buffer, sizeof buffer)) > 0;) total += static_cast<int>(n);
    if (::write(counts[1], &total, sizeof total) != sizeof total) ::_exit(5);
    ::_exit(0);
  }
  ::close(ports[1]);
  ::close(counts[1]);
  std::uint16_t port = 0;
  ASSERT_EQ(::read(ports[0], &port, sizeof port), static_cast<ssize_t>(sizeof port));

  QtEventPump pump;
  QtTcpClient client;
  int number = 0;
  std::string description;
  bool connected = false;
  client.SetEvents({.connected = [&] { connected = true; },
                    .closed = nullptr,
                    .dataArrival = nullptr,
                    .error =
                        [&](int n, const std::string& text) {
                          number = n;
                          description = text;
                        }});
  client.Connect("127.0.0.1", port);
  EXPECT_TRUE(test::PumpUntil(pump, [&] { return number != 0 || connected; }));
  EXPECT_FALSE(connected);
  EXPECT_EQ(number, 10013);
  EXPECT_EQ(description, "127.0.0.1:" + std::to_string(port) +
                             " lo ocupa un programa de otro usuario (" + UserText(65534) +
                             "), no el motor");
  EXPECT_EQ(client.State(), sck::kError);
  EXPECT_THROW(client.SendData("SETPORT COM1"), PortError);
  int received = -1;
  EXPECT_EQ(::read(counts[0], &received, sizeof received), static_cast<ssize_t>(sizeof received));
  EXPECT_EQ(received, 0);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ports[0]);
  ::close(counts[0]);
}

INSTANTIATE_TEST_SUITE_P(QtTcpClient, ForeignListener, ::testing::Values(AF_INET, AF_INET6),
                         [](const auto& info) {
                           return std::string(info.param == AF_INET ? "IPv4" : "DualStack");
                         });

}  // namespace
}  // namespace pasotune
