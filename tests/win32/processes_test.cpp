#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/win32/win32_processes.hpp"
#include "support.hpp"

namespace pasotune {
namespace {

namespace fs = std::filesystem;

// Not the engine's name: these tests end processes by name, and must never
// meet an engine that another test started.
constexpr const wchar_t* kName = L"PasotuneProbeEngine.exe";

bool Running(const ProcessHandle& p) {
  return ::WaitForSingleObject(p.Get(), 0) == WAIT_TIMEOUT;
}
bool Ends(const ProcessHandle& p, DWORD ms) {
  return ::WaitForSingleObject(p.Get(), ms) == WAIT_OBJECT_0;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Win32ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ready = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(ready, nullptr);
  }
  void TearDown() override {
    // Only what this test started, by its own handle.
    for (const ProcessHandle& p : started) {
      ::TerminateProcess(p.Get(), 1);
      Ends(p, 5000);
    }
    ::SetEnvironmentVariableW(L"PASOTUNE_PROBE_READY", nullptr);
    ::CloseHandle(ready);
  }

  // Starts path through the adapter and waits until it is up and has said
  // how it was started.
  const ProcessHandle& StartProbe(const fs::path& path) {
    const std::wstring event = L"pasotune-probe-" + std::to_wstring(::GetCurrentProcessId()) +
                               L"-" + std::to_wstring(started.size());
    ::CloseHandle(ready);
    ready = ::CreateEventW(nullptr, FALSE, FALSE, event.c_str());
    ::SetEnvironmentVariableW(L"PASOTUNE_PROBE_READY", event.c_str());
    started.push_back(processes.Spawn(test::Utf8(path)));
    EXPECT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0) << test::Utf8(path);
    return started.back();
  }

  test::TempFolder dir;
  Win32Processes processes;
  std::deque<ProcessHandle> started;  // references stay put
  HANDLE ready = nullptr;
};

// No shell and no parsing: a folder with non-ASCII letters, a blank and an
// ampersand is just a folder.
TEST_F(Win32ProcessesTest, StartsHiddenWithoutArgumentsFromAnyFolder) {
  const fs::path path = test::CopyProbe(dir.Path() / L"a\u00F1o & m\u00E1s", L"Pasotune Probe.exe");
  const ProcessHandle& p = StartProbe(path);
  ASSERT_TRUE(Running(p));
  std::string note = ReadFile(path.wstring() + L".note");
  // STARTF_USESHOWWINDOW with SW_HIDE.
  EXPECT_EQ(note, "flags=1 show=0 args=0 console=0\n");
}

TEST_F(Win32ProcessesTest, EndsEveryProcessOfExactlyThatName) {
  std::vector<const ProcessHandle*> named;
  // The same name from another folder counts too.
  named.push_back(&StartProbe(test::CopyProbe(dir.Path() / L"one", kName)));
  named.push_back(&StartProbe(test::CopyProbe(dir.Path() / L"two", kName)));
  std::vector<const ProcessHandle*> bystanders;
  for (const wchar_t* name :
       {L"pasotuneprobeengine.exe", L"PasotuneProbeEngine.exe.old", L"xPasotuneProbeEngine.exe",
        L"PasotuneProbeEngin.exe", L"PasotuneProbeEngine"}) {
    // A folder each: the file system does not tell names apart by case.
    bystanders.push_back(&StartProbe(test::CopyProbe(dir.Path() / name, name)));
  }
  for (const ProcessHandle* p : bystanders) ASSERT_TRUE(Running(*p));

  processes.EndByImageName(test::Utf8(kName));
  for (const ProcessHandle* p : named) EXPECT_TRUE(Ends(*p, 5000));
  for (const ProcessHandle* p : bystanders) EXPECT_TRUE(Running(*p));
}

TEST_F(Win32ProcessesTest, StartRefusesWhatCannotRun) {
  const fs::path folder = dir.Path();
  std::ofstream(folder / L"plain.txt") << "not a program\n";
  const struct {
    std::string path;
    const char* why;  // nullptr: the system's own words
  } cases[] = {
      {test::Utf8(folder / L"missing.exe"), nullptr},
      {test::Utf8(folder), "not a file"},
      {test::Utf8(folder / L"plain.txt"), nullptr},
      {"", nullptr},
  };
  for (const auto& c : cases) {
    try {
      processes.Start(c.path);
      ADD_FAILURE() << "started " << c.path;
    } catch (const PortError& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind("Cannot start " + c.path + ": ", 0), 0u) << what;
      if (c.why != nullptr) {
        EXPECT_NE(what.find(c.why), std::string::npos) << what;
      }
    }
  }
}

// Whatever ends a started process, its end is told once, through this
// thread's message queue, with the system's cause.
TEST_F(Win32ProcessesTest, TellsHowAStartedProcessEnded) {
  std::vector<std::string> told;
  processes.SetEnded([&](const std::string& cause) { told.push_back(cause); });
  const auto pumpUntilTold = [&] {
    const ULONGLONG deadline = ::GetTickCount64() + 10000;
    while (told.empty() && ::GetTickCount64() < deadline) {
      ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
      MSG msg;
      while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&msg);
    }
  };
  processes.Start(test::Utf8(test::CopyProbe(dir.Path() / L"exits", L"ExitsWith3.exe")));
  pumpUntilTold();
  EXPECT_EQ(told, std::vector<std::string>{"con el código de salida 3"});
  told.clear();
  ::SetEnvironmentVariableW(L"PASOTUNE_PROBE_READY", L"pasotune-probe-told");
  ::CloseHandle(ready);
  ready = ::CreateEventW(nullptr, FALSE, FALSE, L"pasotune-probe-told");
  processes.Start(test::Utf8(test::CopyProbe(dir.Path() / L"killed", kName)));
  ASSERT_EQ(::WaitForSingleObject(ready, 10000), WAIT_OBJECT_0);
  processes.EndByImageName(test::Utf8(kName));
  pumpUntilTold();
  EXPECT_EQ(told, std::vector<std::string>{"con el código de salida 1"});
  EXPECT_EQ(EndCause(0xC0000005u), "por la excepción 0xC0000005 (acceso a memoria no válido)");
}

TEST_F(Win32ProcessesTest, NeverEndsTheCallingProcess) {
  const fs::path path = test::CopyProbe(dir.Path(), L"EndsOwnName.exe");
  started.push_back(processes.Spawn(test::Utf8(path)));
  ASSERT_TRUE(Ends(started.back(), 10000));
  DWORD code = 1;
  ::GetExitCodeProcess(started.back().Get(), &code);
  EXPECT_EQ(code, 0u);
  EXPECT_EQ(ReadFile(path.wstring() + L".alive"), "alive\n");
}

}  // namespace
}  // namespace pasotune
