// The Windows pasotune-feed as a tracker's client sees it: DDEML straight,
// and through the tracker link.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/dde/dde_text.hpp"
#include "platform/win32/dde/dde_tracker_link.hpp"
#include "support.hpp"
#include "synthetic_pass.hpp"
#include "tracker_record.hpp"

namespace pasotune {
namespace {

using Texts = std::vector<std::string>;

HDDEDATA CALLBACK Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

// A bare DDEML client, to see exactly what goes over the conversation.
// Wine's DDEML server follows the data it sends for a request with a stray
// acknowledgement, which the next transaction would take for its answer:
// each one here lets the conversation settle first, as the link does.
class RawClient {
 public:
  RawClient() {
    EXPECT_EQ(DdeInitializeW(&instance_, &Ignore, APPCMD_CLIENTONLY, 0), DMLERR_NO_ERROR);
  }
  ~RawClient() {
    if (conv_) DdeDisconnect(conv_);
    service_ = {};
    topic_ = {};
    DdeUninitialize(instance_);
  }
  bool Connect() {
    service_ = dde::Name(instance_, "Orbitron");
    topic_ = dde::Name(instance_, "Tracking");
    conv_ = dde::Connect(instance_, service_.get(), topic_.get());
    return conv_ != nullptr;
  }
  // The item's bytes as they came, or "(refused)".
  std::string Request(const std::string& item, UINT format = CF_TEXT) {
    test::PumpFor(100);
    const dde::Name name(instance_, item);
    HDDEDATA data =
        DdeClientTransaction(nullptr, 0, conv_, name.get(), format, XTYP_REQUEST, 2000, nullptr);
    if (!data) return "(refused)";
    DWORD size = 0;
    const BYTE* bytes = DdeAccessData(data, &size);
    std::string out(reinterpret_cast<const char*>(bytes), size);
    DdeUnaccessData(data);
    DdeFreeDataHandle(data);
    return out;
  }
  bool Advise(const std::string& item, UINT format) {
    test::PumpFor(100);
    const dde::Name name(instance_, item);
    return DdeClientTransaction(nullptr, 0, conv_, name.get(), format, XTYP_ADVSTART, 2000,
                                nullptr) != nullptr;
  }

