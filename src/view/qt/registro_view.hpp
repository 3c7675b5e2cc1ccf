// The "Registro" window: every line of the session whole and wrapped, errors
// and warnings marked, a filter to show only them, lines to select, copy and
// save. Only the lines in sight are laid out and painted, so a log of a
// million lines scrolls and grows as fast as a short one.
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <QWidget>
#include <cstddef>
#include <functional>

#include "form/registro.hpp"

class QCheckBox;
class QLabel;
class QMenu;
class QPushButton;
class QTextLayout;

namespace pasotune {

class RegistroPane : public QAbstractScrollArea {
 public:
  RegistroPane(Registro& model, QWidget* parent);

  // New lines: the view follows the newest one while it is at the bottom,
  // and otherwise stays where it is.
  void CatchUp();
  // Another filter: the view keeps the line it showed at the top, or the
  // bottom while following.
  void Refilter(std::size_t topLine);

  std::size_t TopRow() const;
  // The log line at the top, or Registro::kNone.
  std::size_t TopLine() const;
  bool Following() const { return follow_; }
  // The row at a point of the viewport, or Registro::kNone.
  std::size_t RowAt(QPoint at) const;
  QRect RowRect(std::size_t row) const;
  QMenu* ContextMenu();

  std::function<void()> copy;
  std::function<void()> save;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void Lay(QTextLayout& layout, std::size_t row) const;
  int HeightOf(std::size_t row) const;
  std::size_t MaxTop() const;
  void UpdateRange();
  void ScrollTo(std::size_t top);
  void Reveal(std::size_t row);
  void SelectRow(std::size_t row, bool extend);

  Registro& model_;
  bool follow_ = true;
  bool scrolling_ = false;
};

class RegistroView : public QWidget {
 public:
  RegistroView(ListBox& log, const QFont& font, QWidget* parent);

  void CatchUp();
  void SetOnlyMarked(bool only);
  // The selected lines to the clipboard.
  void Copy();
  // Asks where, then writes the lines shown as UTF-8 text.
  void Save();
  // The lines shown into a file; the reason in Spanish when it failed.
  QString SaveTo(const QString& path) const;

  RegistroPane* Pane() const { return pane_; }
  const Registro& Model() const { return model_; }

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ShowCount();

  Registro model_;
  RegistroPane* pane_;
  QCheckBox* filter_;
  QLabel* count_;
  QPushButton* copy_;
};

}  // namespace pasotune
