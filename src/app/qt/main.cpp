// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <exception>
#include <string_view>

#include "app/qt/program.hpp"
#include "app/qt/single_instance.hpp"

namespace {

constexpr const char* kUso =
    "uso: pasotune\n"
    "\n"
    "Abre la ventana de Pasotune, que mantiene sintonizado un Kenwood TS-790 con el satélite\n"
    "que publica el programa de seguimiento, por medio del motor Velkor.exe que tiene al lado.\n"
    "Guarda config.txt (puerto y tono) en su propia carpeta. La orden pasotune del paquete\n"
    "la arranca desde ~/.local/share/pasotune; pasotune --gpredict arranca antes el enlace\n"
    "con Gpredict. Guía: /usr/share/doc/pasotune/guia.html\n";

}  // namespace

int main(int argc, char** argv) {
  // Answered before the window, which would write config.txt.
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--help" || arg == "-h" || arg == "-?") {
      std::fputs(kUso, stdout);
      return 0;
    }
  }
  QApplication qapp(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("pasotune"));
  // pasotune --aviso TITLE TEXT: the launcher's word on what kept it from
  // starting the program. Asked before anything else, as nothing may start.
  if (const QStringList args = QApplication::arguments();
      args.size() == 4 && args[1] == QLatin1String("--aviso")) {
    QMessageBox box(QMessageBox::Critical, args[2], args[3], QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
    box.exec();
    return 0;
  }
  pasotune::SingleInstance single;
  if (!single.First()) return 0;
  try {
    pasotune::Program program;
    single.raise = [&view = program.View()] {
      view.setWindowState(view.windowState() & ~Qt::WindowMinimized);
      view.show();
      view.raise();
      view.activateWindow();
    };
    program.Start();
    return QApplication::exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pasotune: %s\n", e.what());
    return 1;
  }
}
