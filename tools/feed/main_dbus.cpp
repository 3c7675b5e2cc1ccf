// pasotune-feed: a stand-in tracker on the session bus. See README.md.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feed_options.hpp"
#include "gpredict_feed.hpp"
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

// One port Gpredict drives a radio on: one client at a time, its bytes
// answered as they come.
class RadioPort {
 public:
  static constexpr qint64 kMaxUnreadReplies = 64 * 1024;

  RadioPort(const pasotune::feed::GpredictPort& where,
            std::function<void(pasotune::feed::gpredict::Direction, std::int64_t)> tuned)
      : where_(where), tuned_(std::move(tuned)) {
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] { Accept(); });
  }
  QString Listen() {
    if (server_.listen(QHostAddress::LocalHost, static_cast<quint16>(where_.port))) return {};
    return QStringLiteral("cannot listen on 127.0.0.1:%1: %2")
        .arg(where_.port)
        .arg(server_.errorString());
  }

 private:
  void Accept() {
    while (QTcpSocket* s = server_.nextPendingConnection()) {
      QObject::connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
      if (client_) {
        s->write(pasotune::feed::gpredict::kBusyReply.data(),
                 static_cast<qint64>(pasotune::feed::gpredict::kBusyReply.size()));
        s->disconnectFromHost();
        Tell(pasotune::feed::gpredict::TurnedAway(where_.port));
        continue;
      }
      client_ = s;
      session_.emplace(where_.role, memory_, tuned_, &Tell);
      QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
        if (s != client_) return;
        const QByteArray bytes = s->readAll();
        const auto out = session_->Receive(std::string_view(bytes.constData(), bytes.size()));
        if (!out.reply.empty()) s->write(out.reply.data(), static_cast<qint64>(out.reply.size()));
        if (s->bytesToWrite() > kMaxUnreadReplies) {
          // It asks and never reads: let it go before its answers pile up.
          Tell("a client on port " + std::to_string(where_.port) +
               " does not take its answers: closed");
          s->abort();
          return;
        }
        if (out.end) s->disconnectFromHost();
      });
      QObject::connect(s, &QTcpSocket::disconnected, &server_, [this, s] {
        if (s != client_) return;
        session_->Closed();
        session_.reset();
        client_ = nullptr;
      });
    }
  }

  pasotune::feed::GpredictPort where_;
  std::function<void(pasotune::feed::gpredict::Direction, std::int64_t)> tuned_;
  QTcpServer server_;
  QTcpSocket* client_ = nullptr;
  pasotune::feed::gpredict::RadioMemory memory_;
  std::optional<pasotune::feed::gpredict::Session> session_;
};

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
    std::printf("%s\n", pasotune::feed::WithoutLineEnd(record).c_str());
    std::fflush(stdout);
  };
  const auto publish = [&](const std::string& record) {
    publisher.Publish(QString::fromStdString(record));
    say(record);
  };
  if (options.mode != Mode::kStdin && options.mode != Mode::kGpredict) say(first);

  std::list<RadioPort> gpredictPorts;
  std::optional<pasotune::feed::gpredict::Follower> follower;
  if (options.mode == Mode::kGpredict) {
    follower.emplace(pasotune::feed::gpredict::FollowerFor(
        options.gpredictConfig, {options.name, options.downMode, options.upMode}, &Tell));
    for (const pasotune::feed::GpredictPort& where : options.gpredictPorts) {
      RadioPort& port = gpredictPorts.emplace_back(
          where, [&](pasotune::feed::gpredict::Direction d, std::int64_t hz) {
            if (const std::optional<std::string> record = follower->Tune(d, hz)) publish(*record);
          });
      if (const QString why = port.Listen(); !why.isEmpty()) return Fail(why.toStdString(), 2);
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
