// pasotune-feed: a stand-in tracker on the session bus. See README.md.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feed_options.hpp"
#include "gpredict_feed.hpp"
#include "gpredict_posix.hpp"
#include "tracker_publisher.hpp"
#include "tracker_record.hpp"

namespace {

using pasotune::feed::Fail;
using pasotune::feed::Tell;

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
      "Publica datos de seguimiento en el bus de sesión como un programa de seguimiento:\n"
      "nombre dde.<service>, objeto /<topic>, interfaz dde.Topic, propiedad de texto <item>.\n"
      "Con --gpredict hace de radio de Gpredict y publica lo que Gpredict sintoniza.");
  if (const std::optional<int> code = pasotune::feed::EndedEarly(parsed)) return *code;
  const pasotune::feed::Options& options = *parsed.options;
  pasotune::feed::Records records = pasotune::feed::MakeRecords(options);
  if (!records.next) return Fail(records.error, 2);
  // Gpredict's files are read before the name is taken, and while SIGTERM
  // and Ctrl-C still end the feed as they do any program.
  std::optional<pasotune::feed::gpredict::Follower> follower;
  if (options.mode == Mode::kGpredict) {
    follower.emplace(pasotune::feed::gpredict::FollowerFor(
        options.gpredictConfig, {options.name, options.downMode, options.upMode}, &Tell));
  }

  if (!CatchEndSignals()) return Fail("no se pueden atender SIGTERM y SIGINT", 2);
  QSocketNotifier ending(g_signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&ending, &QSocketNotifier::activated, &app, [] { QCoreApplication::quit(); });

  const std::string first = *records.next();
  pasotune::feed::TrackerPublisher publisher(
      QDBusConnection::sessionBus(), QString::fromStdString(options.service),
      QString::fromStdString(options.topic), QString::fromStdString(options.item));
  if (const QString why = publisher.Start(QString::fromStdString(first)); !why.isEmpty()) {
    return Fail(why.toStdString(), 2);
  }

  // Whoever reads the records may go (a closed terminal, a launcher's pipe):
  // the feed goes on answering Gpredict and publishing, silently.
  ::signal(SIGPIPE, SIG_IGN);
  auto say = [talk = !options.quiet](const std::string& record) mutable {
    if (!talk) return;
    talk = std::printf("%s\n", pasotune::feed::WithoutLineEnd(record).c_str()) >= 0 &&
           std::fflush(stdout) == 0;
  };
  const auto publish = [&](const std::string& record) {
    publisher.Publish(QString::fromStdString(record));
    say(record);
  };
  if (options.mode != Mode::kStdin && options.mode != Mode::kGpredict) say(first);

  std::list<pasotune::feed::gpredict::PosixRadioPort> gpredictPorts;
  if (follower) {
    for (const pasotune::feed::GpredictPort& where : options.gpredictPorts) {
      auto& port = gpredictPorts.emplace_back(
          where,
          [&](pasotune::feed::gpredict::Direction d, std::int64_t hz) {
            if (const std::optional<std::string> record = follower->Tune(d, hz)) publish(*record);
          },
          &Tell);
      if (const std::string why = port.Listen(); !why.empty()) return Fail(why, 2);
      if (!options.quiet) {
        std::printf("answering %s\n",
                    pasotune::feed::gpredict::Describe(where.role, where.port).c_str());
        std::fflush(stdout);
      }
    }
  }

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
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (n <= 0) {
      input.setEnabled(false);
      if (const std::optional<std::string> last = lines.Finish()) {
        publish(pasotune::feed::WithLineEnd(*last));
      }
      if (options.exitAtEnd) QCoreApplication::quit();
      return;
    }
    for (const std::string& line :
         lines.Add(std::string_view(buffer, static_cast<std::size_t>(n)))) {
      publish(pasotune::feed::WithLineEnd(line));
    }
  });
  // --once and --stdin: nothing follows from the timer; stay until ended.
  if (options.mode == Mode::kFile || options.mode == Mode::kPass) ticker.start();
  const int code = QCoreApplication::exec();
  publisher.Stop();
  return code;
}
