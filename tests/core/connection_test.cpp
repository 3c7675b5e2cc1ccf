#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;
using testing::HasSubstr;
using testing::IsEmpty;

constexpr char kRefused[] = "Error: Connection is forcefully rejected";
constexpr char kGivenUp[] = "No fue posible conectar con Velkor.";

struct Session {
  Session() {
    w.PutIcons();
    w.app.Load();
    w.form.Timer1.SetEnabled(false);
    w.form.Command1.SetEnabled(true);
  }
  void Click() { w.form.Command1.Click(); }
  // Replies "Velkor READY" to SETPORT, as the engine does.
  void EngineAnswersReady() {
    w.engine.onLine = [this](const std::string& line) {
      if (line.rfind("SETPORT ", 0) == 0) w.engine.Reply("Velkor READY\r\n");
    };
  }
  void ExpectConnectable() {
    EXPECT_EQ(w.form.Command1.Caption(), "Conectar");
    EXPECT_EQ(w.form.Command1.Picture(), "up2-icon");
    EXPECT_TRUE(w.form.HPORT.Enabled());
  }
  std::vector<std::string> ProcessCalls() const {
    std::vector<std::string> out;
    for (const auto& c : w.processes.calls) out.push_back(c.what + " " + c.arg);
    return out;
  }
  World w;
};

struct Connection : testing::Test, Session {};

TEST_F(Connection, EngineListeningAtOnce) {
  EngineAnswersReady();
  w.form.HPORT.SetText("COM3");
  Click();
  EXPECT_EQ(w.form.Command1.Caption(), "Desconectar");
  EXPECT_EQ(w.form.Command1.Picture(), "cancel-icon");
  EXPECT_FALSE(w.form.HPORT.Enabled());
  EXPECT_TRUE(w.m.Conectado);
  EXPECT_TRUE(w.form.Command3.Enabled());
  EXPECT_TRUE(w.form.Command4.Enabled());
  EXPECT_EQ(w.engine.Received(), "SETPORT COM3\r\n");
  EXPECT_THAT(ProcessCalls(),
              ElementsAre("end Velkor.exe", "start " + w.folder.File("Velkor.exe")));
  EXPECT_NEAR(w.loop.Now(), 1500, 10);
  w.RunFor(100);
  EXPECT_THAT(w.Log(), ElementsAre("Conectando ...", "Velkor READY"));
}

TEST_F(Connection, TheEnginePathUsesThePlatformsFolderSeparator) {
  w.platform.folderSeparator = '\\';
  Click();
  EXPECT_THAT(ProcessCalls(),
              ElementsAre("end Velkor.exe", "start " + w.folder.Path() + "\\Velkor.exe"));
}

TEST_F(Connection, EngineNeverListening) {
  struct Case {
    const char* name;
    bool refuse;
    std::vector<std::string> log;
    double seconds;
  };
  const std::vector<std::string> refusedTenTimes = [] {
    std::vector<std::string> l(10, kRefused);
    l.push_back(kGivenUp);
    return l;
  }();
  const Case cases[] = {
      // Each attempt hangs, so the next must close it first: 1 + 0.5 + 9 x 0.6 s.
      {"attempts hang", false, {kGivenUp}, 6.9},
      {"attempts refused", true, refusedTenTimes, 6.0},
  };
  for (const Case& c : cases) {
    Session t;
    t.w.processes.listenAfterMs.reset();
    t.w.engine.refuse = c.refuse;
    t.Click();
    EXPECT_EQ(t.w.Log(), c.log) << c.name;
    EXPECT_NEAR(t.w.loop.Now() / 1000, c.seconds, 0.05) << c.name;
    EXPECT_EQ(t.w.tcp.Connects(), 10) << c.name;
    EXPECT_FALSE(t.w.m.Conectado) << c.name;
    t.ExpectConnectable();
    EXPECT_THAT(
        t.ProcessCalls(),
        ElementsAre("end Velkor.exe", "start " + t.w.folder.File("Velkor.exe"), "end Velkor.exe"))
        << c.name;
  }
}

