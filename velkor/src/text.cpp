#include "text.hpp"

namespace velkor {
namespace {

constexpr std::string_view kEllipsis = "\xE2\x80\xA6";     // U+2026
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

std::string shown(std::string_view utf8, std::size_t maxChars, bool defuse) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kReactive[] = {"ERROR", "Velkor READY", "NOT DONE"};
  std::string out;
  std::size_t pos = 0;
  std::size_t count = 0;
  while (pos < utf8.size()) {
    if (count == maxChars) {
      out += kEllipsis;
      break;
    }
    const std::size_t start = pos;
    const char32_t cp = pasotune::DecodeUtf8(utf8, pos);
    bool escape = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (defuse && !escape) {
      // A word may also start in what was already written: "\x0E" then "RROR".
      const std::string_view rest = utf8.substr(start);
      for (const std::string_view word : kReactive) {
        for (std::size_t done = 0; done < word.size() && !escape; ++done) {
          escape = out.ends_with(word.substr(0, done)) && rest.starts_with(word.substr(done));
        }
      }
    }
    if (escape) {
      out += "\\x";
      out += kHex[(cp >> 4) & 0xF];
      out += kHex[cp & 0xF];
    } else if (cp == pasotune::kReplacementChar) {
      out += kReplacement;
    } else {
      out.append(utf8.substr(start, pos - start));
    }
    ++count;
  }
  return out;
}

}  // namespace

std::string printable(std::string_view utf8, std::size_t maxChars) {
  return shown(utf8, maxChars, false);
}

std::string echoText(std::string_view utf8) {
  return shown(utf8, kEchoChars, true);
}

std::string radioBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b == '\\') {
      out += "\\\\";
    } else if (b >= 0x20 && b < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

}  // namespace velkor
