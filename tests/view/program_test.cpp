// The assembled program over the production adapters; and the real program
// driven from outside, with its engine, ended by a signal.
#include "app/qt/program.hpp"
#include "app/qt/single_instance.hpp"

#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QComboBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSessionManager>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <csignal>
#include <cstdlib>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/posix/posix_processes.hpp"

namespace pasotune::test {
namespace {

struct ScriptedBox : MessageBox {
  std::deque<MsgResult> answers;
  std::vector<std::string> shown;
  MsgResult Show(const std::string& text, const std::string&, MsgButtons, MsgIcon) override {
    shown.push_back(text);
    const MsgResult answer = answers.empty() ? MsgResult::kOk : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
};

struct NoEnd : ProgramEnd {
  [[noreturn]] void End() override { ADD_FAILURE() << "the program ended", std::abort(); }
};

// Counts the port list's items at the moment the window first shows.
struct ShowWatch : QObject {
  QComboBox* ports;
  int itemsAtShow = -1;
  explicit ShowWatch(QComboBox* p) : ports(p) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && itemsAtShow < 0) itemsAtShow = ports->count();
    return false;
  }
};

TEST(Program, LoadsBeforeShowingCentredAndAsksBeforeClosing) {
  QTemporaryDir folder;
  ScriptedBox box;
  NoEnd end;
  Program program({folder.path().toStdString(), &end, &box});
  Form1View& window = program.View();
  ShowWatch watch(window.findChild<QComboBox*>(QStringLiteral("HPORT")));
  window.installEventFilter(&watch);

  program.Start();

  EXPECT_EQ(watch.itemsAtShow, 20);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(program.App().form.width, 6675);
  const QPoint middle = window.screen()->availableGeometry().center();
  EXPECT_NEAR(window.frameGeometry().center().x(), middle.x(), 1);
  EXPECT_NEAR(window.frameGeometry().center().y(), middle.y(), 1);
  EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("config.txt"))));

  box.answers = {MsgResult::kNo};
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown.back(), "Sale de Pasotune?");
}

// Handles events until done or the deadline, waking at least every 20 ms.
bool PumpUntil(const std::function<bool()>& done, int ms) {
  QDeadlineTimer deadline(ms);
  QTimer wake;
  wake.start(20);
  while (!done()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

std::string ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : "(missing)";
}

struct OutsideCase {
  const char* name;
  std::function<void()> request;
  std::size_t questions;
};

// Whatever asks from outside goes the close box's way: the exit question,
// and No keeps the window and leaves the settings unwritten.
TEST(Program, SignalsAndTheSessionsEndAskLikeTheCloseBox) {
  QTemporaryDir folder;
  const QString config = folder.filePath(QStringLiteral("config.txt"));
  QFile file(config);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("CTCSS=100.0\r\nPuerto=COM3\r\n");
  file.close();
  ScriptedBox box;
  NoEnd end;
  Program program({folder.path().toStdString(), &end, &box});
  program.Start();
  program.App().form.Timer1.SetEnabled(false);  // no engine check: the folder has no engine
  auto* session = qGuiApp->findChild<QSessionManager*>();
  ASSERT_NE(session, nullptr);

  for (const OutsideCase& c : {
           OutsideCase{"SIGTERM", [] { std::raise(SIGTERM); }, 1},
           OutsideCase{"SIGHUP", [] { std::raise(SIGHUP); }, 1},
           OutsideCase{"SIGINT", [] { std::raise(SIGINT); }, 1},
           // Two at once make one request.
           OutsideCase{"SIGTERM twice",
                       [] {
                         std::raise(SIGTERM);
                         std::raise(SIGTERM);
                       },
                       1},
           // Offscreen the session manager gives no leave to ask, and the
           // program runs on until the session ends it.
           OutsideCase{"session's end without leave to ask",
                       [&] { emit qGuiApp->commitDataRequest(*session); }, 0},
       }) {
    SCOPED_TRACE(c.name);
    box.shown.clear();
    box.answers = {MsgResult::kNo};
    c.request();
    PumpUntil([&] { return box.shown.size() >= c.questions; }, 5000);
    PumpUntil([] { return false; }, 200);  // room for a question too many
    ASSERT_EQ(box.shown.size(), c.questions);
    if (c.questions > 0) {
      EXPECT_EQ(box.shown.back(), "Sale de Pasotune?");
    }
    EXPECT_TRUE(program.View().isVisible());
    EXPECT_EQ(ReadAll(config), "CTCSS=100.0\r\nPuerto=COM3\r\n");
  }
}

// A second start in the same session hears that a first runs, and the first
// is asked to come to the front, once per start; another session's does not.
TEST(SingleInstance, ASecondStartRaisesTheFirstAndStops) {
  const QString key = QStringLiteral("test-%1").arg(::getpid());
  SingleInstance first(key);
  int raised = 0;
  first.raise = [&] { ++raised; };
  ASSERT_TRUE(first.First());
  for (int start = 1; start <= 2; ++start) {
    SingleInstance second(key);
    EXPECT_FALSE(second.First());
    const QDeadlineTimer deadline(5000);
    while (raised < start && !deadline.hasExpired()) QCoreApplication::processEvents();
    EXPECT_EQ(raised, start);
  }
  SingleInstance elsewhere(key + QStringLiteral("-other-session"));
  EXPECT_TRUE(elsewhere.First());
}

// The real program started twice on one session bus: the second ends at
// once, leaving the first and its engine alone.
TEST(SingleInstance, TheRealProgramStartedTwice) {
  QTemporaryDir runtime;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + runtime.filePath(QStringLiteral("no-bus")));
  const QString exe = QStringLiteral(PASOTUNE_TEST_PROGRAM_DIR "/pasotune");
  QProcess first;
  first.setProcessEnvironment(env);
  first.start(exe, {});
  ASSERT_TRUE(first.waitForStarted(5000));
  const QDeadlineTimer listening(10000);
  while (!QDir(runtime.path()).entryList({QStringLiteral("pasotune-*.lock")}).size() &&
         !listening.hasExpired()) {
    QThread::msleep(20);
  }
  QProcess second;
  second.setProcessEnvironment(env);
  second.start(exe, {});
  EXPECT_TRUE(second.waitForFinished(10000));
  EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(second.exitCode(), 0);
  EXPECT_EQ(first.state(), QProcess::Running);
  ::kill(static_cast<pid_t>(first.processId()), SIGKILL);
  first.waitForFinished(5000);
}

