// StdFiles on Windows: paths are UTF-8 inside and UTF-16 towards the system,
// so a folder named "año" is the folder named "año".
#include <algorithm>
#include <optional>
#include <vector>

#include "platform/std_files.hpp"

// Last, so that none of its macros can rename a name of ours above.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#undef MessageBox

#include "platform/win32/process_user.hpp"

namespace pasotune {

namespace {

// Enough tries to step over any number of leftovers a crash could plausibly
// leave; the names start at a random number.
constexpr int kNameTries = 100;
// Old bytes kept to put back when an in-place write fails. The program's
// own files are far smaller.
constexpr std::size_t kMaxRestoreBytes = 1024 * 1024;
constexpr DWORD kChunk = 64 * 1024;

std::string Utf8(const wchar_t* text, int length) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(std::max(size, 0)), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), size, nullptr, nullptr);
  return out;
}

PortError Failure(const std::string& path, const char* why) {
  return PortError(path + ": " + why);
}

PortError Failure(const std::string& path, DWORD error) {
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string why = length ? Utf8(text, static_cast<int>(length)) : "";
  if (text) ::LocalFree(text);
  while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' ')) {
    why.pop_back();
  }
  if (why.empty()) why = "error " + std::to_string(error);
  return Failure(path, why.c_str());
}

// The path as the system takes it. Both slashes separate folders there;
// the backslash is the one every call accepts.
std::wstring Wide(const std::string& path) {
  const int length = static_cast<int>(path.size());
  const int size =
      ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, nullptr, 0);
  if (size <= 0 && !path.empty()) throw Failure(path, "el nombre no es UTF-8 válido");
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.data(), length, wide.data(), size);
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

class Handle {
 public:
  explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
  ~Handle() { Close(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  explicit operator bool() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return h_; }
  void Reset(HANDLE h) {
    Close();
    h_ = h;
  }
  // Closing can be where a failed write shows.
  bool Close() {
    const bool ok = h_ == INVALID_HANDLE_VALUE || ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok;
  }

 private:
  HANDLE h_;
};

// 0, or the error that stopped the write.
DWORD WriteAt(HANDLE h, std::string_view bytes, std::uint64_t offset) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN)) return ::GetLastError();
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kChunk));
    if (!::WriteFile(h, bytes.data(), chunk, &written, nullptr)) return ::GetLastError();
    bytes.remove_prefix(written);
  }
  return 0;
}

// 0, or the error that stopped cutting the file at its current position.
DWORD CutAt(HANDLE h, std::uint64_t size) {
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!::SetFilePointerEx(h, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(h)) {
    return ::GetLastError();
  }
  return 0;
}

// Up to maxBytes from the start; nullopt when the file holds more or a read fails.
std::optional<std::string> ReadUpTo(HANDLE h, std::size_t maxBytes) {
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(h, start, nullptr, FILE_BEGIN)) return std::nullopt;
  std::string bytes;
  char buffer[16 * 1024];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buffer, sizeof buffer, &n, nullptr)) return std::nullopt;
    if (n == 0) return bytes;
    if (bytes.size() + n > maxBytes) return std::nullopt;
    bytes.append(buffer, n);
  }
}

HANDLE OpenExisting(const std::wstring& path, DWORD access, DWORD share) {
  return ::CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

// 0, or the error to stop at this step with.
DWORD Step(const StdFiles::StepHook& hook, const char* step) {
  return hook && hook(step) ? ERROR_WRITE_FAULT : 0;
}

// Writes bytes over the file's old ones, padded to the old length, flushes,
// then cuts the file to their length: a crash at any point leaves a file that
// reads as the old settings or the new ones, never the new lines followed by
// the old tail.
DWORD Overwrite(HANDLE h, std::string_view bytes, const StdFiles::StepHook& hook) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size)) return ::GetLastError();
  DWORD error = Step(hook, "write");
  if (error == 0) error = WriteAt(h, PaddedTo(bytes, static_cast<std::uint64_t>(size.QuadPart)), 0);
  if (error == 0) error = Step(hook, "sync");
  if (error == 0 && !::FlushFileBuffers(h)) error = ::GetLastError();
  if (error == 0) error = Step(hook, "cut");
  if (error == 0) error = CutAt(h, bytes.size());
  if (error == 0) error = Step(hook, "sync cut");
  if (error == 0 && !::FlushFileBuffers(h)) error = ::GetLastError();
  return error;
}

