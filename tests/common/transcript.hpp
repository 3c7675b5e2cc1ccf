// The engine's transcript as the end-to-end tests read it: each line it
// heard, with when (the transcript's own clock, seconds since midnight).
#pragma once

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace pasotune::test {

struct Heard {
  double seconds;
  std::string line;
};

// Rows that are not "hh:mm:ss.mmm<TAB>line..." (a header, a half-written
// last row) are left out.
inline std::vector<Heard> ReadTranscript(const std::filesystem::path& file) {
  std::vector<Heard> heard;
  std::ifstream in(file);
  for (std::string row; std::getline(in, row);) {
    std::istringstream fields(row);
    std::string time, line;
    if (!std::getline(fields, time, '\t') || !std::getline(fields, line, '\t') || line.empty())
      continue;
    int h = 0, m = 0;
    double s = 0;
    if (std::sscanf(time.c_str(), "%d:%d:%lf", &h, &m, &s) != 3) continue;
    heard.push_back({h * 3600.0 + m * 60.0 + s, line});
  }
  return heard;
}

inline std::vector<std::string> LinesOf(const std::vector<Heard>& heard) {
  std::vector<std::string> lines;
  for (const Heard& h : heard) lines.push_back(h.line);
  return lines;
}

}  // namespace pasotune::test
