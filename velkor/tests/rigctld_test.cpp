// The engine's own rigctld client: against a scripted rigctld in process (on every platform,
// Wine included), and on Linux against a real `rigctld -m 1`.

#include "rigctld_radio.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include "commands.hpp"
#include "radio_session.hpp"
#include "support.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// What `rigctld -m 1` (Hamlib 4.5.4) says to dump_caps, cut to what the client reads and a few
// lines around it.
const std::vector<std::string> kDummyCaps = {
    "Caps dump for model: 1",
    "Model name:\tDummy",
    "Mfg name:\tHamlib",
    "Has targetable VFO: Y",
    "CTCSS: 67.0 69.3 71.9 74.4 77.0 79.7 82.5 85.4 88.5 91.5 94.8 97.4 100.0 Hz, 13 tones",
    "DCS: 17 23 25, 3 codes",
    "Get functions: FAGC NB COMP VOX TONE TSQL ",
    "Set functions: FAGC NB COMP VOX TONE TSQL ",
    "Extra functions:",
    "\tMGEF",
    "\t\tType: CHECKBUTTON",
    "Mode list: AM CW USB LSB RTTY FM WFM CWR RTTYR ",
    "VFO list: VFOA VFOB VFOC SubA SubB MainA MainB Sub Main MEM currVFO ",
    "Bandwidths:",
    "\tAM\tNormal: 8.0000 kHz,\tNarrow: 2.4000 kHz,\tWide: 10.0000 kHz",
    "\tCW\tNormal: 500.0 Hz,\tNarrow: 50.0 Hz,\tWide: 2.4000 kHz",
    "\tFM\tNormal: 15.0000 kHz,\tNarrow: 8.0000 kHz,\tWide: 0.0 Hz",
    "\tWFM\tNormal: 230.0000 kHz,\tNarrow: 0.0 Hz,\tWide: 0.0 Hz",
    "Spectrum scopes: 0=\"Main\" 1=\"Sub\"",
    "Can set Frequency:\tY",
};

// As Hamlib describes a TS-790: VFO A and B only, no tone function, 38 tones.
const std::vector<std::string> kTs790Caps = {
    "Model name:\tTS-790",
    "Mfg name:\tKenwood",
    "CTCSS: 67.0 71.9 74.4 77.0 79.7 82.5 85.4 88.5 91.5 94.8 97.4 100.0 103.5 107.2 110.9 114.8 "
    "118.8 123.0 127.3 131.8 136.5 141.3 146.2 151.4 156.7 162.2 167.9 173.8 179.9 186.2 192.8 "
    "203.5 210.7 218.1 225.7 233.6 241.8 250.3 Hz, 38 tones",
    "Get functions: TSQL LOCK MUTE ",
    "Set functions: TSQL LOCK MUTE ",
    "Mode list: CW USB LSB FM CWR ",
    "VFO list: VFOA VFOB ",
    "Bandwidths:",
    "\tCW\tNormal: 2.4000 kHz,\tNarrow: 500.0 Hz,\tWide: 0.0 Hz",
    "\tFM\tNormal: 12.0000 kHz,\tNarrow: 0.0 Hz,\tWide: 0.0 Hz",
};

TEST(RigctldCaps, ReadsWhatTheClientNeedsFromDumpCaps) {
  const RigctldCaps dummy = RigctldCaps::parse(kDummyCaps);
  EXPECT_EQ(dummy.model, "Hamlib Dummy");
  EXPECT_TRUE(dummy.has(dummy.vfos, "Main") && dummy.has(dummy.vfos, "Sub"));
  EXPECT_TRUE(dummy.has(dummy.modes, "CWR") && !dummy.has(dummy.modes, "PKTUSB"));
  EXPECT_TRUE(dummy.has(dummy.setFunctions, "TONE") && dummy.has(dummy.getFunctions, "TONE"));
  EXPECT_EQ(dummy.ctcssTenths.size(), 13u);
  EXPECT_EQ(dummy.ctcssTenths[1], 693);
  EXPECT_EQ(dummy.widths.at("FM").normal, 15000);
  EXPECT_EQ(dummy.widths.at("FM").narrow, 8000);
  EXPECT_EQ(dummy.widths.at("CW").narrow, 50);
  EXPECT_EQ(dummy.widths.at("WFM").narrow, 0);
  EXPECT_EQ(dummy.widths.count("Main"), 0u);  // the spectrum scopes are no bandwidths

  const RigctldCaps ts790 = RigctldCaps::parse(kTs790Caps);
  EXPECT_EQ(ts790.model, "Kenwood TS-790");
  EXPECT_FALSE(ts790.has(ts790.vfos, "Main"));
  EXPECT_FALSE(ts790.has(ts790.setFunctions, "TONE"));
  EXPECT_EQ(ts790.ctcssTenths.size(), 38u);
  EXPECT_EQ(ts790.ctcssTenths.back(), 2503);

  const RigctldCaps nothing = RigctldCaps::parse({"garbage", "CTCSS: None", ":", "Bandwidths:"});
  EXPECT_EQ(nothing.model, "radio");
  EXPECT_TRUE(nothing.ctcssTenths.empty());
}