// An engine slow to listen: the first attempts are refused, a later one
// links. The switch follows the sequence, not a refused attempt's error, so
// the next click disconnects a live link instead of restarting the engine.
TEST_F(Connection, AnEngineSlowToListenLinksAndOneClickDisconnects) {
  w.processes.listenAfterMs = 1500;
  EngineAnswersReady();
  bool flapped = false;
  for (double at = 600; at < 2500; at += 50) {
    w.loop.At(at, [&] {
      flapped |= w.form.Command1.Caption() != "Desconectar" || w.form.HPORT.Enabled();
    });
  }
  Click();
  EXPECT_THAT(w.Log(), ElementsAre(kRefused, kRefused, "Conectando ..."));
  EXPECT_FALSE(flapped);
  EXPECT_TRUE(w.m.Conectado);
  EXPECT_EQ(w.form.Command1.Caption(), "Desconectar");
  EXPECT_EQ(w.form.Command1.Picture(), "cancel-icon");
  EXPECT_FALSE(w.form.HPORT.Enabled());
  EXPECT_EQ(w.engine.Received(), "SETPORT COM1\r\n");
  w.RunFor(100);
  const auto calls = w.processes.calls.size();

  Click();
  w.RunFor(1000);
  EXPECT_EQ(w.tcp.State(), sck::kClosed);
  EXPECT_EQ(w.engine.Accepted(), 1);
  EXPECT_EQ(w.engine.Received(), "SETPORT COM1\r\n");
  ASSERT_EQ(w.processes.calls.size(), calls + 1);
  EXPECT_EQ(w.processes.calls.back().what, "end");
  EXPECT_FALSE(w.m.Conectado);
  ExpectConnectable();
}

// Another user's program listening on the port fails every attempt; the log
// says whose it is once, then that no link was made.
TEST_F(Connection, APortHeldByAnotherUserIsNamedOnce) {
  constexpr char kHolder[] =
      "127.0.0.1:9000 lo ocupa un programa de otro usuario (uid 65534, nobody)";
  w.engine.foreignHolder = kHolder;
  Click();
  EXPECT_THAT(w.Log(), ElementsAre(std::string("Error: ") + kHolder, kGivenUp));
  EXPECT_FALSE(w.m.Conectado);
  EXPECT_EQ(w.engine.Received(), "");
  ExpectConnectable();
  Click();
  EXPECT_THAT(w.Log(), ElementsAre(std::string("Error: ") + kHolder, kGivenUp,
                                   std::string("Error: ") + kHolder, kGivenUp));
}

TEST_F(Connection, ASecondClickDuringTheSequenceDisconnectsAndTheLoopGivesUp) {
  w.engine.refuse = false;
  w.After(700, [&] { Click(); });
  Click();
  EXPECT_THAT(w.Log(), ElementsAre("Desconectado", kGivenUp));
  EXPECT_FALSE(w.m.Conectado);
  EXPECT_EQ(w.engine.Accepted(), 0);
  ExpectConnectable();
  EXPECT_FALSE(w.form.Command3.Enabled());
}

