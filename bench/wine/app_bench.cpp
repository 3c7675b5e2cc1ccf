// The whole Windows program under Wine, measured as the Linux one is:
//   pasotune-wine-app-bench startup [runs]   process start to the window shown
//   pasotune-wine-app-bench idle [seconds]   CPU the running program uses while idle
//   pasotune-wine-app-bench log [lines] [registro]
//                                            lines into the activity log, window attached
//                                            (and the Registro window open, following)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/win32/program.hpp"
#include "common/log_lines.hpp"
#include "measure.hpp"
#include "platform/temp_folder.hpp"
#include "platform/win32/wide_text.hpp"
#include "view/win32/registro_window.hpp"

namespace pasotune::bench {
namespace {

class QuietBox : public MessageBox {
 public:
  MsgResult Show(const std::string& text, const std::string&, MsgButtons, MsgIcon) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    return MsgResult::kNo;
  }
};

class ExitEnd : public ProgramEnd {
 public:
  [[noreturn]] void End() override { ::ExitProcess(0); }
};

// A program folder of its own, engine file included, so nothing is created
// beside the benchmark.
std::string ProgramFolder() {
  const std::string folder = MakeTempFolder("pasotune-wine-app-bench-");
  std::ofstream(std::filesystem::path(Utf8ToWide(folder)) / L"Velkor.exe")
      << "not started by these runs";
  return folder;
}

// Each measurement ends its process on the spot, past any destructor.
[[noreturn]] void RemoveAndExit(const std::string& folder) {
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(Utf8ToWide(folder)), ignored);
  ::ExitProcess(0);
}

int StartupChild() {
  QuietBox box;
  ExitEnd end;
  const std::string folder = ProgramFolder();
  Program program({folder, &end, &box});
  program.Start();  // shows the window and paints it
  std::printf("shown\n");
  std::fflush(stdout);
  RemoveAndExit(folder);
}

int Startup(int runs) {
  wchar_t self[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE read = nullptr, write = nullptr;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return 1;
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdOutput = write;
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    std::wstring line = L"\"" + std::wstring(self, length) + L"\" startup-child";
    PROCESS_INFORMATION child{};
    const auto t0 = SteadyClock::now();
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                          &child)) {
      return 1;
    }
    ::CloseHandle(write);
    char buf[16] = {};
    DWORD got = 0;
    const bool shown = ::ReadFile(read, buf, sizeof buf - 1, &got, nullptr) && got >= 5 &&
                       std::string(buf, 5) == "shown";
    const auto t1 = SteadyClock::now();
    ::CloseHandle(read);
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::CloseHandle(child.hProcess);
    ::CloseHandle(child.hThread);
    if (!shown) {
      std::fprintf(stderr, "run %d: the window was never shown\n", i);
      return 1;
    }
    ms.push_back(Ms(t1 - t0));
  }
  std::printf("start to window shown over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n",
              runs, Percentile(ms, 0.5), *std::min_element(ms.begin(), ms.end()),
              *std::max_element(ms.begin(), ms.end()));
  return 0;
}

// The wineserver's CPU over seconds, as a share of a core; negative when it
// cannot be seen.
double WineserverShare(EventPump* pump, int seconds) {
  const double before = CpuOfWineserver();
  if (pump) {
    PumpUntil(
        *pump, [] { return false; }, seconds * 1000);
  } else {
    ::Sleep(static_cast<DWORD>(seconds) * 1000);
  }
  const double after = CpuOfWineserver();
  return before >= 0 && after >= 0 ? 100.0 * (after - before) / seconds : -1;
}

int Idle(int seconds) {
  // What Wine's own processes cost the wineserver with no program of ours.
  const double alone = WineserverShare(nullptr, seconds);
  QuietBox box;
  ExitEnd end;
  const std::string folder = ProgramFolder();
  Program program({folder, &end, &box});
  program.Start();
  // Measured after the start-up timer has run and asked for the tracker.
  PumpUntil(
      program.Pump(), [] { return false; }, 5000);
  const double cpu0 = CpuOfProcess();
  const double server = WineserverShare(&program.Pump(), seconds);
  const double used = CpuOfProcess() - cpu0;
  std::printf("idle for %d s: %.3f s of CPU, %.4f %% of a core", seconds, used,
              100.0 * used / seconds);
  if (server >= 0 && alone >= 0) {
    std::printf("; wineserver meanwhile %.4f %%, and %.4f %% before the program started", server,
                alone);
  }
  std::printf("\n");
  std::fflush(stdout);
  RemoveAndExit(folder);
}

int Log(long lines, bool registro) {
  QuietBox box;
  ExitEnd end;
  const std::string folder = ProgramFolder();
  Program program({folder, &end, &box});
  program.Start();
  if (registro) program.View().OpenRegistro();
  program.Pump().PumpOnce(0);
  const auto blocks =
      TimeLogLines(program.App().channel, lines, [&] { program.Pump().PumpOnce(0); });
  ReportLogLines(lines, blocks, PeakMemoryMb());
  if (registro) {
    // Opened afresh on the whole log: one pass over it, then the lines in
    // sight; then a repaint and a line more, as while a pass runs.
    ::SendMessageW(program.View().Registro()->Handle(), WM_CLOSE, 0, 0);
    auto t0 = SteadyClock::now();
    program.View().OpenRegistro();
    program.Pump().PumpOnce(0);
    const double open = Ms(SteadyClock::now() - t0);
    t0 = SteadyClock::now();
    ::RedrawWindow(program.View().Registro()->Lines(), nullptr, nullptr,
                   RDW_INVALIDATE | RDW_UPDATENOW);
    const double paint = Ms(SteadyClock::now() - t0);
    t0 = SteadyClock::now();
    program.App().channel.AgregarLog("ERROR COM1: la radio no contesta");
    program.Pump().PumpOnce(0);
    const double line = Ms(SteadyClock::now() - t0);
    std::printf(
        "Registro on %ld lines: opened in %.1f ms, repainted in %.1f ms, a line more in %.1f ms\n",
        lines, open, paint, line);
    std::fflush(stdout);
  }
  RemoveAndExit(folder);
}

}  // namespace
}  // namespace pasotune::bench

int main(int argc, char** argv) {
  using namespace pasotune::bench;
  const std::string what = argc > 1 ? argv[1] : "";
  const long n = argc > 2 ? std::atol(argv[2]) : 0;
  if (what == "startup-child") return StartupChild();
  if (what == "startup") return Startup(n > 0 ? static_cast<int>(n) : 20);
  if (what == "idle") return Idle(n > 0 ? static_cast<int>(n) : 60);
  if (what == "log") {
    return Log(n > 0 ? n : 1'000'000, argc > 3 && std::string(argv[3]) == "registro");
  }
  std::fprintf(stderr, "usage: %s startup [runs] | idle [seconds] | log [lines] [registro]\n",
               argv[0]);
  return 2;
}
