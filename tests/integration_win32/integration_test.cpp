// The Windows program end to end under Wine: the core over the Win32
// adapters, the Windows Velkor.exe on its simulated radio, and the Windows
// pasotune-feed publishing over DDE as Orbitron does.
//
// It listens on no port itself, but the core it drives uses port 9000 and
// ends every Velkor.exe by image name: run it in a Wine of its own
// (CMakeLists.txt says how).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "../common/transcript.hpp"
#include "app/pasotune.hpp"
#include "platform/std_files.hpp"
#include "platform/temp_folder.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "platform/win32/wide_text.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "platform/win32/win32_processes.hpp"
#include "platform/win32/win32_system.hpp"
#include "platform/win32/winsock_tcp_client.hpp"
// After windows.h, which the headers above bring in.
#include <tlhelp32.h>

#include "support.hpp"  // the Windows pasotune-feed as a child

namespace pasotune::test {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

struct Ended {};

// Ends nothing: the test goes on after the program "ended".
struct ThrowingEnd : ProgramEnd {
  [[noreturn]] void End() override { throw Ended{}; }
};

// Answers every box as a user who wants to go on: Yes, or OK.
struct ScriptedBox : MessageBox {
  std::vector<std::string> shown;
  MsgResult Show(const std::string& text, const std::string&, MsgButtons buttons,
                 MsgIcon) override {
    shown.push_back(text);
    return buttons == MsgButtons::kYesNo ? MsgResult::kYes : MsgResult::kOk;
  }
};

using test::Heard;

bool PumpUntil(EventPump& pump, const std::function<bool()>& done, int timeoutMs) {
  const auto end = Clock::now() + milliseconds(timeoutMs);
  while (!done()) {
    const auto left = std::chrono::ceil<milliseconds>(end - Clock::now()).count();
    if (left <= 0) return false;
    // The transcript grows in another process and wakes nothing here: look
    // at it a few times a second.
    pump.PumpOnce(static_cast<int>(std::min<long long>(left, 100)));
  }
  return true;
}

void PumpFor(EventPump& pump, int ms) {
  PumpUntil(
      pump, [] { return false; }, ms);
}

fs::path FromUtf8(const std::string& utf8) {
  return fs::path(Utf8ToWide(utf8));
}

// The program folder, as a user would have it: Velkor.exe and the pictures
// beside the program, in a folder whose name is not plain ASCII.
class ProgramFolder {
 public:
  explicit ProgramFolder(bool withEngine) {
    scratch_ = FromUtf8(MakeTempFolder("pasotune-win32-"));
    path_ = scratch_ / L"Pasotune a\u00f1o";
    fs::create_directory(path_);
    if (withEngine) {
      const fs::path engine = FromUtf8(VELKOR_EXE);
      fs::copy_file(engine, path_ / L"Velkor.exe");
      // With the DLLs beside it (Hamlib's), if it has any.
      for (const auto& entry : fs::directory_iterator(engine.parent_path())) {
        if (entry.path().extension() == L".dll") {
          fs::copy_file(entry.path(), path_ / entry.path().filename());
        }
      }
    }
    for (const wchar_t* picture : {L"cancel.ico", L"up2.ico"}) {
      fs::copy_file(FromUtf8(PICTURES_DIR) / picture, path_ / picture);
    }
    std::ofstream(path_ / L"velkor.conf") << "radio = sim\ntranscript = transcript.log\n";
  }
  ~ProgramFolder() {
    EndOurEngines();
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }
  ProgramFolder(const ProgramFolder&) = delete;
  ProgramFolder& operator=(const ProgramFolder&) = delete;

  std::string Utf8() const { return WideToUtf8(path_.wstring()); }
  fs::path Path() const { return path_; }

  std::vector<Heard> Transcript() const { return test::ReadTranscript(path_ / L"transcript.log"); }
  std::vector<std::string> Lines() const { return test::LinesOf(Transcript()); }

