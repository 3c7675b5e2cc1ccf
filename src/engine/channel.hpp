// Command sending, the activity log and the pause that keeps events flowing.
#pragma once

#include <string>
#include <string_view>

#include "form/form1.hpp"
#include "platform/ports.hpp"

namespace pasotune {

class Channel {
 public:
  Channel(Form1& form, Platform& platform) : form_(form), p_(platform) {}

  // Appends a line to the activity log and selects it.
  void AgregarLog(std::string_view text);
  // Sends the command plus CR LF when, and only when, the link is connected,
  // then logs it. A command holding CR or LF is not sent; the log says so.
  // Never fails towards the caller.
  void EnviarComando(std::string_view command);
  // Pauses ms milliseconds while handling events. Always handles events at
  // least once; ends early when midnight passes.
  void Esperar(int ms);

 private:
  Form1& form_;
  Platform& p_;
};

// "Error: " + the description, the one shape every failure takes in the log.
std::string ErrorLine(std::string_view description);

}  // namespace pasotune
