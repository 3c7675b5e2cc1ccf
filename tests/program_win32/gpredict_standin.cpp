// Stands in for pasotune.exe beside pasotune-gpredict.exe: the feed must
// already answer on Gpredict's port (4533) the moment the program starts
// (with STANDIN_PATIENT set, within 30 s). Ends with 42 when it answered one
// read of the frequency, else 3. As pasotune-feed.exe (--gpredict 4533): a
// feed that answers after the launcher's 10 s and prints 1 MB before it
// listens.
#include <winsock2.h>
// After winsock2.h.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

SOCKET At4533(bool listening) {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{.sin_family = AF_INET, .sin_port = htons(4533), .sin_addr = {}, .sin_zero = {}};
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto* a = reinterpret_cast<sockaddr*>(&at);
  const bool ok =
      listening ? bind(s, a, sizeof at) == 0 && listen(s, 4) == 0 : connect(s, a, sizeof at) == 0;
  return ok ? s : INVALID_SOCKET;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  if (__argc == 3) {
    Sleep(11000);
    for (int i = 0; i < 20000; ++i) std::printf("answering SNAO-07 DN145950000 UP432150000\n");
    std::fflush(stdout);
    for (const SOCKET s = At4533(true); s != INVALID_SOCKET;) {
      const SOCKET c = accept(s, nullptr, nullptr);
      char line[64];
      if (recv(c, line, sizeof line, 0) > 0) send(c, "145950000\n", 10, 0);
      closesocket(c);
    }
    return 3;
  }
  for (int i = 0, tries = std::getenv("STANDIN_PATIENT") ? 300 : 1; i < tries; ++i, Sleep(100)) {
    const SOCKET s = At4533(false);
    char reply[64] = {};
    const bool answered =
        s != INVALID_SOCKET && send(s, "f\n", 2, 0) == 2 && recv(s, reply, sizeof reply - 1, 0) > 0;
    closesocket(s);
    if (answered) return 42;
  }
  return 3;
}