TEST_F(Connection, EngineReplies) {
  struct Case {
    std::vector<std::string> arrivals;
    std::vector<std::string> logged;
    bool error;  // the switch offers to connect, the port box is free
    bool ready;
  };
  const Case cases[] = {
      {{"ERROR cannot open COM1\r\n"}, {"ERROR cannot open COM1"}, true, false},
      {{"error lower case\r\n"}, {"error lower case"}, false, false},
      {{"Velkor READY\r\n"}, {"Velkor READY"}, false, true},
      // Each reply its own line; the markers act on the whole arrival, and
      // of the two the later one sets the switch.
      {{"Velkor READY\r\nERROR busy\r\n"}, {"Velkor READY", "ERROR busy"}, true, true},
      {{"ERROR lost\r\nVelkor READY: back\r\n"}, {"ERROR lost", "Velkor READY: back"}, false, true},
      // The radio back after an ERROR: the switch is Desconectar again.
      {{"ERROR lost\r\n", "Velkor READY: back\r\n"},
       {"ERROR lost", "Velkor READY: back"},
       false,
       true},
      {{"Velkor READY\r\n", "ERROR lost\r\n"}, {"Velkor READY", "ERROR lost"}, true, true},
      {{"Velkor READY: x\r\nNOT DONE y"}, {"Velkor READY: x", "NOT DONE y"}, false, true},
      {{"\r\n"}, {""}, false, false},
      {{"Velkor RE", "ADY\r\n"}, {"Velkor RE", "ADY"}, false, false},
      {{"a\r\rb\n\r\n"}, {"a\r\rb\n"}, false, false},
  };
  for (const Case& c : cases) {
    Session t;
    t.Click();
    t.w.m.Conectado = false;
    for (const auto& a : c.arrivals) {
      t.w.engine.Reply(a);
      t.w.RunFor(10);
    }
    std::vector<std::string> log = t.w.Log();
    log.erase(log.begin());  // "Conectando ..."
    EXPECT_EQ(log, c.logged) << c.arrivals[0];
    EXPECT_EQ(t.w.form.Command1.Caption(), c.error ? "Conectar" : "Desconectar") << c.arrivals[0];
    EXPECT_EQ(t.w.form.Command1.Picture(), c.error ? "up2-icon" : "cancel-icon") << c.arrivals[0];
    EXPECT_EQ(t.w.form.HPORT.Enabled(), c.error) << c.arrivals[0];
    EXPECT_EQ(t.w.m.Conectado, c.ready) << c.arrivals[0];
    EXPECT_EQ(t.w.tcp.State(), sck::kConnected) << c.arrivals[0];
  }
}

TEST_F(Connection, OneArrivalLogsAtMostOneKibibyteThenAnEllipsis) {
  const std::string a1023(1023, 'a');
  struct Case {
    const char* name;
    std::string arrival;  // Windows-1252, as on the wire
    std::string logged;
    bool error;
  };
  std::string lines;
  for (int i = 0; i < 600; ++i) lines += "x\r\n";
  const Case cases[] = {
      {"exactly 1 KiB", a1023 + "a", a1023 + "a", false},
      {"one byte more", a1023 + "ab", a1023 + "a…", false},
      {"a character across the cut", a1023 + "\xE9zz", a1023 + "…", false},
      {"three-byte characters", std::string(2000, '\x80'),
       [] {
         std::string s;
         for (int i = 0; i < 341; ++i) s += "€";
         return s + "…";
       }(),
       false},

      {"ERROR past the cut still counts", std::string(1 << 20, 'a') + "ERROR\r\n",
       std::string(1024, 'a') + "…", true},
  };
  for (const Case& c : cases) {
    Session t;
    t.Click();
    t.w.engine.Reply(c.arrival);
    t.w.RunFor(10);
    EXPECT_THAT(t.w.Log(), ElementsAre("Conectando ...", c.logged)) << c.name;
    EXPECT_EQ(t.w.form.Command1.Caption(), c.error ? "Conectar" : "Desconectar") << c.name;
  }
  Session t;
  t.Click();
  t.w.engine.Reply(lines);
  t.w.RunFor(10);
  std::vector<std::string> many(33, "x");
  many.front() = "Conectando ...";
  many.push_back("… y 568 líneas más de Velkor sin mostrar");
  EXPECT_EQ(t.w.Log(), many);
}

TEST_F(Connection, AfterAnEngineErrorCommandsKeepGoingOut) {
  Click();
  w.engine.Reply("ERROR radio not answering\r\n");
  w.RunFor(10);
  w.Record("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");
  EXPECT_EQ(w.Sent().size(), 5u);
}

TEST_F(Connection, TheEngineClosingTheLink) {
  Click();
  w.engine.Hangup();
  w.RunFor(10);
  EXPECT_THAT(w.Log(), ElementsAre("Conectando ...", "Desconectado"));
  EXPECT_EQ(w.form.Command1.Caption(), "Conectar");
  EXPECT_TRUE(w.m.Conectado);
  EXPECT_FALSE(w.form.HPORT.Enabled());
  EXPECT_TRUE(w.form.Command3.Enabled());
  // Commands are dropped without a line, and a click connects again.
  w.Record("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");
  EXPECT_EQ(w.Log().size(), 2u);
  Click();
  EXPECT_EQ(w.form.Command1.Caption(), "Desconectar");
  EXPECT_EQ(w.tcp.State(), sck::kConnected);
}

