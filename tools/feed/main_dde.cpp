// pasotune-feed for Windows: a stand-in tracker over DDE. See README.md.
#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dde_publisher.hpp"
#include "feed_options.hpp"
#include "gpredict_feed.hpp"
#include "gpredict_winsock.hpp"
#include "platform/win32/message_loop.hpp"
#include "tracker_record.hpp"
// After windows.h, which dde_publisher.hpp brings in.
#include <shellapi.h>

namespace {

using pasotune::feed::Fail;
using pasotune::feed::Tell;

using pasotune::feed::Mode;
using Clock = std::chrono::steady_clock;

DWORD g_mainThread = 0;

// Ctrl-C, Ctrl-Break and the console closing end the loop, so the service
// is withdrawn on the way out; so does WM_QUIT posted to the main thread.
BOOL WINAPI OnConsoleEnd(DWORD) {
  PostThreadMessageW(g_mainThread, WM_QUIT, 0, 0);
  return TRUE;
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

// Standard input read on a thread of its own, since a pipe cannot be
// waited on; whole lines are handed over with an event.
class StdinLines {
 public:
  StdinLines() : shared_(std::make_shared<Shared>()) {
    shared_->ready = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::thread([s = shared_] {
      const HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
      char buffer[4096];
      DWORD n = 0;
      while (ReadFile(in, buffer, sizeof buffer, &n, nullptr) && n > 0) {
        const std::lock_guard lock(s->mutex);
        for (std::string& line : s->splitter.Add(std::string_view(buffer, n))) {
          s->lines.push_back(std::move(line));
        }
        SetEvent(s->ready);
      }
      const std::lock_guard lock(s->mutex);
      if (std::optional<std::string> last = s->splitter.Finish()) s->lines.push_back(*last);
      s->ended = true;
      SetEvent(s->ready);
    }).detach();  // blocked in ReadFile until the end; the process ends it
  }
  HANDLE Ready() const { return shared_->ready; }
  // The lines read so far; ended once the input has ended.
  std::vector<std::string> Take(bool& ended) {
    const std::lock_guard lock(shared_->mutex);
    ended = shared_->ended;
    return std::exchange(shared_->lines, {});
  }

 private:
  struct Shared {
    std::mutex mutex;
    pasotune::feed::LineSplitter splitter;
    std::vector<std::string> lines;
    bool ended = false;
    HANDLE ready = nullptr;  // lives as long as the process
  };
  std::shared_ptr<Shared> shared_;
};

}  // namespace

int main() {
  const pasotune::feed::Parsed parsed = pasotune::feed::ParseArguments(
      Arguments(),
      "Publica datos de seguimiento por DDE como un programa de seguimiento:\n"
      "servicio <service>, tema <topic>, elemento <item>, CF_TEXT en Windows-1252.\n"
      "Con --gpredict hace de radio de Gpredict y publica lo que Gpredict sintoniza.");
  if (const std::optional<int> code = pasotune::feed::EndedEarly(parsed)) return *code;
  const pasotune::feed::Options& options = *parsed.options;
  pasotune::feed::Records records = pasotune::feed::MakeRecords(options);
  if (!records.next) return Fail(records.error, 2);
  // Gpredict's files are read before the service is registered, and while
  // Ctrl-C still ends the feed as it does any program.
  std::optional<pasotune::feed::gpredict::Follower> follower;
  if (options.mode == Mode::kGpredict) {
    follower.emplace(pasotune::feed::gpredict::FollowerFor(
        options.gpredictConfig, {options.name, options.downMode, options.upMode}, &Tell));
  }

  // UTF-8 out as on Linux, with bare LF line ends.
  _setmode(_fileno(stdout), _O_BINARY);
  g_mainThread = GetCurrentThreadId();
  MSG msg;
  PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);  // the queue WM_QUIT is posted to
  SetConsoleCtrlHandler(OnConsoleEnd, TRUE);

  const std::string first = *records.next();
  pasotune::feed::DdePublisher publisher(options.service, options.topic, options.item);
  if (const std::string why = publisher.Start(first); !why.empty()) return Fail(why, 2);

  const auto say = [talk = !options.quiet](const std::string& record) {
    if (!talk) return;
    std::printf("%s\n", pasotune::feed::WithoutLineEnd(record).c_str());
    std::fflush(stdout);
  };
  const auto publish = [&](const std::string& record) {
    publisher.Publish(record);
    say(record);
  };
  if (options.mode != Mode::kStdin && options.mode != Mode::kGpredict) say(first);

  std::optional<pasotune::feed::gpredict::WinsockRadios> radios;
  if (follower) {
    radios.emplace(
        [&](pasotune::feed::gpredict::Direction d, std::int64_t hz) {
          if (const std::optional<std::string> record = follower->Tune(d, hz)) publish(*record);
        },
        &Tell);
    for (const pasotune::feed::GpredictPort& where : options.gpredictPorts) {
      if (const std::string why = radios->Listen(where); !why.empty()) return Fail(why, 2);
      if (!options.quiet) {
        std::printf("answering %s\n",
                    pasotune::feed::gpredict::Describe(where.role, where.port).c_str());
        std::fflush(stdout);
      }
    }
  }

  std::optional<StdinLines> input;
  if (options.mode == Mode::kStdin) input.emplace();
  // --once and --stdin: nothing follows from the clock; stay until ended.
  bool ticking = options.mode == Mode::kFile || options.mode == Mode::kPass;
  const auto period = std::chrono::milliseconds(records.periodMs);
  Clock::time_point due = Clock::now() + period;
  for (;;) {
    DWORD waitMs = radios ? radios->WaitMs() : INFINITE;
    if (ticking) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(due - Clock::now()).count();
      waitMs = std::min(waitMs, left > 0 ? static_cast<DWORD>(left) : 0);
    }
    const HANDLE news = input ? input->Ready() : radios ? radios->Event() : nullptr;
    if (!pasotune::WaitThenDispatch(waitMs, news)) break;
    if (radios) radios->Serve();
    if (input) {
      bool ended = false;
      for (const std::string& line : input->Take(ended)) {
        publish(pasotune::feed::WithLineEnd(line));
      }
      if (ended) {
        input.reset();
        if (options.exitAtEnd) break;
      }
    }
    if (ticking && Clock::now() >= due) {
      const std::optional<std::string> record = records.next();
      if (!record) {
        ticking = false;
        if (options.exitAtEnd) break;
        continue;
      }
      publish(*record);
      due += period;
      if (due < Clock::now()) due = Clock::now() + period;  // fell behind: no burst
    }
  }
  publisher.Stop();
  return 0;
}
