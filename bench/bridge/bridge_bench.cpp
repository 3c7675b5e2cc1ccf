// How fast and how cheaply the real program carries a tracker update to the
// engine: pasotune's core with the production adapters, a tracker on the
// session bus, and a stand-in engine on 127.0.0.1:9000.
//
//   dbus-run-session -- pasotune-bridge-bench [--updates 200] [--spacing 600]
//                                             [--cpu-seconds 60] [--samples file]
//                                             [--no-latency] [--no-cpu]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/pasotune.hpp"
#include "common/bridge.hpp"
#include "fake_engine.hpp"
#include "platform/posix/exit_program_end.hpp"
#include "platform/qt/dbus_tracker_link.hpp"
#include "platform/qt/qt_clock.hpp"
#include "platform/qt/qt_event_pump.hpp"
#include "platform/qt/qt_locale.hpp"
#include "platform/qt/qt_tcp_client.hpp"
#include "platform/std_files.hpp"
#include "synthetic_pass.hpp"
#include "tracker_publisher.hpp"

extern char** environ;

namespace pasotune::bench {
namespace {

double Seconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

double CpuOfProcess() {
  rusage r{};
  ::getrusage(RUSAGE_SELF, &r);
  return Seconds(r.ru_utime) + Seconds(r.ru_stime);
}

// pasotune-feed with these arguments, quiet on stdout; our child, reaped
// by whoever ends it.
pid_t SpawnFeed(std::vector<std::string> args) {
  args.insert(args.begin(), FEED_PATH);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, FEED_PATH, &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return error == 0 ? pid : -1;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "pasotune-bridge-bench: %s\n", why.c_str());
  return 1;
}

int Run(int argc, char** argv) {
  BridgeOptions options;
  if (!ParseBridgeOptions(argc, argv, options)) return Fail(kBridgeUsage);
  if (std::getenv("DBUS_SESSION_BUS_ADDRESS") == nullptr) {
    return Fail("no session bus: run it under dbus-run-session");
  }
  FakeEngine engine;
  if (const std::string why = engine.Start(kEnginePort); !why.empty())
    return Fail("engine port: " + why);

  // The program folder, with the engine file the start-up looks for.
  QTemporaryDir folder;
  std::ofstream(folder.filePath(QStringLiteral("Velkor.exe")).toStdString()) << "stand-in\n";

  // A tracker in this process, on its own connection and thread.
  QThread feedThread;
  struct Joined {
    QThread& t;
    ~Joined() {
      t.quit();
      t.wait();
    }
  } joined{feedThread};
  QDBusConnection feedBus =
      QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("feed"));
  feed::TrackerPublisher tracker(feedBus, QStringLiteral("Orbitron"), QStringLiteral("Tracking"),
                                 QStringLiteral("TrackingData"));
  feedThread.start();
  tracker.moveToThread(&feedThread);
  std::int64_t downlink = 145950000;
  if (const QString why = tracker.Start(QString::fromStdString(BridgeRecord(downlink)));
      !why.isEmpty()) {
    return Fail("tracker: " + why.toStdString());
  }

  QtClock clock;
  QtEventPump pump;
  QtTcpClient tcp;
  DBusTrackerLink link;
  NoProcesses processes;
  StdFiles files(folder.path().toStdString());
  AnswerYes messages;
  ExitProgramEnd end;
  Platform platform{
      clock, pump, tcp, link, processes, files, messages, end, SystemDecimalSeparator()};
  Pasotune app(platform);
  app.Load();

  // Timer1 enables Conectar after 2 s and links to the tracker.
  if (!PumpUntil(
          pump, [&] { return app.form.Command1.Enabled(); }, 5000))
    return Fail("Conectar never enabled");
  app.form.Command1.Click();
  const auto setport = engine.Next([](const std::string& l) { return l.rfind("SETPORT", 0) == 0; },
                                   SteadyClock::now() + std::chrono::seconds(10));
  if (!setport || !app.m.Conectado) return Fail("the program did not connect to the engine");
  // The first record after connecting tunes all four settings.
  downlink += 1000;
  tracker.Publish(QString::fromStdString(BridgeRecord(downlink)));
  PumpUntil(
      pump, [] { return false; }, 2500);

