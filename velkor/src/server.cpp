#include "server.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "text.hpp"

namespace velkor {
namespace {

constexpr std::size_t kReadChunk = 16 * 1024;
// A client that does not read its replies stops being read from until they drain.
constexpr std::size_t kOutgoingCap = 64 * 1024;
constexpr std::string_view kBusy = "ERROR busy\r\n";
constexpr std::string_view kTooLong = "line too long";
// A reply is one line the program logs whole; nothing the engine says needs more.
constexpr std::size_t kReplyChars = 1024;

}  // namespace

Server::Server(Handler handler, Transcript& transcript)
    : handler_(std::move(handler)), transcript_(transcript) {
  wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

Server::~Server() {
  if (clientFd_ >= 0) ::close(clientFd_);
  if (listenFd_ >= 0) ::close(listenFd_);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

std::string Server::listen(std::uint16_t port) {
  if (wakeFd_ < 0) return std::string("eventfd: ") + std::strerror(errno);
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) return std::string("socket: ") + std::strerror(errno);
  // A restart right after a kill must not wait for TIME_WAIT to clear.
  const int yes = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 4) != 0) {
    const std::string why = std::strerror(errno);
    ::close(listenFd_);
    listenFd_ = -1;
    return "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + why;
  }
  socklen_t length = sizeof address;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
  port_ = ntohs(address.sin_port);
  return {};
}

void Server::stop() {
  stopping_.store(true);
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void Server::post(std::string reply, std::string action) {
  {
    std::lock_guard lock(postedMutex_);
    posted_.emplace_back(std::move(reply), std::move(action));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void Server::run(int stopFd) {
  while (!stopping_.load()) {
    pollfd fds[4];
    nfds_t count = 0;
    fds[count++] = {wakeFd_, POLLIN, 0};
    fds[count++] = {listenFd_, POLLIN, 0};
    const nfds_t stopIndex = count;
    if (stopFd >= 0) fds[count++] = {stopFd, POLLIN, 0};
    const nfds_t clientIndex = count;
    if (clientFd_ >= 0) {
      short events = 0;
      if (outgoing_.size() < kOutgoingCap) events |= POLLIN;
      if (!outgoing_.empty()) events |= POLLOUT;
      fds[count++] = {clientFd_, events, 0};
    }
    if (poll(fds, count, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (stopFd >= 0 && fds[stopIndex].revents != 0) break;
    if (fds[0].revents & POLLIN) {
      std::uint64_t counter = 0;
      [[maybe_unused]] const auto got = ::read(wakeFd_, &counter, sizeof counter);
      drainPosted();
    }
    // The client first, so one that just left frees the slot for a waiting one.
    if (clientFd_ >= 0 && clientIndex < count) {
      const short revents = fds[clientIndex].revents;
      if (revents & (POLLIN | POLLHUP | POLLERR)) readClient();
      if (clientFd_ >= 0 && (revents & POLLOUT)) writeClient();
    }
    if (fds[1].revents & POLLIN) acceptClient();
  }
  if (clientFd_ >= 0) {
    writeClient();
    dropClient("engine stopping");
  }
}

void Server::acceptClient() {
  const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (clientFd_ >= 0) {
    [[maybe_unused]] const auto sent = send(fd, kBusy.data(), kBusy.size(), MSG_NOSIGNAL);
    ::close(fd);
    return;
  }
  clientFd_ = fd;
  outgoing_.clear();
  splitter_.takePartial();
}

void Server::readClient() {
  char buffer[kReadChunk];
  const ssize_t got = recv(clientFd_, buffer, sizeof buffer, 0);
  if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
    dropClient("client left");
    return;
  }
  if (got < 0) return;
  for (auto& piece : splitter_.feed(std::string_view(buffer, static_cast<std::size_t>(got)))) {
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
    transcript_.record(line,
                       handled.reply ? handled.action + " => " + *handled.reply : handled.action);
  }
  writeClient();
}

void Server::writeClient() {
  while (clientFd_ >= 0 && !outgoing_.empty()) {
    const ssize_t sent =
        send(clientFd_, outgoing_.data(), outgoing_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) dropClient("client gone");
      return;
    }
    outgoing_.erase(0, static_cast<std::size_t>(sent));
  }
}

void Server::dropClient(std::string_view why) {
  const std::string partial = splitter_.takePartial();
  if (!partial.empty()) {
    transcript_.record(cp1252ToUtf8(partial), "discarded: " + std::string(why) + " mid-line");
  }
  ::close(clientFd_);
  clientFd_ = -1;
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
    const bool delivered = clientFd_ >= 0 && !reply.empty();
    if (delivered) queueReply(reply);
    std::string note = action;
    if (!reply.empty()) note += (delivered ? " => " : " (no client) => ") + reply;
    transcript_.record("", note);
  }
  writeClient();
}

}  // namespace velkor
