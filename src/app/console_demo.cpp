// Plays a few tracking records through the whole core against a scripted
// engine, in virtual time, and prints what went over the wire.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/pasotune.hpp"
#include "platform/sim/sim.hpp"
#include "platform/std_files.hpp"
#include "platform/temp_folder.hpp"

using namespace pasotune;

int main() {
  namespace fs = std::filesystem;
  const std::string folder = MakeTempFolder("pasotune-demo-");
  for (const char* name : {"Velkor.exe", "cancel.ico", "up2.ico"})
    std::ofstream(folder + "/" + name) << "x";

  sim::Loop loop(12 * 3600.0);
  sim::Peer engine(loop);
  sim::TcpClient tcp(loop, engine);
  sim::Tracker tracker(loop);
  sim::Processes processes(loop, engine);
  sim::MessageBox messages(loop);
  sim::ProgramEnd programEnd(loop);
  StdFiles files(folder);
  Platform platform{loop, loop, tcp, tracker, processes, files, messages, programEnd, '.'};
  Pasotune app(platform);

  const auto stamp = [&] {
    const double s = loop.SecondsSinceMidnight();
    static char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%06.3f", int(s / 3600), int(s / 60) % 60,
                  s - 60 * int(s / 60));
    return std::string(buf);
  };
  engine.onLine = [&](const std::string& line) {
    std::printf("%s  engine <- %s\n", stamp().c_str(), line.c_str());
    if (line.rfind("SETPORT ", 0) == 0) engine.Reply("Velkor READY\r\n");
  };
  app.form.List1.itemAdded = [&] {
    std::printf("%s  log    | %s\n", stamp().c_str(),
                std::string(app.form.List1.Item(app.form.List1.ListCount() - 1)).c_str());
  };

  const char* records[] = {
      "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB",
      "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB",  // unchanged: nothing to send
      "SNAO-07 DN145950123 UP432149877 DMUSB UMLSB",  // both links moved 100 Hz
      "SNAO-07 DN145950140 UP432149877 DMUSB UMLSB",  // within the step: nothing
      "SNAO-07 DN145950000 UP432150000 DM UMLSB",     // empty mode: never sent
      "SNFO-29 DN435850000 UP145950000 DMUSB UMLSB",
  };
  try {
    app.Load();
    loop.RunFor(2100);  // the start-up timer checks the engine and links the tracker
    app.form.Command1.Click();
    for (const char* r : records) {
      std::printf("%s  tracker: %s\n", stamp().c_str(), r);
      tracker.Publish(r);
      loop.RunFor(2500);
    }
    app.form.RequestClose();
  } catch (const sim::Ended&) {
    std::printf("%s  program ended\n", stamp().c_str());
  }
  std::error_code ec;
  fs::remove_all(folder, ec);
  return 0;
}
