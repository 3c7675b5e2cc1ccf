// What reaches a TS-790 through Hamlib: the real Velkor.exe with radio = hamlib and
// model = 2007 on a pseudo-terminal, and on the other side a stand-in that answers as the
// radio answers Hamlib and records every byte. The bytes are pinned, so a Hamlib upgrade that
// changes what the radio receives shows up here first.

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "ts790_standin.hpp"

extern char** environ;

namespace velkor {
namespace {

using test::Ts790;

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Fd {
  int fd = -1;
  explicit Fd(int f = -1) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velkor-wire-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;
  ~Folder() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The engine this test starts; ended by its pid only.
class Engine {
 public:
  // wrapper: what runs it, e.g. setpriv to run it as another user.
  explicit Engine(const std::filesystem::path& exe, std::vector<std::string> wrapper = {}) {
    // Without VELKOR_*, the engine reads the velkor.conf beside it, as a user's would.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::string_view(*e).rfind("VELKOR_", 0) != 0) env.emplace_back(*e);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    wrapper.push_back(exe.string());
    std::vector<char*> argv;
    for (auto& a : wrapper) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0) pid_ = -1;
    // Readable once it has ended, so a poll can wait for that too.
    if (pid_ > 0) ended.fd = static_cast<int>(::syscall(SYS_pidfd_open, pid_, 0));
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  ~Engine() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  Fd ended;

  pid_t pid() const { return pid_; }
  // The exit status once it has ended, -1 while it runs.
  int exited() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(pid_, &status, WNOHANG) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  void terminate() const {
    if (pid_ > 0) ::kill(pid_, SIGTERM);
  }

 private:
  pid_t pid_ = -1;
};

int connectTo9000() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(9000);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    return fd;
  }
  if (fd >= 0) ::close(fd);
  return -1;
}

// The radio's side of the line and the client's side of the engine, served by one poll loop.
class Bench {
 public:
  test::Line line;  // what Hamlib writes to the radio arrives on its master
  Fd client;        // the TCP connection to the engine
  int wake = -1;    // one more descriptor that ends a wait when readable
  Ts790 ts790;
  bool silent = false;  // a radio that is off, or on another speed: nothing comes back
  std::string wire;     // every byte the radio received but its status reads
  std::string replies;  // every byte the engine answered
  std::vector<std::string> conversation;

  // Serves both sides until done() or the deadline; false on the deadline.
  bool pump(const std::function<bool()>& done, std::chrono::milliseconds patience = 10s) {
    const auto deadline = Clock::now() + patience;
    while (!done()) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (left <= 0ms) return false;
      // A closed client (-1) is ignored by poll.
      // A silent radio is not read: with its line closed the master only reports a hang-up.
      pollfd fds[] = {
          {silent ? -1 : line.master, POLLIN, 0}, {client.fd, POLLIN, 0}, {wake, POLLIN, 0}};
      if (::poll(fds, 3, static_cast<int>(left.count()) + 1) < 0) return false;
      if (fds[0].revents != 0) serveRadio();
      if (fds[1].revents != 0) readReplies();
    }
    return true;
  }

  // What the radio received while the engine ended; nothing blocks.
  void drain() {
    ::fcntl(line.master, F_SETFL, ::fcntl(line.master, F_GETFL) | O_NONBLOCK);
    serveRadio();
  }

 private:
  void serveRadio() {
    line.serve(ts790, silent, [this](const std::string& command, const std::string& answer) {
      // Hamlib keeps the last status answer for half a second, so how many status reads
      // reach the radio depends on timing; they change nothing on it.
      if (command != "IF;") wire += command;
      conversation.push_back(command + (answer.empty() ? "" : "  -> " + answer));
    });
  }

  void readReplies() {
    char buffer[512];
    const ssize_t n = ::recv(client.fd, buffer, sizeof buffer, 0);
    if (n > 0) {
      replies.append(buffer, static_cast<std::size_t>(n));
    } else {
      ::close(client.fd);
      client.fd = -1;
    }
  }
};

struct Step {
  const char* line;
  const char* wire;   // what the radio receives but status reads (IF;), answers not included
  const char* reply;  // the engine's answer line, or empty when it is silent
};

