// The bridge benchmark of the Windows program, run under Wine: how fast and
// how cheaply pasotune's core on the Win32 adapters carries a DDE update to
// the engine. A stand-in engine on 127.0.0.1:9000 time-stamps every line.
//
//   pasotune-wine-bench [--updates 200] [--spacing 600] [--cpu-seconds 60]
//                       [--samples file] [--no-latency] [--no-cpu]
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/pasotune.hpp"
#include "common/bridge.hpp"
#include "dde_publisher.hpp"
#include "measure.hpp"
#include "platform/std_files.hpp"
#include "platform/temp_folder.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "platform/win32/wide_text.hpp"
#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_event_pump.hpp"
#include "platform/win32/win32_system.hpp"
#include "platform/win32/winsock_tcp_client.hpp"
#include "stand_in_engine.hpp"
#include "synthetic_pass.hpp"

namespace pasotune::bench {
namespace {

constexpr UINT kQuit = WM_APP + 1;

class NoEnd : public ProgramEnd {
 public:
  [[noreturn]] void End() override {
    std::fprintf(stderr, "pasotune-wine-bench: the program ended itself\n");
    std::exit(1);
  }
};

int Fail(const std::string& why) {
  std::fprintf(stderr, "pasotune-wine-bench: %s\n", why.c_str());
  return 1;
}

// Waits for an event while handling the thread's messages, as a DDE server
// thread must.
bool WaitPumping(HANDLE event, SteadyClock::time_point deadline) {
  for (;;) {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    if (left.count() <= 0) return false;
    const DWORD woke = ::MsgWaitForMultipleObjectsEx(
        event ? 1 : 0, &event, static_cast<DWORD>(left.count()), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (event && woke == WAIT_OBJECT_0) return true;
  }
}

// The tracker for the latency part: a DDEML server on a thread of its own,
// as another process would be, publishing one update every spacing ms and
// timing each until its command reaches the engine.
class LatencyTracker {
 public:
  LatencyTracker(StandInEngine& engine, const BridgeOptions& options, std::int64_t& downlink)
      : engine_(engine), options_(options), downlink_(downlink) {}
  ~LatencyTracker() { Join(); }

  // Registers Orbitron|Tracking on its thread; empty or why not.
  std::string Start() {
    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = std::thread([this, ready] { Run(ready); });
    ::WaitForSingleObject(ready, INFINITE);
    ::CloseHandle(ready);
    return startError_;
  }
  // Publishes one record, from its thread.
  void Publish(const std::string& record) {
    auto* copy = new std::string(record);
    if (!::PostThreadMessageW(threadId_, WM_APP, 0, reinterpret_cast<LPARAM>(copy))) delete copy;
  }
  // Runs the timed updates; wakes mainThread when done.
  void Measure(DWORD mainThread) {
    mainThread_ = mainThread;
    ::PostThreadMessageW(threadId_, WM_APP + 2, 0, 0);
  }
  void Join() {
    if (!thread_.joinable()) return;
    ::PostThreadMessageW(threadId_, kQuit, 0, 0);
    thread_.join();
  }

  std::atomic<bool> done{false};
  std::string failure;
  std::vector<double> latencies;
  std::vector<SteadyClock::time_point> sents;

 private:
  void Run(HANDLE ready) {
    threadId_ = ::GetCurrentThreadId();
    MSG msg;
    ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts
    feed::DdePublisher publisher("Orbitron", "Tracking", "TrackingData");
    startError_ = publisher.Start(BridgeRecord(downlink_));
    ::SetEvent(ready);
    if (!startError_.empty()) return;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
      if (msg.hwnd == nullptr && msg.message == kQuit) break;
      if (msg.hwnd == nullptr && msg.message == WM_APP) {
        std::unique_ptr<std::string> record(reinterpret_cast<std::string*>(msg.lParam));
        publisher.Publish(*record);
        continue;
      }
      if (msg.hwnd == nullptr && msg.message == WM_APP + 2) {
        TimedUpdates(publisher);
        continue;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    publisher.Stop();
  }

  void TimedUpdates(feed::DdePublisher& publisher) {
    for (int i = 0; i < options_.updates; ++i) {
      WaitPumping(nullptr, SteadyClock::now() + std::chrono::milliseconds(options_.spacingMs));
      downlink_ += (i % 2 == 0) ? -1000 : 1000;
      const auto sent = SteadyClock::now();
      publisher.Publish(BridgeRecord(downlink_));
      const auto deadline = sent + std::chrono::seconds(3);
      const auto isFreqSub = [](const std::string& l) { return l.rfind("SET FREQ SUB ", 0) == 0; };
      std::optional<StandInEngine::Line> line;
      while (!(line = engine_.Next(isFreqSub, SteadyClock::now())) &&
             WaitPumping(engine_.Arrived(), deadline)) {
      }
      if (!line) {
        failure = "update " + std::to_string(i) + " brought no command";
        break;
      }
      latencies.push_back(Ms(line->at - sent));
      sents.push_back(sent);
    }
    done = true;
    ::PostThreadMessageW(mainThread_, WM_NULL, 0, 0);
  }

  StandInEngine& engine_;
  const BridgeOptions& options_;
  std::int64_t& downlink_;
  std::thread thread_;
  DWORD threadId_ = 0;
  DWORD mainThread_ = 0;
  std::string startError_;
};

// pasotune-feed.exe from beside this program, quiet and hidden; ours, ended
// by its own handle.
class FeedProcess {
 public:
  ~FeedProcess() {
    if (!info_.hProcess) return;
    // WM_QUIT ends it cleanly, withdrawing the service.
    ::PostThreadMessageW(info_.dwThreadId, WM_QUIT, 0, 0);
    if (::WaitForSingleObject(info_.hProcess, 5000) != WAIT_OBJECT_0) {
      ::TerminateProcess(info_.hProcess, 9);
      ::WaitForSingleObject(info_.hProcess, 5000);
    }
    ::CloseHandle(info_.hProcess);
    ::CloseHandle(info_.hThread);
  }
  bool Start(const std::wstring& args) {
    wchar_t path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring exe(path, n);
    exe.erase(exe.find_last_of(L"\\/") + 1);
    exe += L"pasotune-feed.exe";
    std::wstring line = L"\"" + exe + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    return ::CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                            nullptr, nullptr, &si, &info_) != 0;
  }
  bool Running() const { return ::WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

 private:
  PROCESS_INFORMATION info_{};
};

// Whether a DDE server answers for Orbitron|Tracking.
bool TrackerAnswers() {
  DWORD probe = 0;
  const auto ignore = [](UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) -> HDDEDATA {
    return nullptr;
  };
  if (::DdeInitializeW(&probe, ignore, APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
      DMLERR_NO_ERROR) {
    return false;
  }
  bool answered = false;
  {
    const dde::Name service(probe, "Orbitron"), topic(probe, "Tracking");
    if (HCONV conv = dde::Connect(probe, service.get(), topic.get())) {
      answered = true;
      ::DdeDisconnect(conv);
    }
  }
  ::DdeUninitialize(probe);
  return answered;
}

int Run(int argc, char** argv) {
  BridgeOptions options;
  if (!ParseBridgeOptions(argc, argv, options)) return Fail(kBridgeUsage);
  StandInEngine engine;
  if (const std::string why = engine.Start(kEnginePort); !why.empty())
    return Fail("engine port: " + why);

  // The program folder, with the engine file the start-up looks for.
  const std::string folder = MakeTempFolder("pasotune-wine-bench-");
  struct Removed {
    const std::string& folder;
    ~Removed() {
      std::error_code ec;
      std::filesystem::remove_all(std::filesystem::path(Utf8ToWide(folder)), ec);
    }
  } removed{folder};
  std::ofstream(std::filesystem::path(Utf8ToWide(folder)) / L"Velkor.exe") << "stand-in\n";

  std::int64_t downlink = 145950000;
  LatencyTracker tracker(engine, options, downlink);
  if (const std::string why = tracker.Start(); !why.empty()) return Fail("tracker: " + why);

  Win32Clock clock;
  Win32EventPump pump;
  WinsockTcpClient tcp;
  DdeTrackerLink link;
  NoProcesses processes;
  StdFiles files(folder);
  AnswerYes messages;
  NoEnd end;
  Platform platform{
      clock, pump, tcp, link, processes, files, messages, end, SystemDecimalSeparator(), '\\'};
  Pasotune app(platform);
  app.Load();

  // Timer1 enables Conectar after 2 s and links to the tracker.
  if (!PumpUntil(
          pump, [&] { return app.form.Command1.Enabled(); }, 5000))
    return Fail("Conectar never enabled");
  if (!link.Linked()) return Fail("the program did not link to the tracker");
  app.form.Command1.Click();
  const auto setport = engine.Next([](const std::string& l) { return l.rfind("SETPORT", 0) == 0; },
                                   SteadyClock::now() + std::chrono::seconds(10));
  if (!setport || !app.m.Conectado) return Fail("the program did not connect to the engine");
  // The first record after connecting tunes all four settings.
  downlink += 1000;
  tracker.Publish(BridgeRecord(downlink));
  PumpUntil(
      pump, [] { return false; }, 2500);

  if (options.latency) {
    engine.SkipAll();
    // Where the time goes: up to the record landing in the text box (DDE,
    // link adapter, message queue), and from there to the engine (core,
    // Winsock).
    std::vector<SteadyClock::time_point> changes;
    app.form.txtDDE.changed = [&changes] { changes.push_back(SteadyClock::now()); };
    // This thread only runs the program's message queue.
    tracker.Measure(::GetCurrentThreadId());
    while (!tracker.done) pump.PumpOnce(1000);
    app.form.txtDDE.changed = nullptr;  // it points into this block
    if (!tracker.failure.empty()) return Fail(tracker.failure);
    ReportLatency("DDE", options, tracker.latencies, tracker.sents, changes);
  }

  if (options.cpu) {
    // A real tracker process for this part, so its work is not counted.
    tracker.Join();
    FeedProcess pass;
    if (!pass.Start(L"--pass --start 270 --duration 600 --quiet"))
      return Fail("cannot start pasotune-feed.exe beside this program");
    if (!PumpUntil(
            pump, [&] { return TrackerAnswers() || !pass.Running(); }, 5000) ||
        !pass.Running()) {
      return Fail("pasotune-feed did not publish Orbitron|Tracking");
    }
    app.form.Command2.Click();  // link to the new tracker
    if (!link.Linked()) return Fail("the program did not link to pasotune-feed");
    PumpUntil(
        pump, [] { return false; }, 3000);
    const std::size_t lines0 = engine.LineCount();
    const double cpu0 = CpuOfProcess();
    const double engine0 = engine.CpuSeconds();
    const double server0 = CpuOfWineserver();
    const auto wall0 = SteadyClock::now();
    PumpUntil(
        pump, [] { return false; }, options.cpuSeconds * 1000);
    const double wall = Ms(SteadyClock::now() - wall0) / 1000;
    const double cpu = CpuOfProcess() - cpu0;
    const double engineCpu = engine.CpuSeconds() - engine0;
    const double server1 = CpuOfWineserver();
    const std::size_t commands = engine.LineCount() - lines0;
    ReportCpu(wall, commands, cpu, engineCpu);
    if (server0 >= 0 && server1 >= 0) {
      std::printf(
          "  wineserver meanwhile %.3f %% of a core (tracker, bridge and engine together)\n",
          100 * (server1 - server0) / wall);
    } else {
      std::printf("  wineserver: not measured (run it with a wineserver of its own)\n");
    }
    std::fflush(stdout);
  }
  engine.Stop();
  return 0;
}

}  // namespace
}  // namespace pasotune::bench

int main(int argc, char** argv) {
  return pasotune::bench::Run(argc, argv);
}
