#include "app/qt/log_model.hpp"

#include <algorithm>
#include <climits>

namespace pasotune {

LogModel::LogModel(const ListBox& list, QObject* parent) : QAbstractListModel(parent), list_(list) {
  rows_ = static_cast<int>(std::min<std::size_t>(list_.ListCount(), INT_MAX));
}

int LogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

QVariant LogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rows_) return {};
  const std::string_view line = list_.Item(static_cast<std::size_t>(index.row()));
  return QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
}

void LogModel::CatchUp() {
  // Views expect to hear of new rows before they count them, so the count
  // they see moves only here.
  const int count = static_cast<int>(std::min<std::size_t>(list_.ListCount(), INT_MAX));
  if (count <= rows_) return;
  beginInsertRows({}, rows_, count - 1);
  rows_ = count;
  endInsertRows();
}

}  // namespace pasotune
