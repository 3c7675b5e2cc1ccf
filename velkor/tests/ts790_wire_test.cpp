// What reaches a TS-790: the real Velkor.exe as a new installation runs it, on a
// pseudo-terminal, and on the other side a stand-in that knows only the radio's own commands
// and records every byte. The bytes are pinned, and every refusal must reach the user.

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
      wire += command;
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
  const char* wire;   // what the radio receives, answers not included
  const char* reply;  // the engine's answer line, or empty when it is silent
};

// The stand-in starts on VFO A at 145.000000 MHz and VFO B at 435.000000 MHz, both FM, no
// tone. MAIN is VFO A, SUB is VFO B.
constexpr Step kSteps[] = {
    // Auto-information off, and who is there.
    {"SETPORT COM1", "AI0;ID;", "Velkor READY: Kenwood TS-790 en COM1 (@, 4800 baudios)"},
    // Each setting ends in a read: its answer is the read-back, and a "?;" before it a refusal.
    {"SET FREQ MAIN 435.1234", "FA00435123400;FA;", ""},
    {"SET FREQ SUB 145.9500", "FB00145950000;FB;", ""},
    // MD acts on the current VFO: the VFO first, checked, and the radio back on A after SUB's.
    {"SET MODE MAIN USB", "FN0;ID;MD2;IF;", ""},
    {"SET MODE SUB LSB", "FN1;ID;MD1;IF;FN0;ID;", ""},
    {"SET MODE MAIN CW-N", "FN0;ID;MD3;IF;", ""},
    {"SET MODE SUB FM-N", "FN1;ID;MD4;IF;FN0;ID;", ""},
    {"SET MODE MAIN CW-R", "", "NOT DONE MAIN modo CW-R: el TS-790 no tiene el modo CW-R"},
    {"SET MODE MAIN FM", "FN0;ID;MD4;IF;", ""},
    // The TS-790's own tone numbers (01 is 67.0 Hz, no 97.4 Hz), then the encoder on.
    {"SET TONE 88.5", "TN08;TO1;IF;", ""},
    {"SET TONE 100.0", "TN11;TO1;IF;", ""},
    {"SET TONE 250.3", "TN37;TO1;IF;", ""},
    {"SET TONE OFF", "TO0;IF;", ""},
    {"SET FREQ SUB 145.9498", "FB00145949800;FB;", ""},
    {"SET FREQ MAIN 1300.5000", "FA01300500000;FA;",
     "NOT DONE MAIN frecuencia 1300.500000 MHz: la radio no la acept\xF3 (FA01300500000;) y sigue "
     "en 435.123400 MHz; \xBF"
     "est\xE1 fuera de sus bandas?"},
    // Refused before the radio is asked.
    {"SET MODE SUB AM", "", "NOT DONE SUB modo AM: el TS-790 no tiene el modo AM"},
};

// The real engine on the stand-in's line, as a new installation has it: velkor.conf maps COM1
// to the pseudo-terminal and says nothing else.
struct Station {
  Folder folder;
  Bench bench;
  std::string device;
  std::unique_ptr<Engine> engine;

