// Velkor.exe: the radio engine Pasotune talks to over TCP 127.0.0.1:9000.

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "commands.hpp"
#include "queued_radio.hpp"
#include "server.hpp"
#include "settings.hpp"
#include "sim_radio.hpp"
#include "transcript.hpp"
#ifdef VELKOR_HAVE_HAMLIB
#include "hamlib_radio.hpp"
#endif

namespace {

constexpr std::uint16_t kPort = 9000;
// How long a radio stuck in I/O may delay the end after SIGTERM.
constexpr std::chrono::seconds kRadioPatience{3};

int stopPipe[2] = {-1, -1};

extern "C" void onStopSignal(int) {
  const int saved = errno;
  [[maybe_unused]] const auto written = ::write(stopPipe[1], "x", 1);
  errno = saved;
}

// SIGTERM and Ctrl-C end the engine through its poll loop, so it can close cleanly.
bool installSignalHandlers() {
  if (pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGINT, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);
  return true;
}

std::filesystem::path programFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path(ec) : exe.parent_path();
}

}  // namespace

int main() {
  if (!installSignalHandlers()) {
    std::cerr << "Velkor.exe: cannot set up signal handling\n";
    return 1;
  }
  const std::filesystem::path folder = programFolder();

  const char* confEnv = std::getenv("VELKOR_CONF");
  const std::filesystem::path confFile =
      confEnv && *confEnv ? std::filesystem::path(confEnv) : folder / "velkor.conf";
  std::vector<std::string> notes;
  const velkor::Settings settings = velkor::loadSettings(confFile, notes);
  for (const auto& note : notes) std::cerr << "Velkor.exe: " << note << '\n';

  velkor::Transcript transcript;
  const char* transcriptEnv = std::getenv("VELKOR_TRANSCRIPT");
  std::filesystem::path transcriptFile =
      transcriptEnv && *transcriptEnv ? transcriptEnv : settings.transcript;
  if (!transcriptFile.empty()) {
    if (transcriptFile.is_relative()) transcriptFile = folder / transcriptFile;
    const std::string error = transcript.open(transcriptFile);
    if (!error.empty()) {
      std::cerr << "Velkor.exe: no transcript, cannot open " << transcriptFile << ": " << error
                << '\n';
    }
  }

  std::unique_ptr<velkor::Radio> radio;
  std::unique_ptr<velkor::Dispatcher> dispatcher;
  velkor::Server server([&](std::string_view line) { return dispatcher->handle(line); },
                        transcript);
  const std::string listenError = server.listen(kPort);
  if (!listenError.empty()) {
    std::cerr << "Velkor.exe: " << listenError << '\n';
    return 1;
  }

  velkor::QueuedRadio* queued = nullptr;
  if (settings.radio == velkor::Settings::RadioKind::kHamlib) {
#ifdef VELKOR_HAVE_HAMLIB
    auto hamlib = std::make_unique<velkor::QueuedRadio>(
        std::make_unique<velkor::HamlibRadio>(settings),
        [&server](const std::string& reply, const std::string& action) {
          server.post(reply, action);
        });
    queued = hamlib.get();
    radio = std::move(hamlib);
    std::cerr << "Velkor.exe: Hamlib rig model " << settings.model << '\n';
#else
    std::cerr << "Velkor.exe: this build has no Hamlib; using the simulated radio\n";
#endif
  }
  if (!radio) {
    std::cerr << "Velkor.exe: simulated TS-790; set radio = hamlib in " << confFile.string()
              << " to drive a real radio\n";
    radio = std::make_unique<velkor::SimRadio>();
  }
  dispatcher = std::make_unique<velkor::Dispatcher>(*radio);

  server.run(stopPipe[0]);
  if (queued && !queued->shutdown(kRadioPatience)) {
    // The radio holds the worker in a blocking call; the kernel closes the port for us.
    std::cerr << "Velkor.exe: the radio did not let go in time; leaving without closing it\n";
    std::_Exit(0);
  }
  return 0;
}
