// How a DDE service, topic and item appear on D-Bus. Shared by the tracker
// link and the feed publisher so the two can never disagree.
#pragma once

#include <string>
#include <string_view>

namespace pasotune::dde {

inline constexpr std::string_view kInterface = "dde.Topic";
inline constexpr std::string_view kPropertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr std::string_view kPropertiesChanged = "PropertiesChanged";

// Built up by hand: GCC 12 warns falsely (-Wrestrict) on the inlined
// string concatenations.
inline std::string Prefixed(std::string_view prefix, std::string_view rest) {
  std::string out;
  out.reserve(prefix.size() + rest.size());
  out.append(prefix.data(), prefix.size());
  out.append(rest.data(), rest.size());
  return out;
}
inline std::string BusName(std::string_view service) {
  return Prefixed("dde.", service);
}
inline std::string ObjectPath(std::string_view topic) {
  return Prefixed("/", topic);
}

namespace detail {
inline bool Alpha(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
inline bool Digit(char c) {
  return c >= '0' && c <= '9';
}
}  // namespace detail

// The D-Bus naming rules; libdbus aborts or Qt warns on names breaking them,
// so they are checked before anything goes on the bus.
inline bool IsValidBusName(std::string_view name) {
  if (name.empty() || name.size() > 255) return false;
  int elements = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    const std::string_view e =
        name.substr(start, dot == std::string_view::npos ? dot : dot - start);
    if (e.empty() || detail::Digit(e[0])) return false;
    for (char c : e) {
      if (!detail::Alpha(c) && !detail::Digit(c) && c != '-') return false;
    }
    ++elements;
    if (dot == std::string_view::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

inline bool IsValidObjectPath(std::string_view path) {
  if (path.empty() || path[0] != '/') return false;
  if (path.size() == 1) return true;
  if (path.back() == '/') return false;
  std::size_t run = 0;
  for (std::size_t i = 1; i < path.size(); ++i) {
    const char c = path[i];
    if (c == '/') {
      if (run == 0) return false;
      run = 0;
    } else if (detail::Alpha(c) || detail::Digit(c)) {
      ++run;
    } else {
      return false;
    }
  }
  return true;
}

inline bool IsValidMemberName(std::string_view name) {
  if (name.empty() || name.size() > 255 || detail::Digit(name[0])) return false;
  for (char c : name) {
    if (!detail::Alpha(c) && !detail::Digit(c)) return false;
  }
  return true;
}

}  // namespace pasotune::dde
