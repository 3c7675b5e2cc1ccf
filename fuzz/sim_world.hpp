// The whole core in the simulation for the fuzz targets, with the program
// folder held in memory so that a run touches no disk.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "app/pasotune.hpp"
#include "platform/sim/sim.hpp"

namespace pasotune::fuzz {

// Aborts, naming the line of the check that failed.
#define FUZZ_CHECK(ok) ::pasotune::fuzz::CheckAt((ok), #ok, __LINE__)

inline void CheckAt(bool ok, const char* what, int line) {
  if (ok) return;
  std::fprintf(stderr, "check failed at line %d: %s\n", line, what);
  std::abort();
}

class MemoryFiles : public Files {
 public:
  std::map<std::string, std::string> files;
  std::string ProgramFolder() override { return "/programa"; }
  bool IsPlainFile(const std::string& path) override { return files.count(path) != 0; }
  std::string ReadBytes(const std::string& path, std::size_t maxBytes) override {
    const auto it = files.find(path);
    if (it == files.end()) throw PortError(path + ": no existe");
    return it->second.substr(0, maxBytes);
  }
  void WriteBytes(const std::string& path, std::string_view bytes) override {
    files[path] = std::string(bytes);
  }
  void RemoveLeftovers(const std::string&) override {}
};

struct SimWorld {
  SimWorld() { files.files["/programa/Velkor.exe"] = "motor"; }
  sim::Loop loop{12 * 3600.0};
  sim::Peer engine{loop};
  sim::TcpClient tcp{loop, engine};
  sim::Tracker tracker{loop};
  sim::Processes processes{loop, engine};
  sim::MessageBox messages{loop};
  sim::ProgramEnd programEnd{loop};
  MemoryFiles files;
  Platform platform{loop, loop, tcp, tracker, processes, files, messages, programEnd, '.'};
  Pasotune app{platform};
};

}  // namespace pasotune::fuzz
