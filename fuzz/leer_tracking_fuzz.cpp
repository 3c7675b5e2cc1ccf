// Any record the tracker may publish leaves every field valid (modes without
// blanks or control characters, names without control characters and with
// blanks only where the tracker quoted them), and the texts built from the
// fields are well-formed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/settings.hpp"
#include "form/form1.hpp"
#include "platform/text.hpp"
#include "tracking/frequency_text.hpp"
#include "tracking/leer_tracking.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

// No blank (unless allowed) and no control character, C1 (U+0080 to
// U+009F) included.
bool NoSeparator(std::string_view s, bool blanks = false) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const auto c = static_cast<unsigned char>(s[i]);
    if ((c < 0x20 || c == 0x7F) || (c == 0x20 && !blanks)) return false;
    if (c == 0xC2 && i + 1 < s.size() && (static_cast<unsigned char>(s[i + 1]) & 0xE0) == 0x80)
      return false;
  }
  return true;
}

std::size_t Count(std::string_view text, std::string_view word) {
  std::size_t n = 0;
  for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

bool IsCommandFrequency(std::string_view s, char sep) {
  const std::size_t dot = s.find(sep);
  if (dot == 0 || dot == std::string_view::npos || s.size() - dot != 5) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (i != dot && (s[i] < '0' || s[i] > '9')) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string record(reinterpret_cast<const char*>(data), size);
  pasotune::Module1 m;
  m.Satelite = "AO-07";
  m.FrecBajada = 145950000;
  m.FrecSubida = 432150000;
  m.ModoBajada = "USB";
  m.ModoSubida = "LSB";
  const pasotune::Module1 before = m;

  pasotune::LeerTracking(record, m);

  const bool quoted =
      m.Satelite != before.Satelite && record.find("SN\"" + m.Satelite + "\"") != std::string::npos;
  Check(!m.Satelite.empty() && NoSeparator(m.Satelite, quoted));
  Check(NoSeparator(m.ModoBajada) && NoSeparator(m.ModoSubida));
  Check(m.FrecBajada >= 0 && m.FrecSubida >= 0);
  // Whatever changed came from the record.
  Check(m.Satelite == before.Satelite || record.find(m.Satelite) != std::string::npos);
  Check(m.ModoBajada == before.ModoBajada || record.find("DM" + m.ModoBajada) != std::string::npos);
  Check(m.ModoSubida == before.ModoSubida || record.find("UM" + m.ModoSubida) != std::string::npos);
  for (char sep : {'.', ','}) {
    for (std::int32_t hz : {m.FrecBajada, m.FrecSubida}) {
      const std::string display = pasotune::MhzText(hz, sep);
      const std::string command = pasotune::CommandFrequencyText(display, sep);
      Check(IsCommandFrequency(command, sep));
      // The command is the frequency to the nearest 100 Hz.
      const std::int64_t steps =
          std::atoll(command.substr(0, command.size() - 5).c_str()) * 10'000 +
          std::atoll(command.substr(command.size() - 4).c_str());
      Check(std::llabs(steps * 100 - hz) <= 50);
    }
  }
  // The same bytes as a settings file never break the line splitter.
  std::size_t total = 0;
  for (std::string_view line : pasotune::SplitLines(record)) {
    Check(line.find('\r') == std::string_view::npos && line.find('\n') == std::string_view::npos);
    total += line.size();
  }
  Check(total <= record.size());
  // Every byte on the wire decodes and encodes back to itself.
  Check(pasotune::Utf8ToCp1252(pasotune::Cp1252ToUtf8(record)) == record);
  // The same bytes taken as UTF-8 (the engine's text, a file): only ASCII bytes become ASCII,
  // so the words the program reacts to come out exactly as often as the bytes spell them.
  const std::string wire = pasotune::Utf8ToCp1252(record);
  for (std::string_view marker : {"ERROR", "Velkor READY", "NOT DONE"}) {
    Check(Count(wire, marker) == Count(record, marker));
  }
  return 0;
}
