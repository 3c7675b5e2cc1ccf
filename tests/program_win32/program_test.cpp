// pasotune.exe as a user meets it, under Wine: a copy of the program folder,
// the Windows pasotune-feed publishing a pass over DDE, Conectar clicked as
// Windows delivers a click, the Windows Velkor.exe on its simulated radio,
// and a close answered Yes. Seen from outside, through the windows and
// files only. Runs in a wineserver and network of its own (port 9000, and
// the close ends every Velkor.exe).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../common/gpredict_transcript.hpp"
#include "../dde/support.hpp"
#include "platform/win32/win32_api.hpp"
// After windows.h, which support.hpp brings in.
#include <tlhelp32.h>

namespace pasotune::test {
namespace {

namespace fs = std::filesystem;

fs::path BesideThisProgram() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  return fs::path(std::wstring(path, n)).parent_path();
}

// Asks done() every 100 ms, and on every message, until it holds or
// timeoutMs passes.
bool Poll(const std::function<bool()>& done, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= end) return false;
    PumpUntil(done, 100);
  }
  return true;
}

std::string ReadAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::wstring TextOf(HWND w) {
  wchar_t text[256] = L"";
  // Across processes WM_GETTEXT is what answers for another's window.
  SendMessageTimeoutW(w, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text),
                      SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

std::wstring ClassOf(HWND w) {
  wchar_t name[64] = L"";
  GetClassNameW(w, name, static_cast<int>(std::size(name)));
  return name;
}

// The visible top-level window of that process whose class is windowClass
// (any when empty) and whose caption is caption (any when empty).
HWND TopLevel(DWORD pid, const std::wstring& windowClass, const std::wstring& caption) {
  struct Search {
    DWORD pid;
    const std::wstring& windowClass;
    const std::wstring& caption;
    HWND found = nullptr;
  } search{pid, windowClass, caption};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        if (owner != s.pid || !IsWindowVisible(w)) return TRUE;
        if (!s.windowClass.empty() && ClassOf(w) != s.windowClass) return TRUE;
        if (!s.caption.empty() && TextOf(w) != s.caption) return TRUE;
        s.found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A child of the window, at any depth, with that class and text.
HWND Child(HWND parent, const std::wstring& windowClass, const std::wstring& text) {
  struct Search {
    const std::wstring& windowClass;
    const std::wstring& text;
    HWND found = nullptr;
  } search{windowClass, text};
  EnumChildWindows(
      parent,
      [](HWND w, LPARAM p) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(p);
        if (CompareStringOrdinal(ClassOf(w).c_str(), -1, s.windowClass.c_str(), -1, TRUE) !=
                CSTR_EQUAL ||
            TextOf(w) != s.text) {
          return TRUE;
        }
        s.found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int ProcessesNamed(const std::wstring& image) {
  const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  int n = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more;
       more = Process32NextW(snapshot, &entry)) {
    if (image == entry.szExeFile) ++n;
  }
  CloseHandle(snapshot);
  return n;
}

class Program {
 public:
  ~Program() {
    if (info_.hProcess) {
      if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(info_.hProcess, 9);
        WaitForSingleObject(info_.hProcess, 10000);
      }
      CloseHandle(info_.hProcess);
      CloseHandle(info_.hThread);
    }
  }
  bool Start(const fs::path& exe) {
    std::wstring line = Quoted(exe.wstring());
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          exe.parent_path().c_str(), &si, &info_) != FALSE;
  }
  DWORD Pid() const { return info_.dwProcessId; }
  // Its window, once shown; null when none comes within 30 s.
  HWND AwaitWindow() const {
    HWND window = nullptr;
    Poll([&] { return (window = TopLevel(Pid(), L"", L"Pasotune 1.0")) != nullptr; }, 30000);
    return window;
  }
  bool Ended(int timeoutMs) {
    return PumpUntil([this] { return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; },
                     timeoutMs, info_.hProcess);
  }

 private:
  PROCESS_INFORMATION info_{};
};

// Conectar, once the engine check two seconds in has enabled it; null when
// it never is.
HWND AwaitConectar(HWND window) {
  const HWND connect = Child(window, L"Button", L"Conectar");
  if (!connect || !Poll([&] { return IsWindowEnabled(connect) != FALSE; }, 15000)) return nullptr;
  return connect;
}

class Folder {
 public:
  Folder() {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    path_ = fs::path(temp) / (L"pasotune-program-" + std::to_wstring(GetCurrentProcessId()));
    fs::create_directories(path_);
  }
  ~Folder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

// The engine's DLLs (Hamlib's), if the build has any, copied into TO.
void CopyEngineDlls(const fs::path& to) {
  for (const auto& entry : fs::directory_iterator(BesideThisProgram().parent_path() / "program")) {
    if (entry.path().extension() == ".dll")
      fs::copy_file(entry.path(), to / entry.path().filename());
  }
}

// Set by radio_com1_test.sh, which puts a TS-790 stand-in on COM1: the engine then runs as a
// new installation's does, with no velkor.conf, on the real radio.
bool RadioOnCom1() {
  return _wgetenv(L"PASOTUNE_TEST_RADIO_ON_COM1") != nullptr;
}

// The program folder of the build, copied where the program may write, with
// the engine keeping a transcript, on its simulated radio unless the radio is on COM1.
void CopyProgram(const Folder& folder) {
  const fs::path built = BesideThisProgram().parent_path() / "program";
  for (const char* name : {"pasotune.exe", "Velkor.exe", "cancel.ico", "up2.ico"}) {
    ASSERT_TRUE(fs::exists(built / name)) << (built / name).string();
    fs::copy_file(built / name, folder.Path() / name);
  }
  CopyEngineDlls(folder.Path());
  if (RadioOnCom1()) {
    SetEnvironmentVariableW(L"VELKOR_CONF", nullptr);
    SetEnvironmentVariableW(L"VELKOR_TRANSCRIPT", (folder.Path() / "transcript.log").c_str());
    return;
  }
  std::ofstream(folder.Path() / "velkor.conf", std::ios::binary)
      << "radio = sim\r\ntranscript = transcript.log\r\n";
}

// Closed as the user closes it, and Yes to the question.
void CloseWithYes(Program& program, HWND window) {
  PostMessageW(window, WM_CLOSE, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(
      Poll([&] { return (box = TopLevel(program.Pid(), L"#32770", L"")) != nullptr; }, 10000))
      << "no exit question";
  const HWND yes = GetDlgItem(box, IDYES);
  ASSERT_TRUE(yes);
  PostMessageW(yes, BM_CLICK, 0, 0);
  ASSERT_TRUE(program.Ended(20000)) << "the program did not end after Yes";
}

TEST(Program, FollowsAPassOnTheEngineAndClosesAsAsked) {
  Folder folder;
  CopyProgram(folder);
  const fs::path transcript = folder.Path() / "transcript.log";

  Feed feed;
  ASSERT_TRUE(feed.Start({L"--pass", L"--name", L"SAT\u00c9LITE-1", L"--modes", L"USB,LSB",
                          L"--speed", L"10", L"--start", L"100"}));
  ASSERT_FALSE(feed.NextLine().empty()) << "the feed publishes nothing";

  Program program;
  ASSERT_TRUE(program.Start(folder.Path() / "pasotune.exe"));
  const HWND window = program.AwaitWindow();
  ASSERT_TRUE(window) << "no window \"Pasotune 1.0\"";
  // The default settings are written while the window loads.
  EXPECT_EQ(ReadAll(folder.Path() / "config.txt"), "Puerto=COM1\r\nCTCSS=88.5\r\n");

  // The engine check two seconds in enables Conectar; the tracker's values
  // reach the labels.
  const HWND connect = AwaitConectar(window);
  ASSERT_TRUE(connect) << "Conectar never enabled";
  ASSERT_TRUE(Poll([&] { return Child(window, L"Static", L"SAT\u00c9LITE-1") != nullptr; }, 15000))
      << "the satellite's name never showed";

  PostMessageW(connect, BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return TextOf(connect) == L"Desconectar"; }, 10000));
  const auto heard = [&](const char* line) {
    return ReadAll(transcript).find(line) != std::string::npos;
  };
  // Uplink on MAIN, downlink on SUB, as the pass goes.
  for (const char* line : {"SETPORT COM1", "SET FREQ MAIN 432.1", "SET MODE MAIN LSB",
                           "SET FREQ SUB 145.9", "SET MODE SUB USB"}) {
    EXPECT_TRUE(Poll([&] { return heard(line); }, 20000)) << line << "\n" << ReadAll(transcript);
  }
  EXPECT_LT(ReadAll(transcript).find("SETPORT COM1"), ReadAll(transcript).find("SET FREQ"));
  EXPECT_EQ(ProcessesNamed(L"Velkor.exe"), 1);
  // The pass goes on: both bands are tuned again as it moves.
  const auto count = [&](const char* line) {
    const std::string text = ReadAll(transcript);
    int n = 0;
    for (auto at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
    return n;
  };
  EXPECT_TRUE(
      Poll([&] { return count("SET FREQ MAIN") >= 2 && count("SET FREQ SUB") >= 2; }, 20000));
  // What the window's log shows of the engine: the radio it drives and the port.
  EXPECT_TRUE(heard(RadioOnCom1() ? "=> Velkor READY: Kenwood TS-790 en COM1 (4800 baudios)\n"
                                  : "=> Velkor READY: radio simulado en COM1; nada sale"))
      << ReadAll(transcript);

  CloseWithYes(program, window);
  EXPECT_EQ(ReadAll(folder.Path() / "config.txt"), "Puerto=COM1\r\nCTCSS=88.5\r\n");
  EXPECT_TRUE(Poll([] { return ProcessesNamed(L"Velkor.exe") == 0; }, 10000))
      << "the engine outlived the program";
}

// A second start while the first follows with its engine: it brings the
// first to the front and ends, and the engine runs on.
TEST(Program, ASecondStartRaisesTheFirstAndLeavesItsEngine) {
  Folder folder;
  CopyProgram(folder);
  Feed feed;
  ASSERT_TRUE(feed.Start({L"--pass", L"--speed", L"10"}));
  Program first;
  ASSERT_TRUE(first.Start(folder.Path() / "pasotune.exe"));
  const HWND window = first.AwaitWindow();
  ASSERT_TRUE(window) << "no window \"Pasotune 1.0\"";
  const HWND connect = AwaitConectar(window);
  ASSERT_TRUE(connect) << "Conectar never enabled";
  PostMessageW(connect, BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return ProcessesNamed(L"Velkor.exe") == 1; }, 10000)) << "no engine";
  ShowWindow(window, SW_MINIMIZE);
  ASSERT_TRUE(Poll([&] { return IsIconic(window) != FALSE; }, 5000));

  Program second;
  ASSERT_TRUE(second.Start(folder.Path() / "pasotune.exe"));
  ASSERT_TRUE(second.Ended(15000)) << "the second start did not end";
  EXPECT_TRUE(Poll([&] { return IsIconic(window) == FALSE; }, 5000)) << "not brought back";
  EXPECT_EQ(ProcessesNamed(L"pasotune.exe"), 1);
  EXPECT_EQ(ProcessesNamed(L"Velkor.exe"), 1);
  EXPECT_EQ(TextOf(connect), L"Desconectar");
  CloseWithYes(first, window);
}

