// Who owns the server side of a TCP connection on this machine, so that a
// program can tell its own engine from another user's program on the port.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pasotune {

// The two ends of an IPv4 connection as we see them, in host byte order.
struct TcpEnds {
  std::uint32_t localIp = 0;
  std::uint16_t localPort = 0;
  std::uint32_t peerIp = 0;
  std::uint16_t peerPort = 0;
};

// The user owning the socket that serves our connection: the one that
// accepted it, else the one listening on the peer's address and port, as the
// kernel's tables (/proc/net/tcp and tcp6) list them. Nothing when neither
// is there, as for a peer on another machine.
std::optional<uid_t> ServerOwner(std::string_view tcpTable, std::string_view tcp6Table,
                                 const TcpEnds& ends);
// The same from this machine's tables.
std::optional<uid_t> ServerOwner(const TcpEnds& ends);

// "uid 65534, nobody"; the number alone when the user has no name.
std::string UserText(uid_t uid);

}  // namespace pasotune
