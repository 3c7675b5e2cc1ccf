// One simulated world around the application: virtual time, a scripted
// engine on the TCP link, a scripted tracker, recorded processes and message
// boxes, and real files in a temporary program folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/pasotune.hpp"
#include "platform/sim/sim.hpp"
#include "platform/std_files.hpp"

namespace pasotune::test {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  void Write(const std::string& name, const std::string& bytes) const;
  std::optional<std::string> Read(const std::string& name) const;

 private:
  std::string path_;
};

struct World {
  explicit World(double startOfDay = 8 * 3600.0, char decimalSeparator = '.');

  TempFolder folder;
  sim::Loop loop;
  sim::Peer engine{loop};
  sim::TcpClient tcp{loop, engine};
  sim::Tracker tracker{loop};
  sim::Processes processes{loop, engine};
  sim::MessageBox messages{loop};
  sim::ProgramEnd programEnd{loop};
  StdFiles files;
  Platform platform;
  Pasotune app;
  Form1& form = app.form;
  Module1& m = app.m;

  // Puts the TCP link up with the engine listening, without the connect
  // button's sequence, and sets Conectado.
  void LinkUp();
  // Runs fn from the event loop at virtual time Now() + delay.
  void After(double delayMs, std::function<void()> fn);
  // Pumps until the given virtual time has passed or the program ended.
  void RunFor(double ms);
  // Feeds one record to the follower as the tracker link would.
  void Record(const std::string& text) { form.txtDDE.SetText(text); }
  // The activity log since the link was put up by LinkUp.
  std::vector<std::string> Log() const;
  std::vector<std::string> Sent() const { return engine.LineTexts(); }
  std::vector<std::string> SentFrom(std::size_t first) const {
    const auto all = Sent();
    return {all.begin() + static_cast<long>(std::min(first, all.size())), all.end()};
  }
  std::size_t logStart = 0;
  // Icon files beside the program, so picture changes succeed.
  void PutIcons();
};

}  // namespace pasotune::test
