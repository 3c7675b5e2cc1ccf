#pragma once

// The few socket calls the engine makes, over POSIX sockets or Winsock. Every socket is
// non-blocking; waiting is done in wait(), with a deadline or none.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace velkor::net {

#ifdef _WIN32
using Socket = std::uintptr_t;  // SOCKET
inline constexpr Socket kNoSocket = ~Socket{0};
#else
using Socket = int;
inline constexpr Socket kNoSocket = -1;
#endif

// Sets up the system's socket library once (Winsock); returns an empty string or the reason.
std::string start();

// The system's description of the last socket error of this thread.
std::string lastError();

// Listens on 127.0.0.1:port (0 picks a free one), with address reuse so a restart right after a
// kill can bind at once. Returns kNoSocket and sets error when it cannot.
Socket listenLoopback(std::uint16_t port, std::uint16_t& bound, std::string& error);
// A waiting client, or kNoSocket.
Socket accept(Socket listener);

// Connects to host:port within timeout. Returns kNoSocket and sets error when it cannot.
Socket connect(const std::string& host, std::uint16_t port, std::chrono::milliseconds timeout,
               std::string& error);

inline constexpr long kWouldBlock = -1;
inline constexpr long kFailed = -2;
// Bytes received, 0 when the peer closed, kWouldBlock or kFailed.
long receive(Socket socket, char* buffer, std::size_t size);
// Bytes sent (never raising SIGPIPE), kWouldBlock or kFailed.
long send(Socket socket, const char* data, std::size_t size);
void close(Socket socket);

struct Watch {
  Socket socket = kNoSocket;
  bool read = false;
  bool write = false;
  // Set by wait():
  bool readable = false;
  bool writable = false;
  bool broken = false;  // hung up or in error: a read tells which
};

// Blocks until a watched socket is ready or the timeout passes (negative: no timeout). False
// when waiting itself failed; an interruption returns true with nothing ready.
bool wait(std::vector<Watch>& watches, std::chrono::milliseconds timeout);

// A socket that turns readable when wake() is called, from any thread, and on POSIX from a
// signal handler too: an eventfd there, a loopback socket pair on Windows.
class Waker {
 public:
  Waker();
  Waker(const Waker&) = delete;
  Waker& operator=(const Waker&) = delete;
  ~Waker();

  // Empty, or why the waker could not be made.
  const std::string& error() const { return error_; }
  Socket socket() const { return read_; }
  void wake();
  void drain();

 private:
  Socket read_ = kNoSocket;
  Socket write_ = kNoSocket;
  std::string error_;
};

}  // namespace velkor::net