  // The engines started from this folder: the only ones this test may end.
  int EnginesRunning() const {
    return ForOurEngines([](HANDLE) {});
  }
  void EndOurEngines() const {
    ForOurEngines([](HANDLE process) {
      ::TerminateProcess(process, 9);
      ::WaitForSingleObject(process, 5000);
    });
  }

 private:
  int ForOurEngines(const std::function<void(HANDLE)>& act) const {
    const fs::path ours = path_ / L"Velkor.exe";
    const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    int found = 0;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
         more = ::Process32NextW(snapshot, &entry)) {
      if (std::wstring(entry.szExeFile) != L"Velkor.exe") continue;
      const HANDLE process =
          ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_TERMINATE | SYNCHRONIZE, FALSE,
                        entry.th32ProcessID);
      if (process == nullptr) continue;
      wchar_t image[MAX_PATH * 2];
      DWORD size = static_cast<DWORD>(std::size(image));
      std::error_code ec;
      if (::QueryFullProcessImageNameW(process, 0, image, &size) &&
          fs::equivalent(fs::path(std::wstring(image, size)), ours, ec) &&
          ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT) {
        ++found;
        act(process);
      }
      ::CloseHandle(process);
    }
    ::CloseHandle(snapshot);
    return found;
  }

  fs::path scratch_;
  fs::path path_;
};

// The production adapters of the Windows program, with a scripted message
// box and an end that leaves the test running.
struct Win32Program {
  explicit Win32Program(const std::string& folder) : files(folder) {}

  Win32Clock clock;
  Win32EventPump pump;
  WinsockTcpClient tcp;
  DdeTrackerLink tracker;
  Win32Processes processes;
  StdFiles files;
  ScriptedBox box;
  ThrowingEnd end;
  char decimal = SystemDecimalSeparator();
  Platform platform{clock, pump, tcp, tracker, processes, files, box, end, decimal, '\\'};
  Pasotune app{platform};
};

// A stand-in Orbitron publishing what the test writes to it, record by record.
void StartFeed(Feed& feed, const std::string& first) {
  ASSERT_TRUE(feed.Start({L"--stdin"}));
  feed.Write(first + "\n");
  ASSERT_EQ(feed.NextLine(), first) << "the feed published nothing";
}