  // False (with a failure recorded) when it cannot be set up.
  bool start(const std::string& com1 = "", std::vector<std::string> wrapper = {},
             const std::string& conf = "") {
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
        << "COM1 = " << (com1.empty() ? device : com1) << "\n"
        << conf;
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

TEST(Ts790Wire, TheEngineSendsTheseBytesForEachCommand) {
  Station station;
  ASSERT_TRUE(station.start());
  Bench& bench = station.bench;
  Engine& engine = *station.engine;
  const auto setPortAt = Clock::now();

  const std::string pinned = "the TS-790's own commands";
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
    // Paced as Pasotune paces its commands.
    bench.pump([] { return false; }, 500ms);
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
  EXPECT_EQ(bench.ts790.frequency(0), 435'123'400);
  EXPECT_EQ(bench.ts790.frequency(1), 145'949'800);
  EXPECT_EQ(std::string() + bench.ts790.mode(0) + bench.ts790.mode(1), "44");
  EXPECT_EQ(bench.ts790.vfo(), 0);
  EXPECT_FALSE(bench.ts790.toneOn());

  std::cout << "The radio's side of the line (commands, and the stand-in's answers):\n";
  for (const auto& entry : bench.conversation) std::cout << "  " << entry << '\n';
}

// What the radio did not take is set once more when it only let it pass, and said in one
// NOT DONE line when it still has something else or refused it with "?;".
struct Heard {
  const char* name;
  std::function<void(Ts790&)> radio;  // how this radio differs, before SETPORT
  int miss;                           // settings the radio lets pass after READY
  std::vector<const char*> lines;     // 100 ms apart
  std::string said;                   // every line after the first READY, or none; @ is
                                      // velkor.conf
  char mainMode = '4';                // what VFO A ends on, in Kenwood's digits
};

void PrintTo(const Heard& c, std::ostream* out) {
  *out << c.name;
}

class HeardSetting : public ::testing::TestWithParam<Heard> {};

TEST_P(HeardSetting, IsSaidOnce) {
  const Heard& c = GetParam();
  Station station;
  ASSERT_TRUE(station.start());
  c.radio(station.bench.ts790);
  station.send("SETPORT COM1");
  const std::string ready = station.replies(0, 10s);
  ASSERT_EQ(ready.rfind("Velkor READY", 0), 0u) << ready;
  const std::size_t from = ready.find("\r\n") + 2;
  station.bench.ts790.miss = c.miss;
  std::string said = c.said;
  if (const std::size_t at = said.find('@'); at != std::string::npos) {
    said.replace(at, 1, (station.folder.path() / "velkor.conf").string());
  }
  for (const char* line : c.lines) {
    station.send(line);
    station.bench.pump([] { return false; }, 100ms);
  }
  station.bench.pump([] { return false; }, 1500ms);
  EXPECT_EQ(station.bench.replies.substr(from), said.empty() ? "" : said + "\r\n");
  EXPECT_EQ(station.bench.ts790.mode(0), c.mainMode);
}

const std::string kToneUnit =
    ": \xBFlleva su TS-790 la unidad de subtonos? Sin subtono, un sat\xE9lite que lo pide no oye "
    "su subida";

INSTANTIATE_TEST_SUITE_P(
    Ts790Wire, HeardSetting,
    ::testing::Values(
        // FN0 is the setting let pass: MD still lands on VFO A.
        Heard{"ModeOnce", [](Ts790&) {}, 1, {"SET MODE MAIN USB"}, "", '2'},
        Heard{"ModeTwice",
              [](Ts790&) {},
              4,
              {"SET MODE MAIN USB"},
              "NOT DONE MAIN modo USB: la radio se qued\xF3 en FM"},
        Heard{"FrequencyTwice",
              [](Ts790&) {},
              2,
              {"SET FREQ SUB 145.9876"},
              "NOT DONE SUB frecuencia 145.987600 MHz: la radio se qued\xF3 en 435.000000 MHz"},
        Heard{"ToneTwice",
              [](Ts790& r) { r.setTone(1); },
              4,
              {"SET TONE 88.5"},
              "NOT DONE tono 88.5 Hz: la radio se qued\xF3 en 67.0 Hz"},
        Heard{"ModeBackAtOnce", [](Ts790&) {}, 0, {"SET MODE MAIN USB", "SET MODE MAIN FM"}, ""},
        // Refusals: said at once, never set again, and nothing lands where it should not.
        Heard{
            "NoToneUnit",
            [](Ts790& r) { r.refuse = "TNTO"; },
            0,
            {"SET TONE 88.5"},
            "NOT DONE tono 88.5 Hz: la radio no acept\xF3 el subtono 88.5 Hz (TN08;)" + kToneUnit},
        Heard{"ToneNotSwitchedOn",
              [](Ts790& r) { r.refuse = "TO"; },
              0,
              {"SET TONE 88.5"},
              "NOT DONE tono 88.5 Hz: la radio tom\xF3 el subtono 88.5 Hz (TN08;) pero no lo "
              "encendi\xF3 (rechaz\xF3 TO1;)" +
                  kToneUnit},
        Heard{"NoVfoSwitch",
              [](Ts790& r) { r.refuse = "FN"; },
              0,
              {"SET MODE SUB USB"},
              "NOT DONE SUB modo USB: la radio no pas\xF3 a la VFO B (rechaz\xF3 FN1;), as\xED que "
              "el modo no se cambi\xF3"},
        Heard{"OutOfBand",
              [](Ts790&) {},
              0,
              {"SET FREQ SUB 100.0000"},
              "NOT DONE SUB frecuencia 100.000000 MHz: la radio no la acept\xF3 (FB00100000000;) y "
              "sigue en 435.000000 MHz; \xBF"
              "est\xE1 fuera de sus bandas?"},
        Heard{"AnotherKenwood",
              [](Ts790& r) { r.id = "019"; },
              0,
              {},
              "NOT DONE COM1: contesta un Kenwood TS-2000 (ID019;), no un TS-790: sus \xF3rdenes "
              "pueden ser otras; para ella ponga radio = hamlib y model = 2014 en @"},
        // Noise where an answer should be: heard as noise, asked again, and taken.
        Heard{"NoisyAnswer", [](Ts790& r) { r.noise = 6000; }, 0, {"SET MODE MAIN USB"}, "", '2'}),
    [](const auto& info) { return std::string(info.param.name); });

// A radio switched off mid-pass: one ERROR within 5 s, silence while it is away, one READY when
// it is back, and what was asked meanwhile reaches it.
TEST(Ts790Wire, RadioLostAndBackIsSaidOnceEach) {
  Station station;
  ASSERT_TRUE(station.start());
  Bench& bench = station.bench;
  station.send("SETPORT COM1");
  ASSERT_EQ(station.replies(0, 10s).rfind("Velkor READY", 0), 0u);
  std::size_t from = bench.replies.size();
  bench.silent = true;
  const auto off = Clock::now();
  station.send("SET FREQ MAIN 435.2000");
  const std::string error = station.replies(from, 10s);
  EXPECT_LT(Clock::now() - off, 5s);
  EXPECT_EQ(error.rfind("ERROR COM1: la radio dej\xF3 de contestar (MAIN frecuencia 435.200000 "
                        "MHz: la radio no contesta)",
                        0),
            0u)
      << error;
  // A mode asked while it is away, several tries to reopen it, and the tracker moving on:
  // both frequencies every 100 ms.
  station.send("SET MODE MAIN USB");
  for (int i = 1; i <= 40; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "SET FREQ %s %.4f", i % 2 ? "MAIN" : "SUB",
                  i % 2 ? 435.2 + i * 0.0001 : 145.9 - i * 0.0001);
    station.send(line);
    bench.pump([] { return false; }, 100ms);
  }
  EXPECT_EQ(bench.replies.substr(from), error) << "the tries are not said";
  from = bench.replies.size();
  bench.silent = false;
  const std::string back = station.replies(from, 10s);
  EXPECT_EQ(back.rfind("Velkor READY: Kenwood TS-790 en COM1", 0), 0u) << back;
  EXPECT_NE(back.find("contesta de nuevo"), std::string::npos) << back;
  // The newest of each, nothing older after it.
  bench.pump([&] { return bench.ts790.mode(0) == '2' && bench.ts790.frequency(1) == 145'896'000; },
             5s);
  bench.pump([] { return false; }, 1s);
  EXPECT_EQ(bench.ts790.mode(0), '2');
  EXPECT_EQ(bench.ts790.frequency(0), 435'203'900);
  EXPECT_EQ(bench.ts790.frequency(1), 145'896'000);
  EXPECT_EQ(bench.replies.substr(from), back) << "said once";
}

// Another radio through Hamlib, which runs in a process of its own: a radio answering with noise
// Hamlib's serial code cannot take (it has crashed it) never ends the engine, and the radio
// is followed again afterwards.
TEST(Ts790Wire, NoiseThroughHamlibNeverEndsTheEngine) {
  if (!std::filesystem::exists("/usr/bin/rigctld")) GTEST_SKIP() << "no rigctld";
  Station station;
  // Hamlib's TS-711 speaks the same older Kenwood commands as the stand-in.
  ASSERT_TRUE(station.start("", {}, "radio = hamlib\nmodel = 2006\n"));
  Bench& bench = station.bench;
  bench.ts790.id = "003";
  station.send("SETPORT COM1");
  const std::string ready = station.replies(0, 20s);
  ASSERT_EQ(ready.rfind("Velkor READY: Kenwood TS-711 en COM1", 0), 0u) << ready;
  // The noise is written as far as the line takes it, never blocking the radio's side.
  ::fcntl(bench.line.master, F_SETFL, ::fcntl(bench.line.master, F_GETFL) | O_NONBLOCK);
  bench.ts790.noise = 100'000;
  station.send("SET FREQ MAIN 435.1000");
  bench.pump([] { return false; }, 8s);
  EXPECT_EQ(station.engine->exited(), -1) << "the engine ended";
  station.send("SET FREQ MAIN 435.3000");
  EXPECT_TRUE(bench.pump([&] { return bench.ts790.frequency(0) == 435'300'000; }, 30s))
      << bench.replies;
  EXPECT_EQ(station.engine->exited(), -1) << "the engine ended";

  // Hamlib crashing outright: said once with its cause, started again, the radio followed.
  std::ifstream children("/proc/" + std::to_string(station.engine->pid()) + "/task/" +
                         std::to_string(station.engine->pid()) + "/children");
  std::string rigctld;
  children >> rigctld;
  if (rigctld.empty()) {
    // The child belongs to the worker thread: look at every thread of the engine.
    for (const auto& task : std::filesystem::directory_iterator(
             "/proc/" + std::to_string(station.engine->pid()) + "/task")) {
      std::ifstream more(task.path() / "children");
      if (more >> rigctld) break;
    }
  }
  ASSERT_FALSE(rigctld.empty()) << "no rigctld under the engine";
  const std::size_t from = bench.replies.size();
  ::kill(std::stoi(rigctld), SIGSEGV);
  station.send("SET FREQ MAIN 435.4000");
  const std::string said = station.replies(from, 20s);
  EXPECT_NE(said.find("Hamlib (rigctld) termin\xF3 por la se\xF1"
                      "al 11 (SIGSEGV)"),
            std::string::npos)
      << said;
  EXPECT_TRUE(bench.pump([&] { return bench.ts790.frequency(0) == 435'400'000; }, 30s))
      << bench.replies;
  EXPECT_NE(bench.replies.find("contesta de nuevo", from), std::string::npos) << bench.replies;
  EXPECT_EQ(station.engine->exited(), -1) << "the engine ended";
  std::cout << "What the engine said:\n" << bench.replies;
}

// Each way a port can fail gives one ERROR line that names the port and says what to do,
// within the time Hamlib takes to give up.
struct Failure {
  const char* name;
  const char* expected;  // the start of the line; @ is the device
  bool asAnotherUser;    // root may open anything: these run the engine as nobody
  std::function<void(Station&)> breakIt;
};

void PrintTo(const Failure& c, std::ostream* out) {
  *out << c.name;
}

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
