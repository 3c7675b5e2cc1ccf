// The tracker link, the tuning follower and the transmit lamp.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/channel.hpp"
#include "form/form1.hpp"
#include "platform/ports.hpp"

namespace pasotune {

inline constexpr std::string_view kTituloPrograma = "Pasotune";
// The tracker linked by itself after start-up, and the tracker gone.
inline constexpr std::string_view kEnlazado = "Enlazado con Orbitron";
inline constexpr std::string_view kSeHaIdo = "Orbitron se ha ido: sin datos de seguimiento";
// Where no Orbitron runs (Linux): how to start a tracker.
inline constexpr std::string_view kComoSeguir =
    "Sin seguimiento: abra «Pasotune con Gpredict» en el menú de aplicaciones, o ejecute "
    "pasotune-feed";

class Follower {
 public:
  Follower(Form1& form, Module1& m, Platform& platform, Channel& channel)
      : form_(form), m_(m), p_(platform), ch_(channel) {}
  ~Follower();
  Follower(const Follower&) = delete;
  Follower& operator=(const Follower&) = delete;

  // Links txtDDE to the tracker; tells the user once when it is absent.
  void Command2_Click();
  // Runs on every change of the tracking record. One pass of the checks
  // sends at most four commands and returns. A record that arrives while a
  // pass is under way (inside one of its pauses) only updates the labels;
  // a new pass on the newest labels is then queued behind whatever else is
  // waiting. So the checks never nest, the radio ends on the newest values,
  // and a handler whose pause a record interrupts waits for one pass at most.
  void txtDDE_Change();
  // The engine is ready: one pass on what the window shows, queued like a
  // record's, so values that came before the engine do not wait for the
  // tracker to change.
  void Sintonizar();
  // The tracker came (back) and is linked, or went away; the link follows
  // it by itself, so the user only reads it in the log.
  void txtDDE_LinkOpen();
  void txtDDE_LinkClose();
  void Timer2_Timer();
  // The close sequence has begun: nothing more goes to the engine, so the
  // close is over within its own pauses whatever the tracker does.
  void DejarDeEnviar() { cerrando_ = true; }

 private:
  void Pasada();
  void EncolarPasada();
  void Revisar();
  void Enviado();
  void AvisarNoCabe(const std::string& digitos, bool leida, std::string& avisado,
                    std::string_view sentido, std::int32_t frecuencia);
  void RevisarFrecuencia(const Label& label, std::string& ultima, std::string_view comando);
  void RevisarModo(const Label& label, std::string& ultimo, std::string_view comando);

  Form1& form_;
  Module1& m_;
  Platform& p_;
  Channel& ch_;
  bool revisando_ = false;            // a pass is under way
  bool hayNuevos_ = false;            // a record arrived while it was
  EventPump::TimerId siguiente_ = 0;  // the queued pass, if any
  bool cerrando_ = false;
  // The too-large frequency last reported, so a tracker that keeps sending
  // it is reported once.
  std::string bajadaAvisada_;
  std::string subidaAvisada_;
};

}  // namespace pasotune
