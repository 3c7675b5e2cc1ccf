#include "app/pasotune.hpp"

#include <cmath>
#include <string>

#include "engine/contract.hpp"

namespace pasotune {

Pasotune::Pasotune(Platform& p)
    : platform(p),
      channel(form, p),
      connection(form, m, p, channel),
      follower(form, m, p, channel),
      tones(form, channel),
      settings(form, p, channel) {
  form.load = [this] { Form_Load(); };
  form.queryUnload = [this] { return Form_QueryUnload(); };
  form.Timer1.tick = [this] { Timer1_Timer(); };
  form.Timer2.tick = [this] { follower.Timer2_Timer(); };
  form.Command1.click = [this] { connection.Command1_Click(); };
  connection.listo = [this] { follower.Sintonizar(); };
  form.Command2.click = [this] { follower.Command2_Click(); };
  form.Command3.click = [this] { tones.Command3_Click(); };
  form.Command4.click = [this] { tones.Command4_Click(); };
  form.ComboST.click = [this] { tones.ComboST_Click(); };
  form.txtDDE.change = [this] { follower.txtDDE_Change(); };
  form.txtDDE.linkOpen = [this] { follower.txtDDE_LinkOpen(); };
  form.txtDDE.linkClose = [this] { follower.txtDDE_LinkClose(); };
  p.tcp.SetEvents({
      .connected = [this] { connection.WinsockHamlib_Connect(); },
      .closed = [this] { connection.WinsockHamlib_Close(); },
      .dataArrival = [this](long bytes) { connection.WinsockHamlib_DataArrival(bytes); },
      .error = [this](int n, const std::string& d) { connection.WinsockHamlib_Error(n, d); },
  });
  p.processes.SetEnded([this](const std::string& cause) { connection.MotorTerminado(cause); });
  BindTimer(form.Timer1, timer1_);
  BindTimer(form.Timer2, timer2_);
  BindTrackerLink();
}

Pasotune::~Pasotune() {
  platform.tcp.SetEvents({});
  platform.processes.SetEnded({});
  platform.tracker.Close();
  platform.tracker.SetPresence({});
  if (timer1_) platform.pump.StopTimer(timer1_);
  if (timer2_) platform.pump.StopTimer(timer2_);
}

void Pasotune::BindTimer(Timer& timer, EventPump::TimerId& id) {
  auto apply = [this, &timer, &id] {
    if (id) platform.pump.StopTimer(id);
    id = timer.Enabled() ? platform.pump.StartTimer(timer.Interval(), [&timer] { timer.Tick(); })
                         : 0;
  };
  timer.stateChanged = apply;
  apply();
}

void Pasotune::BindTrackerLink() {
  platform.tracker.SetPresence([this](bool linked) {
    if (linked) {
      form.txtDDE.LinkOpened();
    } else {
      form.txtDDE.LinkClosed();
    }
  });
  form.txtDDE.linkModeChanged = [this] {
    platform.tracker.Close();
    if (form.txtDDE.LinkMode() != 1) return;
    const std::string& topic = form.txtDDE.LinkTopic();
    const std::size_t bar = topic.find('|');
    platform.tracker.Open(
        topic.substr(0, bar), bar == std::string::npos ? "" : topic.substr(bar + 1),
        form.txtDDE.LinkItem(), [this](const std::string& text) { form.txtDDE.SetText(text); });
  };
}

void Pasotune::Form_Load() {
  form.HPORT.Clear();
  form.Command3.SetEnabled(false);
  form.Command4.SetEnabled(false);
  form.height = 4290;
  form.width = 6675;
  Notify(form.sizeChanged);
  for (int n = 1; n <= 20; ++n) form.HPORT.AddItem("COM" + std::to_string(n));
  tones.CargarTonos();
  settings.CargarConfiguracion();
  m.ColorReposo = 64;
  m.ColorActivo = 255;
  form.Shape1.SetFillColor(static_cast<std::int32_t>(std::lround(m.ColorReposo)));
}

void Pasotune::Timer1_Timer() {
  form.Timer1.SetEnabled(false);
  const std::string motor = platform.InProgramFolder(engine::kImageName);
  if (!platform.files.IsPlainFile(motor)) {
    platform.messages.Show("Falta motor Velkor.exe", std::string(kTituloPrograma), MsgButtons::kOk,
                           MsgIcon::kNone);
    platform.programEnd.End();
  }
  form.Command1.SetEnabled(true);
  follower.Command2_Click();
}

bool Pasotune::Form_QueryUnload() {
  // A close asked for while closing would only repeat the sequence.
  if (closing_) return true;
  if (platform.messages.Show("Sale de Pasotune?", std::string(kTituloPrograma), MsgButtons::kYesNo,
                             MsgIcon::kQuestion) != MsgResult::kYes) {
    return true;
  }
  closing_ = true;
  follower.DejarDeEnviar();
  settings.GuardarConfiguracion();
  if (platform.tcp.State() != sck::kClosed) {
    platform.tcp.Close();
    channel.Esperar(200);
  }
  connection.MatarMotor();
  channel.Esperar(500);
  platform.programEnd.End();
  return false;  // not reached
}

}  // namespace pasotune
