// What Gpredict's own files tell of the satellite it tracks: Gpredict sends
// a radio frequencies only, so the transponder whose ranges hold them gives
// the satellite's name and the modes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pasotune::feed::gpredict {

// One group of trsp/<catnr>.trsp, with the NAME of satdata/<catnr>.sat.
struct Transponder {
  std::string satellite;                                          // empty when the .sat is missing
  std::string name;                                               // the group's name
  std::int64_t upLow = 0, upHigh = 0, downLow = 0, downHigh = 0;  // Hz, 0: none
  bool invert = false;
  std::string mode;
};

// Every transponder under dir, in the order of the catalogue numbers; what
// cannot be read is told in complaints and left out.
std::vector<Transponder> ReadTransponders(const std::filesystem::path& dir,
                                          std::vector<std::string>& complaints);

// Gpredict's place: $XDG_CONFIG_HOME/Gpredict, else ~/.config/Gpredict;
// on Windows %USERPROFILE%\Gpredict.
std::filesystem::path DefaultConfigDir();

// How far a frequency may lie outside a transponder's range and still be
// taken as in it: Doppler of a low orbit is within 25 ppm; 100 ppm (10 kHz
// per 100 MHz) leaves room for a dial off by a few kHz.
std::int64_t DopplerMarginHz(std::int64_t hz);

// The transponder that holds both frequencies (those known), each within its
// margin: one holding all that is known before one holding part of it, then
// the one the frequencies lie closest inside. Nothing when none does.
const Transponder* Match(const std::vector<Transponder>& all, std::optional<std::int64_t> downHz,
                         std::optional<std::int64_t> upHz);

// The radio modes of a transponder's MODE text; nothing where it says none
// the radio knows.
struct Modes {
  std::optional<std::string> down, up;
};
Modes RadioModes(const Transponder& t);

}  // namespace pasotune::feed::gpredict
