#include <csignal>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "system.hpp"

namespace velkor::sys {
namespace {

// Set before the handlers are installed, only read in them.
void (*stopCall)(void*) = nullptr;
void* stopContext = nullptr;

extern "C" void onStopSignal(int) {
  if (stopCall) stopCall(stopContext);
}

}  // namespace

std::filesystem::path programFolder() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  return ec ? std::filesystem::current_path(ec) : exe.parent_path();
}

std::filesystem::path pathFromUtf8(std::string_view utf8) {
  return std::filesystem::path(std::string(utf8));
}

std::string pathText(const std::filesystem::path& path) {
  return path.string();
}

std::optional<std::filesystem::path> environmentPath(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::filesystem::path(value);
}

std::FILE* openForAppend(const std::filesystem::path& file, std::string& error) {
  std::FILE* f = std::fopen(file.c_str(), "ae");
  if (!f) error = std::strerror(errno);
  return f;
}

std::tm localTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

bool onStopRequest(void (*stop)(void*), void* context) {
  stopContext = context;
  stopCall = stop;
  struct sigaction action {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  // A client that leaves mid-reply must not end the engine.
  std::signal(SIGPIPE, SIG_IGN);
  return sigaction(SIGTERM, &action, nullptr) == 0 && sigaction(SIGINT, &action, nullptr) == 0;
}

void stopped() {}

}  // namespace velkor::sys
