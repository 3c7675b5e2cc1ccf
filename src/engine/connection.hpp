// The connect button and the engine link's events.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/channel.hpp"
#include "form/form1.hpp"
#include "platform/ports.hpp"

namespace pasotune {

class Connection {
 public:
  Connection(Form1& form, Module1& m, Platform& platform, Channel& channel)
      : form_(form), m_(m), p_(platform), ch_(channel) {}

  void Command1_Click();
  void WinsockHamlib_Connect();
  void WinsockHamlib_Close();
  void WinsockHamlib_DataArrival(long bytesTotal);
  void WinsockHamlib_Error(int number, const std::string& description);

  // Ends every engine process; also used at exit.
  void MatarMotor();
  // An engine that ArrancarMotor started has ended; said in the log unless
  // MatarMotor asked for it.
  void MotorTerminado(const std::string& causa);

  // Called whenever a reply's ready banner has set Conectado.
  std::function<void()> listo;

 private:
  void Conectar();
  void Desconectar();
  void ArrancarMotor();
  void MostrarConectado();   // caption "Desconectar", picture cancel.ico, port fixed
  void MostrarConectable();  // caption "Conectar", picture up2.ico
  void CargarImagen(std::string_view file);

  Form1& form_;
  Module1& m_;
  Platform& p_;
  Channel& ch_;
  bool intentando_ = false;          // the connection attempts are under way
  bool puertoAjenoAvisado_ = false;  // this sequence said whose the port is
  int motoresVivos_ = 0;             // started, and their end not yet heard of
  int finesPedidos_ = 0;             // of those, the ones MatarMotor asked to end
};

// Removes every CR LF pair, left to right in one pass; lone CR or LF stay.
std::string QuitarCrLf(std::string_view text);
// The lines of a block from the engine, each ended by CR LF (the last one
// may lack it); lone CR or LF stay. A block with no text is one empty line.
std::vector<std::string> LineasRecibidas(std::string_view data);

}  // namespace pasotune
