// A fast tracker for a long time: 20 records a second for 10 minutes through
// the real adapters (a pasotune-feed process on the session bus, the D-Bus
// tracker link, the core, the Qt TCP client) to the stand-in engine on
// 127.0.0.1:9000. Every record moves both frequencies, so each one is worth
// two commands and their pauses, far more than the follower can send.
// Sampled as it runs: how deep txtDDE_Change nests and how much stack it
// stands on, resident memory, open files, and how old the values reaching
// the engine are. At the end the engine must hold the newest values.
//
//   dbus-run-session -- pasotune-soak-bench [--seconds 600] [--rate 20] [--every 30]
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/pasotune.hpp"
#include "common/bridge.hpp"
#include "fake_engine.hpp"
#include "feed_child.hpp"
#include "platform/posix/exit_program_end.hpp"
#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_clock.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "platform/qt/qt_tcp_client.hpp"
#include "platform/std_files.hpp"
#include "synthetic_pass.hpp"

extern char** environ;

namespace pasotune::bench {
namespace {

// Record i tunes the downlink to kDownlink0 + i kDownStep and the uplink to
// kUplink0 - i kUpStep: every value is whole 100 Hz and names its record.
constexpr std::int64_t kDownlink0 = 145'800'000;
constexpr std::int64_t kDownStep = 100;
constexpr std::int64_t kUplink0 = 436'000'000;
constexpr std::int64_t kUpStep = 300;

struct Options {
  int seconds = 600;
  int rate = 20;   // records a second
  int every = 30;  // seconds between samples
};

bool Parse(int argc, char** argv, Options& o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (i + 1 >= argc) return false;
    const int n = std::atoi(argv[++i]);
    if (n <= 0) return false;
    if (a == "--seconds") {
      o.seconds = n;
    } else if (a == "--rate") {
      o.rate = n;
    } else if (a == "--every") {
      o.every = n;
    } else {
      return false;
    }
  }
  return true;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "pasotune-soak-bench: %s\n", why.c_str());
  return 1;
}

std::string RecordOf(std::int64_t i) {
  return feed::Record("SO-50", kDownlink0 + i * kDownStep, kUplink0 - i * kUpStep, "FM", "FM");
}

double MbOf(const std::string& key) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.rfind(key + ":", 0) == 0) return std::stod(line.substr(key.size() + 1)) / 1024;
  }
  return -1;
}

int OpenFiles() {
  DIR* dir = ::opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  int n = 0;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] != '.') ++n;
  }
  ::closedir(dir);
  return n - 1;  // less the one reading the folder
}

double CpuSeconds() {
  rusage r{};
  ::getrusage(RUSAGE_SELF, &r);
  return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) +
         static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e6;
}