// What a plain write does, without its moment of an empty file or of a mixed
// one. A failure puts the old bytes back the same way when they could be
// read.
void WriteInPlace(const std::string& path, const std::wstring& target, std::string_view bytes,
                  const StdFiles::StepHook& hook) {
  const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE;
  bool readable = true;
  Handle h(OpenExisting(target, GENERIC_READ | GENERIC_WRITE, share));
  if (!h && ::GetLastError() == ERROR_ACCESS_DENIED) {
    readable = false;
    h.Reset(OpenExisting(target, GENERIC_WRITE, share));
  }
  if (!h) throw Failure(path, ::GetLastError());
  const std::optional<std::string> old =
      readable ? ReadUpTo(h.get(), kMaxRestoreBytes) : std::optional<std::string>();
  const DWORD error = Overwrite(h.get(), bytes, hook);
  if (error == 0) return;
  if (old) Overwrite(h.get(), *old, hook);
  throw Failure(path, error);
}

bool IsDisk(HANDLE h) {
  return ::GetFileType(h) == FILE_TYPE_DISK;
}

}  // namespace

bool StdFiles::IsPlainFile(const std::string& path) {
  DWORD attributes = INVALID_FILE_ATTRIBUTES;
  try {
    attributes = ::GetFileAttributesW(Wide(path).c_str());
  } catch (const PortError&) {
    return false;
  }
  // A file marked hidden or system is not the user's to count on.
  const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                         FILE_ATTRIBUTE_DEVICE;
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & notPlain) == 0;
}

std::string StdFiles::ReadBytes(const std::string& path, std::size_t maxBytes) {
  const std::wstring wide = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    throw Failure(path, "es una carpeta");
  }
  Handle h(
      OpenExisting(wide, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE));
  if (!h) throw Failure(path, ::GetLastError());
  // A pipe or a device (NUL, CON, COM1) could block or never end.
  if (!IsDisk(h.get())) throw Failure(path, "no es un archivo normal");
  std::string bytes;
  char buffer[16 * 1024];
  while (bytes.size() < maxBytes) {
    DWORD n = 0;
    const DWORD want = static_cast<DWORD>(std::min(sizeof buffer, maxBytes - bytes.size()));
    if (!::ReadFile(h.get(), buffer, want, &n, nullptr)) throw Failure(path, ::GetLastError());
    if (n == 0) break;
    bytes.append(buffer, n);
  }
  return bytes;
}

