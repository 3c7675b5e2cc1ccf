#include "hamlib_radio.hpp"

#include <hamlib/rig.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <mutex>
#include <utility>

#include "commands.hpp"
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

// rigerror() in Hamlib 4.5 also carries its recent debug log; this is only the message.
std::string message(int status) {
  std::string text = rigerror2(status);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

// Errors that mean the link to the radio is gone rather than a refused value.
bool linkLost(int status) {
  switch (-status) {
    case RIG_ETIMEOUT:
    case RIG_EIO:
    case RIG_EPROTO:
    case RIG_BUSERROR:
      return true;
    default:
      return false;
  }
}

// A radio that stopped answering needs the user; anything else it turned down is a value it
// cannot take.
Outcome check(int status, std::string_view what) {
  if (status == RIG_OK) return Outcome::done();
  if (linkLost(status)) return Outcome::failed(std::string(what) + ": " + message(status), true);
  return Outcome::refused(message(status));
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

Outcome HamlibRadio::open(const std::string& port) {
  close();
  RIG* rig = rig_init(settings_.model);
  if (!rig) return Outcome::failed("Hamlib has no rig model " + std::to_string(settings_.model));

  std::string path;
  std::string where = echoText(port);
  int status = RIG_OK;
  if (settings_.model == RIG_MODEL_NETRIGCTL) {
    path = settings_.rigctld;
    where = "rigctld at " + path;
  } else if (rig->caps->port_type == RIG_PORT_SERIAL) {
    const auto device = settings_.devicePath(port);
    if (!device) {
      rig_cleanup(rig);
      return Outcome::failed("cannot open " + echoText(port) +
                             ": not a COMn name or a device path");
    }
    path = *device;
    where = echoText(port) + " (" + echoText(path) + ")";
#ifndef _WIN32
    // Hamlib only says "IO error" for a missing device.
    if (access(path.c_str(), F_OK) != 0) {
      const std::string why = std::strerror(errno);
      rig_cleanup(rig);
      return Outcome::failed("cannot open " + where + ": " + why);
    }
#endif
    status = setConf(rig, "serial_speed", std::to_string(settings_.speed));
    if (status == RIG_OK) {
      status = setConf(rig, "serial_handshake",
                       settings_.handshake == Settings::Handshake::kHardware ? "Hardware" : "None");
    }
  }
  if (status == RIG_OK && !path.empty()) status = setConf(rig, "rig_pathname", path);
  if (status == RIG_OK) status = rig_open(rig);
  if (status != RIG_OK) {
    rig_cleanup(rig);
    return Outcome::failed("cannot open " + where + ": " + message(status));
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
  selectVfo_ = settings_.model == RIG_MODEL_NETRIGCTL;
  rig_ = rig;
  if (bands_ == Settings::Bands::kSplit) {
    status = rig_set_split_vfo(rig_, RIG_VFO_CURR, RIG_SPLIT_ON, RIG_VFO_TX);
    if (status != RIG_OK) {
      const std::string why = message(status);
      close();
      return Outcome::failed("cannot switch split on for " + where + ": " + why);
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
  return check(status, std::string(bandName(band)) + " frequency " + formatHz(hz));
}

Outcome HamlibRadio::setMode(Band band, Mode mode) {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  const ModeMap& m = lookup(mode);
  const std::string what = std::string(bandName(band)) + " mode " + std::string(modeName(mode));
  if (!(rig_->state.mode_list & m.hamlib)) {
    return Outcome::refused("the " + modelName() + " has no " + rig_strrmode(m.hamlib) + " mode");
  }
  // A rig without a narrow filter reports 0, which Hamlib reads as its normal width.
  const pbwidth_t width = m.narrow ? rig_passband_narrow(rig_, m.hamlib) : RIG_PASSBAND_NORMAL;
  int status = RIG_OK;
  if (splitUplink(band)) {
    status = rig_set_split_mode(rig_, RIG_VFO_TX, m.hamlib, width);
  } else if (const int vfo = target(band, status); status == RIG_OK) {
    status = rig_set_mode(rig_, vfo, m.hamlib, width);
  }
  return check(status, what);
}

Outcome HamlibRadio::setTone(int tenthsHz) {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  const std::string what = "tone " + formatTone(tenthsHz);
  if (const tone_t* list = rig_->caps->ctcss_list) {
    bool known = false;
    for (; *list != 0; ++list) known = known || *list == static_cast<tone_t>(tenthsHz);
    if (!known) return Outcome::refused("the " + modelName() + " has no such tone");
  }
  int status = RIG_OK;
  const int vfo = target(Band::kMain, status);
  if (status != RIG_OK) return check(status, what);
  Outcome outcome = check(rig_set_ctcss_tone(rig_, vfo, static_cast<tone_t>(tenthsHz)), what);
  if (outcome.ok() && rig_has_set_func(rig_, RIG_FUNC_TONE)) {
    outcome = check(rig_set_func(rig_, vfo, RIG_FUNC_TONE, 1), what);
  }
  return outcome;
}

Outcome HamlibRadio::toneOff() {
  if (!rig_) return Outcome::failed(std::string(kNoPortOpen));
  if (!rig_has_set_func(rig_, RIG_FUNC_TONE)) {
    return Outcome::refused("Hamlib cannot switch the tone of the " + modelName());
  }
  int status = RIG_OK;
  const int vfo = target(Band::kMain, status);
  if (status == RIG_OK) status = rig_set_func(rig_, vfo, RIG_FUNC_TONE, 0);
  return check(status, "tone off");
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