// The tracker starts 5 s after the program, is killed and comes back: one
// box at start-up, and the records reach the engine each time.
TEST(Program, FollowsATrackerStartedLaterKilledAndRestarted) {
  Folder folder;
  CopyProgram(folder);
  const fs::path transcript = folder.Path() / "transcript.log";
  Program program;
  ASSERT_TRUE(program.Start(folder.Path() / "pasotune.exe"));
  const auto started = Clock::now();
  const HWND window = program.AwaitWindow();
  ASSERT_TRUE(window) << "no window \"Pasotune 1.0\"";

  HWND box = nullptr;
  ASSERT_TRUE(
      Poll([&] { return (box = TopLevel(program.Pid(), L"#32770", L"")) != nullptr; }, 15000))
      << "no word that the tracker is absent";
  EXPECT_TRUE(Child(box, L"Static", L"No se est\u00e1 ejecutando Orbitron!"));
  PostMessageW(GetDlgItem(box, IDOK), BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return TopLevel(program.Pid(), L"#32770", L"") == nullptr; }, 10000));
  const HWND connect = Child(window, L"Button", L"Conectar");
  ASSERT_TRUE(connect);
  PostMessageW(connect, BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return TextOf(connect) == L"Desconectar"; }, 10000));

  PumpUntil([] { return false; }, std::max(0, 5000 - static_cast<int>(MsSince(started))));
  const auto heardAfter = [&](std::size_t from, const char* line) {
    return ReadAll(transcript).find(line, from) != std::string::npos;
  };
  {
    Feed late;
    ASSERT_TRUE(late.Start({L"--pass", L"--name", L"LATE-1", L"--speed", L"10"}));
    ASSERT_FALSE(late.NextLine().empty());
    ASSERT_TRUE(Poll([&] { return Child(window, L"Static", L"LATE-1") != nullptr; }, 15000))
        << "never linked to the late feed";
    EXPECT_TRUE(Poll([&] { return heardAfter(0, "SET FREQ MAIN 432.1"); }, 20000))
        << ReadAll(transcript);
    late.Kill();
  }
  PumpUntil([] { return false; }, 1000);
  const std::size_t before = ReadAll(transcript).size();
  Feed again;
  ASSERT_TRUE(again.Start({L"--pass", L"--name", L"AGAIN-2", L"--speed", L"10"}));
  ASSERT_FALSE(again.NextLine().empty());
  ASSERT_TRUE(Poll([&] { return Child(window, L"Static", L"AGAIN-2") != nullptr; }, 15000))
      << "never linked to the restarted feed";
  EXPECT_TRUE(Poll([&] { return heardAfter(before, "SET FREQ "); }, 20000)) << ReadAll(transcript);
  EXPECT_EQ(TopLevel(program.Pid(), L"#32770", L""), nullptr) << "a second box";
  CloseWithYes(program, window);
}

