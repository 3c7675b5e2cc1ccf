#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <thread>

#include "platform/win32/win32_clock.hpp"
#include "platform/win32/win32_system.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

TEST(Win32Platform, FolderOfTheModulePath) {
  const struct {
    const char* path;
    const char* folder;
  } cases[] = {
      {"C:\\Program Files\\Pasotune\\pasotune.exe", "C:\\Program Files\\Pasotune"},
      {"C:\\pasotune.exe", "C:\\"},
      {"c:/pasotune.exe", "c:/"},
      {"D:\\a\xC3\xB1o\\Velkor.exe", "D:\\a\xC3\xB1o"},
      {"\\\\server\\share\\radio\\pasotune.exe", "\\\\server\\share\\radio"},
      {"\\\\server\\share\\pasotune.exe", "\\\\server\\share\\"},
      {"\\\\?\\C:\\pasotune.exe", "\\\\?\\C:\\"},
      {"\\\\?\\C:\\long\\pasotune.exe", "\\\\?\\C:\\long"},
      {"\\\\?\\UNC\\server\\share\\pasotune.exe", "\\\\?\\UNC\\server\\share\\"},
      {"pasotune.exe", "."},
  };
  for (const auto& c : cases) EXPECT_EQ(FolderOfModulePath(c.path), c.folder) << c.path;
}

// The real thing: a copy of the probe in a folder with non-ASCII letters
// tells its folder in UTF-8.
TEST(Win32Platform, ModuleFolderIsWhereTheProgramIs) {
  test::TempFolder dir;
  const auto folder = dir.Path() / L"a\u00F1o \u20AC";
  const auto probe = test::CopyProbe(folder, L"probe.exe");
  const test::Run run = test::RunProgram(probe, L"--folder");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.output, test::Utf8(folder));
}

TEST(Win32Platform, DecimalSeparatorFromTheSetting) {
  const struct {
    const wchar_t* setting;
    char separator;
  } cases[] = {
      {L".", '.'}, {L",", ','}, {L"'", '\''}, {L"", '.'},       {L",,", '.'},
      {L" ", '.'}, {L"5", '.'}, {L"-", '.'},  {L"\u066B", '.'}, {L"\u00B7", '.'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DecimalSeparatorFrom(c.setting), c.separator) << test::Utf8(c.setting);
  }
}

TEST(Win32Platform, ProgramEndFlushesAndExitsAtOnce) {
  test::TempFolder dir;
  const auto probe = test::CopyProbe(dir.Path(), L"probe.exe");
  const test::Run run = test::RunProgram(probe, L"--end");
  ASSERT_TRUE(run.finished);
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(run.output, "flushed too");
}

TEST(Win32Platform, ClockGivesTheLocalSecondsOfTheDay) {
  Win32Clock clock;
  const std::time_t now = std::time(nullptr);
  const std::tm local = *std::localtime(&now);
  const double a = clock.SecondsSinceMidnight();
  const double expected = local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec;
  if (expected < 86398) {
    EXPECT_NEAR(a, expected, 2.0);
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  const double b = clock.SecondsSinceMidnight();
  EXPECT_GE(a, 0);
  EXPECT_LT(b, 86400);
  if (b > a) {  // unless midnight fell in between
    EXPECT_GE(b - a, 0.1);
    EXPECT_LT(b - a, 2.0);
  }
}

}  // namespace
}  // namespace pasotune
