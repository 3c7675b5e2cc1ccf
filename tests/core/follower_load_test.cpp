// The follower under a fast tracker: records every 100 ms, bursts, records
// during the pauses of a connect and of a close. Whatever the rate, the
// checks never run nested, the radio ends on the newest values and a close
// ends within its own pauses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "harness.hpp"
#include "tracking/frequency_text.hpp"
#include "tracking/leer_tracking.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;

// Watches the follower from outside, through the text box's change event and
// the engine's end of the link: how deeply txtDDE_Change nests, whether a
// nested one pauses (it then runs checks of its own) and how deep the
// follower was when each command reached the engine.
class DepthProbe {
 public:
  explicit DepthProbe(World& w) : w_(w) {
    auto inner = w.form.txtDDE.change;
    w.form.txtDDE.change = [this, inner] {
      ++depth_;
      maxDepth_ = std::max(maxDepth_, depth_);
      const int pumps = w_.loop.Pumps();
      inner();
      if (depth_ > 1 && w_.loop.Pumps() != pumps) ++nestedPauses_;
      --depth_;
    };
    w.engine.onLine = [this](const std::string&) {
      maxSendDepth_ = std::max(maxSendDepth_, depth_);
    };
  }
  // At most one run of the checks at a time: a record inside a pause only
  // updates the labels and returns without pausing.
  void ExpectFlat() const {
    EXPECT_EQ(nestedPauses_, 0);
    EXPECT_LE(maxSendDepth_, 1);
    EXPECT_LE(maxDepth_, 2);
  }

 private:
  World& w_;
  int depth_ = 0;
  int maxDepth_ = 0;
  int maxSendDepth_ = 0;
  int nestedPauses_ = 0;
};

// A pass: both frequencies drift by less than a 100 Hz step per record, and
// both modes change half-way.
std::string Pass(int k) {
  const int up = 435'100'000 + 37 * k;
  const int down = 145'900'000 - 23 * k;
  const char* dm = k < 150 ? "USB" : "FM";
  const char* um = k < 150 ? "LSB" : "FM";
  return "SNSO-50 DN" + std::to_string(down) + " UP" + std::to_string(up) + " DM" + dm + " UM" + um;
}

// Frequencies that move one 100 Hz step every 20 records; the records in
// between differ below a step, so they send nothing.
std::string Slow(int k) {
  const int up = 435'100'000 + 100 * (k / 20) + k % 20;
  const int down = 145'900'000 - 100 * (k / 20) - k % 20;
  return "SNSO-50 DN" + std::to_string(down) + " UP" + std::to_string(up) + " DMUSB UMLSB";
}

struct LoadSession {
  LoadSession() {
    w.PutIcons();
    w.app.Load();
    w.form.Timer1.SetEnabled(false);
    w.form.Command1.SetEnabled(true);
  }
  // The last line sent that starts with prefix, without the prefix.
  std::string LastSent(std::string_view prefix) const {
    const auto sent = w.Sent();
    for (auto it = sent.rbegin(); it != sent.rend(); ++it) {
      if (it->rfind(prefix, 0) == 0) return it->substr(prefix.size());
    }
    return "(none)";
  }
  // The radio was left on what the labels show now.
  void ExpectRadioOnTheLabels() const {
    EXPECT_EQ(LastSent("SET FREQ MAIN "), CommandFrequencyText(w.form.LabelTX.Caption(), '.'));
    EXPECT_EQ(LastSent("SET MODE MAIN "), w.form.LabelModoTX.Caption());
    EXPECT_EQ(LastSent("SET FREQ SUB "), CommandFrequencyText(w.form.LabelRX.Caption(), '.'));
    EXPECT_EQ(LastSent("SET MODE SUB "), w.form.LabelModoRX.Caption());
  }
  double LastLineAt() const { return w.engine.Lines().empty() ? 0 : w.engine.Lines().back().at; }
  void Click() { w.form.Command1.Click(); }
  World w;
};

struct FollowerUnderLoad : testing::Test, LoadSession {};

