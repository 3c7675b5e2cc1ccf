#include "gpredict_feed.hpp"

#include <utility>

namespace pasotune::feed::gpredict {

Follower::Follower(std::vector<Transponder> transponders, Overrides overrides,
                   std::function<void(const std::string&)> tell)
    : transponders_(std::move(transponders)),
      overrides_(std::move(overrides)),
      tell_(std::move(tell)) {
  fields_.name = overrides_.name;
  fields_.downMode = overrides_.downMode;
  fields_.upMode = overrides_.upMode;
}

std::optional<std::string> Follower::Tune(Direction direction, std::int64_t hz) {
  RecordFields next = fields_;
  (direction == Direction::kDown ? next.downlinkHz : next.uplinkHz) = hz;
  const Transponder* t = Match(transponders_, next.downlinkHz, next.uplinkHz);
  const Modes modes = t ? RadioModes(*t) : Modes{};
  // With no transponders at all that was said once at the start.
  if (!t && !unmatchedTold_ && tell_ && !transponders_.empty()) {
    std::string where;
    for (const auto& [key, value] :
         {std::pair{"DN ", next.downlinkHz}, std::pair{"UP ", next.uplinkHz}}) {
      if (value) where += (where.empty() ? key : std::string(", ") + key) + std::to_string(*value);
    }
    tell_("ningún transpondedor de los archivos de Gpredict tiene " + where +
          " Hz: los registros dicen «" + std::string(kNoTransponder) + "» hasta que uno lo tenga");
  }
  unmatchedTold_ = !t;
  next.name = overrides_.name;
  if (!next.name && t && !t->satellite.empty()) next.name = t->satellite;
  if (!next.name && !t) next.name = std::string(kNoTransponder);
  next.downMode = overrides_.downMode ? overrides_.downMode : modes.down;
  next.upMode = overrides_.upMode ? overrides_.upMode : modes.up;
  if (next == fields_) return std::nullopt;
  fields_ = std::move(next);
  return Record(fields_);
}

Follower FollowerFor(const std::string& configDir, Overrides overrides,
                     const std::function<void(const std::string&)>& tell) {
  const std::filesystem::path dir =
      configDir.empty() ? DefaultConfigDir()
                        : std::filesystem::path(std::u8string(configDir.begin(), configDir.end()));
  std::vector<std::string> complaints;
  std::vector<Transponder> all = ReadTransponders(dir, complaints);
  for (const std::string& c : complaints) tell(c);
  const auto shown = dir.u8string();
  const std::string where(shown.begin(), shown.end());
  if (all.empty()) {
    tell("no hay transpondedores en " + where +
         ": los registros no llevan más modos que los dados, " + "y el nombre dado o «" +
         std::string(kNoTransponder) + "»");
  } else {
    tell(std::to_string(all.size()) + " transpondedores de " + where);
  }
  return Follower(std::move(all), std::move(overrides), tell);
}

std::string Describe(Role role, int port) {
  const char* what = role == Role::kDuplex     ? "F downlink, I uplink"
                     : role == Role::kDownlink ? "downlink only"
                                               : "uplink only";
  return "Gpredict's radio on 127.0.0.1:" + std::to_string(port) + " (" + what + ")";
}

}  // namespace pasotune::feed::gpredict
