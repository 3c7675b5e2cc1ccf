#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "serial.hpp"

namespace velkor::sys {
namespace {

namespace fs = std::filesystem;

// Enough to choose from; a machine with more says so with the first ones.
constexpr std::size_t kMaxListed = 8;
constexpr std::size_t kMaxHolders = 4;

std::vector<std::string> sortedEntries(const fs::path& folder, std::string_view prefix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(prefix, 0) == 0) out.push_back(name);
  }
  // ttyS2 before ttyS10.
  std::sort(out.begin(), out.end(), [](const std::string& a, const std::string& b) {
    return a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  return out;
}

std::string firstLine(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  return line;
}

}  // namespace

int probeSerial(const std::string& device) {
  const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  termios settings{};
  const int error = ::tcgetattr(fd, &settings) == 0 ? 0 : errno;
  ::close(fd);
  return error;
}

std::vector<SerialDevice> serialDevices() {
  std::vector<SerialDevice> out;
  std::vector<std::string> reached;
  std::error_code ec;
  const fs::path byId("/dev/serial/by-id");
  for (const auto& name : sortedEntries(byId, "")) {
    const fs::path target = fs::canonical(byId / name, ec);
    if (ec) continue;
    out.push_back({(byId / name).string(), target.filename().string()});
    reached.push_back(target.string());
  }
  for (const char* prefix : {"ttyUSB", "ttyACM"}) {
    for (const auto& name : sortedEntries("/dev", prefix)) {
      const std::string path = "/dev/" + name;
      if (std::find(reached.begin(), reached.end(), path) == reached.end()) {
        out.push_back({path, {}});
      }
    }
  }
  // Every ttyS exists; only those whose UART the kernel found (type not 0) are ports.
  for (const auto& name : sortedEntries("/sys/class/tty", "ttyS")) {
    const std::string type = firstLine(fs::path("/sys/class/tty") / name / "type");
    if (!type.empty() && type != "0") out.push_back({"/dev/" + name, {}});
  }
  if (out.size() > kMaxListed) {
    out.resize(kMaxListed);
    out.push_back({"…", {}});
  }
  return out;
}

std::vector<std::string> deviceHolders(const std::string& device) {
  std::vector<std::string> out;
  std::error_code ec;
  const fs::path wanted = fs::canonical(device, ec);
  if (ec) return out;
  const std::string self = std::to_string(::getpid());
  for (const auto& process : fs::directory_iterator("/proc", ec)) {
    const std::string pid = process.path().filename().string();
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == self) {
      continue;
    }
    std::error_code inner;
    for (const auto& fd : fs::directory_iterator(process.path() / "fd", inner)) {
      std::error_code link;
      if (fs::read_symlink(fd.path(), link) != wanted || link) continue;
      out.push_back(firstLine(process.path() / "comm") + " (pid " + pid + ")");
      break;
    }
    if (out.size() == kMaxHolders) break;
  }
  return out;
}

std::string deviceGroup(const std::string& device) {
  struct stat st {};
  if (::stat(device.c_str(), &st) != 0) return {};
  group entry{};
  group* found = nullptr;
  char buffer[4096];
  if (::getgrgid_r(st.st_gid, &entry, buffer, sizeof buffer, &found) != 0 || !found) return {};
  return found->gr_name;
}

std::string errorText(int code) {
  return std::strerror(code);
}

}  // namespace velkor::sys
