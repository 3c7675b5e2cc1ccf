// pasotune-app-bench startup [runs]   time from process start to the window shown
// pasotune-app-bench idle [seconds]   CPU the running program uses while idle
// pasotune-app-bench log [lines] [registro]
//                                     appends to the activity log, window attached
//                                     (and the Registro window open, following)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/qt/program.hpp"
#include "common/log_lines.hpp"
#include "view/qt/form1_view.hpp"
#include "view/qt/registro_view.hpp"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct QuietBox : pasotune::MessageBox {
  pasotune::MsgResult Show(const std::string& text, const std::string&, pasotune::MsgButtons,
                           pasotune::MsgIcon) override {
    std::fprintf(stderr, "message box: %s\n", text.c_str());
    return pasotune::MsgResult::kNo;
  }
};

struct ExitEnd : pasotune::ProgramEnd {
  [[noreturn]] void End() override { std::_Exit(0); }
};

// A program folder of its own, engine file included, so nothing is created
// beside the benchmark.
std::string ProgramFolder() {
  std::string folder = (fs::temp_directory_path() / "pasotune-bench-XXXXXX").string();
  if (!::mkdtemp(folder.data())) std::exit(1);
  std::ofstream(folder + "/Velkor.exe") << "not started by these runs";
  return folder;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct OnShow : QObject {
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Show) {
      // Past the show, once the first paint is queued.
      QTimer::singleShot(0, [] {
        std::printf("shown\n");
        std::fflush(stdout);
        std::_Exit(0);
      });
    }
    return false;
  }
};

int StartupChild(int& argc, char** argv) {
  QApplication qapp(argc, argv);
  QuietBox box;
  ExitEnd end;
  pasotune::Program program({ProgramFolder(), &end, &box});
  OnShow watch;
  program.View().installEventFilter(&watch);
  program.Start();
  return QApplication::exec();
}

int Startup(const char* self, int runs) {
  std::vector<double> ms;
  for (int i = 0; i < runs; ++i) {
    int out[2];
    if (::pipe(out) != 0) return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char* argv[] = {const_cast<char*>(self), const_cast<char*>("startup-child"), nullptr};
    pid_t pid = 0;
    const auto t0 = Clock::now();
    if (posix_spawn(&pid, self, &actions, nullptr, argv, environ) != 0) return 1;
    ::close(out[1]);
    char buf[16] = {};
    const ssize_t n = ::read(out[0], buf, sizeof buf - 1);
    const auto t1 = Clock::now();
    ::close(out[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    if (n <= 0 || std::strncmp(buf, "shown", 5) != 0) {
      std::fprintf(stderr, "run %d: the window was never shown\n", i);
      return 1;
    }
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  std::printf("start to window shown over %d runs: median %.1f ms, min %.1f ms, max %.1f ms\n",
              runs, ms[ms.size() / 2], ms.front(), ms.back());
  return 0;
}

int Idle(int& argc, char** argv, int seconds) {
  QApplication qapp(argc, argv);
  QuietBox box;
  ExitEnd end;
  pasotune::Program program({ProgramFolder(), &end, &box});
  program.Start();
  double from = 0;
  // Measured after the start-up timer has run and the tracker is linked.
  QTimer::singleShot(5000, [&] { from = CpuSeconds(); });
  QTimer::singleShot(5000 + seconds * 1000, [&] {
    const double used = CpuSeconds() - from;
    std::printf("idle for %d s: %.3f s of CPU, %.4f %% of a core\n", seconds, used,
                100.0 * used / seconds);
    std::fflush(stdout);
    std::_Exit(0);
  });
  return QApplication::exec();
}

int Log(int& argc, char** argv, long lines, bool registro) {
  QApplication qapp(argc, argv);
  QuietBox box;
  ExitEnd end;
  pasotune::Program program({ProgramFolder(), &end, &box});
  program.Start();
  if (registro) program.View().OpenRegistro();
  QApplication::processEvents();
  const auto blocks = pasotune::bench::TimeLogLines(program.App().channel, lines,
                                                    [] { QApplication::processEvents(); });
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  pasotune::bench::ReportLogLines(lines, blocks, u.ru_maxrss / 1024.0);
  if (registro) {
    // Opened afresh on the whole log: one pass over it, then the lines in
    // sight; then a repaint and a line more, as while a pass runs.
    program.View().Registro()->close();
    QApplication::processEvents();
    auto t0 = Clock::now();
    program.View().OpenRegistro();
    QApplication::processEvents();
    const double open = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    t0 = Clock::now();
    program.View().Registro()->Pane()->viewport()->repaint();
    const double paint = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    t0 = Clock::now();
    program.App().channel.AgregarLog("ERROR COM1: la radio no contesta");
    QApplication::processEvents();
    const double line = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    std::printf(
        "Registro on %ld lines: opened in %.1f ms, repainted in %.1f ms, a line more in %.1f ms\n",
        lines, open, paint, line);
    std::fflush(stdout);
  }
  std::_Exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const long n = argc > 2 ? std::atol(argv[2]) : 0;
  if (what == "startup-child") return StartupChild(argc, argv);
  if (what == "startup") return Startup(argv[0], n > 0 ? static_cast<int>(n) : 20);
  if (what == "idle") return Idle(argc, argv, n > 0 ? static_cast<int>(n) : 60);
  if (what == "log") {
    return Log(argc, argv, n > 0 ? n : 1'000'000,
               argc > 3 && std::strcmp(argv[3], "registro") == 0);
  }
  std::fprintf(stderr, "usage: %s startup [runs] | idle [seconds] | log [lines] [registro]\n",
               argv[0]);
  return 2;
}
