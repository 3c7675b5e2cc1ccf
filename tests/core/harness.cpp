#include "harness.hpp"

#include <cstdlib>

#include "platform/temp_folder.hpp"

namespace pasotune::test {

namespace fs = std::filesystem;

TempFolder::TempFolder() : path_(MakeTempFolder("pasotune-test-")) {}

TempFolder::~TempFolder() {
  std::error_code ec;
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void TempFolder::Write(const std::string& name, const std::string& bytes) const {
  std::ofstream(File(name), std::ios::binary) << bytes;
}

std::optional<std::string> TempFolder::Read(const std::string& name) const {
  std::ifstream in(File(name), std::ios::binary);
  if (!in) return std::nullopt;
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

World::World(double startOfDay, char decimalSeparator)
    : loop(startOfDay),
      files(folder.Path()),
      platform{loop, loop, tcp, tracker, processes, files, messages, programEnd, decimalSeparator},
      app(platform) {
  // A program folder as installed: the engine lies beside the program.
  folder.Write("Velkor.exe", "engine");
}

void World::LinkUp() {
  engine.SetListening(true);
  tcp.Connect("127.0.0.1", 9000);
  loop.RunFor(5);
  ASSERT_EQ(tcp.State(), sck::kConnected);
  m.Conectado = true;
  logStart = form.List1.ListCount();
}

void World::After(double delayMs, std::function<void()> fn) {
  loop.After(delayMs, std::move(fn));
}

void World::RunFor(double ms) {
  try {
    loop.RunFor(ms);
  } catch (const sim::Ended&) {
  }
}

std::vector<std::string> World::Log() const {
  std::vector<std::string> lines;
  for (std::size_t i = logStart; i < form.List1.ListCount(); ++i)
    lines.emplace_back(form.List1.Item(i));
  return lines;
}

void World::PutIcons() {
  folder.Write("cancel.ico", "cancel-icon");
  folder.Write("up2.ico", "up2-icon");
}

}  // namespace pasotune::test
