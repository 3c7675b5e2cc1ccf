#include "view/win32/log_list.hpp"

#include <algorithm>
#include <climits>
#include <string_view>

namespace pasotune::win32view {

namespace {

// The list box counts its rows in an int.
constexpr std::size_t kMaxRows = INT_MAX - 1;
// More of a line than fits across the list is never converted.
constexpr std::size_t kMaxDrawn = 1024;

std::wstring RowText(std::string_view line) {
  if (line.size() > kMaxDrawn) {
    std::size_t n = kMaxDrawn;
    while (n > 0 && (static_cast<unsigned char>(line[n]) & 0xC0) == 0x80) --n;
    line = line.substr(0, n);
  }
  return Utf8ToWide(line);
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
  ::DeleteObject(back_);
}

void LogList::Attach(HWND list, HFONT font) {
  list_ = list;
  font_ = font;
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

void LogList::CatchUp() {
  pending_ = false;
  if (list_ == nullptr) return;
  const std::size_t rows = std::min(model_.ListCount(), kMaxRows);
  if (rows != shown_) {
    ::SendMessageW(list_, LB_SETCOUNT, rows, 0);
    shown_ = rows;
  }
  const long index = model_.ListIndex();
  const bool inRange = index >= 0 && static_cast<std::size_t>(index) < rows;
  // Setting the selection also scrolls it into sight.
  ::SendMessageW(list_, LB_SETCURSEL,
                 inRange ? static_cast<WPARAM>(index) : static_cast<WPARAM>(-1), 0);
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
  const bool chosen = (item.itemState & ODS_SELECTED) != 0;
  ::FillRect(dc, &row, chosen ? ::GetSysColorBrush(COLOR_HIGHLIGHT) : back_);
  if (item.itemID != static_cast<UINT>(-1) && item.itemID < model_.ListCount()) {
    const std::wstring text = RowText(model_.Item(item.itemID));
    const HGDIOBJ oldFont = ::SelectObject(dc, font_);
    const int oldMode = ::SetBkMode(dc, TRANSPARENT);
    const COLORREF oldColour =
        ::SetTextColor(dc, chosen ? ::GetSysColor(COLOR_HIGHLIGHTTEXT) : kText);
    RECT where = row;
    where.left += 2;
    ::DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &where,
                DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
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