  if (options.latency) {
    std::vector<double> latencies;
    std::atomic<bool> done{false};
    std::string failure;
    engine.SkipAll();
    // Where the time goes: up to the record landing in the text box (bus,
    // link adapter, event loop), and from there to the engine (core, TCP).
    std::vector<SteadyClock::time_point> sents;
    std::vector<SteadyClock::time_point> changes;
    app.form.txtDDE.changed = [&changes] { changes.push_back(SteadyClock::now()); };
    // Updates come from another thread, as from another process; this one
    // only runs the program's event loop.
    std::thread driver([&] {
      for (int i = 0; i < options.updates; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(options.spacingMs));
        downlink += (i % 2 == 0) ? -1000 : 1000;
        const std::string wanted = "SET FREQ SUB ";
        const auto sent = SteadyClock::now();
        tracker.Publish(QString::fromStdString(BridgeRecord(downlink)));
        const auto line = engine.Next([&](const std::string& l) { return l.rfind(wanted, 0) == 0; },
                                      sent + std::chrono::seconds(3));
        if (!line) {
          failure = "update " + std::to_string(i) + " brought no command";
          break;
        }
        latencies.push_back(Ms(line->at - sent));
        sents.push_back(sent);
      }
      done = true;
      QMetaObject::invokeMethod(
          QCoreApplication::instance(), [] {}, Qt::QueuedConnection);
    });
    while (!done) pump.PumpOnce(1000);
    driver.join();
    app.form.txtDDE.changed = nullptr;  // it points into this block
    if (!failure.empty()) return Fail(failure);
    ReportLatency("tracker", options, latencies, sents, changes);
  }

  if (options.cpu) {
    // A real tracker process for this part, so its work is not counted.
    tracker.Stop();
    // Plain posix_spawn rather than QProcess, whose notifiers would share
    // the event loop being measured.
    const pid_t pass = SpawnFeed({"--pass", "--start", "270", "--duration", "600", "--quiet"});
    if (pass <= 0) return Fail("cannot start " FEED_PATH);
    const auto passRunning = [pass] { return ::waitpid(pass, nullptr, WNOHANG) == 0; };
    const auto owned = [] {
      return QDBusConnection::sessionBus()
          .interface()
          ->isServiceRegistered(QStringLiteral("dde.Orbitron"))
          .value();
    };
    if (!PumpUntil(
            pump, [&] { return owned() || !passRunning(); }, 5000) ||
        !owned()) {
      return Fail("pasotune-feed did not take the bus name");
    }
    app.form.Command2.Click();  // link to the new tracker
    PumpUntil(
        pump, [] { return false; }, 3000);
    const std::size_t lines0 = engine.LineCount();
    const double cpu0 = CpuOfProcess();
    const double engine0 = engine.CpuSeconds();
    const auto wall0 = SteadyClock::now();
    PumpUntil(
        pump, [] { return false; }, options.cpuSeconds * 1000);
    const double wall = Ms(SteadyClock::now() - wall0) / 1000;
    const double cpu = CpuOfProcess() - cpu0;
    const double engineCpu = engine.CpuSeconds() - engine0;
    const std::size_t commands = engine.LineCount() - lines0;
    ::kill(pass, SIGTERM);  // by its pid
    ::waitpid(pass, nullptr, 0);
    ReportCpu(wall, commands, cpu, engineCpu);
  }
  tracker.Stop();
  engine.Stop();
  return 0;
}

}  // namespace
}  // namespace pasotune::bench

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  return pasotune::bench::Run(argc, argv);
}
