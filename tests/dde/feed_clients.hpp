// Gpredict clients the feed must answer in full, the same over POSIX sockets
// and Winsock: one that pipelines its reads, one that ends its side once it
// has sent, one that comes back the moment it left.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#ifdef _WIN32
#include "platform/win32/win32_api.hpp"
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace pasotune::test {

// Sends while it reads; with halfClose ends its side once all is sent. What
// came back once `lines` lines did, or the feed closed.
inline std::string Converse(int port, const std::string& sent, bool halfClose, long lines) {
#ifdef _WIN32
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const auto close = [](SOCKET socket) { closesocket(socket); };
#else
  const int s = socket(AF_INET, SOCK_STREAM, 0);
#endif
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<unsigned short>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string got;
  std::size_t off = 0;  // past the end: no connection
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  if (connect(s, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) off = sent.size() + 1;
  while (off <= sent.size() && std::chrono::steady_clock::now() < deadline) {
    if (halfClose && off == sent.size()) shutdown(s, 1);  // SHUT_WR, SD_SEND
    if (!halfClose && std::count(got.begin(), got.end(), '\n') >= lines) break;
    fd_set readable, writable;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_SET(s, &readable);
    if (off < sent.size()) FD_SET(s, &writable);
    timeval second{1, 0};
    if (select(static_cast<int>(s) + 1, &readable, &writable, nullptr, &second) <= 0) continue;
    if (FD_ISSET(s, &writable)) {
      // A little at a time, so it never blocks while the feed waits for it to read.
      const auto n = send(s, sent.data() + off,
                          static_cast<int>(std::min<std::size_t>(sent.size() - off, 4096)), 0);
      if (n > 0) off += static_cast<std::size_t>(n);
    }
    char buffer[65536];
    const auto n = FD_ISSET(s, &readable) ? recv(s, buffer, sizeof buffer, 0) : 1;
    if (n <= 0) break;
    if (FD_ISSET(s, &readable)) got.append(buffer, static_cast<std::size_t>(n));
  }
  close(s);
  return got;
}

inline std::string Repeat(const std::string& s, int times) {
  std::string out;
  while (times-- > 0) out += s;
  return out;
}

// Every answer reaches every client, and none is turned away.
inline void ExpectEveryClientGetsEveryAnswer(int port) {
  const struct {
    const char* what;
    std::string sent;
    bool halfClose;
    int connections;
    std::string answers;  // to each
  } cases[] = {
      {"pipelining", "F 145950000\n" + Repeat("f\n", 50000), false, 1,
       "RPRT 0\n" + Repeat("145950000\n", 50000)},
      {"half-closing", Repeat("I 435000000\n", 200), true, 1, Repeat("RPRT 0\n", 200)},
      {"reconnecting at once", "f\n", false, 200, "145950000\n"},
  };
  for (const auto& c : cases) {
    const long lines = std::count(c.answers.begin(), c.answers.end(), '\n');
    for (int i = 0; i < c.connections; ++i) {
      const std::string got = Converse(port, c.sent, c.halfClose, lines);
      ASSERT_EQ(got.size(), c.answers.size()) << c.what << " " << i << ": " << got.substr(0, 40);
      EXPECT_EQ(got, c.answers) << c.what << " " << i;
    }
  }
}

}  // namespace pasotune::test
