#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <iostream>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "settings.hpp"
#include "support.hpp"

namespace velkor {
namespace {

TEST(Settings, DefaultsFileParsesCleanlyToTheDefaults) {
  std::vector<std::string> warnings;
  const Settings s = parseSettings(defaultSettingsText(), warnings);
  EXPECT_TRUE(warnings.empty()) << warnings.front();
  // A new installation drives the radio, never a simulation nobody asked for.
  EXPECT_EQ(s.radio, Settings::RadioKind::kTs790);
  EXPECT_TRUE(s.readBack);
  EXPECT_EQ(s.model, 2007);
  EXPECT_EQ(s.speed, 4800);
  EXPECT_EQ(s.handshake, Settings::Handshake::kHardware);
  EXPECT_EQ(s.rigctld, "127.0.0.1:4532");
  EXPECT_TRUE(s.transcript.empty());
}

TEST(Settings, ReadsEveryKeyAndWarnsAboutTheRest) {
  std::vector<std::string> warnings;
  const Settings s = parseSettings(
      "  RADIO = Hamlib\n"
      "model=2   # rigctld\n"
      "speed = 9600\r\n"
      "handshake = none\n"
      "bands = split\n"
      "rigctld = localhost:4533\n"
      "com3 = /dev/ttyUSB0\n"
      "transcript = logs/velkor#1.txt\n"
      "colour = blue\n"
      "speed = fast\n"
      "no equals sign\n"
      "readback = no\n",
      warnings);
  EXPECT_EQ(s.radio, Settings::RadioKind::kHamlib);
  EXPECT_EQ(s.model, 2);
  EXPECT_EQ(s.speed, 9600);  // the later bad value keeps the good one
  EXPECT_EQ(s.handshake, Settings::Handshake::kNone);
  EXPECT_EQ(s.bands, Settings::Bands::kSplit);
  EXPECT_EQ(s.rigctld, "localhost:4533");
  EXPECT_EQ(s.transcript, "logs/velkor#1.txt");
  EXPECT_EQ(s.devicePath("COM3"), "/dev/ttyUSB0");
  EXPECT_FALSE(s.readBack);
  ASSERT_EQ(warnings.size(), 3u);
  EXPECT_EQ(warnings[0], "línea 9: clave desconocida «colour»; se ignora");
  EXPECT_EQ(warnings[1],
            "línea 10: speed = «fast» no vale (valores: los baudios de la radio, 4800 en el "
            "TS-790); se ignora");
  EXPECT_EQ(warnings[2], "línea 11: falta «=» en «no equals sign»; se ignora");
}

TEST(Settings, DummyIsHamlibModelOneWhateverModelSays) {
  for (const char* text : {"radio = dummy\nmodel = 2007\n", "model = 2007\nradio = dummy\n"}) {
    std::vector<std::string> warnings;
    const Settings s = parseSettings(text, warnings);
    EXPECT_EQ(s.radio, Settings::RadioKind::kHamlib) << text;
    EXPECT_EQ(s.model, 1) << text;
  }
}

TEST(Settings, KnowsEveryRadio) {
  const std::pair<const char*, Settings::RadioKind> cases[] = {
      {"radio = sim", Settings::RadioKind::kSim},
      {"radio = rigctld", Settings::RadioKind::kRigctld},
      {"radio = RIGCTLD", Settings::RadioKind::kRigctld},
      {"radio = ts790", Settings::RadioKind::kTs790},
      // Hamlib's own TS-790 backend sends commands the radio refuses: 2007 is always ours.
      {"radio = hamlib", Settings::RadioKind::kTs790},
      {"radio = hamlib\nmodel = 2014", Settings::RadioKind::kHamlib},
      {"model = 2014\nradio = hamlib", Settings::RadioKind::kHamlib},
      {"radio = rigctl", Settings::RadioKind::kTs790},
  };
  for (const auto& [text, kind] : cases) {
    std::vector<std::string> warnings;
    EXPECT_EQ(parseSettings(text, warnings).radio, kind) << text;
  }
}

TEST(Settings, MapsPortNamesToDevices) {
  Settings s;
  s.comDevices[2] = "/dev/rfcomm0";
  EXPECT_EQ(s.devicePath("COM2"), "/dev/rfcomm0");
#ifdef _WIN32
  EXPECT_EQ(s.devicePath("COM1"), "COM1");
  EXPECT_EQ(s.devicePath("com3"), "COM3");
  EXPECT_EQ(s.devicePath("COM256"), "COM256");
  EXPECT_FALSE(s.devicePath("/dev/ttyACM0"));
#else
  EXPECT_EQ(s.devicePath("COM1"), "/dev/ttyS0");
  EXPECT_EQ(s.devicePath("com3"), "/dev/ttyS2");
  EXPECT_EQ(s.devicePath("COM256"), "/dev/ttyS255");
#endif
  // A device comes from velkor.conf only, never from the name a client sends.
  for (const char* name : {"COM0", "COM257", "COM01", "COM", "LPT1", "COM1x", "", "/dev/ttyACM0"}) {
    EXPECT_FALSE(s.devicePath(name)) << name;
  }
}

TEST(Settings, WritesTheDefaultsWhenMissingAndReadsThemBack) {
  test::TempDir dir;
  const auto file = dir.path() / "velkor.conf";
  std::vector<std::string> notes;
  EXPECT_TRUE(loadSettings(file, notes).created);
  EXPECT_EQ(test::readFile(file), defaultSettingsText());
  EXPECT_TRUE(notes.empty());

  std::ofstream(file) << "radio = hamlib\nmodel = 1\n";
  notes.clear();
  const Settings s = loadSettings(file, notes);
  EXPECT_EQ(s.radio, Settings::RadioKind::kHamlib);
  EXPECT_EQ(s.model, 1);
  EXPECT_FALSE(s.created);
  EXPECT_TRUE(notes.empty());
}

TEST(Settings, CarriesOnWithDefaultsWhereNoFileCanBeWritten) {
  test::TempDir dir;
  // Even root cannot create files in /proc.
  for (const auto& file :
       {dir.path() / "gone" / "velkor.conf", std::filesystem::path("/proc/self/velkor.conf")}) {
    std::vector<std::string> notes;
    const Settings s = loadSettings(file, notes);
    EXPECT_EQ(s.radio, Settings::RadioKind::kTs790) << file;
    ASSERT_EQ(notes.size(), 1u) << file;
    EXPECT_NE(notes[0].find("se usan los valores por omisión"), std::string::npos) << notes[0];
  }
}

// What may lie at the name instead of a settings file: the engine neither blocks on it, nor
// reads it, nor writes anything through it, and carries on with the defaults saying why.
struct OddCase {
  const char* name;
  // Puts the thing at file; returns the path to load.
  std::filesystem::path (*plant)(const std::filesystem::path& file);
  const char* note;
};

const OddCase kOddCases[] = {
    {"Folder",
     [](const std::filesystem::path& file) {
       std::filesystem::create_directory(file);
       return file;
     },
     "es una carpeta"},
#ifdef _WIN32
    {"Device", [](const std::filesystem::path&) { return std::filesystem::path(L"NUL"); },
     "es un dispositivo o una tubería"},
#else
    {"Device", [](const std::filesystem::path&) { return std::filesystem::path("/dev/null"); },
     "es un dispositivo"},
    {"Fifo",
     [](const std::filesystem::path& file) {
       EXPECT_EQ(::mkfifo(file.c_str(), 0600), 0);
       return file;
     },
     "es un FIFO"},
    {"DanglingLink",
     [](const std::filesystem::path& file) {
       std::filesystem::create_symlink(file.parent_path() / "target", file);
       return file;
     },
     "no se pudo escribir"},
    {"LinkToAFolder",
     [](const std::filesystem::path& file) {
       std::filesystem::create_directory(file.parent_path() / "sub");
       std::filesystem::create_directory_symlink(file.parent_path() / "sub", file);
       return file;
     },
     "es una carpeta"},
#endif
};

class OddFile : public testing::TestWithParam<OddCase> {};

TEST_P(OddFile, IsNotReadOrWrittenAndTheDefaultsHold) {
  test::TempDir dir;
  const std::filesystem::path file = GetParam().plant(dir.path() / "velkor.conf");
  std::vector<std::string> notes;
  auto load = std::async(std::launch::async, [&] { return loadSettings(file, notes); });
  if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
    std::cerr << "loadSettings blocked on " << GetParam().name << '\n';
    std::_Exit(1);
  }
  const Settings s = load.get();
  EXPECT_EQ(s.radio, Settings::RadioKind::kTs790);
  EXPECT_EQ(s.model, 2007);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find(GetParam().note), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("se usan los valores por omisión"), std::string::npos) << notes[0];
}