// The stand-in starts on VFO A at 145.000000 MHz and VFO B at 435.000000 MHz, both FM, no
// tone. Bands as with bands = auto: MAIN is VFO A, SUB is VFO B.
constexpr Step kSteps[] = {
    // Hamlib's rig_open: identify, auto-information off, read both VFOs.
    {"SETPORT COM1", "ID;AI0;ID;FA;FB;", "Velkor READY: Kenwood TS-790 en COM1 (@, 4800 baudios)"},
    // A frequency: read, write, "ID;" to check the radio took it, read back by Hamlib, then by
    // the engine.
    {"SET FREQ MAIN 435.1234", "FA;FA00435123400;ID;FA;FA;", ""},
    {"SET FREQ SUB 145.9500", "FB;FB00145950000;ID;FB;FB;", ""},
    // MAIN's mode goes to the current VFO; SUB's makes Hamlib switch to VFO B and back.
    {"SET MODE MAIN USB", "MD2;ID;", ""},
    {"SET MODE SUB LSB", "FR1;ID;MD1;ID;FR0;ID;", ""},
    {"SET MODE MAIN CW-N", "MD3;ID;", ""},
    {"SET MODE SUB FM-N", "FR1;ID;MD4;ID;FR0;ID;", ""},
    {"SET MODE MAIN CW-R", "MD7;ID;", ""},
    {"SET MODE MAIN FM", "MD4;ID;", ""},
    // The tone through menu 57 and its number in the 38-tone list.
    {"SET TONE 88.5", "EX0570008;ID;", ""},
    {"SET TONE 250.3", "EX0570038;ID;", ""},
    {"SET TONE OFF", "", "NOT DONE tono apagado: Hamlib no sabe apagar el tono del Kenwood TS-790"},
    // What is already set is read, not written again.
    {"SET FREQ MAIN 435.1234", "FA;FA;FA;", ""},
    {"SET MODE MAIN FM", "", ""},
    // VFO B's mode Hamlib takes from its own memory: nothing at all reaches the radio.
    {"SET MODE SUB FM-N", "", ""},
    {"SET FREQ SUB 145.9498", "FB;FB00145949800;ID;FB;FB;", ""},
    // Refused before Hamlib is asked.
    {"SET MODE SUB AM", "", "NOT DONE SUB modo AM: el Kenwood TS-790 no tiene el modo AM"},
};

// The real engine on the stand-in's line, as a new installation has it: velkor.conf maps COM1
// to the pseudo-terminal and says nothing else.
struct Station {
  Folder folder;
  Bench bench;
  std::string device;
  std::unique_ptr<Engine> engine;

  // False (with a failure recorded) when it cannot be set up.
  bool start(const std::string& com1 = "", std::vector<std::string> wrapper = {}) {
    if (const int other = connectTo9000(); other >= 0) {
      ::close(other);
      ADD_FAILURE() << "port 9000 is taken by an engine this test did not start";
      return false;
    }
    device = bench.line.open();
    if (folder.path().empty() || device.empty()) {
      ADD_FAILURE() << "no folder or no pseudo-terminal";
      return false;
    }
    const auto exe = folder.path() / "Velkor.exe";
    std::filesystem::copy_file(VELKOR_EXE, exe);
    std::ofstream(folder.path() / "velkor.conf")
        << "COM1 = " << (com1.empty() ? device : com1) << "\n";
    // Another user may run it from here.
    std::filesystem::permissions(folder.path(), std::filesystem::perms::owner_all |
                                                    std::filesystem::perms::group_read |
                                                    std::filesystem::perms::group_exec |
                                                    std::filesystem::perms::others_read |
                                                    std::filesystem::perms::others_exec);
    engine = std::make_unique<Engine>(exe, std::move(wrapper));
    const auto connectBy = Clock::now() + 5s;
    while ((bench.client.fd = connectTo9000()) < 0 && Clock::now() < connectBy) {
      std::this_thread::sleep_for(50ms);
    }
    if (bench.client.fd < 0) ADD_FAILURE() << "the engine does not listen on 9000";
    return bench.client.fd >= 0;
  }

