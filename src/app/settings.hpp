// config.txt in the program folder: the chosen serial port and tone.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "form/form1.hpp"
#include "engine/channel.hpp"
#include "platform/ports.hpp"

namespace pasotune {

inline constexpr std::string_view kConfigPorDefecto = "Puerto=COM1\r\nCTCSS=88.5\r\n";
// Two short lines; anything past this is not a settings file we wrote.
inline constexpr std::size_t kMaxConfigBytes = 64 * 1024;

class Settings {
 public:
  Settings(Form1& form, Platform& platform, Channel& channel)
      : form_(form), p_(platform), ch_(channel) {}

  // Creates the file with its defaults when missing, then reads it into
  // HPORT and ComboST. A failure leaves a line in the activity log.
  void CargarConfiguracion();
  // Writes both lines. A failure is told to the user in a message box.
  void GuardarConfiguracion();

  std::string Ruta() const;

 private:
  Form1& form_;
  Platform& p_;
  Channel& ch_;
};

// CR LF, a lone CR and a bare LF each end a line; a last line without an
// end counts.
std::vector<std::string_view> SplitLines(std::string_view text);
// Every occurrence of key removed, left to right in one pass.
std::string RemoveAll(std::string_view line, std::string_view key);

}  // namespace pasotune
