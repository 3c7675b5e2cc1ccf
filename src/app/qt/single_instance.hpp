// One Pasotune per desktop session: a second start asks the first to come
// to the front and ends, before it touches the engine or anything else.
#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QString>
#include <functional>
#include <memory>

namespace pasotune {

class SingleInstance {
 public:
  // key names the session; empty: the user and the session bus (or the
  // display) this program runs in.
  explicit SingleInstance(const QString& key = {});

  // true: no other runs here, and this one now hears later starts (raise is
  // then called for each); false: another runs and was asked to come to the
  // front. Waits at most a few seconds for a first that is still starting;
  // one that never answers lets this one run.
  bool First();
  std::function<void()> raise;

 private:
  QString socket_;
  QLockFile lock_;
  QLocalServer server_;
};

}  // namespace pasotune
