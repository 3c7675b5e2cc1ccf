// Runs the real Velkor.exe on port 9000, as Pasotune does.

#include <gtest/gtest.h>

#include <fstream>

#include "support.hpp"
#include "system.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;

// The engine with its settings and transcript where the test says, nothing from outside.
std::unique_ptr<test::Process> startEngine(const std::filesystem::path& exe,
                                           const std::filesystem::path& conf,
                                           const std::filesystem::path& transcript) {
  return std::make_unique<test::Process>(
      exe, std::vector<std::string>{},
      std::vector<std::pair<std::string, std::string>>{
          {"VELKOR_CONF", sys::pathText(conf)}, {"VELKOR_TRANSCRIPT", sys::pathText(transcript)}});
}

const std::filesystem::path kExe = sys::pathFromUtf8(VELKOR_EXE);
const std::string kSimReady = "Velkor READY: radio simulado en COM1; nada sale del ordenador";

std::filesystem::path simConf(const std::filesystem::path& dir) {
  std::ofstream(dir / "velkor.conf") << "radio = sim\n";
  return dir / "velkor.conf";
}

TEST(EngineProcess, ServesPort9000AndEndsCleanlyWhenAsked) {
  test::TempDir dir;
  const auto transcript = dir.path() / "transcript.txt";
  auto engine = startEngine(kExe, simConf(dir.path()), transcript);
  ASSERT_TRUE(engine->started());

  // Pasotune waits 500 ms, then tries ten times 0.5 s apart; be stricter than that (Wine
  // starts a program in well under a second once its prefix is up).
  test::Client client(9000, 3s);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("SETPORT COM1\r\n"));
  EXPECT_EQ(client.readLine(), kSimReady);
  ASSERT_TRUE(client.send(
      "SET FREQ MAIN 435,1234\r\nSET MODE SUB usb\r\nSET TONE 88.5\r\nSET FREQ SUB 7.0000\r\n"));
  EXPECT_EQ(client.readLine(),
            "NOT DONE SUB frecuencia 7.000000 MHz: fuera de las bandas del TS-790");

  const std::string log = test::readFile(transcript);
  for (const std::string& entry :
       {"\tSETPORT COM1\topen COM1 => " + kSimReady + "\n",
        std::string("\tSET FREQ MAIN 435,1234\tMAIN frecuencia 435.123400 MHz\n"),
        std::string("\tSET MODE SUB usb\tSUB modo USB\n"),
        std::string("\tSET TONE 88.5\ttono 88.5 Hz\n"),
        std::string("\tSET FREQ SUB 7.0000\trefused: SUB frecuencia 7.000000 MHz => NOT DONE SUB "
                    "frecuencia 7.000000 MHz: fuera de las bandas del TS-790\n")}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry << " missing from\n" << log;
  }

  EXPECT_EQ(engine->stop(), 0);
}

// Pasotune kills the engine and starts a fresh one at every connect: the new one must be able
// to listen at once although the old one's connection has not finished closing.
TEST(EngineProcess, ListensAgainRightAfterAKill) {
  test::TempDir dir;
  for (int round = 0; round < 2; ++round) {
    auto engine = startEngine(kExe, simConf(dir.path()), dir.path() / "transcript.txt");
    ASSERT_TRUE(engine->started());
    test::Client client(9000, 3s);
    ASSERT_TRUE(client.connected()) << "round " << round;
    ASSERT_TRUE(client.send("SETPORT COM1\r\n"));
    EXPECT_EQ(client.readLine(), kSimReady);
    engine->kill();
  }
}

