// StdFiles on POSIX: permissions, links, special files and failed writes.
// Every write runs in a child process: as nobody when the tests run as root,
// so that permissions count as they do for a user, and under an alarm, so
// that a write that hangs fails the test instead of blocking it.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/std_files.hpp"
#include "support.hpp"

namespace pasotune::test {
namespace {
namespace fs = std::filesystem;

const std::string kOld = "Puerto=COM12\r\nCTCSS=100.0\r\nuna línea de más\r\n";
const std::string kNew = "Puerto=COM3\r\nCTCSS=88.5\r\n";
constexpr std::uint64_t kSeed = 7;

bool Root() {
  return ::geteuid() == 0;
}

struct User {
  uid_t uid;
  gid_t gid;
};
constexpr User kRootUser{0, 0};

// Who the tests write as: nobody when run as root, so permissions count.
User Writer() {
  if (!Root()) return {::geteuid(), ::getegid()};
  const passwd* pw = ::getpwnam("nobody");
  return pw ? User{pw->pw_uid, pw->pw_gid} : User{65534, 65534};
}

void Own(const std::string& path, User user) {
  if (Root()) {
    ASSERT_EQ(::lchown(path.c_str(), user.uid, user.gid), 0) << path;
  }
}

void MakeFolder(const std::string& path, User owner) {
  ASSERT_EQ(::mkdir(path.c_str(), 0755), 0) << path;
  Own(path, owner);
}

struct stat Status(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

std::string LinkText(const std::string& path) {
  char buffer[4096];
  const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
  return n < 0 ? "" : std::string(buffer, static_cast<std::size_t>(n));
}

struct Outcome {
  bool ok = false;
  bool skipped = false;
  std::string error;  // the PortError's text, or why the child failed
};

struct Child {
  bool asRoot = false;  // keep root's privileges
  rlim_t fileSizeLimit = RLIM_INFINITY;
  // Runs first, still with every privilege; a text back skips the test.
  std::function<std::string()> before = nullptr;
};

Outcome InChild(const Child& setup, const std::function<void()>& act) {
  int fds[2];
  if (::pipe(fds) != 0) return {false, false, "pipe"};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    auto say = [&](const std::string& text) {
      if (::write(fds[1], text.data(), text.size())) {
      }
      ::_exit(0);
    };
    ::alarm(20);
    if (setup.before) {
      const std::string skip = setup.before();
      if (!skip.empty()) say("S" + skip);
    }
    if (Root() && !setup.asRoot) {
      const User user = Writer();
      if (::setgroups(0, nullptr) != 0 || ::setgid(user.gid) != 0 || ::setuid(user.uid) != 0) {
        say("Xcannot become nobody");
      }
    }
    if (setup.fileSizeLimit != RLIM_INFINITY) {
      std::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{setup.fileSizeLimit, setup.fileSizeLimit};
      if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) say("Xsetrlimit");
    }
    ::umask(022);
    try {
      act();
      say("W");
    } catch (const PortError& e) {
      say(std::string("E") + e.what());
    } catch (const std::exception& e) {
      say(std::string("Xunexpected exception: ") + e.what());
    }
  }
  ::close(fds[1]);
  std::string reply;
  char buffer[4096];
  for (ssize_t n; (n = ::read(fds[0], buffer, sizeof buffer)) > 0;) reply.append(buffer, n);
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) {
    return {false, false, "child ended by signal " + std::to_string(WTERMSIG(status))};
  }
  if (reply.empty()) return {false, false, "child said nothing"};
  return {reply[0] == 'W', reply[0] == 'S', reply.substr(1)};
}

Outcome Write(const std::string& path, const std::string& bytes, const Child& setup = {}) {
  return InChild(setup, [&] { StdFiles("", kSeed).WriteBytes(path, bytes); });
}

