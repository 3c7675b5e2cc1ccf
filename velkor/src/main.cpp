// Velkor.exe: the radio engine Pasotune talks to over TCP 127.0.0.1:9000.

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <string_view>

#include "commands.hpp"
#include "hamlib_child_radio.hpp"
#include "net.hpp"
#include "queued_radio.hpp"
#include "rigctld_radio.hpp"
#include "server.hpp"
#include "settings.hpp"
#include "sim_radio.hpp"
#include "system.hpp"
#include "text.hpp"
#include "transcript.hpp"
#include "ts790_radio.hpp"
#ifdef VELKOR_HAVE_HAMLIB
#include "hamlib_radio.hpp"
#endif

namespace {

constexpr std::uint16_t kPort = 9000;
// How long a radio stuck in I/O may delay the end after a stop request.
constexpr std::chrono::seconds kRadioPatience{3};

// Lines of the transcript lost while the engine serves reach the window at once. The
// transcript's writer says so from its own thread, which may outlive main when the disk holds it.
struct {
  std::mutex mutex;
  velkor::Server* server = nullptr;
} window;

void stopServer(void* server) {
  static_cast<velkor::Server*>(server)->stop();
}

std::unique_ptr<velkor::Radio> queued(std::unique_ptr<velkor::Radio> radio, velkor::Server& server,
                                      const velkor::Settings& settings,
                                      const std::vector<std::string>& afterOpen,
                                      velkor::QueuedRadio*& worker, bool freshReadings = false) {
  velkor::QueuedRadio::Options options;
  options.readBack = settings.readBack;
  // Only Hamlib's status cache makes a reading wait for the radio to settle.
  if (freshReadings) options.settle = std::chrono::milliseconds(0);
  options.afterOpen = afterOpen;
  // The worker says afterOpen after every answer to SETPORT; the window hears it after the
  // first one only. Notify is only ever called from the worker's thread.
  auto told = std::make_shared<std::size_t>(0);
  auto q = std::make_unique<velkor::QueuedRadio>(
      std::move(radio),
      [&server, afterOpen, told](const std::string& reply, const std::string& action) {
        if (std::find(afterOpen.begin(), afterOpen.end(), reply) != afterOpen.end()) {
          if (*told == afterOpen.size()) return;
          ++*told;
        }
        server.post(reply, action);
      },
      std::move(options));
  worker = q.get();
  return q;
}

// A radio this build cannot drive: SETPORT says so, and nothing else goes anywhere.
class UnavailableRadio : public velkor::Radio {
 public:
  explicit UnavailableRadio(std::string why) : why_(std::move(why)) {}
  velkor::Outcome open(const std::string& port) override {
    return velkor::Outcome::failed(velkor::echoText(port) + ": " + why_);
  }
  void close() override {}
  velkor::Outcome setFrequency(velkor::Band, std::int64_t) override { return noPort(); }
  velkor::Outcome setMode(velkor::Band, velkor::Mode) override { return noPort(); }
  velkor::Outcome setTone(int) override { return noPort(); }
  velkor::Outcome toneOff() override { return noPort(); }
  std::string description() const override { return {}; }
  std::optional<std::int64_t> frequency(velkor::Band) override { return std::nullopt; }
  std::optional<velkor::Mode> mode(velkor::Band) override { return std::nullopt; }
  std::optional<velkor::ToneState> tone() override { return std::nullopt; }

 private:
  static velkor::Outcome noPort() {
    return velkor::Outcome::failed(std::string(velkor::kNoPortOpen));
  }
  std::string why_;
};

}  // namespace

