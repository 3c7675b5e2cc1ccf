// The tracker link, the tuning follower and the transmit lamp.
#pragma once

#include <string>
#include <string_view>

#include "engine/channel.hpp"
#include "form/form1.hpp"
#include "platform/ports.hpp"

namespace pasotune {

inline constexpr std::string_view kTituloPrograma = "Pasotune";

class Follower {
 public:
  Follower(Form1& form, Module1& m, Platform& platform, Channel& channel)
      : form_(form), m_(m), p_(platform), ch_(channel) {}

  // Links txtDDE to the tracker; tells the user once when it is absent.
  void Command2_Click();
  // Runs on every change of the tracking record. A record that arrives
  // while the checks are under way (inside one of their pauses) only updates
  // the labels; the running checks then run again on the newest labels, so
  // the checks never nest and the radio always ends on the newest values.
  void txtDDE_Change();
  void Timer2_Timer();
  // The close sequence has begun: nothing more goes to the engine, so the
  // close is over within its own pauses whatever the tracker does.
  void DejarDeEnviar() { cerrando_ = true; }

 private:
  void Revisar();
  void Enviado();
  void RevisarFrecuencia(const Label& label, std::string& ultima, std::string_view comando);
  void RevisarModo(const Label& label, std::string& ultimo, std::string_view comando);

  Form1& form_;
  Module1& m_;
  Platform& p_;
  Channel& ch_;
  bool revisando_ = false;  // the checks are under way
  bool hayNuevos_ = false;  // a record arrived while they were
  bool cerrando_ = false;
};

}  // namespace pasotune
