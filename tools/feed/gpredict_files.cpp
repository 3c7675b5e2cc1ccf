#include "gpredict_files.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <map>
#include <system_error>
#include <utility>

#include "plain_file.hpp"
#include "tracker_record.hpp"

namespace pasotune::feed::gpredict {

namespace {

namespace fs = std::filesystem;

// Gpredict's own files are a few hundred bytes.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;

std::string_view Trimmed(std::string_view s) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// A key file as GLib writes them: [group] lines, KEY=value lines, # comments.
using Group = std::map<std::string, std::string, std::less<>>;
struct KeyFile {
  std::vector<std::pair<std::string, Group>> groups;  // in the file's order
};

KeyFile ParseKeyFile(std::string_view bytes) {
  KeyFile file;
  while (!bytes.empty()) {
    const std::size_t lf = bytes.find('\n');
    const std::string_view text = Trimmed(bytes.substr(0, lf));
    bytes.remove_prefix(lf == std::string_view::npos ? bytes.size() : lf + 1);
    if (text.empty() || text.front() == '#') continue;
    if (text.front() == '[' && text.back() == ']') {
      file.groups.emplace_back(std::string(text.substr(1, text.size() - 2)), Group{});
      continue;
    }
    const std::size_t eq = text.find('=');
    if (eq == std::string_view::npos || file.groups.empty()) continue;
    file.groups.back().second[std::string(Trimmed(text.substr(0, eq)))] =
        std::string(Trimmed(text.substr(eq + 1)));
  }
  return file;
}

std::string Shown(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The key file at path, or nothing with what is wrong told; a missing file
// is told only when it must be there.
std::optional<KeyFile> ReadKeyFile(const fs::path& path, bool mustBeThere,
                                   std::vector<std::string>& complaints) {
  const WholeFile file = ReadWholeFile(path, kMaxFileBytes);
  if (!file.bytes) {
    if (mustBeThere || !file.missing) {
      complaints.push_back("se salta " + Shown(path) + ": " + file.why);
    }
    return std::nullopt;
  }
  return ParseKeyFile(*file.bytes);
}

std::int64_t Hz(const Group& g, std::string_view key) {
  const auto it = g.find(key);
  if (it == g.end()) return 0;
  double hz = 0;
  const std::string& text = it->second;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), hz);
  if (ec != std::errc() || !(hz > 0) || hz > 1e12) return 0;
  return static_cast<std::int64_t>(hz + 0.5);
}

std::string Upper(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

// A range of a transponder, or nothing when it has none on that side.
struct Range {
  std::int64_t low, high;
};
std::optional<Range> RangeOf(std::int64_t low, std::int64_t high) {
  if (low <= 0 && high <= 0) return std::nullopt;
  if (low <= 0) low = high;
  if (high < low) high = low;
  return Range{low, high};
}

}  // namespace

std::vector<Transponder> ReadTransponders(const fs::path& dir,
                                          std::vector<std::string>& complaints) {
  std::vector<std::pair<long, fs::path>> files;
  std::error_code ec;
  for (fs::directory_iterator it(dir / "trsp", ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    if (p.extension() != ".trsp") continue;
    const std::u8string stem8 = p.stem().u8string();
    const std::string stem(stem8.begin(), stem8.end());
    long catnr = 0;
    const auto [last, bad] = std::from_chars(stem.data(), stem.data() + stem.size(), catnr);
    if (bad != std::errc() || last != stem.data() + stem.size()) continue;
    files.emplace_back(catnr, p);
  }
  if (ec) complaints.push_back("no se puede leer " + Shown(dir / "trsp") + ": " + ec.message());
  std::sort(files.begin(), files.end());

  std::vector<Transponder> all;
  for (const auto& [catnr, path] : files) {
    const std::optional<KeyFile> trsp = ReadKeyFile(path, true, complaints);
    if (!trsp) continue;
    std::string satellite;
    const fs::path satPath = dir / "satdata" / (std::to_string(catnr) + ".sat");
    if (const auto sat = ReadKeyFile(satPath, false, complaints)) {
      for (const auto& [name, group] : sat->groups) {
        if (const auto it = group.find("NAME"); it != group.end()) satellite = it->second;
      }
    }
    // Names come from files fetched from the internet: only what a record
    // can carry goes on.
    if (!satellite.empty()) {
      const std::string carried = RecordName(satellite).value_or("");
      if (carried != satellite) {
        complaints.push_back("el NAME de " + Shown(satPath) +
                             " lleva lo que un registro no puede: se publica como «" + carried +
                             "»");
      }
      satellite = carried;
    }
    for (const auto& [name, group] : trsp->groups) {
      Transponder t;
      t.satellite = satellite;
      t.name = name;
      t.upLow = Hz(group, "UP_LOW");
      t.upHigh = Hz(group, "UP_HIGH");
      t.downLow = Hz(group, "DOWN_LOW");
      t.downHigh = Hz(group, "DOWN_HIGH");
      if (const auto it = group.find("INVERT"); it != group.end()) {
        t.invert = Upper(it->second) == "TRUE" || it->second == "1";
      }
      if (const auto it = group.find("MODE"); it != group.end()) t.mode = it->second;
      all.push_back(std::move(t));
    }
  }
  return all;
}

fs::path DefaultConfigDir() {
#ifdef _WIN32
  if (const wchar_t* home = _wgetenv(L"USERPROFILE"); home && *home) {
    return fs::path(home) / "Gpredict";
  }
  return fs::path("Gpredict");
#else
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    return fs::path(xdg) / "Gpredict";
  }
  const char* home = std::getenv("HOME");
  return fs::path(home && *home ? home : ".") / ".config" / "Gpredict";
#endif
}

std::int64_t DopplerMarginHz(std::int64_t hz) {
  return hz / 10'000;
}

const Transponder* Match(const std::vector<Transponder>& all, std::optional<std::int64_t> downHz,
                         std::optional<std::int64_t> upHz) {
  const Transponder* best = nullptr;
  int bestHeld = 0;
  std::int64_t bestOutside = 0, bestOffCentre = 0;
  for (const Transponder& t : all) {
    int held = 0;
    bool refused = false;
    std::int64_t outside = 0, offCentre = 0;
    const auto check = [&](std::optional<std::int64_t> hz, std::optional<Range> range) {
      if (!hz || !range) return;
      const std::int64_t off = std::max<std::int64_t>({0, range->low - *hz, *hz - range->high});
      if (off > DopplerMarginHz(*hz)) {
        refused = true;
        return;
      }
      ++held;
      outside += off;
      offCentre += std::abs(*hz - (range->low + range->high) / 2);
    };
    check(downHz, RangeOf(t.downLow, t.downHigh));
    check(upHz, RangeOf(t.upLow, t.upHigh));
    if (refused || held == 0) continue;
    if (!best || held > bestHeld ||
        (held == bestHeld &&
         (outside < bestOutside || (outside == bestOutside && offCentre < bestOffCentre)))) {
      best = &t;
      bestHeld = held;
      bestOutside = outside;
      bestOffCentre = offCentre;
    }
  }
  return best;
}

Modes RadioModes(const Transponder& t) {
  // The MODE text's words: "LSB/USB", "FM 67Hz", "AX.25 AFSK 1200" and so on.
  std::vector<std::string> words;
  std::string word;
  for (const char c : Upper(t.mode) + " ") {
    if (std::isalnum(static_cast<unsigned char>(c))) {
      word += c;
    } else if (!word.empty()) {
      words.push_back(std::exchange(word, {}));
    }
  }
  const auto has = [&words](std::initializer_list<std::string_view> any) {
    return std::any_of(words.begin(), words.end(), [&any](const std::string& w) {
      return std::find(any.begin(), any.end(), w) != any.end();
    });
  };
  Modes m;
  if (has({"LINEAR", "SSB", "USB", "LSB"})) {
    // A linear transponder: upper sideband heard; an inverting one turns the
    // uplink's sideband over.
    m.down = "USB";
    m.up = t.invert ? "LSB" : "USB";
  } else if (has({"CW"})) {
    m.down = m.up = "CW";
  } else if (has({"FM", "NBFM", "NFM", "AFSK", "APRS", "PACKET", "AX"})) {
    m.down = m.up = "FM";
  } else if (has({"AM"})) {
    m.down = m.up = "AM";
  }
  if (!RangeOf(t.upLow, t.upHigh)) m.up.reset();
  if (!RangeOf(t.downLow, t.downHigh)) m.down.reset();
  return m;
}

}  // namespace pasotune::feed::gpredict
