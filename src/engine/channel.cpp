#include "engine/channel.hpp"

#include <algorithm>
#include <cmath>
#include <exception>

#include "engine/contract.hpp"

namespace pasotune {

std::string ErrorLine(std::string_view description) {
  return "Error: " + std::string(description);
}

namespace {

// The command as one readable line: its line ends written out.
std::string Visible(std::string_view command) {
  std::string out;
  for (char c : command) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out;
}

}  // namespace

void Channel::AgregarLog(std::string_view text) {
  form_.List1.AddItem(text);
  if (form_.List1.ListCount() > 0)
    form_.List1.SetListIndex(static_cast<long>(form_.List1.ListCount()) - 1);
}

void Channel::EnviarComando(std::string_view command) {
  try {
    if (p_.tcp.State() != sck::kConnected) return;
  } catch (const std::exception&) {
    return;
  }
  // A line end inside would make a second line at the engine, one the
  // program never meant to send.
  if (command.find_first_of("\r\n") != std::string_view::npos) {
    AgregarLog(ErrorLine("no se envía un comando con fin de línea: " + Visible(command)));
    return;
  }
  std::string failure;
  bool failed = false;
  try {
    std::string line(command);
    line += engine::kLineEnd;
    p_.tcp.SendData(line);
  } catch (const std::exception& e) {
    failed = true;
    failure = e.what();
  }
  AgregarLog(command);
  if (failed) AgregarLog(ErrorLine(failure));
}

void Channel::Esperar(int ms) {
  constexpr double kDaySeconds = 86400.0;
  const float start = static_cast<float>(p_.clock.SecondsSinceMidnight());
  for (;;) {
    // Wait for events, but wake by the deadline and at midnight, where the
    // pause ends early.
    const double now = p_.clock.SecondsSinceMidnight();
    const double remaining = ms - (now - start) * 1000.0;
    const double toMidnight = (kDaySeconds - now) * 1000.0;
    const double wait = std::clamp(std::min(remaining, toMidnight), 0.0, 86'400'000.0);
    p_.pump.PumpOnce(ms <= 0 ? 0 : static_cast<int>(std::ceil(wait)));
    if (static_cast<float>(p_.clock.SecondsSinceMidnight()) < start) return;
    if ((p_.clock.SecondsSinceMidnight() - start) * 1000.0 >= ms) return;
  }
}

}  // namespace pasotune
