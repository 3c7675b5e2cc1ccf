#include "tracking/follower.hpp"

#include <cmath>
#include <exception>
#include <string>

#include "engine/contract.hpp"
#include "tracking/frequency_text.hpp"
#include "tracking/leer_tracking.hpp"

namespace pasotune {

void Follower::Command2_Click() {
  try {
    form_.txtDDE.SetLinkMode(0);
    form_.txtDDE.SetLinkTopic("Orbitron|Tracking");
    form_.txtDDE.SetLinkItem("TrackingData");
    form_.txtDDE.SetLinkMode(1);
  } catch (const std::exception&) {
    p_.messages.Show("No se está ejecutando Orbitron!", std::string(kTituloPrograma),
                     MsgButtons::kOk, MsgIcon::kExclamation);
    if (!p_.trackerHint.empty()) ch_.AgregarLog(std::string(p_.trackerHint));
  }
}

Follower::~Follower() {
  if (siguiente_) p_.pump.StopTimer(siguiente_);
}

void Follower::txtDDE_LinkOpen() {
  ch_.AgregarLog(std::string(kEnlazado));
}

void Follower::txtDDE_LinkClose() {
  ch_.AgregarLog(std::string(kSeHaIdo));
}

void Follower::txtDDE_Change() {
  const std::string& registro = form_.txtDDE.Text();
  if (registro.size() > kMaxRegistro) {
    ch_.AgregarLog("Registro de Orbitron ignorado: tiene " + std::to_string(registro.size()) +
                   " bytes, el máximo es " + std::to_string(kMaxRegistro));
    return;
  }
  const Lectura lectura = LeerTracking(registro, m_);
  AvisarNoCabe(lectura.bajadaNoCabe, lectura.bajadaLeida, bajadaAvisada_, "bajada", m_.FrecBajada);
  AvisarNoCabe(lectura.subidaNoCabe, lectura.subidaLeida, subidaAvisada_, "subida", m_.FrecSubida);
  form_.LabelSat.SetCaption(m_.Satelite);
  form_.LabelRX.SetCaption(MhzText(m_.FrecBajada, p_.decimalSeparator));
  form_.LabelTX.SetCaption(MhzText(m_.FrecSubida, p_.decimalSeparator));
  form_.LabelModoRX.SetCaption(m_.ModoBajada);
  form_.LabelModoTX.SetCaption(m_.ModoSubida);
  if (revisando_ || siguiente_) {
    // A pass from here would nest one run per record in the pauses: the
    // stack grows with the tracker's rate and the radio plays back every
    // record. The next pass reads the labels as they are then.
    hayNuevos_ = true;
    return;
  }
  Pasada();
}

void Follower::Sintonizar() {
  if (revisando_ || siguiente_) {
    hayNuevos_ = true;
    return;
  }
  EncolarPasada();
}

void Follower::EncolarPasada() {
  siguiente_ = p_.pump.StartTimer(1, [this] {
    p_.pump.StopTimer(siguiente_);
    siguiente_ = 0;
    Pasada();
  });
}

void Follower::Pasada() {
  revisando_ = true;
  hayNuevos_ = false;
  struct Fin {
    Follower& f;
    ~Fin() { f.revisando_ = false; }
  } fin{*this};
  if (m_.Conectado) Revisar();
  if (!hayNuevos_ || cerrando_) return;
  // Looping here would hold whatever handler this pass runs inside for as
  // long as the tracker keeps moving: queue the next pass behind the events
  // already waiting, that handler's own steps among them.
  EncolarPasada();
}

void Follower::AvisarNoCabe(const std::string& digitos, bool leida, std::string& avisado,
                            std::string_view sentido, std::int32_t frecuencia) {
  if (leida) avisado.clear();
  if (digitos.empty() || digitos == avisado) return;
  avisado = digitos;
  ch_.AgregarLog("Frecuencia de " + std::string(sentido) + " fuera de rango (" + digitos +
                 " Hz): se mantiene " + MhzText(frecuencia, p_.decimalSeparator));
}

void Follower::Revisar() {
  // Each check reads the label as it is now: a record handled inside an
  // earlier pause may have changed it.
  RevisarFrecuencia(form_.LabelTX, m_.UltimaSubida, engine::kSetFreqMain);
  RevisarModo(form_.LabelModoTX, m_.UltimoModoSubida, engine::kSetModeMain);
  RevisarFrecuencia(form_.LabelRX, m_.UltimaBajada, engine::kSetFreqSub);
  RevisarModo(form_.LabelModoRX, m_.UltimoModoBajada, engine::kSetModeSub);
}

void Follower::RevisarFrecuencia(const Label& label, std::string& ultima,
                                 std::string_view comando) {
  if (cerrando_) return;
  std::string f = CommandFrequencyText(label.Caption(), p_.decimalSeparator);
  // 0 Hz is a record without data (an empty item), never a place to tune.
  if (f == ultima || f == CommandFrequencyText("0", p_.decimalSeparator)) return;
  ultima = f;  // stored before the pause: what runs after it compares with this
  ch_.EnviarComando(std::string(comando) + f);
  Enviado();
}

void Follower::RevisarModo(const Label& label, std::string& ultimo, std::string_view comando) {
  if (cerrando_) return;
  const std::string modo = label.Caption();
  if (modo == ultimo || modo.empty()) return;
  ultimo = modo;
  ch_.EnviarComando(std::string(comando) + modo);
  Enviado();
}

void Follower::Enviado() {
  ch_.Esperar(500);
  form_.Shape1.SetFillColor(static_cast<std::int32_t>(std::lround(m_.ColorActivo)));
  form_.Timer2.SetEnabled(true);
}

void Follower::Timer2_Timer() {
  form_.Timer2.SetEnabled(false);
  form_.Shape1.SetFillColor(static_cast<std::int32_t>(std::lround(m_.ColorReposo)));
}

}  // namespace pasotune
