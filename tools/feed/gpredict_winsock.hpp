// Gpredict's radio ports on Windows: Winsock sockets that signal one event,
// so the feed's message loop waits on them beside its DDE messages.
#pragma once

#include "platform/win32/win32_api.hpp"

#include <cstdint>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "feed_options.hpp"
#include "gpredict_radio.hpp"

namespace pasotune::feed::gpredict {

class WinsockRadios {
 public:
  using Tuned = std::function<void(Direction, std::int64_t)>;
  using Tell = std::function<void(const std::string&)>;

  WinsockRadios(Tuned tuned, Tell tell);
  ~WinsockRadios();
  WinsockRadios(const WinsockRadios&) = delete;
  WinsockRadios& operator=(const WinsockRadios&) = delete;

  // Listens on 127.0.0.1:port; why it cannot, or an empty string.
  std::string Listen(const GpredictPort& where);
  // Set whenever a socket has something to take.
  HANDLE Event() const { return event_; }
  // Takes whatever came: new clients, their bytes, their leaving; lets go of
  // a client that kept its answers waiting too long.
  void Serve();
  // How long the loop may wait before Serve must look again (INFINITE: until
  // the event).
  DWORD WaitMs() const;

 private:
  struct Port {
    GpredictPort where;
    SOCKET listener = INVALID_SOCKET;
    SOCKET client = INVALID_SOCKET;
    RadioMemory memory;
    std::optional<Conversation> conversation;
  };
  void Accept(Port& port);
  // Sends what waits, reads what the client may send now, closes when done.
  void Talk(Port& port);
  void Drop(Port& port);

  Tuned tuned_;
  Tell tell_;
  bool started_ = false;
  HANDLE event_ = nullptr;
  std::list<Port> ports_;
};

}  // namespace pasotune::feed::gpredict
