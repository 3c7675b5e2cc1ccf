#include "stand_in_engine.hpp"

#include <cstdint>
#include <utility>

#include "measure.hpp"
#include "platform/win32/wide_text.hpp"

namespace pasotune::bench {

StandInEngine::~StandInEngine() {
  Stop();
}

std::string StandInEngine::Start(int port) {
  WSADATA data;
  if (const int error = ::WSAStartup(MAKEWORD(2, 2), &data); error != 0) {
    return "WSAStartup: " + SystemErrorText(static_cast<unsigned long>(error));
  }
  winsock_ = true;
  listen_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (listen_ == INVALID_SOCKET) return "socket: " + SystemErrorText(::WSAGetLastError());
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = ::htons(static_cast<u_short>(port));
  addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      ::listen(listen_, 4) != 0) {
    return "127.0.0.1:" + std::to_string(port) + ": " + SystemErrorText(::WSAGetLastError());
  }
  stop_ = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  arrivedEvent_ = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
  if (!stop_ || !arrivedEvent_) return "CreateEvent: " + SystemErrorText(::GetLastError());
  // The thread's own handle, for its CPU time: std::thread's is not one.
  HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread_ = std::thread([this, ready] {
    ::DuplicateHandle(::GetCurrentProcess(), ::GetCurrentThread(), ::GetCurrentProcess(), &self_,
                      THREAD_QUERY_LIMITED_INFORMATION, FALSE, 0);
    ::SetEvent(ready);
    Serve();
  });
  ::WaitForSingleObject(ready, INFINITE);
  ::CloseHandle(ready);
  return {};
}

void StandInEngine::Stop() {
  if (thread_.joinable()) {
    ::SetEvent(stop_);
    thread_.join();
  }
  if (listen_ != INVALID_SOCKET) ::closesocket(std::exchange(listen_, INVALID_SOCKET));
  for (HANDLE* h : {&stop_, &arrivedEvent_, &self_}) {
    if (*h) ::CloseHandle(std::exchange(*h, nullptr));
  }
  if (std::exchange(winsock_, false)) ::WSACleanup();
}

double StandInEngine::CpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!self_ || !::GetThreadTimes(self_, &created, &exited, &kernel, &user)) return 0;
  return Seconds(kernel) + Seconds(user);
}

void StandInEngine::Serve() {
  WSAEVENT listening = ::WSACreateEvent();
  WSAEVENT reading = ::WSACreateEvent();
  ::WSAEventSelect(listen_, listening, FD_ACCEPT);
  SOCKET client = INVALID_SOCKET;
  const auto drop = [&] {
    if (client == INVALID_SOCKET) return;
    ::closesocket(std::exchange(client, INVALID_SOCKET));
    ::WSAResetEvent(reading);
  };
  for (;;) {
    const HANDLE handles[3] = {stop_, listening, reading};
    const DWORD count = client != INVALID_SOCKET ? 3 : 2;
    const DWORD woke = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
    if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
    if (woke == WAIT_OBJECT_0 + 1) {
      WSANETWORKEVENTS events{};
      ::WSAEnumNetworkEvents(listen_, listening, &events);
      if (!(events.lNetworkEvents & FD_ACCEPT)) continue;
      // The program connects afresh on every Conectar: the newest wins.
      const SOCKET fresh = ::accept(listen_, nullptr, nullptr);
      if (fresh == INVALID_SOCKET) continue;
      drop();
      client = fresh;
      ::WSAEventSelect(client, reading, FD_READ | FD_CLOSE);
      const BOOL on = TRUE;
      ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
      heard_.NewConnection();
      continue;
    }
    WSANETWORKEVENTS events{};
    ::WSAEnumNetworkEvents(client, reading, &events);
    // Non-blocking since WSAEventSelect: read all there is.
    for (;;) {
      char buffer[4096];
      const int n = ::recv(client, buffer, sizeof buffer, 0);
      const auto at = SteadyClock::now();
      if (n <= 0) {
        if (n < 0 && ::WSAGetLastError() == WSAEWOULDBLOCK) break;
        drop();
        break;
      }
      const auto answer = [client](const std::string& line) {
        if (line.rfind("SETPORT", 0) == 0) {
          static constexpr char kReady[] = "Velkor READY\r\n";
          ::send(client, kReady, sizeof kReady - 1, 0);
        }
      };
      if (heard_.Feed({buffer, static_cast<std::size_t>(n)}, at, answer) > 0) {
        ::SetEvent(arrivedEvent_);
      }
    }
  }
  drop();
  ::WSACloseEvent(listening);
  ::WSACloseEvent(reading);
}

}  // namespace pasotune::bench
