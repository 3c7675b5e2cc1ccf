// The application: the window model, the shared state and every handler,
// wired to the platform's ports. Holds no toolkit.
#pragma once

#include "form/form1.hpp"
#include "app/settings.hpp"
#include "engine/channel.hpp"
#include "engine/connection.hpp"
#include "platform/ports.hpp"
#include "tones/tones.hpp"
#include "tracking/follower.hpp"

namespace pasotune {

class Pasotune {
 public:
  explicit Pasotune(Platform& platform);
  ~Pasotune();
  Pasotune(const Pasotune&) = delete;
  Pasotune& operator=(const Pasotune&) = delete;

  // Raises the window's load event; the view shows the window afterwards.
  void Load() { form.load(); }

  void Form_Load();
  void Timer1_Timer();
  // Returns true to refuse the close.
  bool Form_QueryUnload();

  Form1 form;
  Module1 m;
  Platform& platform;
  Channel channel;
  Connection connection;
  Follower follower;
  Tones tones;
  Settings settings;

 private:
  void BindTimer(Timer& timer, EventPump::TimerId& id);
  void BindTrackerLink();

  EventPump::TimerId timer1_ = 0;
  EventPump::TimerId timer2_ = 0;
  bool closing_ = false;
};

}  // namespace pasotune
