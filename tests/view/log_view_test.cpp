#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCoreApplication>
#include <QHelpEvent>
#include <QImage>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QToolTip>
#include <string>

#include "form/form1.hpp"
#include "view/qt/form1_view.hpp"
#include "view/qt/log_view.hpp"
#include "view/qt/registro_view.hpp"

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

TEST_F(LogViewTest, NewLinesLeaveTheViewWhereTheUserScrolledOrReadsATooltipAndFollowAtTheBottom) {
  view.ShowCentred();
  for (int i = 0; i < 50; ++i) Log("SET FREQ MAIN 432.15" + std::to_string(i));
  QCoreApplication::processEvents();
  QScrollBar* bar = list->verticalScrollBar();
  ASSERT_EQ(bar->value(), bar->maximum());
  bar->setValue(10);  // the user scrolls up
  Log("ERROR COM1: la radio no contesta");
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 10);
  EXPECT_EQ(list->SelectedRow(), 50);  // the newest is still the selected line
  EXPECT_FALSE(list->Following());
  bar->setValue(bar->maximum());  // and back to the bottom
  Log("SET FREQ SUB 145.9500");
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(InSight(51));

  // A tooltip being read holds the view too, until the mouse leaves.
  Log("NOT DONE " + std::string(200, 'x'));
  QCoreApplication::processEvents();
  QCoreApplication::processEvents();  // the bar across comes in a turn of its own
  const int top = bar->value();
  const QPoint at = list->RowRect(52).center();
  QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
  QCoreApplication::sendEvent(list->viewport(), &help);
  ASSERT_TRUE(QToolTip::isVisible());
  for (int i = 0; i < 3; ++i) Log("SET FREQ MAIN 432.1600");
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), top);
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(list->viewport(), &leave);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_TRUE(InSight(55));
}

TEST_F(LogViewTest, CopiarCopiesThePointedLineAndTheRegistroOpensOnce) {
  view.ShowCentred();
  for (const char* line : {"Conectando ...", "NOT DONE COM1 = /dev/ttyUSB0", "Desconectado"}) {
    Log(line);
  }
  QCoreApplication::processEvents();
  QMenu* menu = list->ContextMenu(1);
  Log("SET TONE 88.5");  // while the menu is open
  QCoreApplication::processEvents();
  menu->actions().at(0)->trigger();
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("NOT DONE COM1 = /dev/ttyUSB0"));
  delete menu;

  EXPECT_EQ(view.Registro(), nullptr);
  QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
  QCoreApplication::sendEvent(list, &enter);
  RegistroView* registro = view.Registro();
  ASSERT_NE(registro, nullptr);
  EXPECT_TRUE(registro->isVisible());
  list->ContextMenu(0)->actions().at(1)->trigger();
  EXPECT_EQ(view.Registro(), registro);
  EXPECT_EQ(view.findChildren<QWidget*>(QStringLiteral("Registro")).size(), 1);
}

TEST_F(LogViewTest, TheRegistroFiltersCopiesSavesAndFollowsOnlyFromTheBottom) {
  view.ShowCentred();
  for (int i = 0; i < 300; ++i) {
    Log(i % 100 == 7 ? "ERROR línea " + std::to_string(i) : "SET FREQ MAIN " + std::to_string(i));
  }
  QCoreApplication::processEvents();
  view.OpenRegistro();
  RegistroView* registro = view.Registro();
  RegistroPane* pane = registro->Pane();
  QScrollBar* bar = pane->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(registro->Model().Text(static_cast<std::size_t>(bar->maximum())).substr(0, 8),
            "SET FREQ");

  registro->findChild<QCheckBox*>()->click();
  EXPECT_EQ(registro->Model().Rows(), 3u);
  QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::NoModifier);
  QKeyEvent end(QEvent::KeyPress, Qt::Key_End, Qt::ShiftModifier);
  QCoreApplication::sendEvent(pane, &home);
  QCoreApplication::sendEvent(pane, &end);
  registro->Copy();
  EXPECT_EQ(QApplication::clipboard()->text(),
            QStringLiteral("ERROR línea 7\nERROR línea 107\nERROR línea 207"));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("registro.txt"));
  EXPECT_TRUE(registro->SaveTo(path).isEmpty());
  QFile saved(path);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  EXPECT_EQ(saved.readAll(), QByteArray("ERROR línea 7\nERROR línea 107\nERROR línea 207\n"));
  EXPECT_FALSE(registro->SaveTo(dir.filePath(QStringLiteral("no/hay/tal"))).isEmpty());

  registro->findChild<QCheckBox*>()->click();
  EXPECT_EQ(registro->Model().Rows(), 300u);
  bar->setValue(20);  // scrolled up: new lines leave the view be
  Log("Desconectado");
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), 20);
  EXPECT_EQ(registro->Model().Rows(), 301u);
  bar->setValue(bar->maximum());
  for (int i = 0; i < 1'000'000; ++i) form.List1.AddItem("SET FREQ MAIN 432.1500");
  Log("la ultima");
  QCoreApplication::processEvents();
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_EQ(pane->RowAt(pane->RowRect(1'000'301).center()), 1'000'301u);
}

}  // namespace
}  // namespace pasotune::test
