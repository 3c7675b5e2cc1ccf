#include "app/qt/program.hpp"

#include <QCoreApplication>
#include <QMetaObject>

#include "platform/posix/program_folder.hpp"
#include "platform/qt/qt_locale.hpp"

namespace pasotune {

Program::Program(const Options& options)
    : files_(options.programFolder.empty() ? ExecutableFolder() : options.programFolder),
      platform_{clock_,
                pump_,
                tcp_,
                tracker_,
                processes_,
                files_,
                options.messages ? *options.messages : messages_,
                options.programEnd ? *options.programEnd : exit_,
                SystemDecimalSeparator(),
                '/',
                kComoSeguir},
      app_(platform_),
      view_(app_.form),
      outside_([this] { return view_.RequestClose(); }) {
  messages_.SetParent(&view_);
  // An engine's end is heard in a thread of the adapter's; it is told here.
  processes_.SetPost([](std::function<void()> fn) {
    if (QCoreApplication* qapp = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(qapp, std::move(fn), Qt::QueuedConnection);
    }
  });
}

void Program::Start() {
  app_.Load();
  view_.ShowCentred();
}

}  // namespace pasotune
