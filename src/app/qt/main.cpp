// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <exception>

#include "app/qt/program.hpp"
#include "app/qt/single_instance.hpp"

int main(int argc, char** argv) {
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
