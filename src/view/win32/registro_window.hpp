// The "Registro" window on Win32: every line of the session whole and
// wrapped, errors and warnings marked, a filter to show only them, lines to
// select, copy and save. Only the lines in sight are wrapped and painted, so
// a log of a million lines scrolls and grows as fast as a short one.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "form/registro.hpp"
#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

class RegistroWindow {
 public:
  // owner: the main window, which the Registro stays above. plain and bold:
  // the log's font and its bold face. Throws std::runtime_error when the
  // system gives no window.
  RegistroWindow(const ListBox& log, HWND owner, HFONT plain, HFONT bold, HICON bigIcon,
                 HICON smallIcon);
  ~RegistroWindow();
  RegistroWindow(const RegistroWindow&) = delete;
  RegistroWindow& operator=(const RegistroWindow&) = delete;

  // False once the user has closed it.
  bool Open() const { return hwnd_ != nullptr; }
  HWND Handle() const { return hwnd_; }
  HWND Lines() const { return pane_; }
  HWND Filter() const { return filter_; }
  // Shows it, or brings it to the front.
  void Show();
  // New lines: the view follows the newest while it is at the bottom, and
  // otherwise stays where it is.
  void CatchUp();
  void SetOnlyMarked(bool only);
  // The selected lines to the clipboard.
  void Copy();
  // The lines shown into a file as UTF-8 with a byte-order mark and CR LF;
  // empty when done, else the system's reason.
  std::wstring SaveTo(const std::wstring& path) const;

  const Registro& Model() const { return model_; }
  std::size_t TopRow() const { return top_; }
  std::size_t MaxTop() const { return maxTop_; }
  bool Following() const { return follow_; }
  // The user's scroll, as the scroll bar's arrows and thumb give it.
  void ScrollTo(std::size_t top);
  // Where a row is in the pane's client area; empty when out of sight.
  RECT RowRect(std::size_t row) const;

 private:
  using Pieces = std::vector<std::pair<std::size_t, std::size_t>>;

  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK PaneProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT HandlePane(UINT message, WPARAM wParam, LPARAM lParam);

  void Release();
  void Layout();
  void ShowCount();
  void Save();
  void ContextMenu(LPARAM screen);
  // The row's text cut into the pieces of the pane's lines.
  Pieces Wrap(const std::wstring& text, bool bold) const;
  int HeightOf(std::size_t row) const;
  int LineHeight() const;
  void UpdateRange();
  void Reveal(std::size_t row);
  void SelectRow(std::size_t row, bool extend);
  std::size_t RowAt(int y) const;
  void Paint(HDC dc, const RECT& client) const;
  void OnKey(WPARAM key);
  void OnScroll(WPARAM request);

  Registro model_;
  HWND owner_;
  HFONT plain_, bold_;
  HFONT ui_ = nullptr;
  HBRUSH back_;
  HDC measure_ = nullptr;
  HGDIOBJ measureFont_ = nullptr;
  mutable HFONT measureHolds_ = nullptr;
  int lineHeight_ = 1;
  int indent_ = 0;
  int paneWidth_ = 0;
  HWND hwnd_ = nullptr;
  HWND filter_ = nullptr, count_ = nullptr, copy_ = nullptr, save_ = nullptr, pane_ = nullptr;
  std::size_t top_ = 0;
  std::size_t maxTop_ = 0;
  bool follow_ = true;
  bool selecting_ = false;  // the left button is down on the pane
};

}  // namespace pasotune::win32view
