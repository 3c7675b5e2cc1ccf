// StdFiles on POSIX systems.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/std_files.hpp"

namespace pasotune {
namespace fs = std::filesystem;

namespace {

// Enough tries to step over any number of leftovers a crash could plausibly
// leave; the names start at a random number.
constexpr int kNameTries = 100;
// Old bytes kept to put back when an in-place write fails. The program's
// own files are far smaller.
constexpr std::size_t kMaxRestoreBytes = 1024 * 1024;
// Opens never wait on a FIFO or a device, and never make a terminal ours.
constexpr int kOpenFlags = O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

PortError Failure(const std::string& path, int error) {
  return PortError(path + ": " + std::strerror(error));
}

PortError Failure(const std::string& path, const char* why) {
  return PortError(path + ": " + why);
}

void CheckPlain(const std::string& path, const struct stat& st) {
  if (S_ISDIR(st.st_mode)) throw Failure(path, "es una carpeta");
  if (!S_ISREG(st.st_mode)) throw Failure(path, "no es un archivo normal");
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  explicit operator bool() const { return fd_ >= 0; }
  int get() const { return fd_; }
  void Reset(int fd) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }
  // 0, or the error of the close, which can be the first word of a failed write.
  int Close() {
    const int result = ::close(fd_);
    fd_ = -1;
    return result == 0 || errno == EINTR ? 0 : errno;
  }

 private:
  int fd_;
};

// 0, or the error that stopped the write.
int WriteAt(int fd, std::string_view bytes, off_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    bytes.remove_prefix(static_cast<std::size_t>(n));
    offset += n;
  }
  return 0;
}

// Up to maxBytes from the start; nullopt when the file holds more or a read fails.
std::optional<std::string> ReadUpTo(int fd, std::size_t maxBytes) {
  std::string bytes;
  char buffer[16 * 1024];
  for (;;) {
    const ssize_t n = ::pread(fd, buffer, sizeof buffer, static_cast<off_t>(bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return std::nullopt;
    if (n == 0) return bytes;
    if (bytes.size() + static_cast<std::size_t>(n) > maxBytes) return std::nullopt;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
}

// The file a plain write to path would reach: symbolic links followed to
// their end, which need not exist yet.
struct Target {
  std::string path;
  std::optional<struct stat> st;  // absent when there is no file yet
};

Target FollowLinks(const std::string& path) {
  std::string p = path;
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
      if (errno == ENOENT) return {p, std::nullopt};
      throw Failure(path, errno);
    }
    if (!S_ISLNK(st.st_mode)) return {p, st};
    std::string link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096), '\0');
    for (;;) {
      const ssize_t n = ::readlink(p.c_str(), link.data(), link.size());
      if (n < 0) throw Failure(path, errno);
      if (static_cast<std::size_t>(n) < link.size()) {
        link.resize(static_cast<std::size_t>(n));
        break;
      }
      link.resize(link.size() * 2);
    }
    const fs::path next(link);
    p = next.is_absolute() ? link : (fs::path(p).parent_path() / next).string();
  }
  throw Failure(path, ELOOP);
}

// Flushes a rename in folder to the disk; a folder that cannot be synced
// still holds the new file.
void SyncFolder(const std::string& folder) {
  Fd fd(::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags));
  if (fd) ::fsync(fd.get());
}

// Removes the temporary file unless it took the target's place.
class TemporaryFile {
 public:
  TemporaryFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
  ~TemporaryFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  Fd& File() { return fd_; }
  void Kept() { path_.clear(); }

 private:
  std::string path_;
  Fd fd_;
};

bool FolderRefuses(int error) {
  return error == EACCES || error == EPERM || error == EROFS;
}

enum class Replaced { kYes, kWriteInPlace };

// Writes bytes to a new file beside target and renames it over the target.
// old is the target's status when it exists.
Replaced Replace(const std::string& path, const std::string& target,
                 const std::optional<struct stat>& old, std::string_view bytes,
                 std::uint64_t& nextName) {
  std::optional<TemporaryFile> temp;
  for (int i = 0; i < kNameTries && !temp; ++i) {
    std::string name = StdFiles::TemporaryName(target, nextName++);
    // O_EXCL makes a new file or fails: a link, FIFO or leftover planted at
    // the name is never opened, only stepped over.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | kOpenFlags,
                          old ? 0600 : 0666);
    if (fd >= 0) {
      temp.emplace(std::move(name), fd);
    } else if (errno != EEXIST && errno != EINTR) {
      if (old && FolderRefuses(errno)) return Replaced::kWriteInPlace;
      throw Failure(path, errno);
    }
  }
  if (!temp) throw Failure(path, EEXIST);
  const int fd = temp->File().get();
  if (old) {
    struct stat made {};
    if (::fstat(fd, &made) != 0) throw Failure(path, errno);
    // Only a plain write keeps an owner or group we may not give away.
    if ((made.st_uid != old->st_uid || made.st_gid != old->st_gid) &&
        ::fchown(fd, old->st_uid, old->st_gid) != 0) {
      return Replaced::kWriteInPlace;
    }
    if (::fchmod(fd, old->st_mode & 07777) != 0) throw Failure(path, errno);
  }
  int error = WriteAt(fd, bytes, 0);
  // The rename must not reach the disk before the data does.
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (error == 0) error = temp->File().Close();
  if (error != 0) throw Failure(path, error);
  if (::rename(temp->Path().c_str(), target.c_str()) != 0) {
    // A file mounted over cannot be renamed onto, only written.
    if (old && (errno == EBUSY || errno == EXDEV)) return Replaced::kWriteInPlace;
    throw Failure(path, errno);
  }
  temp->Kept();
  SyncFolder(fs::path(target).parent_path().string());
  return Replaced::kYes;
}

