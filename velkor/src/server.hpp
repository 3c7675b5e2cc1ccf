#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "commands.hpp"
#include "line_splitter.hpp"
#include "net.hpp"
#include "transcript.hpp"

namespace velkor {

// Serves one client at a time on 127.0.0.1 with poll() (WSAPoll on Windows); a second client is
// told "ERROR busy" and closed. Replies go out in Windows-1252 with CR LF.
class Server {
 public:
  using Handler = std::function<Handled(std::string_view utf8Line)>;

  Server(Handler handler, Transcript& transcript);
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;
  ~Server();

  // Port 0 picks a free one. Returns an empty string or the reason.
  std::string listen(std::uint16_t port);
  std::uint16_t port() const { return port_; }

  // Serves until stop().
  void run();
  // Safe from any thread and from a signal handler.
  void stop();
  // Sends a reply produced off the server thread (e.g. by a radio worker) to the client, if
  // one is connected, and records the action in the transcript. Safe from any thread.
  void post(std::string reply, std::string action);

 private:
  void acceptClient();
  void readClient();
  // Handles received lines while the replies waiting for the client stay under their cap.
  void handleLines();
  void writeClient();
  void dropClient(std::string_view why);
  void queueReply(std::string_view utf8);
  void drainPosted();

  Handler handler_;
  Transcript& transcript_;
  net::Waker waker_;
  net::Socket listener_ = net::kNoSocket;
  net::Socket client_ = net::kNoSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  LineSplitter splitter_;
  std::deque<LineSplitter::Piece> unhandled_;
  std::string outgoing_;
  std::mutex postedMutex_;
  std::deque<std::pair<std::string, std::string>> posted_;
};

}  // namespace velkor
