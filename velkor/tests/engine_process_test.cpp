// Runs the real Velkor.exe on port 9000, as Pasotune does.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <thread>

#include "support.hpp"

extern char** environ;

namespace velkor {
namespace {

using namespace std::chrono_literals;

class Engine {
 public:
  Engine(const std::filesystem::path& conf, const std::filesystem::path& transcript) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string_view entry(*e);
      if (entry.rfind("VELKOR_", 0) != 0) env.emplace_back(entry);
    }
    env.push_back("VELKOR_CONF=" + conf.string());
    env.push_back("VELKOR_TRANSCRIPT=" + transcript.string());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    char* argv[] = {const_cast<char*>(VELKOR_EXE), nullptr};
    if (posix_spawn(&pid_, VELKOR_EXE, nullptr, nullptr, argv, envp.data()) != 0) pid_ = -1;
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;

  ~Engine() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  pid_t pid() const { return pid_; }

  // The exit status after SIGTERM, or -1 when it would not stop in time.
  int terminate(std::chrono::milliseconds patience = 5s) {
    kill(pid_, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(20ms);
    }
    return -1;
  }

 private:
  pid_t pid_ = -1;
};

TEST(EngineProcess, ServesPort9000AndEndsCleanlyOnSigterm) {
  test::TempDir dir;
  const auto conf = dir.path() / "velkor.conf";
  const auto transcript = dir.path() / "transcript.txt";
  Engine engine(conf, transcript);
  ASSERT_GT(engine.pid(), 0);

  // Pasotune waits 500 ms, then tries ten times 0.5 s apart; be stricter than that.
  test::Client client(9000, 1s);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("SETPORT COM1\r\n"));
  EXPECT_EQ(client.readLine(), "Velkor READY");
  ASSERT_TRUE(client.send(
      "SET FREQ MAIN 435,1234\r\nSET MODE SUB usb\r\nSET TONE 88.5\r\nSET FREQ SUB 7.0000\r\n"));
  EXPECT_EQ(client.readLine(), "NOT DONE SUB frequency 7.000000 MHz: outside the TS-790's bands");

  EXPECT_NE(test::readFile(conf).find("radio = sim"), std::string::npos);
  const std::string log = test::readFile(transcript);
  for (const char* entry :
       {"\tSETPORT COM1\topen COM1 => Velkor READY\n",
        "\tSET FREQ MAIN 435,1234\tMAIN frequency 435.123400 MHz\n",
        "\tSET MODE SUB usb\tSUB mode USB\n", "\tSET TONE 88.5\ttone 88.5 Hz on\n",
        "\tSET FREQ SUB 7.0000\trefused: SUB frequency 7.000000 MHz => NOT DONE SUB frequency "
        "7.000000 MHz: outside the TS-790's bands\n"}) {
    EXPECT_NE(log.find(entry), std::string::npos) << entry << " missing from\n" << log;
  }

  EXPECT_EQ(engine.terminate(), 0);
}

#ifdef VELKOR_HAVE_HAMLIB
TEST(EngineProcess, DrivesHamlibsDummyRigWithOneSetting) {
  test::TempDir dir;
  const auto conf = dir.path() / "velkor.conf";
  std::ofstream(conf) << "radio = dummy\n";
  Engine engine(conf, dir.path() / "transcript.txt");
  ASSERT_GT(engine.pid(), 0);

  test::Client client(9000, 1s);
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.send("SETPORT COM1\r\nSET FREQ MAIN 435.1000\r\nSET TONE 69.9\r\n"));
  EXPECT_EQ(client.readLine(), "Velkor READY");
  EXPECT_EQ(client.readLine(), "NOT DONE tone 69.9 Hz on: the Hamlib Dummy has no such tone");
  EXPECT_EQ(engine.terminate(), 0);
}
#endif

}  // namespace
}  // namespace velkor
