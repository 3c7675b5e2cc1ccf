// The activity log as Qt sees it: rows read straight from the model's
// ListBox, so a long log is held once.
#pragma once

#include <QAbstractListModel>

#include "app/controls.hpp"

namespace pasotune {

class LogModel : public QAbstractListModel {
  Q_OBJECT

 public:
  explicit LogModel(const ListBox& list, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;

  // Announces the lines added to the list since the last call.
  void CatchUp();

 private:
  const ListBox& list_;
  int rows_ = 0;  // rows announced to the views so far
};

}  // namespace pasotune
