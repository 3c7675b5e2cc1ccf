#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

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

// A plain blocking TCP client with deadlines on every read.
class Client {
 public:
  // Tries to connect until the deadline; see connected().
  explicit Client(std::uint16_t port, std::chrono::milliseconds patience = 2s);
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;
  ~Client();

  bool connected() const { return fd_ >= 0; }
  bool send(std::string_view bytes);
  // One reply without its CR LF; a line not ended by CR LF comes back marked "<no CRLF>".
  std::optional<std::string> readLine(std::chrono::milliseconds timeout = 3s);
  // True when the peer closes the connection before the timeout.
  bool waitForClose(std::chrono::milliseconds timeout = 3s);
  void close();

 private:
  int fd_ = -1;
  std::string buffer_;
};

// A TCP port nobody listens on right now.
std::uint16_t freePort();

}  // namespace velkor::test
