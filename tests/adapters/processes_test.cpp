#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QTemporaryDir>
#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/posix/posix_processes.hpp"

namespace pasotune {
namespace {

namespace fs = std::filesystem;

// Not the engine's name: these tests end processes by name, and must never
// meet an engine, wherever they run.
constexpr const char* kName = "PasotuneProbeEngine.exe";

// /proc/<pid>/stat: "pid (comm) S ppid pgrp session ..."; comm may hold
// blanks, so fields are counted after the last ')'.
std::vector<std::string> StatFields(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  std::getline(in, line);
  std::vector<std::string> fields;
  const std::size_t close = line.rfind(')');
  if (close == std::string::npos) return fields;
  std::istringstream rest(line.substr(close + 1));
  for (std::string f; rest >> f;) fields.push_back(f);
  return fields;  // [0] state, [1] ppid, [2] pgrp, [3] session
}

bool Running(int pid) {
  const auto f = StatFields(pid);
  return !f.empty() && f[0] != "Z" && f[0] != "X";
}

// Blocks until the process is gone, at most timeoutMs; a pidfd wakes us
// when it exits, whoever's child it is.
bool WaitGone(int pid, int timeoutMs) {
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return errno == ESRCH;
  pollfd p{fd, POLLIN, 0};
  const int n = ::poll(&p, 1, timeoutMs);
  ::close(fd);
  return n == 1;
}

class PosixProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(dir.isValid()); }
  void TearDown() override {
    for (int pid : started) {
      ::kill(pid, SIGKILL);
      WaitGone(pid, 5000);
    }
    for (int pid : forked) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
  }
  std::string Probe(const std::string& name) {
    const fs::path to = fs::path(dir.path().toStdString()) / name;
    fs::copy_file(PROBE_PATH, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms::owner_all);
    return to.string();
  }
  int Spawn(const std::string& path) {
    const int pid = processes.Spawn(path);
    started.push_back(pid);
    return pid;
  }

  // Runs path with these real and effective user ids (root only); returns
  // once it has been executed, or -1 when the ids cannot be taken here
  // (a user namespace maps no other user).
  int SpawnAs(const std::string& path, uid_t real, uid_t effective) {
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      const gid_t nobody = 65534;
      if (::setgroups(0, nullptr) == 0 && ::setresgid(nobody, nobody, nobody) == 0 &&
          ::setresuid(real, effective, effective) == 0) {
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        ::execv(path.c_str(), argv);
      }
      const char failed = 1;
      [[maybe_unused]] const ssize_t n = ::write(ready[1], &failed, 1);
      ::_exit(127);
    }
    ::close(ready[1]);
    char byte = 0;
    ssize_t n;
    // Closed on exec: end of file says the image is in place.
    while ((n = ::read(ready[0], &byte, 1)) < 0 && errno == EINTR) {
    }
    ::close(ready[0]);
    if (pid < 0) return -1;
    if (n != 0) {
      ::waitpid(pid, nullptr, 0);
      return -1;
    }
    forked.push_back(pid);
    return pid;
  }

  QTemporaryDir dir;
  PosixProcesses processes;
  std::vector<int> started;
  std::vector<int> forked;  // our own children, reaped here
};

TEST_F(PosixProcessesTest, EndsEveryProcessOfExactlyThatName) {
  const int engine1 = Spawn(Probe(kName));
  // The same name from another folder counts too.
  const fs::path other = fs::path(dir.path().toStdString()) / "other";
  fs::create_directory(other);
  fs::copy_file(PROBE_PATH, other / kName);
  const int engine2 = Spawn((other / kName).string());
  std::vector<int> bystanders;
  for (const char* name :
       {"pasotuneprobeengine.exe", "PasotuneProbeEngine.exe.old", "xPasotuneProbeEngine.exe",
        "PasotuneProbeEngine", "PasotuneProbeEngine.ex"}) {
    bystanders.push_back(Spawn(Probe(name)));
  }
  for (int pid : bystanders) ASSERT_TRUE(Running(pid)) << pid;

  processes.EndByImageName(kName);
  EXPECT_TRUE(WaitGone(engine1, 5000));
  EXPECT_TRUE(WaitGone(engine2, 5000));
  for (int pid : bystanders) {
    EXPECT_TRUE(Running(pid)) << pid;
    ::kill(pid, SIGKILL);
    EXPECT_TRUE(WaitGone(pid, 5000)) << pid;
  }
}

