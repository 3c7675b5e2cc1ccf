#include "feed_options.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <utility>

#include "plain_file.hpp"
#include "tracker_record.hpp"

namespace pasotune::feed {

namespace {

struct OptionInfo {
  std::string_view name;
  std::string_view valueName;  // empty: a switch
  std::string_view help;
  bool valueOptional = false;  // the next argument is its value only if it is not an option
};

constexpr OptionInfo kOptions[] = {
    {"file", "archivo", "Registros de un archivo, uno por línea."},
    {"interval", "ms", "Milisegundos entre registros del archivo (1000)."},
    {"loop", "", "Al final, vuelve a empezar."},
    {"pass", "", "Un pase simulado con Doppler, un registro por segundo."},
    {"name", "nombre", "Satélite del pase (SO-50), o para Gpredict en vez del de sus archivos."},
    {"modes", "bajada,subida", "Modos de bajada y de subida del pase (FM,FM)."},
    {"duration", "s", "Segundos de AOS a LOS del pase (600)."},
    {"start", "s", "Segundos tras AOS en que empieza el pase (0)."},
    {"speed", "N", "Veces más deprisa que el pase real, de 0.01 a 1000 (1)."},
    {"once", "registro", "Publica este registro y sigue hasta que lo terminen."},
    {"stdin", "", "Publica cada línea de la entrada estándar según llega."},
    {"gpredict", "puerto",
     "Hace de radio de Gpredict en 127.0.0.1:puerto (4532); F bajada, I subida.", true},
    {"gpredict-down", "puerto",
     "Hace de radio de recepción de Gpredict (de dos) en 127.0.0.1:puerto."},
    {"gpredict-up", "puerto",
     "Hace de radio de transmisión de Gpredict (de dos) en 127.0.0.1:puerto."},
    {"gpredict-config", "carpeta",
     "Los archivos de Gpredict (por omisión los suyos: ~/.config/Gpredict)."},
    {"down-mode", "modo", "Modo de bajada con Gpredict, en vez del de sus archivos."},
    {"up-mode", "modo", "Modo de subida con Gpredict, en vez del de sus archivos."},
    {"exit-at-end", "", "Termina tras el último registro en vez de seguir."},
    {"quiet", "", "No escribe los registros."},
    {"service", "S", "Servicio DDE (Orbitron)."},
    {"topic", "T", "Tema DDE (Tracking)."},
    {"item", "I", "Elemento DDE (TrackingData)."},
};

std::string HelpText(std::string_view description) {
  std::string text = "Uso: pasotune-feed [opciones]\n";
  text += description;
  text += "\n\nOpciones:\n";
  const auto row = [&text](std::string left, std::string_view help) {
    left.insert(0, "  ");
    left.resize(std::max<std::size_t>(left.size() + 2, 31), ' ');
    text += left;
    text += help;
    text += '\n';
  };
  row("-?, -h, --help", "Muestra esta ayuda.");
  for (const OptionInfo& s : kOptions) {
    std::string left = "--" + std::string(s.name);
    if (!s.valueName.empty()) {
      left += s.valueOptional ? " [" : " <";
      left += s.valueName;
      left += s.valueOptional ? "]" : ">";
    }
    row(left, s.help);
  }
  return text;
}

std::string_view Trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Whole text as a number, blanks around it allowed; the C locale whatever
// the user's.
template <typename T>
std::optional<T> Number(std::string_view text) {
  text = Trimmed(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

Parsed Complaint(std::string why) {
  return {std::nullopt, 1, std::move(why)};
}

// A value the feed will not work with, as opposed to a command line it
// cannot read.
Parsed Refusal(std::string why) {
  return {std::nullopt, 2, std::move(why)};
}

// Only what a record carries as given: the record never says what the user
// did not.
bool IsRecordNameAsIs(std::string_view name) {
  return RecordName(name) == name;
}

constexpr std::string_view kNameRule =
    "texto imprimible de 64 bytes como mucho, sin comillas dobles ni blancos en los extremos";
constexpr std::string_view kModeRule = "letras, cifras y «-», 16 como mucho";

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& args, std::string_view description) {
  std::vector<std::pair<std::string_view, std::string>> given;  // last one wins
  const auto has = [&given](std::string_view name) {
    return std::any_of(given.begin(), given.end(),
                       [name](const auto& g) { return g.first == name; });
  };
  const auto value = [&given](std::string_view name, std::string fallback) {
    for (auto it = given.rbegin(); it != given.rend(); ++it) {
      if (it->first == name) return it->second;
    }
    return fallback;
  };

  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "-?" || arg == "--help")
      return {std::nullopt, 0, HelpText(description)};
    if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
      // A stray word would otherwise go unnoticed, like the rest of an
      // unquoted record.
      if (!arg.empty() && arg[0] == '-')
        return Complaint("Opción desconocida «" + arg.substr(1) + "».");
      return Complaint("Argumento de más: «" + arg + "».");
    }
    const std::size_t eq = arg.find('=');
    const std::string name = arg.substr(2, eq == std::string::npos ? eq : eq - 2);
    const OptionInfo* option = nullptr;
    for (const OptionInfo& s : kOptions) {
      if (s.name == name) option = &s;
    }
    if (!option) return Complaint("Opción desconocida «" + name + "».");
    if (option->valueName.empty()) {
      if (eq != std::string::npos) return Complaint("«--" + name + "» no lleva valor.");
      given.emplace_back(option->name, std::string());
    } else if (eq != std::string::npos) {
      given.emplace_back(option->name, arg.substr(eq + 1));
    } else if (option->valueOptional &&
               (i + 1 == args.size() || args[i + 1].empty() || args[i + 1][0] == '-')) {
      given.emplace_back(option->name, std::string());
    } else if (i + 1 < args.size()) {
      given.emplace_back(option->name, args[++i]);
    } else {
      return Complaint("Falta el valor de «--" + name + "».");
    }
  }

