// StdFiles on Windows: attributes, files other programs hold, wide names.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "platform/std_files.hpp"
#include "support.hpp"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace pasotune::test {
namespace {
namespace fs = std::filesystem;

const std::string kOld = "Puerto=COM12\r\nCTCSS=100.0\r\nuna línea de más\r\n";
const std::string kNew = "Puerto=COM3\r\nCTCSS=88.5\r\n";

std::wstring W(const std::string& utf8) {
  return Native(utf8).wstring();
}

DWORD Attributes(const std::string& path) {
  return ::GetFileAttributesW(W(path).c_str());
}

std::string ErrorOf(auto&& call) {
  try {
    call();
  } catch (const PortError& e) {
    return e.what();
  }
  return "";
}

// What each attribute means to the file's presence and to a save.
struct AttributeCase {
  const char* name;
  DWORD attributes;
  bool plain;  // counts as present
  bool saved;
};

class Attribute : public testing::TestWithParam<AttributeCase> {};

TEST_P(Attribute, CountsAndSavesAsAPlainWriteWould) {
  const AttributeCase& c = GetParam();
  Folder folder;
  const std::string config = folder / "config.txt";
  Put(config, kOld);
  ASSERT_TRUE(::SetFileAttributesW(W(config).c_str(), c.attributes));
  StdFiles files(folder.Path());

  EXPECT_EQ(files.IsPlainFile(config), c.plain);
  const std::string error = ErrorOf([&] { files.WriteBytes(config, kNew); });

  EXPECT_EQ(error.empty(), c.saved) << error;
  EXPECT_EQ(Contents(config), c.saved ? kNew : kOld);
  // Wine marks every file for archiving.
  const DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
  EXPECT_EQ(Attributes(config) & kept, c.attributes & kept);
  EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"config.txt"});
  ::SetFileAttributesW(W(config).c_str(), FILE_ATTRIBUTE_NORMAL);
}

INSTANTIATE_TEST_SUITE_P(
    Win32Files, Attribute,
    testing::Values(AttributeCase{"Archive", FILE_ATTRIBUTE_ARCHIVE, true, true},
                    AttributeCase{"ReadOnly", FILE_ATTRIBUTE_READONLY, true, false},
                    AttributeCase{"Hidden", FILE_ATTRIBUTE_HIDDEN, false, false},
                    AttributeCase{"System", FILE_ATTRIBUTE_SYSTEM, false, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The old file against another program holding it open: refused while it is
// held shut, written when it is shared as a plain write needs.
struct HeldCase {
  const char* name;
  DWORD share;
  bool saved;
};

class Held : public testing::TestWithParam<HeldCase> {};

TEST_P(Held, ByAnotherProgram) {
  Folder folder;
  const std::string config = folder / "config.txt";
  Put(config, kOld);
  HANDLE other = ::CreateFileW(W(config).c_str(), GENERIC_READ, GetParam().share, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);

  const std::string error = ErrorOf([&] { StdFiles(folder.Path()).WriteBytes(config, kNew); });
  ::CloseHandle(other);

  EXPECT_EQ(error.empty(), GetParam().saved) << error;
  EXPECT_EQ(Contents(config), GetParam().saved ? kNew : kOld);
  EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"config.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Win32Files, Held,
    testing::Values(HeldCase{"Shut", 0, false}, HeldCase{"ReadShared", FILE_SHARE_READ, false},
                    HeldCase{"ReadWriteShared", FILE_SHARE_READ | FILE_SHARE_WRITE, true},
                    HeldCase{"FullyShared", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             true}),
    [](const auto& info) { return std::string(info.param.name); });

// A write stopped half way, as by a full disk: files.full_disk runs these
// under a limit on the size of any file the process writes.
class FullDisk : public testing::TestWithParam<HeldCase> {};

TEST_P(FullDisk, LeavesTheOldFileWhole) {
  const char* limit = std::getenv("PASOTUNE_FILE_SIZE_LIMIT");
  if (!limit) GTEST_SKIP() << "run by files.full_disk, under a file size limit";
  Folder folder;
  const std::string config = folder / "config.txt";
  Put(config, kOld);
  // Held without sharing its deletion, the file is written in place.
  HANDLE other = ::CreateFileW(W(config).c_str(), GENERIC_READ, GetParam().share, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);

  const std::string error = ErrorOf(
      [&] { StdFiles(folder.Path()).WriteBytes(config, std::string(2 * std::stoul(limit), 'x')); });
  ::CloseHandle(other);

  EXPECT_NE(error, "");
  EXPECT_EQ(Contents(config), kOld);
  EXPECT_EQ(Names(folder.Path()), std::set<std::string>{"config.txt"});
}

INSTANTIATE_TEST_SUITE_P(
    Win32Files, FullDisk,
    testing::Values(HeldCase{"Replacing", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                             false},
                    HeldCase{"InPlace", FILE_SHARE_READ | FILE_SHARE_WRITE, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Win32Files, NonAsciiNamesReachTheSystemAsTheSameLetters) {
  Folder folder;
  const std::wstring wideFolder = W(folder.Path()) + L"\\a\u00f1o";
  ASSERT_TRUE(::CreateDirectoryW(wideFolder.c_str(), nullptr));
  const std::string config = folder / "año/config.txt";
  StdFiles files(folder.Path());

  files.WriteBytes(config, kOld);
  files.WriteBytes(config, kNew);

  EXPECT_NE(::GetFileAttributesW((wideFolder + L"\\config.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(files.IsPlainFile(config));
  EXPECT_EQ(files.ReadBytes(config, 1024), kNew);
}

TEST(Win32Files, DevicesAreNoFilesToRead) {
  StdFiles files("");
  EXPECT_NE(ErrorOf([&] { files.ReadBytes("NUL", 1024); }).find("no es un archivo normal"),
            std::string::npos);
}

}  // namespace
}  // namespace pasotune::test