// Root may end anyone's processes; the program ends only those of its own
// (real) user, as it could on Windows.
TEST_F(PosixProcessesTest, EndsOnlyProcessesOfTheSameRealUser) {
  if (::getuid() != 0) GTEST_SKIP() << "starting a process as another user needs root";
  const uid_t self = ::getuid();
  const uid_t other = 65534;
  fs::permissions(dir.path().toStdString(), fs::perms::owner_all | fs::perms::group_read |
                                                fs::perms::group_exec | fs::perms::others_read |
                                                fs::perms::others_exec);
  const std::string engine = Probe(kName);
  fs::permissions(engine, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
  const struct {
    uid_t real, effective;
    bool ended;
  } cases[] = {{other, other, false}, {other, self, false}, {self, other, true}};
  std::vector<int> pids;
  for (const auto& c : cases) {
    pids.push_back(SpawnAs(engine, c.real, c.effective));
    if (pids.back() < 0) GTEST_SKIP() << "no other user id to be had here";
    ASSERT_TRUE(Running(pids.back()));
  }
  processes.EndByImageName(kName);
  for (std::size_t i = 0; i < pids.size(); ++i) {
    EXPECT_EQ(WaitGone(pids[i], cases[i].ended ? 5000 : 300), cases[i].ended)
        << "real uid " << cases[i].real << ", effective " << cases[i].effective;
  }
}

// A rebuild deletes the running engine's file and writes a new one: the old
// engine still holds the port and must go. A file that is merely named so
// is not the engine.
TEST_F(PosixProcessesTest, ADeletedEngineStillCountsANameEndingInDeletedDoesNot) {
  const std::string engine = Probe(kName);
  const int replaced = Spawn(engine);
  fs::remove(engine);
  Probe(kName);
  const int named = Spawn(Probe(kName + std::string(" (deleted)")));
  const fs::path other = fs::path(dir.path().toStdString()) / "other";
  fs::create_directory(other);
  fs::copy_file(PROBE_PATH, other / (kName + std::string(" (deleted)")));
  const int namedAndDeleted = Spawn((other / (kName + std::string(" (deleted)"))).string());
  fs::remove(other / (kName + std::string(" (deleted)")));

  processes.EndByImageName(kName);
  EXPECT_TRUE(WaitGone(replaced, 5000));
  EXPECT_FALSE(WaitGone(named, 300));
  EXPECT_FALSE(WaitGone(namedAndDeleted, 300));
}

TEST_F(PosixProcessesTest, StartsDetachedWithNothingInherited) {
  // A descriptor left open across exec by mistake must still stay here.
  const int leak = ::open("/dev/zero", O_RDONLY);
  ASSERT_GE(leak, 0);
  const std::string path = Probe("Detached.exe");
  const int pid = Spawn(path);
  ::close(leak);
  // The loader opens and closes libraries first: look once it is settled.
  for (int i = 0; i < 500 && !fs::exists(path + ".ready"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(Running(pid));
  const auto stat = StatFields(pid);
  ASSERT_GE(stat.size(), 4u);
  EXPECT_EQ(stat[3], std::to_string(pid)) << "leads its own session";
  std::vector<std::string> fds;
  for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    fds.push_back(e.path().filename().string());
    if (std::stoi(fds.back()) <= 2) {
      EXPECT_EQ(fs::read_symlink(e.path()), "/dev/null") << fds.back();
    }
  }
  std::sort(fds.begin(), fds.end());
  EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));

  // Reaped once dead: it leaves /proc altogether instead of staying a zombie.
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(WaitGone(pid, 5000));
  bool vanished = false;
  for (int i = 0; i < 500 && !vanished; ++i) {
    vanished = !fs::exists("/proc/" + std::to_string(pid));
    if (!vanished) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(vanished);
}

TEST_F(PosixProcessesTest, StartRefusesWhatCannotRun) {
  const std::string folder = dir.path().toStdString();
  std::ofstream(folder + "/plain.txt") << "not a program\n";
  const struct {
    std::string path;
    const char* why;
  } cases[] = {
      {folder + "/missing.exe", "No such file"},
      {folder, "not a file"},
      {folder + "/plain.txt", "not executable"},
      {"", "No such file"},
  };
  for (const auto& c : cases) {
    try {
      processes.Start(c.path);
      ADD_FAILURE() << "started " << c.path;
    } catch (const PortError& e) {
      EXPECT_NE(std::string(e.what()).find(c.why), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
    }
  }
}

// Whatever ends a started process, its end is told once, through the post,
// with the system's cause.
TEST_F(PosixProcessesTest, TellsHowAStartedProcessEnded) {
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<std::function<void()>> posted;
  processes.SetPost([&](std::function<void()> fn) {
    const std::lock_guard<std::mutex> lock(mutex);
    posted.push_back(std::move(fn));
    arrived.notify_all();
  });
  std::vector<std::string> told;
  processes.SetEnded([&](const std::string& cause) { told.push_back(cause); });
  const struct {
    const char* name;
    int signal;  // 0: it exits by itself
    const char* cause;
  } cases[] = {
      // Not SIGSEGV: AddressSanitizer takes that one and exits with 1.
      {"Sleeper.exe", SIGABRT, "por la señal 6 (SIGABRT)"},
      {"Sleeper.exe", SIGKILL, "por la señal 9 (SIGKILL)"},
      {"ExitsWith3.exe", 0, "con el código de salida 3"},
  };
  for (const auto& c : cases) {
    const int pid = Spawn(Probe(c.name));
    if (c.signal != 0) {
      for (int i = 0; i < 500 && !fs::exists(dir.path().toStdString() + "/" + c.name + ".ready");
           ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      ::kill(pid, c.signal);
    }
    std::unique_lock<std::mutex> lock(mutex);
    ASSERT_TRUE(arrived.wait_for(lock, std::chrono::seconds(10), [&] { return !posted.empty(); }))
        << c.cause;
    const auto fn = std::move(posted.back());
    posted.clear();
    lock.unlock();
    told.clear();
    fn();
    EXPECT_EQ(told, std::vector<std::string>{c.cause});
    fs::remove(dir.path().toStdString() + "/" + c.name + ".ready");
  }
}

// Another PID namespace's engine (a container's, another test run's) shows
// in our /proc under our user id, but is not ours to end.
TEST_F(PosixProcessesTest, LeavesProcessesOfAnotherPidNamespaceAlone) {
  const std::string probe = Probe(kName);
  const pid_t outer = ::fork();
  if (outer == 0) {
    ::execlp("unshare", "unshare", "--pid", "--fork", "--kill-child", probe.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ASSERT_GT(outer, 0);
  forked.push_back(outer);
  int inner = 0;
  for (int i = 0; i < 500 && inner == 0; ++i) {
    for (const auto& e : fs::directory_iterator("/proc")) {
      const std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      if (std::stoi(name) != outer && ImageNameOfProcess(std::stoi(name)) == kName) {
        inner = std::stoi(name);
      }
    }
    if (inner == 0) {
      int status = 0;
      if (::waitpid(outer, &status, WNOHANG) == outer) {
        forked.clear();
        GTEST_SKIP() << "no PID namespace to be had here";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ASSERT_NE(inner, 0);
  processes.EndByImageName(kName);
  EXPECT_FALSE(WaitGone(inner, 300));
}

TEST_F(PosixProcessesTest, NeverEndsTheCallingProcess) {
  const std::string path = Probe("EndsOwnName.exe");
  const int pid = Spawn(path);
  ASSERT_TRUE(WaitGone(pid, 5000));
  std::ifstream note(path + ".alive");
  std::string word;
  note >> word;
  EXPECT_EQ(word, "alive");
}

}  // namespace
}  // namespace pasotune