int main(int argc, char** argv) {
  // Answered before anything is opened, written or listened on.
  if (argc == 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h" ||
                    std::string_view(argv[1]) == "/?")) {
    // ASCII only: a Windows console shows it in its own code page.
    std::cout
        << "uso: Velkor.exe\n"
           "Motor de radio de Pasotune: escucha en 127.0.0.1:9000 los comandos de Pasotune\n"
           "(SETPORT COM1, SET FREQ MAIN 432.1500, SET MODE SUB USB, SET TONE 88.5...) y\n"
           "maneja la radio por el puerto serie. Pasotune lo arranca y lo para por su cuenta.\n"
           "Los ajustes van en velkor.conf, junto a Velkor.exe (VELKOR_CONF nombra otro\n"
           "archivo), que escribe con comentarios la primera vez que arranca.\n";
    return 0;
  }
  if (const std::string error = velkor::net::start(); !error.empty()) {
    std::cerr << "Velkor.exe: " << error << '\n';
    return 1;
  }
  const std::filesystem::path folder = velkor::sys::programFolder();

  const std::filesystem::path confFile =
      velkor::sys::environmentPath("VELKOR_CONF").value_or(folder / "velkor.conf");
  std::vector<std::string> notes;
  velkor::Settings settings = velkor::loadSettings(confFile, notes);
  settings.file = velkor::sys::pathText(confFile);
  // The engine runs hidden: what it did not take from its settings is said in the window too,
  // once, after the answer to the run's first SETPORT.
  std::vector<std::string> afterPort;
  if (settings.created) {
    std::cerr << "Velkor.exe: wrote default settings to " << settings.file << '\n';
    afterPort.push_back("velkor.conf nuevo, con los valores por omisión: " +
                        velkor::echoText(settings.file));
  }
  for (const auto& note : notes) std::cerr << "Velkor.exe: " << note << '\n';
  for (const auto& note : velkor::shownNotes(notes, confFile)) {
    afterPort.push_back(velkor::notDoneReply(note));
  }

  velkor::Transcript transcript([](const std::string& loss) {
    std::cerr << "Velkor.exe: " << loss << std::endl;
    const std::lock_guard lock(window.mutex);
    if (window.server)
      window.server->post(velkor::notDoneReply(loss), "told the transcript's loss");
  });
  std::filesystem::path transcriptFile =
      velkor::sys::environmentPath("VELKOR_TRANSCRIPT")
          .value_or(velkor::sys::pathFromUtf8(settings.transcript));
  if (!transcriptFile.empty()) {
    if (transcriptFile.is_relative()) transcriptFile = folder / transcriptFile;
    const std::string error = transcript.open(transcriptFile);
    if (!error.empty()) {
      const std::string file = velkor::sys::pathText(transcriptFile);
      std::cerr << "Velkor.exe: no transcript, cannot open " << file << ": " << error << '\n';
      afterPort.push_back(
          velkor::notDoneReply("la conversación no se registra: no se puede abrir " +
                               velkor::echoText(file) + " (" + error + ")"));
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
  // Asked to stop, the engine leaves its poll loop and closes the radio cleanly.
  if (!velkor::sys::onStopRequest(stopServer, &server)) {
    std::cerr << "Velkor.exe: cannot set up stop requests\n";
    return 1;
  }

  velkor::QueuedRadio* worker = nullptr;
  switch (settings.radio) {
    case velkor::Settings::RadioKind::kTs790:
      radio = queued(std::make_unique<velkor::Ts790Radio>(
                         settings, velkor::Ts790Radio::Opener{},
                         [&transcript](std::string_view sent, std::string_view received) {
                           transcript.record("", "radio: " + velkor::radioBytes(sent) + " -> " +
                                                     velkor::radioBytes(received));
                         }),
                     server, settings, afterPort, worker, true);
      std::cerr << "Velkor.exe: Kenwood TS-790 with its own commands\n";
      break;
    case velkor::Settings::RadioKind::kRigctld:
      radio = queued(std::make_unique<velkor::RigctldRadio>(settings), server, settings, afterPort,
                     worker);
      std::cerr << "Velkor.exe: a radio through rigctld at " << settings.rigctld << '\n';
      break;
    case velkor::Settings::RadioKind::kHamlib:
#ifdef VELKOR_HAVE_HAMLIB
      if (settings.model == 1) {
        // The dummy rig does no I/O: nothing from outside reaches Hamlib's code.
        radio = queued(std::make_unique<velkor::HamlibRadio>(settings), server, settings,
                       afterPort, worker);
      } else if (settings.model == 2) {
        radio = queued(std::make_unique<velkor::RigctldRadio>(settings), server, settings,
                       afterPort, worker);
      } else {
        radio = queued(
            std::make_unique<velkor::HamlibChildRadio>(settings, velkor::rigctldProgram()),
            server, settings, afterPort, worker);
      }
      std::cerr << "Velkor.exe: Hamlib rig model " << settings.model << '\n';
#else
      std::cerr << "Velkor.exe: this build has no Hamlib; SETPORT will say so\n";
      radio = std::make_unique<UnavailableRadio>(
          "este Velkor.exe no lleva Hamlib y no puede manejar la radio; use radio = rigctld con "
          "el rigctld de Hamlib, o radio = sim para probar sin radio, en " +
          velkor::echoText(settings.file));
#endif
      break;
    case velkor::Settings::RadioKind::kSim:
      std::cerr << "Velkor.exe: simulated TS-790, nothing leaves the computer\n";
      radio = std::make_unique<velkor::SimRadio>();
      break;
  }
  dispatcher =
      std::make_unique<velkor::Dispatcher>(*radio, worker ? std::vector<std::string>{} : afterPort);

  {
    const std::lock_guard lock(window.mutex);
    window.server = &server;
  }
  server.run();
  {
    const std::lock_guard lock(window.mutex);
    window.server = nullptr;
  }
  if (worker && !worker->shutdown(kRadioPatience)) {
    // The radio holds the worker in a blocking call; the system closes the port for us.
    std::cerr << "Velkor.exe: the radio did not let go in time; leaving without closing it\n";
    velkor::sys::stopped();
    std::_Exit(0);
  }
  velkor::sys::stopped();
  return 0;
}