struct HostPortCase {
  std::string text;
  bool ok;
  std::string host = {};
  std::uint16_t port = 0;
};

class HostPortTest : public ::testing::TestWithParam<HostPortCase> {};

TEST_P(HostPortTest, Parses) {
  std::string host;
  std::uint16_t port = 0;
  ASSERT_EQ(parseHostPort(GetParam().text, host, port), GetParam().ok) << GetParam().text;
  if (!GetParam().ok) return;
  EXPECT_EQ(host, GetParam().host);
  EXPECT_EQ(port, GetParam().port);
}

INSTANTIATE_TEST_SUITE_P(
    Settings, HostPortTest,
    ::testing::Values(HostPortCase{"127.0.0.1:4532", true, "127.0.0.1", 4532},
                      HostPortCase{"radio.local:4533", true, "radio.local", 4533},
                      HostPortCase{"localhost", true, "localhost", 4532},
                      HostPortCase{"[::1]:4000", true, "::1", 4000},
                      HostPortCase{"::1", true, "::1", 4532}, HostPortCase{"host:0", false},
                      HostPortCase{"host:65536", false},
                      HostPortCase{"host:99999999999999999999", false},
                      HostPortCase{"host:", false}, HostPortCase{":4532", false},
                      HostPortCase{"[::1", false}, HostPortCase{"", false},
                      HostPortCase{"host:45x", false}));

// A rigctld in this process that answers from a script and records every line it got.
class FakeRigctld {
 public:
  // The bytes to answer a line with; kHangUp closes the connection instead.
  using Script = std::function<std::string(const std::string& line)>;
  static constexpr const char* kHangUp = "<hang up>";

  explicit FakeRigctld(Script script) : script_(std::move(script)) {
    std::string error;
    listener_ = net::listenLoopback(0, port_, error);
    thread_ = std::thread([this] { run(); });
  }
  ~FakeRigctld() {
    stopping_ = true;
    waker_.wake();
    thread_.join();
    net::close(client_);
    net::close(listener_);
  }

  std::uint16_t port() const { return port_; }
  std::vector<std::string> received() {
    std::lock_guard lock(mutex_);
    return received_;
  }
  void clear() {
    std::lock_guard lock(mutex_);
    received_.clear();
  }

 private:
  void run() {
    std::string buffer;
    while (!stopping_) {
      std::vector<net::Watch> watches{{waker_.socket(), true}, {listener_, true}};
      if (client_ != net::kNoSocket) watches.push_back({client_, true});
      if (!net::wait(watches, -1ms)) return;
      if (watches[1].readable && client_ == net::kNoSocket) {
        client_ = net::accept(listener_);
        buffer.clear();
      }
      if (watches.size() < 3 || !(watches[2].readable || watches[2].broken)) continue;
      char chunk[4096];
      const long got = net::receive(client_, chunk, sizeof chunk);
      if (got == 0 || got == net::kFailed) hangUp();
      if (got <= 0) continue;
      buffer.append(chunk, static_cast<std::size_t>(got));
      for (std::size_t lf; client_ != net::kNoSocket && (lf = buffer.find('\n')) != buffer.npos;) {
        const std::string line = buffer.substr(0, lf);
        buffer.erase(0, lf + 1);
        {
          std::lock_guard lock(mutex_);
          received_.push_back(line);
        }
        const std::string answer = script_(line);
        if (answer == kHangUp || !sendAll(answer)) hangUp();
      }
    }
  }
  // False when the client is gone or takes nothing for a second.
  bool sendAll(std::string_view bytes) {
    while (!bytes.empty()) {
      const long sent = net::send(client_, bytes.data(), bytes.size());
      if (sent == net::kFailed) return false;
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
        continue;
      }
      std::vector<net::Watch> watch{{client_, false, true}};
      if (!net::wait(watch, 1s) || !watch[0].writable) return false;
    }
    return true;
  }
  void hangUp() {
    net::close(client_);
    client_ = net::kNoSocket;
  }

  Script script_;
  net::Waker waker_;
  net::Socket listener_ = net::kNoSocket;
  net::Socket client_ = net::kNoSocket;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  std::mutex mutex_;
  std::vector<std::string> received_;
  std::thread thread_;
};

