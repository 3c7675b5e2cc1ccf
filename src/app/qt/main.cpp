// Pasotune: keeps a TS-790 tuned to the satellite the tracker follows.
#include <QApplication>
#include <cstdio>
#include <exception>

#include "app/qt/program.hpp"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QGuiApplication::setDesktopFileName(QStringLiteral("pasotune"));
  try {
    pasotune::Program program;
    program.Start();
    return QApplication::exec();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "pasotune: %s\n", e.what());
    return 1;
  }
}