TEST_F(Connection, DisconnectWhileLinked) {
  Click();
  const double start = w.loop.Now();
  Click();
  EXPECT_THAT(w.Log(), ElementsAre("Conectando ...", "Desconectado"));
  EXPECT_EQ(w.tcp.State(), sck::kClosed);
  EXPECT_NEAR(w.loop.Now() - start, 500, 3);
  EXPECT_FALSE(w.m.Conectado);
  ExpectConnectable();
  EXPECT_FALSE(w.form.Command3.Enabled());
  EXPECT_FALSE(w.form.Command4.Enabled());
  EXPECT_EQ(ProcessCalls().back(), "end Velkor.exe");
  w.RunFor(1000);
  EXPECT_EQ(w.Log().size(), 2u);  // no close event follows
}

TEST_F(Connection, EveryNewConnectionTunesTheRadioFully) {
  const char* record = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB";
  Click();
  w.Record(record);
  Click();
  Click();
  w.form.txtDDE.SetText("");
  w.Record(record);
  EXPECT_THAT(w.Sent(), ElementsAre("SETPORT COM1", "SET FREQ MAIN 432.1500", "SET MODE MAIN LSB",
                                    "SET FREQ SUB 145.9500", "SET MODE SUB USB", "SETPORT COM1",
                                    "SET FREQ MAIN 432.1500", "SET MODE MAIN LSB",
                                    "SET FREQ SUB 145.9500", "SET MODE SUB USB"));
}

TEST_F(Connection, UnguardedStepsLogTheirFailureAndGoOn) {
  struct Case {
    const char* name;
    std::function<void(World&)> arrange;
    std::vector<std::string> log;
  };
  const Case cases[] = {
      {"engine file gone",
       [](World& w) {
         w.processes.failStart = "Velkor.exe: No such file or directory";
         w.processes.listenAfterMs.reset();
         w.engine.refuse = false;
       },
       {"Error: Velkor.exe: No such file or directory", kGivenUp}},
      {"link drops before SETPORT",
       [](World& w) { w.engine.failNextSend = "Broken pipe"; },
       {"Conectando ...", "Error: Broken pipe"}},
      {"received data cannot be taken",
       [](World& w) {
         w.tcp.failNextGetData = "Connection reset";
         w.engine.onLine = [&w](const std::string&) { w.engine.Reply("Velkor READY\r\n"); };
       },
       {"Conectando ...", "Error: Connection reset"}},
      {"icons missing", [](World& w) { std::filesystem::remove(w.folder.File("cancel.ico")); }, {}},
  };
  for (const Case& c : cases) {
    Session t;
    c.arrange(t.w);
    t.Click();
    t.w.RunFor(10);
    if (std::string(c.name) == "icons missing") {
      ASSERT_FALSE(t.w.Log().empty());
      EXPECT_THAT(t.w.Log()[0], HasSubstr("cancel.ico")) << c.name;
      EXPECT_EQ(t.w.form.Command1.Picture(), "") << c.name;  // the built-in picture stays
      EXPECT_EQ(t.w.form.Command1.Caption(), "Desconectar") << c.name;
      continue;
    }
    EXPECT_EQ(t.w.Log(), c.log) << c.name;
  }
}

