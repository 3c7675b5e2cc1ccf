// pasotune-gpredict.exe: Pasotune and its Gpredict feed with one double
// click. Starts pasotune-feed.exe --gpredict PORT beside it with no console
// window, waits until the feed answers, then runs pasotune.exe and ends the
// feed when the program ends.
#include <winsock2.h>
// After winsock2.h.
#include <windows.h>
// After windows.h.
#include <iphlpapi.h>
#include <shellapi.h>

#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"Pasotune con Gpredict";
// On Windows the radio itself is reached through rigctld on 4532 (README.txt),
// so Gpredict's radio is the feed's on the next port.
constexpr int kDefaultPort = 4533;
// A feed that neither answers nor ends in this time is left to come up on its
// own: the program links to the tracker whenever it appears.
constexpr DWORD kFeedAnswerMs = 10000;
constexpr DWORD kFeedEndMs = 5000;

void Tell(const std::wstring& text) {
  MessageBoxW(nullptr, text.c_str(), kTitle, MB_OK | MB_ICONERROR | MB_SETFOREGROUND);
}

std::wstring OwnFolder() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::wstring FirstArgument() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return {};
  std::wstring first = argc > 1 ? argv[1] : L"";
  LocalFree(argv);
  return first;
}

// The port given on the command line, the default without one, nothing for
// anything else.
std::optional<int> PortFromCommandLine() {
  int argc = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (!argv) return std::nullopt;
  std::optional<int> port;
  if (argc == 1) {
    port = kDefaultPort;
  } else if (argc == 2) {
    const std::wstring text = argv[1];
    const bool digits = !text.empty() && text.size() <= 5 && text[0] != L'0' &&
                        text.find_first_not_of(L"0123456789") == std::wstring::npos;
    if (digits && std::wcstol(text.c_str(), nullptr, 10) <= 65535) {
      port = static_cast<int>(std::wcstol(text.c_str(), nullptr, 10));
    }
  }
  LocalFree(argv);
  return port;
}

// What the feed printed before it answered or ended; read on a thread of its
// own so that the wait for it can have a deadline. `told` is set once it
// answered or ended; text and answering are not touched after.
struct FeedOutput {
  HANDLE pipe = nullptr;
  HANDLE told = nullptr;
  std::string text;
  bool answering = false;
};

std::wstring Wide(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
                          static_cast<int>(wide.size()))));
  return wide;
}

// Reads until the feed ends, also after it answered or the wait for it gave
// up: a pipe nobody reads freezes the feed once it is full.
DWORD WINAPI ReadFeed(void* param) {
  auto* out = static_cast<FeedOutput*>(param);
  char buffer[512];
  DWORD n = 0;
  while (ReadFile(out->pipe, buffer, sizeof buffer, &n, nullptr) && n > 0) {
    if (out->answering) continue;
    out->text.append(buffer, n);
    out->answering = out->text.rfind("answering ", 0) == 0 ||
                     out->text.find("\nanswering ") != std::string::npos;
    if (out->answering) SetEvent(out->told);
  }
  SetEvent(out->told);
  return 0;
}

// Who listens on the port, as Windows shows it; empty when nobody does.
std::wstring PortHolder(int port) {
  std::vector<char> table(16384);
  for (int tries = 0; tries < 4; ++tries) {
    auto size = static_cast<DWORD>(table.size());
    const DWORD rc =
        GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    if (rc == ERROR_INSUFFICIENT_BUFFER) {
      table.resize(size + 4096);
      continue;
    }
    if (rc != NO_ERROR) break;
    const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
    for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
      const MIB_TCPROW_OWNER_PID& row = rows->table[i];
      if (ntohs(static_cast<u_short>(row.dwLocalPort)) != port) continue;
      std::wstring name;
      if (const HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, row.dwOwningPid)) {
        wchar_t path[MAX_PATH];
        DWORD length = MAX_PATH;
        if (QueryFullProcessImageNameW(p, 0, path, &length)) {
          name.assign(path, length);
          name.erase(0, name.find_last_of(L"\\/") + 1);
        }
        CloseHandle(p);
      }
      // Wine, for one, says no process.
      if (row.dwOwningPid == 0) return L"otro programa (véalo con netstat -abno)";
      if (name.empty()) name = L"un programa de otro usuario o del sistema";
      return name + L" (proceso " + std::to_wstring(row.dwOwningPid) + L")";
    }
    return {};
  }
  return {};
}

bool Start(const std::wstring& program, std::wstring commandLine, const std::wstring& folder,
           DWORD flags, STARTUPINFOW* startup, PROCESS_INFORMATION* process) {
  return CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr,
                        startup->dwFlags & STARTF_USESTDHANDLES, flags, nullptr, folder.c_str(),
                        startup, process) != 0;
}

