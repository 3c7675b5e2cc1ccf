#include "gpredict_winsock.hpp"

#include <ws2tcpip.h>

#include <algorithm>
#include <chrono>
#include <utility>

namespace pasotune::feed::gpredict {

namespace {

using Clock = Conversation::Clock;

std::string ErrorText(int code) {
  return "error de Winsock " + std::to_string(code);
}

}  // namespace

WinsockRadios::WinsockRadios(Tuned tuned, Tell tell)
    : tuned_(std::move(tuned)), tell_(std::move(tell)) {
  WSADATA data;
  started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  event_ = WSACreateEvent();
}

WinsockRadios::~WinsockRadios() {
  for (Port& p : ports_) {
    if (p.client != INVALID_SOCKET) closesocket(p.client);
    if (p.listener != INVALID_SOCKET) closesocket(p.listener);
  }
  if (event_) WSACloseEvent(event_);
  if (started_) WSACleanup();
}

std::string WinsockRadios::Listen(const GpredictPort& where) {
  const std::string what = "127.0.0.1:" + std::to_string(where.port);
  if (!started_ || event_ == WSA_INVALID_EVENT) return "no se puede arrancar Winsock";
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET)
    return "no se puede escuchar en " + what + ": " + ErrorText(WSAGetLastError());
  // Another program on the port must make this one fail, not share it.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(where.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      listen(s, 8) == SOCKET_ERROR || WSAEventSelect(s, event_, FD_ACCEPT) == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    closesocket(s);
    return "no se puede escuchar en " + what + ": " + ErrorText(code);
  }
  Port& p = ports_.emplace_back();
  p.where = where;
  p.listener = s;
  return {};
}

void WinsockRadios::Serve() {
  // Reset once before looking, so whatever comes while looking sets it again.
  WSAResetEvent(event_);
  for (Port& p : ports_) {
    WSANETWORKEVENTS news{};
    WSAEnumNetworkEvents(p.listener, nullptr, &news);
    if (p.client != INVALID_SOCKET) {
      WSAEnumNetworkEvents(p.client, nullptr, &news);
      const auto at = p.conversation->GiveUpAt();
      if (at && *at <= Clock::now()) {
        tell_(GaveUp(p.where.port));
        Drop(p);
      } else {
        // The client first: one that has just left frees the port for the
        // one that follows it.
        Talk(p);
      }
    }
    // Tried whenever the port may take one: a connection left waiting while
    // the last client ended is announced only once.
    if (!p.conversation || !p.conversation->Ending()) Accept(p);
  }
}

DWORD WinsockRadios::WaitMs() const {
  DWORD wait = INFINITE;
  for (const Port& p : ports_) {
    if (!p.conversation) continue;
    if (const auto at = p.conversation->GiveUpAt()) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(*at - Clock::now()).count();
      wait = std::min(wait, static_cast<DWORD>(std::max<long long>(left, 0)));
    }
  }
  return wait;
}

void WinsockRadios::Accept(Port& p) {
  for (;;) {
    const SOCKET s = accept(p.listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;  // none waiting
    if (p.client != INVALID_SOCKET) {
      WSAEventSelect(s, nullptr, 0);
      send(s, kBusyReply.data(), static_cast<int>(kBusyReply.size()), 0);
      shutdown(s, SD_BOTH);
      closesocket(s);
      tell_(TurnedAway(p.where.port));
      continue;
    }
    if (WSAEventSelect(s, event_, FD_READ | FD_WRITE | FD_CLOSE) == SOCKET_ERROR) {
      closesocket(s);
      continue;
    }
    p.client = s;
    p.conversation.emplace(p.where.role, p.memory, tuned_, tell_, Clock::now());
    // Bytes that came with the connection are taken now.
    Talk(p);
    // One that came meanwhile is looked at on the next turn, once this
    // client's end has been read if it has left already.
    WSASetEvent(event_);
    return;
  }
}

void WinsockRadios::Talk(Port& p) {
  Conversation& c = *p.conversation;
  char buffer[Conversation::kReadBytes];
  // At most this much of one client a turn, so a flood cannot keep the loop
  // from the other ports and from DDE.
  std::size_t budget = 64 * 1024;
  for (;;) {
    while (!c.Unsent().empty()) {
      const std::string_view out = c.Unsent();
      const int n = send(p.client, out.data(), static_cast<int>(out.size()), 0);
      if (n > 0) {
        c.Sent(static_cast<std::size_t>(n), Clock::now());
      } else if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) {
        break;  // FD_WRITE comes when there is room
      } else {
        Drop(p);
        return;
      }
    }
    if (c.Finished()) {
      // Its answers go before the end, and nothing left unread turns the
      // close into a reset that could take them with it.
      shutdown(p.client, SD_SEND);
      while (recv(p.client, buffer, sizeof buffer, 0) > 0) {
      }
      Drop(p);
      return;
    }
    if (!c.WantsInput()) return;
    if (budget == 0) {
      // More may wait: look again on the next turn of the loop.
      WSASetEvent(event_);
      return;
    }
    const int n = recv(p.client, buffer, sizeof buffer, 0);
    if (n > 0) {
      budget -= std::min(budget, static_cast<std::size_t>(n));
      c.Received(std::string_view(buffer, static_cast<std::size_t>(n)), Clock::now());
    } else if (n == 0) {
      c.InputEnded();
    } else if (WSAGetLastError() == WSAEWOULDBLOCK) {
      return;
    } else {
      Drop(p);
      return;
    }
  }
}

void WinsockRadios::Drop(Port& p) {
  if (p.conversation) p.conversation->Closed();
  p.conversation.reset();
  closesocket(std::exchange(p.client, INVALID_SOCKET));
  // A client that came while this one was ending is taken now.
  WSASetEvent(event_);
}

}  // namespace pasotune::feed::gpredict
