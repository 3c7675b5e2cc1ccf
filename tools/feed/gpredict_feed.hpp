// From what Gpredict sets to the tracker's record: the frequencies as set,
// the name and modes from the transponder they fall in (or as overridden),
// one record each time any of it changes.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "gpredict_files.hpp"
#include "gpredict_radio.hpp"
#include "tracker_record.hpp"

namespace pasotune::feed::gpredict {

struct Overrides {
  std::optional<std::string> name, downMode, upMode;
};

// The name a record carries while no transponder holds the frequencies, so
// the window shows it.
inline constexpr std::string_view kNoTransponder = "sin transpondedor";

class Follower {
 public:
  // tell hears, once each time it happens, that the frequencies left every
  // transponder.
  Follower(std::vector<Transponder> transponders, Overrides overrides,
           std::function<void(const std::string&)> tell = {});

  // The new record (CR LF ended) when the frequency changed what is told;
  // nothing otherwise.
  std::optional<std::string> Tune(Direction direction, std::int64_t hz);
  const RecordFields& Fields() const { return fields_; }

 private:
  std::vector<Transponder> transponders_;
  Overrides overrides_;
  std::function<void(const std::string&)> tell_;
  RecordFields fields_;
  bool unmatchedTold_ = false;
};

// The follower for the transponders under configDir (UTF-8; empty: Gpredict's
// own place); what it found, or could not, goes to tell.
Follower FollowerFor(const std::string& configDir, Overrides overrides,
                     const std::function<void(const std::string&)>& tell);

// "Gpredict's radio on 127.0.0.1:4532 (F downlink, I uplink)"
std::string Describe(Role role, int port);

}  // namespace pasotune::feed::gpredict
