// The real core over the simulation's doubles, with the real window bound
// to its model. Virtual time moves only when a test runs the loop.
#pragma once

#include <QFile>
#include <QTemporaryDir>
#include <memory>
#include <string>

#include "app/pasotune.hpp"
#include "platform/sim/sim.hpp"
#include "platform/std_files.hpp"
#include "view/qt/form1_view.hpp"

namespace pasotune::test {

inline const QString kResources = QStringLiteral(PASOTUNE_TEST_RESOURCES);

struct SimWindow {
  QTemporaryDir folder;
  sim::Loop loop;
  sim::Peer peer{loop};
  sim::TcpClient tcp{loop, peer};
  sim::Tracker tracker{loop};
  sim::Processes processes{loop, peer};
  StdFiles files{folder.path().toStdString()};
  sim::MessageBox messages{loop};
  sim::ProgramEnd end{loop};
  Platform platform{loop, loop, tcp, tracker, processes, files, messages, end};
  Pasotune app{platform};
  std::unique_ptr<Form1View> view;

  // The program folder holds the engine and both pictures, as shipped.
  // family: the window's monospace family; empty takes the program's choice.
  explicit SimWindow(const QString& family = {}) {
    QFile engine(folder.filePath(QStringLiteral("Velkor.exe")));
    engine.open(QIODevice::WriteOnly);
    for (const char* picture : {"cancel.ico", "up2.ico"}) {
      QFile::copy(kResources + "/" + picture, folder.filePath(QString::fromLatin1(picture)));
    }
    view = std::make_unique<Form1View>(app.form, nullptr, family);
    app.Load();
  }

  template <typename W>
  W* Find(const char* name) const {
    return view->findChild<W*>(QString::fromLatin1(name));
  }
};

}  // namespace pasotune::test
