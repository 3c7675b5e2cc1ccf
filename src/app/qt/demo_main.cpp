// Runs the real program offscreen and plays the user: waits for Conectar to
// come alive, clicks it, follows the pass for a while, prints the engine's
// transcript, saves a screenshot and closes, answering every box itself
// (also the exit question a SIGTERM asks).
// The engine's folder and the tracker feed are set up by the caller.
#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <utility>

#include "app/qt/program.hpp"

namespace {

using pasotune::MsgButtons;
using pasotune::MsgIcon;
using pasotune::MsgResult;

void Say(const std::string& line) {
  std::printf("[demo] %s\n", line.c_str());
  std::fflush(stdout);
}

class DemoEnd : public pasotune::ProgramEnd {
 public:
  bool closing = false;  // the exit question was answered
  [[noreturn]] void End() override {
    Say(closing ? "program ended" : "program ended before the demo was done");
    std::_Exit(closing ? 0 : 1);
  }
};

// Answers Yes to the exit question, whoever asked for the close: the demo
// itself, or a signal.
class AnsweringBox : public pasotune::MessageBox {
 public:
  explicit AnsweringBox(DemoEnd& end) : end_(end) {}
  MsgResult Show(const std::string& text, const std::string& title, MsgButtons buttons,
                 MsgIcon) override {
    const bool yesNo = buttons == MsgButtons::kYesNo;
    Say("message box \"" + title + "\": \"" + text + "\" -> " + (yesNo ? "Yes" : "OK"));
    if (yesNo) end_.closing = true;
    return yesNo ? MsgResult::kYes : MsgResult::kOk;
  }

 private:
  DemoEnd& end_;
};

// Calls back once the watched widget turns enabled.
class WhenEnabled : public QObject {
 public:
  WhenEnabled(QWidget* widget, std::function<void()> then) : then_(std::move(then)) {
    widget->installEventFilter(this);
  }
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::EnabledChange && static_cast<QWidget*>(watched)->isEnabled() &&
        then_) {
      // After the handler that enabled it has finished.
      QTimer::singleShot(0, this, std::exchange(then_, nullptr));
    }
    return false;
  }

 private:
  std::function<void()> then_;
};

struct Settings {
  int seconds = 20;
  std::string screenshot = "pasotune-demo.png";
  std::string folder;
};

bool Parse(int argc, char** argv, Settings& s) {
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(argv[i], "--seconds") == 0 && hasValue) {
      s.seconds = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--screenshot") == 0 && hasValue) {
      s.screenshot = argv[++i];
    } else if (std::strcmp(argv[i], "--folder") == 0 && hasValue) {
      s.folder = argv[++i];
    } else {
      return false;
    }
  }
  return s.seconds >= 0;
}

void PrintTranscript() {
  const QByteArray path = qgetenv("VELKOR_TRANSCRIPT");
  if (path.isEmpty()) {
    Say("VELKOR_TRANSCRIPT is not set: no engine transcript to show");
    return;
  }
  QFile file(QString::fromLocal8Bit(path));
  if (!file.open(QIODevice::ReadOnly)) {
    Say("cannot read the engine transcript " + path.toStdString());
    return;
  }
  Say("engine transcript " + path.toStdString() + ":");
  const QByteArray text = file.readAll();
  std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
  Say("end of transcript");
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::printf(
        "usage: %s [--seconds N] [--screenshot FILE.png] [--folder PROGRAM_DIR]\n"
        "Runs Pasotune offscreen (unless QT_QPA_PLATFORM says otherwise), clicks Conectar,\n"
        "follows the tracker for N seconds (20), saves a screenshot and prints the log.\n",
        argv[0]);
    return 0;
  }
  if (!Parse(argc, argv, settings)) {
    std::fprintf(stderr, "usage: %s [--seconds N] [--screenshot FILE.png] [--folder PROGRAM_DIR]\n",
                 argv[0]);
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication qapp(argc, argv);

  DemoEnd end;
  AnsweringBox box(end);
  try {
    pasotune::Program program({settings.folder, &end, &box});
    pasotune::Pasotune& app = program.App();
    QWidget& window = program.View();
    auto* connect = window.findChild<QAbstractButton*>(QStringLiteral("Command1"));

    auto finish = [&] {
      Say("log:");
      for (std::size_t i = 0; i < app.form.List1.ListCount(); ++i) {
        std::printf("  %.*s\n", static_cast<int>(app.form.List1.Item(i).size()),
                    app.form.List1.Item(i).data());
      }
      Say("satellite \"" + app.form.LabelSat.Caption() + "\", uplink " +
          app.form.LabelTX.Caption() + " " + app.form.LabelModoTX.Caption() + ", downlink " +
          app.form.LabelRX.Caption() + " " + app.form.LabelModoRX.Caption());
      PrintTranscript();
      const bool saved = window.grab().save(QString::fromStdString(settings.screenshot), "PNG");
      Say((saved ? "screenshot saved to " : "could not save the screenshot to ") +
          settings.screenshot);
      Say("closing the window");
      window.close();
      Say("the close was refused");
      QApplication::exit(1);
    };

    bool clicked = false;
    WhenEnabled armed(connect, [&] {
      clicked = true;
      Say("clicking " + connect->text().toStdString());
      connect->click();
      Say("button now reads " + connect->text().toStdString() + "; following the pass for " +
          std::to_string(settings.seconds) + " s");
      QTimer::singleShot(settings.seconds * 1000, &qapp, finish);
    });
    QTimer::singleShot(15000, &qapp, [&] {
      if (clicked) return;
      Say("Conectar never became enabled");
      QApplication::exit(1);
    });

    program.Start();
    Say("window shown; waiting for the start-up timer");
    return QApplication::exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pasotune-demo: %s\n", e.what());
    return 1;
  }
}
