#include "app/settings.hpp"

#include <exception>

#include "platform/text.hpp"
#include "tracking/follower.hpp"

namespace pasotune {

namespace {
constexpr std::string_view kPuerto = "Puerto=";
constexpr std::string_view kCtcss = "CTCSS=";
}  // namespace

std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' && text[i] != '\n') continue;
    lines.push_back(text.substr(start, i - start));
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

std::string RemoveAll(std::string_view line, std::string_view key) {
  std::string out;
  for (std::size_t i = 0; i < line.size();) {
    if (line.compare(i, key.size(), key) == 0) {
      i += key.size();
    } else {
      out += line[i++];
    }
  }
  return out;
}

std::string Settings::Ruta() const {
  return p_.InProgramFolder("config.txt");
}

void Settings::CargarConfiguracion() {
  const std::string ruta = Ruta();
  // What a save killed half way left behind.
  p_.files.RemoveLeftovers(ruta);
  std::string bytes;
  try {
    if (!p_.files.IsPlainFile(ruta)) p_.files.WriteBytes(ruta, kConfigPorDefecto);
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(std::string("no se pudo crear la configuración ") + e.what()));
    return;
  }
  try {
    // One byte more tells a file of exactly the limit from a longer one.
    bytes = p_.files.ReadBytes(ruta, kMaxConfigBytes + 1);
  } catch (const std::exception& e) {
    ch_.AgregarLog(ErrorLine(std::string("no se pudo leer la configuración ") + e.what()));
    return;
  }
  if (bytes.size() > kMaxConfigBytes) {
    ch_.AgregarLog(ErrorLine(ruta + " es demasiado grande: solo se leen sus primeros " +
                             std::to_string(kMaxConfigBytes) + " bytes"));
    bytes.resize(kMaxConfigBytes);
    // The line the limit cuts through is not the line the file holds.
    const std::size_t end = bytes.find_last_of("\r\n");
    bytes.resize(end == std::string::npos ? 0 : end + 1);
  }
  const std::string text = Cp1252ToUtf8(bytes);
  for (std::string_view line : SplitLines(text)) {
    // A value that is none of the box's items keeps its previous choice.
    if (line.find(kPuerto) != std::string_view::npos) form_.HPORT.SetText(RemoveAll(line, kPuerto));
    if (line.find(kCtcss) != std::string_view::npos) form_.ComboST.SetText(RemoveAll(line, kCtcss));
  }
}

void Settings::GuardarConfiguracion() {
  std::string text;
  text.append(kPuerto).append(form_.HPORT.Text()).append("\r\n");
  text.append(kCtcss).append(form_.ComboST.Text()).append("\r\n");
  try {
    p_.files.WriteBytes(Ruta(), Utf8ToCp1252(text));
  } catch (const std::exception& e) {
    p_.messages.Show(std::string("No se pudo guardar la configuración en ") + e.what(),
                     std::string(kTituloPrograma), MsgButtons::kOk, MsgIcon::kExclamation);
  }
}

}  // namespace pasotune