// Asks the feed to end as Ctrl-C would (WM_QUIT to its main thread), so that
// it withdraws its service; ends it by its handle if it does not.
void EndFeed(const PROCESS_INFORMATION& feed) {
  PostThreadMessageW(feed.dwThreadId, WM_QUIT, 0, 0);
  if (WaitForSingleObject(feed.hProcess, kFeedEndMs) != WAIT_OBJECT_0) {
    TerminateProcess(feed.hProcess, 1);
    WaitForSingleObject(feed.hProcess, kFeedEndMs);
  }
  CloseHandle(feed.hThread);
  CloseHandle(feed.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  if (const std::wstring arg = FirstArgument(); arg == L"--help" || arg == L"-h" || arg == L"/?") {
    MessageBoxW(nullptr,
                L"Uso: pasotune-gpredict [PUERTO]\n\n"
                L"Arranca pasotune-feed.exe, que hace de radio de Gpredict en 127.0.0.1:PUERTO "
                L"(4533 si no se da), y después pasotune.exe; al cerrar Pasotune se cierra "
                L"también el enlace.\n\nEn Gpredict, la radio: Host localhost, Port el mismo "
                L"PUERTO, Radio type Duplex TRX.",
                kTitle, MB_OK | MB_ICONINFORMATION);
    return 0;
  }
  const std::optional<int> port = PortFromCommandLine();
  if (!port) {
    Tell(
        L"Uso: pasotune-gpredict [PUERTO]\n\nEl puerto de Gpredict ha de ser un número de 1 a "
        L"65535; sin él, 4533.");
    return 2;
  }
  const std::wstring folder = OwnFolder();
  const std::wstring feedExe = folder + L"pasotune-feed.exe";
  const std::wstring programExe = folder + L"pasotune.exe";
  const std::wstring portText = std::to_wstring(*port);

  // Should this launcher be ended, the job ends the feed with it.
  const HANDLE job = CreateJobObjectW(nullptr, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job) SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);

  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  // Left to the reader, which may outlast the wait for it.
  FeedOutput& output = *new FeedOutput;
  output.told = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE feedEnd = nullptr;
  if (!output.told || !CreatePipe(&output.pipe, &feedEnd, &inherit, 0)) {
    Tell(L"No se pudo preparar el arranque de pasotune-feed.exe.");
    return 1;
  }
  SetHandleInformation(output.pipe, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW feedStartup{};
  feedStartup.cb = sizeof feedStartup;
  feedStartup.dwFlags = STARTF_USESTDHANDLES;
  feedStartup.hStdOutput = feedEnd;
  feedStartup.hStdError = feedEnd;
  PROCESS_INFORMATION feed{};
  const bool feedStarted = Start(feedExe, L"\"" + feedExe + L"\" --gpredict " + portText, folder,
                                 CREATE_NO_WINDOW | CREATE_SUSPENDED, &feedStartup, &feed);
  const DWORD whyNot = GetLastError();
  CloseHandle(feedEnd);
  if (!feedStarted) {
    if (whyNot == ERROR_FILE_NOT_FOUND || whyNot == ERROR_PATH_NOT_FOUND) {
      Tell(
          L"Falta pasotune-feed.exe, el programa que responde a Gpredict: ha de estar junto a "
          L"pasotune-gpredict.exe, en " +
          folder.substr(0, folder.size() - 1) +
          L".\n\nDescomprima de nuevo el zip de "
          L"Pasotune entero, o inicie pasotune.exe sin Gpredict.");
    } else {
      Tell(L"No se pudo arrancar " + feedExe + L" (error " + std::to_wstring(whyNot) +
           L").\n\nInicie pasotune.exe sin Gpredict.");
    }
    return 1;
  }
  if (job) AssignProcessToJobObject(job, feed.hProcess);
  ResumeThread(feed.hThread);

  const HANDLE reader = CreateThread(nullptr, 0, ReadFeed, &output, 0, nullptr);
  if (reader && WaitForSingleObject(output.told, kFeedAnswerMs) == WAIT_OBJECT_0 &&
      !output.answering) {
    DWORD status = 0;
    WaitForSingleObject(feed.hProcess, kFeedEndMs);
    GetExitCodeProcess(feed.hProcess, &status);
    const std::wstring other = std::to_wstring(*port < 65535 ? *port + 1 : *port - 1);
    const std::wstring wayOut =
        L"use otro: pasotune-gpredict.exe " + other +
        L" (en las propiedades de un acceso directo, al final del destino), y en Gpredict (Edit "
        L"→ Preferences → Interfaces → Radios) el puerto " +
        other + L" en la radio de Pasotune.";
    if (const std::wstring holder = PortHolder(*port); !holder.empty()) {
      Tell(L"El puerto " + portText + L" de Gpredict ya está en uso: lo tiene " + holder +
           L". Pasotune no se ha iniciado.\n\nCierre ese programa, o " + wayOut);
    } else {
      std::wstring said = Wide(output.text);
      // Its last line, which says why.
      while (!said.empty() && (said.back() == L'\n' || said.back() == L'\r')) said.pop_back();
      said.erase(0, said.find_last_of(L'\n') + 1);
      Tell(L"El programa pasotune-feed.exe terminó (estado " + std::to_wstring(status) +
           L") sin responder a Gpredict, y Pasotune no se ha iniciado." +
           (said.empty() ? L"" : L" Dijo: «" + said + L"».") +
           L"\n\nSi otro programa publica ya el seguimiento (Orbitron, otro pasotune-feed.exe), "
           L"ciérrelo. Si el puerto " +
           portText + L" está ocupado (véalo con netstat -ano), " + wayOut);
    }
    EndFeed(feed);
    return 1;
  }

  STARTUPINFOW programStartup{};
  programStartup.cb = sizeof programStartup;
  PROCESS_INFORMATION program{};
  if (!Start(programExe, L"\"" + programExe + L"\"", folder, 0, &programStartup, &program)) {
    Tell(L"No se pudo arrancar " + programExe + L".");
    EndFeed(feed);
    return 1;
  }
  CloseHandle(program.hThread);
  WaitForSingleObject(program.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(program.hProcess, &status);
  CloseHandle(program.hProcess);
  EndFeed(feed);
  return static_cast<int>(status);
}
