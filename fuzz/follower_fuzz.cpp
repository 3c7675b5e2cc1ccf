// Any sequence of tracker records, mixed with engine replies, hang-ups,
// clicks and close requests, followed through the whole core in virtual
// time. It never crashes, the follower's checks never run nested, every line
// the engine gets is one whole command, a close ends within its own pauses,
// and afterwards the follower still puts the radio on the newest values.
//
// Input: one event per line, "[delay ms]op payload":
//   R record   ('|' in it stands for a line feed)
//   B count    that many records at the same moment, moving both frequencies
//   E reply    the engine answers ('|' stands for a line feed)
//   H          the engine hangs up
//   C          click on Conectar/Desconectar
//   T, O       the two tone buttons
//   Y, N       a close request answered Yes or No
#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/contract.hpp"
#include "sim_world.hpp"
#include "tracking/frequency_text.hpp"

namespace {

constexpr std::size_t kMaxEvents = 300;
constexpr int kMaxBurstRecords = 2000;  // over the whole input
constexpr double kMaxDelayMs = 10'000;

std::string Unescape(std::string_view s) {
  std::string out(s);
  std::replace(out.begin(), out.end(), '|', '\n');
  return out;
}

bool WholeCommand(std::string_view line) {
  if (line.find_first_of("\r\n") != std::string_view::npos) return false;
  for (std::string_view prefix :
       {pasotune::engine::kSetPort, pasotune::engine::kSetFreqMain, pasotune::engine::kSetModeMain,
        pasotune::engine::kSetFreqSub, pasotune::engine::kSetModeSub, pasotune::engine::kSetTone}) {
    if (line.substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

std::string LastSent(const pasotune::sim::Peer& engine, std::string_view prefix) {
  const auto& lines = engine.Lines();
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    if (it->bytes.substr(0, prefix.size()) == prefix) return it->bytes.substr(prefix.size());
  }
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  pasotune::fuzz::SimWorld w;
  pasotune::Form1& f = w.app.form;
  w.app.Load();
  f.Timer1.SetEnabled(false);
  f.Command1.SetEnabled(true);
  w.engine.onLine = [&w](const std::string& line) {
    if (line.rfind("SETPORT ", 0) == 0) w.engine.Reply("Velkor READY\r\n");
  };

  // A record handled while the checks run must not pause: that would be a
  // second run of the checks nested in the first.
  int depth = 0;
  auto change = f.txtDDE.change;
  f.txtDDE.change = [&, change] {
    ++depth;
    const int pumps = w.loop.Pumps();
    change();
    FUZZ_CHECK(depth == 1 || w.loop.Pumps() == pumps);
    --depth;
  };

  double at = 0;
  double closeAt = -1;
  std::string last = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB";
  std::size_t events = 0;
  int burstBudget = kMaxBurstRecords;
  for (std::size_t pos = 0; pos < input.size() && events < kMaxEvents; ++events) {
    std::size_t end = input.find('\n', pos);
    if (end == std::string_view::npos) end = input.size();
    std::string_view line = input.substr(pos, end - pos);
    pos = end + 1;
    double delay = 0;
    while (!line.empty() && line[0] >= '0' && line[0] <= '9') {
      delay = std::min(kMaxDelayMs, delay * 10 + (line[0] - '0'));
      line.remove_prefix(1);
    }
    at += delay;
    if (line.empty()) continue;
    const char op = line[0];
    std::string payload(line.substr(1));
    if (!payload.empty() && payload[0] == ' ') payload.erase(0, 1);
    // After a close has begun only the tracker and the engine go on: a
    // click inside the close's pauses would run pauses of its own.
    const bool closing = closeAt >= 0 && at >= closeAt;
    switch (op) {
      case 'R':
        last = Unescape(payload);
        w.loop.At(at, [&w, r = last] { w.app.form.txtDDE.SetText(r); });
        break;
      case 'B': {
        if (burstBudget <= 0) break;
        int count = 0;
        for (std::size_t i = 0; i < payload.size() && payload[i] >= '0' && payload[i] <= '9'; ++i)
          count = std::min(burstBudget, count * 10 + (payload[i] - '0'));
        count = std::max(count, 1);
        burstBudget -= count;
        for (int k = 0; k < count; ++k) {
          const std::string r = "UP" + std::to_string(435'100'000 + 100 * k) + " DN" +
                                std::to_string(145'900'000 - 100 * k) + " " + last;
          w.loop.At(at, [&w, r] { w.app.form.txtDDE.SetText(r); });
        }
        break;
      }
      case 'E':
        w.loop.At(at, [&w, r = Unescape(payload)] { w.engine.Reply(r); });
        break;
      case 'H':
        w.loop.At(at, [&w] { w.engine.Hangup(); });
        break;
      case 'C':
      case 'T':
      case 'O':
        if (closing) break;
        w.loop.At(at, [&f, op] {
          (op == 'C' ? f.Command1 : op == 'T' ? f.Command3 : f.Command4).Click();
        });
        break;
      case 'Y':
      case 'N':
        if (closing) break;
        if (op == 'Y' && closeAt < 0) closeAt = at;
        w.loop.At(at, [&w, &f, op] {
          w.messages.answers.push_back(op == 'Y' ? pasotune::MsgResult::kYes
                                                 : pasotune::MsgResult::kNo);
          f.RequestClose();
        });
        break;
      default:
        break;
    }
  }

  bool ended = false;
  try {
    w.loop.RunUntilIdle(at + 600'000);
  } catch (const pasotune::sim::Ended&) {
    ended = true;
  }
  FUZZ_CHECK(ended == (closeAt >= 0) && ended == w.programEnd.ended);
  // Its two pauses, each up to 1/256 s longer as the pause keeps its start
  // as a float.
  if (ended) FUZZ_CHECK(w.programEnd.endedAt - closeAt <= 200 + 500 + 2 * 1000.0 / 256);

  for (const auto& l : w.engine.Lines()) FUZZ_CHECK(WholeCommand(l.bytes));
  const std::string& wire = w.engine.Received();
  FUZZ_CHECK(wire.empty() || wire.substr(wire.size() - 2) == "\r\n");
  if (ended) return 0;

  // Whatever came before, two records that change every value are followed.
  if (w.tcp.State() != pasotune::sck::kConnected || !w.app.m.Conectado) return 0;
  for (const char* r :
       {"SNFIN DN145800000 UP435200000 DMFM UMFM ", "SNFIN DN145700000 UP435300000 DMCW UMUSB "}) {
    f.txtDDE.SetText(r);
    w.loop.RunUntilIdle();
  }
  FUZZ_CHECK(LastSent(w.engine, pasotune::engine::kSetFreqMain) == "435.3000");
  FUZZ_CHECK(LastSent(w.engine, pasotune::engine::kSetModeMain) == "USB");
  FUZZ_CHECK(LastSent(w.engine, pasotune::engine::kSetFreqSub) == "145.7000");
  FUZZ_CHECK(LastSent(w.engine, pasotune::engine::kSetModeSub) == "CW");
  return 0;
}
