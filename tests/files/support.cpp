#include "support.hpp"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

namespace pasotune::test {
namespace fs = std::filesystem;

fs::path Native(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

Folder::Folder() {
  std::random_device random;
  for (int i = 0; i < 100 && path_.empty(); ++i) {
    const fs::path candidate =
        fs::temp_directory_path() / ("pasotune-files-" + std::to_string(random()));
    if (fs::create_directory(candidate)) path_ = Utf8(candidate);
  }
  if (path_.empty()) throw std::runtime_error("no temporary folder");
}

Folder::~Folder() {
  // Tests leave read-only folders and files behind; make them removable.
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(Native(path_), ec);
       it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_symlink(ec)) continue;
    fs::permissions(it->path(), fs::perms::owner_write | fs::perms::owner_read,
                    fs::perm_options::add, ec);
    if (it->is_directory(ec))
      fs::permissions(it->path(), fs::perms::owner_exec, fs::perm_options::add, ec);
  }
  fs::remove_all(Native(path_), ec);
}

void Put(const std::string& path, const std::string& bytes) {
  std::ofstream out(Native(path), std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

std::optional<std::string> Contents(const std::string& path) {
  std::ifstream in(Native(path), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(Native(folder)))
    names.insert(Utf8(entry.path().filename()));
  return names;
}

}  // namespace pasotune::test
