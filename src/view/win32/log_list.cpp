#include "view/win32/log_list.hpp"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <string_view>

#include "view/win32/clipboard.hpp"

namespace pasotune::win32view {

namespace {

// The list box counts its rows in an int.
constexpr std::size_t kMaxRows = INT_MAX - 1;
// Room left and right of a row's text.
constexpr int kMargin = 2;
// The one tool of the tooltip: the row under the mouse.
constexpr UINT_PTR kRowTool = 1;
constexpr UINT_PTR kSubclass = 1;

bool Ascii(std::string_view line) {
  return std::all_of(line.begin(), line.end(), [](char c) { return (c & 0x80) == 0; });
}

TOOLINFOW RowTool(HWND list) {
  TOOLINFOW tool{};
  // Without lpReserved: comctl32 before version 6 refuses the longer size.
  tool.cbSize = TTTOOLINFOW_V2_SIZE;
  tool.hwnd = list;
  tool.uId = kRowTool;
  return tool;
}

}  // namespace

LogList::LogList(ListBox& model, HWND owner, UINT wakeMessage)
    : model_(model), owner_(owner), wakeMessage_(wakeMessage), back_(::CreateSolidBrush(kBack)) {
  // A burst of lines costs one update of the list, not one per line.
  model_.itemAdded = [this] { CatchUpSoon(); };
  model_.selectionChanged = [this] { CatchUpSoon(); };
}

LogList::~LogList() {
  model_.itemAdded = nullptr;
  model_.selectionChanged = nullptr;
  caughtUp = nullptr;
  // Both go with the window when it is destroyed first.
  if (list_ != nullptr && ::IsWindow(list_)) ::RemoveWindowSubclass(list_, ListProc, kSubclass);
  if (tip_ != nullptr && ::IsWindow(tip_)) ::DestroyWindow(tip_);
  if (measure_ != nullptr) {
    ::SelectObject(measure_, measureFont_);
    ::DeleteDC(measure_);
  }
  ::DeleteObject(back_);
}

void LogList::Attach(HWND list, HFONT font) {
  list_ = list;
  font_ = font;
  measure_ = ::CreateCompatibleDC(nullptr);
  measureFont_ = ::SelectObject(measure_, font_);

  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_TAB_CLASSES};
  ::InitCommonControlsEx(&controls);
  tip_ = ::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                           WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                           CW_USEDEFAULT, CW_USEDEFAULT, owner_, nullptr, nullptr, nullptr);
  if (tip_ != nullptr) {
    // One line unless it is wider than the screen, then wrapped.
    ::SendMessageW(tip_, TTM_SETMAXTIPWIDTH, 0, ::GetSystemMetrics(SM_CXSCREEN));
    ::SetWindowSubclass(list_, ListProc, kSubclass, reinterpret_cast<DWORD_PTR>(this));
  }
  CatchUp();
}

int LogList::RowHeight(HFONT font) {
  const HDC dc = ::CreateCompatibleDC(nullptr);
  const HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return std::clamp(static_cast<int>(metrics.tmHeight), 1, 255);
}

void LogList::CatchUpSoon() {
  if (pending_ || list_ == nullptr) return;
  pending_ = ::PostMessageW(owner_, wakeMessage_, 0, 0) != 0;
  // A full queue: catch up at once rather than never.
  if (!pending_) CatchUp();
}

int LogList::RowWidth(std::size_t row) const {
  const std::wstring text = Utf8ToWide(model_.Item(row));
  SIZE size{};
  ::GetTextExtentPoint32W(measure_, text.c_str(), static_cast<int>(text.size()), &size);
  return static_cast<int>(size.cx) + 2 * kMargin;
}

void LogList::Measure(std::size_t from, std::size_t to) {
  // A line of plain ASCII that would fit even if every character were the
  // font's widest is not measured: most of the log costs no text layout.
  RECT client{};
  ::GetClientRect(list_, &client);
  int room = client.right;
  if ((::GetWindowLongW(list_, GWL_STYLE) & WS_VSCROLL) == 0) {
    room -= ::GetSystemMetrics(SM_CXVSCROLL);
  }
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(measure_, &metrics);
  const auto widestChar =
      static_cast<std::size_t>(std::max(1, static_cast<int>(metrics.tmMaxCharWidth)));
  const int before = widest_;
  for (std::size_t row = from; row < to; ++row) {
    const std::string_view line = model_.Item(row);
    const int fits = std::max(widest_, room) - 2 * kMargin;
    if (fits > 0 && line.size() * widestChar <= static_cast<std::size_t>(fits) && Ascii(line)) {
      continue;
    }
    widest_ = std::max(widest_, RowWidth(row));
  }
  if (widest_ != before) ::SendMessageW(list_, LB_SETHORIZONTALEXTENT, widest_, 0);
}