// rigctld's extended answer to a line: the command's name, the values, RPRT.
std::string answer(const std::string& line, const std::vector<std::string>& values = {},
                   int code = 0) {
  std::string out = line.substr(line.rfind('\\') + 1, line.find(' ') - line.rfind('\\') - 1);
  out += ":\n";
  for (const auto& v : values) out += v + "\n";
  return out + "RPRT " + std::to_string(code) + "\n";
}

// A rigctld for a radio with the given caps; override answers the lines it wants to.
FakeRigctld::Script rigctldFor(
    bool vfoMode, std::vector<std::string> caps,
    std::function<std::optional<std::string>(const std::string&)> override = nullptr) {
  return [=](const std::string& line) -> std::string {
    if (override) {
      if (auto special = override(line)) return *special;
    }
    if (line == "\\chk_vfo") return vfoMode ? "CHKVFO 1\n" : "CHKVFO 0\n";
    if (line == "+\\dump_caps") return answer(line, caps);
    if (line.rfind("+\\get_freq", 0) == 0) return answer(line, {"Frequency: 145900000"});
    if (line.rfind("+\\get_mode", 0) == 0) return answer(line, {"Mode: FM", "Passband: 8000"});
    return answer(line);
  };
}

Settings rigctldSettings(std::uint16_t port, Settings::Bands bands = Settings::Bands::kAuto) {
  Settings s;
  s.radio = Settings::RadioKind::kRigctld;
  s.rigctld = "127.0.0.1:" + std::to_string(port);
  s.bands = bands;
  return s;
}

struct WireCase {
  const char* name;
  bool vfoMode;
  std::vector<std::string> caps;
  Settings::Bands bands;
  std::vector<std::string> afterOpen;  // what open sends after dump_caps
  std::vector<std::string> lines;      // what MAIN 435 MHz FM-N, then SUB 145.9 MHz send
};

void PrintTo(const WireCase& c, std::ostream* os) {
  *os << c.name;
}

class WireTest : public ::testing::TestWithParam<WireCase> {};

