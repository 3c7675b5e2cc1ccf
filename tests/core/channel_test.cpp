#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;

TEST(EnviarComando, SendsTheLinePlusCrLfInOneSendAndLogsIt) {
  World w;
  w.LinkUp();
  w.app.channel.EnviarComando("SET TONE OFF");
  EXPECT_EQ(w.engine.Received(), "SET TONE OFF\r\n");
  EXPECT_EQ(w.engine.SendCalls(), 1);
  EXPECT_THAT(w.Log(), ElementsAre("SET TONE OFF"));
  EXPECT_EQ(w.form.List1.ListIndex(), static_cast<long>(w.form.List1.ListCount()) - 1);
}

TEST(EnviarComando, EmptyCommandSendsCrLfAloneAndLogsAnEmptyLine) {
  World w;
  w.LinkUp();
  w.app.channel.EnviarComando("");
  EXPECT_EQ(w.engine.Received(), "\r\n");
  EXPECT_THAT(w.Log(), ElementsAre(""));
}

TEST(EnviarComando, PutsWindows1252OnTheWire) {
  World w;
  w.LinkUp();
  w.app.channel.EnviarComando("SET MODE SUB Señal€Ω");
  EXPECT_EQ(w.engine.Received(),
            "SET MODE SUB Se\xF1"
            "al\x80?\r\n");
  EXPECT_THAT(w.Log(), ElementsAre("SET MODE SUB Señal€Ω"));
}

TEST(EnviarComando, DropsSilentlyUnlessConnected) {
  struct Case {
    const char* name;
    std::function<void(World&)> arrange;
  };
  const Case cases[] = {
      {"closed", [](World&) {}},
      {"connecting",
       [](World& w) {
         w.engine.connectLatencyMs = 1000;
         w.tcp.Connect("127.0.0.1", 9000);
       }},
      {"closed by the engine",
       [](World& w) {
         w.LinkUp();
         w.engine.Hangup();
         w.loop.RunFor(5);
       }},
      {"after a refused attempt",
       [](World& w) {
         w.tcp.Connect("127.0.0.1", 9000);
         w.loop.RunFor(5);
       }},
  };
  for (const Case& c : cases) {
    World w;
    c.arrange(w);
    ASSERT_NE(w.tcp.State(), sck::kConnected) << c.name;
    const std::size_t logged = w.form.List1.ListCount();
    w.app.channel.EnviarComando("SET FREQ MAIN 432.1500");
    EXPECT_EQ(w.engine.Received(), "") << c.name;
    EXPECT_EQ(w.form.List1.ListCount(), logged) << c.name;
  }
}

TEST(EnviarComando, AFailedSendIsLoggedAsAFailure) {
  World w;
  w.LinkUp();
  w.engine.failNextSend = "Connection reset by peer";
  w.app.channel.EnviarComando("SET FREQ SUB 145.9500");
  EXPECT_THAT(w.Log(), ElementsAre("SET FREQ SUB 145.9500", "Error: Connection reset by peer"));
  EXPECT_EQ(w.form.List1.ListIndex(), static_cast<long>(w.form.List1.ListCount()) - 1);
}

TEST(EnviarComando, RefusesACommandHoldingCrOrLf) {
  struct Case {
    const char* command;
    const char* wire;  // nullptr: refused
    const char* logged;
  };
  const Case cases[] = {
      {"SET MODE SUB FM\r\nSET TONE OFF", nullptr,
       "Error: no se envía un comando con fin de línea: SET MODE SUB FM\\r\\nSET TONE OFF"},
      {"SET MODE SUB A\rB", nullptr,
       "Error: no se envía un comando con fin de línea: SET MODE SUB A\\rB"},
      {"SET MODE SUB A\nB", nullptr,
       "Error: no se envía un comando con fin de línea: SET MODE SUB A\\nB"},
      {"\r\n", nullptr, "Error: no se envía un comando con fin de línea: \\r\\n"},
      // Other control characters are the engine's business.
      {"SET MODE SUB A\tB", "SET MODE SUB A\tB\r\n", "SET MODE SUB A\tB"},
  };
  for (const Case& c : cases) {
    World w;
    w.LinkUp();
    w.app.channel.EnviarComando(c.command);
    EXPECT_EQ(w.engine.Received(), c.wire ? c.wire : "") << c.logged;
    EXPECT_EQ(w.engine.SendCalls(), c.wire ? 1 : 0) << c.logged;
    EXPECT_THAT(w.Log(), ElementsAre(c.logged));
  }
  // A closed link drops it silently, like any command.
  World w;
  w.app.channel.EnviarComando("SET MODE SUB A\r\nB");
  EXPECT_EQ(w.form.List1.ListCount(), 0u);
}

