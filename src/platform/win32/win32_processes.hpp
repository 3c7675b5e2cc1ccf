// Engine processes on Windows: started hidden with CreateProcessW, ended by
// the exact image name through a Toolhelp snapshot.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/ports.hpp"
#include "platform/win32/message_window.hpp"
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
  Win32Processes() = default;
  ~Win32Processes() override;
  Win32Processes(const Win32Processes&) = delete;
  Win32Processes& operator=(const Win32Processes&) = delete;

  // Spawn, then its end is told through the calling thread's message queue.
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

 private:
  struct Watched {
    ProcessHandle process;
    HANDLE wait = nullptr;  // the thread pool's wait for its end
  };
  void TellEnded();

  std::vector<Watched> watched_;
  std::unique_ptr<MessageWindow> window_;
};

// An exit code in words, to follow "terminó".
std::string EndCause(DWORD exitCode);

}  // namespace pasotune