double Seconds(SteadyClock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// When each record went to the feed, by its number.
class Published {
 public:
  void Add(SteadyClock::time_point at) {
    const std::lock_guard lock(mutex_);
    at_.push_back(at);
  }
  std::optional<SteadyClock::time_point> At(std::int64_t i) {
    const std::lock_guard lock(mutex_);
    if (i < 0 || static_cast<std::size_t>(i) >= at_.size()) return std::nullopt;
    return at_[static_cast<std::size_t>(i)];
  }
  std::int64_t Count() {
    const std::lock_guard lock(mutex_);
    return static_cast<std::int64_t>(at_.size());
  }

 private:
  std::mutex mutex_;
  std::vector<SteadyClock::time_point> at_;
};

// The record a frequency command carries, or -1.
std::int64_t RecordOfCommand(const std::string& line) {
  constexpr std::string_view kSub = "SET FREQ SUB ";
  constexpr std::string_view kMain = "SET FREQ MAIN ";
  const bool sub = line.rfind(kSub, 0) == 0;
  if (!sub && line.rfind(kMain, 0) != 0) return -1;
  const double mhz = std::atof(line.c_str() + (sub ? kSub : kMain).size());
  const std::int64_t hz = std::llround(mhz * 1e6);
  const std::int64_t steps = sub ? hz - kDownlink0 : kUplink0 - hz;
  const std::int64_t step = sub ? kDownStep : kUpStep;
  return steps % step == 0 ? steps / step : -1;
}

int Run(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, options)) return Fail("usage: [--seconds 600] [--rate 20] [--every 30]");
  options.every = std::min(options.every, std::max(1, options.seconds / 4));
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
    return Fail("no session bus: run it under dbus-run-session");
  }
  FakeEngine engine;
  if (const std::string why = engine.Start(kEnginePort); !why.empty())
    return Fail("engine port: " + why);
  QTemporaryDir folder;
  std::ofstream(folder.filePath(QStringLiteral("Velkor.exe")).toStdString()) << "stand-in\n";

  feed::FeedChild feed(FEED_PATH, {"--exit-at-end"});
  if (!feed.Started()) return Fail("cannot start " FEED_PATH);
  Published published;
  feed.Publish(RecordOf(0));
  published.Add(SteadyClock::now());
  QtEventPump pump;
  {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bool owned = false;
    QDBusServiceWatcher watcher(QStringLiteral("dde.Orbitron"), bus,
                                QDBusServiceWatcher::WatchForRegistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceRegistered, [&] { owned = true; });
    if (!PumpUntil(
            pump,
            [&] {
              return owned ||
                     bus.interface()->isServiceRegistered(QStringLiteral("dde.Orbitron")).value();
            },
            10000)) {
      return Fail("pasotune-feed did not take dde.Orbitron");
    }
  }

  QtClock clock;
  QtTcpClient tcp;
  DBusTrackerLink link;
  NoProcesses processes;
  StdFiles files(folder.path().toStdString());
  AnswerYes messages;
  ExitProgramEnd end;
  Platform platform{clock, pump, tcp, link, processes, files, messages, end, '.'};
  Pasotune app(platform);

  // How deep the change event nests, and how much stack lies under it.
  const auto base = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
  int depth = 0, maxDepth = 0;
  std::uintptr_t maxStack = 0;
  app.form.txtDDE.change = [&, inner = app.form.txtDDE.change] {
    const auto here = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    maxStack = std::max(maxStack, base - here);
    maxDepth = std::max(maxDepth, ++depth);
    inner();
    --depth;
  };

  app.Load();
  if (!PumpUntil(
          pump, [&] { return app.form.Command1.Enabled(); }, 5000))
    return Fail("Conectar never enabled");
  app.form.Command1.Click();
  const auto ready = engine.Next([](const std::string& l) { return l.rfind("SETPORT", 0) == 0; },
                                 SteadyClock::now() + std::chrono::seconds(10));
  if (!ready || !app.m.Conectado) return Fail("the program did not connect to the engine");

  std::atomic<bool> stop{false};
  const auto period = std::chrono::nanoseconds(1'000'000'000 / options.rate);
  const auto t0 = SteadyClock::now();
  std::thread driver([&] {
    for (std::int64_t i = 1; !stop; ++i) {
      std::this_thread::sleep_until(t0 + i * period);
      if (stop || !feed.Publish(RecordOf(i))) break;
      published.Add(SteadyClock::now());
    }
  });
  struct Joined {
    std::atomic<bool>& stop;
    std::thread& t;
    ~Joined() {
      stop = true;
      if (t.joinable()) t.join();
    }
  } joined{stop, driver};

  std::printf("soak: %d records/s for %d s through pasotune-feed, D-Bus, the core and TCP\n",
              options.rate, options.seconds);
  std::printf("%6s %8s %9s %8s %9s %7s %6s %14s %6s\n", "s", "records", "commands", "nesting",
              "stack kB", "RSS MB", "files", "value age max", "CPU %");
  std::fflush(stdout);
  struct Sample {
    std::uintptr_t stack;
    int depth;
    double rss;
    int files;
  };
  std::vector<Sample> samples;
  std::int64_t lastSub = -1, lastMain = -1;
  const auto take = [&](double& maxAge, std::size_t& commands) {
    while (const auto line =
               engine.Next([](const std::string&) { return true; }, SteadyClock::now())) {
      const std::int64_t record = RecordOfCommand(line->text);
      if (record < 0) continue;
      ++commands;
      (line->text.rfind("SET FREQ SUB", 0) == 0 ? lastSub : lastMain) = record;
      if (const auto at = published.At(record)) maxAge = std::max(maxAge, Seconds(line->at - *at));
    }
  };
  double cpu0 = CpuSeconds();
  auto previous = t0;
  EventPump::TimerId sampler = 0;
  // From a timer, so a sample comes however deep the event loop is nested.
  const auto sample = [&] {
    const auto now = SteadyClock::now();
    double maxAge = 0;
    std::size_t commands = 0;
    take(maxAge, commands);
    const double cpu = CpuSeconds();
    samples.push_back({maxStack, maxDepth, MbOf("VmRSS"), OpenFiles()});
    std::printf("%6.0f %8lld %9zu %8d %9.1f %7.1f %6d %12.2f s %6.2f\n", Seconds(now - t0),
                static_cast<long long>(published.Count()), commands, maxDepth,
                static_cast<double>(maxStack) / 1024, samples.back().rss, samples.back().files,
                maxAge, 100 * (cpu - cpu0) / Seconds(now - previous));
    std::fflush(stdout);
    cpu0 = cpu;
    previous = now;
    maxStack = 0;
    maxDepth = 0;
    if (Seconds(now - t0) + 0.5 * options.every >= options.seconds) {
      stop = true;
      pump.StopTimer(sampler);
    }
  };
  sampler = pump.StartTimer(options.every * 1000, sample);
  // Back at the top once the records stop and every nested pause has ended.
  const bool unwound = PumpUntil(
      pump, [&] { return stop.load(); }, (options.seconds + 60) * 1000);
  stop = true;
  driver.join();
  if (!unwound) return Fail("the event loop never came back to the top");

  // The follower ends its pauses; then the engine must hold the newest values.
  const std::int64_t newest = published.Count() - 1;
  double maxAge = 0;
  std::size_t commands = 0;
  PumpUntil(
      pump, [] { return false; }, 3000);
  take(maxAge, commands);
  const bool follows = lastSub == newest && lastMain == newest;
  const Sample& first = samples.front();
  const Sample& last = samples.back();
  const bool flatStack = last.stack <= first.stack + 16 * 1024 && last.depth <= first.depth;
  const bool flatFiles = last.files <= first.files;
  std::printf(
      "stack: %s (%.1f kB, nesting %d, in the first period; %.1f kB, nesting %d, in the "
      "last)\n",
      flatStack ? "flat" : "GROWING", static_cast<double>(first.stack) / 1024, first.depth,
      static_cast<double>(last.stack) / 1024, last.depth);
  std::printf("RSS: %.1f MB at the first sample, %.1f MB at the last, peak %.1f MB\n", first.rss,
              last.rss, MbOf("VmHWM"));
  std::printf("open files: %s (%d, then %d)\n", flatFiles ? "flat" : "GROWING", first.files,
              last.files);
  std::printf("follows: %s (newest record %lld; the engine last got SUB of %lld, MAIN of %lld)\n",
              follows ? "yes" : "NO", static_cast<long long>(newest),
              static_cast<long long>(lastSub), static_cast<long long>(lastMain));
  std::fflush(stdout);
  engine.Stop();
  return follows && flatStack && flatFiles ? 0 : 1;
}

}  // namespace
}  // namespace pasotune::bench

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return pasotune::bench::Run(argc, argv);
}
