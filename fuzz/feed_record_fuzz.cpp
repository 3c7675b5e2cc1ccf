// Whatever name, modes and frequencies the feed is handed, Pasotune's own
// reader gets back exactly the frequencies and modes the feed was given and
// a name with no other field in it, read as the feed sends it over D-Bus and
// as the Windows feed sends it over DDE (Windows-1252); the record is one
// line that the feed's line splitter hands back whole, however it is cut.
//
// Input: the first byte separates the rest into name, downlink mode, uplink
// mode, downlink Hz and uplink Hz; a piece that is missing (or a frequency
// that is not a whole number) is left out: "|X\" UP999 DMAM \"Y|FM|FM|145900000|435000000".
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "feed_options.hpp"
#include "form/form1.hpp"
#include "platform/text.hpp"
#include "tracker_record.hpp"
#include "tracking/leer_tracking.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::optional<std::int64_t> Hz(std::optional<std::string_view> text) {
  if (!text) return std::nullopt;
  std::int64_t hz = 0;
  const auto [end, ec] = std::from_chars(text->data(), text->data() + text->size(), hz);
  if (ec != std::errc() || end != text->data() + text->size()) return std::nullopt;
  return hz;
}

// What the reader must have made of one given frequency.
void CheckFrequency(std::optional<std::int64_t> given, std::int32_t read, std::int32_t before,
                    const std::string& tooLarge) {
  if (given && *given >= 0 && *given <= std::numeric_limits<std::int32_t>::max()) {
    Check(read == *given);
  } else {
    Check(read == before);
    Check(tooLarge == (given && *given >= 0 ? std::to_string(*given) : std::string()));
  }
}

void CheckMode(const std::optional<std::string>& given, const std::string& read) {
  Check(read == (given && pasotune::feed::IsRecordMode(*given) ? *given : "CW"));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  const char separator = static_cast<char>(data[0]);
  std::vector<std::optional<std::string_view>> pieces(5);
  std::size_t from = 0;
  for (std::size_t i = 0; i < pieces.size() && from <= input.size(); ++i) {
    const std::size_t end = i + 1 == pieces.size() ? input.size() : input.find(separator, from);
    pieces[i] =
        input.substr(from, end == std::string_view::npos ? input.size() - from : end - from);
    if (end == std::string_view::npos) break;
    from = end + 1;
  }
  const auto text = [](std::optional<std::string_view> p) -> std::optional<std::string> {
    if (!p) return std::nullopt;
    return std::string(*p);
  };
  pasotune::feed::RecordFields fields;
  fields.name = text(pieces[0]);
  fields.downMode = text(pieces[1]);
  fields.upMode = text(pieces[2]);
  fields.downlinkHz = Hz(pieces[3]);
  fields.uplinkHz = Hz(pieces[4]);

  const std::string record = pasotune::feed::Record(fields, '.', [](const std::string&) {});
  const std::optional<std::string> name =
      fields.name ? pasotune::feed::RecordName(*fields.name) : std::nullopt;
  if (name) {
    Check(name->size() <= pasotune::feed::kMaxNameBytes);
    Check(name->find('"') == std::string::npos && name->front() != ' ' && name->back() != ' ');
    // Well-formed UTF-8 too: anything else would have been replaced again.
    Check(pasotune::feed::RecordName(*name) == name);
  }

  // One line, whole, however the bytes come.
  if (!record.empty()) {
    Check(record.find_first_of(std::string_view("\r\n\0", 3)) == record.size() - 2);
    pasotune::feed::LineSplitter lines([](const std::string&) { Check(false); });
    std::vector<std::string> got;
    for (std::size_t at = 0, step = 1 + size % 7; at < record.size(); at += step, step = 2 * step) {
      for (std::string& l : lines.Add(std::string_view(record).substr(at, step))) {
        got.push_back(std::move(l));
      }
    }
    Check(got == std::vector<std::string>{record.substr(0, record.size() - 2)});
  }

  for (const bool overDde : {false, true}) {
    const std::string sent =
        overDde ? pasotune::Cp1252ToUtf8(pasotune::Utf8ToCp1252(record)) : record;
    pasotune::Module1 m;
    m.Satelite = "BEFORE";
    m.FrecBajada = 1;
    m.FrecSubida = 2;
    m.ModoBajada = m.ModoSubida = "CW";
    const pasotune::Lectura lectura = pasotune::LeerTracking(sent, m);
    CheckFrequency(fields.downlinkHz, m.FrecBajada, 1, lectura.bajadaNoCabe);
    CheckFrequency(fields.uplinkHz, m.FrecSubida, 2, lectura.subidaNoCabe);
    CheckMode(fields.downMode, m.ModoBajada);
    CheckMode(fields.upMode, m.ModoSubida);
    const std::string want = name.value_or("BEFORE");
    Check(m.Satelite == (overDde ? pasotune::Cp1252ToUtf8(pasotune::Utf8ToCp1252(want)) : want));
  }
  return 0;
}
