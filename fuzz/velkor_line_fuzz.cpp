// Any bytes a client may send the engine, cut into reads anywhere: every line is handled, and
// every reply is one printable line that says "ERROR" only as its verdict and "Velkor READY"
// only at the start of the ready line. The same bytes, unchecked, as velkor.conf, a device name
// or the radio's words: as the program reads them off the wire, nothing of theirs spells a
// marker.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "commands.hpp"
#include "line_splitter.hpp"
#include "settings.hpp"
#include "sim_radio.hpp"
#include "text.hpp"

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view kNotDone = "NOT DONE";

// What the program reads: the reply as the server sends it, decoded from Windows-1252.
std::string Seen(std::string_view reply) {
  return velkor::cp1252ToUtf8(velkor::utf8ToCp1252(velkor::printable(reply, 1024)));
}

// Markers only where the engine puts them: its own verdict at the start.
void CheckMarkers(std::string_view seen) {
  for (const std::string_view marker : {std::string_view("ERROR"), velkor::kReadyReply, kNotDone}) {
    const std::size_t at = seen.find(marker);
    Check(at == std::string_view::npos ||
          (at == 0 && seen.find(marker, 1) == std::string_view::npos));
  }
}

// A reply echoes at most one piece of the line; a note of velkor.conf a key and a value.
void CheckReply(std::string_view reply, std::size_t echoes = 1) {
  CheckMarkers(Seen(reply));
  Check(!reply.empty() && reply.size() <= echoes * 4 * velkor::kEchoChars + 200);
  for (const char c : reply) Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  const std::size_t error = reply.find("ERROR");
  if (error != std::string_view::npos) {
    Check(error == 0 && reply.substr(0, 6) == "ERROR ");
    Check(reply.find("ERROR", 1) == std::string_view::npos);
  }
  // The ready line opens with the banner and then says what the engine drives; an echo in it
  // never repeats the banner.
  const std::size_t ready = reply.find(velkor::kReadyReply);
  if (ready != std::string_view::npos) {
    Check(ready == 0 && reply.substr(velkor::kReadyReply.size(), 2) == ": ");
    Check(reply.find(velkor::kReadyReply, 1) == std::string_view::npos);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  // The first byte picks the read size, so lines and CR LF pairs split at every place.
  const std::size_t chunk = 1 + data[0] % 32;
  const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  // Every line of the bytes as velkor.conf: the notes the window gets after the first SETPORT.
  std::vector<std::string> notes;
  velkor::parseSettings(bytes, notes);
  std::vector<std::string> afterPort;
  for (const auto& note : velkor::shownNotes(notes, "velkor.conf")) {
    afterPort.push_back(velkor::notDoneReply(note));
  }
  Check(afterPort.size() <= velkor::kShownNotes + 1);
  // A device name or the radio's words repeated in a reply.
  const std::string echoed = Seen(velkor::echoText(bytes));
  for (const std::string_view marker : {std::string_view("ERROR"), velkor::kReadyReply, kNotDone}) {
    Check(echoed.find(marker) == std::string::npos);
  }

  velkor::SimRadio radio;
  velkor::Dispatcher dispatcher(radio, afterPort);
  velkor::LineSplitter splitter(256);
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    for (const auto& piece : splitter.feed(bytes.substr(at, chunk))) {
      Check(piece.bytes.size() <= splitter.cap());
      Check(piece.bytes.find('\n') == std::string::npos);
      if (piece.kind == velkor::LineSplitter::Piece::Kind::kTooLong) continue;
      const std::string line = velkor::cp1252ToUtf8(piece.bytes);
      const velkor::Handled handled = dispatcher.handle(line);
      if (handled.reply) CheckReply(*handled.reply);
      for (const auto& more : handled.more) CheckReply(more, 2);
      Check(velkor::printable(handled.action, 4096).find('\n') == std::string::npos);
      // A parsed number always comes back inside its range.
      const velkor::ParseResult parsed = velkor::parseCommand(line);
      if (parsed.command) {
        Check(parsed.command->hz >= 0 && parsed.command->hz < 100'000'000'000);
        Check(parsed.command->tenthsHz >= 0 && parsed.command->tenthsHz < 100'000);
      }
    }
  }
  Check(splitter.takePartial().size() <= splitter.cap() + 1);
  return 0;
}
