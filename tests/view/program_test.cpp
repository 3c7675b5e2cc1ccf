// The assembled program over the production adapters, short of the engine.
#include "app/qt/program.hpp"

#include <gtest/gtest.h>

#include <QComboBox>
#include <QEvent>
#include <QFile>
#include <QScreen>
#include <QTemporaryDir>
#include <cstdlib>
#include <deque>
#include <string>
#include <vector>

namespace pasotune::test {
namespace {

struct ScriptedBox : MessageBox {
  std::deque<MsgResult> answers;
  std::vector<std::string> shown;
  MsgResult Show(const std::string& text, const std::string&, MsgButtons, MsgIcon) override {
    shown.push_back(text);
    const MsgResult answer = answers.empty() ? MsgResult::kOk : answers.front();
    if (!answers.empty()) answers.pop_front();
    return answer;
  }
};

struct NoEnd : ProgramEnd {
  [[noreturn]] void End() override { ADD_FAILURE() << "the program ended", std::abort(); }
};

// Counts the port list's items at the moment the window first shows.
struct ShowWatch : QObject {
  QComboBox* ports;
  int itemsAtShow = -1;
  explicit ShowWatch(QComboBox* p) : ports(p) {}
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show && itemsAtShow < 0) itemsAtShow = ports->count();
    return false;
  }
};

TEST(Program, LoadsBeforeShowingCentredAndAsksBeforeClosing) {
  QTemporaryDir folder;
  ScriptedBox box;
  NoEnd end;
  Program program({folder.path().toStdString(), &end, &box});
  Form1View& window = program.View();
  ShowWatch watch(window.findChild<QComboBox*>(QStringLiteral("HPORT")));
  window.installEventFilter(&watch);

  program.Start();

  EXPECT_EQ(watch.itemsAtShow, 20);
  EXPECT_TRUE(window.isVisible());
  EXPECT_EQ(program.App().form.width, 6675);
  const QPoint middle = window.screen()->availableGeometry().center();
  EXPECT_NEAR(window.frameGeometry().center().x(), middle.x(), 1);
  EXPECT_NEAR(window.frameGeometry().center().y(), middle.y(), 1);
  EXPECT_TRUE(QFile::exists(folder.filePath(QStringLiteral("config.txt"))));

  box.answers = {MsgResult::kNo};
  EXPECT_FALSE(window.close());
  EXPECT_TRUE(window.isVisible());
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown.back(), "Sale de Pasotune?");
}

}  // namespace
}  // namespace pasotune::test
