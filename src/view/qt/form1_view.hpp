// The one window: real widgets built from the Form1 model and kept in step
// with it. Model changes reach the widgets through the controls' observers;
// user actions reach the model as its events. Nothing else happens here.
#pragma once

#include <QFont>
#include <QSize>
#include <QString>
#include <QWidget>

#include "form/form1.hpp"

class QAbstractButton;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QToolButton;

namespace pasotune {

class LogView;

class Form1View : public QWidget {
  Q_OBJECT

 public:
  explicit Form1View(Form1& form, QWidget* parent = nullptr);
  ~Form1View() override;
  Form1View(const Form1View&) = delete;
  Form1View& operator=(const Form1View&) = delete;

  // Shows the window with its outer frame centred on the screen.
  void ShowCentred();

  // "Consolas" where installed, otherwise the system's monospace family.
  static QString MonospaceFamily();
  static QFont MonospaceFont(double points, bool bold);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;

 private:
  int X(int twips) const;
  int Y(int twips) const;
  void Place(QWidget* widget, int left, int top, int width, int height) const;
  void Lay(QWidget* widget, const char* name, double points, bool bold, int left, int top,
           int width, int height) const;
  QLabel* ValueLabel(QWidget* parent, const char* name, QColor text, Qt::Alignment align,
                     double points, bool bold);
  void Bind(Button& model, QAbstractButton* button);
  void Bind(DropDown& model, QComboBox* box);
  void Bind(Label& model, QLabel* label);
  void ShowPicture();
  void ShowLamp();
  void ShowSelectionSoon();
  void ApplySize();

  Form1& form_;
  LogView* list1_ = nullptr;
  QToolButton* command1_ = nullptr;
  QFrame* shape1_ = nullptr;
  QLineEdit* txtDDE_ = nullptr;
  QSize margins_;  // frame margins the client size was last derived from
  bool selectionPending_ = false;
};

}  // namespace pasotune
