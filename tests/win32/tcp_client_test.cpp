#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "../common/tcp_client_contract.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "platform/win32/winsock_tcp_client.hpp"
#include "support.hpp"

namespace pasotune {
namespace test {

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

// The host of the shared cases: a blocking Winsock listener and peer of the
// test's own, beside the client's asynchronous socket.
class Win32TcpHost {
 public:
  Win32EventPump pump;
  WinsockTcpClient client;  // starts Winsock before the listener is made
  int port = 0;
  Socket peer;
  static constexpr std::size_t kMaxTake = WinsockTcpClient::kMaxTake;

  ~Win32TcpHost() { JoinWriter(); }

  bool Listen() {
    listener_ = Socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (listener_.Get() == INVALID_SOCKET) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_.Get(), 4) != 0) {
      return false;
    }
    int size = sizeof address;
    ::getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return true;
  }
  void StopListening() { listener_.Close(); }
  bool AcceptPeer() {
    if (!listener_.Readable(5000)) return false;
    peer = Socket(::accept(listener_.Get(), nullptr, nullptr));
    return peer.Get() != INVALID_SOCKET;
  }
  void PeerSend(std::string_view bytes) { peer.Send(bytes); }
  // From another thread, as the peer's buffer may not hold it all at once.
  void PeerSendAllThenClose(std::string bytes) {
    writer_ = std::thread([this, bytes = std::move(bytes)] {
      for (std::size_t at = 0; at < bytes.size();) {
        const int n = ::send(peer.Get(), bytes.data() + at,
                             static_cast<int>(std::min<std::size_t>(bytes.size() - at, 65536)), 0);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::shutdown(peer.Get(), SD_SEND);
    });
  }
  void PeerClose() {
    JoinWriter();
    peer.Close();
  }
  std::string PeerRead(std::size_t size) {
    std::string got;
    char buffer[4096];
    while (got.size() < size && peer.Readable(5000)) {
      const int n = ::recv(peer.Get(), buffer, sizeof buffer, 0);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  void JoinWriter() {
    if (writer_.joinable()) writer_.join();
  }
  Socket listener_;
  std::thread writer_;
};
INSTANTIATE_TYPED_TEST_SUITE_P(TcpClient, TcpClientContract, Win32TcpHost);

}  // namespace test

namespace {

class WinsockTcpClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(host.Listen());
    client.SetEvents({
        .connected = [this] { events.push_back("connected"); },
        .closed = [this] { events.push_back("closed"); },
        .dataArrival = [this](long n) { events.push_back("data " + std::to_string(n)); },
        .error = nullptr,
    });
  }

  test::Win32TcpHost host;
  Win32EventPump& pump = host.pump;
  WinsockTcpClient& client = host.client;
  std::vector<std::string> events;
};

// By address is among the shared cases; Winsock resolves names too.
TEST_F(WinsockTcpClientTest, ConnectingThenConnectedByName) {
  client.Connect("localhost", host.port);
  EXPECT_EQ(client.State(), sck::kConnecting);
  EXPECT_TRUE(events.empty());
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return !events.empty(); }));
  EXPECT_EQ(events, std::vector<std::string>{"connected"});
  EXPECT_EQ(client.State(), sck::kConnected);
}

// A peer that sends without end: while nobody takes, the client holds at
// most kMaxTake and the rest waits in the kernel, which holds the peer back.
TEST_F(WinsockTcpClientTest, UntakenDataWaitsInTheKernelNotHere) {
  client.Connect("127.0.0.1", host.port);
  ASSERT_TRUE(test::PumpUntil(pump, [&] { return client.State() == sck::kConnected; }));
  ASSERT_TRUE(host.AcceptPeer());
  const test::Socket& peer = host.peer;
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

// The check that keeps the client off a port another user holds finds the
// program serving a connection: here this very process, before and after it
// accepts. (A listener of another user needs a second account, which a Wine
// prefix does not have; the Linux adapter's tests cover that side.)
TEST(WinsockServerProcess, FindsTheProcessServingTheConnection) {
  test::Win32TcpHost host;  // Winsock started, a listener on a free port
  ASSERT_TRUE(host.Listen());
  test::Socket client(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(host.port));
  ASSERT_EQ(::connect(client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const auto found = WinsockTcpClient::ServerProcess(client.Get());
  ASSERT_TRUE(found.has_value()) << "the connection is not in the TCP table";
  if (*found == 0 && ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")) {
    // The client then takes the peer as its own user's.
    GTEST_SKIP() << "Wine's TCP table names no owning process";
  }
  EXPECT_EQ(found, ::GetCurrentProcessId());
  ASSERT_TRUE(host.AcceptPeer());
  EXPECT_EQ(WinsockTcpClient::ServerProcess(client.Get()), ::GetCurrentProcessId());
  EXPECT_EQ(WinsockTcpClient::ServerProcess(INVALID_SOCKET), std::nullopt);
}

}  // namespace
}  // namespace pasotune