// Whatever ends the engine, the log says so with the system's cause, unless
// the program ended it: at Desconectar, at exit, before a start, on giving up.
TEST_F(Connection, AnEngineEndNotAskedForIsToldWithItsCause) {
  auto told = [](const char* cause) {
    return std::vector<std::string>{std::string("Velkor.exe terminó ") + cause +
                                    "; Conectar lo arranca de nuevo"};
  };
  struct Case {
    const char* name;
    std::function<void(Session&)> act;
    std::vector<std::string> said;
  };
  const Case cases[] = {
      {"a crash while linked", [](Session& t) { t.w.processes.Crash("por la señal 11 (SIGSEGV)"); },
       told("por la señal 11 (SIGSEGV)")},
      {"another program's kill",
       [](Session& t) { t.w.processes.Crash("por la señal 9 (SIGKILL)"); },
       told("por la señal 9 (SIGKILL)")},
      {"an exit status", [](Session& t) { t.w.processes.Crash("con el código de salida 3"); },
       told("con el código de salida 3")},
      {"Desconectar", [](Session& t) { t.Click(); }, {}},
      {"Conectar after the link dropped",
       [](Session& t) {
         t.w.engine.Hangup();
         t.w.RunFor(10);
         t.Click();
       },
       {}},
      {"exit",
       [](Session& t) {
         t.w.After(0, [&t] { t.w.form.RequestClose(); });
         t.w.RunFor(1000);
         EXPECT_TRUE(t.w.programEnd.ended);
       },
       {}},
      {"a crash, then Conectar",
       [](Session& t) {
         t.w.processes.Crash("por la señal 6 (SIGABRT)");
         t.w.RunFor(10);
         t.Click();
         t.w.RunFor(10);
         t.Click();
       },
       told("por la señal 6 (SIGABRT)")},
  };
  for (const Case& c : cases) {
    Session t;
    t.Click();
    t.w.RunFor(10);
    ASSERT_EQ(t.w.processes.Running(), 1) << c.name;
    c.act(t);
    t.w.RunFor(1000);
    std::vector<std::string> said;
    for (const std::string& line : t.w.Log()) {
      if (line.find("terminó") != std::string::npos) said.push_back(line);
    }
    EXPECT_EQ(said, c.said) << c.name;
  }
  // An engine that never listens and ends during the attempts, then one
  // that never listens and is ended on giving up.
  for (const bool crash : {true, false}) {
    Session t;
    t.w.processes.listenAfterMs.reset();
    if (crash) t.w.After(1'700, [&t] { t.w.processes.Crash("con el código de salida 127"); });
    t.Click();
    t.w.RunFor(1000);
    std::vector<std::string> said;
    for (const std::string& line : t.w.Log()) {
      if (line.find("terminó") != std::string::npos) said.push_back(line);
    }
    EXPECT_EQ(said, crash ? told("con el código de salida 127") : std::vector<std::string>{});
    EXPECT_EQ(t.w.Log().back(), kGivenUp);
  }
}

TEST(TrackerLink, AbsentTrackerIsToldOnceAndTheProgramGoesOn) {
  // Where Orbitron itself is the tracker the box says it all; elsewhere one
  // log line after it says how to start one.
  for (const std::string_view hint : {std::string_view(), kComoSeguir}) {
    World w;
    w.platform.trackerHint = hint;
    w.tracker.running = false;
    w.app.Load();
    w.RunFor(5000);
    ASSERT_EQ(w.messages.shown.size(), 1u);
    EXPECT_EQ(w.messages.shown[0].text, "No se está ejecutando Orbitron!");
    EXPECT_EQ(w.messages.shown[0].title, "Pasotune");
    EXPECT_EQ(w.messages.shown[0].buttons, MsgButtons::kOk);
    EXPECT_EQ(w.messages.shown[0].icon, MsgIcon::kExclamation);
    EXPECT_FALSE(w.programEnd.ended);
    EXPECT_TRUE(w.form.Command1.Enabled());
    EXPECT_EQ(w.form.txtDDE.LinkMode(), 0);
    EXPECT_THAT(w.processes.calls, IsEmpty());
    if (hint.empty()) {
      EXPECT_THAT(w.Log(), IsEmpty());
    } else {
      EXPECT_THAT(w.Log(), ElementsAre(std::string(hint)));
    }
  }
}

TEST(TrackerLink, LinkingAgainReplacesTheLink) {
  World w;
  w.app.Load();
  w.tracker.Publish("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");
  w.RunFor(2100);  // the start-up timer links
  EXPECT_EQ(w.tracker.service, "Orbitron");
  EXPECT_EQ(w.tracker.topic, "Tracking");
  EXPECT_EQ(w.tracker.item, "TrackingData");
  EXPECT_EQ(w.form.LabelSat.Caption(), "AO-07");
  w.app.follower.Command2_Click();
  w.tracker.Publish("SNFO-29 DN145950000 UP432150000 DMUSB UMLSB");
  w.RunFor(10);
  EXPECT_EQ(w.tracker.Opens(), 2);
  EXPECT_EQ(w.form.LabelSat.Caption(), "FO-29");
  EXPECT_EQ(w.form.txtDDE.LinkMode(), 1);
}

}  // namespace
}  // namespace pasotune::test
