// What StdFiles does the same on every system.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/std_files.hpp"
#include "support.hpp"

namespace pasotune::test {
namespace {
namespace fs = std::filesystem;

constexpr std::size_t kLimit = 64 * 1024;
const std::string kOld = "Puerto=COM12\r\nCTCSS=100.0\r\nuna línea de más\r\n";
const std::string kNew = "Puerto=COM3\r\nCTCSS=88.5\r\n";

std::string ErrorOf(auto&& call) {
  try {
    call();
  } catch (const PortError& e) {
    return e.what();
  }
  return "";
}

// Created, then replaced, in folders named beyond ASCII too.
struct FolderCase {
  const char* name;
  const char* folder;
};

class FolderName : public testing::TestWithParam<FolderCase> {};

TEST_P(FolderName, CreatesThenReplacesTheFileAndLeavesNothingElse) {
  Folder root;
  const std::string folder = root / GetParam().folder;
  fs::create_directories(Native(folder));
  const std::string config = folder + "/config.txt";
  StdFiles files(folder);

  EXPECT_FALSE(files.IsPlainFile(config));
  files.WriteBytes(config, kOld);
  EXPECT_TRUE(files.IsPlainFile(config));
  EXPECT_EQ(files.ReadBytes(config, kLimit), kOld);
  files.WriteBytes(config, kNew);
  EXPECT_EQ(files.ReadBytes(config, kLimit), kNew);
  EXPECT_EQ(Contents(config), kNew);
  EXPECT_EQ(Names(folder), std::set<std::string>{"config.txt"});
}

INSTANTIATE_TEST_SUITE_P(StdFiles, FolderName,
                         testing::Values(FolderCase{"Ascii", "plain"},
                                         FolderCase{"NonAscii", "año"},
                                         FolderCase{"NonAsciiNested", "Ωmega ñandú/año"}),
                         [](const auto& info) { return std::string(info.param.name); });

// What ReadBytes returns for a file of a given size: never more than the limit.
struct ReadCase {
  const char* name;
  std::uintmax_t size;
};

class ReadLimit : public testing::TestWithParam<ReadCase> {};

TEST_P(ReadLimit, ReadsAtMostTheLimitFromTheStart) {
  Folder folder;
  const std::string path = folder / "config.txt";
  const std::string head = "Puerto=COM2\r\n";
  // The rest is a hole, so even a huge file costs no disk.
  Put(path, head);
  fs::resize_file(Native(path), GetParam().size);
  std::string expected = head;
  expected.resize(static_cast<std::size_t>(std::min<std::uintmax_t>(GetParam().size, kLimit)));

  EXPECT_EQ(StdFiles(folder.Path()).ReadBytes(path, kLimit), expected);
}

INSTANTIATE_TEST_SUITE_P(StdFiles, ReadLimit,
                         testing::Values(ReadCase{"Empty", 0}, ReadCase{"Short", 5},
                                         ReadCase{"JustBelow", kLimit - 1},
                                         ReadCase{"Exactly", kLimit},
                                         ReadCase{"JustAbove", kLimit + 1},
                                         ReadCase{"ThreeHundredMegabytes", 300u << 20}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(StdFiles, AFolderOrNothingIsNoFileToReadOrWrite) {
  Folder folder;
  const std::string dir = folder / "config.txt";
  fs::create_directory(Native(dir));
  StdFiles files(folder.Path());

  EXPECT_FALSE(files.IsPlainFile(dir));
  EXPECT_FALSE(files.IsPlainFile(folder / "missing.txt"));
  EXPECT_NE(ErrorOf([&] { files.ReadBytes(dir, kLimit); }).find("es una carpeta"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { files.WriteBytes(dir, kNew); }).find("es una carpeta"),
            std::string::npos);
  EXPECT_NE(ErrorOf([&] { files.ReadBytes(folder / "missing.txt", kLimit); }), "");
  EXPECT_TRUE(fs::is_directory(Native(dir)));
}

TEST(StdFiles, StepsOverLeftoverTemporaryFilesWithoutTouchingThem) {
  Folder folder;
  const std::string config = folder / "config.txt";
  Put(config, kOld);
  constexpr std::uint64_t seed = 41;
  const std::string leftover1 = StdFiles::TemporaryName(config, seed);
  const std::string leftover2 = StdFiles::TemporaryName(config, seed + 1);
  Put(leftover1, "a crash left this");
  Put(leftover2, "and this");

  StdFiles(folder.Path(), seed).WriteBytes(config, kNew);

  EXPECT_EQ(Contents(config), kNew);
  EXPECT_EQ(Contents(leftover1), "a crash left this");
  EXPECT_EQ(Contents(leftover2), "and this");
  EXPECT_EQ(Names(folder.Path()).size(), 3u);
}

}  // namespace
}  // namespace pasotune::test
