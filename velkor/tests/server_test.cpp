#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "server.hpp"
#include "sim_radio.hpp"
#include "support.hpp"

namespace velkor {
namespace {

using namespace std::chrono_literals;
using test::Client;

// A server on an ephemeral port with a simulated radio behind it.
class ServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(transcript_.open(dir_.path() / "transcript.txt"), "");
    ASSERT_EQ(server_.listen(0), "");
    thread_ = std::thread([this] { server_.run(); });
  }

  void TearDown() override {
    server_.stop();
    thread_.join();
  }

  // Silent commands give no sign they were handled; a line that always fails does, and the
  // server handles lines in order.
  static void sync(Client& client) {
    ASSERT_TRUE(client.send("SYNC\r\n"));
    EXPECT_EQ(client.readLine(), "NOT DONE orden desconocida: SYNC");
  }

  // A client that got in; right after another one left the server may still be busy with it.
  std::unique_ptr<Client> connectWhenFree() {
    for (int i = 0; i < 100; ++i) {
      auto client = std::make_unique<Client>(server_.port());
      EXPECT_TRUE(client->send("SYNC\r\n"));
      const auto reply = client->readLine();
      if (reply == "NOT DONE orden desconocida: SYNC") return client;
      EXPECT_EQ(reply, "ERROR ocupado: Velkor.exe ya atiende a otro programa");
      std::this_thread::sleep_for(10ms);
    }
    ADD_FAILURE() << "the server never took a new client";
    return std::make_unique<Client>(server_.port());
  }

  std::unique_ptr<Client> openClient() {
    auto client = std::make_unique<Client>(server_.port());
    EXPECT_TRUE(client->connected());
    EXPECT_TRUE(client->send("SETPORT COM1\r\n"));
    EXPECT_EQ(client->readLine(), "Velkor READY: radio simulado en COM1; nada sale del ordenador");
    return client;
  }

  test::TempDir dir_;
  SimRadio radio_;
  Dispatcher dispatcher_{radio_};
  Transcript transcript_;
  Server server_{[this](std::string_view line) { return dispatcher_.handle(line); }, transcript_};
  std::thread thread_;
};

TEST_F(ServerTest, EveryCommandReachesTheRadio) {
  auto client = openClient();
  ASSERT_TRUE(
      client->send("SET FREQ MAIN 432.1500\r\n"
                   "SET FREQ SUB 145,9501\r\n"
                   "SET MODE MAIN usb\r\n"
                   "SET MODE SUB FM-N\r\n"
                   "SET TONE 88.5\r\n"));
  sync(*client);
  EXPECT_EQ(radio_.openPort(), "COM1");
  EXPECT_EQ(radio_.frequency(Band::kMain), 432'150'000);
  EXPECT_EQ(radio_.frequency(Band::kSub), 145'950'100);
  EXPECT_EQ(radio_.mode(Band::kMain), Mode::kUsb);
  EXPECT_EQ(radio_.mode(Band::kSub), Mode::kFmN);
  EXPECT_EQ(radio_.tone(), (ToneState{true, 885}));

  ASSERT_TRUE(client->send("SET TONE OFF\r\n"));
  sync(*client);
  EXPECT_EQ(radio_.tone(), (ToneState{false, 885}));
}

TEST_F(ServerTest, RepliesInWindows1252) {
  auto client = openClient();
  ASSERT_TRUE(client->send("SET MODE SUB \xE9t\xE9\r\n"));
  EXPECT_EQ(client->readLine(), "NOT DONE modo desconocido: \xE9t\xE9");
}

TEST_F(ServerTest, RepliesPostedFromAnotherThreadReachTheClient) {
  auto client = openClient();
  std::thread([this] { server_.post("ERROR radio not answering", "radio failed"); }).join();
  EXPECT_EQ(client->readLine(), "ERROR radio not answering");
}

TEST_F(ServerTest, APortNameIsEchoedEscapedAndCutOnTheWire) {
  auto client = openClient();
  ASSERT_TRUE(client->send("SETPORT COM1" + std::string(1000, '\0') + "\r\n"));
  std::string nuls;
  for (int i = 0; i < 60; ++i) nuls += "\\x00";
  // The cut mark is Windows-1252's ellipsis on the wire.
  EXPECT_EQ(client->readLine(), "ERROR COM1" + nuls +
                                    "\x85: no es un nombre de puerto (COM1 a COM20; los "
                                    "dispositivos, en velkor.conf)");
  // A reply posted with a line break still goes out as one line.
  server_.post("ERROR radio says\r\nmore", "radio failed");
  EXPECT_EQ(client->readLine(), "ERROR radio says\\x0D\\x0Amore");
  sync(*client);
  const std::string log = test::readFile(dir_.path() / "transcript.txt");
  EXPECT_NE(log.find("\trejected => ERROR COM1\\x00"), std::string::npos) << log;
  EXPECT_EQ(log.find(std::string(1, '\0')), std::string::npos);
}

struct BadInput {
  const char* name;
  std::string bytes;
  std::string reply;  // prefix of the one reply it earns
};

void PrintTo(const BadInput& c, std::ostream* os) {
  *os << c.name;
}

