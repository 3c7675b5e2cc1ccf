#include "view/qt/registro_view.hpp"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cmath>

namespace pasotune {

namespace {

constexpr int kMargin = 4;
// The activity log's own colours; errors and warnings stand out in bold.
const QColor kBack(64, 64, 64);
const QColor kPlain(0, 255, 0);
const QColor kError(255, 128, 128);
const QColor kWarning(255, 215, 0);

QString Q(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

RegistroPane::RegistroPane(Registro& model, QWidget* parent)
    : QAbstractScrollArea(parent), model_(model) {
  setObjectName(QStringLiteral("RegistroLineas"));
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setAutoFillBackground(true);
  QPalette palette = viewport()->palette();
  palette.setColor(QPalette::Base, kBack);
  palette.setColor(QPalette::Window, kBack);
  viewport()->setPalette(palette);
  viewport()->setBackgroundRole(QPalette::Base);
  // A move the view does not make itself is the user's: at the bottom the
  // view follows new lines again, anywhere else it stays.
  connect(verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
    if (!scrolling_) follow_ = value >= verticalScrollBar()->maximum();
    viewport()->update();
  });
}

void RegistroPane::Lay(QTextLayout& layout, std::size_t row) const {
  QFont face = font();
  face.setBold(MarkOf(model_.Text(row)) != LineMark::kNone);
  layout.setFont(face);
  layout.setText(Q(model_.Text(row)));
  QTextOption option(Qt::AlignLeft);
  // Paths have no blanks: they break anywhere rather than run off.
  option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
  layout.setTextOption(option);
  const qreal width = std::max(1, viewport()->width() - 2 * kMargin);
  // The rest of a wrapped line is indented, so it never reads as a line of
  // its own.
  const qreal indent = std::min(width / 2, 2.0 * fontMetrics().horizontalAdvance(QLatin1Char(' ')));
  qreal height = 0;
  layout.beginLayout();
  for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
    const qreal x = line.lineNumber() == 0 ? 0 : indent;
    line.setLineWidth(width - x);
    line.setPosition(QPointF(x, height));
    height += line.height();
  }
  layout.endLayout();
}

int RegistroPane::HeightOf(std::size_t row) const {
  QTextLayout layout;
  Lay(layout, row);
  return std::max(fontMetrics().height(),
                  static_cast<int>(std::ceil(layout.boundingRect().height())));
}

std::size_t RegistroPane::MaxTop() const {
  return BottomTop(model_.Rows(), viewport()->height(),
                   [this](std::size_t row) { return HeightOf(row); });
}

std::size_t RegistroPane::TopRow() const {
  return static_cast<std::size_t>(verticalScrollBar()->value());
}

std::size_t RegistroPane::TopLine() const {
  return model_.Rows() == 0 ? Registro::kNone : model_.LineOf(TopRow());
}

void RegistroPane::UpdateRange() {
  scrolling_ = true;
  QScrollBar* bar = verticalScrollBar();
  bar->setRange(0, static_cast<int>(std::min<std::size_t>(MaxTop(), INT_MAX)));
  bar->setPageStep(std::max(1, viewport()->height() / std::max(1, fontMetrics().height())));
  scrolling_ = false;
}

void RegistroPane::ScrollTo(std::size_t top) {
  scrolling_ = true;
  verticalScrollBar()->setValue(static_cast<int>(std::min<std::size_t>(top, INT_MAX)));
  scrolling_ = false;
  follow_ = verticalScrollBar()->value() >= verticalScrollBar()->maximum();
  viewport()->update();
}

void RegistroPane::CatchUp() {
  const bool follow = follow_;
  UpdateRange();
  if (follow) ScrollTo(static_cast<std::size_t>(verticalScrollBar()->maximum()));
  viewport()->update();
}

void RegistroPane::Refilter(std::size_t topLine) {
  const bool follow = follow_;
  UpdateRange();
  ScrollTo(follow || topLine == Registro::kNone ? static_cast<std::size_t>(INT_MAX)
                                                : model_.RowOf(topLine));
  if (!follow && model_.HasSelection()) Reveal(model_.CursorRow());
}

QRect RegistroPane::RowRect(std::size_t row) const {
  int y = 0;
  for (std::size_t r = TopRow(); r < model_.Rows() && y < viewport()->height(); ++r) {
    const int height = HeightOf(r);
    if (r == row) return {0, y, viewport()->width(), height};
    y += height;
  }
  return {};
}

std::size_t RegistroPane::RowAt(QPoint at) const {
  if (at.y() < 0) return Registro::kNone;
  int y = 0;
  for (std::size_t r = TopRow(); r < model_.Rows() && y <= at.y(); ++r) {
    y += HeightOf(r);
    if (at.y() < y) return r;
  }
  return Registro::kNone;
}

void RegistroPane::Reveal(std::size_t row) {
  if (row >= model_.Rows()) return;
  if (row < TopRow()) {
    ScrollTo(row);
    return;
  }
  // Lowest place that still shows the row whole at the bottom.
  const std::size_t top =
      BottomTop(row + 1, viewport()->height(), [this](std::size_t r) { return HeightOf(r); });
  if (top > TopRow()) ScrollTo(top);
}

void RegistroPane::SelectRow(std::size_t row, bool extend) {
  if (row >= model_.Rows()) return;
  model_.Select(row, extend);
  Reveal(row);
  viewport()->update();
}

void RegistroPane::paintEvent(QPaintEvent*) {
  QPainter painter(viewport());
  const int width = viewport()->width();
  int y = 0;
  for (std::size_t row = TopRow(); row < model_.Rows() && y < viewport()->height(); ++row) {
    QTextLayout layout;
    Lay(layout, row);
    const int height = std::max(fontMetrics().height(),
                                static_cast<int>(std::ceil(layout.boundingRect().height())));
    const bool chosen = model_.Selected(row);
    if (chosen) painter.fillRect(QRect(0, y, width, height), palette().brush(QPalette::Highlight));
    QColor colour = kPlain;
    switch (MarkOf(model_.Text(row))) {
      case LineMark::kError:
        colour = kError;
        break;
      case LineMark::kWarning:
        colour = kWarning;
        break;
      case LineMark::kNone:
        break;
    }
    painter.setPen(chosen ? palette().color(QPalette::HighlightedText) : colour);
    layout.draw(&painter, QPointF(kMargin, y));
    y += height;
  }
}

void RegistroPane::mousePressEvent(QMouseEvent* event) {
  const std::size_t row = RowAt(event->position().toPoint());
  if (row == Registro::kNone) return;
  // A right click on a line outside the selection selects that line, so
  // the menu's Copiar takes what the user points at.
  if (event->button() == Qt::RightButton && model_.Selected(row)) return;
  SelectRow(row,
            event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier) != 0);
}

