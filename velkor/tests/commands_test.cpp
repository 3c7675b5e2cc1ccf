#include <gtest/gtest.h>

#include <string>

#include "commands.hpp"
#include "sim_radio.hpp"
#include "text.hpp"

namespace velkor {
namespace {

using Kind = Command::Kind;

struct ParseCase {
  std::string line;
  std::optional<Kind> kind = std::nullopt;  // empty: must be rejected
  Band band = Band::kMain;
  std::int64_t hz = 0;
  Mode mode = Mode::kUsb;
  int tenths = 0;
  std::string port = {};
  std::string error = {};  // part of the reason when rejected
};

void PrintTo(const ParseCase& c, std::ostream* os) {
  *os << '"' << c.line << '"';
}

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, Parses) {
  const ParseCase& c = GetParam();
  const ParseResult parsed = parseCommand(c.line);
  if (!c.kind) {
    ASSERT_FALSE(parsed.command) << c.line;
    EXPECT_NE(parsed.error.find(c.error), std::string::npos) << parsed.error;
    return;
  }
  ASSERT_TRUE(parsed.command) << c.line << ": " << parsed.error;
  const Command& got = *parsed.command;
  EXPECT_EQ(got.kind, *c.kind);
  switch (got.kind) {
    case Kind::kSetPort:
      EXPECT_EQ(got.port, c.port);
      break;
    case Kind::kSetFrequency:
      EXPECT_EQ(got.band, c.band);
      EXPECT_EQ(got.hz, c.hz);
      break;
    case Kind::kSetMode:
      EXPECT_EQ(got.band, c.band);
      EXPECT_EQ(got.mode, c.mode);
      break;
    case Kind::kSetTone:
      EXPECT_EQ(got.tenthsHz, c.tenths);
      break;
    case Kind::kToneOff:
      break;
  }
}

ParseCase port(std::string line, std::string name) {
  return {std::move(line), Kind::kSetPort, Band::kMain, 0, Mode::kUsb, 0, std::move(name)};
}
ParseCase freq(std::string line, Band band, std::int64_t hz) {
  return {std::move(line), Kind::kSetFrequency, band, hz};
}
ParseCase mode(std::string line, Band band, Mode m) {
  return {std::move(line), Kind::kSetMode, band, 0, m};
}
ParseCase tone(std::string line, int tenths) {
  return {std::move(line), Kind::kSetTone, Band::kMain, 0, Mode::kUsb, tenths};
}
ParseCase bad(std::string line, std::string error) {
  ParseCase c{std::move(line), std::nullopt};
  c.error = std::move(error);
  return c;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ParseTest,
    ::testing::Values(
        port("SETPORT COM1", "COM1"), port("SETPORT com20 ", "com20"),
        freq("SET FREQ MAIN 432.1500", Band::kMain, 432'150'000),
        freq("SET FREQ SUB 145.9501", Band::kSub, 145'950'100),
        freq("SET FREQ SUB 145,9500", Band::kSub, 145'950'000),
        freq("SET FREQ MAIN 0.0000", Band::kMain, 0),
        freq("SET FREQ MAIN 1296.123456", Band::kMain, 1'296'123'456),
        freq("SET FREQ MAIN 435", Band::kMain, 435'000'000),
        mode("SET MODE MAIN USB", Band::kMain, Mode::kUsb),
        mode("SET MODE SUB lsb", Band::kSub, Mode::kLsb),
        mode("SET MODE SUB CW-R", Band::kSub, Mode::kCwR),
        mode("SET MODE SUB cwr", Band::kSub, Mode::kCwR),
        mode("SET MODE MAIN FM-N", Band::kMain, Mode::kFmN),
        mode("SET MODE MAIN fmn", Band::kMain, Mode::kFmN),
        mode("SET MODE MAIN AM", Band::kMain, Mode::kAm),
        mode("SET MODE MAIN Fm", Band::kMain, Mode::kFm), tone("SET TONE 88.5", 885),
        tone("SET TONE 100.0", 1000), tone("SET TONE 77,0", 770), tone("SET TONE 67", 670),
        ParseCase{"SET TONE OFF", Kind::kToneOff}, ParseCase{"SET TONE off", Kind::kToneOff},
        bad("SETPORT ", "SETPORT sin puerto"), bad("HELLO", "orden desconocida: HELLO"),
        bad("set freq main 435.0000", "orden desconocida"), bad("SET FREQ", "orden desconocida"),
        bad("SET FREQ MIAN 435.0000", "MAIN o SUB"), bad("SET FREQ MAIN", "MAIN o SUB"),
        bad("SET FREQ MAIN abc", "frecuencia no válida: abc"),
        bad("SET FREQ MAIN -1.0000", "no válida"), bad("SET FREQ MAIN 1.2.3", "no válida"),
        bad("SET FREQ MAIN 435.", "no válida"), bad("SET FREQ MAIN .5", "no válida"),
        bad("SET FREQ MAIN 1.1234567", "no válida"), bad("SET FREQ MAIN 123456.0", "no válida"),
        bad("SET FREQ MAIN 4 35", "no válida"), bad("SET FREQ MAIN 1e9", "no válida"),
        bad("SET MODE SUB XYZ", "modo desconocido: XYZ"), bad("SET MODE SUB", "MAIN o SUB"),
        bad("SET TONE 88.55", "tono no válido"), bad("SET TONE 0.0", "tono no válido"),
        bad("SET TONE ON", "tono no válido"), bad("SET TONE", "orden desconocida"),
        bad("SET VOLUME 3", "orden desconocida"),
        // Far more digits than any value may have: refused before the value can overflow.
        freq("SET FREQ MAIN 99999.999999", Band::kMain, 99'999'999'999),
        tone("SET TONE 9999.9", 99'999), bad("SET TONE 99999999999999999999", "tono no válido"),
        bad("SET TONE 99999999999999999999.5", "tono no válido"),
        bad("SET FREQ MAIN 99999999999999999999", "frecuencia no válida"),
        bad("SET FREQ SUB 922337203685477580800.0", "frecuencia no válida"),
        bad("SET FREQ SUB 000000000000000000000435.0", "frecuencia no válida"),
        bad(std::string("SETPORT COM1\0x", 14), "no es un nombre de puerto"),
        bad("SETPORT " + std::string(256, 'A'), "no es un nombre de puerto"),
        // Only COM1 to COM20: a device is the user's to map in velkor.conf, never the client's.
        bad("SETPORT /dev/ptmx", "/dev/ptmx: no es un nombre de puerto (COM1 a COM20"),
        bad("SETPORT COM21", "no es un nombre de puerto"), bad("SETPORT COM0", "no es un"),
        bad("SETPORT COM01", "no es un"), bad("SETPORT \\\\.\\COM1", "no es un")));

TEST(Dispatcher, NeedsAPortFirstAndSaysSoOnce) {
  SimRadio radio;
  Dispatcher dispatcher(radio, {"NOT DONE velkor.conf línea 2: clave desconocida «x»; se ignora"});
  EXPECT_EQ(dispatcher.handle("SET FREQ MAIN 435.0000").reply, "ERROR " + std::string(kNoPortOpen));
  for (const char* line : {"SET MODE SUB USB", "SET TONE 88.5", "SET TONE OFF"}) {
    EXPECT_EQ(dispatcher.handle(line).reply, std::nullopt) << line;
  }
  EXPECT_EQ(radio.frequency(Band::kMain), 435'000'000);  // the sim's start value, untouched
  // The answer to SETPORT says what the engine drives, then what it did not take from its file.
  const Handled ready = dispatcher.handle("SETPORT COM3");
  EXPECT_EQ(ready.reply, "Velkor READY: radio simulado en COM3; nada sale del ordenador");
  EXPECT_EQ(ready.more, std::vector<std::string>{
                            "NOT DONE velkor.conf línea 2: clave desconocida «x»; se ignora"});
  // Once a run: not again after the next answer, and never after a name refused unseen.
  EXPECT_TRUE(dispatcher.handle("SETPORT COM4").more.empty());
  EXPECT_TRUE(dispatcher.handle("SETPORT /dev/ttyS0").more.empty());
}

// The program takes any reply holding "ERROR" for a broken link, so only what the user has to
// act on may say it; a value the radio cannot take is one "NOT DONE" line saying what.
struct ReplyCase {
  std::string line;
  std::optional<std::string> reply;  // the whole reply; empty: silent
};

void PrintTo(const ReplyCase& c, std::ostream* os) {
  *os << '"' << printable(c.line, 80) << '"';
}

class SimDispatchTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(SimDispatchTest, SaysErrorOnlyWhenTheUserMustAct) {
  SimRadio radio;
  Dispatcher dispatcher(radio);
  ASSERT_EQ(dispatcher.handle("SETPORT COM1").reply->rfind(kReadyReply, 0), 0u);
  const Handled handled = dispatcher.handle(GetParam().line);
  EXPECT_EQ(handled.reply, GetParam().reply);
  if (!handled.reply) return;
  // One bounded line of printable text whatever came in.
  EXPECT_LE(handled.reply->size(), kEchoChars * 4 + 100);
  for (const char c : *handled.reply) EXPECT_GE(static_cast<unsigned char>(c), 0x20u);
  const bool error = handled.reply->rfind("ERROR ", 0) == 0;
  EXPECT_EQ(handled.reply->find("ERROR", error ? 1 : 0), std::string::npos) << *handled.reply;
  EXPECT_EQ(handled.reply->find(kReadyReply) != std::string::npos,
            handled.reply->rfind(kReadyReply, 0) == 0);
}

const std::string kEllipsis = "\xE2\x80\xA6";
const std::string kNotAPort =
    ": no es un nombre de puerto (COM1 a COM20; los dispositivos, en velkor.conf)";

std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  for (std::size_t i = 0; i < times; ++i) out += piece;
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    TheSimulatedTs790, SimDispatchTest,
    ::testing::Values(
        ReplyCase{"SET FREQ MAIN 432.1500", std::nullopt},
        ReplyCase{"SET FREQ SUB 1296.0000", std::nullopt},
        ReplyCase{"SET MODE MAIN CW-R", std::nullopt}, ReplyCase{"SET TONE 88.5", std::nullopt},
        ReplyCase{"", std::nullopt},
        ReplyCase{"SETPORT COM2", "Velkor READY: radio simulado en COM2; nada sale del ordenador"},
        // What the follower sends for a satellite without uplink, an HF downlink, a mode or a
        // tone the TS-790 lacks: not done, and said so without the word.
        ReplyCase{"SET FREQ MAIN 0.0000",
                  "NOT DONE MAIN frecuencia 0.000000 MHz: fuera de las bandas del TS-790"},
        ReplyCase{"SET FREQ SUB 29.0000",
                  "NOT DONE SUB frecuencia 29.000000 MHz: fuera de las bandas del TS-790"},
        ReplyCase{"SET MODE MAIN AM", "NOT DONE MAIN modo AM: el TS-790 no tiene AM"},
        ReplyCase{"SET MODE SUB PKTUSB", "NOT DONE SUB modo USB-D: el TS-790 no tiene USB-D"},
        ReplyCase{"SET MODE SUB DIGITAL", "NOT DONE modo desconocido: DIGITAL"},
        ReplyCase{"SET TONE 69.3",
                  "NOT DONE tono 69.3 Hz: el TS-790 no tiene el tono CTCSS de 69.3 Hz"},
        ReplyCase{"SET TONE 99999999999999999999", "NOT DONE tono no válido: 99999999999999999999"},
        ReplyCase{"BOGUS", "NOT DONE orden desconocida: BOGUS"},
        // Echoed text can never carry the words the program reacts to.
        ReplyCase{"SET MODE SUB ERROR", "NOT DONE modo desconocido: \\x45RROR"},
        ReplyCase{"SET MODE SUB Velkor READY", "NOT DONE modo desconocido: \\x56elkor READY"},
        ReplyCase{"HELLO \xC2\x85\x1B[2J", "NOT DONE orden desconocida: HELLO \\x85\\x1B[2J"},
        // A port that cannot be opened needs the user; its name comes back escaped and cut.
        ReplyCase{"SETPORT COM0", "ERROR COM0" + kNotAPort},
        ReplyCase{"SETPORT /dev/ttyUSB0", "ERROR /dev/ttyUSB0" + kNotAPort},
        ReplyCase{std::string("SETPORT COM1\0\0", 14), "ERROR COM1\\x00\\x00" + kNotAPort},
        ReplyCase{"SETPORT " + std::string(4000, '\x01'),
                  "ERROR " + repeat("\\x01", 64) + kEllipsis + kNotAPort},
        ReplyCase{"SETPORT " + std::string(200, 'X'),
                  "ERROR " + std::string(64, 'X') + kEllipsis + kNotAPort},
        ReplyCase{"SETPORT ERROR", "ERROR \\x45RROR" + kNotAPort}));

TEST(Dispatcher, FailedSetPortLeavesNoPortOpen) {
  for (const std::string& bad :
       {std::string("SETPORT COM257"), std::string("SETPORT COM1\0", 13)}) {
    SimRadio radio;
    Dispatcher dispatcher(radio);
    dispatcher.handle("SETPORT COM1");
    EXPECT_EQ(dispatcher.handle(bad).reply->rfind("ERROR COM", 0), 0u);
    EXPECT_EQ(*dispatcher.handle("SET TONE OFF").reply, "ERROR " + std::string(kNoPortOpen));
  }
}

}  // namespace
}  // namespace velkor
