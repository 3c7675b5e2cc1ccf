#include "port_problem.hpp"

#include <array>
#include <cerrno>
#include <filesystem>
#include <string_view>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "serial.hpp"
#include "system.hpp"
#include "text.hpp"

namespace velkor {
namespace {

struct Cause {
  Source source;
  int code;
  Problem problem;
};

// The one place where error numbers become what the user reads.
constexpr Cause kCauses[] = {
#ifdef _WIN32
    {Source::kSystem, ERROR_FILE_NOT_FOUND, Problem::kNoDevice},
    {Source::kSystem, ERROR_PATH_NOT_FOUND, Problem::kNoDevice},
    {Source::kSystem, ERROR_INVALID_NAME, Problem::kNoDevice},
    {Source::kSystem, ERROR_DEV_NOT_EXIST, Problem::kNoDevice},
    {Source::kSystem, ERROR_BAD_UNIT, Problem::kNoDevice},
    // A COM port is opened by one program at a time: denied means another one has it.
    {Source::kSystem, ERROR_ACCESS_DENIED, Problem::kBusy},
    {Source::kSystem, ERROR_SHARING_VIOLATION, Problem::kBusy},
    {Source::kSystem, ERROR_INVALID_FUNCTION, Problem::kNotSerial},
    {Source::kSystem, ERROR_NOT_SUPPORTED, Problem::kNotSerial},
    {Source::kSystem, ERROR_SEM_TIMEOUT, Problem::kNoAnswer},
#else
    {Source::kSystem, ENOENT, Problem::kNoDevice},
    {Source::kSystem, ENODEV, Problem::kNoDevice},
    {Source::kSystem, ENXIO, Problem::kNoDevice},
    // A ttyS with no UART behind it opens with EIO.
    {Source::kSystem, EIO, Problem::kNoDevice},
    {Source::kSystem, ENOTTY, Problem::kNotSerial},
    {Source::kSystem, EACCES, Problem::kNoPermission},
    {Source::kSystem, EPERM, Problem::kNoPermission},
    {Source::kSystem, EROFS, Problem::kNoPermission},
    {Source::kSystem, EBUSY, Problem::kBusy},
#endif
    // Hamlib's RIG_ETIMEOUT, RIG_EIO, RIG_EPROTO, RIG_BUSERROR, RIG_BUSBUSY and RIG_EPOWER:
    // nothing sensible comes back from the radio.
    {Source::kHamlib, 5, Problem::kNoAnswer},
    {Source::kHamlib, 6, Problem::kNoAnswer},
    {Source::kHamlib, 8, Problem::kNoAnswer},
    {Source::kHamlib, 13, Problem::kNoAnswer},
    {Source::kHamlib, 14, Problem::kBusy},
    {Source::kHamlib, 20, Problem::kNoAnswer},
};

std::string list(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : ", ") + item;
  return out;
}

std::string conf(const PortFailure& f) {
  return f.confFile.empty() ? std::string("velkor.conf") : f.confFile;
}

// " en /dev/ttyS0" where the device is not the port itself.
std::string onDevice(const PortFailure& f, std::string_view preposition) {
  if (f.device.empty() || f.device == f.port) return {};
  std::string out(" ");
  if (!preposition.empty()) out.append(preposition).append(" ");
  return out + echoText(f.device);
}

std::string names(const std::vector<SerialDevice>& devices) {
  std::vector<std::string> out;
  for (const auto& d : devices) {
    out.push_back(echoText(d.path) + (d.target.empty() ? "" : " (" + echoText(d.target) + ")"));
  }
  return list(out);
}

#ifndef _WIN32
// The velkor.conf line that maps the port to the first of the devices.
std::string confLine(const PortFailure& f) {
  const std::string first = echoText(f.devices.front().path);
  return "Para usar " + first + " como " + echoText(f.port) + ", escriba en " + echoText(conf(f)) +
         " la línea: " + echoText(f.port) + " = " + first;
}
#endif

std::string noDevice(const PortFailure& f) {
  const std::string out = echoText(f.port) + ": no existe" + onDevice(f, "el dispositivo");
#ifdef _WIN32
  if (f.devices.empty()) {
    return out + ". Windows no tiene puertos COM: conecte la radio o el adaptador";
  }
  return out + ". Puertos COM de este ordenador: " + names(f.devices) + "; elija uno en Pasotune";
#else
  if (f.devices.empty()) {
    return out + ". Este ordenador no tiene puertos serie: conecte la radio o el adaptador USB";
  }
  return out + ". Puertos serie de este ordenador: " + names(f.devices) + ". " + confLine(f);
#endif
}

std::string notSerial(const PortFailure& f) {
  const std::string port = echoText(f.port);
  std::string out =
      port + ": " + echoText(f.device.empty() ? f.port : f.device) + " no es un puerto serie";
#ifndef _WIN32
  if (!f.devices.empty()) {
    return out + ". Puertos serie de este ordenador: " + names(f.devices) + ". " + confLine(f);
  }
#endif
  return out + "; elija otro puerto o corrija la línea " + port + " de " + echoText(conf(f));
}

std::string noAnswer(const PortFailure& f) {
  std::string out = echoText(f.port) + ": la radio no contesta" + onDevice(f, "en") +
                    (f.speed > 0 ? " a " + std::to_string(f.speed) + " baudios" : std::string());
  const std::string check = "compruebe que está encendida, el cable y la velocidad (speed en " +
                            echoText(conf(f)) + ", la misma que en la radio)";
#ifdef _WIN32
  return out + "; " + check;
#else
  // The built-in port answers nothing while the radio hangs on a USB adapter.
  if (!f.devices.empty()) {
    out += ". Si la radio está en un adaptador USB (" + names(f.devices) + "): " + confLine(f) +
           ". Si no, " + check;
  } else {
    out += "; " + check;
  }
  // Only the user's own programs show as holders; anyone else's hold looks like silence.
  return out +
         ". Puede tener el puerto un programa de otro usuario o un servicio del sistema "
         "(ModemManager, gpsd, brltty); para verlo: fuser -v " +
         echoText(f.device.empty() ? f.port : f.device);
#endif
}

// The serial devices there are, the failed one left out: advice never proposes a device as its
// own replacement. usbOnly keeps the adapters.
std::vector<SerialDevice> otherDevices(const std::string& device, bool usbOnly) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path failed = fs::weakly_canonical(sys::pathFromUtf8(device), ec);
  std::vector<SerialDevice> out;
  for (auto& d : sys::serialDevices()) {
    if (d.path == device) continue;
    const fs::path path = fs::weakly_canonical(sys::pathFromUtf8(d.path), ec);
    if (!ec && !failed.empty() && path == failed) continue;
    const bool usb = d.path.rfind("/dev/serial/", 0) == 0 || d.path.rfind("/dev/ttyUSB", 0) == 0 ||
                     d.path.rfind("/dev/ttyACM", 0) == 0;
    if (!usbOnly || usb) out.push_back(std::move(d));
  }
  return out;
}