 private:
  DWORD instance_ = 0;
  dde::Name service_, topic_;
  HCONV conv_ = nullptr;
};

TEST(FeedProgram, AnswersInWindows1252AndOnlyForItsItem) {
  test::Feed feed;
  // Ñ and € in UTF-8 on the command line.
  ASSERT_TRUE(feed.Start({L"--once", L"SNA\u00D1O-1 \u20AC"}));
  ASSERT_EQ(feed.NextLine(), "SNA\xC3\x91O-1 \xE2\x82\xAC");
  RawClient client;
  ASSERT_TRUE(client.Connect());
  const std::string bytes = client.Request("TrackingData");
  EXPECT_EQ(bytes.substr(0, bytes.find('\0')), "SNA\xD1O-1 \x80\r\n") << "the tracker's line end";
  EXPECT_NE(bytes.find('\0'), std::string::npos) << "NUL-terminated";
  EXPECT_EQ(client.Request("trackingdata").substr(0, 4), "SNA\xD1") << "DDE names ignore case";
  EXPECT_EQ(client.Request("Azimuth"), "(refused)");
  EXPECT_EQ(client.Request("TrackingData", CF_UNICODETEXT), "(refused)");
  EXPECT_FALSE(client.Advise("TrackingData", CF_UNICODETEXT));
  EXPECT_TRUE(client.Advise("TrackingData", CF_TEXT));
}

TEST(FeedProgram, RefusesNonsenseAndASecondPublisher) {
  const std::vector<std::wstring> cases[] = {
      {},
      {L"--pass", L"--once", L"X"},
      {L"--stdin", L"--file", L"records.txt"},
      {L"--file", L"Z:\\nonexistent\\records.txt"},
      {L"--pass", L"--modes", L"USB"},
      {L"--pass", L"--speed", L"0"},
      {L"--pass", L"--duration", L"nan"},
      {L"--pass", L"--start", L"9999"},
      {L"--once", L"X", L"--service", L""},
      {L"--once", L"SNAO-07", L"DN145950000"},
      {L"--file", L"Z:\\tmp"},
      {L"--file", L"NUL"},
  };
  for (const auto& args : cases) {
    std::string line;
    for (const std::wstring& a : args) line += dde::Narrow(a) + " ";
    test::Feed bad;
    ASSERT_TRUE(bad.Start(args)) << line;
    const long code = bad.WaitForExit();
    EXPECT_GT(code, 0) << line;
    // Neither a folder nor a device is read as records.
    EXPECT_TRUE(args.size() != 2 || args[0] != L"--file" || code == 2) << line;
    EXPECT_NE(bad.NextLine(1000).find("pasotune-feed: "), std::string::npos) << line;
  }

  test::Feed first, rival;
  ASSERT_TRUE(first.Start({L"--once", L"R0"}));
  ASSERT_EQ(first.NextLine(), "R0");
  ASSERT_TRUE(rival.Start({L"--once", L"X"}));
  EXPECT_EQ(rival.WaitForExit(), 2);
  EXPECT_NE(rival.NextLine(1000).find("Orbitron|Tracking ya lo publica otro programa"),
            std::string::npos);
  first.Quit();
  EXPECT_EQ(first.WaitForExit(), 0);
}

// A NUL would cut a record short, and an endless line would grow without
// end: neither is published whole from standard input, read on a thread of
// its own here.
TEST(FeedProgram, AStdinLineHoldingANulOrPastItsCapIsNeverPublishedWhole) {
  test::Feed feed;
  ASSERT_TRUE(feed.Start({L"--stdin", L"--exit-at-end"}));
  feed.Write(std::string("SNAO-07 DN14595\0 UP435000000\n", 29));
  feed.Write(std::string(1 << 20, 'X') + "\nSNAO-07 DN145950000\n");
  feed.CloseInput();
  Texts records, told;  // told on standard error, which comes in line with the records
  for (std::string line; !(line = feed.NextLine(3000)).empty() || feed.Running();) {
    if (!line.empty()) (line.rfind("pasotune-feed: ", 0) == 0 ? told : records).push_back(line);
  }
  EXPECT_EQ(feed.WaitForExit(), 0);
  EXPECT_TRUE(records == (Texts{std::string(64 * 1024, 'X'), "SNAO-07 DN145950000"}));
  ASSERT_EQ(told.size(), 2u);
  EXPECT_NE(told[0].find("se deja fuera una línea con un NUL"), std::string::npos) << told[0];
  EXPECT_NE(told[1].find("una línea de más de 64 KiB: se descarta el resto"), std::string::npos);
}

TEST(FeedProgram, FileRecordsAndThePassArriveInOrderThenItEnds) {
  // Long enough that the link is up well before the end.
  Texts records;
  std::string file;
  for (int i = 1; i <= 10; ++i) {
    file += "SNAO-07 DN" + std::to_string(i) + (i == 5 ? "\r\n\r\n" : "\r\n");
    records.push_back("SNAO-07 DN" + std::to_string(i) + "\r\n");
  }
  const std::filesystem::path path = std::filesystem::temp_directory_path() / "pasotune-feed.txt";
  std::ofstream(path, std::ios::binary) << file;
  feed::Pass pass;
  pass.durationS = 12;
  Texts passRecords;
  for (int t = 0; t <= 12; ++t) {
    passRecords.push_back(feed::RecordAt(pass, t, feed::SystemDecimalSeparator()));
  }
  const struct {
    std::vector<std::wstring> args;
    Texts all;
  } cases[] = {
      {{L"--file", path.wstring(), L"--interval", L"300", L"--exit-at-end"}, records},
      {{L"--pass", L"--duration", L"12", L"--speed", L"4", L"--exit-at-end"}, passRecords},
  };
  for (const auto& c : cases) {
    test::Feed f;
    ASSERT_TRUE(f.Start(c.args));
    ASSERT_EQ(f.NextLine() + "\r\n", c.all.front()) << "printed without the line end";
    DdeTrackerLink link;
    Texts got;
    link.Open("Orbitron", "Tracking", "TrackingData",
              [&got](const std::string& t) { got.push_back(t); });
    ASSERT_TRUE(test::PumpUntil([&] { return !got.empty() && got.back() == c.all.back(); }, 10000));
    // Opened after the first went out, so the link begins with whatever was
    // current then; after that, nothing skipped and nothing repeated.
    ASSERT_LE(got.size(), c.all.size());
    EXPECT_EQ(got, Texts(c.all.end() - static_cast<long>(got.size()), c.all.end()));
    EXPECT_GE(got.size(), c.all.size() / 2);
    EXPECT_EQ(f.WaitForExit(), 0);
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace pasotune
