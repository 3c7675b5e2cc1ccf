// Real files in a fresh temporary folder, named in UTF-8 as StdFiles takes them.
#pragma once

#include <filesystem>
#include <optional>
#include <set>
#include <string>

namespace pasotune::test {

// The path of a UTF-8 name, on every system.
std::filesystem::path Native(const std::string& utf8);
std::string Utf8(const std::filesystem::path& path);

class Folder {
 public:
  Folder();
  ~Folder();
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

void Put(const std::string& path, const std::string& bytes);
// The whole file, or nullopt when it cannot be read.
std::optional<std::string> Contents(const std::string& path);
// The names in a folder.
std::set<std::string> Names(const std::string& folder);

}  // namespace pasotune::test
