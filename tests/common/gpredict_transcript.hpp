// A transcript of Gpredict's radio controller on the wire (tests/data/gpredict):
// each command Gpredict sent, with rigctld's reply, as the replay tests read it.
#pragma once

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace pasotune::test {

struct GpredictExchange {
  std::string command;               // without its LF
  std::optional<std::string> reply;  // rigctld's, LF included; none when it never answered
};

// The bytes of a Python literal b'...'.
inline std::string FromPythonBytes(const std::string& literal) {
  std::string out;
  const std::size_t start = literal.find('\'');
  const std::size_t end = literal.rfind('\'');
  if (start == std::string::npos || end <= start) return out;
  for (std::size_t i = start + 1; i < end; ++i) {
    if (literal[i] != '\\' || i + 1 >= end) {
      out += literal[i];
      continue;
    }
    const char c = literal[++i];
    if (c == 'n') {
      out += '\n';
    } else if (c == 'r') {
      out += '\r';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < end) {
      out += static_cast<char>(std::stoi(literal.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

// Every command of the transcript's one connection, in order; `<EOF>` and
// the proxy's own lines left out.
inline std::vector<GpredictExchange> ReadGpredictTranscript(const std::filesystem::path& file) {
  std::vector<GpredictExchange> all;
  std::ifstream in(file, std::ios::binary);
  for (std::string row; std::getline(in, row);) {
    const std::size_t arrow = row.find(" -> b");
    const std::size_t back = row.find(" <- b");
    if (arrow != std::string::npos) {
      std::string bytes = FromPythonBytes(row.substr(arrow + 4));
      if (bytes == "<EOF>") continue;
      if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
      all.push_back({bytes, std::nullopt});
    } else if (back != std::string::npos && !all.empty() && !all.back().reply) {
      const std::string bytes = FromPythonBytes(row.substr(back + 4));
      if (bytes != "<EOF>") all.back().reply = bytes;
    }
  }
  return all;
}

// What a transcript's radio was in Gpredict: its name says.
enum class GpredictRadio { kDuplex, kRxOnly, kTxOnly };
inline GpredictRadio RadioOf(const std::string& transcript) {
  if (transcript.rfind("rx-", 0) == 0) return GpredictRadio::kRxOnly;
  if (transcript.rfind("tx-", 0) == 0) return GpredictRadio::kTxOnly;
  return GpredictRadio::kDuplex;
}

inline const char* const kGpredictTranscripts[] = {
    "duplex-main-sub.txt", "duplex-subup.txt",   "duplex-los-signal.txt", "rx-ptt0.txt",
    "tx-ptt0.txt",         "trx-ptt1-keyed.txt", "toggle-auto.txt"};

// The reply Gpredict needs to each command: sets taken, reads exactly as
// set (rigctld's own reply then), PTT off, the signals answered.
inline std::optional<std::string> NeededReply(const GpredictExchange& e) {
  const std::string& c = e.command;
  if (c == "q") return std::nullopt;
  if (c == "t") return "0\n";
  if (c == "AOS" || c == "LOS") return "RPRT 0\n";
  if (!c.empty() && (c[0] == 'F' || c[0] == 'I' || c[0] == 'S' || c[0] == 'T' || c[0] == 'V'))
    return "RPRT 0\n";
  return e.reply;
}

}  // namespace pasotune::test