  const bool gpredict = has("gpredict") || has("gpredict-down") || has("gpredict-up");
  const int chosen =
      int(has("file")) + int(has("pass")) + int(has("once")) + int(has("stdin")) + int(gpredict);
  if (chosen != 1)
    return Complaint("elija una de --file, --pass, --once, --stdin y --gpredict (vea --help)");

  Options o;
  o.loop = has("loop");
  o.exitAtEnd = has("exit-at-end");
  o.quiet = has("quiet");
  o.service = value("service", o.service);
  o.topic = value("topic", o.topic);
  o.item = value("item", o.item);
  if (gpredict) {
    o.mode = Mode::kGpredict;
    using gpredict::Role;
    for (const auto& [option, role] :
         {std::pair{"gpredict", Role::kDuplex}, std::pair{"gpredict-down", Role::kDownlink},
          std::pair{"gpredict-up", Role::kUplink}}) {
      if (!has(option)) continue;
      const std::string text = value(option, "");
      const std::optional<int> port =
          text.empty() && role == Role::kDuplex ? std::optional<int>(4532) : Number<int>(text);
      if (!port || *port < 1 || *port > 65535)
        return Refusal("--" + std::string(option) + " pide un puerto TCP de 1 a 65535");
      for (const GpredictPort& other : o.gpredictPorts) {
        if (other.port == *port) return Refusal("cada radio de Gpredict necesita un puerto propio");
      }
      o.gpredictPorts.push_back({role, *port});
    }
    o.gpredictConfig = value("gpredict-config", "");
    if (has("name")) o.name = value("name", "");
    if (has("down-mode")) o.downMode = value("down-mode", "");
    if (has("up-mode")) o.upMode = value("up-mode", "");
    if (o.name && !IsRecordNameAsIs(*o.name))
      return Refusal("--name pide " + std::string(kNameRule) + ", no «" + Shown(*o.name) + "»");
    for (const auto& [option, mode] :
         {std::pair{"--down-mode", &o.downMode}, std::pair{"--up-mode", &o.upMode}}) {
      if (*mode && !IsRecordMode(**mode)) {
        return Refusal(std::string(option) + " pide un modo de " + std::string(kModeRule) +
                       ", no «" + Shown(**mode) + "»");
      }
    }
  } else if (has("stdin")) {
    o.mode = Mode::kStdin;
  } else if (has("once")) {
    o.mode = Mode::kOnce;
    o.once = value("once", "");
  } else if (has("file")) {
    o.mode = Mode::kFile;
    o.file = value("file", "");
    const std::optional<int> interval = Number<int>(value("interval", "1000"));
    if (!interval || *interval < 1)
      return Refusal("--interval pide un número entero de ms mayor que 0");
    o.intervalMs = *interval;
  } else {
    o.mode = Mode::kPass;
    o.pass.name = value("name", "SO-50");
    if (!IsRecordNameAsIs(o.pass.name))
      return Refusal("--name pide " + std::string(kNameRule) + ", no «" + Shown(o.pass.name) + "»");
    const std::string modes = value("modes", "FM,FM");
    const std::size_t comma = modes.find(',');
    if (comma == std::string::npos || !IsRecordMode(modes.substr(0, comma)) ||
        !IsRecordMode(modes.substr(comma + 1))) {
      return Refusal("--modes pide dos modos, primero el de bajada (USB,LSB), cada uno de " +
                     std::string(kModeRule));
    }
    o.pass.downMode = modes.substr(0, comma);
    o.pass.upMode = modes.substr(comma + 1);
    const std::optional<double> duration = Number<double>(value("duration", "600"));
    if (!duration || !std::isfinite(*duration) || *duration < 1)
      return Refusal("--duration pide segundos, 1 como mínimo");
    o.pass.durationS = *duration;
    const std::optional<double> start = Number<double>(value("start", "0"));
    if (!start || !std::isfinite(*start) || *start < 0 || *start > *duration)
      return Refusal("--start ha de caer dentro del pase");
    o.startS = *start;
    const std::optional<double> speed = Number<double>(value("speed", "1"));
    if (!speed || !(*speed >= kMinSpeed && *speed <= kMaxSpeed))
      return Refusal("--speed pide un factor de 0.01 a 1000");
    o.speed = *speed;
  }
  return {o, 0, {}};
}

