// The one window: real widgets built from the Form1 model and kept in step
// with it. Model changes reach the widgets through the controls' observers;
// user actions reach the model as its events. Nothing else happens here.
#pragma once

#include <QFont>
#include <QPointer>
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
class RegistroView;

class Form1View : public QWidget {
  Q_OBJECT

 public:
  // family: the monospace family the window is drawn in; empty takes
  // MonospaceFamily().
  explicit Form1View(Form1& form, QWidget* parent = nullptr, const QString& family = {});
  ~Form1View() override;
  Form1View(const Form1View&) = delete;
  Form1View& operator=(const Form1View&) = delete;

  // Shows the window with its outer frame centred on the screen.
  void ShowCentred();

  // A close request from outside the window (a signal, the session's end),
  // the same as the close box's. True when the window closed.
  bool RequestClose();

  // Opens the "Registro" window with the whole log, or brings the open one
  // to the front.
  void OpenRegistro();
  RegistroView* Registro() const;

  // Consolas where installed, then Inconsolata, the face closest to it,
  // then the system's fixed font.
  static QString MonospaceFamily();
  // The family at the size; a face wider than Consolas is narrowed to its
  // advance, so every caption keeps the room the layout gives it.
  static QFont MonospaceFont(const QString& family, double points, bool bold);

 protected:
  void closeEvent(QCloseEvent* event) override;
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

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
  QString family_;
  LogView* list1_ = nullptr;
  QPointer<RegistroView> registro_;
  QToolButton* command1_ = nullptr;
  QFrame* shape1_ = nullptr;
  QLineEdit* txtDDE_ = nullptr;
  QSize margins_;  // frame margins the client size was last derived from
  bool selectionPending_ = false;
  bool closing_ = false;  // the model is handling a close request
};

}  // namespace pasotune
