// The CTCSS sub-tone list and its two buttons.
#pragma once

#include <array>
#include <string_view>

#include "form/form1.hpp"
#include "engine/channel.hpp"

namespace pasotune {

inline constexpr std::array<std::string_view, 36> kTonos = {
    "71.9",  "74.4",  "77.0",  "79.7",  "82.5",  "85.4",  "88.5",  "91.5",  "94.8",
    "100.0", "103.5", "107.2", "110.9", "114.8", "118.8", "123.0", "127.3", "131.8",
    "136.5", "141.3", "146.2", "151.4", "156.7", "162.2", "167.9", "173.8", "179.9",
    "186.2", "192.8", "203.5", "210.7", "218.1", "225.7", "233.6", "241.8", "250.3"};

class Tones {
 public:
  Tones(Form1& form, Channel& channel) : form_(form), ch_(channel) {}

  void CargarTonos();
  void ComboST_Click();
  void Command3_Click();
  void Command4_Click();

 private:
  Form1& form_;
  Channel& ch_;
};

}  // namespace pasotune
