// pasotune-feed's options and records, the same for the D-Bus and the DDE
// publisher.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "feed_options.hpp"

namespace pasotune::feed {
namespace {

using Args = std::vector<std::string>;

TEST(FeedOptions, RefusesWhatItCannotUse) {
  const struct {
    Args args;
    const char* why;
  } cases[] = {
      {{}, "elija una de"},
      {{"--pass", "--once", "X"}, "elija una de"},
      {{"--bogus"}, "Opción desconocida «bogus»."},
      {{"-x", "--pass"}, "Opción desconocida «x»."},
      {{"--file"}, "Falta el valor de «--file»."},
      {{"--pass", "--loop=yes"}, "«--loop» no lleva valor."},
      {{"--once", "SNAO-07", "DN145950000"}, "Argumento de más: «DN145950000»."},
      {{"--file", "r.txt", "--interval", "0"}, "--interval"},
      {{"--file", "r.txt", "--interval", "1.5"}, "--interval"},
      {{"--pass", "--modes", "USB"}, "--modes"},
      {{"--pass", "--modes", "USB,"}, "--modes"},
      {{"--pass", "--modes", "USB,LSB,FM"}, "--modes"},
      {{"--pass", "--speed", "0"}, "--speed"},
      {{"--pass", "--speed", "1001"}, "--speed"},
      {{"--pass", "--duration", "nan"}, "--duration"},
      {{"--pass", "--duration", "0.5"}, "--duration"},
      {{"--pass", "--start", "9999"}, "--start"},
      {{"--pass", "--start", "-1"}, "--start"},
      {{"--pass", "--start", "1,5"}, "--start"},
      // Only what a record can carry as given, and periods that fit.
      {{"--pass", "--speed", "0.0000001"}, "--speed pide un factor de 0.01 a 1000"},
      {{"--pass", "--name", "X\" UP999 DMAM \"Y"}, "--name pide"},
      {{"--pass", "--name", " AO-07"}, "--name pide"},
      {{"--pass", "--modes", "USB,L\rSB"}, "--modes"},
      {{"--gpredict", "--name", "AO-07\xC2\x85UP1"}, "--name pide"},
      {{"--gpredict", "--name", std::string(65, 'N')}, "--name pide"},
      {{"--gpredict", "--down-mode", "USB\vUP1"}, "--down-mode pide"},
  };
  for (const auto& c : cases) {
    std::string line;
    for (const std::string& a : c.args) line += a + " ";
    const Parsed p = ParseArguments(c.args, "Publishes.");
    EXPECT_FALSE(p.options) << line;
    // A value refused names its option first; a command line not understood gives 1.
    EXPECT_EQ(p.exitCode, c.why[0] == '-' ? 2 : 1) << line;
    EXPECT_NE(p.message.find(c.why), std::string::npos) << line << ": " << p.message;
  }
}

TEST(FeedOptions, ReadsEveryFormTheLastOneWinning) {
  const Parsed once = ParseArguments(
      {"--once=SNAO-07 DN1", "--service", "A", "--service", "B", "--topic=T", "--quiet"}, "");
  ASSERT_TRUE(once.options) << once.message;
  EXPECT_EQ(once.options->mode, Mode::kOnce);
  EXPECT_EQ(once.options->once, "SNAO-07 DN1");
  EXPECT_EQ(once.options->service, "B");
  EXPECT_EQ(once.options->topic, "T");
  EXPECT_EQ(once.options->item, "TrackingData");
  EXPECT_TRUE(once.options->quiet);
  EXPECT_FALSE(once.options->exitAtEnd);

  const Parsed pass = ParseArguments({"--pass", "--speed", " 2.5 ", "--modes", "USB,LSB", "--start",
                                      "+10", "--duration", "1e2", "--name", "AO-07", "--loop"},
                                     "");
  ASSERT_TRUE(pass.options) << pass.message;
  EXPECT_EQ(pass.options->mode, Mode::kPass);
  EXPECT_EQ(pass.options->speed, 2.5);
  EXPECT_EQ(pass.options->startS, 10);
  EXPECT_EQ(pass.options->pass.durationS, 100);
  EXPECT_EQ(pass.options->pass.name, "AO-07");
  EXPECT_EQ(pass.options->pass.downMode, "USB");
  EXPECT_EQ(pass.options->pass.upMode, "LSB");
  EXPECT_TRUE(pass.options->loop);

  // A record may begin with a dash: the value after an option is taken whole.
  const Parsed dash = ParseArguments({"--once", "--pass"}, "");
  ASSERT_TRUE(dash.options) << dash.message;
  EXPECT_EQ(dash.options->once, "--pass");

  const Parsed help = ParseArguments({"--pass", "-h"}, "Publishes records.");
  EXPECT_FALSE(help.options);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* part :
       {"Uso: pasotune-feed", "Publishes records.", "--stdin", "--once <registro>"}) {
    EXPECT_NE(help.message.find(part), std::string::npos) << part;
  }
}

std::vector<std::string> Drain(Records& r, std::size_t atMost = 100) {
  std::vector<std::string> out;
  while (out.size() < atMost) {
    std::optional<std::string> next = r.next();
    if (!next) break;
    out.push_back(*next);
  }
  return out;
}

TEST(FeedRecords, FileLinesInOrderWithoutBlanksEachWithTheTrackersLineEnd) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "pasotune-feed-records-\xC3\xB1.txt";
  std::ofstream(path, std::ios::binary) << "SNA DN1\r\nSNA DN2\n\n\r\nSNA DN3";
  Options o;
  o.mode = Mode::kFile;
  o.file = reinterpret_cast<const char*>(path.u8string().c_str());
  o.intervalMs = 150;
  Records once = MakeRecords(o);
  ASSERT_TRUE(once.next) << once.error;
  EXPECT_EQ(once.periodMs, 150);
  EXPECT_EQ(Drain(once), (std::vector<std::string>{"SNA DN1\r\n", "SNA DN2\r\n", "SNA DN3\r\n"}));
  o.loop = true;
  Records again = MakeRecords(o);
  EXPECT_EQ(Drain(again, 4),
            (std::vector<std::string>{"SNA DN1\r\n", "SNA DN2\r\n", "SNA DN3\r\n", "SNA DN1\r\n"}));

