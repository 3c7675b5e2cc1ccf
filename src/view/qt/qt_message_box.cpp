#include "view/qt/qt_message_box.hpp"

#include <QAbstractButton>
#include <QMessageBox>
#include <QPushButton>
#include <QString>

namespace pasotune {

namespace {

QMessageBox::Icon ToQt(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::kQuestion:
      return QMessageBox::Question;
    case MsgIcon::kExclamation:
      return QMessageBox::Warning;
    case MsgIcon::kNone:
      break;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

MsgResult QtMessageBox::Show(const std::string& text, const std::string& title, MsgButtons buttons,
                             MsgIcon icon) {
  const bool yesNo = buttons == MsgButtons::kYesNo;
  QMessageBox box(ToQt(icon), QString::fromStdString(title), QString::fromStdString(text),
                  yesNo ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, parent_.data());
  box.setTextFormat(Qt::PlainText);
  // The program speaks Spanish whatever the system's language.
  if (yesNo) {
    box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sí"));
    box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
  } else {
    box.button(QMessageBox::Ok)->setText(QStringLiteral("Aceptar"));
  }
  box.setDefaultButton(yesNo ? QMessageBox::Yes : QMessageBox::Ok);
  box.setEscapeButton(yesNo ? QMessageBox::No : QMessageBox::Ok);
  box.setWindowModality(Qt::ApplicationModal);
  const int answer = box.exec();
  if (!yesNo) return MsgResult::kOk;
  // Closing the box any other way counts as No.
  return answer == QMessageBox::Yes ? MsgResult::kYes : MsgResult::kNo;
}

}  // namespace pasotune
