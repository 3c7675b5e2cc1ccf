// pasotune-feed: a stand-in tracker on the session bus. See README.md.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "feed_options.hpp"
#include "tracker_publisher.hpp"

namespace {

using pasotune::feed::Fail;

int g_signalPipe[2] = {-1, -1};

extern "C" void OnEndSignal(int) {
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &byte, 1);
}

// SIGTERM and SIGINT become an event, so the loop ends and the name is
// given back on the way out.
bool CatchEndSignals() {
  if (::pipe2(g_signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction sa {};
  sa.sa_handler = OnEndSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return ::sigaction(SIGTERM, &sa, nullptr) == 0 && ::sigaction(SIGINT, &sa, nullptr) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("pasotune-feed"));

  using pasotune::feed::Mode;
  const pasotune::feed::Parsed parsed = pasotune::feed::ParseArguments(
      std::vector<std::string>(argv + 1, argv + argc),
      "Publishes tracking records on the session bus as a tracker would:\n"
      "bus name dde.<service>, object /<topic>, interface dde.Topic, string property <item>.");
  if (const std::optional<int> code = pasotune::feed::EndedEarly(parsed)) return *code;
  const pasotune::feed::Options& options = *parsed.options;
  pasotune::feed::Records records = pasotune::feed::MakeRecords(options);
  if (!records.next) return Fail(records.error, 1);

  if (!CatchEndSignals()) return Fail("cannot catch SIGTERM and SIGINT", 2);
  QSocketNotifier ending(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&ending, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

  const std::string first = *records.next();
  pasotune::feed::TrackerPublisher publisher(
      QDBusConnection::sessionBus(), QString::fromStdString(options.service),
      QString::fromStdString(options.topic), QString::fromStdString(options.item));
  if (const QString why = publisher.Start(QString::fromStdString(first)); !why.isEmpty()) {
    return Fail(why.toStdString(), 2);
  }

  const auto say = [talk = !options.quiet](const std::string& record) {
    if (!talk) return;
    std::printf("%s\n", record.c_str());
    std::fflush(stdout);
  };
  const auto publish = [&](const std::string& record) {
    publisher.Publish(QString::fromStdString(record));
    say(record);
  };
  if (options.mode != Mode::kStdin) say(first);

  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(records.periodMs);
  QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
    const std::optional<std::string> record = records.next();
    if (!record) {
      ticker.stop();
      if (options.exitAtEnd) QCoreApplication::quit();
      return;
    }
    publish(*record);
  });
  // Lines from standard input, published whole as each one ends.
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  input.setEnabled(options.mode == Mode::kStdin);
  pasotune::feed::LineSplitter lines;
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      if (const std::optional<std::string> last = lines.Finish()) publish(*last);
      if (options.exitAtEnd) QCoreApplication::quit();
      return;
    }
    for (const std::string& line :
         lines.Add(std::string_view(buffer, static_cast<std::size_t>(n)))) {
      publish(line);
    }
  });
  // --once and --stdin: nothing follows from the timer; stay until ended.
  if (options.mode == Mode::kFile || options.mode == Mode::kPass) ticker.start();
  const int code = QCoreApplication::exec();
  publisher.Stop();
  return code;
}
