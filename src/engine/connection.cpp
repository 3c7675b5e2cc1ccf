#include "engine/connection.hpp"

#include <algorithm>
#include <exception>

#include "engine/contract.hpp"

namespace pasotune {

namespace {
constexpr std::string_view kConectar = "Conectar";
constexpr std::string_view kDesconectar = "Desconectar";
// A button picture is a few kilobytes; a larger file is not one.
constexpr std::size_t kMaxPictureBytes = 1024 * 1024;
// What the log keeps of one line from the engine, and of one arrival: an
// engine gone wrong must not fill the log.
constexpr std::size_t kMaxRespuestaLog = 1024;
constexpr std::size_t kMaxLineasPorLlegada = 32;
}  // namespace

std::string QuitarCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      ++i;
      continue;
    }
    out += text[i];
  }
  return out;
}

std::vector<std::string> LineasRecibidas(std::string_view data) {
  std::vector<std::string> lineas;
  while (!data.empty()) {
    const std::size_t fin = data.find("\r\n");
    lineas.emplace_back(data.substr(0, fin));
    if (fin == std::string_view::npos) break;
    data.remove_prefix(fin + 2);
  }
  if (lineas.empty()) lineas.emplace_back();
  return lineas;
}

void Connection::Command1_Click() {
  if (form_.Command1.Caption() == kConectar) {
    Conectar();
  } else {
    Desconectar();
  }
}

void Connection::Conectar() {
  MostrarConectado();
  if (p_.tcp.State() != sck::kClosed) {
    p_.tcp.Close();
    ch_.Esperar(200);
  }
  MatarMotor();
  ch_.Esperar(500);
  ArrancarMotor();
  ch_.Esperar(500);
  m_.Conectado = false;

  // While the attempts run, a failed one's events must not offer to connect
  // again: the switch shows how the whole sequence ends.
  struct Fin {
    bool& intentando;
    bool antes;
    ~Fin() { intentando = antes; }
  } fin{intentando_, intentando_};
  intentando_ = true;
  puertoAjenoAvisado_ = false;
  for (int attempt = 1; attempt <= engine::kConnectAttempts; ++attempt) {
    if (p_.tcp.State() != sck::kClosed) {
      p_.tcp.Close();
      ch_.Esperar(100);
    }
    try {
      p_.tcp.Connect(std::string(engine::kHost), engine::kPort);
    } catch (const std::exception&) {
      // The next attempt tries again.
    }
    ch_.Esperar(500);
    p_.pump.PumpOnce(0);
    if (p_.tcp.State() == sck::kConnected) {
      m_.Conectado = true;
      MostrarConectado();
      form_.Command3.SetEnabled(true);
      form_.Command4.SetEnabled(true);
      // A fresh engine knows nothing of the radio's state: tune it fully.
      m_.UltimaSubida.clear();
      m_.UltimaBajada.clear();
      m_.UltimoModoSubida.clear();
      m_.UltimoModoBajada.clear();
      break;
    }
  }

  if (!m_.Conectado) {
    ch_.AgregarLog("No fue posible conectar con Velkor.");
    MostrarConectable();
    form_.HPORT.SetEnabled(true);
    MatarMotor();
    return;
  }
  try {
    std::string line(engine::kSetPort);
    line += form_.HPORT.Text();
    line += engine::kLineEnd;
    p_.tcp.SendData(line);
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(e.what()));
  }
}

void Connection::Desconectar() {
  if (p_.tcp.State() != sck::kClosed) p_.tcp.Close();
  MatarMotor();
  ch_.Esperar(500);
  ch_.AgregarLog("Desconectado");
  m_.Conectado = false;
  MostrarConectable();
  form_.HPORT.SetEnabled(true);
  form_.Command3.SetEnabled(false);
  form_.Command4.SetEnabled(false);
}

void Connection::WinsockHamlib_Connect() {
  ch_.AgregarLog("Conectando ...");
}

void Connection::WinsockHamlib_Close() {
  ch_.AgregarLog("Desconectado");
  MostrarConectable();
}

void Connection::WinsockHamlib_DataArrival(long /*bytesTotal*/) {
  std::string data;
  try {
    data = p_.tcp.GetData();
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(e.what()));
    return;
  }
  // Each reply its own line, and only its start: a reply without an end
  // must not fill the log. The markers count anywhere in the block.
  const std::vector<std::string> lineas = LineasRecibidas(data);
  const std::size_t mostradas = std::min(lineas.size(), kMaxLineasPorLlegada);
  for (std::size_t i = 0; i < mostradas; ++i) {
    ch_.AgregarLog(BoundedLine(lineas[i], kMaxRespuestaLog));
  }
  if (mostradas < lineas.size()) {
    ch_.AgregarLog("… y " + std::to_string(lineas.size() - mostradas) +
                   " líneas más de Velkor sin mostrar");
  }
  const std::string bloque = QuitarCrLf(data);
  const std::size_t error = bloque.rfind(engine::kReplyError);
  const std::size_t banner = bloque.rfind(engine::kReplyReady);
  // The radio is back after an ERROR: the switch must not offer to connect
  // while the radio follows. With both markers, the later one is the news.
  const bool mostrarListo =
      banner != std::string::npos && (error == std::string::npos || banner > error);
  if (error != std::string::npos && !mostrarListo) {
    form_.HPORT.SetEnabled(true);
    MostrarConectable();
  }
  if (mostrarListo) MostrarConectado();
  if (banner != std::string::npos) {
    m_.Conectado = true;
    // The engine has just opened the radio: what the window shows goes to it
    // now, not only when the tracker next changes something.
    if (listo) listo();
  }
}

void Connection::WinsockHamlib_Error(int number, const std::string& description) {
  if (!intentando_) {
    MostrarConectable();
    form_.HPORT.SetEnabled(true);
  }
  // Whose the port is does not change between attempts: say it once.
  const bool repetido = number == sck::kForeignHolder && intentando_ && puertoAjenoAvisado_;
  if (number == sck::kForeignHolder) puertoAjenoAvisado_ = true;
  if (!repetido) ch_.AgregarLog(ErrorLine(description));
  if (p_.tcp.State() != sck::kClosed) p_.tcp.Close();
}

void Connection::MatarMotor() {
  finesPedidos_ = motoresVivos_;
  try {
    p_.processes.EndByImageName(std::string(engine::kImageName));
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(e.what()));
  }
}

void Connection::MotorTerminado(const std::string& causa) {
  if (motoresVivos_ > 0) --motoresVivos_;
  if (finesPedidos_ > 0) {
    --finesPedidos_;
    return;
  }
  // A crash or someone else's kill: the switch alone would not say why.
  ch_.AgregarLog(std::string(engine::kImageName) + " terminó " + causa +
                 "; Conectar lo arranca de nuevo");
}

void Connection::ArrancarMotor() {
  try {
    p_.processes.Start(p_.InProgramFolder(engine::kImageName));
    ++motoresVivos_;
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(e.what()));
  }
}

void Connection::MostrarConectado() {
  form_.Command1.SetCaption(std::string(kDesconectar));
  CargarImagen("cancel.ico");
  form_.HPORT.SetEnabled(false);
}

void Connection::MostrarConectable() {
  form_.Command1.SetCaption(std::string(kConectar));
  CargarImagen("up2.ico");
}

void Connection::CargarImagen(std::string_view file) {
  // A picture that cannot be read keeps the previous one.
  try {
    form_.Command1.SetPicture(p_.files.ReadBytes(p_.InProgramFolder(file), kMaxPictureBytes));
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(e.what()));
  }
}

}  // namespace pasotune