// A program folder "prog" inside a fresh folder, both the writer's.
struct Place {
  Place() {
    Own(root.Path(), Writer());
    MakeFolder(prog, Writer());
  }
  Folder root;
  const std::string prog = root / "prog";
  const std::string config = prog + "/config.txt";
};

// Who may write what, and whether the file is replaced or rewritten in place.
enum class Who { kWriter, kRoot };

struct PermissionCase {
  const char* name;
  mode_t folderMode;
  int fileMode;  // -1: no file before the write
  Who owner;     // of the file before the write
  Who writer;
  bool hardLinked;
  bool saved;
  bool inPlace;  // the same file afterwards, not a new one
};

class Permissions : public testing::TestWithParam<PermissionCase> {};

TEST_P(Permissions, SaveAsAPlainWriteWouldAndKeepModeAndOwner) {
  const PermissionCase& c = GetParam();
  if ((c.owner == Who::kRoot || c.writer == Who::kRoot) && !Root()) {
    GTEST_SKIP() << "needs root to have a file of another owner";
  }
  Place place;
  const std::string other = place.prog + "/other.txt";
  const bool existed = c.fileMode >= 0;
  struct stat before {};
  if (existed) {
    Put(place.config, kOld);
    ASSERT_EQ(::chmod(place.config.c_str(), static_cast<mode_t>(c.fileMode)), 0);
    Own(place.config, c.owner == Who::kRoot ? kRootUser : Writer());
    if (c.hardLinked) {
      ASSERT_EQ(::link(place.config.c_str(), other.c_str()), 0);
    }
    before = Status(place.config);
  }
  ASSERT_EQ(::chmod(place.prog.c_str(), c.folderMode), 0);

  const Outcome out = Write(place.config, kNew, {.asRoot = c.writer == Who::kRoot});

  EXPECT_EQ(out.ok, c.saved) << out.error;
  const std::optional<std::string> kept = existed ? std::optional(kOld) : std::nullopt;
  EXPECT_EQ(Contents(place.config), c.saved ? kNew : kept);
  if (existed) {
    const struct stat after = Status(place.config);
    EXPECT_EQ(after.st_mode & 07777, static_cast<mode_t>(c.fileMode));
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
    EXPECT_EQ(after.st_ino == before.st_ino, c.inPlace || !c.saved);
  } else if (c.saved) {
    EXPECT_EQ(Status(place.config).st_mode & 07777, 0644u);
    EXPECT_EQ(Status(place.config).st_uid, Writer().uid);
  }
  if (c.hardLinked) {
    EXPECT_EQ(Contents(other), Contents(place.config));
  }
  std::set<std::string> names;
  if (existed || c.saved) names.insert("config.txt");
  if (c.hardLinked) names.insert("other.txt");
  EXPECT_EQ(Names(place.prog), names);
}

INSTANTIATE_TEST_SUITE_P(
    PosixFiles, Permissions,
    testing::Values(
        // name, folder, file, owner, writer, hard link, saved, in place
        PermissionCase{"NewFile", 0755, -1, Who::kWriter, Who::kWriter, false, true, false},
        PermissionCase{"ReplacedKeepingItsMode", 0755, 0640, Who::kWriter, Who::kWriter, false,
                       true, false},
        PermissionCase{"ReadOnlyFolderWritableFile", 0555, 0644, Who::kWriter, Who::kWriter, false,
                       true, true},
        PermissionCase{"ReadOnlyFile", 0755, 0444, Who::kWriter, Who::kWriter, false, false, false},
        PermissionCase{"ReadOnlyFileInReadOnlyFolder", 0555, 0444, Who::kWriter, Who::kWriter,
                       false, false, false},
        PermissionCase{"NoFileInReadOnlyFolder", 0555, -1, Who::kWriter, Who::kWriter, false, false,
                       false},
        PermissionCase{"HardLinked", 0755, 0644, Who::kWriter, Who::kWriter, true, true, true},
        PermissionCase{"RootKeepsTheOwner", 0755, 0600, Who::kWriter, Who::kRoot, false, true,
                       false},
        PermissionCase{"AnotherOwnersWritableFile", 0755, 0666, Who::kRoot, Who::kWriter, false,
                       true, true}),
    [](const auto& info) { return std::string(info.param.name); });