// 0, or the error to stop at this step with.
int Step(const StdFiles::StepHook& hook, const char* step) {
  return hook && hook(step) ? EIO : 0;
}

// Writes bytes over the file's old ones, padded to the old length, syncs,
// then cuts the file to their length: a crash at any point leaves a file that
// reads as the old settings or the new ones, never the new lines followed by
// the old tail.
int Overwrite(int fd, std::string_view bytes, const StdFiles::StepHook& hook) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return errno;
  int error = Step(hook, "write");
  if (error == 0) error = WriteAt(fd, PaddedTo(bytes, static_cast<std::uint64_t>(st.st_size)), 0);
  if (error == 0) error = Step(hook, "sync");
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  if (error == 0) error = Step(hook, "cut");
  if (error == 0 && ::ftruncate(fd, static_cast<off_t>(bytes.size())) != 0) error = errno;
  if (error == 0) error = Step(hook, "sync cut");
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  return error;
}

// What a plain write does, without its moment of an empty file or of a mixed
// one. A failure puts the old bytes back the same way when they could be
// read.
void WriteInPlace(const std::string& path, int fd, bool readable, std::string_view bytes,
                  const StdFiles::StepHook& hook) {
  const std::optional<std::string> old =
      readable ? ReadUpTo(fd, kMaxRestoreBytes) : std::optional<std::string>();
  const int error = Overwrite(fd, bytes, hook);
  if (error == 0) return;
  if (old) Overwrite(fd, *old, hook);
  throw Failure(path, error);
}

}  // namespace

bool StdFiles::IsPlainFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string StdFiles::ReadBytes(const std::string& path, std::size_t maxBytes) {
  // Looked at before it is opened: opening a device can already do something.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) throw Failure(path, errno);
  CheckPlain(path, st);
  Fd fd(::open(path.c_str(), O_RDONLY | kOpenFlags));
  if (!fd) throw Failure(path, errno);
  if (::fstat(fd.get(), &st) != 0) throw Failure(path, errno);
  CheckPlain(path, st);
  std::string bytes;
  char buffer[16 * 1024];
  while (bytes.size() < maxBytes) {
    const ssize_t n = ::read(fd.get(), buffer, std::min(sizeof buffer, maxBytes - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw Failure(path, errno);
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  return bytes;
}

void StdFiles::WriteBytes(const std::string& path, std::string_view bytes) {
  const Target target = FollowLinks(path);
  Fd existing;
  bool readable = true;
  std::optional<struct stat> old;
  if (target.st) {
    CheckPlain(path, *target.st);
    // Opened for writing as a plain write would, so a file the user may not
    // write is refused here and never replaced.
    const char* name = target.path.c_str();
    existing.Reset(::open(name, O_RDWR | O_NOFOLLOW | kOpenFlags));
    if (!existing && errno == EACCES) {
      readable = false;
      existing.Reset(::open(name, O_WRONLY | O_NOFOLLOW | kOpenFlags));
    }
    if (!existing) throw Failure(path, errno);
    old.emplace();
    if (::fstat(existing.get(), &*old) != 0) throw Failure(path, errno);
    CheckPlain(path, *old);
  }
  // Replacing one of several hard links would part it from the others.
  if (old && old->st_nlink > 1) {
    WriteInPlace(path, existing.get(), readable, bytes, stepHook_);
    return;
  }
  if (Replace(path, target.path, old, bytes, nextName_) == Replaced::kWriteInPlace) {
    WriteInPlace(path, existing.get(), readable, bytes, stepHook_);
  }
}

void StdFiles::RemoveLeftovers(const std::string& path) {
  std::string target;
  try {
    // Where a write puts them: beside the file the links lead to.
    target = FollowLinks(path).path;
  } catch (const PortError&) {
    return;
  }
  const fs::path targetPath(target);
  const std::string name = targetPath.filename().string();
  const std::string folder = targetPath.parent_path().string();
  const int dirFd =
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | kOpenFlags);
  if (dirFd < 0) return;
  DIR* dir = ::fdopendir(dirFd);
  if (!dir) {
    ::close(dirFd);
    return;
  }
  while (const dirent* entry = ::readdir(dir)) {
    if (!IsTemporaryName(entry->d_name, name)) continue;
    struct stat st {};
    // The name only: a link there is not ours to follow, nor to remove.
    if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
        st.st_uid == ::geteuid()) {
      ::unlinkat(dirFd, entry->d_name, 0);
    }
  }
  ::closedir(dir);
}

}  // namespace pasotune