// The computer's own serial port, as opposed to an adapter.
bool builtInPort(const std::string& device) {
#ifdef _WIN32
  (void)device;
  return false;
#else
  std::error_code ec;
  const auto path = std::filesystem::weakly_canonical(sys::pathFromUtf8(device), ec);
  return !ec && sys::pathText(path.filename()).rfind("ttyS", 0) == 0;
#endif
}

}  // namespace

Problem problemOf(Source source, int code) {
  if (source == Source::kHamlib && code < 0) code = -code;
  for (const Cause& cause : kCauses) {
    if (cause.source == source && cause.code == code) return cause.problem;
  }
  return Problem::kOther;
}

std::string hamlibText(int code) {
  static constexpr std::array<std::string_view, 21> kTexts{
      "hecho",
      "parámetro no válido",
      "configuración no válida",
      "sin memoria",
      "Hamlib no lo tiene para esta radio",
      "la radio no contestó a tiempo",
      "error de entrada/salida",
      "error interno de Hamlib",
      "error de protocolo",
      "la radio rechazó la orden",
      "argumento truncado",
      "función no disponible",
      "el VFO no se puede elegir",
      "error en el bus",
      "colisión en el bus",
      "argumento no válido",
      "VFO no válido",
      "valor fuera de rango",
      "función obsoleta",
      "error de seguridad",
      "la radio está apagada",
  };
  const int n = code < 0 ? -code : code;
  if (n < static_cast<int>(kTexts.size())) return std::string(kTexts[static_cast<std::size_t>(n)]);
  return "error " + std::to_string(n) + " de Hamlib";
}

std::string explain(const PortFailure& f) {
  const std::string port = echoText(f.port);
  switch (f.problem) {
    case Problem::kNoDevice:
      return noDevice(f);
    case Problem::kNotSerial:
      return notSerial(f);
    case Problem::kNoPermission: {
      // Nobody is put in root's group to reach a port; dialout is where serial ports belong.
      const std::string group =
          f.group.empty() || f.group == "root" ? std::string("dialout") : echoText(f.group);
      return port + ": sin permiso para abrir " + echoText(f.device) +
             "; su usuario debe estar en el grupo " + group + " (sudo adduser $USER " + group +
             ", y después cierre la sesión y vuelva a entrar)";
    }
    case Problem::kBusy:
      return port + ": ocupado por otro programa" +
             (f.holders.empty() ? std::string() : " (" + echoText(list(f.holders)) + ")") +
             onDevice(f, "en") + "; ciérrelo y pulse Conectar";
    case Problem::kNoAnswer:
      return noAnswer(f);
    case Problem::kOther:
      break;
  }
  return port + ": no se pudo abrir" + onDevice(f, "") + ": " + echoText(f.detail);
}

std::string serialFailure(Problem problem, const std::string& port, const std::string& device,
                          const Settings& settings, const std::string& detail) {
  PortFailure f;
  f.problem = problem;
  f.port = port;
  f.device = device;
  f.speed = settings.speed;
  f.detail = detail;
  f.confFile = settings.file;
  std::error_code ec;
  // A node that is there but leads nowhere (a ttyS without a UART opens with EIO).
  if (problem == Problem::kNoDevice && !device.empty() &&
      std::filesystem::exists(sys::pathFromUtf8(device), ec)) {
    f.problem = Problem::kNotSerial;
  }
  switch (f.problem) {
    case Problem::kNoDevice:
    case Problem::kNotSerial:
      f.devices = otherDevices(device, false);
      break;
    case Problem::kNoPermission:
      f.group = sys::deviceGroup(device);
      break;
    case Problem::kBusy:
      f.holders = sys::deviceHolders(device);
      break;
    case Problem::kNoAnswer:
      // A radio that does not answer is most often one another program is talking to.
      f.holders = sys::deviceHolders(device);
      if (!f.holders.empty()) {
        f.problem = Problem::kBusy;
      } else if (builtInPort(device)) {
        f.devices = otherDevices(device, true);
      }
      break;
    default:
      break;
  }
  return explain(f);
}

}  // namespace velkor
