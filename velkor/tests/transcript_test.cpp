// The transcript: opened as velkor.conf is, and never holding the engine.

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <regex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "support.hpp"
#include "transcript.hpp"

namespace velkor {
namespace {

namespace fs = std::filesystem;

// Whatever stands at the name, the engine goes on at once without a transcript: a FIFO
// without a reader once held it before it listened, and as root a link was written through.
TEST(Transcript, OpensOnlyAPlainFileAndNeverThroughALink) {
  test::TempDir dir;
  const fs::path target = dir.path() / "target.txt";
  std::ofstream(target, std::ios::binary) << "kept\n";
#ifdef _WIN32
  const std::pair<fs::path, const char*> cases[] = {{dir.path(), "una carpeta"}, {"NUL", ""}};
#else
  ASSERT_EQ(::mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  fs::create_symlink(target, dir.path() / "link");
  fs::create_symlink(dir.path() / "missing", dir.path() / "dangling");
  fs::create_hard_link(target, dir.path() / "hard");
  const std::pair<fs::path, const char*> cases[] = {{dir.path(), "una carpeta"},
                                                    {dir.path() / "fifo", "un FIFO"},
                                                    {dir.path() / "link", "un enlace"},
                                                    {dir.path() / "dangling", "un enlace"},
                                                    {dir.path() / "hard", "un enlace duro"},
                                                    {"/dev/null", "un dispositivo"}};
#endif
  for (const auto& [file, why] : cases) {
    Transcript transcript;
    const std::string error = transcript.open(file);
    EXPECT_TRUE(!error.empty() && error.find(why) != std::string::npos) << file << ": " << error;
  }
  EXPECT_EQ(test::readFile(target), "kept\n");
  EXPECT_FALSE(fs::exists(dir.path() / "missing"));
}

// A disk that stops taking lines, for a while (stuck: the first write returns once every
// line was recorded) or for some (full: no room for lines 10 to 19): every record returns,
// and what is lost is counted, marked where it was lost, and said once.
TEST(Transcript, ASlowOrFullDiskNeverHoldsTheEngineAndEveryLossIsMarked) {
  for (const bool stuck : {true, false}) {
    const int lines = stuck ? 5000 : 30;
    std::string file;
    std::promise<void> release;
    std::vector<std::string> warned;
    std::uint64_t lost = 0;
    {
      Transcript transcript([&warned](const std::string& w) { warned.push_back(w); });
      transcript.open([&, go = release.get_future().share(),
                       first = true](std::string_view bytes) mutable -> std::string {
        if (stuck && std::exchange(first, false)) go.wait();
        if (!stuck && std::regex_search(bytes.begin(), bytes.end(), std::regex("\tline 1\\d\t"))) {
          return "No space left on device";
        }
        file.append(bytes);
        return {};
      });
      for (int i = 0; i < lines; ++i) {
        transcript.record("line " + std::to_string(i), std::string(300, '.'));
      }
      lost = transcript.lost();
      release.set_value();
    }
    EXPECT_GT(lost, 0u) << stuck;
    EXPECT_EQ(warned.size(), 1u) << stuck;
    // Every line is in the file, in order, or counted in a mark where it would have been.
    const std::regex entry(
        "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\t(line (\\d+)\t\\.+|\tlost (\\d+) lines: .+)\n");
    std::uint64_t next = 0, marked = 0;
    auto at = file.cbegin();
    for (std::smatch m;
         std::regex_search(at, file.cend(), m, entry, std::regex_constants::match_continuous);
         at = m[0].second) {
      if (m[2].matched) {
        EXPECT_EQ(std::stoull(m[2]), next++) << stuck;
      } else {
        next += std::stoull(m[3]);
        marked += std::stoull(m[3]);
      }
    }
    EXPECT_TRUE(at == file.cend()) << "whole lines only";
    EXPECT_EQ(next, static_cast<std::uint64_t>(lines)) << stuck;
    EXPECT_EQ(marked, lost) << stuck;
  }
}

}  // namespace
}  // namespace velkor
