// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/qt/program.hpp"
#include "app/qt/single_instance.hpp"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("pasotune"));
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
