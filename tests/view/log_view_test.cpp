#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QListView>
#include <QScrollBar>
#include <string>

#include "app/form1.hpp"
#include "app/qt/form1_view.hpp"
#include "app/qt/log_model.hpp"

namespace pasotune::test {
namespace {

struct LogView : ::testing::Test {
  Form1 form;
  Form1View view{form};
  QListView* list = view.findChild<QListView*>(QStringLiteral("List1"));
  QAbstractItemModel* rows = list->model();

  // What the core's logging does: a new last line, then select it.
  void Log(const std::string& line) {
    form.List1.AddItem(line);
    form.List1.SetListIndex(static_cast<long>(form.List1.ListCount()) - 1);
  }
};

TEST_F(LogView, ShowsTheModelsLinesAndSelectsTheChosenOne) {
  view.ShowCentred();
  for (int i = 0; i < 200; ++i) Log("SET FREQ SUB 145.9" + std::to_string(i) + " ñ");
  // The list catches up once per turn of the event loop, not once per line.
  EXPECT_EQ(rows->rowCount(), 0);
  QCoreApplication::processEvents();
  EXPECT_EQ(rows->rowCount(), 200);
  EXPECT_EQ(rows->index(0, 0).data().toString(), QStringLiteral("SET FREQ SUB 145.90 ñ"));
  EXPECT_EQ(rows->index(199, 0).data().toString(), QStringLiteral("SET FREQ SUB 145.9199 ñ"));

  const QModelIndexList selected = list->selectionModel()->selectedRows();
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected.front().row(), 199);
  // Scrolled so the selected line shows.
  EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(selected.front())));

  form.List1.SetListIndex(3);
  QCoreApplication::processEvents();
  EXPECT_EQ(list->selectionModel()->selectedRows().front().row(), 3);
  EXPECT_TRUE(list->viewport()->rect().contains(list->visualRect(rows->index(3, 0))));
  form.List1.SetListIndex(-1);
  QCoreApplication::processEvents();
  EXPECT_TRUE(list->selectionModel()->selectedRows().isEmpty());
}

TEST_F(LogView, TheUsersChoiceOfLineReachesTheModel) {
  for (const char* line : {"uno", "dos", "tres"}) Log(line);
  QCoreApplication::processEvents();
  list->setCurrentIndex(rows->index(1, 0));
  EXPECT_EQ(form.List1.ListIndex(), 1);
}

TEST(LogModelRows, AnnouncesEachNewRowOnceAndReadsTheListInPlace) {
  ListBox log;
  log.AddItem("before");
  LogModel model(log);
  int announced = 0;
  QObject::connect(&model, &QAbstractItemModel::rowsAboutToBeInserted,
                   [&](const QModelIndex&, int first, int last) {
                     // Views must not yet count the new rows.
                     EXPECT_EQ(model.rowCount(), first);
                     announced += last - first + 1;
                   });
  EXPECT_EQ(model.rowCount(), 1);
  log.AddItem("a");
  log.AddItem("b");
  model.CatchUp();
  model.CatchUp();
  EXPECT_EQ(announced, 2);
  EXPECT_EQ(model.rowCount(), 3);
  EXPECT_EQ(model.index(2, 0).data().toString(), QStringLiteral("b"));
  EXPECT_FALSE(model.index(2, 0).data(Qt::EditRole).isValid());
  EXPECT_EQ(model.rowCount(model.index(0, 0)), 0);  // a flat list
}

}  // namespace
}  // namespace pasotune::test