// config.txt as a symbolic link: the link stays, the file it points to is
// written in its own folder.
struct LinkCase {
  const char* name;
  const char* link;  // what config.txt points to; "@" stands for the root folder
  const char* hop;   // when set, config.txt points here and this points on
  int targetMode;    // of real/config.txt, -1: absent
  mode_t realFolderMode;
  bool saved;
};

class Linked : public testing::TestWithParam<LinkCase> {};

TEST_P(Linked, WritesThroughTheLinkToItsTarget) {
  const LinkCase& c = GetParam();
  Place place;
  const std::string real = place.root / "real";
  const std::string target = real + "/config.txt";
  MakeFolder(real, Writer());
  std::string link = c.link;
  if (link[0] == '@') link = place.root.Path() + link.substr(1);
  const std::string first = c.hop ? std::string(c.hop) : link;
  ASSERT_EQ(::symlink(first.c_str(), place.config.c_str()), 0);
  Own(place.config, Writer());
  if (c.hop) {
    const std::string hop = place.prog + "/" + c.hop;
    ASSERT_EQ(::symlink(link.c_str(), hop.c_str()), 0);
    Own(hop, Writer());
  }
  if (c.targetMode >= 0) {
    Put(target, kOld);
    ASSERT_EQ(::chmod(target.c_str(), static_cast<mode_t>(c.targetMode)), 0);
    Own(target, Writer());
  }
  ASSERT_EQ(::chmod(real.c_str(), c.realFolderMode), 0);

  const Outcome out = Write(place.config, kNew);

  EXPECT_EQ(out.ok, c.saved) << out.error;
  EXPECT_EQ(LinkText(place.config), first);
  const bool existed = c.targetMode >= 0;
  EXPECT_EQ(Contents(target), c.saved   ? std::optional(kNew)
                              : existed ? std::optional(kOld)
                                        : std::nullopt);
  if (c.saved) {
    EXPECT_EQ(Status(target).st_mode & 07777, existed ? static_cast<mode_t>(c.targetMode) : 0644u);
  }
  EXPECT_EQ(Names(real), std::set<std::string>{"config.txt"});
  std::set<std::string> names{"config.txt"};
  if (c.hop) names.insert(c.hop);
  EXPECT_EQ(Names(place.prog), names);
}

