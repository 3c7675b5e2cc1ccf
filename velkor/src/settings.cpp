#include "settings.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <system_error>

#include "system.hpp"
#include "text.hpp"

namespace velkor {
namespace {

constexpr const char* kDefaults = "; se usan los valores por omisión";

std::string_view trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::string lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::optional<int> parseInt(std::string_view s) {
  int value = 0;
  const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc{} || end != s.data() + s.size()) return std::nullopt;
  return value;
}

// A '#' that starts the line or follows a blank begins a comment.
std::string_view stripComment(std::string_view line) {
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
      return line.substr(0, i);
    }
  }
  return line;
}

void apply(Settings& s, const std::string& key, std::string_view value, int lineNo,
           std::vector<std::string>& warnings) {
  const std::string v = lower(value);
  // A refused value says which ones the key takes.
  auto bad = [&](std::string_view accepted) {
    warnings.push_back("línea " + std::to_string(lineNo) + ": " + echoText(key) + " = «" +
                       echoText(value) + "» no vale (valores: " + std::string(accepted) +
                       "); se ignora");
  };
  if (key == "radio") {
    if (v == "sim") {
      s.radio = Settings::RadioKind::kSim;
    } else if (v == "ts790") {
      s.radio = Settings::RadioKind::kTs790;
    } else if (v == "hamlib") {
      s.radio = Settings::RadioKind::kHamlib;
    } else if (v == "rigctld") {
      s.radio = Settings::RadioKind::kRigctld;
    } else if (v == "dummy") {
      // One line for the demo: Hamlib's dummy rig.
      s.radio = Settings::RadioKind::kHamlib;
      s.model = 1;
      s.dummyRadio = true;
    } else {
      bad("ts790, hamlib, sim, rigctld o dummy");
    }
  } else if (key == "model" || key == "speed") {
    const auto n = parseInt(value);
    if (!n || *n <= 0) {
      return bad(key == "speed" ? "los baudios de la radio, 4800 en el TS-790"
                                : "un modelo de Hamlib, 2007 para el TS-790");
    }
    if (key == "speed") {
      s.speed = *n;
    } else if (!s.dummyRadio) {
      s.model = *n;
    }
  } else if (key == "handshake") {
    if (v == "none") {
      s.handshake = Settings::Handshake::kNone;
    } else if (v == "hardware") {
      s.handshake = Settings::Handshake::kHardware;
    } else {
      bad("none o hardware");
    }
  } else if (key == "bands") {
    if (v == "auto") {
      s.bands = Settings::Bands::kAuto;
    } else if (v == "main-sub") {
      s.bands = Settings::Bands::kMainSub;
    } else if (v == "a-b") {
      s.bands = Settings::Bands::kAB;
    } else if (v == "split") {
      s.bands = Settings::Bands::kSplit;
    } else {
      bad("auto, main-sub, a-b o split");
    }
  } else if (key == "rigctld") {
    if (value.empty()) return bad("host:puerto, como 127.0.0.1:4532");
    s.rigctld = std::string(value);
  } else if (key == "readback") {
    if (v == "yes" || v == "si" || v == "sí") {
      s.readBack = true;
    } else if (v == "no") {
      s.readBack = false;
    } else {
      bad("yes o no");
    }
  } else if (key == "transcript") {
    s.transcript = std::string(value);
  } else if (const auto n = comPortNumber(key)) {
#ifdef _WIN32
    if (value.empty()) return bad("un puerto, como COM3");
#else
    if (value.empty()) return bad("un dispositivo, como /dev/ttyUSB0");
#endif
    s.comDevices[*n] = std::string(value);
  } else {
    warnings.push_back("línea " + std::to_string(lineNo) + ": clave desconocida «" + echoText(key) +
                       "»; se ignora");
  }
}

}  // namespace

std::optional<int> comPortNumber(std::string_view name) {
  if (name.size() < 4 || name.size() > 6 || lower(name.substr(0, 3)) != "com") return std::nullopt;
  const std::string_view digits = name.substr(3);
  if (digits.front() == '0') return std::nullopt;
  const auto n = parseInt(digits);
  if (!n || *n < 1 || *n > 256) return std::nullopt;
  return n;
}

std::optional<std::string> Settings::devicePath(std::string_view port) const {
  const auto n = comPortNumber(port);
  if (!n) return std::nullopt;
  if (const auto it = comDevices.find(*n); it != comDevices.end()) return it->second;
#ifdef _WIN32
  return "COM" + std::to_string(*n);
#else
  return "/dev/ttyS" + std::to_string(*n - 1);
#endif
}

Settings parseSettings(std::string_view text, std::vector<std::string>& warnings) {
  Settings settings;
  int lineNo = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++lineNo;
    line = trim(stripComment(line));
    if (line.empty()) continue;
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) {
      warnings.push_back("línea " + std::to_string(lineNo) + ": falta «=» en «" + echoText(line) +
                         "»; se ignora");
      continue;
    }
    apply(settings, lower(trim(line.substr(0, eq))), trim(line.substr(eq + 1)), lineNo, warnings);
  }
  // Hamlib's TS-790 backend sends the radio commands it refuses; files written before the
  // engine had its own driver name it, and mean this radio.
  if (settings.radio == Settings::RadioKind::kHamlib && settings.model == 2007) {
    settings.radio = Settings::RadioKind::kTs790;
  }
  return settings;
}

