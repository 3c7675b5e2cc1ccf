#include "transcript.hpp"

#include <chrono>
#include <ctime>

#include "system.hpp"
#include "text.hpp"

namespace velkor {
namespace {

// Long enough for any sane line; the rest of an absurd one is of no use in a log.
constexpr std::size_t kMaxShown = 4096;

std::string localTime() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()) % 1000;
  const std::tm local = sys::localTime(seconds);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                static_cast<int>(millis.count()));
  return text;
}

}  // namespace

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

std::string Transcript::open(const std::filesystem::path& file) {
  if (file_) std::fclose(file_);
  std::string error;
  file_ = sys::openForAppend(file, error);
  return error;
}

void Transcript::record(std::string_view received, std::string_view action) {
  if (!file_) return;
  const std::string line =
      localTime() + '\t' + printable(received, kMaxShown) + '\t' + printable(action, kMaxShown);
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

}  // namespace velkor
