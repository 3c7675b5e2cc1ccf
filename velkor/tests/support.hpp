#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "net.hpp"

namespace velkor::test {

using namespace std::chrono_literals;

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

std::string readFile(const std::filesystem::path& file);

// A plain TCP client with deadlines on every read.
class Client {
 public:
  // Tries to connect until the deadline; see connected().
  explicit Client(std::uint16_t port, std::chrono::milliseconds patience = 2s);
  explicit Client(net::Socket connected) : socket_(connected) {}
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client();

  bool connected() const { return socket_ != net::kNoSocket; }
  bool send(std::string_view bytes);
  // One reply without its CR LF; a line not ended by CR LF comes back marked "<no CRLF>".
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 3s);
  // True when the peer closes the connection before the timeout.
  bool waitForClose(std::chrono::milliseconds timeout = 3s);
  void close();

 private:
  // Waits for data and appends it; false on timeout, close or error.
  bool fill(std::chrono::steady_clock::time_point deadline, bool& closed);

  net::Socket socket_ = net::kNoSocket;
  std::string buffer_;
};

// A TCP port nobody listens on right now.
std::uint16_t freePort();

// A child process started without a shell, with extra environment variables; ended by its id
// only.
class Process {
 public:
  Process(const std::filesystem::path& program, const std::vector<std::string>& args,
          const std::vector<std::pair<std::string, std::string>>& environment = {});
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  // Kills it if it still runs.
  ~Process();

  bool started() const;
  // Asks it to end as a user would (SIGTERM; Ctrl-C on Windows) and returns its exit status,
  // or -1 when it has not ended within patience.
  int stop(std::chrono::milliseconds patience = 5s);
  // Ends it at once.
  void kill();

 private:
  std::optional<int> waitExit(std::chrono::milliseconds patience);
#ifdef _WIN32
  void* process_ = nullptr;
  unsigned long id_ = 0;
#else
  int pid_ = -1;
#endif
};

}  // namespace velkor::test
