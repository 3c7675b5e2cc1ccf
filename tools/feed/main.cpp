// pasotune-feed: a stand-in tracker on the session bus. See README.md.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QFile>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <vector>

#include "synthetic_pass.hpp"
#include "tracker_publisher.hpp"

namespace {

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

int Fail(const QString& why, int code) {
  std::fprintf(stderr, "pasotune-feed: %s\n", qPrintable(why));
  return code;
}

// Hands out the records one at a time; empty when there are no more.
using Source = std::function<std::optional<QString>()>;

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("pasotune-feed"));

  QCommandLineParser cli;
  cli.setApplicationDescription(QStringLiteral(
      "Publishes tracking records on the session bus as a tracker would:\n"
      "bus name dde.<service>, object /<topic>, interface dde.Topic, string property <item>."));
  cli.addHelpOption();
  const QCommandLineOption file(QStringLiteral("file"),
                                QStringLiteral("Records from a file, one a line."),
                                QStringLiteral("records.txt"));
  const QCommandLineOption interval(
      QStringLiteral("interval"), QStringLiteral("Milliseconds between records of a file (1000)."),
      QStringLiteral("ms"), QStringLiteral("1000"));
  const QCommandLineOption loop(QStringLiteral("loop"), QStringLiteral("Start over at the end."));
  const QCommandLineOption pass(
      QStringLiteral("pass"),
      QStringLiteral("A synthetic pass with Doppler, one record a second."));
  const QCommandLineOption name(QStringLiteral("name"),
                                QStringLiteral("Satellite of the pass (SO-50)."),
                                QStringLiteral("name"), QStringLiteral("SO-50"));
  const QCommandLineOption modes(QStringLiteral("modes"),
                                 QStringLiteral("Downlink and uplink modes of the pass (FM,FM)."),
                                 QStringLiteral("down,up"), QStringLiteral("FM,FM"));
  const QCommandLineOption duration(QStringLiteral("duration"),
                                    QStringLiteral("AOS to LOS in seconds of the pass (600)."),
                                    QStringLiteral("s"), QStringLiteral("600"));
  const QCommandLineOption start(QStringLiteral("start"),
                                 QStringLiteral("Seconds after AOS to begin the pass at (0)."),
                                 QStringLiteral("s"), QStringLiteral("0"));
  const QCommandLineOption speed(QStringLiteral("speed"),
                                 QStringLiteral("Speed-up factor of the pass (1)."),
                                 QStringLiteral("N"), QStringLiteral("1"));
  const QCommandLineOption once(QStringLiteral("once"),
                                QStringLiteral("Publish this one record and stay until ended."),
                                QStringLiteral("record"));
  const QCommandLineOption exitAtEnd(
      QStringLiteral("exit-at-end"),
      QStringLiteral("Exit after the last record instead of staying."));
  const QCommandLineOption quiet(QStringLiteral("quiet"),
                                 QStringLiteral("Do not print the records."));
  const QCommandLineOption service(QStringLiteral("service"),
                                   QStringLiteral("DDE service (Orbitron)."), QStringLiteral("S"),
                                   QStringLiteral("Orbitron"));
  const QCommandLineOption topic(QStringLiteral("topic"), QStringLiteral("DDE topic (Tracking)."),
                                 QStringLiteral("T"), QStringLiteral("Tracking"));
  const QCommandLineOption item(QStringLiteral("item"), QStringLiteral("DDE item (TrackingData)."),
                                QStringLiteral("I"), QStringLiteral("TrackingData"));
  const QCommandLineOption fromStdin(
      QStringLiteral("stdin"),
      QStringLiteral("Publish each line read from standard input as it arrives."));
  cli.addOptions({file, interval, loop, pass, name, modes, duration, start, speed, once, fromStdin,
                  exitAtEnd, quiet, service, topic, item});
  cli.process(app);

  const int chosen = int(cli.isSet(file)) + int(cli.isSet(pass)) + int(cli.isSet(once)) +
                     int(cli.isSet(fromStdin));
  if (chosen != 1)
    return Fail(QStringLiteral("choose one of --file, --pass, --once and --stdin (see --help)"), 1);

  bool ok = true;
  int periodMs = 1000;
  Source next;
  if (cli.isSet(fromStdin)) {
    // The item starts empty; the lines follow as they are read.
    next = [done = false]() mutable -> std::optional<QString> {
      if (done) return std::nullopt;
      done = true;
      return QString();
    };
  } else if (cli.isSet(once)) {
    next = [record = cli.value(once), done = false]() mutable -> std::optional<QString> {
      if (done) return std::nullopt;
      done = true;
      return record;
    };
  } else if (cli.isSet(file)) {
    QFile in(cli.value(file));
    if (!in.open(QIODevice::ReadOnly)) {
      return Fail("cannot read " + cli.value(file) + ": " + in.errorString(), 1);
    }
    std::vector<QString> records;
    for (const QByteArray& line : in.readAll().split('\n')) {
      const QString record = QString::fromUtf8(line.endsWith('\r') ? line.chopped(1) : line);
      if (!record.isEmpty()) records.push_back(record);
    }
    if (records.empty()) return Fail(cli.value(file) + " holds no records", 1);
    periodMs = cli.value(interval).toInt(&ok);
    if (!ok || periodMs < 1)
      return Fail(QStringLiteral("--interval wants a whole number of ms above 0"), 1);
    next = [records, i = std::size_t{0},
            again = cli.isSet(loop)]() mutable -> std::optional<QString> {
      if (i == records.size()) {
        if (!again) return std::nullopt;
        i = 0;
      }
      return records[i++];
    };
  } else {
    pasotune::feed::Pass p;
    p.name = cli.value(name).toStdString();
    const QStringList m = cli.value(modes).split(QLatin1Char(','));
    if (m.size() != 2 || m[0].isEmpty() || m[1].isEmpty()) {
      return Fail(QStringLiteral("--modes wants two modes, downlink first: USB,LSB"), 1);
    }
    p.downMode = m[0].toStdString();
    p.upMode = m[1].toStdString();
    p.durationS = cli.value(duration).toDouble(&ok);
    if (!ok || !std::isfinite(p.durationS) || p.durationS < 1)
      return Fail(QStringLiteral("--duration wants seconds, at least 1"), 1);
    const double from = cli.value(start).toDouble(&ok);
    if (!ok || !std::isfinite(from) || from < 0 || from > p.durationS)
      return Fail(QStringLiteral("--start must lie within the pass"), 1);
    const double factor = cli.value(speed).toDouble(&ok);
    if (!ok || !std::isfinite(factor) || factor <= 0 || factor > 1000)
      return Fail(QStringLiteral("--speed wants a factor from 0 to 1000"), 1);
    periodMs = std::max(1, static_cast<int>(1000 / factor));
    next = [p, t = from, again = cli.isSet(loop)]() mutable -> std::optional<QString> {
      if (t > p.durationS) {
        if (!again) return std::nullopt;
        t = 0;
      }
      const std::string record = pasotune::feed::RecordAt(p, t);
      t += 1;
      return QString::fromStdString(record);
    };
  }

  if (!CatchEndSignals()) return Fail(QStringLiteral("cannot catch SIGTERM and SIGINT"), 2);
  QSocketNotifier ending(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&ending, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

  const QString first = *next();
  pasotune::feed::TrackerPublisher publisher(QDBusConnection::sessionBus(), cli.value(service),
                                             cli.value(topic), cli.value(item));
  if (const QString why = publisher.Start(first); !why.isEmpty()) return Fail(why, 2);

  const bool talk = !cli.isSet(quiet);
  const auto say = [talk](const QString& record) {
    if (!talk) return;
    std::printf("%s\n", record.toUtf8().constData());
    std::fflush(stdout);
  };
  if (!cli.isSet(fromStdin)) say(first);

  QTimer ticker;
  ticker.setTimerType(Qt::PreciseTimer);
  ticker.setInterval(periodMs);
  QObject::connect(&ticker, &QTimer::timeout, &app, [&] {
    const std::optional<QString> record = next();
    if (!record) {
      ticker.stop();
      if (cli.isSet(exitAtEnd)) QCoreApplication::quit();
      return;
    }
    publisher.Publish(*record);
    say(*record);
  });
  // Lines from standard input, published whole as each one ends.
  QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
  input.setEnabled(cli.isSet(fromStdin));
  QByteArray pending;
  QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
    char buffer[4096];
    const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
      input.setEnabled(false);
      if (cli.isSet(exitAtEnd)) QCoreApplication::quit();
      return;
    }
    pending.append(buffer, static_cast<qsizetype>(n));
    for (qsizetype end; (end = pending.indexOf('\n')) >= 0;) {
      QByteArray line = pending.left(end);
      pending.remove(0, end + 1);
      if (line.endsWith('\r')) line.chop(1);
      const QString record = QString::fromUtf8(line);
      publisher.Publish(record);
      say(record);
    }
  });
  // --once and --stdin: nothing follows from the timer; stay until ended.
  if (!cli.isSet(once) && !cli.isSet(fromStdin)) ticker.start();
  const int code = QCoreApplication::exec();
  publisher.Stop();
  return code;
}
