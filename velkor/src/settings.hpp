#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velkor {

// "COM3" -> 3; case does not matter, as on Windows. Only COM1..COM256.
std::optional<int> comPortNumber(std::string_view name);

struct Settings {
  // kTs790: the engine's own TS-790 driver. kRigctld: our own client of Hamlib's rigctld, so it
  // needs no Hamlib library.
  enum class RadioKind { kSim, kTs790, kHamlib, kRigctld };
  enum class Handshake { kNone, kHardware };
  // How MAIN (uplink) and SUB (downlink) are addressed on the radio.
  enum class Bands { kAuto, kMainSub, kAB, kSplit };

  RadioKind radio = RadioKind::kTs790;
  int model = 2007;
  int speed = 4800;
  Handshake handshake = Handshake::kHardware;
  Bands bands = Bands::kAuto;
  std::string rigctld = "127.0.0.1:4532";
  std::string transcript;
  std::map<int, std::string> comDevices;  // COMn overrides
  bool dummyRadio = false;                // radio = dummy: model stays 1
  bool readBack = true;                   // check what the radio took
  bool created = false;                   // the file was written with these defaults just now
  std::string file;                       // where the settings live, for telling the user

  // The device behind a port name: an override, else on Linux /dev/ttyS(n-1) for COMn, on
  // Windows the COMn port itself. Nothing for a name that is not COMn: a client never names a
  // device.
  std::optional<std::string> devicePath(std::string_view port) const;
};

// Unknown keys and bad values leave the default in place and add a warning.
Settings parseSettings(std::string_view text, std::vector<std::string>& warnings);
std::string defaultSettingsText();

// Settings are a few short lines; a longer file is read up to its last line within this.
inline constexpr std::size_t kMaxSettingsBytes = 64 * 1024;

// Reads the file, first writing it with the defaults when nothing has its name; anything but a
// regular file is not read, and the defaults hold. Anything worth telling the user ends up in
// notes, each starting with the file's name ("velkor.conf línea 38: ...").
Settings loadSettings(const std::filesystem::path& file, std::vector<std::string>& notes);

// What of the notes the window gets: the first kShownNotes, then one line saying how many more
// the file holds, so a file of thousands of bad lines never floods it.
inline constexpr std::size_t kShownNotes = 8;
std::vector<std::string> shownNotes(const std::vector<std::string>& notes,
                                    const std::filesystem::path& file);

}  // namespace velkor
