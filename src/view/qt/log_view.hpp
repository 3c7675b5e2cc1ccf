// The activity log on screen. It paints only the rows in sight, straight
// from the model's ListBox, so a log of a million lines costs no more to
// show or to extend than a log of ten. A line wider than the log scrolls
// sideways and shows whole as the row's tooltip.
#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include "form/controls.hpp"

namespace pasotune {

class LogView : public QAbstractScrollArea {
 public:
  explicit LogView(ListBox& list, QWidget* parent = nullptr);

  // Takes the lines added and the selection from the model, and scrolls the
  // selected line into sight.
  void CatchUp();

  int RowCount() const { return rows_; }
  long SelectedRow() const { return selected_; }
  QString RowText(int row) const;
  int FirstVisibleRow() const;
  int VisibleRows() const;
  // Where a row is painted, in the viewport's coordinates.
  QRect RowRect(int row) const;
  // The whole line when it is wider than the log, else nothing.
  QString RowToolTip(int row) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool viewportEvent(QEvent* event) override;

 private:
  int RowHeight() const;
  int RowWidth(int row) const;
  void Measure(int from, int to);
  void UpdateScrollRange();
  void Choose(long row);

  ListBox& list_;
  int rows_ = 0;
  long selected_ = -1;
  int widest_ = 0;
  int widestRow_ = -1;
};

}  // namespace pasotune
