// Stands in for pasotune.exe beside pasotune-gpredict.exe: the feed must
// already answer on Gpredict's port (4533) the moment the program starts
// (with STANDIN_PATIENT set, within 30 s). Ends with 42 when it answered one
// read of the frequency, else 3.
// As pasotune-feed.exe (--gpredict 4533): a feed that answers after the
// launcher's 10 s and prints 1 MB before it listens.
// --box FILE: the launcher's message box, its text into FILE, then Aceptar.
#include <winsock2.h>
// After winsock2.h.
#include <windows.h>
// After windows.h.
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

sockaddr_in Port4533() {
  sockaddr_in at{.sin_family = AF_INET, .sin_port = htons(4533), .sin_addr = {}, .sin_zero = {}};
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return at;
}

bool Asked() {
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at = Port4533();
  char reply[64] = {};
  const bool answered = connect(s, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0 &&
                        send(s, "f\n", 2, 0) == 2 && recv(s, reply, sizeof reply - 1, 0) > 0;
  closesocket(s);
  return answered;
}

int LateFeed() {
  Sleep(11000);
  std::printf("answering Gpredict's radio on 127.0.0.1:4533\n");
  for (int i = 0; i < 20000; ++i) std::printf("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB\n");
  std::fflush(stdout);
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at = Port4533();
  if (bind(s, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(s, 4) != 0) return 3;
  for (;;) {
    const SOCKET c = accept(s, nullptr, nullptr);
    char line[64];
    if (recv(c, line, sizeof line, 0) > 0) send(c, "145950000\n", 10, 0);
    closesocket(c);
  }
}

BOOL CALLBACK AddText(HWND child, LPARAM text) {
  wchar_t part[2048] = {};
  GetWindowTextW(child, part, 2048);
  *reinterpret_cast<std::wstring*>(text) += std::wstring(part) + L"\n";
  return TRUE;
}

int ReadBox(const wchar_t* file) {
  for (int tries = 0; tries < 300; ++tries, Sleep(100)) {
    const HWND box = FindWindowW(L"#32770", L"Pasotune con Gpredict");
    if (!box) continue;
    std::wstring text;
    EnumChildWindows(box, AddText, reinterpret_cast<LPARAM>(&text));
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(),
                            static_cast<int>(utf8.size()), nullptr, nullptr)));
    if (FILE* out = _wfopen(file, L"wb")) {
      std::fwrite(utf8.data(), 1, utf8.size(), out);
      std::fclose(out);
    }
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  return 3;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return 3;
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc == 3 && std::wcscmp(argv[1], L"--box") == 0) return ReadBox(argv[2]);
  if (argc == 3 && std::wcscmp(argv[1], L"--gpredict") == 0) return LateFeed();
  const int tries = std::getenv("STANDIN_PATIENT") ? 300 : 1;
  for (int i = 0; i < tries; ++i, Sleep(100)) {
    if (Asked()) return 42;
  }
  return 3;
}
