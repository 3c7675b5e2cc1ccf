#include "server.hpp"

#include "text.hpp"

namespace velkor {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// A client that does not read its replies stops being read from, and the lines it already sent
// wait unhandled, until they drain: what one read can ask for never piles up.
constexpr std::size_t kOutgoingCap = 64 * 1024;
// Past this only replies the user must act on are queued from the radio's worker.
constexpr std::size_t kOutgoingLimit = 1024 * 1024;
constexpr std::string_view kBusy =
    "ERROR ocupado: Velkor.exe ya atiende a otro programa\r\n";
constexpr std::string_view kTooLong = "línea demasiado larga";
// A reply is one line the program logs whole; nothing the engine says needs more.
constexpr std::size_t kReplyChars = 1024;

}  // namespace

Server::Server(Handler handler, Transcript& transcript)
    : handler_(std::move(handler)), transcript_(transcript) {}

Server::~Server() {
  net::close(client_);
  net::close(listener_);
}

std::string Server::listen(std::uint16_t port) {
  if (!waker_.error().empty()) return waker_.error();
  std::string error;
  listener_ = net::listenLoopback(port, port_, error);
  return listener_ == net::kNoSocket ? error : std::string{};
}

void Server::stop() {
  stopping_.store(true);
  waker_.wake();
}

void Server::post(std::string reply, std::string action) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.emplace_back(std::move(reply), std::move(action));
  }
  waker_.wake();
}

void Server::run() {
  std::vector<net::Watch> watches;
  while (!stopping_.load()) {
    watches.assign({{waker_.socket(), true}, {listener_, true}});
    if (client_ != net::kNoSocket) {
      watches.push_back(
          {client_, outgoing_.size() < kOutgoingCap && unhandled_.empty(), !outgoing_.empty()});
    }
    if (!net::wait(watches, std::chrono::milliseconds(-1))) break;
    if (watches[0].readable) {
      waker_.drain();
      drainPosted();
    }
    // The client first, so one that just left frees the slot for a waiting one.
    if (watches.size() > 2) {
      const net::Watch& client = watches[2];
      if (client.readable || client.broken) readClient();
      if (client_ != net::kNoSocket && client.writable) writeClient();
      if (client_ != net::kNoSocket) handleLines();
    }
    if (watches[1].readable) acceptClient();
  }
  if (client_ != net::kNoSocket) {
    writeClient();
    dropClient("engine stopping");
  }
}

void Server::acceptClient() {
  const net::Socket socket = net::accept(listener_);
  if (socket == net::kNoSocket) return;
  if (client_ != net::kNoSocket) {
    net::send(socket, kBusy.data(), kBusy.size());
    net::close(socket);
    return;
  }
  client_ = socket;
  outgoing_.clear();
  splitter_.takePartial();
}

void Server::readClient() {
  char buffer[kReadChunk];
  const long got = net::receive(client_, buffer, sizeof buffer);
  if (got == 0 || got == net::kFailed) {
    dropClient("client left");
    return;
  }
  if (got < 0) return;
  for (auto& piece : splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(got)))) {
    unhandled_.push_back(std::move(piece));
  }
  handleLines();
}

void Server::handleLines() {
  // Each time the socket takes what waits, more lines are handled; once it is full the poll
  // loop waits for it to take more.
  while (!unhandled_.empty()) {
    if (outgoing_.size() >= kOutgoingCap) {
      writeClient();
      if (outgoing_.size() >= kOutgoingCap) break;
      continue;  // the client may have left, dropping what it sent
    }
    const LineSplitter::Piece piece = std::move(unhandled_.front());
    unhandled_.pop_front();
    const std::string line = cp1252ToUtf8(piece.bytes);
    if (piece.kind == LineSplitter::Piece::Kind::kTooLong) {
      const std::string reply = notDoneReply(kTooLong);
      queueReply(reply);
      transcript_.record(
          line + "\u2026",
          "discarded: longer than " + std::to_string(splitter_.cap()) + " bytes => " + reply);
      continue;
    }
    const Handled handled = handler_(line);
    if (handled.reply) queueReply(*handled.reply);
    for (const auto& more : handled.more) queueReply(more);
    transcript_.record(line,
                       handled.reply ? handled.action + " => " + *handled.reply : handled.action);
  }
  writeClient();
}

void Server::writeClient() {
  while (client_ != net::kNoSocket && !outgoing_.empty()) {
    const long sent = net::send(client_, outgoing_.data(), outgoing_.size());
    if (sent == net::kWouldBlock) return;
    if (sent == net::kFailed) {
      dropClient("client gone");
      return;
    }
    outgoing_.erase(0, static_cast<std::size_t>(sent));
  }
}

void Server::dropClient(std::string_view why) {
  for (const auto& piece : unhandled_) {
    transcript_.record(cp1252ToUtf8(piece.bytes), "discarded: " + std::string(why) + " first");
  }
  unhandled_.clear();
  const std::string partial = splitter_.takePartial();
  if (!partial.empty()) {
    transcript_.record(cp1252ToUtf8(partial), "discarded: " + std::string(why) + " mid-line");
  }
  net::close(client_);
  client_ = net::kNoSocket;
  outgoing_.clear();
}

void Server::queueReply(std::string_view utf8) {
  // Whatever a radio library put in a reason, the reply stays one bounded line.
  outgoing_ += utf8ToCp1252(printable(utf8, kReplyChars));
  outgoing_ += "\r\n";
}

void Server::drainPosted() {
  std::deque<std::pair<std::string, std::string>> posted;
  {
    std::lock_guard lock(postedMutex_);
    posted.swap(posted_);
  }
  for (auto& [reply, action] : posted) {
    const bool client = client_ != net::kNoSocket && !reply.empty();
    const bool delivered =
        client && (outgoing_.size() < kOutgoingLimit || reply.rfind("ERROR", 0) == 0 ||
                   reply.rfind(kReadyReply, 0) == 0);
    if (delivered) queueReply(reply);
    std::string note = action;
    if (!reply.empty()) {
      const char* how = delivered ? " => "
                        : client  ? " (client not reading) => "
                                  : " (no client) => ";
      note += how + reply;
    }
    transcript_.record("", note);
  }
  writeClient();
}

}  // namespace velkor
