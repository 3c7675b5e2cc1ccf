// The activity log on screen: an owner-drawn list box without data of its
// own (LBS_NODATA) that paints the lines in sight straight from the model's
// ListBox, so a log of a million lines costs no more to show or to extend
// than a log of ten.
#pragma once

#include <cstddef>

#include "form/controls.hpp"
#include "view/win32/windows_api.hpp"

namespace pasotune::win32view {

class LogList {
 public:
  static constexpr COLORREF kText = RGB(0, 255, 0);
  static constexpr COLORREF kBack = RGB(64, 64, 64);
  // The list box's style: owner-drawn rows of one height, no data, the
  // height kept exactly as laid out.
  static constexpr DWORD kStyle =
      WS_VSCROLL | LBS_NODATA | LBS_OWNERDRAWFIXED | LBS_NOINTEGRALHEIGHT | LBS_NOTIFY;

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

 private:
  void CatchUpSoon();

  ListBox& model_;
  HWND owner_;
  UINT wakeMessage_;
  HWND list_ = nullptr;
  HFONT font_ = nullptr;
  HBRUSH back_;
  std::size_t shown_ = 0;
  bool pending_ = false;
};

}  // namespace pasotune::win32view