INSTANTIATE_TEST_SUITE_P(Settings, OddFile, testing::ValuesIn(kOddCases),
                         [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32
TEST(Settings, ADanglingLinkLeavesItsTargetUncreated) {
  test::TempDir dir;
  const auto file = dir.path() / "velkor.conf";
  std::filesystem::create_symlink(dir.path() / "target", file);
  std::vector<std::string> notes;
  loadSettings(file, notes);
  EXPECT_FALSE(std::filesystem::exists(dir.path() / "target"));
  EXPECT_TRUE(std::filesystem::is_symlink(file));
}
#endif

// Only the lines within the first 64 KiB count; the one the limit cuts through does not.
TEST(Settings, ReadsAtMostSixtyFourKibibytes) {
  test::TempDir dir;
  const auto file = dir.path() / "velkor.conf";
  std::string text = "radio = rigctld\n";
  while (text.size() < kMaxSettingsBytes - 8) text += "# filler\n";
  text += "speed = 9600\n";  // crosses the limit
  text += std::string(200 * 1024, '#') + "\nmodel = 1\n";
  std::ofstream(file, std::ios::binary) << text;
  std::vector<std::string> notes;
  const Settings s = loadSettings(file, notes);
  EXPECT_EQ(s.radio, Settings::RadioKind::kRigctld);
  EXPECT_EQ(s.speed, 4800);
  EXPECT_EQ(s.model, 2007);
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("pasa de 64 KiB"), std::string::npos) << notes[0];
}

}  // namespace
}  // namespace velkor