  void send(std::string_view line) {
    const std::string command = std::string(line) + "\r\n";
    ASSERT_EQ(::send(bench.client.fd, command.data(), command.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(command.size()));
  }

  // The replies that came within patience, once the first one has come.
  std::string replies(std::size_t from, std::chrono::milliseconds patience) {
    bench.pump([&] { return bench.replies.find("\r\n", from) != std::string::npos; }, patience);
    return bench.replies.substr(from);
  }
};

TEST(Ts790Wire, HamlibSendsTheseBytesForEachCommand) {
  Station station;
  ASSERT_TRUE(station.start());
  Bench& bench = station.bench;
  Engine& engine = *station.engine;
  const auto setPortAt = Clock::now();

  const std::string pinned = "pinned with Hamlib 4.5.4, built with Hamlib " VELKOR_HAMLIB_VERSION;
  std::string wantWire;
  std::string wantReplies;
  for (const Step& step : kSteps) {
    SCOPED_TRACE(step.line);
    const std::size_t wireFrom = bench.wire.size();
    const std::size_t repliesFrom = bench.replies.size();
    wantWire += step.wire;
    std::string reply = step.reply;
    if (const std::size_t at = reply.find('@'); at != std::string::npos) {
      reply.replace(at, 1, station.device);
    }
    if (!reply.empty()) wantReplies += reply + "\r\n";
    const std::string command = std::string(step.line) + "\r\n";
    ASSERT_EQ(::send(bench.client.fd, command.data(), command.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(command.size()));
    // A step that sends nothing and answers nothing has no end to wait for: whatever it
    // did send shows up in the next step, and in the whole line at the end.
    bench.pump([&] {
      return bench.wire.size() >= wantWire.size() && bench.replies.size() >= wantReplies.size();
    });
    if (step.line == kSteps[0].line) {
      std::cout
          << "SETPORT to READY with the stand-in: "
          << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - setPortAt).count()
          << " ms\n";
    }
    // Paced as Pasotune paces its commands, 500 ms apart at least. Closer together, Hamlib
    // decides from a status it read less than half a second earlier, and a MAIN mode the
    // radio had then is not sent again though the radio has left it since.
    bench.pump([] { return false; }, 600ms);
    EXPECT_EQ(bench.wire.substr(wireFrom), step.wire) << pinned;
    EXPECT_EQ(bench.replies.substr(repliesFrom), reply.empty() ? "" : reply + "\r\n") << pinned;
  }

  // Ending the engine closes the radio: whatever that sends is in the line once it has gone.
  engine.terminate();
  bench.wake = engine.ended.fd;
  int status = -1;
  EXPECT_TRUE(bench.pump([&] { return (status = engine.exited()) >= 0; }))
      << "the engine did not end";
  bench.drain();
  EXPECT_EQ(status, 0);
  EXPECT_EQ(bench.wire, wantWire) << pinned;
  EXPECT_EQ(bench.replies, wantReplies) << pinned;

  std::cout << "The radio's side of the line (commands, and the stand-in's answers):\n";
  for (const auto& entry : bench.conversation) std::cout << "  " << entry << '\n';
}

// A radio that lets a setting pass: Hamlib reports nothing, the engine reads it back, sets it
// once more, and says what the radio kept when that did not take either.
struct Missed {
  const char* name;
  std::vector<const char*> lines;  // the second one 100 ms after the first
  int miss;                        // settings the radio lets pass
  const char* reply;               // the one line the user reads, or none
  char mainMode;                   // what VFO A ends on, in Kenwood's digits
  int startTone = 0;               // the radio's tone number before
};

class MissedSetting : public ::testing::TestWithParam<Missed> {};

TEST_P(MissedSetting, IsSetOnceMoreThenSaid) {
  const Missed& c = GetParam();
  Station station;
  ASSERT_TRUE(station.start());
  station.send("SETPORT COM1");
  ASSERT_EQ(station.replies(0, 10s).rfind("Velkor READY", 0), 0u);
  const std::size_t from = station.bench.replies.size();
  station.bench.ts790.miss = c.miss;
  station.bench.ts790.setTone(c.startTone);
  for (const char* line : c.lines) {
    station.send(line);
    station.bench.pump([] { return false; }, 100ms);
  }
  // Two read-backs, each half a second after the radio was last spoken to, and their retries.
  const std::string said = station.replies(from, 2500ms);
  EXPECT_EQ(said, *c.reply ? std::string(c.reply) + "\r\n" : "");
  EXPECT_EQ(station.bench.ts790.mode(0), c.mainMode);
}

INSTANTIATE_TEST_SUITE_P(
    Ts790Wire, MissedSetting,
    ::testing::Values(
        Missed{"ModeOnce", {"SET MODE MAIN USB"}, 1, "", '2'},
        Missed{"ModeTwice",
               {"SET MODE MAIN USB"},
               2,
               "NOT DONE MAIN modo USB: la radio se qued\xF3 en FM",
               '4'},
        Missed{"FrequencyTwice",
               {"SET FREQ SUB 145.9876"},
               4,
               "NOT DONE SUB frecuencia 145.987600 MHz: la radio se qued\xF3 en 435.000000 MHz",
               '4'},
        Missed{"ToneTwice",
               {"SET TONE 88.5"},
               2,
               "NOT DONE tono 88.5 Hz: la radio se qued\xF3 en 67.0 Hz",
               '4',
               1},
        // Closer together than half a second Hamlib takes the mode it read before the first
        // one for the radio's and sends nothing for the second: the read-back mends it.
        Missed{"ModeBackWithinHalfASecond", {"SET MODE MAIN USB", "SET MODE MAIN FM"}, 0, "", '4'}),
    [](const auto& info) { return std::string(info.param.name); });

// Each way a port can fail gives one ERROR line that names the port and says what to do,
// within the time Hamlib takes to give up.
struct Failure {
  const char* name;
  const char* expected;  // the start of the line; @ is the device
  bool asAnotherUser;    // root may open anything: these run the engine as nobody
  std::function<void(Station&)> breakIt;
};

class PortFailure : public ::testing::TestWithParam<Failure> {};

TEST_P(PortFailure, SaysWhatToDo) {
  const Failure& c = GetParam();
  std::vector<std::string> wrapper;
  if (c.asAnotherUser) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to run the engine as another user";
    wrapper = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  }
  Station station;
  const bool missing = std::string_view(c.name) == "NoDevice";
  ASSERT_TRUE(station.start(missing ? "/dev/velkor-no-such-device" : "", wrapper));
  c.breakIt(station);
  const auto sent = Clock::now();
  station.send("SETPORT COM1");
  std::string expected = c.expected;
  if (const std::size_t at = expected.find('@'); at != std::string::npos) {
    expected.replace(at, 1, station.device);
  }
  const std::string said = station.replies(0, 40s);
  EXPECT_EQ(said.rfind(expected, 0), 0u) << said;
  EXPECT_EQ(said.find("\r\n"), said.size() - 2) << "one line: " << said;
  std::cout << c.name << ": the ERROR came "
            << std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count()
            << " ms after SETPORT\n";
}

INSTANTIATE_TEST_SUITE_P(
    Ts790Wire, PortFailure,
    ::testing::Values(
        Failure{"NoDevice", "ERROR COM1: no existe el dispositivo /dev/velkor-no-such-device. ",
                false, [](Station&) {}},
        Failure{"NoPermission",
                "ERROR COM1: sin permiso para abrir @; su usuario debe estar en el grupo ", true,
                [](Station& s) { ::fchmod(s.bench.line.slave, 0600); }},
        Failure{"Busy", "ERROR COM1: ocupado por otro programa en @; ci\xE9rrelo y pulse Conectar",
                true,
                [](Station& s) {
                  ::fchmod(s.bench.line.slave, 0666);
                  ::ioctl(s.bench.line.slave, TIOCEXCL);
                }},
        Failure{"Silent",
                "ERROR COM1: la radio no contesta en @ a 4800 baudios; compruebe que est\xE1 "
                "encendida, el cable y la velocidad (speed en ",
                false,
                [](Station& s) {
                  // Nothing else holds the line, or the engine would name it as busy.
                  s.bench.silent = true;
                  ::close(s.bench.line.slave);
                  s.bench.line.slave = -1;
                }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace velkor
