// What the test with the real Gpredict needs around it: Gpredict's own
// configuration written from nothing, a satellite overhead right now, the
// clicks through xdotool, and a tap on the wire between Gpredict and the feed.
#pragma once

#include <QTcpServer>
#include <QTcpSocket>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace pasotune::test {

// The two element lines of a circular 417 km orbit whose ascending node is
// over (0 N, lonDeg E) at `overhead`: the pass there is high and lasts
// minutes either side.
struct Elements {
  std::string line1, line2;
};
Elements SatelliteOverhead(std::time_t overhead, double lonDeg);

// Gpredict's folder ($XDG_CONFIG_HOME/Gpredict) as a user would have it after
// setting up: one module with satellite 99901 "PASOTEST" and its inverting
// V/U transponder, the QTH under the track, and a full-duplex radio
// "pasotune" at 127.0.0.1:rigPort with the uplink on Main and downlink on Sub.
void WriteGpredictConfig(const std::string& gpredictDir, int rigPort, std::time_t overhead);

// Runs xdotool on the test's display; its standard output, or nothing when
// it failed or took longer than timeoutMs.
std::optional<std::string> Xdotool(const std::vector<std::string>& args, int timeoutMs = 5000);

// A window's id and size, by its exact title among the shown ones.
struct XWindow {
  std::string id;
  int width = 0, height = 0;
};
std::optional<XWindow> FindShownWindow(const std::string& title);

// Sits between Gpredict and the feed, as the logging proxy that took the
// transcripts did: bytes pass unchanged both ways, and the frequencies
// Gpredict set are kept in order.
class GpredictTap : public QObject {
 public:
  GpredictTap(quint16 listenPort, quint16 feedPort);
  bool Listening() const { return server_.isListening(); }
  bool Connected() const { return connections_ > 0; }
  bool Quit() const { return quit_; }
  const std::vector<std::int64_t>& Downlinks() const { return down_; }  // F
  const std::vector<std::int64_t>& Uplinks() const { return up_; }      // I

 private:
  void Accept();
  void FromGpredict();
  QTcpServer server_;
  QTcpSocket* gpredict_ = nullptr;
  QTcpSocket* feed_ = nullptr;
  quint16 feedPort_;
  int connections_ = 0;
  bool quit_ = false;
  QByteArray line_;
  std::vector<std::int64_t> down_, up_;
};

}  // namespace pasotune::test
