// The world as the core sees it. Production adapters live in platform/qt and
// platform/posix, the deterministic doubles in platform/sim.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace pasotune {

// A port operation that fails throws this; its what() is the description
// shown to the user after "Error: ".
struct PortError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Local time of day, seconds since midnight, with a fractional part.
  virtual double SecondsSinceMidnight() = 0;
};

class EventPump {
 public:
  using TimerId = int;
  virtual ~EventPump() = default;
  // Handles every event that is due. If none is, waits at most maxWaitMs for
  // one to arrive and handles it. maxWaitMs <= 0 never waits.
  virtual void PumpOnce(int maxWaitMs) = 0;
  // A repeating timer, ticking through the pump every intervalMs.
  virtual TimerId StartTimer(int intervalMs, std::function<void()> tick) = 0;
  virtual void StopTimer(TimerId id) = 0;
};

// Winsock's State() codes.
namespace sck {
inline constexpr int kClosed = 0;
inline constexpr int kConnecting = 6;
inline constexpr int kConnected = 7;
inline constexpr int kClosing = 8;
inline constexpr int kError = 9;
// Winsock's "permission denied": an error event with this number says the
// listener is another user's program, not the engine.
inline constexpr int kForeignHolder = 10013;
}  // namespace sck

// A TCP client shaped like the Winsock control. Events are raised from the
// event pump, never from inside a call; a local Close raises none. Text in
// and out is UTF-8; the adapter puts Windows-1252 on the wire.
class TcpClient {
 public:
  struct Events {
    std::function<void()> connected;
    std::function<void()> closed;  // by the peer
    std::function<void(long bytesTotal)> dataArrival;
    std::function<void(int number, const std::string& description)> error;
  };
  virtual ~TcpClient() = default;
  void SetEvents(Events events) { events_ = std::move(events); }

  virtual int State() = 0;
  virtual void Connect(const std::string& host, int port) = 0;  // returns at once
  virtual void Close() = 0;
  virtual void SendData(std::string_view text) = 0;  // throws PortError
  // The waiting data, at most a bounded piece (64 KiB in the adapters); what
  // is left raises another data arrival. Throws PortError.
  virtual std::string GetData() = 0;

 protected:
  void RaiseConnected() {
    if (events_.connected) events_.connected();
  }
  void RaiseClosed() {
    if (events_.closed) events_.closed();
  }
  void RaiseDataArrival(long bytes) {
    if (events_.dataArrival) events_.dataArrival(bytes);
  }
  void RaiseError(int number, const std::string& description) {
    if (events_.error) events_.error(number, description);
  }

 private:
  Events events_;
};

// The tracker's live data item, opened by service, topic and item.
class TrackerLink {
 public:
  using Update = std::function<void(const std::string& text)>;
  // true: the tracker came (back) and is linked; false: it went away.
  using Presence = std::function<void(bool linked)>;
  virtual ~TrackerLink() = default;
  // Told, through the pump, when the tracker of an open link comes or goes.
  void SetPresence(Presence onPresence) { presence_ = std::move(onPresence); }

  // Throws PortError at once when the tracker is absent. Once open, the
  // item's whole text arrives through the pump on every update, the current
  // value first; of several updates waiting at once only the newest.
  // Unless the names themselves are refused, the link then follows the
  // tracker until Close, also when Open threw: each time it comes back it is
  // linked again, told to the presence handler, and its current value
  // arrives like any update; when it goes away the presence handler hears
  // that too.
  virtual void Open(const std::string& service, const std::string& topic, const std::string& item,
                    Update onUpdate) = 0;
  virtual void Close() = 0;  // drops the link, if any, and stops following

 protected:
  void RaisePresence(bool linked) {
    // A copy: the handler may replace it.
    if (const Presence p = presence_) p(linked);
  }

 private:
  Presence presence_;
};

class Processes {
 public:
  // How a process ended, in the system's terms, worded to follow "terminó":
  // "por la señal 11 (SIGSEGV)", "con el código de salida 3".
  using Ended = std::function<void(const std::string& cause)>;
  virtual ~Processes() = default;
  // Told, through the pump, each time a process that Start started ends,
  // whoever or whatever ended it.
  void SetEnded(Ended onEnded) { ended_ = std::move(onEnded); }
  // Detached, hidden, not awaited. Throws PortError when it cannot start.
  virtual void Start(const std::string& path) = 0;
  // Forcibly ends every process of the caller's own user whose image name
  // is exactly imageName, not awaited. Never the calling process.
  virtual void EndByImageName(const std::string& imageName) = 0;

 protected:
  void RaiseEnded(const std::string& cause) {
    // A copy: the handler may replace it.
    if (const Ended e = ended_) e(cause);
  }

 private:
  Ended ended_;
};

class Files {
 public:
  virtual ~Files() = default;
  // The folder of the program's executable, without a trailing separator
  // except at the root.
  virtual std::string ProgramFolder() = 0;
  virtual bool IsPlainFile(const std::string& path) = 0;
  // At most maxBytes from the start of the file, so a huge or endless file
  // costs no more than that. Throws PortError.
  virtual std::string ReadBytes(const std::string& path, std::size_t maxBytes) = 0;
  // Replaces the file whole or leaves it as it was. Throws PortError.
  virtual void WriteBytes(const std::string& path, std::string_view bytes) = 0;
  // Removes the temporary files a write of path stopped by a crash left
  // beside it: the user's own plain files of exactly the name such a write
  // makes, never through a link. Never throws: a leftover that stays is
  // only clutter.
  virtual void RemoveLeftovers(const std::string& path) = 0;
};

// <windows.h> defines MessageBox as MessageBoxA or MessageBoxW; seen before
// this file, it would quietly give this class another name and the program
// would not link. Windows code includes platform/win32/win32_api.hpp instead.
#ifdef MessageBox
#error "MessageBox is a macro here: include platform/win32/win32_api.hpp, not <windows.h>"
#endif

enum class MsgButtons { kOk, kYesNo };
enum class MsgIcon { kNone, kQuestion, kExclamation };
enum class MsgResult { kOk, kYes, kNo };

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Modal. With kYesNo, Yes is the default button.
  virtual MsgResult Show(const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) = 0;
};

class ProgramEnd {
 public:
  virtual ~ProgramEnd() = default;
  // Ends the program at once; no further event is handled. Never returns.
  [[noreturn]] virtual void End() = 0;
};

// Everything the core needs from the platform.
struct Platform {
  Clock& clock;
  EventPump& pump;
  TcpClient& tcp;
  TrackerLink& tracker;
  Processes& processes;
  Files& files;
  MessageBox& messages;
  ProgramEnd& programEnd;
  char decimalSeparator = '.';  // from the user's number settings
  char folderSeparator = '/';   // the platform's; '\\' on Windows
  // Where the tracker is not Orbitron itself, the log line that says how to
  // start one when it is not running; empty where none is needed.
  std::string_view trackerHint = {};

  // name in the program's folder.
  std::string InProgramFolder(std::string_view name) {
    std::string path = files.ProgramFolder();
    path += folderSeparator;
    path += name;
    return path;
  }
};

}  // namespace pasotune