bool LogList::AtBottom() const {
  RECT client{};
  ::GetClientRect(list_, &client);
  const auto height = std::max<LRESULT>(1, ::SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
  const LRESULT visible = std::max<LRESULT>(1, client.bottom / height);
  return ::SendMessageW(list_, LB_GETTOPINDEX, 0, 0) + visible >= static_cast<LRESULT>(shown_);
}

void LogList::ScrollToBottom() {
  RECT client{};
  ::GetClientRect(list_, &client);
  const auto height = std::max<LRESULT>(1, ::SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
  const LRESULT visible = std::max<LRESULT>(1, client.bottom / height);
  ::SendMessageW(list_, LB_SETTOPINDEX,
                 static_cast<WPARAM>(std::max<LRESULT>(0, static_cast<LRESULT>(shown_) - visible)),
                 0);
}

void LogList::CatchUp() {
  pending_ = false;
  if (list_ == nullptr) return;
  const std::size_t rows = std::min(model_.ListCount(), kMaxRows);
  const LRESULT top = ::SendMessageW(list_, LB_GETTOPINDEX, 0, 0);
  const bool grew = rows > shown_;
  // New lines move the list only while it follows them, and never from
  // under a tooltip being read; it catches up once the tooltip is gone.
  const bool stay = grew && (!follow_ || (hovered_ >= 0 && ::IsWindowVisible(tip_)));
  if (stay) ::SendMessageW(list_, WM_SETREDRAW, FALSE, 0);
  if (rows != shown_) {
    // Only the lines added since the last catch-up are measured.
    if (rows > shown_) Measure(shown_, rows);
    ::SendMessageW(list_, LB_SETCOUNT, rows, 0);
    shown_ = rows;
  }
  const long index = model_.ListIndex();
  const bool inRange = index >= 0 && static_cast<std::size_t>(index) < rows;
  // Setting the selection also scrolls it into sight, unless the list stays.
  ::SendMessageW(list_, LB_SETCURSEL,
                 inRange ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
  if (stay) {
    ::SendMessageW(list_, LB_SETTOPINDEX, static_cast<WPARAM>(top), 0);
    ::SendMessageW(list_, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(list_, nullptr, TRUE);
  } else {
    if (grew && follow_) ScrollToBottom();
    follow_ = AtBottom();
  }
  // Rows that moved under the mouse are not the row the tooltip is for.
  if (::SendMessageW(list_, LB_GETTOPINDEX, 0, 0) != top_) ForgetTip();
  if (caughtUp) caughtUp();
}

void LogList::ForgetTip() {
  top_ = ::SendMessageW(list_, LB_GETTOPINDEX, 0, 0);
  if (hovered_ < 0) return;
  hovered_ = -1;
  TOOLINFOW tool = RowTool(list_);
  ::SendMessageW(tip_, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

void LogList::Hover(POINT at) {
  RECT client{};
  ::GetClientRect(list_, &client);
  const auto height = static_cast<int>(::SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
  const long long row = RowAt(at);
  if (!leaveTracked_) {
    TRACKMOUSEEVENT leave{sizeof leave, TME_LEAVE, list_, 0};
    leaveTracked_ = ::TrackMouseEvent(&leave) != FALSE;
  }
  if (row == hovered_) return;
  ForgetTip();
  if (row < 0 || RowWidth(static_cast<std::size_t>(row)) <= client.right) return;
  hovered_ = row;
  std::wstring text = Utf8ToWide(model_.Item(static_cast<std::size_t>(row)));
  TOOLINFOW tool = RowTool(list_);
  tool.lpszText = text.data();
  const int top = at.y / height * height;
  tool.rect = RECT{0, top, client.right, top + height};
  ::SendMessageW(tip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

LRESULT CALLBACK LogList::ListProc(HWND list, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                   DWORD_PTR self) {
  auto* log = reinterpret_cast<LogList*>(self);
  switch (message) {
    case WM_MOUSEMOVE:
      log->Hover(POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))});
      [[fallthrough]];
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP: {
      MSG msg{list, message, wParam, lParam, static_cast<DWORD>(::GetMessageTime()), {}};
      ::SendMessageW(log->tip_, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
      break;
    }
    case WM_VSCROLL:
    case WM_MOUSEWHEEL:
    case WM_KEYDOWN: {
      const LRESULT before = ::SendMessageW(list, LB_GETTOPINDEX, 0, 0);
      const LRESULT result = ::DefSubclassProc(list, message, wParam, lParam);
      // The user's own move: at the bottom the list follows again.
      log->follow_ = log->AtBottom();
      if (::SendMessageW(list, LB_GETTOPINDEX, 0, 0) != before) log->ForgetTip();
      return result;
    }
    case WM_MOUSELEAVE:
      log->leaveTracked_ = false;
      log->ForgetTip();
      // Lines held back for the tooltip are shown now.
      if (log->follow_ && !log->AtBottom()) {
        log->ScrollToBottom();
        log->top_ = ::SendMessageW(list, LB_GETTOPINDEX, 0, 0);
      }
      break;
    default:
      break;
  }
  return ::DefSubclassProc(list, message, wParam, lParam);
}

long long LogList::RowAt(POINT at) const {
  RECT client{};
  ::GetClientRect(list_, &client);
  const auto height = static_cast<int>(::SendMessageW(list_, LB_GETITEMHEIGHT, 0, 0));
  // LB_ITEMFROMPOINT gives only 16 bits of the row.
  if (!::PtInRect(&client, at) || height <= 0) return -1;
  const long long row = ::SendMessageW(list_, LB_GETTOPINDEX, 0, 0) + at.y / height;
  return row < static_cast<long long>(shown_) ? row : -1;
}

void LogList::ContextMenu(LPARAM screen) {
  POINT at{static_cast<short>(LOWORD(screen)), static_cast<short>(HIWORD(screen))};
  long long row = model_.ListIndex();
  if (screen == -1) {
    RECT item{};
    ::SendMessageW(list_, LB_GETITEMRECT, static_cast<WPARAM>(std::max(0LL, row)),
                   reinterpret_cast<LPARAM>(&item));
    at = {item.left + 8, item.bottom};
    ::ClientToScreen(list_, &at);
  } else {
    POINT inside = at;
    ::ScreenToClient(list_, &inside);
    row = RowAt(inside);
    if (row >= 0) model_.SetListIndex(static_cast<long>(row));
  }
  const HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  const bool onRow = row >= 0 && static_cast<std::size_t>(row) < shown_;
  ::AppendMenuW(menu, MF_STRING | (onRow ? 0 : MF_GRAYED), kCopy, L"Copiar");
  ::AppendMenuW(menu, MF_STRING, kOpenLog, L"Ver registro completo");
  // The row is taken before the menu's loop: a line logged meanwhile moves
  // the selection, not what is copied.
  const auto command = static_cast<UINT>(::TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, owner_, nullptr));
  ::DestroyMenu(menu);
  MenuCommand(command, row);
}

void LogList::MenuCommand(UINT command, long long row) {
  if (command == kCopy && row >= 0 && static_cast<std::size_t>(row) < model_.ListCount()) {
    CopyText(owner_, model_.Item(static_cast<std::size_t>(row)));
  } else if (command == kOpenLog && openLog) {
    openLog();
  }
}

void LogList::UserSelected() {
  const LRESULT row = ::SendMessageW(list_, LB_GETCURSEL, 0, 0);
  if (row == LB_ERR || row == model_.ListIndex()) return;
  model_.SetListIndex(static_cast<long>(row));  // comes back through CatchUp
}

void LogList::Draw(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT row = item.rcItem;
  if (item.itemAction == ODA_FOCUS) {
    ::DrawFocusRect(dc, &row);
    return;
  }
  // The row comes shifted by the scroll across, as wide as the widest line;
  // it is filled to the list's right edge even where that is wider.
  RECT client{};
  ::GetClientRect(item.hwndItem, &client);
  row.right = std::max(row.right, client.right);
  const bool chosen = (item.itemState & ODS_SELECTED) != 0;
  ::FillRect(dc, &row, chosen ? ::GetSysColorBrush(COLOR_HIGHLIGHT) : back_);
  if (item.itemID != static_cast<UINT>(-1) && item.itemID < model_.ListCount()) {
    const std::wstring text = Utf8ToWide(model_.Item(item.itemID));
    const HGDIOBJ oldFont = ::SelectObject(dc, font_);
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour =
        ::SetTextColor(dc, chosen ? ::GetSysColor(COLOR_HIGHLIGHTTEXT) : kText);
    RECT where = row;
    where.left += kMargin;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &where,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    ::SetTextColor(dc, oldColour);
    ::SetBkMode(dc, oldMode);
    ::SelectObject(dc, oldFont);
  }
  if ((item.itemState & ODS_FOCUS) != 0) ::DrawFocusRect(dc, &row);
}

HBRUSH LogList::Colours(HDC dc) const {
  ::SetTextColor(dc, kText);
  ::SetBkColor(dc, kBack);
  return back_;
}

}  // namespace pasotune::win32view