// An engine slow to listen: Velkor.exe is a stand-in that starts the real
// engine, kept in the folder later, 1.5 s late, so the first attempts are refused.
// The switch reads Desconectar once linked, and one click ends the engine
// without starting another.
TEST(Program, AnEngineSlowToListenLinksAndOneClickDisconnects) {
  Folder folder;
  CopyProgram(folder);
  const fs::path later = folder.Path() / "later";
  fs::create_directories(later);
  fs::rename(folder.Path() / "Velkor.exe", later / "Velkor.exe");
  CopyEngineDlls(later);
  fs::copy_file(BesideThisProgram() / "pasotune_slow_engine.exe", folder.Path() / "Velkor.exe");
  std::ofstream(later / "velkor.conf", std::ios::binary)
      << "radio = sim\r\ntranscript = transcript.log\r\n";
  const fs::path transcript = later / "transcript.log";
  const auto setports = [&] {
    const std::string text = ReadAll(transcript);
    int n = 0;
    for (auto at = text.find("SETPORT"); at != std::string::npos; at = text.find("SETPORT", at + 1))
      ++n;
    return n;
  };

  Feed feed;  // so that no message box waits for the user
  ASSERT_TRUE(feed.Start({L"--pass", L"--speed", L"10"}));
  Program program;
  ASSERT_TRUE(program.Start(folder.Path() / "pasotune.exe"));
  const HWND window = program.AwaitWindow();
  ASSERT_TRUE(window) << "no window \"Pasotune 1.0\"";
  const HWND connect = AwaitConectar(window);
  ASSERT_TRUE(connect) << "Conectar never enabled";

  PostMessageW(connect, BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return setports() == 1; }, 20000)) << ReadAll(transcript);
  EXPECT_TRUE(Poll([&] { return TextOf(connect) == L"Desconectar"; }, 2000));
  PumpUntil([] { return false; }, 1000);
  EXPECT_EQ(TextOf(connect), L"Desconectar");

  PostMessageW(connect, BM_CLICK, 0, 0);
  EXPECT_TRUE(Poll([&] { return TextOf(connect) == L"Conectar"; }, 10000));
  EXPECT_TRUE(Poll([] { return ProcessesNamed(L"Velkor.exe") == 0; }, 10000));
  PumpUntil([] { return false; }, 3000);  // a restarted engine would be up by now
  EXPECT_EQ(ProcessesNamed(L"Velkor.exe"), 0);
  EXPECT_EQ(setports(), 1);
}

