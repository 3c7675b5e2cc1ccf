#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

TEST(ToneList, CargarTonosAppendsTheThirtySixTonesWithoutChoosing) {
  World w;
  w.app.tones.CargarTonos();
  const auto& items = w.form.ComboST.Items();
  ASSERT_EQ(items.size(), 36u);
  EXPECT_EQ(items.front(), "71.9");
  EXPECT_EQ(items[6], "88.5");
  EXPECT_EQ(items.back(), "250.3");
  EXPECT_EQ(std::count(items.begin(), items.end(), "67.0") +
                std::count(items.begin(), items.end(), "97.4"),
            0);
  EXPECT_EQ(w.form.ComboST.Text(), "");
  EXPECT_EQ(w.form.Command3.Caption(), "CTCSS ");
}

struct Tones : testing::Test {
  Tones() {
    w.app.Load();
    w.form.Timer1.SetEnabled(false);
  }
  World w;
};

TEST_F(Tones, ChoosingAToneChangesTheCaptionAndSendsNothing) {
  w.LinkUp();
  w.form.ComboST.SetText("123.0");
  EXPECT_EQ(w.form.Command3.Caption(), "CTCSS 123.0");
  EXPECT_THAT(w.Sent(), IsEmpty());
}

TEST_F(Tones, TheButtonsSendTheToneTextAsItStands) {
  struct Case {
    const char* tone;  // nullptr: no tone chosen
    bool linked;
    const char* wire;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"123.0", true, "SET TONE 123.0\r\n", {"SET TONE 123.0"}},
      {"77.0", true, "SET TONE 77.0\r\n", {"SET TONE 77.0"}},
      {nullptr, true, "SET TONE \r\n", {"SET TONE "}},
      {"123.0", false, "", {}},
  };
  for (const Case& c : cases) {
    World w;
    w.app.Load();
    if (c.linked) w.LinkUp();
    if (c.tone) {
      w.form.ComboST.SetText(c.tone);
    } else {
      w.form.ComboST.Clear();
      w.app.tones.CargarTonos();
    }
    w.form.Command3.SetEnabled(true);
    const double start = w.loop.Now();
    w.form.Command3.Click();
    EXPECT_EQ(w.engine.Received(), c.wire);
    EXPECT_EQ(w.Log(), c.log);
    EXPECT_NEAR(w.loop.Now() - start, 500, 3);
  }
}

TEST_F(Tones, ToneOffSendsAndReturnsAtOnce) {
  w.LinkUp();
  w.form.Command4.SetEnabled(true);
  const double start = w.loop.Now();
  w.form.Command4.Click();
  EXPECT_EQ(w.engine.Received(), "SET TONE OFF\r\n");
  EXPECT_THAT(w.Log(), ElementsAre("SET TONE OFF"));
  EXPECT_EQ(w.loop.Now(), start);
}

// ---- config.txt ----

struct SettingsCase {
  const char* name;
  const char* file;
  const char* port;
  const char* tone;
};

void PrintTo(const SettingsCase& c, std::ostream* os) {
  *os << c.name;
}

class SettingsFile : public testing::TestWithParam<SettingsCase> {};

