// What the "Registro" window shows of the activity log: every line or only
// the errors and warnings, and the lines the user has selected. It reads the
// log in place; only the numbers of the marked lines are kept, so a log of a
// million lines costs one pass when the window opens and nothing per line
// after that beyond the new ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "form/controls.hpp"

namespace pasotune {

enum class LineMark { kNone, kWarning, kError };

// An engine reply holding "ERROR" and the program's own "Error: " lines are
// errors; "NOT DONE" lines are warnings.
LineMark MarkOf(std::string_view line);

class Registro {
 public:
  static constexpr std::size_t kNone = SIZE_MAX;

  explicit Registro(const ListBox& log);

  // Takes in the lines logged since the last call; true when rows were added.
  bool CatchUp();

  bool OnlyMarked() const { return onlyMarked_; }
  void SetOnlyMarked(bool only) { onlyMarked_ = only; }

  // Every line of the log taken in so far.
  std::size_t Lines() const { return seen_; }
  // Rows are the lines shown, in log order.
  std::size_t Rows() const { return onlyMarked_ ? marked_.size() : seen_; }
  std::size_t LineOf(std::size_t row) const { return onlyMarked_ ? marked_[row] : row; }
  std::string_view Text(std::size_t row) const { return log_.Item(LineOf(row)); }
  // The first row showing this line or a later one; Rows() when none does.
  std::size_t RowOf(std::size_t line) const;

  // A selection is one run of lines, from the anchor to the cursor. It is
  // held as log lines, so it stays where it was when the filter changes.
  // extend keeps the anchor, as Shift does.
  void Select(std::size_t row, bool extend);
  void SelectAll();
  void ClearSelection() { anchor_ = cursor_ = kNone; }
  bool HasSelection() const { return cursor_ != kNone; }
  bool Selected(std::size_t row) const;
  // The cursor's row, or kNone.
  std::size_t CursorRow() const;

  // The rows selected, eol between them, for the clipboard.
  std::string SelectedText(std::string_view eol) const;
  // Every row shown, each ended by eol, for a file.
  std::string ShownText(std::string_view eol) const;

 private:
  std::string Join(std::size_t fromLine, std::size_t toLine, std::string_view eol) const;

  const ListBox& log_;
  std::size_t seen_ = 0;
  std::vector<std::uint32_t> marked_;
  bool onlyMarked_ = false;
  std::size_t anchor_ = kNone, cursor_ = kNone;
};

// The first row to show so that the rows from there to the last fill a view
// of this height, given each row's height: the view's place at the bottom.
template <typename HeightOf>
std::size_t BottomTop(std::size_t rows, int viewHeight, HeightOf heightOf) {
  std::size_t top = rows;
  int used = 0;
  while (top > 0) {
    used += heightOf(top - 1);
    if (used > viewHeight && top < rows) break;
    --top;
  }
  return top;
}

}  // namespace pasotune