std::string defaultSettingsText() {
#ifdef _WIN32
  constexpr std::string_view kDevices =
      "# The port Hamlib opens for a port name, if not the port itself.\n"
      "# COM3 = \\\\.\\COM3";
#else
  constexpr std::string_view kDevices =
      "# The Linux device behind a port name. Without a line here COMn is /dev/ttyS(n-1).\n"
      "# For a USB serial adapter, its name under /dev/serial/by-id/ stays the same\n"
      "# whatever else is plugged in:\n"
      "# COM1 = /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0\n"
      "# COM1 = /dev/ttyUSB0";
#endif
  return R"(# Velkor.exe settings: "key = value" per line; "#" starts a comment.
# Velkor.exe wrote this file with its defaults. Pasotune starts Velkor.exe afresh at every
# Conectar, so a change here counts from the next Desconectar and Conectar.

# ts790: a Kenwood TS-790 on the port chosen in Pasotune, driven with its own commands.
# hamlib: another radio through Hamlib on that port (see model). sim: a simulated TS-790,
# nothing leaves the computer. rigctld: a radio through Hamlib's rigctld, see rigctld below.
# dummy: Hamlib's dummy rig (model 1), a demo of the Hamlib side.
radio = ts790

# With radio = hamlib, Hamlib's rig model: 1 Hamlib's dummy rig, 2 a rigctld (see rigctld
# below), 2014 a Kenwood TS-2000... (rigctl --list). 2007, the TS-790, is always the engine's
# own driver.
# model = 2014

# Serial speed in baud, as set on the radio (the TS-790 talks at 4800).
speed = 4800

# Serial handshake: none, or hardware (RTS/CTS).
handshake = hardware

)" + std::string(kDevices) +
         R"(

# With radio = rigctld (or model = 2): where rigctld listens, host:port.
rigctld = 127.0.0.1:4532

# How MAIN (uplink) and SUB (downlink) reach the radio: auto, main-sub, a-b or split.
bands = auto

# After each setting, read it back from the radio and set it once more if it did not take:
# yes or no.
readback = yes

# A file that records every received line; relative to the folder of Velkor.exe. Empty: none.
transcript =
)";
}

Settings loadSettings(const std::filesystem::path& file, std::vector<std::string>& notes) {
  // The whole path once per line about the file itself; the lines about its lines start with
  // the file's name, so the window shows the line number and the cause.
  const std::string name = echoText(sys::pathText(file.filename()));
  const std::string where = " (" + echoText(sys::pathText(file)) + ")";
  // One byte more tells a file of exactly the limit from a longer one.
  sys::SmallFile read = sys::readSmallFile(file, kMaxSettingsBytes + 1);
  switch (read.status) {
    case sys::SmallFile::Status::kMissing:
      if (const std::string error = sys::createNewFile(file, defaultSettingsText());
          !error.empty()) {
        notes.push_back(name + " no se pudo escribir: " + error + kDefaults + where);
        return Settings{};
      }
      {
        Settings created;
        created.created = true;
        return created;
      }
    case sys::SmallFile::Status::kNotPlain:
      notes.push_back(name + " no se lee: es " + read.why + ", no un archivo" + kDefaults + where);
      return Settings{};
    case sys::SmallFile::Status::kFailed:
      notes.push_back(name + " no se pudo leer: " + read.why + kDefaults + where);
      return Settings{};
    case sys::SmallFile::Status::kRead:
      break;
  }
  if (read.bytes.size() > kMaxSettingsBytes) {
    notes.push_back(name + " pasa de " + std::to_string(kMaxSettingsBytes / 1024) +
                    " KiB: solo cuentan las líneas de sus primeros " +
                    std::to_string(kMaxSettingsBytes / 1024) + " KiB");
    // The line the limit cuts through is not the line the file holds.
    const std::size_t end = read.bytes.find_last_of('\n', kMaxSettingsBytes - 1);
    read.bytes.resize(end == std::string::npos ? 0 : end + 1);
  }
  std::vector<std::string> warnings;
  Settings settings = parseSettings(read.bytes, warnings);
  for (const auto& w : warnings) notes.push_back(name + " " + w);
  return settings;
}

std::vector<std::string> shownNotes(const std::vector<std::string>& notes,
                                    const std::filesystem::path& file) {
  std::vector<std::string> out(notes.begin(), notes.begin() + std::min(notes.size(), kShownNotes));
  if (notes.size() > kShownNotes) {
    out.push_back("\u2026 y " + std::to_string(notes.size() - kShownNotes) + " más (véase " +
                  echoText(sys::pathText(file.filename())) + ")");
  }
  return out;
}

}  // namespace velkor
