#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "line_splitter.hpp"
#include "text.hpp"

namespace velkor {
namespace {

struct Cp1252Case {
  const char* name;
  std::string cp1252;
  std::string utf8;
};

void PrintTo(const Cp1252Case& c, std::ostream* os) {
  *os << c.name;
}

class Cp1252Test : public ::testing::TestWithParam<Cp1252Case> {};

TEST_P(Cp1252Test, DecodesAndEncodesBack) {
  EXPECT_EQ(cp1252ToUtf8(GetParam().cp1252), GetParam().utf8);
  EXPECT_EQ(utf8ToCp1252(GetParam().utf8), GetParam().cp1252);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, Cp1252Test,
    ::testing::Values(Cp1252Case{"Ascii", "SET TONE 88.5", "SET TONE 88.5"},
                      Cp1252Case{"Latin1", "\xE9t\xE9", "\xC3\xA9t\xC3\xA9"},
                      Cp1252Case{"Euro", "\x80", "\xE2\x82\xAC"},
                      Cp1252Case{"CapitalYDiaeresis", "\x9F", "\xC5\xB8"},
                      Cp1252Case{"NoBreakSpaceAndSmallYDiaeresis", "\xA0\xFF", "\xC2\xA0\xC3\xBF"},
                      Cp1252Case{"Nul", std::string("\0x", 2), std::string("\0x", 2)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Cp1252, UndefinedBytesKeepTheirValueAndUnmappableCharactersBecomeMarkers) {
  // As Windows reads them: the C1 code point of the same value, so they survive a round trip.
  EXPECT_EQ(cp1252ToUtf8("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  EXPECT_EQ(utf8ToCp1252("\xE2\x98\x83 \xFF"), "? ?");  // a snowman, then a stray byte
}

struct ShownCase {
  std::string utf8;
  std::string printable;  // cut at 4 characters
  std::string echo;
};

void PrintTo(const ShownCase& c, std::ostream* os) {
  *os << c.echo;
}

class ShownTest : public ::testing::TestWithParam<ShownCase> {};

TEST_P(ShownTest, EscapesCutsAndDefuses) {
  EXPECT_EQ(printable(GetParam().utf8, 4), GetParam().printable);
  EXPECT_EQ(echoText(GetParam().utf8), GetParam().echo);
}

const std::string kCut = "\xE2\x80\xA6";

INSTANTIATE_TEST_SUITE_P(
    Texts, ShownTest,
    ::testing::Values(ShownCase{std::string("a\tb\0", 4), "a\\x09b\\x00", "a\\x09b\\x00"},
                      ShownCase{"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9",
                                "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9" + kCut,
                                "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9"},
                      // C1 controls, as undefined Windows-1252 bytes decode, and DEL.
                      ShownCase{"\xC2\x81\xC2\x9F\x7F", "\\x81\\x9F\\x7F", "\\x81\\x9F\\x7F"},
                      ShownCase{"ERROR", "ERRO" + kCut, "\\x45RROR"},
                      ShownCase{"Velkor READY", "Velk" + kCut, "\\x56elkor READY"},
                      ShownCase{"xERRORERROR", "xERR" + kCut, "x\\x45RROR\\x45RROR"},
                      // An escape's last hex digit must not start the word either.
                      ShownCase{"\x0ERROR", "\\x0ERRO" + kCut, "\\x0E\\x52ROR"},
                      ShownCase{"error Velkor ready", "erro" + kCut, "error Velkor ready"},
                      ShownCase{std::string(100, '\0'), "\\x00\\x00\\x00\\x00" + kCut, [] {
                                  std::string s;
                                  for (int i = 0; i < 64; ++i) s += "\\x00";
                                  return s + "\xE2\x80\xA6";
                                }()}));

// Bytes from a file, a device name or the radio: only the shortest form of a scalar value
// decodes, so nothing spells a marker, in the engine's echo or on the wire.
TEST(Malformed, NeverSpellsAMarker) {
  const std::string bad = "\xEF\xBF\xBD";
  const std::tuple<std::string, std::string, std::string> cases[] = {
      {"\xC1\x85RROR", bad + bad + "RROR", "??RROR"},
      {"\xC1\x96"
       "elkor READY",
       bad + bad + "elkor READY", "??elkor READY"},
      {"\xE0\x81\x8EOT", bad + bad + bad + "OT", "???OT"},
      // A surrogate, past U+10FFFF; then the highest well-formed ones pass.
      {"\xED\xA0\x80\xF4\x90", bad + bad + bad + bad + bad, "?????"},
      {"\xF4\x8F\xBF\xBF\xED\x9F\xBF", "\xF4\x8F\xBF\xBF\xED\x9F\xBF", "??"},
      {"NOT DONE", "\\x4EOT DONE", "NOT DONE"}};
  for (const auto& [utf8, echo, wire] : cases) {
    EXPECT_EQ(echoText(utf8), echo);
    EXPECT_EQ(utf8ToCp1252(utf8), wire);
  }
}

struct SplitCase {
  const char* name;
  std::vector<std::string> chunks;
  std::vector<std::string> expected;  // lines, "!" + prefix for an overlong one
  std::string partial;
};

void PrintTo(const SplitCase& c, std::ostream* os) {
  *os << c.name;
}

class SplitterTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitterTest, CutsLines) {
  LineSplitter splitter(8);
  std::vector<std::string> got;
  for (const auto& chunk : GetParam().chunks) {
    for (auto& piece : splitter.feed(chunk)) {
      got.push_back(piece.kind == LineSplitter::Piece::Kind::kTooLong ? "!" + piece.bytes
                                                                      : piece.bytes);
    }
  }
  EXPECT_EQ(got, GetParam().expected);
  EXPECT_EQ(splitter.takePartial(), GetParam().partial);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, SplitterTest,
    ::testing::Values(
        SplitCase{"CrLf", {"AB\r\nCD\r\n"}, {"AB", "CD"}, ""},
        SplitCase{"BareLf", {"AB\nCD\n"}, {"AB", "CD"}, ""},
        SplitCase{"SplitAcrossReads", {"A", "B\r", "\nC"}, {"AB"}, "C"},
        SplitCase{"EmptyLines", {"\r\n\n"}, {"", ""}, ""},
        SplitCase{"ExactlyAtCapWithCrLf", {"12345678\r", "\n"}, {"12345678"}, ""},
        SplitCase{"OneOverCap", {"123456789\nok\n"}, {"!123456789", "ok"}, ""},
        SplitCase{"OverlongOverManyReads",
                  {"1234567890", "abcdef", "ghi\r\nok\r\n"},
                  {"!123456789", "ok"},
                  ""},
        SplitCase{"OverlongUnfinishedLeavesNoPartial", {"1234567890abc"}, {"!123456789"}, ""},
        SplitCase{"LoneCrStaysInLine", {"A\rB\n"}, {"A\rB"}, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Splitter, SurvivesAMegabyteLineWithBoundedMemory) {
  LineSplitter splitter;
  const std::string junk(1 << 20, 'x');
  const auto pieces = splitter.feed(junk + "\r\nSET TONE OFF\r\n");
  ASSERT_EQ(pieces.size(), 2u);
  EXPECT_EQ(pieces[0].kind, LineSplitter::Piece::Kind::kTooLong);
  EXPECT_EQ(pieces[0].bytes.size(), LineSplitter::kTooLongPrefix);
  EXPECT_EQ(pieces[1].bytes, "SET TONE OFF");
}

}  // namespace
}  // namespace velkor
