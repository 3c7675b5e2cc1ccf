#include "view/qt/qt_message_box.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTranslator>

namespace pasotune::test {
namespace {

struct BoxCase {
  MsgButtons buttons;
  MsgIcon icon;
  QMessageBox::StandardButton press;
  QMessageBox::Icon shownIcon;
  QMessageBox::StandardButtons shownButtons;
  MsgResult result;
};

struct Seen {
  QString text, title;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QStringList captions;  // in the order Yes, No, OK
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  bool modal = false;
};

// A system in another language: Qt's own button texts come out German.
struct German : QTranslator {
  QString translate(const char* context, const char* source, const char*, int) const override {
    return QLatin1String(context) == QLatin1String("QPlatformTheme")
               ? QStringLiteral("Deutsch %1").arg(QLatin1String(source))
               : QString();
  }
  bool isEmpty() const override { return false; }
};

struct SystemInGerman {
  German german;
  SystemInGerman() { QCoreApplication::installTranslator(&german); }
  ~SystemInGerman() { QCoreApplication::removeTranslator(&german); }
  SystemInGerman(const SystemInGerman&) = delete;
  SystemInGerman& operator=(const SystemInGerman&) = delete;
};

QStringList Captions(QMessageBox* box) {
  QStringList captions;
  for (const auto which : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Ok}) {
    if (QAbstractButton* button = box->button(which)) captions << button->text();
  }
  return captions;
}

TEST(QtMessageBoxShow, TextTitleButtonsIconAndTheAnswer) {
  SystemInGerman system;
  for (const BoxCase& c : {
           BoxCase{MsgButtons::kYesNo, MsgIcon::kQuestion, QMessageBox::Yes, QMessageBox::Question,
                   QMessageBox::Yes | QMessageBox::No, MsgResult::kYes},
           BoxCase{MsgButtons::kYesNo, MsgIcon::kQuestion, QMessageBox::No, QMessageBox::Question,
                   QMessageBox::Yes | QMessageBox::No, MsgResult::kNo},
           BoxCase{MsgButtons::kOk, MsgIcon::kNone, QMessageBox::Ok, QMessageBox::NoIcon,
                   QMessageBox::Ok, MsgResult::kOk},
           BoxCase{MsgButtons::kOk, MsgIcon::kExclamation, QMessageBox::Ok, QMessageBox::Warning,
                   QMessageBox::Ok, MsgResult::kOk},
       }) {
    Seen seen;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      ASSERT_NE(box, nullptr);
      seen = {box->text(),   box->windowTitle(),
              box->icon(),   box->standardButtons(),
              Captions(box), box->standardButton(box->defaultButton()),
              box->isModal()};
      box->button(c.press)->click();
    });
    QtMessageBox messages;
    const MsgResult result = messages.Show("Sale de Pasotune? <b>", "Pasotune", c.buttons, c.icon);
    EXPECT_EQ(result, c.result);
    EXPECT_EQ(seen.text, QStringLiteral("Sale de Pasotune? <b>"));
    EXPECT_EQ(seen.title, QStringLiteral("Pasotune"));
    EXPECT_EQ(seen.icon, c.shownIcon);
    EXPECT_EQ(seen.buttons, c.shownButtons);
    const QStringList spanish = c.buttons == MsgButtons::kYesNo
                                    ? QStringList{QStringLiteral("&Sí"), QStringLiteral("&No")}
                                    : QStringList{QStringLiteral("Aceptar")};
    EXPECT_EQ(seen.captions, spanish);
    EXPECT_EQ(seen.defaultButton,
              c.buttons == MsgButtons::kYesNo ? QMessageBox::Yes : QMessageBox::Ok);
    EXPECT_TRUE(seen.modal);
  }
}

struct KeyCase {
  MsgButtons buttons;
  Qt::Key key;
  MsgResult result;
};

TEST(QtMessageBoxShow, EnterTakesTheDefaultButtonAndEscapeAnswersNo) {
  SystemInGerman system;
  for (const KeyCase& c : {KeyCase{MsgButtons::kYesNo, Qt::Key_Return, MsgResult::kYes},
                           KeyCase{MsgButtons::kYesNo, Qt::Key_Enter, MsgResult::kYes},
                           KeyCase{MsgButtons::kYesNo, Qt::Key_Escape, MsgResult::kNo},
                           KeyCase{MsgButtons::kOk, Qt::Key_Return, MsgResult::kOk},
                           KeyCase{MsgButtons::kOk, Qt::Key_Escape, MsgResult::kOk}}) {
    bool pressed = false;
    QTimer::singleShot(0, [&] {
      QWidget* box = QApplication::activeModalWidget();
      ASSERT_NE(box, nullptr);
      QKeyEvent key(QEvent::KeyPress, c.key, Qt::NoModifier);
      QApplication::sendEvent(box, &key);
      pressed = true;
    });
    QtMessageBox messages;
    EXPECT_EQ(messages.Show("Sale de Pasotune?", "Pasotune", c.buttons, MsgIcon::kQuestion),
              c.result)
        << c.key;
    EXPECT_TRUE(pressed);
  }
}

TEST(QtMessageBoxShow, ClosingAYesNoBoxAnswersNo) {
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  QtMessageBox messages;
  EXPECT_EQ(messages.Show("?", "Pasotune", MsgButtons::kYesNo, MsgIcon::kQuestion), MsgResult::kNo);
}

}  // namespace
}  // namespace pasotune::test