// Gpredict driving the feed as its radio (its transcript replayed at its own
// pace), the program following over DDE: uplink on MAIN, downlink on SUB,
// the transponder's modes.
TEST(Program, FollowsGpredictThroughTheFeedOnTheEngine) {
  Folder folder;
  ASSERT_NO_FATAL_FAILURE(CopyProgram(folder));
  const fs::path transcript = folder.Path() / "transcript.log";
  const fs::path data = GPREDICT_DATA;
  Feed feed;
  ASSERT_TRUE(
      feed.Start({L"--gpredict", L"45320", L"--gpredict-config", (data / "config").wstring()}));
  for (std::string line; (line = feed.NextLine()).rfind("answering", 0) != 0;) {
    ASSERT_FALSE(line.empty()) << "the feed never answered Gpredict";
  }

  Program program;
  ASSERT_TRUE(program.Start(folder.Path() / "pasotune.exe"));
  const HWND window = program.AwaitWindow();
  ASSERT_TRUE(window) << "no window \"Pasotune 1.0\"";
  const HWND connect = AwaitConectar(window);
  ASSERT_TRUE(connect) << "Conectar never enabled";
  PostMessageW(connect, BM_CLICK, 0, 0);
  ASSERT_TRUE(Poll([&] { return TextOf(connect) == L"Desconectar"; }, 10000));

  // Gpredict's side on a thread of its own, a command every 20 ms.
  std::atomic<bool> stop = false;
  std::atomic<int> answered = 0;
  std::thread gpredict([&] {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 2000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(45320);
    if (::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
      for (const GpredictExchange& e : ReadGpredictTranscript(data / "duplex-main-sub.txt")) {
        if (stop || e.command == "q") break;
        const std::string line = e.command + "\n";
        send(s, line.data(), static_cast<int>(line.size()), 0);
        char c = 0;
        while (recv(s, &c, 1, 0) == 1 && c != '\n') {
        }
        if (c == '\n') ++answered;
        Sleep(20);
      }
    }
    closesocket(s);
    WSACleanup();
  });
  const auto heard = [&](const char* line) {
    return ReadAll(transcript).find(line) != std::string::npos;
  };
  for (const char* line : {"SETPORT COM1", "SET FREQ MAIN 145.94", "SET MODE MAIN LSB",
                           "SET FREQ SUB 435.85", "SET MODE SUB USB"}) {
    EXPECT_TRUE(Poll([&] { return heard(line); }, 20000)) << line << "\n" << ReadAll(transcript);
  }
  EXPECT_TRUE(Poll([&] { return Child(window, L"Static", L"PASOTEST") != nullptr; }, 5000))
      << "the satellite's name from Gpredict's files";
  stop = true;
  gpredict.join();
  EXPECT_GT(answered.load(), 20) << "the feed answered Gpredict";

  PostMessageW(window, WM_CLOSE, 0, 0);
  HWND box = nullptr;
  ASSERT_TRUE(
      Poll([&] { return (box = TopLevel(program.Pid(), L"#32770", L"")) != nullptr; }, 10000));
  PostMessageW(GetDlgItem(box, IDYES), BM_CLICK, 0, 0);
  ASSERT_TRUE(program.Ended(20000));
}

}  // namespace
}  // namespace pasotune::test
