#include "gpredict_posix.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

namespace pasotune::feed::gpredict {

namespace {

using Clock = Conversation::Clock;

// A notifier may be the one whose signal is running: it goes once the loop
// is back.
void Retire(QSocketNotifier*& notifier) {
  if (!notifier) return;
  notifier->setEnabled(false);
  notifier->deleteLater();
  notifier = nullptr;
}

}  // namespace

PosixRadioPort::PosixRadioPort(const GpredictPort& where, Tuned tuned, Tell tell)
    : where_(where), tuned_(std::move(tuned)), tell_(std::move(tell)) {
  patience_.setSingleShot(true);
  grace_.setSingleShot(true);
  QObject::connect(&grace_, &QTimer::timeout, [this] {
    graceOver_ = true;
    Accept();
    graceOver_ = false;
    if (client_ >= 0) Watch();
  });
  QObject::connect(&patience_, &QTimer::timeout, [this] {
    if (!conversation_) return;
    const auto at = conversation_->GiveUpAt();
    if (at && *at <= Clock::now()) {
      tell_(GaveUp(where_.port));
      Drop();
    } else {
      Watch();
    }
  });
}

PosixRadioPort::~PosixRadioPort() {
  delete readable_;
  delete writable_;
  delete acceptable_;
  if (client_ >= 0) ::close(client_);
  if (listener_ >= 0) ::close(listener_);
}

std::string PosixRadioPort::Listen() {
  const std::string what = "127.0.0.1:" + std::to_string(where_.port);
  listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listener_ < 0) return "no se puede escuchar en " + what + ": " + std::strerror(errno);
  // A feed started again at once takes its port back from the old one's
  // closing connections.
  const int on = 1;
  ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(where_.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(listener_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener_, 8) != 0) {
    return "no se puede escuchar en " + what + ": " + std::strerror(errno);
  }
  acceptable_ = new QSocketNotifier(listener_, QSocketNotifier::Read);
  QObject::connect(acceptable_, &QSocketNotifier::activated, [this] { Accept(); });
  return {};
}

void PosixRadioPort::Accept() {
  // The client first: one that has just left frees the port for the one
  // that follows it.
  if (client_ >= 0) Serve();
  if (conversation_ && conversation_->Ending()) return;  // taken once it is gone
  if (client_ >= 0 && !graceOver_) {
    // A client that has just left may not have said so yet on a busy
    // machine: the newcomer waits a moment before it is turned away.
    if (!grace_.isActive()) grace_.start(kGrace);
    acceptable_->setEnabled(false);
    return;
  }
  for (;;) {
    const int s = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;  // none waiting
    }
    if (client_ >= 0) {
      [[maybe_unused]] const ssize_t n =
          ::send(s, kBusyReply.data(), kBusyReply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      ::close(s);
      tell_(TurnedAway(where_.port));
      continue;
    }
    client_ = s;
    conversation_.emplace(where_.role, memory_, tuned_, tell_, Clock::now());
    readable_ = new QSocketNotifier(s, QSocketNotifier::Read);
    writable_ = new QSocketNotifier(s, QSocketNotifier::Write);
    QObject::connect(readable_, &QSocketNotifier::activated, [this] { Serve(); });
    QObject::connect(writable_, &QSocketNotifier::activated, [this] { Serve(); });
    Serve();
    // One that came meanwhile is looked at afresh: this client may have left
    // already, without its end read yet.
    return;
  }
}

void PosixRadioPort::Serve() {
  if (client_ < 0) return;
  Conversation& c = *conversation_;
  char buffer[Conversation::kReadBytes];
  // At most this much of one client a turn, so a flood cannot keep the loop
  // from the other ports and from SIGTERM.
  std::size_t budget = 64 * 1024;
  for (;;) {
    while (!c.Unsent().empty()) {
      const std::string_view out = c.Unsent();
      const ssize_t n = ::send(client_, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        c.Sent(static_cast<std::size_t>(n), Clock::now());
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        break;
      } else {
        Drop();
        return;
      }
    }
    if (c.Finished()) {
      // Its answers go before the end, and nothing left unread turns the
      // close into a reset that could take them with it.
      ::shutdown(client_, SHUT_WR);
      while (::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
      }
      Drop();
      return;
    }
    if (!c.WantsInput() || budget == 0) break;
    const ssize_t n = ::recv(client_, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n > 0) {
      budget -= std::min(budget, static_cast<std::size_t>(n));
      c.Received(std::string_view(buffer, static_cast<std::size_t>(n)), Clock::now());
    } else if (n == 0) {
      c.InputEnded();
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      break;
    } else {
      Drop();
      return;
    }
  }
  Watch();
}

void PosixRadioPort::Watch() {
  if (!conversation_) {
    patience_.stop();
    grace_.stop();
    if (acceptable_) acceptable_->setEnabled(true);
    return;
  }
  const Conversation& c = *conversation_;
  readable_->setEnabled(c.WantsInput());
  writable_->setEnabled(!c.Unsent().empty());
  acceptable_->setEnabled(!c.Ending() && !grace_.isActive());
  if (const auto at = c.GiveUpAt()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at - Clock::now()).count();
    patience_.start(static_cast<int>(std::max<long long>(left, 0)));
  } else {
    patience_.stop();
  }
}

void PosixRadioPort::Drop() {
  if (client_ < 0) return;
  conversation_->Closed();
  conversation_.reset();
  Retire(readable_);
  Retire(writable_);
  ::close(std::exchange(client_, -1));
  Watch();
  // A client that came while this one was ending waits in the backlog.
  Accept();
}

}  // namespace pasotune::feed::gpredict
