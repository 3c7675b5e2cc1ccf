// Engine processes on Windows: started hidden with CreateProcessW, ended by
// the exact image name through a Toolhelp snapshot.
#pragma once

#include <string>

#include "platform/ports.hpp"
#include "platform/win32/win32_api.hpp"

namespace pasotune {

// A process handle that closes itself.
class ProcessHandle {
 public:
  ProcessHandle() = default;
  explicit ProcessHandle(HANDLE h) : handle_(h) {}
  ~ProcessHandle() { Reset(); }
  ProcessHandle(ProcessHandle&& o) noexcept : handle_(o.handle_) { o.handle_ = nullptr; }
  ProcessHandle& operator=(ProcessHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      handle_ = o.handle_;
      o.handle_ = nullptr;
    }
    return *this;
  }
  HANDLE Get() const { return handle_; }
  void Reset() {
    if (handle_ != nullptr) ::CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

class Win32Processes : public Processes {
 public:
  void Start(const std::string& path) override;
  // Start, handing back the process. No shell: path (UTF-8) is run as it
  // is, with no arguments and nothing of ours inherited, hidden and with no
  // console window, in a process group of its own.
  ProcessHandle Spawn(const std::string& path);
  // TerminateProcess for every process but this one whose image name is
  // exactly imageName (as written, not case-folded) and which runs as the
  // same user as we do. One whose user cannot be read is left alone, and so
  // is one we may not end.
  void EndByImageName(const std::string& imageName) override;
};

}  // namespace pasotune