Records MakeRecords(const Options& o) {
  Records r;
  const auto once = [](std::string record) -> Source {
    return [record = std::move(record), done = false]() mutable -> std::optional<std::string> {
      if (done) return std::nullopt;
      done = true;
      return record;
    };
  };
  const char separator = SystemDecimalSeparator();
  switch (o.mode) {
    case Mode::kStdin:
    case Mode::kGpredict:
      // The item starts empty; the lines follow as they are read.
      r.next = once({});
      break;
    case Mode::kOnce:
      r.next = once(WithLineEnd(o.once));
      break;
    case Mode::kFile: {
      PlainFile file(std::filesystem::path(std::u8string(o.file.begin(), o.file.end())));
      if (!file.IsOpen()) {
        r.error = "no se puede leer " + o.file + ": " + file.Why();
        return r;
      }
      LineSplitter lines;
      std::vector<std::string> records;
      const auto keep = [&records](std::string line) {
        if (!line.empty()) records.push_back(std::move(line));
      };
      std::vector<char> buffer(64 * 1024);
      for (long n; (n = file.Read(buffer.data(), buffer.size())) != 0;) {
        if (n < 0) {
          r.error = "no se puede leer " + o.file + ": " + file.Why();
          return r;
        }
        for (std::string& line : lines.Add(std::string_view(buffer.data(), std::size_t(n)))) {
          keep(std::move(line));
        }
      }
      if (std::optional<std::string> last = lines.Finish()) keep(std::move(*last));
      if (records.empty()) {
        r.error = o.file + " no tiene ningún registro";
        return r;
      }
      r.periodMs = o.intervalMs;
      r.next = [records = std::move(records), i = std::size_t{0},
                again = o.loop]() mutable -> std::optional<std::string> {
        if (i == records.size()) {
          if (!again) return std::nullopt;
          i = 0;
        }
        return WithLineEnd(records[i++]);
      };
      break;
    }
    case Mode::kPass: {
      // Within 1 ms and 100 s whatever the speed, so the int cannot overflow.
      const double ms = 1000 / o.speed;
      r.periodMs = ms > 1 ? static_cast<int>(std::min(ms, 1000 / kMinSpeed)) : 1;
    }
      r.next = [p = o.pass, t = o.startS, again = o.loop,
                separator]() mutable -> std::optional<std::string> {
        if (t > p.durationS) {
          if (!again) return std::nullopt;
          t = 0;
        }
        std::string record = RecordAt(p, t, separator);
        t += 1;
        return record;
      };
      break;
  }
  return r;
}

LineSplitter::LineSplitter(std::function<void(const std::string&)> tell) : tell_(std::move(tell)) {}

std::vector<std::string> LineSplitter::Add(std::string_view bytes) {
  std::vector<std::string> lines;
  // Only the new bytes are searched, and a line holds at most the cap.
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view part = bytes.substr(0, lf);
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    if (!cut_) {
      const std::size_t room = kMaxLineBytes - pending_.size();
      pending_.append(part.substr(0, room));
      if (part.size() > room) {
        cut_ = true;
        tell_("una línea de más de " + std::to_string(kMaxLineBytes / 1024) +
              " KiB: se descarta el resto: " + Shown(pending_));
      }
    }
    if (lf == std::string_view::npos) break;
    if (std::optional<std::string> line = Take()) lines.push_back(std::move(*line));
  }
  return lines;
}

std::optional<std::string> LineSplitter::Finish() {
  if (pending_.empty()) return std::nullopt;
  return Take();
}

std::optional<std::string> LineSplitter::Take() {
  std::string line = std::exchange(pending_, {});
  cut_ = false;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.find('\0') != std::string::npos) {
    tell_("se deja fuera una línea con un NUL, que cortaría su registro: " + Shown(line));
    return std::nullopt;
  }
  return line;
}

void Tell(const std::string& what) {
  std::fprintf(stderr, "pasotune-feed: %s\n", what.c_str());
  std::fflush(stderr);
}

int Fail(const std::string& why, int code) {
  Tell(why);
  return code;
}

std::optional<int> EndedEarly(const Parsed& parsed) {
  if (parsed.options) return std::nullopt;
  if (parsed.exitCode == 0) {
    std::fputs(parsed.message.c_str(), stdout);
    return 0;
  }
  return Fail(parsed.message, parsed.exitCode);
}

}  // namespace pasotune::feed
