// The one window as the logic sees it, and the shared state of the run.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "form/controls.hpp"

namespace pasotune {

struct Form1 {
  // Outer size in twips, set by the load.
  int width = 0;
  int height = 0;
  std::string caption = "Pasotune 1.0";
  Observer sizeChanged;

  // Frame1 "TS-790"
  DropDown HPORT;
  Lamp Shape1;
  Button Command1{"Conectar"};
  // Frame3 "CTCSS"
  DropDown ComboST;
  Button Command3{"CTCSS "};
  Button Command4{"CTCSS OFF "};
  ListBox List1;
  // Frame2 "Orbitron"
  Label LabelSat;
  Label LabelTX;
  Label LabelModoTX;
  Label LabelRX;
  Label LabelModoRX;
  // Outside the client area.
  Button Command2{"Orbitron"};
  LinkTextBox txtDDE;
  Timer Timer1{2000, true};
  Timer Timer2{300, false};

  // Window events.
  std::function<void()> load;
  // Returns true to refuse the close.
  std::function<bool()> queryUnload;

  Form1() { Command1.SetEnabled(false); }

  // A close request from any cause; true when the window may close.
  bool RequestClose() { return !queryUnload || !queryUnload(); }
};

struct Module1 {
  bool Conectado = false;

  // Written only by LeerTracking.
  std::string Satelite;
  std::int32_t FrecSubida = 0;
  std::int32_t FrecBajada = 0;
  std::string ModoSubida;
  std::string ModoBajada;

  // The last values handed to the engine by the follower.
  std::string UltimaSubida;
  std::string UltimaBajada;
  std::string UltimoModoSubida;
  std::string UltimoModoBajada;

  double ColorReposo = 0;
  double ColorActivo = 0;
};

}  // namespace pasotune