class BadInputTest : public ServerTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, IsAnsweredAndTheNextLineStillWorks) {
  auto client = openClient();
  ASSERT_TRUE(client->send(GetParam().bytes));
  const auto reply = client->readLine();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->rfind(GetParam().reply, 0), 0u) << *reply;

  ASSERT_TRUE(client->send("SET FREQ SUB 145.8000\n"));
  sync(*client);
  EXPECT_EQ(radio_.frequency(Band::kSub), 145'800'000);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, BadInputTest,
    ::testing::Values(
        BadInput{"UnknownCommand", "HELLO\r\n", "NOT DONE orden desconocida: HELLO"},
        BadInput{"MegabyteLine", std::string(1 << 20, 'A') + "\r\n",
                 "NOT DONE l\xEDnea demasiado larga"},
        BadInput{"MegabyteOfNuls", std::string(1 << 20, '\0') + "\n",
                 "NOT DONE l\xEDnea demasiado larga"},
        BadInput{"BinaryBytes", std::string("\x00\x01\xFF\xFE\x7F\x1B[2J\r\n", 11),
                 "NOT DONE orden desconocida: \\x00\\x01\xFF\xFE\\x7F\\x1B[2J"},
        BadInput{"BadNumber", "SET FREQ MAIN 43x.0\r\n", "NOT DONE frecuencia no v\xE1lida"},
        BadInput{"Overflow", "SET TONE 99999999999999999999\r\n", "NOT DONE tono no v\xE1lido"},
        BadInput{"OutOfBand", "SET FREQ MAIN 0.0000\r\n", "NOT DONE MAIN frecuencia 0.000000 MHz"},
        BadInput{"ReactiveWords", "SET MODE SUB ERROR Velkor READY\r\n",
                 "NOT DONE modo desconocido: \\x45RROR \\x56elkor READY"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ServerTest, ClientVanishingMidLineLeavesNoTrace) {
  {
    auto first = openClient();
    ASSERT_TRUE(first->send("SET FREQ MAIN 43"));
  }
  auto second = connectWhenFree();
  ASSERT_TRUE(second->send("SET FREQ MAIN 145.9000\r\n"));
  sync(*second);
  EXPECT_EQ(radio_.frequency(Band::kMain), 145'900'000);
  const std::string log = test::readFile(dir_.path() / "transcript.txt");
  EXPECT_NE(log.find("\tSET FREQ MAIN 43\tdiscarded: client left mid-line\n"), std::string::npos)
      << log;
}

TEST_F(ServerTest, SecondClientIsTurnedAwayWhileTheFirstStays) {
  auto first = openClient();
  Client second(server_.port());
  ASSERT_TRUE(second.connected());
  EXPECT_EQ(second.readLine(), "ERROR ocupado: Velkor.exe ya atiende a otro programa");
  EXPECT_TRUE(second.waitForClose());

  ASSERT_TRUE(first->send("SET FREQ MAIN 435.1000\r\n"));
  sync(*first);
  EXPECT_EQ(radio_.frequency(Band::kMain), 435'100'000);

  first.reset();
  auto next = connectWhenFree();
  ASSERT_TRUE(next->send("SETPORT COM2\r\n"));
  EXPECT_EQ(next->readLine(), "Velkor READY: radio simulado en COM2; nada sale del ordenador");
}

TEST_F(ServerTest, TranscriptHasOneLinePerReceivedLine) {
  auto client = openClient();
  ASSERT_TRUE(client->send("SET FREQ MAIN 432.1500\r\nSET MODE SUB \xE9\r\nA\tB\r\n"));
  client->readLine();
  client->readLine();
  const std::string log = test::readFile(dir_.path() / "transcript.txt");
  const std::regex expected(
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tSETPORT COM1\topen COM1 => Velkor READY: radio simulado en "
      "COM1; nada sale del ordenador\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tSET FREQ MAIN 432.1500\tMAIN frecuencia 432.150000 MHz\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tSET MODE SUB \xC3\xA9\trejected => NOT DONE modo "
      "desconocido: "
      "\xC3\xA9\n"
      "\\d\\d:\\d\\d:\\d\\d\\.\\d{3}\tA\\\\x09B\trejected => NOT DONE orden desconocida: "
      "A\\\\x09B\n");
  EXPECT_TRUE(std::regex_match(log, expected)) << log;
}

// Lines sent in one write that each ask for far more than a socket holds (as 2,000 SETPORT
// once did): while the client does not read, the engine stops handling them, then answers all.
TEST(ServerBound, AClientNotReadingStopsTheLinesItSent) {
  std::atomic<int> handled{0};
  Transcript transcript;
  Server server(
      [&handled](std::string_view line) {
        ++handled;
        return Handled{std::string(line), "echoed", std::vector(100, std::string(1000, 'x'))};
      },
      transcript);
  ASSERT_EQ(server.listen(0), "");
  std::thread thread([&server] { server.run(); });
  Client client(server.port());
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += std::to_string(i) + "\r\n";
  EXPECT_TRUE(client.send(lines));
  std::this_thread::sleep_for(300ms);
  EXPECT_LT(handled.load(), 100) << "handled while nothing was read";
  for (int i = 0; i < 200 * 101; ++i) {
    EXPECT_EQ(client.readLine().value_or("").size(),
              i % 101 ? 1000u : std::to_string(i / 101).size());
  }
  server.stop();
  thread.join();
}

}  // namespace
}  // namespace velkor
