// What StdFiles does the same on every system.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "app/settings.hpp"
#include "platform/std_files.hpp"
#include "support.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

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

// Leftovers of a killed save go; names that only look alike, and a folder
// of that name, stay.
TEST(StdFiles, RemovesLeftoversOfExactlyTheNamesAWriteMakes) {
  Folder folder;
  const std::string config = folder / "config.txt";
  Put(config, kOld);
  const std::string leftover = StdFiles::TemporaryName(config, 0xfedcba9876543210u);
  Put(leftover, kNew);
  const std::string asFolder = StdFiles::TemporaryName(config, 2);
  fs::create_directory(Native(asFolder));
  const std::set<std::string> others = {
      "config.txt.fedcba987654321g.tmp", "config.txt.fedcba987654321.tmp",
      "config.txt.fedcba9876543210.tmpx", "xconfig.txt.fedcba9876543210.tmp"};
  for (const auto& name : others) Put(folder / name, "x");

  StdFiles(folder.Path()).RemoveLeftovers(config);

  std::set<std::string> expected = others;
  expected.insert("config.txt");
  expected.insert(Utf8(Native(asFolder).filename()));
  EXPECT_EQ(Names(folder.Path()), expected);
}

// Makes a write of the file go in place: another program holding it open
// without sharing its deletion on Windows, a second hard link elsewhere.
class KeptInPlace {
 public:
  explicit KeptInPlace(const std::string& path) {
#ifdef _WIN32
    held_ = ::CreateFileW(Native(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
#else
    fs::create_hard_link(Native(path), Native(path + ".link"));
#endif
  }
  ~KeptInPlace() {
#ifdef _WIN32
    ::CloseHandle(held_);
#endif
  }
  KeptInPlace(const KeptInPlace&) = delete;
  KeptInPlace& operator=(const KeptInPlace&) = delete;

 private:
#ifdef _WIN32
  HANDLE held_;
#endif
};

// The port and tone the settings reader takes from bytes ("-" for none).
std::string ReadsAs(std::string_view bytes) {
  std::string port = "-", tone = "-";
  for (std::string_view line : SplitLines(bytes)) {
    if (line.find("Puerto=") != std::string_view::npos) port = RemoveAll(line, "Puerto=");
    if (line.find("CTCSS=") != std::string_view::npos) tone = RemoveAll(line, "CTCSS=");
  }
  return port + " " + tone;
}

// An in-place write stopped or failed at each of its steps: the file, seen
// before every step (what a kill there leaves) and at the end, always reads
// as the old settings or the new ones, and a failure leaves the old bytes.
struct InPlaceCase {
  const char* name;
  std::string old, now;
};

class InPlace : public testing::TestWithParam<InPlaceCase> {};

TEST_P(InPlace, EveryMomentReadsAsTheOldSettingsOrTheNew) {
  const auto& [name, old, now] = GetParam();
  const std::string readsOld = ReadsAs(old), readsNew = ReadsAs(now);
  ASSERT_NE(readsOld, readsNew);
  constexpr int kSteps = 4;  // write, sync, cut, sync cut
  for (int failAt = 0; failAt <= kSteps; ++failAt) {
    SCOPED_TRACE("failing step " + std::to_string(failAt));
    Folder folder;
    const std::string config = folder / "config.txt";
    Put(config, old);
    std::vector<std::string> seen;
    std::string error;
    {
      KeptInPlace keep(config);
      StdFiles files(folder.Path());
      int step = 0;
      files.SetStepHook([&](const char* stepName) {
        seen.push_back(std::string(stepName) + ": " + Contents(config).value_or("(none)"));
        return step++ == failAt;
      });
      error = ErrorOf([&] { files.WriteBytes(config, now); });
    }
    EXPECT_EQ(seen.size(), failAt < kSteps ? kSteps + 1 + failAt : kSteps);
    seen.push_back("end: " + Contents(config).value_or("(none)"));
    for (const std::string& moment : seen) {
      const std::string bytes = moment.substr(moment.find(": ") + 2);
      const std::string reads = ReadsAs(bytes);
      EXPECT_TRUE(reads == readsOld || reads == readsNew) << moment << "\nreads as " << reads;
    }
    EXPECT_EQ(error.empty(), failAt == kSteps) << error;
    EXPECT_EQ(Contents(config), failAt == kSteps ? now : old);
  }
}

INSTANTIATE_TEST_SUITE_P(
    StdFiles, InPlace,
    testing::Values(
        InPlaceCase{"Shorter", "CTCSS=100.0\r\nPuerto=COM12\r\nPuerto=COM12\r\n",
                    "Puerto=COM3\r\nCTCSS=88.5\r\n"},
        InPlaceCase{"OddLengths", kOld, kNew},
        InPlaceCase{"Longer", kNew, "Puerto=COM12\r\nCTCSS=100.0\r\n"},
        InPlaceCase{"SameLength", "Puerto=COM2\r\nCTCSS=88.5\r\n", "Puerto=COM1\r\nCTCSS=67.0\r\n"},
        InPlaceCase{"OldWithoutLineEnd", "Puerto=COM12\r\nCTCSS=100.0 y más texto", kNew}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pasotune::test
