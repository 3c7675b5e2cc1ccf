#include "hamlib_radio.hpp"

#include <hamlib/rig.h>
#include <mutex>
#include <utility>

#include "commands.hpp"
#include "port_problem.hpp"
#include "serial.hpp"
#include "text.hpp"

namespace velkor {
namespace {

struct ModeMap {
  Mode mode;
  rmode_t hamlib;
  bool narrow;
};

constexpr ModeMap kModes[] = {
    {Mode::kUsb, RIG_MODE_USB, false},        {Mode::kLsb, RIG_MODE_LSB, false},
    {Mode::kCw, RIG_MODE_CW, false},          {Mode::kCwR, RIG_MODE_CWR, false},
    {Mode::kCwN, RIG_MODE_CW, true},          {Mode::kFm, RIG_MODE_FM, false},
    {Mode::kFmN, RIG_MODE_FM, true},          {Mode::kFmW, RIG_MODE_WFM, false},
    {Mode::kAm, RIG_MODE_AM, false},          {Mode::kUsbData, RIG_MODE_PKTUSB, false},
    {Mode::kLsbData, RIG_MODE_PKTLSB, false}, {Mode::kFmData, RIG_MODE_PKTFM, false},
};

const ModeMap& lookup(Mode mode) {
  for (const auto& m : kModes) {
    if (m.mode == mode) return m;
  }
  return kModes[0];
}

// A radio that stopped answering needs the user; anything else it turned down is a value it
// cannot take.
Outcome check(int status) {
  if (status == RIG_OK) return Outcome::done();
  if (problemOf(Source::kHamlib, status) == Problem::kNoAnswer) {
    return Outcome::failed(hamlibText(status), true);
  }
  return Outcome::refused(hamlibText(status));
}

int setConf(RIG* rig, const char* name, const std::string& value) {
  return rig_set_conf(rig, rig_token_lookup(rig, name), value.c_str());
}

}  // namespace

HamlibRadio::HamlibRadio(Settings settings) : settings_(std::move(settings)) {
  static std::once_flag quiet;
  std::call_once(quiet, [] { rig_set_debug(RIG_DEBUG_NONE); });
}

HamlibRadio::~HamlibRadio() {
  close();
}

std::string HamlibRadio::modelName() const {
  if (!rig_) return "radio";
  return std::string(rig_->caps->mfg_name) + " " + rig_->caps->model_name;
}

std::string HamlibRadio::description() const {
  return description_;
}

Outcome HamlibRadio::open(const std::string& port) {
  close();
  RIG* rig = rig_init(settings_.model);
  if (!rig) {
    return Outcome::failed(echoText(port) + ": Hamlib no conoce el modelo de radio " +
                           std::to_string(settings_.model) + " (model en " +
                           echoText(settings_.file.empty() ? "velkor.conf" : settings_.file) + ")");
  }
  std::string path;
  int status = RIG_OK;
  const bool serial = rig->caps->port_type == RIG_PORT_SERIAL;
  const bool network = settings_.model == RIG_MODEL_NETRIGCTL;
  if (network) {
    path = settings_.rigctld;
  } else if (serial) {
    const auto device = settings_.devicePath(port);
    if (!device) {
      rig_cleanup(rig);
      return Outcome::failed(echoText(port) + ": no es un nombre COMn ni un dispositivo");
    }
    path = *device;
    // Hamlib says "IO error" for every way opening a device can fail; the system says which.
    if (const int code = sys::probeSerial(path); code != 0) {
      rig_cleanup(rig);
      return Outcome::failed(serialFailure(problemOf(Source::kSystem, code), port, path, settings_,
                                           sys::errorText(code)));
    }
    status = setConf(rig, "serial_speed", std::to_string(settings_.speed));
    if (status == RIG_OK) {
      status = setConf(rig, "serial_handshake",
                       settings_.handshake == Settings::Handshake::kHardware ? "Hardware" : "None");
    }
  }
  if (status == RIG_OK && !path.empty()) status = setConf(rig, "rig_pathname", path);
  // Hamlib 4.6 polls the radio on a thread of its own and then answers reads from what it
  // polled (a second): the worker is the radio's only user, and a read-back must ask the radio.
  // Hamlib 4.5 has no such setting.
  if (status == RIG_OK) setConf(rig, "poll_interval", "0");
  if (status == RIG_OK) status = rig_open(rig);
  if (status != RIG_OK) {
    rig_cleanup(rig);
    if (network) {
      return Outcome::failed(echoText(port) + ": no se pudo abrir rigctld en " + echoText(path) +
                             ": " + hamlibText(status) + "; compruebe que rigctld está en marcha");
    }
    return Outcome::failed(serialFailure(problemOf(Source::kHamlib, status), port, path, settings_,
                                         hamlibText(status)));
  }
  // Read-backs must ask the radio, not Hamlib's memory of what it sent.
  rig_set_cache_timeout_ms(rig, HAMLIB_CACHE_ALL, 0);

  bands_ = settings_.bands;
  if (bands_ == Settings::Bands::kAuto) {
    const int vfos = rig->state.vfo_list;
    if ((vfos & RIG_VFO_MAIN) && (vfos & RIG_VFO_SUB)) {
      bands_ = Settings::Bands::kMainSub;
    } else if ((vfos & RIG_VFO_A) && (vfos & RIG_VFO_B)) {
      bands_ = Settings::Bands::kAB;
    } else {
      bands_ = Settings::Bands::kSplit;
    }
  }
  // Without --vfo, rigctld drops the VFO of every call: pick it first, then act on it.
  selectVfo_ = network;
  rig_ = rig;
  if (network) {
    description_ = "radio de rigctld en " + echoText(path) + " (" + echoText(port) + ")";
  } else if (serial) {
    description_ = modelName() + " en " + echoText(port) + " (" +
                   (path == port ? std::string() : echoText(path) + ", ") +
                   std::to_string(settings_.speed) + " baudios)";
  } else {
    description_ = "radio de prueba de Hamlib (" + std::string(rig_->caps->model_name) + ") en " +
                   echoText(port) + "; nada sale del ordenador";
  }
  if (bands_ == Settings::Bands::kSplit) {
    // A VFO by name: Hamlib 4.6 takes RIG_VFO_TX for the current one, the one SUB is on.
    const int vfos = rig_->state.vfo_list;
    const vfo_t tx = (vfos & RIG_VFO_B)     ? RIG_VFO_B
                     : (vfos & RIG_VFO_SUB) ? RIG_VFO_SUB
                                            : RIG_VFO_TX;
    status = rig_set_split_vfo(rig_, RIG_VFO_CURR, RIG_SPLIT_ON, tx);
    if (status != RIG_OK) {
      const std::string why = hamlibText(status);
      close();
      return Outcome::failed(echoText(port) + ": no se pudo poner la radio en split: " + why);
    }
  }
  return Outcome::done();
}

void HamlibRadio::close() {
  if (!rig_) return;
  rig_close(rig_);
  rig_cleanup(rig_);
  rig_ = nullptr;
}

int HamlibRadio::target(Band band, int& status) {
  const int vfo = vfoFor(band);
  status = RIG_OK;
  if (!selectVfo_ || vfo == RIG_VFO_CURR) return vfo;
  status = rig_set_vfo(rig_, vfo);
  return RIG_VFO_CURR;
}

int HamlibRadio::vfoFor(Band band) const {
  switch (bands_) {
    case Settings::Bands::kMainSub:
      return band == Band::kMain ? RIG_VFO_MAIN : RIG_VFO_SUB;
    case Settings::Bands::kAB:
      return band == Band::kMain ? RIG_VFO_A : RIG_VFO_B;
    default:
      return RIG_VFO_CURR;
  }
}

Outcome HamlibRadio::setFrequency(Band band, std::int64_t hz) {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  const auto f = static_cast<freq_t>(hz);
  int status = RIG_OK;
  if (splitUplink(band)) {
    status = rig_set_split_freq(rig_, RIG_VFO_TX, f);
  } else if (const int vfo = target(band, status); status == RIG_OK) {
    status = rig_set_freq(rig_, vfo, f);
  }
  return check(status);
}

Outcome HamlibRadio::setMode(Band band, Mode mode) {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  const ModeMap& m = lookup(mode);
  if (!(rig_->state.mode_list & m.hamlib)) {
    return Outcome::refused("el " + modelName() + " no tiene el modo " + rig_strrmode(m.hamlib));
  }
  // A rig without a narrow filter reports 0, which Hamlib reads as its normal width.
  const pbwidth_t width = m.narrow ? rig_passband_narrow(rig_, m.hamlib) : RIG_PASSBAND_NORMAL;
  int status = RIG_OK;
  if (splitUplink(band)) {
    status = rig_set_split_mode(rig_, RIG_VFO_TX, m.hamlib, width);
  } else if (const int vfo = target(band, status); status == RIG_OK) {
    status = rig_set_mode(rig_, vfo, m.hamlib, width);
  }
  return check(status);
}

Outcome HamlibRadio::setTone(int tenthsHz) {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  if (const tone_t* list = rig_->caps->ctcss_list) {
    bool known = false;
    for (; *list != 0; ++list) known = known || *list == static_cast<tone_t>(tenthsHz);
    if (!known) return Outcome::refused("el " + modelName() + " no tiene ese tono CTCSS");
  }
  int status = RIG_OK;
  const int vfo = target(Band::kMain, status);
  if (status != RIG_OK) return check(status);
  Outcome outcome = check(rig_set_ctcss_tone(rig_, vfo, static_cast<tone_t>(tenthsHz)));
  if (outcome.ok() && rig_has_set_func(rig_, RIG_FUNC_TONE)) {
    outcome = check(rig_set_func(rig_, vfo, RIG_FUNC_TONE, 1));
  }
  return outcome;
}

Outcome HamlibRadio::toneOff() {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  if (!rig_has_set_func(rig_, RIG_FUNC_TONE)) {
    return Outcome::refused("Hamlib no sabe apagar el tono del " + modelName());
  }
  int status = RIG_OK;
  const int vfo = target(Band::kMain, status);
  if (status == RIG_OK) status = rig_set_func(rig_, vfo, RIG_FUNC_TONE, 0);
  return check(status);
}

std::optional<std::int64_t> HamlibRadio::frequency(Band band) {
  if (!rig_) return std::nullopt;
  freq_t f = 0;
  int status = RIG_OK;
  if (splitUplink(band)) {
    status = rig_get_split_freq(rig_, RIG_VFO_TX, &f);
  } else if (const int vfo = target(band, status); status == RIG_OK) {
    status = rig_get_freq(rig_, vfo, &f);
  }
  if (status != RIG_OK) return std::nullopt;
  return static_cast<std::int64_t>(f + 0.5);
}

std::optional<Mode> HamlibRadio::mode(Band band) {
  if (!rig_) return std::nullopt;
  rmode_t mode = RIG_MODE_NONE;
  pbwidth_t width = 0;
  int status = RIG_OK;
  if (splitUplink(band)) {
    status = rig_get_split_mode(rig_, RIG_VFO_TX, &mode, &width);
  } else if (const int vfo = target(band, status); status == RIG_OK) {
    // A mode that is not VFO-targetable is reported for the current VFO only: Hamlib 4.5 gives
    // the TS-790's VFO A status for VFO B, and switching over to read it meets Hamlib's
    // half-second status, which does not tell VFOs apart (and then keeps the radio on VFO B).
    if (!(rig_->caps->targetable_vfo & RIG_TARGETABLE_MODE) && vfo != RIG_VFO_CURR &&
        static_cast<vfo_t>(vfo) != rig_->state.current_vfo) {
      return std::nullopt;
    }
    status = rig_get_mode(rig_, vfo, &mode, &width);
  }
  if (status != RIG_OK) return std::nullopt;
  const pbwidth_t narrow = rig_passband_narrow(rig_, mode);
  const bool isNarrow = narrow != 0 && width == narrow && narrow != rig_passband_normal(rig_, mode);
  for (const auto& m : kModes) {
    if (m.hamlib == mode && m.narrow == isNarrow) return m.mode;
  }
  return std::nullopt;
}

std::optional<ToneState> HamlibRadio::tone() {
  if (!rig_) return std::nullopt;
  int status = RIG_OK;
  const int vfo = target(Band::kMain, status);
  tone_t tone = 0;
  if (status != RIG_OK) return std::nullopt;
  if (rig_get_ctcss_tone(rig_, vfo, &tone) != RIG_OK) return std::nullopt;
  int on = tone != 0;
  if (rig_has_get_func(rig_, RIG_FUNC_TONE) &&
      rig_get_func(rig_, vfo, RIG_FUNC_TONE, &on) != RIG_OK) {
    return std::nullopt;
  }
  return ToneState{on != 0, static_cast<int>(tone)};
}

}  // namespace velkor