  std::ofstream(path, std::ios::binary) << "\r\n\n";
  EXPECT_NE(MakeRecords(o).error.find("no tiene ningún registro"), std::string::npos);
  std::filesystem::remove(path);
  const Records missing = MakeRecords(o);
  EXPECT_FALSE(missing.next);
  EXPECT_NE(missing.error.find("no se puede leer"), std::string::npos) << missing.error;
}

TEST(FeedRecords, PassFromItsStartToItsEndAtItsSpeed) {
  Options o;
  o.mode = Mode::kPass;
  o.pass.durationS = 10;
  o.startS = 7;
  o.speed = 4;
  Records r = MakeRecords(o);
  EXPECT_EQ(r.periodMs, 250);
  EXPECT_EQ(Drain(r), (std::vector<std::string>{RecordAt(o.pass, 7), RecordAt(o.pass, 8),
                                                RecordAt(o.pass, 9), RecordAt(o.pass, 10)}));
}

TEST(FeedRecords, LinesWholeAsTheyComeAndTheLastWithoutLineEnd) {
  LineSplitter lines;
  EXPECT_EQ(lines.Add("SNA DN1\n"), std::vector<std::string>{"SNA DN1"});
  EXPECT_EQ(lines.Add("SNA DN2\r\nSNA "), std::vector<std::string>{"SNA DN2"});
  EXPECT_EQ(lines.Add("DN3\n\nta"), (std::vector<std::string>{"SNA DN3", ""}));
  EXPECT_EQ(lines.Add("il\r"), std::vector<std::string>{});
  EXPECT_EQ(lines.Finish(), "tail");
  EXPECT_EQ(lines.Finish(), std::nullopt);
}

}  // namespace
}  // namespace pasotune::feed
