// Hamlib's dummy rig (model 1) in process, and through a real rigctld (model 2).

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#endif

#include <cstdio>

#include "commands.hpp"
#include "hamlib_radio.hpp"
#include "radio_session.hpp"
#include "support.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::dummy;

// The Hamlib radio behind the engine's own stack.
class Rig : public test::Rig {
 public:
  explicit Rig(const Settings& settings) : test::Rig(std::make_unique<HamlibRadio>(settings)) {}
};

class DummyRigTest : public ::testing::TestWithParam<Settings::Bands> {};

TEST_P(DummyRigTest, ReadsBackEveryCommand) {
  Rig rig(dummy(GetParam()));
  ASSERT_EQ(rig.send("SETPORT COM1"), std::nullopt);
  ASSERT_EQ(rig.reply(),
            "Velkor READY: radio de prueba de Hamlib (Dummy) en COM1; nada sale del ordenador");
  rig.play();
}

INSTANTIATE_TEST_SUITE_P(Bands, DummyRigTest,
                         ::testing::Values(Settings::Bands::kAuto, Settings::Bands::kAB,
                                           Settings::Bands::kSplit),
                         [](const auto& info) {
                           switch (info.param) {
                             case Settings::Bands::kAB:
                               return "VfoAB";
                             case Settings::Bands::kSplit:
                               return "Split";
                             default:
                               return "MainSub";
                           }
                         });

TEST(DummyRig, KeepsTheNewestOfABurst) {
  Rig rig(dummy());
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  for (int i = 1; i <= 1000; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "SET FREQ MAIN 435.%06d", i);
    rig.send(line);
    std::snprintf(line, sizeof line, "SET FREQ SUB 145,%04d", 9000 - i);
    rig.send(line);
    rig.send(i % 2 ? "SET MODE SUB LSB" : "SET MODE SUB CW");
  }
  ASSERT_TRUE(rig.idle());
  EXPECT_EQ(rig.radio().frequency(Band::kMain), 435'001'000);
  EXPECT_EQ(rig.radio().frequency(Band::kSub), 145'800'000);
  EXPECT_EQ(rig.radio().mode(Band::kSub), Mode::kCw);
  EXPECT_EQ(rig.reply(0ms), "");
}

TEST(DummyRig, ReportsWhatHamlibCannotDo) {
  Settings settings = dummy();
  settings.model = 999999;
  Rig unknown(settings);
  unknown.send("SETPORT COM1");
  EXPECT_EQ(unknown.reply().rfind("ERROR COM1: Hamlib no conoce el modelo de radio 999999", 0), 0u);

  Rig rig(dummy());
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.send("SET TONE 88.4");
  EXPECT_EQ(rig.reply(), "NOT DONE tono 88.4 Hz: el Hamlib Dummy no tiene ese tono CTCSS");
}

TEST(HamlibSerial, AMissingDeviceSaysWhy) {
  Settings settings = dummy();
  settings.model = 2007;  // TS-790
  settings.comDevices[3] = "/dev/velkor-no-such-device";
  Rig rig(settings);
  rig.send("SETPORT COM3");
  const std::string reply = rig.reply();
  EXPECT_EQ(reply.rfind("ERROR COM3: no existe el dispositivo /dev/velkor-no-such-device. ", 0), 0u)
      << reply;
  EXPECT_EQ(rig.send("SET FREQ MAIN 435.0000"), "ERROR " + std::string(kNoPortOpen));
}

#ifdef VELKOR_RIGCTLD
class RigctldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::string(VELKOR_RIGCTLD).empty()) GTEST_SKIP() << "rigctld not installed";
    // Hamlib writes to the socket of a dead rigctld.
    signal(SIGPIPE, SIG_IGN);
    port_ = test::freePort();
    settings_ = dummy();
    settings_.model = 2;
    settings_.rigctld = "127.0.0.1:" + std::to_string(port_);
  }

  std::uint16_t port_ = 0;
  Settings settings_;
};

TEST_F(RigctldTest, ReadsBackEveryCommandOverTheNetwork) {
  test::Rigctld rigctld(VELKOR_RIGCTLD, port_);
  Rig rig(settings_);
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.play();
}

TEST_F(RigctldTest, SurvivesRigctldDyingAndRecoversWhenItIsBack) {
  auto rigctld = std::make_unique<test::Rigctld>(VELKOR_RIGCTLD, port_);
  Rig rig(settings_);
  rig.send("SETPORT COM1");
  ASSERT_EQ(rig.reply().rfind("Velkor READY: ", 0), 0u);
  rig.send("SET FREQ MAIN 435.0000");
  ASSERT_TRUE(rig.idle());

  rigctld.reset();
  // Said once; the next command is kept for the radio's return, not answered.
  EXPECT_EQ(rig.send("SET FREQ MAIN 435.0100"), std::nullopt);
  const std::string reply = rig.reply(15s);
  EXPECT_EQ(reply.rfind("ERROR COM1: ", 0), 0u) << reply;
  EXPECT_EQ(rig.send("SET FREQ SUB 145.9000"), std::nullopt);
  EXPECT_EQ(rig.reply(1500ms), "");

  rigctld = std::make_unique<test::Rigctld>(VELKOR_RIGCTLD, port_);
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
