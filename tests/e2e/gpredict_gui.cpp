#include "gpredict_gui.hpp"

#include <QHostAddress>
#include <QProcess>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace pasotune::test {

namespace {

std::string WithChecksum(const std::string& line) {
  int sum = 0;
  for (const char c : line) {
    if (c >= '0' && c <= '9') sum += c - '0';
    if (c == '-') sum += 1;
  }
  return line + static_cast<char>('0' + sum % 10);
}

void Write(const std::filesystem::path& file, const std::string& text) {
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary) << text;
}

}  // namespace

Elements SatelliteOverhead(std::time_t overhead, double lonDeg) {
  // Greenwich sidereal angle at that moment (good to a small fraction of a
  // degree, plenty for a pass straight overhead).
  const double jd = static_cast<double>(overhead) / 86400.0 + 2440587.5;
  const double gmst = std::fmod(280.46061837 + 360.98564736629 * (jd - 2451545.0), 360.0);
  const double raan = std::fmod(lonDeg + gmst + 360.0, 360.0);
  std::tm utc{};
  gmtime_r(&overhead, &utc);
  const double day =
      utc.tm_yday + 1 + (utc.tm_hour * 3600 + utc.tm_min * 60 + utc.tm_sec) / 86400.0;
  char l1[80], l2[80];
  std::snprintf(l1, sizeof l1, "1 99901U 26001A   %02d%012.8f  .00000000  00000-0  00000-0 0  999",
                utc.tm_year % 100, day);
  std::snprintf(l2, sizeof l2, "2 99901  51.6000 %8.4f 0001000   0.0000   0.0000 15.50000000    0",
                raan);
  return {WithChecksum(l1), WithChecksum(l2)};
}

void WriteGpredictConfig(const std::string& gpredictDir, int rigPort, std::time_t overhead) {
  const std::filesystem::path dir = gpredictDir;
  constexpr double kLon = 10.0;
  const Elements sat = SatelliteOverhead(overhead, kLon);
  Write(dir / "gpredict.cfg", "[GLOBAL]\nOPEN_MODULES=PASOTEST\nDEFAULT_QTH=home.qth\n");
  std::ostringstream qth;
  qth << "[QTH]\nNAME=home\nLOCATION=Under the track\nLAT=0.0\nLON=" << kLon << "\nALT=0\n";
  Write(dir / "home.qth", qth.str());
  Write(dir / "modules" / "PASOTEST.mod", "[GLOBAL]\nSATELLITES=99901;\nQTHFILE=home.qth\n");
  Write(dir / "satdata" / "99901.sat",
        "[Satellite]\nVERSION=1.1\nNAME=PASOTEST\nNICKNAME=PASOTEST\nTLE1=" + sat.line1 +
            "\nTLE2=" + sat.line2 + "\nSTATUS=0\n");
  Write(dir / "trsp" / "99901.trsp",
        "[Mode V/U linear]\nUP_LOW=145900000\nUP_HIGH=146000000\nDOWN_LOW=435800000\n"
        "DOWN_HIGH=435900000\nINVERT=true\nMODE=LSB/USB\n");
  Write(dir / "hwconf" / "pasotune.rig",
        "[Radio]\nHost=127.0.0.1\nPort=" + std::to_string(rigPort) +
            "\nLO=0\nLO_UP=0\nType=3\nPTT=0\nVFO_UP=3\nVFO_DOWN=4\n");
}

std::optional<std::string> Xdotool(const std::vector<std::string>& args, int timeoutMs) {
  QStringList list;
  for (const std::string& a : args) list << QString::fromStdString(a);
  QProcess xdotool;
  xdotool.start("xdotool", list);
  if (!xdotool.waitForFinished(timeoutMs)) {
    xdotool.kill();
    xdotool.waitForFinished(1000);
    return std::nullopt;
  }
  if (xdotool.exitStatus() != QProcess::NormalExit || xdotool.exitCode() != 0) return std::nullopt;
  return xdotool.readAllStandardOutput().toStdString();
}

std::optional<XWindow> FindShownWindow(const std::string& title) {
  const auto ids = Xdotool({"search", "--onlyvisible", "--name", "^" + title + "$"});
  if (!ids || ids->empty()) return std::nullopt;
  XWindow window;
  window.id = ids->substr(0, ids->find('\n'));
  const auto shape = Xdotool({"getwindowgeometry", "--shell", window.id});
  if (!shape) return std::nullopt;
  std::istringstream lines(*shape);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("WIDTH=", 0) == 0) window.width = std::stoi(line.substr(6));
    if (line.rfind("HEIGHT=", 0) == 0) window.height = std::stoi(line.substr(7));
  }
  return window;
}

GpredictTap::GpredictTap(quint16 listenPort, quint16 feedPort) : feedPort_(feedPort) {
  QObject::connect(&server_, &QTcpServer::newConnection, this, [this] { Accept(); });
  server_.listen(QHostAddress::LocalHost, listenPort);
}

void GpredictTap::Accept() {
  while (QTcpSocket* next = server_.nextPendingConnection()) {
    if (gpredict_ != nullptr && gpredict_->state() != QAbstractSocket::UnconnectedState) {
      next->abort();  // one radio controller at a time, like the feed
      next->deleteLater();
      continue;
    }
    ++connections_;
    gpredict_ = next;
    feed_ = new QTcpSocket(next);
    feed_->connectToHost(QHostAddress::LocalHost, feedPort_);
    QTcpSocket* gpredict = gpredict_;
    QTcpSocket* feed = feed_;
    QObject::connect(gpredict, &QTcpSocket::readyRead, this, [this] { FromGpredict(); });
    QObject::connect(feed, &QTcpSocket::readyRead, gpredict,
                     [gpredict, feed] { gpredict->write(feed->readAll()); });
    QObject::connect(feed, &QTcpSocket::disconnected, gpredict,
                     [gpredict] { gpredict->disconnectFromHost(); });
    QObject::connect(gpredict, &QTcpSocket::disconnected, feed,
                     [feed] { feed->disconnectFromHost(); });
  }
}

void GpredictTap::FromGpredict() {
  const QByteArray bytes = gpredict_->readAll();
  feed_->write(bytes);  // held until the feed's end is connected
  for (const char c : bytes) {
    if (c != '\n') {
      line_ += c;
      continue;
    }
    std::istringstream words(line_.toStdString());
    line_.clear();
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;
    if (w[0] == "q") quit_ = true;
    // "F  435850000", or with the VFO named first as newer Gpredicts send it.
    std::int64_t hz = 0;
    const std::string& value = w.back();
    if ((w[0] == "F" || w[0] == "I") && w.size() >= 2 &&
        std::from_chars(value.data(), value.data() + value.size(), hz).ec == std::errc{}) {
      (w[0] == "F" ? down_ : up_).push_back(hz);
    }
  }
}

}  // namespace pasotune::test
