#include "view/qt/log_view.hpp"

#include <QFontMetrics>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace pasotune {

LogView::LogView(ListBox& list, QWidget* parent) : QAbstractScrollArea(parent), list_(list) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  viewport()->setAutoFillBackground(true);
  viewport()->setBackgroundRole(QPalette::Base);
  CatchUp();
}

int LogView::RowHeight() const {
  return std::max(1, fontMetrics().height());
}

int LogView::VisibleRows() const {
  return std::max(1, viewport()->height() / RowHeight());
}

int LogView::FirstVisibleRow() const {
  return verticalScrollBar()->value();
}

QString LogView::RowText(int row) const {
  const std::string_view line = list_.Item(static_cast<std::size_t>(row));
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

QRect LogView::RowRect(int row) const {
  return {0, (row - FirstVisibleRow()) * RowHeight(), viewport()->width(), RowHeight()};
}

void LogView::UpdateScrollRange() {
  verticalScrollBar()->setPageStep(VisibleRows());
  verticalScrollBar()->setRange(0, std::max(0, rows_ - VisibleRows()));
}

void LogView::CatchUp() {
  rows_ = static_cast<int>(std::min<std::size_t>(list_.ListCount(), INT_MAX));
  const long index = list_.ListIndex();
  selected_ = index >= 0 && index < rows_ ? index : -1;
  UpdateScrollRange();
  if (selected_ >= 0) {
    const int row = static_cast<int>(selected_);
    QScrollBar* bar = verticalScrollBar();
    if (row < bar->value()) bar->setValue(row);
    if (row >= bar->value() + VisibleRows()) bar->setValue(row - VisibleRows() + 1);
  }
  viewport()->update();
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = RowHeight();
  const int first = FirstVisibleRow();
  const int last = std::min(rows_, first + viewport()->height() / height + 1);
  for (int row = first; row < last; ++row) {
    const QRect rect = RowRect(row);
    const bool chosen = row == selected_;
    if (chosen) painter.fillRect(rect, palette().brush(QPalette::Highlight));
    painter.setPen(palette().color(chosen ? QPalette::HighlightedText : QPalette::Text));
    painter.drawText(rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, RowText(row));
  }
}

void LogView::Choose(long row) {
  if (row < 0 || row >= rows_) return;
  list_.SetListIndex(row);  // the model tells us back through CatchUp
}

void LogView::mousePressEvent(QMouseEvent* event) {
  Choose(FirstVisibleRow() + static_cast<long>(event->position().y()) / RowHeight());
}

void LogView::keyPressEvent(QKeyEvent* event) {
  const long page = VisibleRows();
  const long current = list_.ListIndex();  // the model's, not what is painted yet
  switch (event->key()) {
    case Qt::Key_Up:
      Choose(std::max(0L, current - 1));
      break;
    case Qt::Key_Down:
      Choose(current + 1);
      break;
    case Qt::Key_PageUp:
      Choose(std::max(0L, current - page));
      break;
    case Qt::Key_PageDown:
      Choose(std::min<long>(rows_ - 1, current + page));
      break;
    case Qt::Key_Home:
      Choose(0);
      break;
    case Qt::Key_End:
      Choose(rows_ - 1);
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollRange();
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) UpdateScrollRange();
}

}  // namespace pasotune
