#include "transcript.hpp"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "text.hpp"

namespace velkor {
namespace {

// Long enough for any sane line; the rest of an absurd one is of no use in a log.
constexpr std::size_t kMaxShown = 4096;

std::string localTime() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03ld", local.tm_hour, local.tm_min,
                local.tm_sec, now.tv_nsec / 1000000);
  return text;
}

}  // namespace

Transcript::~Transcript() {
  if (file_) std::fclose(file_);
}

std::string Transcript::open(const std::filesystem::path& file) {
  if (file_) std::fclose(file_);
  file_ = std::fopen(file.c_str(), "a");
  if (!file_) return std::strerror(errno);
  return {};
}

void Transcript::record(std::string_view received, std::string_view action) {
  if (!file_) return;
  const std::string line =
      localTime() + '\t' + printable(received, kMaxShown) + '\t' + printable(action, kMaxShown);
  std::fprintf(file_, "%s\n", line.c_str());
  std::fflush(file_);
}

}  // namespace velkor
