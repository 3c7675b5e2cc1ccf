// pasotune-feed's answers to Gpredict and the records they give, without
// sockets: the same on Linux and under Wine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "feed_options.hpp"
#include "form/form1.hpp"
#include "gpredict_feed.hpp"
#include "gpredict_transcript.hpp"
#include "platform/text.hpp"
#include "synthetic_pass.hpp"
#include "tracker_record.hpp"
#include "tracking/leer_tracking.hpp"

namespace pasotune::feed {
namespace {

using gpredict::Direction;
using gpredict::Role;
using Texts = std::vector<std::string>;

const std::filesystem::path kData = GPREDICT_DATA;

TEST(TrackerRecord, TheTrackersShapeWithWhatIsKnown) {
  const struct {
    RecordFields fields;
    char separator;
    const char* record;
  } cases[] = {
      {{"AO-07", 123.44, 5.0, 145950000, 432150000, "USB", "LSB"},
       '.',
       "SNAO-07 AZ123.4 EL5.0 DN145950000 UP432150000 DMUSB UMLSB\r\n"},
      {{"AO-07", 359.96, -3.25, 145950000, 432150000, "USB", "LSB"},
       ',',
       "SNAO-07 AZ360,0 EL-3,2 DN145950000 UP432150000 DMUSB UMLSB\r\n"},
      {{"ISS (ZARYA)", {}, {}, 145800000, {}, "FM", {}},
       '.',
       "SN\"ISS (ZARYA)\" DN145800000 DMFM\r\n"},
      {{{}, {}, {}, 10489750000, 2400250000, {}, {}}, '.', "DN10489750000 UP2400250000\r\n"},
      {{}, '.', ""},
  };
  for (const auto& c : cases) EXPECT_EQ(Record(c.fields, c.separator), c.record);
  EXPECT_EQ(WithLineEnd("SNA DN1"), "SNA DN1\r\n");
  EXPECT_EQ(WithLineEnd(""), "");
}

// Names come from files fetched from the internet: whatever one holds,
// Pasotune's own reader gets back exactly the frequencies and modes given,
// and a name with no other field in it, over D-Bus and over DDE alike.
TEST(TrackerRecord, ANameOrModeNeverPutsAFieldIntoTheRecord) {
  const struct {
    std::string name;
    std::optional<std::string> down, up;
    std::optional<std::string> read;  // the name Pasotune reads; nothing: none sent
  } cases[] = {
      {"X\" UP999 DMAM \"Y", "FM", "FM", "X' UP999 DMAM 'Y"},
      {"AO-07\tUP999\rDMAM\n", "USB", {}, "AO-07 UP999 DMAM"},
      {"AO-07\vUP999\xC2\x85"
       "DMAM",
       {},
       "LSB",
       "AO-07 UP999 DMAM"},
      {"AO-07\xE2\x80\xA8UP999\xE2\x80\xA9", "FM", "FM", "AO-07 UP999"},
      {std::string("\x7F\x1B[2J\0DN14595", 13), "FM", "FM", "[2J DN14595"},
      {"\xFF\xC0\xAF", "FM", "FM", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {" \t ", "FM", "FM", {}},
      {std::string(100, 'N'), "U SB", "LSB\rUP999", std::string(64, 'N')},
      {"AO-07", "", "AMAMAMAMAMAMAMAMA", "AO-07"},
  };
  for (const auto& c : cases) {
    Texts told;
    const std::string record = Record({c.name, {}, {}, 145900000, 435000000, c.down, c.up}, '.',
                                      [&told](const std::string& t) { told.push_back(t); });
    // The Windows feed sends Windows-1252, which the Windows program reads back.
    for (const bool overDde : {false, true}) {
      const std::string sent = overDde ? Cp1252ToUtf8(Utf8ToCp1252(record)) : record;
      Module1 m;
      m.Satelite = "BEFORE";
      m.ModoBajada = m.ModoSubida = "CW";
      LeerTracking(sent, m);
      const std::string row = Shown(c.name) + " -> " + Shown(sent);
      EXPECT_EQ(m.FrecBajada, 145900000) << row;
      EXPECT_EQ(m.FrecSubida, 435000000) << row;
      const auto mode = [](const std::optional<std::string>& given) {
        return given && IsRecordMode(*given) ? *given : "CW";
      };
      EXPECT_EQ(m.ModoBajada, mode(c.down)) << row;
      EXPECT_EQ(m.ModoSubida, mode(c.up)) << row;
      const std::string name = c.read.value_or("BEFORE");
      EXPECT_EQ(m.Satelite, overDde ? Cp1252ToUtf8(Utf8ToCp1252(name)) : name) << row;
    }
    const auto bad =
        std::size_t(c.down && !IsRecordMode(*c.down)) + std::size_t(c.up && !IsRecordMode(*c.up));
    EXPECT_EQ(told.size(), bad) << "a mode left out is told: " << Shown(c.name);
  }
}

TEST(TrackerRecord, ThePassPointsAsAPassDoes) {
  const Pass pass;
  EXPECT_EQ(RecordAt(pass, 0).substr(0, 24), "SNSO-50 AZ225.0 EL0.0 DN");
  EXPECT_NE(RecordAt(pass, 300, ',').find(" AZ315,0 EL60,0 DN"), std::string::npos);
  EXPECT_EQ(RecordAt(pass, 600).substr(RecordAt(pass, 600).size() - 2), "\r\n");
  for (double t = 0; t <= pass.durationS; t += 30) {
    const Pointing p = PointingAt(pass, t);
    EXPECT_GE(p.elevationDeg, 0) << t;
    EXPECT_LE(p.elevationDeg, pass.maxElevationDeg) << t;
    EXPECT_GE(p.azimuthDeg, 0) << t;
    EXPECT_LT(p.azimuthDeg, 360) << t;
  }
}

TEST(FeedOptions, GpredictPortsAndOverrides) {
  const struct {
    std::vector<std::string> args;
    std::vector<GpredictPort> ports;
  } good[] = {
      {{"--gpredict"}, {{Role::kDuplex, 4532}}},
      {{"--gpredict", "--quiet"}, {{Role::kDuplex, 4532}}},
      {{"--gpredict", "4600"}, {{Role::kDuplex, 4600}}},
      {{"--gpredict=4600"}, {{Role::kDuplex, 4600}}},
      {{"--gpredict-down", "4533", "--gpredict-up", "4534"},
       {{Role::kDownlink, 4533}, {Role::kUplink, 4534}}},
  };
  for (const auto& c : good) {
    const Parsed p = ParseArguments(c.args, "");
    ASSERT_TRUE(p.options) << c.args[0] << ": " << p.message;
    EXPECT_EQ(p.options->mode, Mode::kGpredict);
    EXPECT_EQ(p.options->gpredictPorts, c.ports) << c.args[0];
  }
  const Parsed given = ParseArguments({"--gpredict", "--gpredict-config", "/x", "--name", "AO 7",
                                       "--down-mode", "USB", "--up-mode", "LSB"},
                                      "");
  ASSERT_TRUE(given.options) << given.message;
  EXPECT_EQ(given.options->gpredictConfig, "/x");
  EXPECT_EQ(given.options->name, "AO 7");
  EXPECT_EQ(given.options->downMode, "USB");
  EXPECT_EQ(given.options->upMode, "LSB");

  const std::vector<std::string> bad[] = {
      {"--gpredict", "0"},          {"--gpredict", "65536"},
      {"--gpredict", "x"},          {"--gpredict-down"},
      {"--gpredict", "--pass"},     {"--gpredict", "4533", "--gpredict-up", "4533"},
      {"--gpredict", "--name", ""}, {"--gpredict", "--down-mode", "U SB"},
  };
  for (const auto& args : bad) {
    const Parsed p = ParseArguments(args, "");
    EXPECT_FALSE(p.options) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_GT(p.exitCode, 0);
  }
}

struct Tuned {
  Direction direction;
  std::int64_t hz;
  bool operator==(const Tuned&) const = default;
};

// One session with what it tuned and what it said on standard error.
struct Radio {
  explicit Radio(Role role)
      : session(
            role, memory,
            [this](Direction d, std::int64_t hz) {
              tuned.push_back({d, hz});
            },
            [this](const std::string& why) { complaints.push_back(why); }) {}
  gpredict::RadioMemory memory;
  std::vector<Tuned> tuned;
  Texts complaints;
  gpredict::Session session;
};

TEST(GpredictRadio, AnswersEveryCommandGpredictSends) {
  const struct {
    Role role;
    const char* line;
    const char* reply;
    std::optional<Tuned> tuned;
  } cases[] = {
      // Gpredict 2.3, full duplex
      {Role::kDuplex, "f", "0\n", {}},
      {Role::kDuplex, "S 1 Main", "RPRT 0\n", {}},
      {Role::kDuplex, "F  435840300", "RPRT 0\n", Tuned{Direction::kDown, 435840300}},
      {Role::kDuplex, "f", "435840300\n", {}},
      {Role::kDuplex, "I  145953248", "RPRT 0\n", Tuned{Direction::kUp, 145953248}},
      {Role::kDuplex, "i", "145953248\n", {}},
      {Role::kDuplex, "t", "0\n", {}},
      {Role::kDuplex, "T 1", "RPRT 0\n", {}},
      {Role::kDuplex, "t", "0\n", {}},
      {Role::kDuplex, "AOS", "RPRT 0\n", {}},
      {Role::kDuplex, "LOS", "RPRT 0\n", {}},
      {Role::kDuplex, "S 1 1769366884", "RPRT 0\n", {}},
      // Gpredict 2.6: VFO first, and its checks
      {Role::kDuplex, "\\chk_vfo", "0\n", {}},
      {Role::kDuplex, "\\set_vfo_opt 1", "RPRT 0\n", {}},
      {Role::kDuplex, "S Sub 1 Main", "RPRT 0\n", {}},
      {Role::kDuplex, "F currVFO 435840310", "RPRT 0\n", Tuned{Direction::kDown, 435840310}},
      {Role::kDuplex, "f currVFO", "435840310\n", {}},
      {Role::kDuplex, "F Main 145950000", "RPRT 0\n", Tuned{Direction::kUp, 145950000}},
      {Role::kDuplex, "f Main", "145950000\n", {}},
      {Role::kDuplex, "F Sub 435840320", "RPRT 0\n", Tuned{Direction::kDown, 435840320}},
      {Role::kDuplex, "I Main 145950001.4", "RPRT 0\n", Tuned{Direction::kUp, 145950001}},
      {Role::kDuplex, "i Main", "145950001\n", {}},
      {Role::kDuplex, "t Main", "0\n", {}},
      {Role::kDuplex, "T Main 0", "RPRT 0\n", {}},
      {Role::kDuplex, "V Sub", "RPRT 0\n", {}},
      {Role::kDuplex, "v", "Sub\n", {}},
      {Role::kDuplex, "\x8b", "0\n", {}},
      {Role::kDuplex, "\\get_dcd", "0\n", {}},
      {Role::kDuplex, "\\set_freq 435840330", "RPRT 0\n", Tuned{Direction::kDown, 435840330}},
      {Role::kDuplex, "\\get_freq", "435840330\n", {}},
      // refused at once
      {Role::kDuplex, "M USB 2400", "RPRT -11\n", {}},
      {Role::kDuplex, "L", "RPRT -11\n", {}},
      {Role::kDuplex, "F", "RPRT -1\n", {}},
      {Role::kDuplex, "F 1 2 3", "RPRT -1\n", {}},
      {Role::kDuplex, "F abc", "RPRT -1\n", {}},
      {Role::kDuplex, "F -5", "RPRT -1\n", {}},
      {Role::kDuplex, "F nan", "RPRT -1\n", {}},
      {Role::kDuplex, "f", "435840330\n", {}},
      {Role::kDuplex, "", "", {}},
      // one direction a port: Gpredict's RX-only and TX-only radios
      {Role::kDownlink, "F  435858720", "RPRT 0\n", Tuned{Direction::kDown, 435858720}},
      {Role::kDownlink, "f", "435858720\n", {}},
      {Role::kUplink, "F  145947080", "RPRT 0\n", Tuned{Direction::kUp, 145947080}},
      {Role::kUplink, "f", "145947080\n", {}},
      {Role::kUplink, "I  145947090", "RPRT 0\n", Tuned{Direction::kUp, 145947090}},
      {Role::kUplink, "f", "145947090\n", {}},
  };
  Radio duplex(Role::kDuplex), down(Role::kDownlink), up(Role::kUplink);
  for (const auto& c : cases) {
    Radio& r = c.role == Role::kDuplex ? duplex : c.role == Role::kDownlink ? down : up;
    r.tuned.clear();
    const auto out = r.session.Answer(c.line);
    EXPECT_EQ(out.reply, c.reply) << c.line;
    EXPECT_FALSE(out.end) << c.line;
    EXPECT_EQ(r.tuned, c.tuned ? std::vector<Tuned>{*c.tuned} : std::vector<Tuned>{}) << c.line;
  }
  EXPECT_EQ(duplex.complaints.size(), 7u) << "each refusal is told";
  const std::string state = duplex.session.Answer("\\dump_state").reply;
  EXPECT_LE(state.size(), 128u) << "one read of Gpredict's buffer";
  EXPECT_EQ(state.back(), '\n');
  EXPECT_TRUE(duplex.session.Answer("q").end);
}

TEST(GpredictRadio, BytesAsTheyComeLinesCappedAndTheEnd) {
  Radio r(Role::kDuplex);
  EXPECT_EQ(r.session.Receive("F 4358").reply, "");
  EXPECT_EQ(r.session.Receive("40300\nf\r\ni\n").reply, "RPRT 0\n435840300\n0\n");
  // A huge line is refused once, when it ends, and the next one is answered.
  const std::string huge(100'000, 'F');
  EXPECT_EQ(r.session.Receive(huge).reply, "");
  EXPECT_EQ(r.session.Receive(huge).reply, "");
  EXPECT_EQ(r.session.Receive("\nf\n").reply, "RPRT -1\n435840300\n");
  ASSERT_EQ(r.complaints.size(), 1u);
  EXPECT_NE(r.complaints[0].find("más de 256 bytes"), std::string::npos) << r.complaints[0];
  // A line exactly at the cap is still a line.
  EXPECT_EQ(r.session.Receive("F " + std::string(254, '1') + "\n").reply, "RPRT -1\n");
  EXPECT_EQ(r.complaints.size(), 2u);
  // Gone in the middle of a line: told, nothing tuned.
  r.tuned.clear();
  EXPECT_EQ(r.session.Receive("F 43586").reply, "");
  r.session.Closed();
  EXPECT_TRUE(r.tuned.empty());
  ASSERT_EQ(r.complaints.size(), 3u);
  EXPECT_NE(r.complaints[2].find("a mitad de una línea: F 43586"), std::string::npos);
  // q ends the session; what follows it is not answered.
  const auto out = r.session.Receive("f\nq\nF 1\n");
  EXPECT_EQ(out.reply, "435840300\n");
  EXPECT_TRUE(out.end);
  EXPECT_TRUE(r.tuned.empty());
}

TEST(GpredictFiles, TheTransponderThatHoldsTheFrequencies) {
  Texts complaints;
  std::vector<gpredict::Transponder> all = gpredict::ReadTransponders(kData / "config", complaints);
  EXPECT_TRUE(complaints.empty());
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].satellite, "SAUDISAT 1C (SO-50)");
  EXPECT_EQ(all[1].satellite, "PASOTEST");
  EXPECT_EQ(all[1].name, "Mode V/U linear");
  EXPECT_EQ(all[1].downLow, 435800000);
  EXPECT_TRUE(all[1].invert);
  // A beacon of its own, and a satellite whose .sat is missing.
  all.push_back({"BEACONSAT", "Beacon", 0, 0, 435795000, 0, false, "CW"});
  all.push_back({"", "Mode U/V", 435700000, 435750000, 145700000, 145750000, false, "FM"});
  const struct {
    std::optional<std::int64_t> down, up;
    const char* transponder;  // nullptr: none
  } cases[] = {
      {435850000, 145950000, "Mode V/U linear"},
      {435850000, {}, "Mode V/U linear"},
      {{}, 145950000, "Mode V/U linear"},
      {435756500, 146014500, "Mode V/U linear"},            // within 100 ppm of the ends
      {435755000, {}, "Beacon"},                            // past one's margin, in another's
      {435850000, 146014700, nullptr},                      // the uplink past its margin
      {436795000 + 9000, 145850000 - 3000, "Mode U/V FM"},  // Doppler of a low orbit
      {436795000, 145950000, nullptr},                      // two satellites' halves
      {145720000, 435720000, "Mode U/V"},
      {145720000, {}, "Mode U/V"},
      {28000000, {}, nullptr},
      {{}, {}, nullptr},
  };
  for (const auto& c : cases) {
    const gpredict::Transponder* t = gpredict::Match(all, c.down, c.up);
    const std::string row =
        std::to_string(c.down.value_or(0)) + " " + std::to_string(c.up.value_or(0));
    if (!c.transponder) {
      EXPECT_EQ(t, nullptr) << row << ": " << (t ? t->name : "");
    } else {
      ASSERT_NE(t, nullptr) << row;
      EXPECT_EQ(t->name, c.transponder) << row;
    }
  }
  complaints.clear();
  EXPECT_TRUE(gpredict::ReadTransponders(kData / "nowhere", complaints).empty());
}

TEST(GpredictFiles, RadioModesOfGpredictsModeTexts) {
  const struct {
    const char* mode;
    bool invert;
    bool uplink;
    std::optional<std::string> down, up;
  } cases[] = {
      {"LSB/USB", true, true, "USB", "LSB"},
      {"Linear", false, true, "USB", "USB"},
      {"SSB/CW", true, true, "USB", "LSB"},
      {"CW", false, true, "CW", "CW"},
      {"FM", false, true, "FM", "FM"},
      {"FM 67.0 Hz", false, true, "FM", "FM"},
      {"AX.25 AFSK 1200bd", false, true, "FM", "FM"},
      {"am", false, true, "AM", "AM"},
      {"BPSK 1200", false, true, {}, {}},
      {"", false, true, {}, {}},
      {"FM", false, false, "FM", {}},  // no uplink: no uplink mode
  };
  for (const auto& c : cases) {
    gpredict::Transponder t{
        "X",      "T",   c.uplink ? 145900000 : 0, c.uplink ? 146000000 : 0, 435800000, 435900000,
        c.invert, c.mode};
    const gpredict::Modes m = gpredict::RadioModes(t);
    EXPECT_EQ(m.down, c.down) << c.mode;
    EXPECT_EQ(m.up, c.up) << c.mode;
  }
}

TEST(GpredictFollower, OneRecordPerChangeWithTheTranspondersNameAndModes) {
  Texts told;
  gpredict::Follower f =
      gpredict::FollowerFor(reinterpret_cast<const char*>((kData / "config").u8string().c_str()),
                            {}, [&told](const std::string& t) { told.push_back(t); });
  ASSERT_EQ(told.size(), 1u);
  EXPECT_NE(told[0].find("2 transpondedores"), std::string::npos) << told[0];
  EXPECT_EQ(f.Tune(Direction::kDown, 435840300), "SNPASOTEST DN435840300 DMUSB UMLSB\r\n");
  EXPECT_EQ(f.Tune(Direction::kDown, 435840300), std::nullopt) << "nothing changed";
  EXPECT_EQ(f.Tune(Direction::kUp, 145953248),
            "SNPASOTEST DN435840300 UP145953248 DMUSB UMLSB\r\n");
  EXPECT_EQ(f.Tune(Direction::kDown, 436795000),
            "SN\"sin transpondedor\" DN436795000 UP145953248\r\n")
      << "no transponder holds both: said in the name, the modes left as they were";
  f.Tune(Direction::kUp, 145953300);
  EXPECT_EQ(f.Tune(Direction::kUp, 145850000),
            "SN\"SAUDISAT 1C (SO-50)\" DN436795000 UP145850000 DMFM UMFM\r\n");
  EXPECT_EQ(f.Tune(Direction::kDown, 28000000),
            "SN\"sin transpondedor\" DN28000000 UP145850000\r\n");
  // Said once each time the match is lost, not for every record without one.
  ASSERT_EQ(told.size(), 3u);
  EXPECT_NE(
      told[1].find(
          "ningún transpondedor de los archivos de Gpredict tiene DN 436795000, UP 145953248"),
      std::string::npos)
      << told[1];

  gpredict::Follower given({}, {"AO-07", "USB", std::nullopt});
  EXPECT_EQ(given.Tune(Direction::kDown, 145950000), "SNAO-07 DN145950000 DMUSB\r\n");
  gpredict::Follower overriding =
      gpredict::FollowerFor(reinterpret_cast<const char*>((kData / "config").u8string().c_str()),
                            {std::nullopt, std::nullopt, "FM"}, [](const std::string&) {});
  EXPECT_EQ(overriding.Tune(Direction::kDown, 435840300), "SNPASOTEST DN435840300 DMUSB UMFM\r\n");
}

// Every transcript as Gpredict sent it: every reply it needs, every value set
// read back exactly, one record per change in order.
TEST(GpredictReplay, EveryTranscriptAnsweredAsGpredictNeeds) {
  for (const char* name : test::kGpredictTranscripts) {
    const std::vector<test::GpredictExchange> all = test::ReadGpredictTranscript(kData / name);
    ASSERT_GT(all.size(), 20u) << name;
    const test::GpredictRadio radio = test::RadioOf(name);
    const Role role = radio == test::GpredictRadio::kRxOnly   ? Role::kDownlink
                      : radio == test::GpredictRadio::kTxOnly ? Role::kUplink
                                                              : Role::kDuplex;
    gpredict::Follower follower =
        gpredict::FollowerFor(reinterpret_cast<const char*>((kData / "config").u8string().c_str()),
                              {}, [](const std::string&) {});
    Texts records, expected;
    std::optional<std::int64_t> down, up;
    gpredict::RadioMemory memory;
    Texts complaints;
    gpredict::Session session(
        role, memory,
        [&](Direction d, std::int64_t hz) {
          if (auto r = follower.Tune(d, hz)) records.push_back(*r);
        },
        [&](const std::string& why) { complaints.push_back(why); });
    bool ended = false;
    for (const test::GpredictExchange& e : all) {
      ASSERT_FALSE(ended) << name << ": a command after q";
      const auto out = session.Receive(e.command + "\n");
      const std::optional<std::string> needed = test::NeededReply(e);
      EXPECT_EQ(out.reply, needed.value_or("")) << name << ": " << e.command;
      ended = out.end;
      // What the record should say of this set, from the transcript alone.
      const bool setsDown = e.command[0] == 'F' && role != Role::kUplink;
      const bool setsUp = e.command[0] == 'I' || (e.command[0] == 'F' && role == Role::kUplink);
      if (setsDown || setsUp) {
        const std::int64_t hz = std::stoll(e.command.substr(1));
        std::optional<std::int64_t>& slot = setsDown ? down : up;
        if (slot != hz) {
          slot = hz;
          std::string dn = down ? "DN" + std::to_string(*down) : "";
          std::string upText = up ? "UP" + std::to_string(*up) : "";
          expected.push_back(dn + (dn.empty() || upText.empty() ? "" : " ") + upText);
        }
      }
    }
    // Where Gpredict hung on rigctld's silence after LOS, the feed answered.
    EXPECT_EQ(ended, all.back().command == "q") << name << ": q ends the session";
    if (all.back().command == "LOS") {
      EXPECT_EQ(session.Answer("LOS").reply, "RPRT 0\n");
    }
    EXPECT_TRUE(complaints.empty()) << name << ": " << complaints.front();
    ASSERT_EQ(records.size(), expected.size()) << name;
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_NE(records[i].find(expected[i]), std::string::npos)
          << name << " record " << i << ": " << records[i] << " wants " << expected[i];
      EXPECT_EQ(records[i].substr(records[i].size() - 2), "\r\n");
    }
    // The transponder the pass was tracked on names the satellite, wherever
    // Gpredict's frequencies lie in it (the half-duplex radio's uplink on F,
    // sent only while keyed, matches nothing as a downlink).
    EXPECT_EQ(records.front().rfind("SNPASOTEST ", 0), 0u) << name << ": " << records.front();
    EXPECT_NE(records.front().find(" DMUSB UMLSB\r\n"), std::string::npos) << records.front();
  }
}

}  // namespace
}  // namespace pasotune::feed
