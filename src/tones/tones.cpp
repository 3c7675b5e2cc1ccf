#include "tones/tones.hpp"

#include <string>

#include "engine/contract.hpp"

namespace pasotune {

void Tones::CargarTonos() {
  for (std::string_view tono : kTonos) form_.ComboST.AddItem(std::string(tono));
}

void Tones::ComboST_Click() {
  form_.Command3.SetCaption("CTCSS " + form_.ComboST.Text());
}

void Tones::Command3_Click() {
  ch_.EnviarComando(std::string(engine::kSetTone) + form_.ComboST.Text());
  ch_.Esperar(500);
}

void Tones::Command4_Click() {
  ch_.EnviarComando(engine::kSetToneOff);
}

}  // namespace pasotune
