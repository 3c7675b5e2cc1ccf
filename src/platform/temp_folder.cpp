#include "platform/temp_folder.hpp"

#include <filesystem>
#include <random>
#include <system_error>

namespace pasotune {

std::string MakeTempFolder(std::string_view prefix) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path();
  std::random_device seed;
  std::mt19937_64 random((static_cast<std::uint64_t>(seed()) << 32) ^ seed());
  constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name(prefix);
    for (int i = 0; i < 10; ++i) name += kDigits[random() % (sizeof kDigits - 1)];
    // create_directory is false when the name is taken: then try another.
    std::error_code ec;
    const fs::path folder = base / name;
    if (fs::create_directory(folder, ec)) {
      // UTF-8, as every path in the core; string() would be the ANSI code
      // page on Windows.
      const std::u8string utf8 = folder.u8string();
      return std::string(utf8.begin(), utf8.end());
    }
    if (ec) throw fs::filesystem_error("cannot make a temporary folder", folder, ec);
  }
  throw fs::filesystem_error("cannot make a temporary folder", base,
                             std::make_error_code(std::errc::file_exists));
}

}  // namespace pasotune
