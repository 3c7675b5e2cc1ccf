// The follower under a fast tracker: records every 100 ms, bursts, records
// during the pauses of a connect and of a close. Whatever the rate, the
// checks never run nested, the radio ends on the newest values and a close
// ends within its own pauses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "harness.hpp"
#include "tracking/frequency_text.hpp"

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

}  // namespace
}  // namespace pasotune::test
