#include "platform/win32/dde/dde_text.hpp"

#include <cstring>
#include <utility>

#include "platform/text.hpp"

namespace pasotune::dde {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), out.data(), n,
                      nullptr, nullptr);
  return out;
}

bool IsValidName(std::string_view utf8) {
  const std::wstring wide = Widen(utf8);
  return !wide.empty() && wide.size() <= 255 && wide.find(L'\0') == std::wstring::npos;
}

Name::Name(DWORD instance, std::string_view utf8)
    : instance_(instance),
      hsz_(DdeCreateStringHandleW(instance, Widen(utf8).c_str(), CP_WINUNICODE)) {}

Name::~Name() {
  if (hsz_) DdeFreeStringHandle(instance_, hsz_);
}

Name::Name(Name&& other) noexcept
    : instance_(other.instance_), hsz_(std::exchange(other.hsz_, nullptr)) {}

Name& Name::operator=(Name&& other) noexcept {
  if (this != &other) {
    if (hsz_) DdeFreeStringHandle(instance_, hsz_);
    instance_ = other.instance_;
    hsz_ = std::exchange(other.hsz_, nullptr);
  }
  return *this;
}

std::optional<std::string> ReadText(HDDEDATA data, std::size_t maxBytes) {
  DWORD size = 0;
  const BYTE* bytes = DdeAccessData(data, &size);
  if (!bytes) return std::nullopt;
  const void* nul = std::memchr(bytes, 0, size);
  const std::size_t length =
      nul ? static_cast<std::size_t>(static_cast<const BYTE*>(nul) - bytes) : size;
  std::optional<std::string> text;
  if (length <= maxBytes) {
    text = Cp1252ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), length));
  }
  DdeUnaccessData(data);
  return text;
}

HDDEDATA MakeText(DWORD instance, HSZ item, std::string_view cp1252) {
  std::string bytes(cp1252);
  bytes += '\0';
  return DdeCreateDataHandle(instance, reinterpret_cast<BYTE*>(bytes.data()),
                             static_cast<DWORD>(bytes.size()), 0, item, CF_TEXT, 0);
}

std::string ErrorName(UINT code) {
  switch (code) {
    case DMLERR_NO_ERROR:
      return "no error";
    case DMLERR_ADVACKTIMEOUT:
      return "DMLERR_ADVACKTIMEOUT";
    case DMLERR_BUSY:
      return "DMLERR_BUSY";
    case DMLERR_DATAACKTIMEOUT:
      return "DMLERR_DATAACKTIMEOUT";
    case DMLERR_DLL_NOT_INITIALIZED:
      return "DMLERR_DLL_NOT_INITIALIZED";
    case DMLERR_DLL_USAGE:
      return "DMLERR_DLL_USAGE";
    case DMLERR_EXECACKTIMEOUT:
      return "DMLERR_EXECACKTIMEOUT";
    case DMLERR_INVALIDPARAMETER:
      return "DMLERR_INVALIDPARAMETER";
    case DMLERR_LOW_MEMORY:
      return "DMLERR_LOW_MEMORY";
    case DMLERR_MEMORY_ERROR:
      return "DMLERR_MEMORY_ERROR";
    case DMLERR_NOTPROCESSED:
      return "DMLERR_NOTPROCESSED";
    case DMLERR_NO_CONV_ESTABLISHED:
      return "DMLERR_NO_CONV_ESTABLISHED";
    case DMLERR_POKEACKTIMEOUT:
      return "DMLERR_POKEACKTIMEOUT";
    case DMLERR_POSTMSG_FAILED:
      return "DMLERR_POSTMSG_FAILED";
    case DMLERR_REENTRANCY:
      return "DMLERR_REENTRANCY";
    case DMLERR_SERVER_DIED:
      return "DMLERR_SERVER_DIED";
    case DMLERR_SYS_ERROR:
      return "DMLERR_SYS_ERROR";
    case DMLERR_UNADVACKTIMEOUT:
      return "DMLERR_UNADVACKTIMEOUT";
    case DMLERR_UNFOUND_QUEUE_ID:
      return "DMLERR_UNFOUND_QUEUE_ID";
    default:
      return "DDEML error " + std::to_string(code);
  }
}

HCONV Connect(DWORD instance, HSZ service, HSZ topic) {
  for (int attempt = 1;; ++attempt) {
    if (HCONV conv = DdeConnect(instance, service, topic, nullptr)) return conv;
    if (attempt == kConnectAttempts) return nullptr;
    Sleep(kConnectRetryMs);
  }
}

}  // namespace pasotune::dde
