// What the DDEML client and server share: names as string handles, CF_TEXT
// items in Windows-1252, readable error codes. UTF-8 on our side.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/dde/windows.hpp"

namespace pasotune::dde {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// DDE names are atoms underneath: at most 255 characters, and the empty
// name would be a wildcard.
bool IsValidName(std::string_view utf8);

// A string handle of one DDEML instance, freed with it.
class Name {
 public:
  Name() = default;
  Name(DWORD instance, std::string_view utf8);
  ~Name();
  Name(Name&& other) noexcept;
  Name& operator=(Name&& other) noexcept;
  Name(const Name&) = delete;
  Name& operator=(const Name&) = delete;

  HSZ get() const { return hsz_; }
  explicit operator bool() const { return hsz_ != nullptr; }
  bool Is(HSZ other) const { return hsz_ && other && DdeCmpStringHandles(hsz_, other) == 0; }

 private:
  DWORD instance_ = 0;
  HSZ hsz_ = nullptr;
};

// The text of a CF_TEXT item: its bytes up to the first NUL, as UTF-8.
// Nothing when it is longer than maxBytes.
std::optional<std::string> ReadText(HDDEDATA data, std::size_t maxBytes);
// A CF_TEXT item holding these Windows-1252 bytes and a NUL; null on failure.
HDDEDATA MakeText(DWORD instance, HSZ item, std::string_view cp1252);

// "DMLERR_NO_CONV_ESTABLISHED" and the like.
std::string ErrorName(UINT code);

// DdeConnect, tried again briefly: under Wine the first attempt can miss a
// server that is there. Null when none answers.
HCONV Connect(DWORD instance, HSZ service, HSZ topic);
inline constexpr int kConnectAttempts = 3;
inline constexpr int kConnectRetryMs = 100;

}  // namespace pasotune::dde
