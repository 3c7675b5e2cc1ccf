#include <gtest/gtest.h>

#include "platform/text.hpp"

namespace pasotune {
namespace {

TEST(Cp1252, RoundTripsWhatItCanHold) {
  const std::string utf8 = "Satélite: 145,95 € ñ “x” Ÿ";
  const std::string bytes = Utf8ToCp1252(utf8);
  EXPECT_EQ(bytes, "Sat\xE9lite: 145,95 \x80 \xF1 \x93x\x94 \x9F");
  EXPECT_EQ(Cp1252ToUtf8(bytes), utf8);
}

TEST(Cp1252, WhatItCannotHoldBecomesQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1252("Ω→🛰"), "???");
  EXPECT_EQ(Utf8ToCp1252("a\xC3"), "a?");       // cut short
  EXPECT_EQ(Utf8ToCp1252("\xFF\x80z"), "??z");  // not UTF-8 at all
  EXPECT_EQ(Utf8ToCp1252("\xE2\x82z"), "??z");  // bad continuation
}

TEST(Cp1252, EveryByteDecodes) {
  for (int b = 0; b < 256; ++b) {
    const std::string byte(1, static_cast<char>(b));
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(byte)), byte) << b;
  }
}

}  // namespace
}  // namespace pasotune