TEST(AgregarLog, BoundsTheBytesOfALineWithoutSplittingACharacter) {
  const std::string a4095(4095, 'a');
  struct Case {
    std::string line;
    std::string kept;
  };
  const Case cases[] = {
      {a4095 + "a", a4095 + "a"}, {a4095 + "ab", a4095 + "a…"},
      {a4095 + "€", a4095 + "…"},  // three bytes, only one would fit
      {a4095 + "é", a4095 + "…"}, {std::string(10u << 20, 'x'), std::string(4096, 'x') + "…"},
  };
  for (const Case& c : cases) {
    World w;
    w.app.channel.AgregarLog(c.line);
    w.app.channel.AgregarLog("siguiente");
    ASSERT_EQ(w.form.List1.ListCount(), 2u);
    EXPECT_EQ(w.form.List1.Item(0), c.kept) << c.line.size();
    EXPECT_EQ(w.form.List1.Item(1), "siguiente");
  }
}

TEST(ErrorEvent, LogsErrorAndTheDescriptionAsItCame) {
  for (const char* description : {"", "Connection reset by peer"}) {
    World w;
    w.PutIcons();
    w.app.connection.WinsockHamlib_Error(10054, description);
    EXPECT_THAT(w.Log(), ElementsAre(std::string("Error: ") + description));
    EXPECT_EQ(ErrorLine(description), std::string("Error: ") + description);
  }
}

TEST(AgregarLog, KeepsEveryLineAndSelectsTheNewest) {
  World w;
  for (int i = 0; i < 5000; ++i) w.app.channel.AgregarLog("linea " + std::to_string(i));
  ASSERT_EQ(w.form.List1.ListCount(), 5000u);
  EXPECT_EQ(w.form.List1.Item(0), "linea 0");
  EXPECT_EQ(w.form.List1.Item(4999), "linea 4999");
  EXPECT_EQ(w.form.List1.ListIndex(), 4999);
}

TEST(Esperar, ZeroOrNegativePumpsOnceWithoutWaiting) {
  for (int ms : {0, -1, -500}) {
    World w;
    bool ran = false;
    w.loop.After(0, [&] { ran = true; });
    w.loop.After(1, [] {});
    const int pumps = w.loop.Pumps();
    w.app.channel.Esperar(ms);
    EXPECT_EQ(w.loop.Pumps() - pumps, 1) << ms;
    EXPECT_TRUE(ran) << ms;
    EXPECT_EQ(w.loop.Now(), 0) << ms;
  }
}

TEST(Esperar, WaitsTheTimeWhileHandlingEventsWithoutSpinning) {
  World w;
  std::vector<double> handled;
  for (double at : {100.0, 250.0, 499.0})
    w.loop.After(at, [&] { handled.push_back(w.loop.Now()); });
  w.app.channel.Esperar(500);
  EXPECT_THAT(handled, ElementsAre(100.0, 250.0, 499.0));
  EXPECT_NEAR(w.loop.Now(), 500, 3);
  EXPECT_LE(w.loop.Pumps(), 6);
}

TEST(Esperar, APauseAcrossMidnightEndsAtItsFirstCheckAfterIt) {
  World w(86400.0 - 0.2);
  w.app.channel.Esperar(500);
  EXPECT_NEAR(w.loop.Now(), 200, 2);
  EXPECT_LT(w.loop.SecondsSinceMidnight(), 0.01);
}

TEST(Esperar, APauseStartedAtMidnightRunsItsFullTime) {
  World w(0.0);
  w.app.channel.Esperar(500);
  EXPECT_NEAR(w.loop.Now(), 500, 1);
}

TEST(Esperar, ANestedPauseRunsToItsOwnEndFirst) {
  World w;
  std::vector<std::pair<const char*, double>> ends;
  w.loop.After(100, [&] {
    w.app.channel.Esperar(1000);
    ends.emplace_back("inner", w.loop.Now());
  });
  w.app.channel.Esperar(500);
  ends.emplace_back("outer", w.loop.Now());
  ASSERT_EQ(ends.size(), 2u);
  EXPECT_STREQ(ends[0].first, "inner");
  EXPECT_NEAR(ends[0].second, 1100, 3);
  EXPECT_STREQ(ends[1].first, "outer");
  EXPECT_NEAR(ends[1].second, 1100, 3);
}

}  // namespace
}  // namespace pasotune::test
