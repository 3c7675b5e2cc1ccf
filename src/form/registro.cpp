#include "form/registro.hpp"

#include <algorithm>

namespace pasotune {

LineMark MarkOf(std::string_view line) {
  if (line.find("ERROR") != std::string_view::npos || line.starts_with("Error: ") ||
      line == "No fue posible conectar con Velkor.") {
    return LineMark::kError;
  }
  if (line.find("NOT DONE") != std::string_view::npos) return LineMark::kWarning;
  return LineMark::kNone;
}

Registro::Registro(const ListBox& log) : log_(log) {
  CatchUp();
}

bool Registro::CatchUp() {
  // Line numbers are kept in 32 bits, as the log's own index is.
  const std::size_t count = std::min<std::size_t>(log_.ListCount(), UINT32_MAX);
  const std::size_t rows = Rows();
  for (std::size_t line = seen_; line < count; ++line) {
    if (MarkOf(log_.Item(line)) != LineMark::kNone) {
      marked_.push_back(static_cast<std::uint32_t>(line));
    }
  }
  seen_ = std::max(seen_, count);
  return Rows() > rows;
}

std::size_t Registro::RowOf(std::size_t line) const {
  if (!onlyMarked_) return std::min(line, seen_);
  return static_cast<std::size_t>(std::lower_bound(marked_.begin(), marked_.end(), line) -
                                  marked_.begin());
}

void Registro::Select(std::size_t row, bool extend) {
  if (row >= Rows()) return;
  cursor_ = LineOf(row);
  if (!extend || anchor_ == kNone) anchor_ = cursor_;
}

void Registro::SelectAll() {
  if (Rows() == 0) return;
  anchor_ = LineOf(0);
  cursor_ = LineOf(Rows() - 1);
}

bool Registro::Selected(std::size_t row) const {
  if (cursor_ == kNone || row >= Rows()) return false;
  const std::size_t line = LineOf(row);
  return line >= std::min(anchor_, cursor_) && line <= std::max(anchor_, cursor_);
}

std::size_t Registro::CursorRow() const {
  if (cursor_ == kNone) return kNone;
  const std::size_t row = RowOf(cursor_);
  // The cursor's own line may be filtered out: the nearest row shown.
  if (row >= Rows()) return Rows() == 0 ? kNone : Rows() - 1;
  return row;
}

std::string Registro::Join(std::size_t fromLine, std::size_t toLine, std::string_view eol) const {
  std::string out;
  const std::size_t first = RowOf(fromLine);
  for (std::size_t row = first; row < Rows() && LineOf(row) <= toLine; ++row) {
    if (row != first) out.append(eol);
    out.append(Text(row));
  }
  return out;
}

std::string Registro::SelectedText(std::string_view eol) const {
  if (cursor_ == kNone) return {};
  return Join(std::min(anchor_, cursor_), std::max(anchor_, cursor_), eol);
}

std::string Registro::ShownText(std::string_view eol) const {
  if (Rows() == 0) return {};
  return Join(0, LineOf(Rows() - 1), eol).append(eol);
}

}  // namespace pasotune
