// The engine link over QTcpSocket, behaving like the Winsock control.
#pragma once

#include <cstddef>
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
  // What is waiting, up to kMaxTake bytes as received. When more waits, the
  // data-arrival event comes again.
  std::string GetData() override;

  // The most bytes held here and handed over at once. Beyond it the engine's
  // replies wait in the kernel, which holds the engine back, so however much
  // it says, the program's memory and the time per event stay bounded.
  static constexpr std::size_t kMaxTake = 64 * 1024;

 private:
  void WireSocket();
  // Runs fn from the event loop, unless the connection it was meant for has
  // been closed or replaced by then.
  void Post(std::function<void()> fn);
  void PeerClosed();
  void Failed(int error);
  // Raises one data-arrival event for what waits, unless one is already
  // out and the data not yet taken.
  void Announce();

  std::unique_ptr<QObject> context_;
  std::unique_ptr<QTcpSocket> socket_;
  int state_ = sck::kClosed;
  std::uint64_t generation_ = 0;
  bool announced_ = false;  // a data-arrival event is out, the data not yet taken
  bool ended_ = false;      // closed or failed already told for this connection
};

}  // namespace pasotune