TEST(Win32Integration, StartedLikeAUserTheCoreTunesTheWindowsEngineFromDde) {
  ProgramFolder folder(true);
  Feed feed;
  StartFeed(feed, "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");

  Win32Program program(folder.Utf8());
  Pasotune& app = program.app;
  EventPump& pump = program.pump;
  const std::string d(1, program.decimal);

  // Timer1 enables Conectar about 2 s after the load and links to the
  // tracker, whose current record shows at once.
  const auto loaded = Clock::now();
  app.Load();
  ASSERT_TRUE(PumpUntil(
      pump, [&] { return app.form.Command1.Enabled() && app.form.LabelSat.Caption() == "AO-07"; },
      10000))
      << "Conectar enabled: " << app.form.Command1.Enabled() << ", satellite '"
      << app.form.LabelSat.Caption() << "'";
  EXPECT_GE(MsSince(loaded), 1900);
  EXPECT_EQ(app.form.LabelRX.Caption(), "145" + d + "95");
  EXPECT_EQ(app.form.LabelModoTX.Caption(), "LSB");
  EXPECT_EQ(folder.EnginesRunning(), 0);

  // Conectar: the engine starts from the program folder, the link comes up
  // and SETPORT goes out.
  app.form.Command1.Click();
  ASSERT_TRUE(app.m.Conectado) << "log: " << app.form.List1.ListCount() << " lines";
  EXPECT_EQ(app.form.Command1.Caption(), "Desconectar");
  EXPECT_EQ(folder.EnginesRunning(), 1);
  ASSERT_TRUE(PumpUntil(
      pump, [&] { return app.form.List1.ListCount() >= 2; }, 5000));
  EXPECT_EQ(app.form.List1.Item(0), "Conectando ...");
  EXPECT_EQ(app.form.List1.Item(1),
            "Velkor READY: radio simulado en COM1; nada sale del ordenador");

  // The ready banner sends the record on show, all four settings 500 ms apart;
  // a record after it only what moved by 100 Hz or more.
  ASSERT_TRUE(PumpUntil(
      pump, [&] { return folder.Transcript().size() >= 5; }, 10000));
  feed.Write("SNAO-07 DN145950123 UP432149877 DMUSB UMLSB\n");
  ASSERT_TRUE(PumpUntil(
      pump, [&] { return folder.Transcript().size() >= 7; }, 5000));
  PumpFor(pump, 1200);  // nothing more may follow

  const std::vector<std::string> expected = {"SETPORT COM1",
                                             "SET FREQ MAIN 432" + d + "1500",
                                             "SET MODE MAIN LSB",
                                             "SET FREQ SUB 145" + d + "9500",
                                             "SET MODE SUB USB",
                                             "SET FREQ MAIN 432" + d + "1499",
                                             "SET FREQ SUB 145" + d + "9501"};
  EXPECT_EQ(folder.Lines(), expected);
  // The follower's pause after each command sets the pace; Wine and a busy
  // machine add some, never take any away.
  const std::vector<Heard> heard = folder.Transcript();
  for (std::size_t i = 2; i < 5 && i < heard.size(); ++i) {
    double gap = heard[i].seconds - heard[i - 1].seconds;
    if (gap < -43200) gap += 86400;  // the transcript's clock went past midnight
    std::printf("%.3f s, then %s\n", gap, heard[i].line.c_str());
    EXPECT_GE(gap, 0.45) << heard[i].line;
    EXPECT_LE(gap, 0.9) << heard[i].line;
  }

  // Desconectar ends the engine by its image name.
  app.form.Command1.Click();
  EXPECT_FALSE(app.m.Conectado);
  EXPECT_TRUE(PumpUntil(
      pump, [&] { return folder.EnginesRunning() == 0; }, 5000));
  EXPECT_EQ(app.form.List1.Item(app.form.List1.ListCount() - 1), "Desconectado");

  // Closing: asked, settings saved, then the end.
  EXPECT_THROW(app.form.RequestClose(), Ended);
  EXPECT_EQ(program.box.shown, std::vector<std::string>{"Sale de Pasotune?"});
  std::ifstream config(folder.Path() / L"config.txt", std::ios::binary);
  const std::string saved((std::istreambuf_iterator<char>(config)),
                          std::istreambuf_iterator<char>());
  EXPECT_EQ(saved.rfind("Puerto=COM1\r\nCTCSS=", 0), 0u) << saved;
}

// What the user is told at start-up when a piece is missing.
TEST(Win32Integration, StartUpWithoutTrackerOrEngineTellsTheUser) {
  const struct {
    bool engine;
    bool tracker;
    std::vector<std::string> told;
    bool ends;
  } cases[] = {
      {true, false, {"No se est\u00e1 ejecutando Orbitron!"}, false},
      {false, true, {"Falta motor Velkor.exe"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("engine ") + (c.engine ? "present" : "missing") + ", tracker " +
                 (c.tracker ? "running" : "absent"));
    ProgramFolder folder(c.engine);
    Feed feed;
    if (c.tracker) StartFeed(feed, "SNSO-50 DN436795000 UP145850000 DMFM UMFM");
    Win32Program program(folder.Utf8());
    Pasotune& app = program.app;
    app.Load();
    bool ended = false;
    try {
      PumpUntil(
          program.pump, [&] { return app.form.Command1.Enabled() && !program.box.shown.empty(); },
          10000);
    } catch (const Ended&) {
      ended = true;
    }
    EXPECT_EQ(program.box.shown, c.told);
    EXPECT_EQ(ended, c.ends);
    EXPECT_EQ(app.form.Command1.Enabled(), !c.ends);
    EXPECT_EQ(folder.EnginesRunning(), 0);
  }
}

}  // namespace
}  // namespace pasotune::test
