// The engine link over Winsock, behaving like the Winsock control: the
// socket notifies a message-only window (WSAAsyncSelect), so every event is
// raised from the thread's message queue, that is from the event pump.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/ports.hpp"
#include "platform/win32/message_window.hpp"

namespace pasotune {

class WinsockTcpClient : public TcpClient {
 public:
  // Lives in the thread of the event pump. Throws PortError without Winsock.
  WinsockTcpClient();
  ~WinsockTcpClient() override;
  WinsockTcpClient(const WinsockTcpClient&) = delete;
  WinsockTcpClient& operator=(const WinsockTcpClient&) = delete;

  int State() override { return state_; }
  // Throws PortError unless closed, as Winsock does; the outcome arrives as
  // the connected or the error event. A numeric address is used as it is;
  // a name is looked up at once (IPv4 first), which may block briefly.
  void Connect(const std::string& host, int port) override;
  void Close() override;
  // What the socket does not take at once waits here and goes out as soon
  // as it can, up to kMaxUnsent bytes; beyond that it throws PortError.
  void SendData(std::string_view text) override;
  // What is waiting, up to kMaxTake bytes as received. When more waits, the
  // data-arrival event comes again.
  std::string GetData() override;

  // The most bytes held here and handed over at once. Beyond it the
  // engine's replies wait in the kernel, which holds the engine back, so
  // however much it says, the program's memory stays bounded.
  static constexpr std::size_t kMaxTake = 64 * 1024;
  static constexpr std::size_t kMaxUnsent = 1024 * 1024;

  // The process serving a connected socket's peer on this machine: the one
  // owning the socket that accepted it, else the listener on the peer's
  // address and port, by the system's TCP table. Nothing when the table
  // does not show it.
  static std::optional<DWORD> ServerProcess(SOCKET connected);

 private:
  struct Winsock {
    Winsock();
    ~Winsock();
  };

  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The message of the current connection's socket notifications; each
  // connection has its own, so nothing queued for an earlier one reaches it.
  UINT SocketMessage() const;
  void PostToSelf(UINT message, LPARAM lParam);
  // Reads what fits, announces it once until it is taken, then tells the
  // peer's close once everything before it has been read and announced.
  void Service();
  void ReadMore();
  void Flush();
  void Failed(int wsaError);
  void DropSocket();

  Winsock winsock_;
  SOCKET socket_ = INVALID_SOCKET;
  int state_ = sck::kClosed;
  std::uint32_t generation_ = 0;
  std::string inbox_;   // Windows-1252, as received
  std::string unsent_;  // Windows-1252, waiting for the socket
  bool announced_ = false;
  bool drained_ = false;  // the peer's end of the stream has been read
  int readError_ = 0;
  MessageWindow window_;
};

}  // namespace pasotune
