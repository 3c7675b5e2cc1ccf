#include "view/qt/qt_message_box.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

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
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  bool modal = false;
};

TEST(QtMessageBoxShow, TextTitleButtonsIconAndTheAnswer) {
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
      seen = {box->text(),
              box->windowTitle(),
              box->icon(),
              box->standardButtons(),
              box->standardButton(box->defaultButton()),
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
    EXPECT_EQ(seen.defaultButton,
              c.buttons == MsgButtons::kYesNo ? QMessageBox::Yes : QMessageBox::Ok);
    EXPECT_TRUE(seen.modal);
  }
}

TEST(QtMessageBoxShow, ClosingAYesNoBoxAnswersNo) {
  QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
  QtMessageBox messages;
  EXPECT_EQ(messages.Show("?", "Pasotune", MsgButtons::kYesNo, MsgIcon::kQuestion), MsgResult::kNo);
}

}  // namespace
}  // namespace pasotune::test
