// The MessageBox port over QMessageBox.
#pragma once

#include <QPointer>
#include <QWidget>

#include "platform/ports.hpp"

namespace pasotune {

class QtMessageBox : public MessageBox {
 public:
  explicit QtMessageBox(QWidget* parent = nullptr) : parent_(parent) {}
  // The window the boxes are centred on; may be set once it exists.
  void SetParent(QWidget* parent) { parent_ = parent; }
  MsgResult Show(const std::string& text, const std::string& title, MsgButtons buttons,
                 MsgIcon icon) override;

 private:
  QPointer<QWidget> parent_;
};

}  // namespace pasotune
