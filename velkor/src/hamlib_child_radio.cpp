#include "hamlib_child_radio.hpp"

#include <chrono>
#include <thread>
#include <utility>

#include "commands.hpp"
#include "net.hpp"
#include "port_problem.hpp"
#include "serial.hpp"
#include "system.hpp"
#include "text.hpp"

namespace velkor {
namespace {

// rigctld opens the radio before it listens; a slow radio takes Hamlib a few seconds.
constexpr auto kStartPatience = std::chrono::seconds(15);
constexpr auto kPoll = std::chrono::milliseconds(100);

}  // namespace

std::filesystem::path rigctldProgram() {
#ifdef _WIN32
  return sys::programFolder() / "rigctld.exe";
#else
  const auto beside = sys::programFolder() / "rigctld";
  std::error_code ec;
  return std::filesystem::exists(beside, ec) ? beside : std::filesystem::path("/usr/bin/rigctld");
#endif
}

HamlibChildRadio::HamlibChildRadio(Settings settings, std::filesystem::path program)
    : settings_(std::move(settings)), program_(std::move(program)) {}

HamlibChildRadio::~HamlibChildRadio() {
  close();
}

std::string HamlibChildRadio::description() const {
  return description_;
}

Outcome HamlibChildRadio::open(const std::string& port) {
  close();
  const auto device = settings_.devicePath(port);
  if (!device) return Outcome::failed(echoText(port) + ": no es un nombre COMn ni un dispositivo");
  if (const int code = sys::probeSerial(*device); code != 0) {
    return Outcome::failed(serialFailure(problemOf(Source::kSystem, code), port, *device, settings_,
                                         sys::errorText(code)));
  }
  std::error_code ec;
  if (!std::filesystem::exists(program_, ec)) {
    return Outcome::failed(echoText(port) + ": falta " + echoText(sys::pathText(program_)) +
                           ", el rigctld de Hamlib, para manejar esta radio" +
#ifdef _WIN32
                           "; vuelva a instalar Pasotune");
#else
                           "; instálelo con sudo apt install libhamlib-utils");
#endif
  }
  // A free loopback port for it: taken, noted, let go.
  std::uint16_t tcpPort = 0;
  std::string error;
  const net::Socket probe = net::listenLoopback(0, tcpPort, error);
  if (probe == net::kNoSocket) return Outcome::failed(echoText(port) + ": " + error);
  net::close(probe);
  const std::vector<std::string> args = {
      "-m",
      std::to_string(settings_.model),
      "-r",
      *device,
      "-s",
      std::to_string(settings_.speed),
      "-C",
      std::string("serial_handshake=") +
          (settings_.handshake == Settings::Handshake::kHardware ? "Hardware" : "None"),
      "-T",
      "127.0.0.1",
      "-t",
      std::to_string(tcpPort)};
  child_ = sys::startChild(program_, args, error);
  if (!child_) {
    return Outcome::failed(echoText(port) + ": no se pudo iniciar " +
                           echoText(sys::pathText(program_)) + ": " + error);
  }
  Settings inner = settings_;
  inner.radio = Settings::RadioKind::kRigctld;
  inner.rigctld = "127.0.0.1:" + std::to_string(tcpPort);
  radio_ = std::make_unique<RigctldRadio>(inner);
  const auto deadline = std::chrono::steady_clock::now() + kStartPatience;
  for (;;) {
    if (radio_->open(port).ok()) break;
    if (const auto how = child_->ended()) {
      // rigctld leaves when it cannot open the radio.
      close();
      return Outcome::failed(
          serialFailure(Problem::kNoAnswer, port, *device, settings_, "rigctld " + *how));
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      close();
      return Outcome::failed(serialFailure(Problem::kNoAnswer, port, *device, settings_, ""));
    }
    std::this_thread::sleep_for(kPoll);
  }
  description_ = (radio_->caps().model.empty() ? std::string("radio") : radio_->caps().model) +
                 " en " + echoText(port) + " (" +
                 (*device == port ? std::string() : echoText(*device) + ", ") +
                 std::to_string(settings_.speed) + " baudios, con Hamlib)";
  return Outcome::done();
}

void HamlibChildRadio::close() {
  if (radio_) radio_->close();
  radio_.reset();
  child_.reset();
}

Outcome HamlibChildRadio::checked(Outcome outcome) {
  if (!outcome.linkLost || !child_) return outcome;
  // The connection closes as the process ends; its status follows a moment later.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
  for (;;) {
    if (const auto how = child_->ended()) {
      outcome.reason = "Hamlib (rigctld) " + *how + "; se vuelve a iniciar";
      break;
    }
    if (std::chrono::steady_clock::now() >= until) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return outcome;
}

Outcome HamlibChildRadio::setFrequency(Band band, std::int64_t hz) {
  if (!radio_) return Outcome::failed(std::string(kNoPortOpen));
  return checked(radio_->setFrequency(band, hz));
}

Outcome HamlibChildRadio::setMode(Band band, Mode mode) {
  if (!radio_) return Outcome::failed(std::string(kNoPortOpen));
  return checked(radio_->setMode(band, mode));
}

Outcome HamlibChildRadio::setTone(int tenthsHz) {
  if (!radio_) return Outcome::failed(std::string(kNoPortOpen));
  return checked(radio_->setTone(tenthsHz));
}

Outcome HamlibChildRadio::toneOff() {
  if (!radio_) return Outcome::failed(std::string(kNoPortOpen));
  return checked(radio_->toneOff());
}

std::optional<std::int64_t> HamlibChildRadio::frequency(Band band) {
  return radio_ ? radio_->frequency(band) : std::nullopt;
}

std::optional<Mode> HamlibChildRadio::mode(Band band) {
  return radio_ ? radio_->mode(band) : std::nullopt;
}

std::optional<ToneState> HamlibChildRadio::tone() {
  return radio_ ? radio_->tone() : std::nullopt;
}

}  // namespace velkor
