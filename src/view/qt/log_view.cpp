#include "view/qt/log_view.hpp"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QToolTip>
#include <algorithm>
#include <climits>
#include <string_view>
#include <utility>

namespace pasotune {

namespace {

// Room left and right of a row's text.
constexpr int kMargin = 2;

}  // namespace

LogView::LogView(ListBox& list, QWidget* parent) : QAbstractScrollArea(parent), list_(list) {
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  viewport()->setAutoFillBackground(true);
  viewport()->setBackgroundRole(QPalette::Base);
  // Any move the view does not make itself is the user's: at the bottom the
  // log follows new lines again, anywhere else it stays.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!scrolling_) follow_ = value >= verticalScrollBar()->maximum();
  });
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

int LogView::RowWidth(int row) const {
  return fontMetrics().horizontalAdvance(RowText(row)) + 2 * kMargin;
}

int LogView::RowAt(QPoint at) const {
  if (at.y() < 0) return -1;
  const int row = FirstVisibleRow() + at.y() / RowHeight();
  return row < rows_ ? row : -1;
}

QString LogView::RowToolTip(int row) const {
  if (row < 0 || row >= rows_ || RowWidth(row) <= viewport()->width()) return {};
  return RowText(row);
}

void LogView::Measure(int from, int to) {
  // A line of plain ASCII that would fit even if every character were the
  // font's widest is not measured: most of the log costs no text layout.
  int room = viewport()->width();
  if (!verticalScrollBar()->isVisible()) {
    room -= style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  }
  const int widestChar = std::max(1, fontMetrics().maxWidth());
  for (int row = from; row < to; ++row) {
    const std::string_view line = list_.Item(static_cast<std::size_t>(row));
    const auto fits = (std::max(widest_, room) - 2 * kMargin) / widestChar;
    if (std::cmp_less_equal(line.size(), fits) &&
        std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; })) {
      continue;
    }
    const int width = RowWidth(row);
    if (width > widest_) {
      widest_ = width;
      widestRow_ = row;
    }
  }
}

void LogView::UpdateScrollRange() {
  verticalScrollBar()->setPageStep(VisibleRows());
  verticalScrollBar()->setRange(0, std::max(0, rows_ - VisibleRows()));
  QScrollBar* across = horizontalScrollBar();
  across->setSingleStep(std::max(1, fontMetrics().averageCharWidth()));
  across->setPageStep(viewport()->width());
  across->setRange(0, std::max(0, widest_ - viewport()->width()));
}

void LogView::ScrollTo(int value) {
  scrolling_ = true;
  verticalScrollBar()->setValue(value);
  scrolling_ = false;
}

bool LogView::TipShown() const {
  return tipShown_ && QToolTip::isVisible();
}

void LogView::CatchUp() {
  const int before = rows_;
  rows_ = static_cast<int>(std::min<std::size_t>(list_.ListCount(), INT_MAX));
  // Only the lines added since the last catch-up are measured.
  Measure(before, rows_);
  const long index = list_.ListIndex();
  selected_ = index >= 0 && index < rows_ ? index : -1;
  scrolling_ = true;
  UpdateScrollRange();
  scrolling_ = false;
  QScrollBar* bar = verticalScrollBar();
  const bool grew = rows_ > before;
  // New lines move the view only while it follows them, and never from
  // under a tooltip being read; it catches up once the tooltip is gone.
  if (!grew || (follow_ && !TipShown())) {
    if (grew) ScrollTo(bar->maximum());
    if (selected_ >= 0) {
      const int row = static_cast<int>(selected_);
      if (row < bar->value()) ScrollTo(row);
      if (row >= bar->value() + VisibleRows()) ScrollTo(row - VisibleRows() + 1);
    }
    follow_ = bar->value() >= bar->maximum();
  }
  viewport()->update();
}

void LogView::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int height = RowHeight();
  const int first = FirstVisibleRow();
  const int last = std::min(rows_, first + viewport()->height() / height + 1);
  const int across = horizontalScrollBar()->value();
  for (int row = first; row < last; ++row) {
    const QRect rect = RowRect(row);
    const bool chosen = row == selected_;
    if (chosen) painter.fillRect(rect, palette().brush(QPalette::Highlight));
    painter.setPen(palette().color(chosen ? QPalette::HighlightedText : QPalette::Text));
    painter.drawText(rect.adjusted(kMargin - across, 0, 0, 0),
                     Qt::AlignLeft | Qt::AlignVCenter | Qt::TextDontClip, RowText(row));
  }
}

void LogView::Choose(long row) {
  if (row < 0 || row >= rows_) return;
  list_.SetListIndex(row);  // the model tells us back through CatchUp
}

void LogView::mousePressEvent(QMouseEvent* event) {
  Choose(FirstVisibleRow() + static_cast<long>(event->position().y()) / RowHeight());
}

void LogView::mouseDoubleClickEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint());
  if (row < 0) return;
  Choose(row);
  if (openLog) openLog();
}

QMenu* LogView::ContextMenu(int row) {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  // The row's text is taken now: a line logged while the menu is open
  // moves the selection, not what is copied.
  const QString text = row >= 0 && row < rows_ ? RowText(row) : QString();
  QAction* copy = menu->addAction(QStringLiteral("Copiar"));
  copy->setEnabled(row >= 0 && row < rows_);
  connect(copy, &QAction::triggered, this, [text] { QGuiApplication::clipboard()->setText(text); });
  QAction* open = menu->addAction(QStringLiteral("Ver registro completo"));
  connect(open, &QAction::triggered, this, [this] {
    if (openLog) openLog();
  });
  return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
  int row = static_cast<int>(selected_);
  if (event->reason() != QContextMenuEvent::Keyboard) {
    row = RowAt(event->pos());
    Choose(row);
  }
  ContextMenu(row)->popup(event->globalPos());
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
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (openLog) openLog();
      break;
    default:
      QAbstractScrollArea::keyPressEvent(event);
  }
}

void LogView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  scrolling_ = true;
  UpdateScrollRange();
  if (follow_) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
  scrolling_ = false;
}

void LogView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() != QEvent::FontChange) return;
  // The log's font is fixed-pitch, so the widest line stays the widest:
  // measuring it again spares a pass over the whole log.
  widest_ = widestRow_ >= 0 && widestRow_ < rows_ ? RowWidth(widestRow_) : 0;
  scrolling_ = true;
  UpdateScrollRange();
  scrolling_ = false;
}

bool LogView::viewportEvent(QEvent* event) {
  if (event->type() == QEvent::Leave && tipShown_) {
    // Lines held back for the tooltip are shown now.
    tipShown_ = false;
    if (follow_) ScrollTo(verticalScrollBar()->maximum());
  }
  if (event->type() != QEvent::ToolTip) return QAbstractScrollArea::viewportEvent(event);
  const auto* help = static_cast<QHelpEvent*>(event);
  const int row = FirstVisibleRow() + help->pos().y() / RowHeight();
  const QString tip = RowToolTip(row);
  tipShown_ = !tip.isEmpty();
  if (tip.isEmpty()) {
    QToolTip::hideText();
    event->ignore();
  } else {
    QToolTip::showText(help->globalPos(), tip, viewport(), RowRect(row));
  }
  return true;
}

}  // namespace pasotune
