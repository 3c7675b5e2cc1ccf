// The activity log on screen: an owner-drawn list box without data of its
// own (LBS_NODATA) that paints the lines in sight straight from the model's
// ListBox, so a log of a million lines costs no more to show or to extend
// than a log of ten. A line wider than the list scrolls sideways and shows
// whole as the tooltip of its row. While the user has scrolled away from the
// newest line, or reads a tooltip, new lines leave the view where it is.
#pragma once

#include <cstddef>
#include <functional>

#include "form/controls.hpp"
#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

class LogList {
 public:
  static constexpr COLORREF kText = RGB(0, 255, 0);
  static constexpr COLORREF kBack = RGB(64, 64, 64);
  // The list box's style: owner-drawn rows of one height, no data, the
  // height kept exactly as laid out; the bar across shows only while some
  // line is wider than the list.
  static constexpr DWORD kStyle =
      WS_VSCROLL | WS_HSCROLL | LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;

  // Model changes are taken up in one go by CatchUp, which the owner runs
  // when `wakeMessage`, posted to it, comes out of the queue.
  LogList(ListBox& model, HWND owner, UINT wakeMessage);
  ~LogList();
  LogList(const LogList&) = delete;
  LogList& operator=(const LogList&) = delete;

  void Attach(HWND list, HFONT font);
  HWND Handle() const { return list_; }
  // The row height for WM_MEASUREITEM.
  static int RowHeight(HFONT font);

  // Takes the lines added and the selection from the model, and scrolls the
  // selected line into sight.
  void CatchUp();
  // The list's own selection, made with the mouse or the keys, goes to the
  // model (LBN_SELCHANGE).
  void UserSelected();
  void Draw(const DRAWITEMSTRUCT& item) const;
  // WM_CTLCOLORLISTBOX.
  HBRUSH Colours(HDC dc) const;

  // Whether a catch-up is waiting in the queue.
  bool Pending() const { return pending_; }
  // Whether new lines scroll the list to the newest one.
  bool Following() const { return follow_; }

  // The row at a point of the list's client area, or -1.
  long long RowAt(POINT at) const;
  // WM_CONTEXTMENU from the list, at a point of the screen (-1, -1 from
  // the keyboard): the row there is chosen and its menu shown.
  void ContextMenu(LPARAM screen);
  enum Command : UINT { kCopy = 1, kOpenLog };
  // A command of the menu for a row; Copiar puts that row on the clipboard.
  void MenuCommand(UINT command, long long row);

  // Double-click, Enter or the menu asks for the whole log.
  std::function<void()> openLog;
  // After each catch-up, for whatever else shows the log.
  std::function<void()> caughtUp;

 private:
  void CatchUpSoon();
  int RowWidth(std::size_t row) const;
  void Measure(std::size_t from, std::size_t to);
  // The mouse over the list at `at`: the row there gets its tooltip if it
  // is wider than the list.
  void Hover(POINT at);
  void ForgetTip();
  bool AtBottom() const;
  void ScrollToBottom();
  static LRESULT CALLBACK ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam,
                                   UINT_PTR id, DWORD_PTR self);

  ListBox& model_;
  HWND owner_;
  UINT wakeMessage_;
  HWND list_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH back_;
  HDC measure_ = nullptr;  // holds font_, for the widths of lines
  HGDIOBJ measureFont_ = nullptr;
  HWND tip_ = nullptr;
  std::size_t shown_ = 0;
  bool pending_ = false;
  int widest_ = 0;
  long long hovered_ = -1;  // the row the tooltip stands for
  LRESULT top_ = 0;
  bool follow_ = true;
  bool leaveTracked_ = false;
};

}  // namespace pasotune::win32view