void RegistroPane::mouseMoveEvent(QMouseEvent* event) {
  if ((event->buttons() & Qt::LeftButton) == 0 || model_.Rows() == 0) return;
  const int y = static_cast<int>(event->position().y());
  std::size_t row = RowAt(QPoint(0, std::clamp(y, 0, viewport()->height() - 1)));
  if (y < 0 && TopRow() > 0) {
    row = TopRow() - 1;
  } else if (row == Registro::kNone || y >= viewport()->height()) {
    const std::size_t below = row == Registro::kNone ? model_.Rows() - 1 : row + 1;
    row = std::min(below, model_.Rows() - 1);
  }
  SelectRow(row, true);
}

void RegistroPane::keyPressEvent(QKeyEvent* event) {
  if (event->matches(QKeySequence::Copy)) {
    if (copy) copy();
    return;
  }
  if (event->matches(QKeySequence::SelectAll)) {
    model_.SelectAll();
    viewport()->update();
    return;
  }
  const std::size_t rows = model_.Rows();
  if (rows == 0) return QAbstractScrollArea::keyPressEvent(event);
  const std::size_t cursor = model_.CursorRow();
  const std::size_t at = cursor == Registro::kNone ? TopRow() : cursor;
  const auto page = static_cast<std::size_t>(verticalScrollBar()->pageStep());
  std::size_t to = at;
  switch (event->key()) {
    case Qt::Key_Up:
      to = at > 0 && cursor != Registro::kNone ? at - 1 : at;
      break;
    case Qt::Key_Down:
      to = cursor != Registro::kNone ? std::min(rows - 1, at + 1) : at;
      break;
    case Qt::Key_PageUp:
      to = at > page ? at - page : 0;
      break;
    case Qt::Key_PageDown:
      to = std::min(rows - 1, at + page);
      break;
    case Qt::Key_Home:
      to = 0;
      break;
    case Qt::Key_End:
      to = rows - 1;
      break;
    default:
      return QAbstractScrollArea::keyPressEvent(event);
  }
  SelectRow(to, (event->modifiers() & Qt::ShiftModifier) != 0);
}

void RegistroPane::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  const bool follow = follow_;
  UpdateRange();
  if (follow) ScrollTo(static_cast<std::size_t>(INT_MAX));
}