void StdFiles::WriteBytes(const std::string& path, std::string_view bytes) {
  const std::wstring target = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(target.c_str());
  const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
  if (!exists && ::GetLastError() != ERROR_FILE_NOT_FOUND) throw Failure(path, ::GetLastError());
  if (exists) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) throw Failure(path, "es una carpeta");
    // A plain write refuses these too: read-only is the user's "do not
    // change", and hidden or system files are not replaced by creating anew.
    if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) {
      throw Failure(path, ERROR_ACCESS_DENIED);
    }
    // Opened for writing as a plain write would, so a file the user may not
    // write, or another program holds shut, is refused before anything else.
    Handle h(OpenExisting(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE));
    if (!h) throw Failure(path, ::GetLastError());
    if (!IsDisk(h.get())) throw Failure(path, "no es un archivo normal");
    h.Close();
    // Another program holding the file open without sharing its deletion,
    // or no right to delete it, keeps it from being replaced but not from
    // being written, as a plain write would.
    if (!Handle(
            OpenExisting(target, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))) {
      return WriteInPlace(path, target, bytes, stepHook_);
    }
  }

  Handle temp;
  std::wstring tempName;
  for (int i = 0; i < kNameTries && !temp; ++i) {
    tempName = Wide(TemporaryName(path, nextName_++));
    // CREATE_NEW makes a new file or fails: a link or leftover planted at
    // the name is never opened, only stepped over.
    temp.Reset(::CreateFileW(tempName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    if (temp) break;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
    // A folder that refuses new files can still hold a writable file.
    if (exists && error == ERROR_ACCESS_DENIED) return WriteInPlace(path, target, bytes, stepHook_);
    throw Failure(path, error);
  }
  if (!temp) throw Failure(path, ERROR_FILE_EXISTS);

  DWORD error = WriteAt(temp.get(), bytes, 0);
  // The file must not take the target's place before its data is on the disk.
  if (error == 0 && !::FlushFileBuffers(temp.get())) error = ::GetLastError();
  if (!temp.Close() && error == 0) error = ::GetLastError();
  if (error != 0) {
    ::DeleteFileW(tempName.c_str());
    throw Failure(path, error);
  }
  if (!exists) {
    if (::MoveFileExW(tempName.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return;
    }
    error = ::GetLastError();
    ::DeleteFileW(tempName.c_str());
    throw Failure(path, error);
  }
  // Keeps the old file's attributes, security and creation time.
  if (::ReplaceFileW(target.c_str(), tempName.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                     nullptr, nullptr)) {
    return;
  }
  if (::GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES &&
      ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    // The old file was moved aside before the failure (Wine's ReplaceFileW
    // deletes it): the new one must take its name.
    if (::MoveFileExW(tempName.c_str(), target.c_str(),
                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return;
    }
    throw Failure(path, ::GetLastError());
  }
  ::DeleteFileW(tempName.c_str());
  // The old file is untouched; what kept it from being replaced need not
  // keep it from being written.
  WriteInPlace(path, target, bytes, stepHook_);
}

namespace {

bool OwnedBy(HANDLE h, const std::vector<BYTE>& user) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                        nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  const bool same = owner && !user.empty() && ::EqualSid(owner, const_cast<BYTE*>(user.data()));
  ::LocalFree(descriptor);
  return same;
}

}  // namespace

void StdFiles::RemoveLeftovers(const std::string& path) {
  std::wstring target;
  try {
    target = Wide(path);
  } catch (const PortError&) {
    return;
  }
  const std::size_t slash = target.find_last_of(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  const std::wstring name = slash == std::wstring::npos ? target : target.substr(slash + 1);
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileExW((target + L".*.tmp").c_str(), FindExInfoBasic, &found,
                                     FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return;
  const std::vector<BYTE> user = ProcessUser(::GetCurrentProcess()).value_or(std::vector<BYTE>{});
  const std::string narrowName = Utf8(name.c_str(), static_cast<int>(name.size()));
  do {
    const std::string entry = Utf8(found.cFileName, static_cast<int>(::wcslen(found.cFileName)));
    if (!IsTemporaryName(entry, narrowName)) continue;
    // The name itself, never what a link there leads to.
    Handle h(::CreateFileW((folder + found.cFileName).c_str(), DELETE | READ_CONTROL,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!h || !IsDisk(h.get()) || !::GetFileInformationByHandle(h.get(), &info)) continue;
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DEVICE;
    if ((info.dwFileAttributes & notPlain) != 0 || !OwnedBy(h.get(), user)) continue;
    // Removes the very file looked at, whatever took its name meanwhile.
    FILE_DISPOSITION_INFO dispose{TRUE};
    ::SetFileInformationByHandle(h.get(), FileDispositionInfo, &dispose, sizeof dispose);
  } while (::FindNextFileW(search, &found));
  ::FindClose(search);
}

}  // namespace pasotune