TEST_P(SettingsFile, LoadsWhatItCanAndSavesExactlyTwoLines) {
  const SettingsCase& c = GetParam();
  World w;
  w.folder.Write("config.txt", c.file);
  w.app.Load();
  EXPECT_EQ(w.form.HPORT.Text(), c.port);
  EXPECT_EQ(w.form.ComboST.Text(), c.tone);
  EXPECT_EQ(w.form.Command3.Caption(), std::string("CTCSS ") + c.tone);
  EXPECT_EQ(w.folder.Read("config.txt"), c.file);  // loading never writes
  EXPECT_THAT(w.Log(), IsEmpty());

  w.app.settings.GuardarConfiguracion();
  EXPECT_EQ(w.folder.Read("config.txt"),
            std::string("Puerto=") + c.port + "\r\nCTCSS=" + c.tone + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsFile,
    testing::Values(
        SettingsCase{"PortFirst", "Puerto=COM3\r\nCTCSS=100.0\r\n", "COM3", "100.0"},
        SettingsCase{"ToneFirst", "CTCSS=100.0\r\nPuerto=COM3\r\n", "COM3", "100.0"},
        SettingsCase{"LaterLineWins", "Puerto=COM2\r\nPuerto=COM4\r\n", "COM4", ""},
        SettingsCase{"KeyInsideALine", "Puerto=COM6\r\nxPuerto=COM5\r\n", "COM6", ""},
        SettingsCase{"EveryOccurrenceRemoved", "Puerto=COM5Puerto=\r\nCTCSS=CTCSS=77.0\r\n", "COM5",
                     "77.0"},
        SettingsCase{"KeysAreCaseSensitive", "puerto=COM3\r\nctcss=77.0\r\n", "", ""},
        SettingsCase{"BothKeysOnOneLine", "Puerto=COM2 CTCSS=77.0\r\n", "", ""},
        SettingsCase{"BlankAndForeignLines",
                     "\r\n# notas\r\nPuerto=COM7\r\n\r\nx=1\r\nCTCSS=250.3\r\n", "COM7", "250.3"},
        SettingsCase{"Empty", "", "", ""},
        SettingsCase{"LineFeedsOnly", "Puerto=COM9\nCTCSS=71.9\n", "COM9", "71.9"},
        SettingsCase{"LoneCrAndNoFinalEnd", "Puerto=COM20\rCTCSS=71.9", "COM20", "71.9"},
        SettingsCase{"NoMatchKeepsTheEarlierChoice",
                     "Puerto=COM3\r\nPuerto=COM21\r\nCTCSS=88.5\r\nCTCSS=88.5 \r\n", "COM3",
                     "88.5"},
        SettingsCase{"ForeignBytes", "Puerto=COM1\xE9\r\nCTCSS=\xFF\x00\r\n", "", ""}),
    [](const auto& info) { return info.param.name; });

TEST(Settings, ReadingStopsAfterSixtyFourKibibytesWithOneLine) {
  const std::string head = "Puerto=COM3\r\n";
  const auto filler = [&](std::size_t upTo) {
    return head + std::string(upTo - head.size() - 2, '#') + "\r\n";
  };
  struct Case {
    const char* name;
    std::string file;
    const char* port;
    const char* tone;
    bool cut;
  };
  const Case cases[] = {
      {"exactly 64 KiB", filler(65536), "COM3", "", false},
      {"64 KiB with a last line without end", filler(65536 - 11) + "Puerto=COM5", "COM5", "",
       false},
      // The line the limit cuts is not taken: "Puerto=COM1" is not what it says.
      {"a line across the limit", filler(65536 - 11) + "Puerto=COM12\r\n", "COM3", "", true},
      {"the limit between CR and LF", filler(65536 - 11) + "CTCSS=77.0\r\n", "COM3", "77.0", true},
      {"300 KB", filler(65536) + std::string(300'000, '#') + "\r\nCTCSS=100.0\r\n", "COM3", "",
       true},
  };
  for (const Case& c : cases) {
    World w;
    w.folder.Write("config.txt", c.file);
    w.app.Load();
    EXPECT_EQ(w.form.HPORT.Text(), c.port) << c.name;
    EXPECT_EQ(w.form.ComboST.Text(), c.tone) << c.name;
    if (c.cut) {
      EXPECT_THAT(w.Log(), ElementsAre("Error: " + w.folder.File("config.txt") +
                                       " es demasiado grande: solo se leen sus primeros "
                                       "65536 bytes"))
          << c.name;
    } else {
      EXPECT_THAT(w.Log(), IsEmpty()) << c.name;
    }
  }
}

TEST(Settings, AMissingFileIsCreatedWithItsDefaultsAndReadBack) {
  World w;
  w.app.Load();
  EXPECT_EQ(w.folder.Read("config.txt"), "Puerto=COM1\r\nCTCSS=88.5\r\n");
  EXPECT_EQ(w.folder.Read("config.txt")->size(), 25u);
  EXPECT_EQ(w.form.HPORT.Text(), "COM1");
  EXPECT_EQ(w.form.ComboST.Text(), "88.5");
  EXPECT_EQ(w.form.Command3.Caption(), "CTCSS 88.5");
}

TEST(Settings, AFileThatCannotBeUsedLeavesALineAndTheBoxesEmpty) {
  World w;
  std::filesystem::create_directory(w.folder.File("config.txt"));
  w.app.Load();
  ASSERT_EQ(w.Log().size(), 1u);
  EXPECT_THAT(w.Log()[0], HasSubstr("Error: no se pudo crear la configuración"));
  EXPECT_THAT(w.Log()[0], HasSubstr("config.txt"));
  EXPECT_EQ(w.form.HPORT.Text(), "");
  EXPECT_EQ(w.form.Command3.Caption(), "CTCSS ");
}

TEST(Settings, LoadingRemovesWhatAKilledSaveLeftAndNothingElse) {
  World w;
  w.folder.Write("config.txt", "Puerto=COM4\r\nCTCSS=100.0\r\n");
  const std::string leftover = "config.txt.0123456789abcdef.tmp";
  const std::vector<std::string> others = {
      "config.txt.0123456789abcdeg.tmp", "config.txt.0123456789abcde.tmp",
      "config.txt.0123456789abcdef.tmp.bak", "otro.txt.0123456789abcdef.tmp", "Velkor.exe"};
  w.folder.Write(leftover, "Puerto=COM9\r\n");
  for (const auto& name : others) w.folder.Write(name, "x");
  w.app.Load();
  EXPECT_FALSE(w.folder.Read(leftover));
  for (const auto& name : others) EXPECT_TRUE(w.folder.Read(name)) << name;
  EXPECT_EQ(w.form.HPORT.Text(), "COM4");
}

TEST(Settings, TheFileLivesInTheProgramFolderAlsoAtTheRoot) {
  StdFiles root("/");
  World w;
  const Platform& p = w.platform;
  Platform atRoot{p.clock, p.pump, p.tcp, p.tracker, p.processes, root, p.messages, p.programEnd};
  Settings settings(w.form, atRoot, w.app.channel);
  EXPECT_EQ(std::filesystem::path(settings.Ruta()).lexically_normal(), "/config.txt");
  EXPECT_EQ(Settings(w.form, w.platform, w.app.channel).Ruta(), w.folder.Path() + "/config.txt");
}

}  // namespace
}  // namespace pasotune::test
