// The tracker link, the tuning follower and the transmit lamp.
#pragma once

#include <string>
#include <string_view>

#include "form/form1.hpp"
#include "engine/channel.hpp"
#include "platform/ports.hpp"

namespace pasotune {

inline constexpr std::string_view kTituloPrograma = "Pasotune";

class Follower {
 public:
  Follower(Form1& form, Module1& m, Platform& platform, Channel& channel)
      : form_(form), m_(m), p_(platform), ch_(channel) {}

  // Links txtDDE to the tracker; tells the user once when it is absent.
  void Command2_Click();
  // Runs on every change of the tracking record.
  void txtDDE_Change();
  void Timer2_Timer();

 private:
  void Enviado();
  void RevisarFrecuencia(const Label& label, std::string& ultima, std::string_view comando);
  void RevisarModo(const Label& label, std::string& ultimo, std::string_view comando);

  Form1& form_;
  Module1& m_;
  Platform& p_;
  Channel& ch_;
};

}  // namespace pasotune
