#include "gpredict_winsock.hpp"

#include <ws2tcpip.h>

#include <utility>

namespace pasotune::feed::gpredict {

namespace {

std::string ErrorText(int code) {
  return "Winsock error " + std::to_string(code);
}

// All of bytes, or false: a client that does not read its answers is let go.
bool SendAll(SOCKET s, std::string_view bytes) {
  while (!bytes.empty()) {
    const int n = send(s, bytes.data(), static_cast<int>(bytes.size()), 0);
    if (n == SOCKET_ERROR) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
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
  if (!started_ || event_ == WSA_INVALID_EVENT) return "cannot start Winsock";
  const SOCKET s =
      WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return "cannot listen on " + what + ": " + ErrorText(WSAGetLastError());
  // Another program on the port must make this one fail, not share it.
  BOOL exclusive = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
             sizeof exclusive);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<u_short>(where.port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR ||
      listen(s, 4) == SOCKET_ERROR || WSAEventSelect(s, event_, FD_ACCEPT) == SOCKET_ERROR) {
    const int code = WSAGetLastError();
    closesocket(s);
    return "cannot listen on " + what + ": " + ErrorText(code);
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
    if (WSAEnumNetworkEvents(p.listener, nullptr, &news) == 0 && (news.lNetworkEvents & FD_ACCEPT))
      Accept(p);
    if (p.client == INVALID_SOCKET) continue;
    news = {};
    if (WSAEnumNetworkEvents(p.client, nullptr, &news) == 0 &&
        (news.lNetworkEvents & (FD_READ | FD_CLOSE))) {
      Read(p);
    }
  }
}

void WinsockRadios::Accept(Port& p) {
  for (;;) {
    const SOCKET s = accept(p.listener, nullptr, nullptr);
    if (s == INVALID_SOCKET) return;  // none waiting
    if (p.client != INVALID_SOCKET) {
      WSAEventSelect(s, nullptr, 0);
      SendAll(s, kBusyReply);
      shutdown(s, SD_BOTH);
      closesocket(s);
      tell_(TurnedAway(p.where.port));
      continue;
    }
    if (WSAEventSelect(s, event_, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
      closesocket(s);
      continue;
    }
    p.client = s;
    p.session.emplace(p.where.role, p.memory, tuned_, tell_);
    // Bytes that came with the connection are taken now.
    Read(p);
  }
}

void WinsockRadios::Read(Port& p) {
  char buffer[4096];
  for (;;) {
    const int n = recv(p.client, buffer, sizeof buffer, 0);
    if (n == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK) return;
    if (n <= 0) {
      Drop(p);
      return;
    }
    const Session::Output out = p.session->Receive(std::string_view(buffer, n));
    if (!SendAll(p.client, out.reply)) {
      tell_("a client on port " + std::to_string(p.where.port) +
            " does not take its answers: closed");
      Drop(p);
      return;
    }
    if (out.end) {
      shutdown(p.client, SD_SEND);
      Drop(p);
      return;
    }
  }
}

void WinsockRadios::Drop(Port& p) {
  if (p.session) p.session->Closed();
  p.session.reset();
  closesocket(std::exchange(p.client, INVALID_SOCKET));
}

}  // namespace pasotune::feed::gpredict