// Its folder comes from its own file, wherever that lies and whatever the folder is called.
TEST(EngineProcess, KeepsItsFilesBesideItselfInAFolderWithAnyName) {
  test::TempDir dir;
  const auto folder = dir.path() / sys::pathFromUtf8("a\xC3\xB1o \xE2\x82\xAC");
  std::filesystem::create_directory(folder);
  const auto exe = folder / kExe.filename();
  std::filesystem::copy_file(kExe, exe);
  // The DLLs beside it (Hamlib's, on Windows) go with it.
  for (const auto& entry : std::filesystem::directory_iterator(kExe.parent_path())) {
    if (entry.path().extension() == ".dll") {
      std::filesystem::copy_file(entry.path(), folder / entry.path().filename());
    }
  }
  std::ofstream(folder / "velkor.conf") << "radio = sim\ntranscript = registro \xC3\xB1.log\n";
  test::Process engine(exe, {}, {{"VELKOR_CONF", ""}, {"VELKOR_TRANSCRIPT", ""}});
  ASSERT_TRUE(engine.started());

  test::Client client(9000, 3s);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("SETPORT COM2\r\nSET MODE SUB \xF1\r\n"));
  EXPECT_EQ(client.readLine(), "Velkor READY: radio simulado en COM2; nada sale del ordenador");
  EXPECT_EQ(client.readLine(), "NOT DONE modo desconocido: \xF1");
  engine.kill();
  const std::string log = test::readFile(folder / sys::pathFromUtf8("registro \xC3\xB1.log"));
  EXPECT_NE(log.find("\tSETPORT COM2\topen COM2 => Velkor READY: radio simulado"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("\tSET MODE SUB \xC3\xB1\trejected"), std::string::npos) << log;
}

// What velkor.conf and the transcript could not give is said once a run, after the first
// answer to SETPORT, in at most ten lines, and no bytes of the file spell a marker.
TEST(EngineProcess, SaysWhatItDidNotTakeOnceAfterTheFirstSetPort) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.path() / "folder");
  std::string conf = "radio = sim\nmodel = \xC1\x85RROR\n";
  for (int i = 0; i < 40; ++i) conf += "x\n";
  std::ofstream(dir.path() / "velkor.conf", std::ios::binary) << conf;
  auto engine = startEngine(kExe, dir.path() / "velkor.conf", dir.path() / "folder");
  ASSERT_TRUE(engine->started());
  test::Client client(9000, 3s);
  ASSERT_TRUE(client.send("SETPORT COM1\r\n"));
  EXPECT_EQ(client.readLine(), kSimReady);
  EXPECT_EQ(client.readLine(),
            "NOT DONE velkor.conf l\xEDnea 2: model = \xAB??RROR\xBB no vale "
            "(valores: un modelo de Hamlib, 2007 para el TS-790); se ignora");
  for (int i = 0; i < 7; ++i) client.readLine();
  EXPECT_EQ(client.readLine(),
            "NOT DONE \x85 y 33 m\xE1s (v\xE9"
            "ase velkor.conf)");
  EXPECT_EQ(client.readLine()->rfind("NOT DONE la conversaci\xF3n no se registra: ", 0), 0u);
  ASSERT_TRUE(client.send("SETPORT COM1\r\nSYNC\r\n"));
  EXPECT_EQ(client.readLine(), kSimReady);
  EXPECT_EQ(client.readLine(), "NOT DONE orden desconocida: SYNC");
  EXPECT_EQ(engine->stop(), 0);
}

#ifdef VELKOR_HAVE_HAMLIB
TEST(EngineProcess, DrivesHamlibsDummyRigWithOneSetting) {
  test::TempDir dir;
  const auto conf = dir.path() / "velkor.conf";
  std::ofstream(conf) << "radio = dummy\n";
  auto engine = startEngine(kExe, conf, dir.path() / "transcript.txt");
  ASSERT_TRUE(engine->started());

  test::Client client(9000, 3s);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("SETPORT COM1\r\nSET FREQ MAIN 435.1000\r\nSET TONE 69.9\r\n"));
  EXPECT_EQ(client.readLine(),
            "Velkor READY: radio de prueba de Hamlib (Dummy) en COM1; nada sale del ordenador");
  EXPECT_EQ(client.readLine(), "NOT DONE tono 69.9 Hz: el Hamlib Dummy no tiene ese tono CTCSS");
  EXPECT_EQ(engine->stop(), 0);
}
#endif

}  // namespace
}  // namespace velkor