INSTANTIATE_TEST_SUITE_P(
    PosixFiles, Linked,
    testing::Values(LinkCase{"Relative", "../real/config.txt", nullptr, 0640, 0755, true},
                    LinkCase{"Absolute", "@/real/config.txt", nullptr, 0640, 0755, true},
                    LinkCase{"TwoHops", "../real/config.txt", "hop.txt", 0640, 0755, true},
                    LinkCase{"ToNothingYet", "../real/config.txt", nullptr, -1, 0755, true},
                    LinkCase{"ToAReadOnlyFile", "../real/config.txt", nullptr, 0444, 0755, false},
                    LinkCase{"IntoAReadOnlyFolder", "../real/config.txt", nullptr, 0644, 0555,
                             true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PosixFiles, ThingsPlantedAtTemporaryNamesAreNeverOpened) {
  Place place;
  const std::string victim = place.root / "victim.txt";
  const std::string absent = place.root / "absent.txt";
  Put(victim, "not yours");
  ASSERT_EQ(::chmod(victim.c_str(), 0666), 0);
  const std::string legacy = place.config + ".tmp";
  const std::string linked = StdFiles::TemporaryName(place.config, kSeed);
  const std::string fifo = StdFiles::TemporaryName(place.config, kSeed + 1);
  const std::string dangling = StdFiles::TemporaryName(place.config, kSeed + 2);
  Put(place.config, kOld);
  Own(place.config, Writer());
  ASSERT_EQ(::symlink(victim.c_str(), legacy.c_str()), 0);
  ASSERT_EQ(::symlink(victim.c_str(), linked.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
  ASSERT_EQ(::symlink(absent.c_str(), dangling.c_str()), 0);

  const Outcome out = Write(place.config, kNew);

  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(Contents(place.config), kNew);
  EXPECT_EQ(Contents(victim), "not yours");
  EXPECT_FALSE(fs::exists(absent));
  EXPECT_TRUE(S_ISLNK(Status(legacy).st_mode));
  EXPECT_TRUE(S_ISLNK(Status(linked).st_mode));
  EXPECT_TRUE(S_ISFIFO(Status(fifo).st_mode));
  EXPECT_TRUE(S_ISLNK(Status(dangling).st_mode));
  EXPECT_EQ(Names(place.prog).size(), 5u);
}

// Something at config.txt that is no plain file: refused both ways, at once.
struct SpecialCase {
  const char* name;
  void (*make)(const std::string& config, const std::string& folder);
  const char* why;
};

class Special : public testing::TestWithParam<SpecialCase> {};

TEST_P(Special, IsRefusedWithoutBlockingAndLeftAsItWas) {
  Place place;
  GetParam().make(place.config, place.prog);
  const mode_t kind = Status(place.config).st_mode & S_IFMT;
  const std::set<std::string> names = Names(place.prog);
  StdFiles files("");

  const Outcome read = InChild({}, [&] { files.ReadBytes(place.config, 64 * 1024); });
  const Outcome write = InChild({}, [&] { files.WriteBytes(place.config, kNew); });

  EXPECT_FALSE(read.ok);
  EXPECT_FALSE(write.ok);
  EXPECT_NE(read.error.find(GetParam().why), std::string::npos) << read.error;
  EXPECT_NE(write.error.find(GetParam().why), std::string::npos) << write.error;
  EXPECT_FALSE(files.IsPlainFile(place.config));
  EXPECT_EQ(Status(place.config).st_mode & S_IFMT, kind);
  EXPECT_EQ(Names(place.prog), names);
}

INSTANTIATE_TEST_SUITE_P(
    PosixFiles, Special,
    testing::Values(SpecialCase{"Fifo",
                                [](const std::string& config, const std::string&) {
                                  ASSERT_EQ(::mkfifo(config.c_str(), 0666), 0);
                                },
                                "no es un archivo normal"},
                    SpecialCase{"LinkToDevNull",
                                [](const std::string& config, const std::string&) {
                                  ASSERT_EQ(::symlink("/dev/null", config.c_str()), 0);
                                },
                                "no es un archivo normal"},
                    SpecialCase{"LinkToDevZero",
                                [](const std::string& config, const std::string&) {
                                  ASSERT_EQ(::symlink("/dev/zero", config.c_str()), 0);
                                },
                                "no es un archivo normal"},
                    SpecialCase{"LinkToAFolder",
                                [](const std::string& config, const std::string& folder) {
                                  ASSERT_EQ(::mkdir((folder + "/sub").c_str(), 0755), 0);
                                  ASSERT_EQ(::symlink("sub", config.c_str()), 0);
                                },
                                "es una carpeta"}),
    [](const auto& info) { return std::string(info.param.name); });

// A write that fails half way, as on a full disk: the old file stays whole,
// whether it was being replaced or rewritten in place.
struct FailCase {
  const char* name;
  mode_t folderMode;
};

class FailedWrite : public testing::TestWithParam<FailCase> {};

TEST_P(FailedWrite, LeavesTheOldFileWhole) {
  Place place;
  Put(place.config, kOld);
  Own(place.config, Writer());
  const ino_t inode = Status(place.config).st_ino;
  ASSERT_EQ(::chmod(place.prog.c_str(), GetParam().folderMode), 0);

  const Outcome out = Write(place.config, std::string(8192, 'x'), {.fileSizeLimit = 4096});

  EXPECT_FALSE(out.ok);
  EXPECT_NE(out.error.find(std::strerror(EFBIG)), std::string::npos) << out.error;
  EXPECT_EQ(Contents(place.config), kOld);
  EXPECT_EQ(Status(place.config).st_ino, inode);
  EXPECT_EQ(Names(place.prog), std::set<std::string>{"config.txt"});
}

INSTANTIATE_TEST_SUITE_P(PosixFiles, FailedWrite,
                         testing::Values(FailCase{"Replacing", 0755}, FailCase{"InPlace", 0555}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PosixFiles, AFileMountedOverIsWrittenInPlace) {
  if (!Root()) GTEST_SKIP() << "needs root to mount";
  Place place;
  const std::string outside = place.root / "outside.txt";
  Put(place.config, "under the mount");
  Put(outside, kOld);

  const Outcome out =
      Write(place.config, kNew,
            {.asRoot = true, .before = [&]() -> std::string {
               if (::unshare(CLONE_NEWNS) != 0 ||
                   ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                   ::mount(outside.c_str(), place.config.c_str(), nullptr, MS_BIND, nullptr) != 0) {
                 return std::string("cannot mount: ") + std::strerror(errno);
               }
               return "";
             }});

  if (out.skipped) GTEST_SKIP() << out.error;
  EXPECT_TRUE(out.ok) << out.error;
  EXPECT_EQ(Contents(outside), kNew);
  EXPECT_EQ(Contents(place.config), "under the mount");
  EXPECT_EQ(Names(place.prog), std::set<std::string>{"config.txt"});
}

// Leftovers of a killed save: only the writer's own plain files of exactly
// that name go; a link is neither followed nor removed.
TEST(PosixFiles, RemovesOnlyTheWritersOwnPlainLeftovers) {
  Place place;
  Put(place.config, kOld);
  const std::string mine = StdFiles::TemporaryName(place.config, 1);
  const std::string foreign = StdFiles::TemporaryName(place.config, 2);
  const std::string link = StdFiles::TemporaryName(place.config, 3);
  const std::string fifo = StdFiles::TemporaryName(place.config, 4);
  const std::string outside = place.root / "outside.txt";
  for (const auto& path : {mine, foreign, outside}) Put(path, "bytes");
  Own(mine, Writer());
  Own(foreign, Root() ? kRootUser : Writer());
  ASSERT_EQ(::symlink(outside.c_str(), link.c_str()), 0);
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // config.txt may itself be a link: its leftovers lie beside its target.
  const std::string other = place.root / "other";
  MakeFolder(other, Writer());
  const std::string linked = other + "/config.txt";
  Put(linked, kOld);
  ASSERT_EQ(::symlink(linked.c_str(), (place.prog + "/linked.txt").c_str()), 0);
  const std::string besideTarget = StdFiles::TemporaryName(linked, 5);
  Put(besideTarget, "bytes");
  Own(besideTarget, Writer());

  const Outcome out = InChild({}, [&] {
    StdFiles files("");
    files.RemoveLeftovers(place.config);
    files.RemoveLeftovers(place.prog + "/linked.txt");
  });

  ASSERT_TRUE(out.ok) << out.error;
  const auto exists = [](const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
  };
  EXPECT_FALSE(exists(mine));
  EXPECT_FALSE(exists(besideTarget));
  EXPECT_EQ(exists(foreign), Root()) << "another user's file stays";
  EXPECT_TRUE(exists(link));
  EXPECT_EQ(Contents(outside), "bytes");
  EXPECT_TRUE(exists(fifo));
  EXPECT_EQ(Contents(place.config), kOld);
}

}  // namespace
}  // namespace pasotune::test
