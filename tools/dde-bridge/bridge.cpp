#include "bridge.hpp"

#include <charconv>

namespace pasotune::bridge {

namespace {

constexpr std::string_view kHelp =
    "Usage: pasotune-dde-bridge [options]\n"
    "Links to a tracker's DDE item as Pasotune does and writes each value it\n"
    "takes as a line of UTF-8 on standard output, for\n"
    "  wine pasotune-dde-bridge.exe | pasotune-feed --stdin\n"
    "While the tracker is not running, or once it stops answering, it tries again\n"
    "and says so on standard error.\n"
    "\n"
    "Options:\n"
    "  -?, -h, --help            Displays help on commandline options.\n"
    "  --service <S>             DDE service (Orbitron).\n"
    "  --topic <T>               DDE topic (Tracking).\n"
    "  --item <I>                DDE item (TrackingData).\n"
    "  --retry <ms>              Milliseconds between attempts to link, and between\n"
    "                            checks that the linked tracker still answers (2000).\n";

Parsed Refuse(std::string why) {
  Parsed p;
  p.exitCode = 1;
  p.message = std::move(why) + "\nTry --help.";
  return p;
}

}  // namespace

Parsed ParseArguments(const std::vector<std::string>& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (arg == "-?" || arg == "-h" || arg == "--help") {
      Parsed p;
      p.message = kHelp;
      return p;
    }
    if (arg.substr(0, 2) != "--") return Refuse("Unexpected argument '" + args[i] + "'.");
    arg.remove_prefix(2);
    std::optional<std::string> value;
    if (const auto eq = arg.find('='); eq != std::string_view::npos) {
      value = std::string(arg.substr(eq + 1));
      arg = arg.substr(0, eq);
    }
    std::string* text = arg == "service" ? &o.service
                        : arg == "topic" ? &o.topic
                        : arg == "item"  ? &o.item
                                         : nullptr;
    if (!text && arg != "retry") return Refuse("Unknown option '" + std::string(arg) + "'.");
    if (!value) {
      if (i + 1 == args.size()) return Refuse("Missing value after '--" + std::string(arg) + "'.");
      value = args[++i];
    }
    if (text) {
      // The empty name would be DDE's wildcard.
      if (value->empty()) return Refuse("--" + std::string(arg) + " needs a name.");
      *text = *value;
      continue;
    }
    int ms = 0;
    const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), ms);
    if (value->empty() || ec != std::errc() || end != value->data() + value->size() ||
        ms < kMinRetryMs || ms > kMaxRetryMs) {
      return Refuse("--retry takes whole milliseconds from " + std::to_string(kMinRetryMs) +
                    " to " + std::to_string(kMaxRetryMs) + ".");
    }
    o.retryMs = ms;
  }
  Parsed p;
  p.options = o;
  return p;
}

std::string AsLine(std::string_view value) {
  while (!value.empty() && (value.back() == '\r' || value.back() == '\n')) value.remove_suffix(1);
  std::string line(value);
  for (char& c : line) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  line += '\n';
  return line;
}

}  // namespace pasotune::bridge
