// One port Gpredict drives a radio on, on Linux: a plain socket watched by
// Qt's event loop, one client at a time, its bytes answered as they come.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <optional>
#include <string>

#include "feed_options.hpp"
#include "gpredict_radio.hpp"

namespace pasotune::feed::gpredict {

class PosixRadioPort {
 public:
  using Tuned = std::function<void(Direction, std::int64_t)>;
  using Tell = std::function<void(const std::string&)>;

  PosixRadioPort(const GpredictPort& where, Tuned tuned, Tell tell);
  ~PosixRadioPort();
  PosixRadioPort(const PosixRadioPort&) = delete;
  PosixRadioPort& operator=(const PosixRadioPort&) = delete;

  // Listens on 127.0.0.1:port; why it cannot, or an empty string.
  std::string Listen();

 private:
  void Accept();
  // Sends what waits, reads what the client may send now, closes when done.
  void Serve();
  // Lets the client go; a line it left unfinished is told of.
  void Drop();
  void Watch();

  GpredictPort where_;
  Tuned tuned_;
  Tell tell_;
  int listener_ = -1;
  int client_ = -1;
  QSocketNotifier* acceptable_ = nullptr;
  QSocketNotifier* readable_ = nullptr;
  QSocketNotifier* writable_ = nullptr;
  QTimer patience_;
  // How long a second client waits for the first to end before it is told
  // the port is busy.
  static constexpr int kGrace = 1000;
  QTimer grace_;
  bool graceOver_ = false;
  RadioMemory memory_;
  std::optional<Conversation> conversation_;
};

}  // namespace pasotune::feed::gpredict