TEST_P(WireTest, SendsWhatRigctldExpects) {
  const WireCase& c = GetParam();
  FakeRigctld fake(rigctldFor(c.vfoMode, c.caps));
  RigctldRadio radio(rigctldSettings(fake.port(), c.bands));
  ASSERT_TRUE(radio.open("COM1").ok());
  std::vector<std::string> opened{"\\chk_vfo", "+\\dump_caps"};
  opened.insert(opened.end(), c.afterOpen.begin(), c.afterOpen.end());
  EXPECT_EQ(fake.received(), opened);
  fake.clear();
  EXPECT_TRUE(radio.setFrequency(Band::kMain, 435'000'000).ok());
  EXPECT_TRUE(radio.setMode(Band::kMain, Mode::kFmN).ok());
  EXPECT_TRUE(radio.setFrequency(Band::kSub, 145'900'000).ok());
  EXPECT_EQ(fake.received(), c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Bands, WireTest,
    ::testing::Values(WireCase{"MainSub",
                               false,
                               kDummyCaps,
                               Settings::Bands::kAuto,
                               {},
                               {"+\\set_vfo Main", "+\\set_freq 435000000", "+\\set_vfo Main",
                                "+\\set_mode FM 8000", "+\\set_vfo Sub", "+\\set_freq 145900000"}},
                      WireCase{"MainSubWithVfoOption",
                               true,
                               kDummyCaps,
                               Settings::Bands::kAuto,
                               {},
                               {"+\\set_freq Main 435000000", "+\\set_mode Main FM 8000",
                                "+\\set_freq Sub 145900000"}},
                      // The TS-790 has no narrow FM: FM-N is plain FM, as with Hamlib itself.
                      WireCase{"VfoAB",
                               false,
                               kTs790Caps,
                               Settings::Bands::kAuto,
                               {},
                               {"+\\set_vfo VFOA", "+\\set_freq 435000000", "+\\set_vfo VFOA",
                                "+\\set_mode FM 0", "+\\set_vfo VFOB", "+\\set_freq 145900000"}},
                      WireCase{"Split",
                               false,
                               kDummyCaps,
                               Settings::Bands::kSplit,
                               {"+\\set_split_vfo 1 TX"},
                               {"+\\set_split_freq 435000000", "+\\set_split_mode FM 8000",
                                "+\\set_freq 145900000"}},
                      WireCase{
                          "SplitWithVfoOption",
                          true,
                          kDummyCaps,
                          Settings::Bands::kSplit,
                          {"+\\set_split_vfo currVFO 1 TX"},
                          {"+\\set_split_freq currVFO 435000000",
                           "+\\set_split_mode currVFO FM 8000", "+\\set_freq currVFO 145900000"}}),
    [](const auto& info) { return std::string(info.param.name); });

// How one answer of rigctld's to set_freq ends up.
struct VerdictCase {
  const char* name;
  std::string answer;  // to "+\set_freq ...", after the echoed command line
  Outcome::Kind kind;
  bool linkLost;        // the radio or rigctld: QueuedRadio closes and reopens
  std::string reason;   // part of it
  bool hungUp = false;  // the client itself gave up the connection
};

void PrintTo(const VerdictCase& c, std::ostream* os) {
  *os << c.name;
}

class VerdictTest : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(VerdictTest, TellsRefusalsFromALostLink) {
  const VerdictCase& c = GetParam();
  FakeRigctld fake(rigctldFor(false, kDummyCaps, [&](const std::string& line) {
    if (line.rfind("+\\set_freq", 0) != 0) return std::optional<std::string>();
    if (c.answer == FakeRigctld::kHangUp) return std::optional<std::string>(c.answer);
    return std::optional<std::string>("set_freq: 435000000\n" + c.answer);
  }));
  RigctldRadio radio(rigctldSettings(fake.port()), 300ms);
  ASSERT_TRUE(radio.open("COM1").ok());
  const Outcome outcome = radio.setFrequency(Band::kMain, 435'000'000);
  EXPECT_EQ(outcome.kind, c.kind);
  EXPECT_EQ(outcome.linkLost, c.linkLost);
  EXPECT_NE(outcome.reason.find(c.reason), std::string::npos) << outcome.reason;
  if (c.hungUp) {
    // Out of step or gone: nothing more goes out until it is opened again.
    EXPECT_EQ(radio.setFrequency(Band::kMain, 435'000'000).reason, kNoPortOpen);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VerdictTest,
    ::testing::Values(
        VerdictCase{"Done", "RPRT 0\n", Outcome::Kind::kDone, false, ""},
        VerdictCase{"InvalidParameter", "RPRT -1\n", Outcome::Kind::kRefused, false,
                    "parámetro no válido"},
        VerdictCase{"Rejected", "RPRT -9\n", Outcome::Kind::kRefused, false, "rechazó"},
        VerdictCase{"RadioTimedOut", "RPRT -5\n", Outcome::Kind::kFailed, true,
                    "la radio no contestó a tiempo"},
        VerdictCase{"RadioIoError", "RPRT -6\n", Outcome::Kind::kFailed, true, "entrada/salida"},
        VerdictCase{"UnknownError", "RPRT -77\n", Outcome::Kind::kRefused, false, "error 77"},
        VerdictCase{"Garbage", "RPRT zero\n", Outcome::Kind::kFailed, true, "contestó RPRT zero",
                    true},
        VerdictCase{"HangsUp", FakeRigctld::kHangUp, Outcome::Kind::kFailed, true,
                    "cerró la conexión", true},
        VerdictCase{"Silent", "", Outcome::Kind::kFailed, true, "rigctld no contestó en 300 ms",
                    true},
        VerdictCase{"EndlessLine", std::string(100'000, 'x'), Outcome::Kind::kFailed, true,
                    "línea de más de", true},
        // Control bytes and the words the program reacts to come back defused.
        VerdictCase{"HostileAnswer",
                    "RPRT \x01"
                    "ERROR\n",
                    Outcome::Kind::kFailed, true, "contestó RPRT \\x01\\x45RROR", true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RigctldRadio, RefusesWhatTheRadioLacksBeforeSendingIt) {
  FakeRigctld fake(rigctldFor(false, kTs790Caps));
  RigctldRadio radio(rigctldSettings(fake.port()));
  ASSERT_TRUE(radio.open("COM1").ok());
  fake.clear();
  const Outcome am = radio.setMode(Band::kSub, Mode::kAm);
  const Outcome tone = radio.setTone(693);
  const Outcome off = radio.toneOff();
  EXPECT_EQ(am.kind, Outcome::Kind::kRefused);
  EXPECT_EQ(am.reason, "el Kenwood TS-790 no tiene el modo AM");
  EXPECT_EQ(tone.kind, Outcome::Kind::kRefused);
  EXPECT_EQ(tone.reason, "el Kenwood TS-790 no tiene ese tono CTCSS");
  EXPECT_EQ(off.reason, "Hamlib no sabe apagar el tono del Kenwood TS-790");
  EXPECT_TRUE(fake.received().empty());
  // A tone it has is set; with no tone function there is nothing to switch on.
  EXPECT_TRUE(radio.setTone(885).ok());
  EXPECT_EQ(fake.received(),
            (std::vector<std::string>{"+\\set_vfo VFOA", "+\\set_ctcss_tone 885"}));
}

TEST(RigctldRadio, OpeningSaysWhyItCannot) {
  const std::uint16_t nobody = test::freePort();
  RigctldRadio closed(rigctldSettings(nobody));
  const Outcome refused = closed.open("COM1");
  EXPECT_EQ(refused.kind, Outcome::Kind::kFailed);
  EXPECT_EQ(refused.reason.rfind(
                "COM1: no se pudo abrir rigctld en 127.0.0.1:" + std::to_string(nobody), 0),
            0u)
      << refused.reason;

  Settings bad = rigctldSettings(1);
  bad.rigctld = "radio:\x01port";
  EXPECT_EQ(RigctldRadio(bad).open("COM1").reason,
            "COM1: rigctld = radio:\\x01port no es host:puerto (velkor.conf)");

  FakeRigctld noCaps(rigctldFor(false, {}, [](const std::string& line) {
    return line == "+\\dump_caps" ? std::optional<std::string>("dump_caps:\nRPRT -11\n")
                                  : std::nullopt;
  }));
  RigctldRadio radio(rigctldSettings(noCaps.port()));
  EXPECT_EQ(radio.open("COM1").reason,
            "COM1: no se pudo abrir rigctld en 127.0.0.1:" + std::to_string(noCaps.port()) +
                ": dump_caps: función no disponible");
}

TEST(RigctldRadio, ReadsANarrowModeBack) {
  FakeRigctld fake(rigctldFor(true, kDummyCaps));
  RigctldRadio radio(rigctldSettings(fake.port()));
  ASSERT_TRUE(radio.open("COM1").ok());
  EXPECT_EQ(radio.mode(Band::kSub), Mode::kFmN);  // FM at 8000 Hz, the dummy's narrow FM
  EXPECT_EQ(radio.frequency(Band::kSub), 145'900'000);
  EXPECT_EQ(fake.received().back(), "+\\get_freq Sub");
}

// Through the engine's queue: rigctld going away costs one ERROR line, and its return one
// ready line, after which what was asked meanwhile goes through.
TEST(RigctldRadio, AVanishedRigctldIsOneErrorAndOneReadyWhenItIsBack) {
  std::atomic<bool> gone{false};
  FakeRigctld fake(rigctldFor(false, kDummyCaps, [&](const std::string&) {
    return gone ? std::optional<std::string>(FakeRigctld::kHangUp) : std::nullopt;
  }));
  // This rigctld keeps nothing, so nothing is read back from it.
  test::Rig rig(std::make_unique<RigctldRadio>(rigctldSettings(fake.port())), false);
  EXPECT_EQ(rig.send("SETPORT COM1"), std::nullopt);
  EXPECT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.send("SET FREQ MAIN 435.0000");
  ASSERT_TRUE(rig.idle());

  gone = true;
  rig.send("SET FREQ MAIN 435.0100");
  const std::string lost = rig.reply();
  EXPECT_EQ(lost.rfind("ERROR COM1: la radio dejó de contestar (MAIN frecuencia 435.010000 MHz: "
                       "rigctld cerró la conexión)",
                       0),
            0u)
      << lost;
  EXPECT_EQ(rig.reply(1500ms), "");

  fake.clear();
  gone = false;
  const std::string back = rig.reply();
  EXPECT_EQ(back.rfind("Velkor READY: ", 0), 0u) << back;
  rig.send("SET FREQ SUB 145.9000");
  ASSERT_TRUE(rig.idle());
  EXPECT_EQ(rig.reply(0ms), "");
  const auto lines = fake.received();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front(), "\\chk_vfo");
  EXPECT_NE(std::find(lines.begin(), lines.end(), "+\\set_freq 435010000"), lines.end());
  EXPECT_EQ(lines.back(), "+\\set_freq 145900000");
}

#ifdef VELKOR_RIGCTLD
// The real thing: Hamlib's rigctld with its dummy rig, with and without --vfo.
struct RealCase {
  const char* name;
  bool vfoMode;
  Settings::Bands bands;
};

class RealRigctldTest : public ::testing::TestWithParam<RealCase> {
 protected:
  void SetUp() override {
    if (std::string(VELKOR_RIGCTLD).empty()) GTEST_SKIP() << "rigctld not installed";
    port_ = test::freePort();
  }
  std::uint16_t port_ = 0;
};

TEST_P(RealRigctldTest, ReadsBackEveryCommand) {
  test::Rigctld rigctld(VELKOR_RIGCTLD, port_, GetParam().vfoMode);
  test::Rig rig(std::make_unique<RigctldRadio>(rigctldSettings(port_, GetParam().bands)));
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.play();
  // What Hamlib's dummy lacks is refused, and said without ERROR.
  rig.send("SET MODE SUB USB-D");
  EXPECT_EQ(rig.reply(), "NOT DONE SUB modo USB-D: el Hamlib Dummy no tiene el modo PKTUSB");
  rig.send("SET TONE 69.9");
  EXPECT_EQ(rig.reply(), "NOT DONE tono 69.9 Hz: el Hamlib Dummy no tiene ese tono CTCSS");
}

INSTANTIATE_TEST_SUITE_P(Real, RealRigctldTest,
                         ::testing::Values(RealCase{"MainSub", false, Settings::Bands::kAuto},
                                           RealCase{"MainSubVfoOption", true,
                                                    Settings::Bands::kAuto},
                                           RealCase{"VfoAB", false, Settings::Bands::kAB}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RealRigctld, SurvivesRigctldDyingAndRecoversWhenItIsBack) {
  if (std::string(VELKOR_RIGCTLD).empty()) GTEST_SKIP() << "rigctld not installed";
  const std::uint16_t port = test::freePort();
  auto rigctld = std::make_unique<test::Rigctld>(VELKOR_RIGCTLD, port);
  test::Rig rig(std::make_unique<RigctldRadio>(rigctldSettings(port)));
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.send("SET FREQ MAIN 435.0000");
  ASSERT_TRUE(rig.idle());

  rigctld.reset();
  rig.send("SET FREQ MAIN 435.0100");
  const std::string lost = rig.reply(15s);
  EXPECT_EQ(lost.rfind("ERROR COM1: la radio dejó de contestar", 0), 0u) << lost;
  EXPECT_EQ(rig.reply(1500ms), "");

  rigctld = std::make_unique<test::Rigctld>(VELKOR_RIGCTLD, port);
  EXPECT_EQ(rig.reply(15s).rfind("Velkor READY: ", 0), 0u);
  rig.send("SET FREQ MAIN 435.0200");
  rig.send("SET MODE SUB LSB");
  ASSERT_TRUE(rig.idle());
  EXPECT_EQ(rig.radio().frequency(Band::kMain), 435'020'000);
  EXPECT_EQ(rig.radio().mode(Band::kSub), Mode::kLsb);
  EXPECT_EQ(rig.reply(0ms), "");
}
#endif

}  // namespace
}  // namespace velkor