QMenu* RegistroPane::ContextMenu() {
  auto* menu = new QMenu(this);
  menu->setAttribute(Qt::WA_DeleteOnClose);
  QAction* copyAction = menu->addAction(QStringLiteral("Copiar"));
  copyAction->setShortcut(QKeySequence::Copy);
  copyAction->setEnabled(model_.HasSelection());
  connect(copyAction, &QAction::triggered, this, [this] {
    if (copy) copy();
  });
  QAction* all = menu->addAction(QStringLiteral("Seleccionar todo"));
  all->setShortcut(QKeySequence::SelectAll);
  connect(all, &QAction::triggered, this, [this] {
    model_.SelectAll();
    viewport()->update();
  });
  menu->addSeparator();
  connect(menu->addAction(QStringLiteral("Guardar…")), &QAction::triggered, this, [this] {
    if (save) save();
  });
  return menu;
}

void RegistroPane::contextMenuEvent(QContextMenuEvent* event) {
  ContextMenu()->popup(event->globalPos());
}

RegistroView::RegistroView(ListBox& log, const QFont& font, QWidget* parent)
    : QWidget(parent, Qt::Window), model_(log) {
  setObjectName(QStringLiteral("Registro"));
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("Registro - Pasotune"));

  filter_ = new QCheckBox(QStringLiteral("Solo errores y avisos"), this);
  count_ = new QLabel(this);
  copy_ = new QPushButton(QStringLiteral("Copiar"), this);
  auto* save = new QPushButton(QStringLiteral("Guardar…"), this);
  pane_ = new RegistroPane(model_, this);
  pane_->setFont(font);
  pane_->copy = [this] { Copy(); };
  pane_->save = [this] { Save(); };

  auto* bar = new QHBoxLayout;
  bar->addWidget(filter_);
  bar->addStretch();
  bar->addWidget(count_);
  bar->addWidget(copy_);
  bar->addWidget(save);
  auto* column = new QVBoxLayout(this);
  column->addLayout(bar);
  column->addWidget(pane_, 1);

  connect(filter_, &QCheckBox::toggled, this, [this](bool on) { SetOnlyMarked(on); });
  connect(copy_, &QPushButton::clicked, this, [this] { Copy(); });
  connect(save, &QPushButton::clicked, this, [this] { Save(); });
  setTabOrder(pane_, filter_);

  const QFontMetrics metrics(font);
  resize(metrics.horizontalAdvance(QLatin1Char('M')) * 100, metrics.height() * 28);
  pane_->CatchUp();
  ShowCount();
  pane_->setFocus();
}

void RegistroView::CatchUp() {
  if (model_.CatchUp()) pane_->CatchUp();
  ShowCount();
}

void RegistroView::SetOnlyMarked(bool only) {
  if (filter_->isChecked() != only) filter_->setChecked(only);  // comes back here
  if (model_.OnlyMarked() == only) return;
  const std::size_t top = pane_->TopLine();
  model_.SetOnlyMarked(only);
  pane_->Refilter(top);
  ShowCount();
}

void RegistroView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

void RegistroView::ShowCount() {
  const QString lines = QString::number(model_.Lines());
  count_->setText(model_.OnlyMarked()
                      ? QStringLiteral("%1 de %2 líneas").arg(model_.Rows()).arg(lines)
                      : QStringLiteral("%1 líneas").arg(lines));
}

void RegistroView::Copy() {
  if (!model_.HasSelection()) return;
  QGuiApplication::clipboard()->setText(Q(model_.SelectedText("\n")));
}

QString RegistroView::SaveTo(const QString& path) const {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly)) return file.errorString();
  const std::string text = model_.ShownText("\n");
  if (file.write(text.data(), static_cast<qint64>(text.size())) !=
          static_cast<qint64>(text.size()) ||
      !file.commit()) {
    return file.errorString();
  }
  return {};
}

void RegistroView::Save() {
  const QString suggested = QDir::home().filePath(
      QStringLiteral("registro-pasotune-%1.txt")
          .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd-HHmm"))));
  const QString path =
      QFileDialog::getSaveFileName(this, QStringLiteral("Guardar el registro"), suggested,
                                   QStringLiteral("Texto (*.txt);;Todos los archivos (*)"));
  if (path.isEmpty()) return;
  const QString failure = SaveTo(path);
  if (failure.isEmpty()) return;
  QMessageBox::warning(this, windowTitle(),
                       QStringLiteral("No se pudo guardar el registro en %1: %2. Pruebe con "
                                      "otra carpeta o con otro nombre.")
                           .arg(QDir::toNativeSeparators(path), failure));
}

}  // namespace pasotune
