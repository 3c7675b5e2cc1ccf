#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QToolTip>
#include <string>

#include "form/form1.hpp"
#include "view/qt/form1_view.hpp"
#include "view/qt/log_view.hpp"

namespace pasotune::test {
namespace {

struct LogViewTest : ::testing::Test {
  Form1 form;
  Form1View view{form};
  LogView* list = view.findChild<LogView*>(QStringLiteral("List1"));

  // What the core's logging does: a new last line, then select it.
  void Log(const std::string& line) {
    form.List1.AddItem(line);
    form.List1.SetListIndex(static_cast<long>(form.List1.ListCount()) - 1);
  }
  bool InSight(long row) const {
    return list->viewport()->rect().contains(list->RowRect(static_cast<int>(row)));
  }
};

TEST_F(LogViewTest, ShowsTheModelsLinesAndSelectsTheChosenOne) {
  view.ShowCentred();
  for (int i = 0; i < 200; ++i) Log("SET FREQ SUB 145.9" + std::to_string(i) + " ñ");
  // The log catches up once per turn of the event loop, not once per line.
  EXPECT_EQ(list->RowCount(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(list->RowCount(), 200);
  EXPECT_EQ(list->RowText(0), QStringLiteral("SET FREQ SUB 145.90 ñ"));
  EXPECT_EQ(list->RowText(199), QStringLiteral("SET FREQ SUB 145.9199 ñ"));
  EXPECT_EQ(list->SelectedRow(), 199);
  EXPECT_TRUE(InSight(199));  // scrolled so the newest line shows
  EXPECT_FALSE(InSight(0));

  form.List1.SetListIndex(3);
  QCoreApplication::processEvents();
  EXPECT_EQ(list->SelectedRow(), 3);
  EXPECT_TRUE(InSight(3));
  form.List1.SetListIndex(-1);
  QCoreApplication::processEvents();
  EXPECT_EQ(list->SelectedRow(), -1);
}

TEST_F(LogViewTest, TheUsersChoiceOfLineReachesTheModel) {
  view.ShowCentred();
  for (const char* line : {"uno", "dos", "tres"}) Log(line);
  QCoreApplication::processEvents();
  const QPoint second = list->RowRect(1).center();
  QMouseEvent press(QEvent::MouseButtonPress, second, list->viewport()->mapToGlobal(second),
                    Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(list->viewport(), &press);
  EXPECT_EQ(form.List1.ListIndex(), 1);
  for (auto [key, expected] :
       {std::pair{Qt::Key_Down, 2}, std::pair{Qt::Key_Down, 2}, std::pair{Qt::Key_Home, 0},
        std::pair{Qt::Key_Up, 0}, std::pair{Qt::Key_End, 2}}) {
    QKeyEvent keyPress(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(list, &keyPress);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.List1.ListIndex(), expected) << key;
  }
}

TEST_F(LogViewTest, ALineWiderThanTheLogScrollsSidewaysAndShowsWholeAsItsTooltip) {
  view.ShowCentred();
  const QSize size = list->size();
  const QString wide = QStringLiteral("ERROR COM1: no existe el dispositivo /dev/ttyUSB0 aquí");
  for (const QString& line : {QStringLiteral("Conectando ..."), wide, QStringLiteral("Ñu")}) {
    SCOPED_TRACE(line.toStdString());
    Log(line.toStdString());
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();  // the scroll bars are laid out in a turn of their own
    const QPoint at = list->RowRect(list->RowCount() - 1).center();
    QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
    QCoreApplication::sendEvent(list->viewport(), &help);
    EXPECT_EQ(help.isAccepted(), line == wide);  // a line that fits has no tooltip
    EXPECT_TRUE(line != wide || QToolTip::text() == wide);
    EXPECT_EQ(list->horizontalScrollBar()->isVisible(), list->RowCount() > 1);
  }
  QScrollBar* across = list->horizontalScrollBar();
  EXPECT_EQ(across->maximum() + list->viewport()->width(),
            list->fontMetrics().horizontalAdvance(wide) + 4);
  EXPECT_EQ(list->size(), size);
  const QImage start = list->viewport()->grab().toImage();
  across->setValue(across->maximum());
  EXPECT_NE(list->viewport()->grab().toImage(), start);  // painted scrolled
}

TEST_F(LogViewTest, AMillionLinesAreReadInPlace) {
  view.ShowCentred();
  for (int i = 0; i < 1'000'000; ++i) form.List1.AddItem("linea");
  Log("la ultima");
  QCoreApplication::processEvents();
  EXPECT_EQ(list->RowCount(), 1'000'001);
  EXPECT_EQ(list->SelectedRow(), 1'000'000);
  EXPECT_TRUE(InSight(1'000'000));
  EXPECT_EQ(list->verticalScrollBar()->value(), list->verticalScrollBar()->maximum());
  EXPECT_EQ(list->RowText(list->FirstVisibleRow()), QStringLiteral("linea"));
}

}  // namespace
}  // namespace pasotune::test
