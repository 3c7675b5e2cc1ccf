#include "text.hpp"

#include <cstdint>

namespace velkor {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kEllipsis = "\xE2\x80\xA6";  // U+2026

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes one code point at pos and advances it; malformed input yields U+FFFD for one byte.
char32_t nextCodePoint(std::string_view s, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(s[pos]);
  std::size_t extra = 0;
  char32_t cp = 0;
  if (lead < 0x80) {
    ++pos;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++pos;
    return kReplacement;
  }
  if (pos + extra >= s.size()) {
    ++pos;
    return kReplacement;
  }
  for (std::size_t i = 1; i <= extra; ++i) {
    const auto c = static_cast<unsigned char>(s[pos + i]);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  pos += extra + 1;
  return cp;
}

std::string shown(std::string_view utf8, std::size_t maxChars, bool defuse) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  static constexpr std::string_view kReactive[] = {"ERROR", "Velkor READY"};
  std::string out;
  std::size_t pos = 0;
  std::size_t count = 0;
  while (pos < utf8.size()) {
    if (count == maxChars) {
      out += kEllipsis;
      break;
    }
    const std::size_t start = pos;
    const char32_t cp = nextCodePoint(utf8, pos);
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
    } else if (cp == kReplacement) {
      appendUtf8(out, cp);
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
