#pragma once

// A helper program the engine runs and owns: started hidden, ended with the engine even when the
// engine itself is killed, and asked how it ended.

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace velkor::sys {

class Child {
 public:
  virtual ~Child() = default;  // ends it if it still runs
  // Empty while it runs; once it has ended, how, in the user's words ("terminó por la señal 11
  // (SIGSEGV)", "terminó con el estado 2").
  virtual std::optional<std::string> ended() = 0;
};

// Starts program with args; null with the system's reason in error.
std::unique_ptr<Child> startChild(const std::filesystem::path& program,
                                  const std::vector<std::string>& args, std::string& error);

#ifdef _WIN32
// program and args as one command line that CommandLineToArgvW takes apart again.
std::wstring commandLine(const std::filesystem::path& program,
                         const std::vector<std::string>& args);
#endif

}  // namespace velkor::sys