TEST_F(FollowerUnderLoad, RecordsEveryHundredMilliseconds) {
  w.LinkUp();
  const DepthProbe probe(w);
  // Each command the engine gets carries the label as it is at that moment.
  int stale = 0;
  w.engine.onLine = [&, probeLine = w.engine.onLine](const std::string& line) {
    probeLine(line);
    if (line.rfind("SET FREQ MAIN ", 0) == 0 &&
        line.substr(14) != CommandFrequencyText(w.form.LabelTX.Caption(), '.'))
      ++stale;
  };
  const double start = w.loop.Now();
  constexpr int kRecords = 300;
  for (int k = 0; k < kRecords; ++k) {
    w.loop.At(start + 100.0 * k + 37, [this, k] { w.Record(Pass(k)); });
  }
  w.RunFor(100.0 * kRecords + 10'000);
  probe.ExpectFlat();
  EXPECT_EQ(stale, 0);
  EXPECT_EQ(w.form.LabelTX.Caption(), "435.111063");
  ExpectRadioOnTheLabels();
  EXPECT_EQ(LastSent("SET MODE SUB "), "FM");
  // Caught up within two runs of the four checks after the last record.
  EXPECT_LE(LastLineAt() - (start + 100.0 * (kRecords - 1) + 37), 4000);
}

TEST_F(FollowerUnderLoad, ABurstCostsOneMoreRunNotOnePerRecord) {
  w.LinkUp();
  const DepthProbe probe(w);
  const double start = w.loop.Now();
  // 500 records due at the same moment, inside the first run's first pause.
  constexpr int kBurst = 500;
  for (int k = 1; k <= kBurst; ++k) {
    w.loop.At(start + 200, [this, k] { w.Record(Pass(k * 3)); });
  }
  w.Record(Pass(0));
  w.RunFor(20'000);
  probe.ExpectFlat();
  EXPECT_EQ(w.form.LabelTX.Caption(), "435.1555");
  ExpectRadioOnTheLabels();
  // The first run (its uplink before the burst, the rest after it), then one
  // run on the newest labels.
  EXPECT_THAT(w.Sent(),
              ElementsAre("SET FREQ MAIN 435.1000", "SET MODE MAIN FM", "SET FREQ SUB 145.8655",
                          "SET MODE SUB FM", "SET FREQ MAIN 435.1555"));
  EXPECT_NEAR(LastLineAt() - start, 2000, 10);
}

TEST_F(FollowerUnderLoad, RecordsDuringEveryPauseOfAReconnect) {
  // Linked, then the engine hangs up: Conectado stays set, so records in the
  // pauses of the next connect run the checks against a closed link.
  Click();
  w.engine.Hangup();
  w.RunFor(10);
  ASSERT_TRUE(w.m.Conectado);
  const DepthProbe probe(w);
  // The engine takes 1.3 s to listen and attempts hang, so the sequence has
  // every kind of pause: 200, 500, 500, then 500 and 100 + 500 per attempt.
  w.processes.listenAfterMs = 1300;
  w.engine.refuse = false;
  const double start = w.loop.Now();
  constexpr int kRecords = 100;
  for (int k = 0; k < kRecords; ++k) {
    w.loop.At(start + 100.0 * k + 37, [this, k] { w.Record(Slow(k)); });
  }
  double linkedAt = 0;
  w.After(0, [&] {
    Click();
    linkedAt = w.loop.Now();
  });
  w.RunFor(30'000);
  probe.ExpectFlat();
  EXPECT_EQ(w.form.Command1.Caption(), "Desconectar");
  EXPECT_EQ(w.tcp.State(), sck::kConnected);
  EXPECT_LT(linkedAt - start, 100.0 * kRecords);  // records kept coming after it
  ExpectRadioOnTheLabels();
}

TEST_F(FollowerUnderLoad, RecordsDuringEveryPauseOfAFirstConnect) {
  const DepthProbe probe(w);
  w.processes.listenAfterMs = 1300;
  w.engine.refuse = false;
  const double start = w.loop.Now();
  for (int k = 0; k < 100; ++k) {
    w.loop.At(start + 100.0 * k + 37, [this, k] { w.Record(Pass(k)); });
  }
  w.After(0, [this] { Click(); });
  w.RunFor(30'000);
  probe.ExpectFlat();
  EXPECT_EQ(w.Sent().front(), "SETPORT COM1");
  ExpectRadioOnTheLabels();
}

// The record was there before Conectar and may not change for a long time
// (QO-100, a paused tracker): the engine's ready banner tunes the radio to
// what the window shows, within the four commands' own pauses, and a tracker
// that keeps moving is followed as before.
TEST_F(FollowerUnderLoad, TheReadyBannerTunesTheRadioToWhatTheWindowShows) {
  struct Case {
    const char* name;
    double every;  // ms between records after the click; 0: none
  };
  for (const Case& c :
       {Case{"unchanged", 0}, Case{"every 50 ms", 50}, Case{"every second", 1000}}) {
    LoadSession t;
    t.w.Record(Pass(0));
    double readyAt = 0;
    const DepthProbe probe(t.w);
    // Opening the radio takes a while, as Hamlib's does.
    t.w.engine.onLine = [&, probeLine = t.w.engine.onLine](const std::string& line) {
      probeLine(line);
      if (line.rfind("SETPORT ", 0) != 0) return;
      t.w.After(300, [&] {
        readyAt = t.w.loop.Now();
        t.w.engine.Reply("Velkor READY: Kenwood TS-790 en COM1 (/dev/ttyS0, 4800 baudios)\r\n");
      });
    };
    const double start = t.w.loop.Now();
    for (int k = 1; c.every > 0 && k <= 200; ++k) {
      t.w.loop.At(start + c.every * k, [&t, k] { t.w.Record(Pass(k)); });
    }
    t.Click();
    t.w.RunFor(c.every * 200 + 5'000);
    probe.ExpectFlat();
    t.ExpectRadioOnTheLabels();
    if (c.every == 0) {
      EXPECT_THAT(t.w.Sent(),
                  ElementsAre("SETPORT COM1", "SET FREQ MAIN 435.1000", "SET MODE MAIN LSB",
                              "SET FREQ SUB 145.9000", "SET MODE SUB USB"));
      EXPECT_LE(t.LastLineAt() - readyAt, 3 * 500 + 10);
    }
  }
}

TEST_F(FollowerUnderLoad, ACloseEndsWithinItsOwnPausesWhateverTheTracker) {
  struct Case {
    const char* name;
    double closeAt;  // after the first record
    bool linked;
  };
  const Case cases[] = {
      {"inside the first command's pause", 250, true},
      {"between two records, mid-pass", 7'050, true},
      {"not linked", 3'000, false},
  };
  for (const Case& c : cases) {
    LoadSession t;
    if (c.linked) t.w.LinkUp();
    const DepthProbe probe(t.w);
    const double start = t.w.loop.Now();
    for (int k = 0; k < 2000; ++k) {
      t.w.loop.At(start + 10.0 * k, [&t, k] { t.w.Record(Pass(k * 5)); });
    }
    std::string ultimaAlCerrar;
    t.w.loop.At(start + c.closeAt, [&] {
      t.w.messages.answers.push_back(MsgResult::kYes);
      ultimaAlCerrar = t.w.m.UltimaSubida;
      t.w.form.RequestClose();
    });
    t.w.RunFor(60'000);
    probe.ExpectFlat();
    ASSERT_TRUE(t.w.programEnd.ended) << c.name;
    EXPECT_NEAR(t.w.programEnd.endedAt - (start + c.closeAt), c.linked ? 700 : 500, 5) << c.name;
    // Nothing more was handed to the engine after the close began.
    EXPECT_EQ(t.w.m.UltimaSubida, ultimaAlCerrar) << c.name;
  }
}

// A live tracker that never stops: a record every 50 ms or every second,
// both frequencies moving a step or more each time, so a pass of the checks
// always has two commands to send. Whatever handler a record interrupts
// ends in its own time plus, at most, one pass in progress.
std::string Moving(int k) {
  return "SNSO-50 AZ12.5 EL3.0 DN" + std::to_string(145'900'000 - 130 * k) + " UP" +
         std::to_string(435'100'000 + 150 * k) + " DMFM UMFM\r\n";
}

constexpr double kOnePass = 4 * 500;  // four commands, a pause each
constexpr double kSlack = 30;

struct LiveTracker : testing::TestWithParam<double>, LoadSession {
  // Records from start on for ten minutes; returns the index of the last.
  int Stream(double start) {
    const double every = GetParam();
    const int count = static_cast<int>(600'000 / every);
    for (int k = 0; k < count; ++k) {
      w.loop.At(start + every * k, [this, k] { w.Record(Moving(k)); });
    }
    return count - 1;
  }
  // When fn, run from the event loop at atMs, returns.
  double ReturnTime(double atMs, std::function<void()> fn) {
    auto done = std::make_shared<double>(-1);
    w.loop.At(atMs, [this, fn, done] {
      fn();
      *done = w.loop.Now();
    });
    while (*done < 0 && !w.loop.Stopped() && w.loop.Now() < atMs + 60'000) w.loop.PumpOnce(100);
    return *done;
  }
};

TEST_P(LiveTracker, TheExitQuestionAnsweredYesEndsTheProgram) {
  // The user takes a second to answer; the box runs the event loop meanwhile.
  for (const double offset : {-20.0, 7.0, 2'503.0}) {
    LoadSession t;
    t.w.LinkUp();
    t.w.messages.thinkMs = 1000;
    const double start = t.w.loop.Now() + 20;
    const double every = GetParam();
    for (int k = 0; k < static_cast<int>(600'000 / every); ++k) {
      t.w.loop.At(start + every * k, [&t, k] { t.w.Record(Moving(k)); });
    }
    t.w.loop.At(start + offset, [&t] { t.w.form.RequestClose(); });
    t.w.RunFor(60'000);
    ASSERT_TRUE(t.w.programEnd.ended) << "offset " << offset;
    EXPECT_LE(t.w.programEnd.endedAt - (start + offset), 1000 + 200 + 500 + kOnePass + kSlack)
        << "offset " << offset;
  }
}

TEST_P(LiveTracker, AToneClickCompletes) {
  w.LinkUp();
  w.form.Command3.SetEnabled(true);
  const double start = w.loop.Now() + 20;
  Stream(start);
  for (const double at : {start - 10, start + 5'003, start + 20'017}) {
    const double done = ReturnTime(at, [this] { w.form.Command3.Click(); });
    ASSERT_GE(done, 0) << "click at " << at;
    EXPECT_LE(done - at, 500 + kOnePass + kSlack) << "click at " << at;
  }
  w.RunFor(1000);
  const auto sent = w.Sent();
  EXPECT_EQ(std::count_if(sent.begin(), sent.end(),
                          [](const std::string& l) { return l.rfind("SET TONE ", 0) == 0; }),
            3);
}

TEST_P(LiveTracker, AConnectionAndADisconnectionComplete) {
  Click();
  w.RunFor(100);
  ASSERT_TRUE(w.m.Conectado);
  const double start = w.loop.Now() + 20;
  Stream(start);
  // Conectado stays set through the disconnection's pause, so the checks
  // run inside it; the connection's own sequence is 200 + 500 + 500 + 500.
  double at = start - 10;
  double done = ReturnTime(at, [this] { Click(); });
  ASSERT_GE(done, 0);
  EXPECT_LE(done - at, 500 + kOnePass + kSlack);
  EXPECT_EQ(w.form.Command1.Caption(), "Conectar");
  at = done + 3'001;
  done = ReturnTime(at, [this] { Click(); });
  ASSERT_GE(done, 0);
  EXPECT_LE(done - at, 1500 + kOnePass + kSlack);
  EXPECT_TRUE(w.m.Conectado);
  at = done + 5'003;
  done = ReturnTime(at, [this] { Click(); });
  ASSERT_GE(done, 0);
  EXPECT_LE(done - at, 500 + kOnePass + kSlack);
}

TEST_P(LiveTracker, TheLastCommandsCarryTheNewestRecord) {
  w.LinkUp();
  const DepthProbe probe(w);
  const double start = w.loop.Now();
  const int last = Stream(start);
  w.RunFor(600'000 + 10'000);
  probe.ExpectFlat();
  Module1 newest;
  LeerTracking(Moving(last), newest);
  EXPECT_EQ(w.form.LabelTX.Caption(), MhzText(newest.FrecSubida, '.'));
  ExpectRadioOnTheLabels();
  // Never more than one pass behind the tracker.
  EXPECT_LE(LastLineAt() - (start + GetParam() * last), kOnePass + kSlack);
}

// The radio lost and back mid-pass: the ERROR offers to connect, the ready
// banner puts the switch back and the radio on the newest record.
TEST_P(LiveTracker, TheReadyBannerAfterAnErrorPutsTheSwitchBack) {
  Click();
  w.RunFor(100);
  const DepthProbe probe(w);
  const double start = w.loop.Now() + 20;
  const int last = Stream(start);
  std::vector<std::string> looks;
  auto look = [this, &looks] {
    looks.push_back(w.form.Command1.Caption() + " " + w.form.Command1.Picture() +
                    (w.form.HPORT.Enabled() ? " puerto libre" : " puerto fijo"));
  };
  w.loop.At(start + 5'003, [this] { w.engine.Reply("ERROR: la radio no contesta\r\n"); });
  w.loop.At(start + 5'003 + kOnePass + kSlack, look);
  w.loop.At(start + 20'011, [this] { w.engine.Reply("Velkor READY: TS-790 en COM1\r\n"); });
  w.loop.At(start + 20'011 + kOnePass + kSlack, look);
  w.RunFor(600'000 + 10'000);
  probe.ExpectFlat();
  EXPECT_THAT(looks,
              ElementsAre("Conectar up2-icon puerto libre", "Desconectar cancel-icon puerto fijo"));
  EXPECT_EQ(w.form.Command1.Caption(), "Desconectar");
  EXPECT_LE(LastLineAt() - (start + GetParam() * last), kOnePass + kSlack);
  ExpectRadioOnTheLabels();
}

INSTANTIATE_TEST_SUITE_P(Every, LiveTracker, testing::Values(50.0, 1000.0),
                         [](const testing::TestParamInfo<double>& info) {
                           return std::to_string(static_cast<int>(info.param)) + "ms";
                         });

}  // namespace
}  // namespace pasotune::test
