// Stands in for pasotune.exe beside pasotune-gpredict.exe: the feed must
// already answer on Gpredict's port (4533) the moment the program starts.
// Ends with 42 when it answered one read of the frequency, else 3.
#include <winsock2.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{.sin_family = AF_INET, .sin_port = htons(4533), .sin_addr = {}, .sin_zero = {}};
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char reply[64] = {};
  const bool answered = connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                        send(s, "f\n", 2, 0) == 2 && recv(s, reply, sizeof reply - 1, 0) > 0;
  closesocket(s);
  return answered ? 42 : 3;
}
