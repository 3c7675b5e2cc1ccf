// What the feed must publish for a transcript of Gpredict, worked out with
// the feed's own answering and matching (tested on their own, without
// sockets), for the tests that replay it through a real socket.
#pragma once

#include <string>
#include <vector>

#include "gpredict_feed.hpp"
#include "gpredict_transcript.hpp"

namespace pasotune::test {

struct GpredictReplay {
  feed::gpredict::Role role;
  const char* option;  // the feed's option for such a radio
  std::vector<GpredictExchange> exchanges;
  std::vector<std::string> records;  // in order, CR LF ended
};

inline GpredictReplay PlanGpredictReplay(const std::filesystem::path& data, const char* name) {
  GpredictReplay plan;
  switch (RadioOf(name)) {
    case GpredictRadio::kRxOnly:
      plan.role = feed::gpredict::Role::kDownlink;
      plan.option = "--gpredict-down";
      break;
    case GpredictRadio::kTxOnly:
      plan.role = feed::gpredict::Role::kUplink;
      plan.option = "--gpredict-up";
      break;
    case GpredictRadio::kDuplex:
      plan.role = feed::gpredict::Role::kDuplex;
      plan.option = "--gpredict";
      break;
  }
  plan.exchanges = ReadGpredictTranscript(data / name);
  const auto config = (data / "config").u8string();
  feed::gpredict::Follower follower = feed::gpredict::FollowerFor(
      std::string(config.begin(), config.end()), {}, [](const std::string&) {});
  feed::gpredict::RadioMemory memory;
  feed::gpredict::Session model(
      plan.role, memory,
      [&](feed::gpredict::Direction d, std::int64_t hz) {
        if (auto r = follower.Tune(d, hz)) plan.records.push_back(*r);
      },
      [](const std::string&) {});
  for (const GpredictExchange& e : plan.exchanges) model.Answer(e.command);
  return plan;
}

// Whether got holds records of want only, in want's order, ending with its
// last: a link hands over the newest of a burst.
inline bool InOrderEndingWithTheLast(const std::vector<std::string>& got,
                                     const std::vector<std::string>& want) {
  if (got.empty() || want.empty() || got.back() != want.back()) return false;
  std::size_t next = 0;
  for (const std::string& record : got) {
    while (next < want.size() && want[next] != record) ++next;
    if (next == want.size()) return false;
  }
  return true;
}

}  // namespace pasotune::test
