#include "platform/posix/tcp_owner.hpp"

#include <arpa/inet.h>
#include <pwd.h>

#include <charconv>
#include <fstream>
#include <iterator>
#include <vector>

namespace pasotune {

namespace {

// An address as the tables print it: the bytes in network order read as
// the machine's own 32-bit words, in hex.
constexpr std::string_view kMappedPrefix = "0000000000000000FFFF0000";  // ::ffff:0:0/96
constexpr std::string_view kListen = "0A";

struct Endpoint {
  std::optional<std::uint32_t> ip;  // IPv4 in host order; absent for a plain IPv6 address
  bool any = false;                 // 0.0.0.0 or ::
  std::uint16_t port = 0;
};

template <class T>
bool ParseHex(std::string_view text, T& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
  return ec == std::errc{} && end == text.data() + text.size();
}

std::optional<Endpoint> ParseEndpoint(std::string_view text) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const std::string_view address = text.substr(0, colon);
  Endpoint e;
  if (!ParseHex(text.substr(colon + 1), e.port)) return std::nullopt;
  std::uint32_t word = 0;
  if (address.size() == 8) {
    if (!ParseHex(address, word)) return std::nullopt;
  } else if (address.size() == 32) {
    if (address == std::string(32, '0')) {
      e.any = true;
      return e;
    }
    if (address.substr(0, kMappedPrefix.size()) != kMappedPrefix) return e;
    if (!ParseHex(address.substr(kMappedPrefix.size()), word)) return std::nullopt;
  } else {
    return std::nullopt;
  }
  e.ip = ntohl(word);
  e.any = *e.ip == 0;
  return e;
}

bool Is(const Endpoint& e, std::uint32_t ip, std::uint16_t port) {
  return e.ip && *e.ip == ip && e.port == port;
}

// Fills accepted and listening from one table's lines.
void Scan(std::string_view table, const TcpEnds& ends, std::optional<uid_t>& accepted,
          std::optional<uid_t>& listening) {
  while (!table.empty()) {
    const std::size_t end = table.find('\n');
    std::string_view line = table.substr(0, end);
    table = end == std::string_view::npos ? std::string_view{} : table.substr(end + 1);
    std::vector<std::string_view> fields;
    while (!line.empty() && fields.size() < 8) {
      const std::size_t start = line.find_first_not_of(' ');
      if (start == std::string_view::npos) break;
      line.remove_prefix(start);
      const std::size_t stop = line.find(' ');
      fields.push_back(line.substr(0, stop));
      line = stop == std::string_view::npos ? std::string_view{} : line.substr(stop);
    }
    if (fields.size() < 8) continue;  // the heading, or a line cut short
    const auto local = ParseEndpoint(fields[1]);
    const auto remote = ParseEndpoint(fields[2]);
    uid_t uid = 0;
    const auto [p, ec] =
        std::from_chars(fields[7].data(), fields[7].data() + fields[7].size(), uid);
    if (!local || !remote || ec != std::errc{} || p != fields[7].data() + fields[7].size())
      continue;
    if (fields[3] == kListen) {
      if (!listening && local->port == ends.peerPort &&
          (local->any || Is(*local, ends.peerIp, ends.peerPort))) {
        listening = uid;
      }
    } else if (!accepted && Is(*local, ends.peerIp, ends.peerPort) &&
               Is(*remote, ends.localIp, ends.localPort)) {
      accepted = uid;
    }
  }
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

std::optional<uid_t> ServerOwner(std::string_view tcpTable, std::string_view tcp6Table,
                                 const TcpEnds& ends) {
  std::optional<uid_t> accepted, listening;
  Scan(tcpTable, ends, accepted, listening);
  Scan(tcp6Table, ends, accepted, listening);
  return accepted ? accepted : listening;
}

std::optional<uid_t> ServerOwner(const TcpEnds& ends) {
  return ServerOwner(ReadAll("/proc/net/tcp"), ReadAll("/proc/net/tcp6"), ends);
}

std::string UserText(uid_t uid) {
  std::string text = "uid " + std::to_string(uid);
  std::vector<char> buffer(16384);
  passwd pw{};
  passwd* found = nullptr;
  if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found) {
    text += ", ";
    text += found->pw_name;
  }
  return text;
}

}  // namespace pasotune