#if defined(PASOTUNE_DEMO_EXE) && defined(VELKOR_EXE)

// Every running process of the engine's image name.
std::vector<int> Engines() {
  std::vector<int> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* entry = ::readdir(proc)) {
    const int pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    if (ImageNameOfProcess(pid) == "Velkor.exe") pids.push_back(pid);
  }
  ::closedir(proc);
  return pids;
}

// The real program (the demo driver, which answers Yes) with its engine,
// ended by SIGTERM: the question is asked once, also when a second SIGTERM
// comes during the close; the settings are written; the engine is ended.
TEST(Program, SigtermAsksThenSavesTheSettingsAndEndsTheEngine) {
  // The program ends every engine of that name it can see: only ever in a
  // world of the test's own (see CMakeLists.txt).
  if (!Engines().empty()) GTEST_SKIP() << "an engine this test did not start is running";
  QTemporaryDir folder;
  ASSERT_TRUE(
      QFile::copy(QStringLiteral(VELKOR_EXE), folder.filePath(QStringLiteral("Velkor.exe"))));
  for (const char* picture : {"cancel.ico", "up2.ico"}) {
    QFile::copy(QStringLiteral(PASOTUNE_TEST_PROGRAM_DIR "/") + QLatin1String(picture),
                folder.filePath(QLatin1String(picture)));
  }
  for (const auto& [name, text] :
       {std::pair{"velkor.conf", "radio = sim\n"},
        std::pair{"config.txt", "CTCSS=100.0\r\nPuerto=COM3\r\nother\r\n"}}) {
    QFile file(folder.filePath(QLatin1String(name)));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
  }

  QProcess demo;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  // No tracker: its warning is answered like any box.
  env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
             QStringLiteral("unix:path=") + folder.filePath(QStringLiteral("no-bus")));
  env.remove(QStringLiteral("VELKOR_CONF"));
  env.remove(QStringLiteral("VELKOR_TRANSCRIPT"));
  demo.setProcessEnvironment(env);
  demo.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QByteArray out;
  QObject::connect(&demo, &QProcess::readyReadStandardOutput,
                   [&] { out += demo.readAllStandardOutput(); });
  demo.start(QStringLiteral(PASOTUNE_DEMO_EXE),
             {QStringLiteral("--folder"), folder.path(), QStringLiteral("--seconds"),
              QStringLiteral("600"), QStringLiteral("--screenshot"),
              folder.filePath(QStringLiteral("shot.png"))});
  ASSERT_TRUE(demo.waitForStarted(5000));
  const auto ended = [&] { return demo.state() == QProcess::NotRunning; };
  const qint64 pid = demo.processId();
  ASSERT_GT(pid, 0);
  // By its own pid only while it runs (and is not yet reaped).
  const auto terminate = [&] {
    if (!ended()) ::kill(static_cast<pid_t>(pid), SIGTERM);
  };

  EXPECT_TRUE(PumpUntil([&] { return out.contains("following the pass") || ended(); }, 20000))
      << out.toStdString();
  EXPECT_TRUE(PumpUntil([&] { return !Engines().empty() || ended(); }, 10000)) << "no engine";
  terminate();
  EXPECT_TRUE(PumpUntil([&] { return out.contains("Sale de Pasotune?") || ended(); }, 10000));
  terminate();  // during the close's pauses
  if (!PumpUntil(ended, 15000)) {
    demo.kill();
    demo.waitForFinished(5000);
    FAIL() << "the program did not end:\n" << out.toStdString();
  }
  out += demo.readAllStandardOutput();

  EXPECT_EQ(demo.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(demo.exitCode(), 0) << out.toStdString();
  EXPECT_EQ(out.count("\"Sale de Pasotune?\" -> Yes"), 1) << out.toStdString();
  EXPECT_TRUE(out.contains("[demo] program ended\n")) << out.toStdString();
  EXPECT_EQ(ReadAll(folder.filePath(QStringLiteral("config.txt"))),
            "Puerto=COM3\r\nCTCSS=100.0\r\n");
  EXPECT_TRUE(PumpUntil([] { return Engines().empty(); }, 2000)) << "the engine still runs";
}

#endif

}  // namespace
}  // namespace pasotune::test
