// The engine link over QTcpSocket, behaving like the Winsock control.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/ports.hpp"

class QObject;
class QTcpSocket;

namespace pasotune {

class QtTcpClient : public TcpClient {
 public:
  QtTcpClient();
  ~QtTcpClient() override;
  QtTcpClient(const QtTcpClient&) = delete;
  QtTcpClient& operator=(const QtTcpClient&) = delete;

  int State() override { return state_; }
  // Throws PortError unless closed, as Winsock does; the outcome arrives as
  // the connected or the error event.
  void Connect(const std::string& host, int port) override;
  void Close() override;
  void SendData(std::string_view text) override;
  std::string GetData() override;

 private:
  void WireSocket();
  // Runs fn from the event loop, unless the connection it was meant for has
  // been closed or replaced by then.
  void Post(std::function<void()> fn);
  void PeerClosed();
  void Failed(int error);

  std::unique_ptr<QObject> context_;
  std::unique_ptr<QTcpSocket> socket_;
  int state_ = sck::kClosed;
  std::uint64_t generation_ = 0;
  std::string inbox_;   // Windows-1252, as received
  bool ended_ = false;  // closed or failed already told for this connection
};

}  // namespace pasotune
