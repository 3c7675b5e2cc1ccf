// pasotune-dde-bridge: a tracker's DDE item as lines on standard output, so
// that Orbitron run under Wine can feed the Linux Pasotune through
//   wine pasotune-dde-bridge.exe | pasotune-feed --stdin
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bridge.hpp"
#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "platform/win32/dde/windows.hpp"
#include "platform/win32/message_loop.hpp"
// After windows.h.
#include <shellapi.h>

namespace {

using Clock = std::chrono::steady_clock;

DWORD g_mainThread = 0;

// Ctrl-C, Ctrl-Break and the console closing end the loop, so the
// conversation is ended on the way out; so does WM_QUIT posted to the main
// thread.
BOOL WINAPI OnConsoleEnd(DWORD) {
  PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
  return TRUE;
}

void Say(const std::string& line) {
  std::fprintf(stderr, "pasotune-dde-bridge: %s\n", line.c_str());
}

std::vector<std::string> Arguments() {
  std::vector<std::string> args;
  int n = 0;
  if (LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &n)) {
    for (int i = 1; i < n; ++i) args.push_back(pasotune::dde::Narrow(wide[i]));
    LocalFree(wide);
  }
  return args;
}

// Straight to the handle: no C runtime buffer holds a line back, no text
// mode adds a CR, and a reader that has gone away shows as a failure.
bool WriteAll(HANDLE out, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD n = 0;
    if (!WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &n,
                   nullptr) ||
        n == 0) {
      return false;
    }
    done += n;
  }
  FlushFileBuffers(out);  // a no-op on a pipe; a file is written through
  return true;
}

// Asks, with a conversation of its own, whether the tracker still answers:
// one that was killed never ends its conversations, so the link alone
// would wait for it forever.
class Probe {
 public:
  Probe(const std::string& service, const std::string& topic) : service_(service), topic_(topic) {}
  ~Probe() {
    service_name_ = {};
    topic_name_ = {};
    if (instance_) DdeUninitialize(instance_);
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;

  // True also when it cannot tell.
  bool Answers() {
    if (!instance_) {
      if (DdeInitializeW(&instance_, &Ignore, APPCMD_CLIENTONLY | CBF_SKIP_ALLNOTIFICATIONS, 0) !=
          DMLERR_NO_ERROR) {
        instance_ = 0;
        return true;
      }
      service_name_ = pasotune::dde::Name(instance_, service_);
      topic_name_ = pasotune::dde::Name(instance_, topic_);
    }
    if (!service_name_ || !topic_name_) return true;
    const HCONV conv = pasotune::dde::Connect(instance_, service_name_.get(), topic_name_.get());
    if (!conv) return false;
    DdeDisconnect(conv);
    return true;
  }

 private:
  static HDDEDATA CALLBACK Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return nullptr;
  }

  std::string service_, topic_;
  DWORD instance_ = 0;
  pasotune::dde::Name service_name_, topic_name_;
};

}  // namespace

int main() {
  const pasotune::bridge::Parsed parsed = pasotune::bridge::ParseArguments(Arguments());
  if (!parsed.options) {
    if (parsed.exitCode == 0) {
      std::fputs(parsed.message.c_str(), stdout);
      return 0;
    }
    Say(parsed.message);
    return parsed.exitCode;
  }
  const pasotune::bridge::Options& o = *parsed.options;
  const std::string what = o.service + "|" + o.topic + " " + o.item;

  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  g_mainThread = GetCurrentThreadId();
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue WM_QUIT is posted to
  SetConsoleCtrlHandler(OnConsoleEnd, TRUE);

  pasotune::DdeTrackerLink link;
  bool linked = false;
  bool outputGone = false;
  bool toldWaiting = false;
  Probe probe(o.service, o.topic);
  // While unlinked the next attempt to link, while linked the next check
  // that the tracker is still there.
  Clock::time_point due = Clock::now();
  const auto again = [&] { due = Clock::now() + std::chrono::milliseconds(o.retryMs); };
  const auto lost = [&](const std::string& why) {
    linked = false;
    link.Close();
    Say(why + "; trying again every " + std::to_string(o.retryMs) + " ms");
    toldWaiting = true;
    again();
  };

  for (;;) {
    if (linked && Clock::now() >= due) {
      if (probe.Answers()) {
        again();
      } else {
        lost("the tracker no longer answers");
      }
    } else if (!linked && link.Linked()) {
      // The link follows the tracker by itself once opened.
      linked = true;
      toldWaiting = false;
      Say("linked to " + what);
      again();
    } else if (!linked && Clock::now() >= due) {
      try {
        link.Open(o.service, o.topic, o.item, [&](const std::string& value) {
          if (!outputGone && !WriteAll(out, pasotune::bridge::AsLine(value))) outputGone = true;
        });
        linked = true;
        toldWaiting = false;
        Say("linked to " + what);
        again();
      } catch (const pasotune::PortError& e) {
        if (!toldWaiting) {
          Say(std::string(e.what()) + "; trying again every " + std::to_string(o.retryMs) + " ms");
          toldWaiting = true;
        }
        again();
      }
    }

    const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
    const DWORD waitMs = left > 0 ? static_cast<DWORD>(left) : 0;
    if (!pasotune::WaitThenDispatch(waitMs)) break;
    if (outputGone) {
      Say("standard output is closed; ending");
      break;
    }
    if (linked && !link.Linked()) lost("the tracker ended the link");
  }
  link.Close();
  return 0;
}
