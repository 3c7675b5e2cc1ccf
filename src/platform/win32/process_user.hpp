// The user a process runs as, to tell the user's own files and programs
// from another user's.
#pragma once

#include <optional>
#include <vector>

#include "platform/win32/win32_api.hpp"

namespace pasotune {

// The bytes of the process's user SID; nothing when it cannot be asked.
inline std::optional<std::vector<BYTE>> ProcessUser(HANDLE process) {
  HANDLE token = nullptr;
  if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) return std::nullopt;
  DWORD size = 0;
  ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  const bool ok = size && ::GetTokenInformation(token, TokenUser, user.data(), size, &size);
  ::CloseHandle(token);
  if (!ok) return std::nullopt;
  const PSID sid = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  return std::vector<BYTE>(static_cast<BYTE*>(sid), static_cast<BYTE*>(sid) + ::GetLengthSid(sid));
}

}  // namespace pasotune
