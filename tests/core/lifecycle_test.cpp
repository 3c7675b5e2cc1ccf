#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.hpp"

namespace pasotune::test {
namespace {

using testing::ElementsAre;
using testing::IsEmpty;

TEST(StartUp, TheWindowBeforeTheEngineCheck) {
  World w;
  w.app.Load();
  const Form1& f = w.form;
  EXPECT_EQ(f.width, 6675);
  EXPECT_EQ(f.height, 4290);
  EXPECT_EQ(f.Command1.Caption(), "Conectar");
  EXPECT_FALSE(f.Command1.Enabled());
  EXPECT_EQ(f.Command1.Picture(), "");
  ASSERT_EQ(f.HPORT.Items().size(), 20u);
  for (int n = 1; n <= 20; ++n) EXPECT_EQ(f.HPORT.Items()[n - 1], "COM" + std::to_string(n));
  EXPECT_EQ(f.HPORT.Text(), "COM1");
  EXPECT_TRUE(f.HPORT.Enabled());
  EXPECT_EQ(f.ComboST.Text(), "88.5");
  EXPECT_TRUE(f.ComboST.Enabled());
  EXPECT_EQ(f.Command3.Caption(), "CTCSS 88.5");
  EXPECT_FALSE(f.Command3.Enabled());
  EXPECT_EQ(f.Command4.Caption(), "CTCSS OFF ");
  EXPECT_FALSE(f.Command4.Enabled());
  EXPECT_EQ(f.Shape1.FillColor(), 64);
  for (const Label* l : {&f.LabelSat, &f.LabelTX, &f.LabelRX, &f.LabelModoTX, &f.LabelModoRX}) {
    EXPECT_EQ(l->Caption(), "");
  }
  EXPECT_EQ(f.List1.ListCount(), 0u);
  EXPECT_TRUE(f.Timer1.Enabled());
  EXPECT_FALSE(f.Timer2.Enabled());
}

TEST(StartUp, TheEngineCheckRunsOnceTwoSecondsInAndLinksTheTracker) {
  World w;
  w.app.Load();
  w.RunFor(1990);
  EXPECT_FALSE(w.form.Command1.Enabled());
  w.RunFor(20);
  EXPECT_TRUE(w.form.Command1.Enabled());
  EXPECT_FALSE(w.form.Timer1.Enabled());
  EXPECT_EQ(w.tracker.Opens(), 1);
  w.RunFor(10000);
  EXPECT_EQ(w.tracker.Opens(), 1);
  EXPECT_THAT(w.messages.shown, IsEmpty());
}

TEST(StartUp, AMissingEngineEndsTheProgramWithoutSavingOrStopping) {
  for (bool folder : {false, true}) {
    World w;
    std::filesystem::remove(w.folder.File("Velkor.exe"));
    if (folder) std::filesystem::create_directory(w.folder.File("Velkor.exe"));
    w.folder.Write("config.txt", "Puerto=COM2\r\n");
    w.app.Load();
    w.form.ComboST.SetText("100.0");
    w.RunFor(5000);
    ASSERT_EQ(w.messages.shown.size(), 1u) << folder;
    EXPECT_EQ(w.messages.shown[0].text, "Falta motor Velkor.exe");
    EXPECT_EQ(w.messages.shown[0].buttons, MsgButtons::kOk);
    EXPECT_EQ(w.messages.shown[0].icon, MsgIcon::kNone);
    EXPECT_NEAR(w.messages.shown[0].at, 2000, 1);
    EXPECT_TRUE(w.programEnd.ended);
    EXPECT_EQ(w.folder.Read("config.txt"), "Puerto=COM2\r\n");
    EXPECT_THAT(w.processes.calls, IsEmpty());
    EXPECT_FALSE(w.form.Command1.Enabled());
    EXPECT_EQ(w.tracker.Opens(), 0);
  }
}

struct CloseSession {
  CloseSession() {
    w.PutIcons();
    w.app.Load();
    w.folder.Write("config.txt", "old");
  }
  // Asks to close at the given virtual time; records whether the window may go.
  void CloseAt(double at, MsgResult answer) {
    w.messages.answers.push_back(answer);
    w.After(at, [this] { mayClose.push_back(w.form.RequestClose()); });
  }
  std::vector<std::string> Calls() const {
    std::vector<std::string> out;
    for (const auto& c : w.processes.calls)
      out.push_back(c.what + " " + c.arg + " @" + std::to_string(int(c.at)));
    return out;
  }
  World w;
  std::vector<bool> mayClose;
};

struct Closing : testing::Test, CloseSession {};

TEST_F(Closing, AnsweredNoChangesNothing) {
  w.LinkUp();
  CloseAt(100, MsgResult::kNo);
  w.RunFor(3000);
  EXPECT_THAT(mayClose, ElementsAre(false));
  ASSERT_EQ(w.messages.shown.size(), 1u);
  EXPECT_EQ(w.messages.shown[0].text, "Sale de Pasotune?");
  EXPECT_EQ(w.messages.shown[0].buttons, MsgButtons::kYesNo);
  EXPECT_EQ(w.messages.shown[0].icon, MsgIcon::kQuestion);
  EXPECT_EQ(w.folder.Read("config.txt"), "old");
  EXPECT_THAT(w.processes.calls, IsEmpty());
  EXPECT_EQ(w.tcp.State(), sck::kConnected);
  EXPECT_FALSE(w.programEnd.ended);
}

TEST_F(Closing, AnsweredYesSavesClosesStopsTheEngineAndEnds) {
  struct Case {
    const char* name;
    bool linked;
    double at;
    std::vector<std::string> calls;
    double endsAt;
  };
  const Case cases[] = {
      {"connected", true, 2500, {"end Velkor.exe @2700"}, 3200},
      {"never connected", false, 2500, {"end Velkor.exe @2500"}, 3000},
      {"before the engine check", false, 1000, {"end Velkor.exe @1000"}, 1500},
  };
  for (const Case& c : cases) {
    CloseSession t;
    if (c.linked) t.w.LinkUp();
    t.w.form.HPORT.SetText("COM4");
    t.CloseAt(c.at - t.w.loop.Now(), MsgResult::kYes);
    t.w.RunFor(10000);
    EXPECT_TRUE(t.w.programEnd.ended) << c.name;
    EXPECT_NEAR(t.w.programEnd.endedAt, c.endsAt, 4) << c.name;
    EXPECT_THAT(t.mayClose, IsEmpty()) << c.name;  // the handler never returned
    EXPECT_EQ(t.w.folder.Read("config.txt"), "Puerto=COM4\r\nCTCSS=88.5\r\n") << c.name;
    EXPECT_EQ(t.w.tcp.State(), sck::kClosed) << c.name;
    ASSERT_EQ(t.w.processes.calls.size(), 1u) << c.name;
    EXPECT_NEAR(t.w.processes.calls[0].at, c.endsAt - 500, 4) << c.name;
    EXPECT_EQ(t.w.form.Command1.Enabled(), c.at > 2000) << c.name;
  }
}

TEST_F(Closing, DuringAConnectSequenceNothingRunsAfterTheEnd) {
  w.form.Timer1.SetEnabled(false);
  w.form.Command1.SetEnabled(true);
  w.engine.refuse = false;
  CloseAt(1200, MsgResult::kYes);
  w.After(0, [this] { w.form.Command1.Click(); });
  w.RunFor(10000);
  EXPECT_TRUE(w.programEnd.ended);
  EXPECT_NEAR(w.programEnd.endedAt, 1200 + 200 + 500, 5);
  EXPECT_THAT(w.Log(), ElementsAre("Conectando ..."));
  EXPECT_EQ(w.engine.Received(), "");
  EXPECT_EQ(w.processes.calls.back().what, "end");
}

TEST_F(Closing, ASecondRequestWhileClosingIsRefusedWithoutAsking) {
  CloseAt(100, MsgResult::kYes);
  w.After(300, [this] { mayClose.push_back(w.form.RequestClose()); });
  w.RunFor(2000);
  EXPECT_THAT(mayClose, ElementsAre(false));
  EXPECT_EQ(w.messages.shown.size(), 1u);
  EXPECT_TRUE(w.programEnd.ended);
}

TEST_F(Closing, ASaveThatFailsIsToldAndTheCloseCarriesOn) {
  std::filesystem::remove(w.folder.File("config.txt"));
  std::filesystem::create_directory(w.folder.File("config.txt"));
  CloseAt(100, MsgResult::kYes);
  w.RunFor(2000);
  ASSERT_EQ(w.messages.shown.size(), 2u);
  EXPECT_EQ(w.messages.shown[1].text, "No se pudo guardar la configuración en " +
                                          w.folder.File("config.txt") + ": es una carpeta");
  EXPECT_EQ(w.messages.shown[1].buttons, MsgButtons::kOk);
  EXPECT_EQ(w.processes.calls.size(), 1u);
  EXPECT_TRUE(w.programEnd.ended);
}

}  // namespace
}  // namespace pasotune::test
