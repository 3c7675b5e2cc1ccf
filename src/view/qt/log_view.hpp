// The activity log on screen. It paints only the rows in sight, straight
// from the model's ListBox, so a log of a million lines costs no more to
// show or to extend than a log of ten. A line wider than the log scrolls
// sideways and shows whole as the row's tooltip. While the user has
// scrolled away from the newest line, or reads a tooltip, new lines leave
// the view where it is.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <functional>

#include "form/controls.hpp"

class QMenu;

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
  // The row at a point of the viewport, or -1.
  int RowAt(QPoint at) const;
  // Whether new lines scroll the view to the newest one.
  bool Following() const { return follow_; }
  // The context menu for a row: "Copiar" copies that row whole.
  QMenu* ContextMenu(int row);

  // Double-click, Enter or the menu asks for the whole log.
  std::function<void()> openLog;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
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
  void ScrollTo(int value);
  bool TipShown() const;

  ListBox& list_;
  int rows_ = 0;
  long selected_ = -1;
  int widest_ = 0;
  int widestRow_ = -1;
  bool follow_ = true;
  bool scrolling_ = false;  // the view moves itself, not the user
  bool tipShown_ = false;
};

}  // namespace pasotune
