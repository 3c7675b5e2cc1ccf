// What Gpredict's radio controller expects of a radio behind Hamlib's
// rigctld protocol, answered without a radio: every set is taken, every read
// gives back exactly what was set, PTT is off, anything else is refused at
// once. Fed bytes, it answers bytes and tells which frequency Gpredict set.
// No sockets here: the feed's main loops carry the bytes.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pasotune::feed::gpredict {

enum class Direction { kDown, kUp };

// Which radio Gpredict believes it drives on this port. Duplex: F is the
// downlink, I the uplink (Gpredict's "Duplex TRX", and its RX, TX and toggle
// radios on one port). The others take one direction each, whatever the
// command (Gpredict's "two devices": an RX-only radio sets the downlink with
// F, a TX-only one the uplink with F).
enum class Role { kDuplex, kDownlink, kUplink };

// What the radio remembers between connections: each Engage is a new one.
struct RadioMemory {
  std::int64_t downHz = 0;
  std::int64_t upHz = 0;
  std::string vfo = "VFOA";  // as set with V
  std::string txVfo;         // as set with S: a VFO-named F or f for it is the uplink
};

inline constexpr std::size_t kMaxLineBytes = 256;

// One Gpredict a port: a second client gets this (Gpredict reads it as the
// answer to its first command and gives up), and is closed.
inline constexpr std::string_view kBusyReply = "RPRT -14\n";  // RIG_EBUSBUSY
std::string TurnedAway(int port);

class Session {
 public:
  // tuned hears every frequency set, changed or not; complain every line for
  // standard error.
  Session(Role role, RadioMemory& memory, std::function<void(Direction, std::int64_t)> tuned,
          std::function<void(const std::string&)> complain);

  struct Output {
    std::string reply;
    bool end = false;  // q: close the connection once the reply is out
  };
  // Bytes as they came from the client.
  Output Receive(std::string_view bytes);
  // The client went away; a line it left unfinished is told of.
  void Closed();

  // One whole line without its line end: the reply (empty for a blank line).
  Output Answer(std::string_view line);

 private:
  Role role_;
  RadioMemory& memory_;
  std::function<void(Direction, std::int64_t)> tuned_;
  std::function<void(const std::string&)> complain_;
  std::string pending_;
  bool overlong_ = false;  // the line in progress went past kMaxLineBytes
  bool ended_ = false;
};

// One client's connection without the socket: what to read, what to send and
// when to close, the same for the feed's POSIX and Winsock ports. A client
// may send many commands before it reads an answer, and may end its side
// (a half-close) before it has read them all.
class Conversation {
 public:
  using Clock = std::chrono::steady_clock;
  // Past this many unsent answers the client is not read from until it takes
  // some: flow control instead of a pile.
  static constexpr std::size_t kMaxUnsent = 64 * 1024;
  // A client whose answers wait this long without it taking any is let go,
  // so it cannot hold the port.
  static constexpr std::chrono::seconds kPatience{10};
  // What a port reads of a client at once.
  static constexpr std::size_t kReadBytes = 4096;

  Conversation(Role role, RadioMemory& memory, std::function<void(Direction, std::int64_t)> tuned,
               std::function<void(const std::string&)> complain, Clock::time_point now);

  // Whether to read more of the client now.
  bool WantsInput() const { return !Ending() && Unsent().size() <= kMaxUnsent; }
  void Received(std::string_view bytes, Clock::time_point now);
  // The client sent all it will: what it sent is answered, then closed.
  void InputEnded();
  std::string_view Unsent() const { return std::string_view(out_).substr(sent_); }
  void Sent(std::size_t bytes, Clock::time_point now);
  // q, or the end of the client's input: no new client until this one is gone.
  bool Ending() const { return quit_ || inputEnded_; }
  // Everything answered and sent: close.
  bool Finished() const { return Ending() && Unsent().empty(); }
  // When the client is let go unless it takes some answers; nothing while it
  // does not keep the feed waiting.
  std::optional<Clock::time_point> GiveUpAt() const;
  // The connection closed before the end.
  void Closed() { session_.Closed(); }

 private:
  Session session_;
  std::string out_;
  std::size_t sent_ = 0;
  bool quit_ = false;
  bool inputEnded_ = false;
  Clock::time_point lastProgress_;
};

// The port is free again once a client has waited too long.
std::string GaveUp(int port);

}  // namespace pasotune::feed::gpredict
