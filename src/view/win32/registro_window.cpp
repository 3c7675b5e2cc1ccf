#include "view/win32/registro_window.hpp"

#include <commdlg.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <stdexcept>

#include "view/win32/clipboard.hpp"

namespace pasotune::win32view {

namespace {

constexpr wchar_t kClass[] = L"Pasotune.Registro";
constexpr wchar_t kPaneClass[] = L"Pasotune.RegistroLineas";
constexpr wchar_t kTitle[] = L"Registro - Pasotune";
constexpr int kMargin = 4;  // left of a line's text
constexpr int kGap = 8;     // between the controls and the window's edges
// The activity log's own colours; errors and warnings stand out in bold.
constexpr COLORREF kBack = RGB(64, 64, 64);
constexpr COLORREF kPlain = RGB(0, 255, 0);
constexpr COLORREF kError = RGB(255, 128, 128);
constexpr COLORREF kWarning = RGB(255, 215, 0);

enum Id { kFilterId = 1, kCountId, kCopyId, kSaveId, kPaneId };
enum MenuCommand : UINT { kMenuCopy = 1, kMenuAll, kMenuSave };

HINSTANCE Module() {
  return ::GetModuleHandleW(nullptr);
}

void Register(const wchar_t* name, WNDPROC procedure, HBRUSH background) {
  WNDCLASSEXW c{};
  c.cbSize = sizeof c;
  c.style = name == kPaneClass ? CS_DBLCLKS : 0;
  c.lpfnWndProc = procedure;
  c.hInstance = Module();
  c.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
  c.hbrBackground = background;
  c.lpszClassName = name;
  ::RegisterClassExW(&c);
}

int TextWidth(HDC dc, HFONT font, const wchar_t* text) {
  const HGDIOBJ old = ::SelectObject(dc, font);
  SIZE size{};
  ::GetTextExtentPoint32W(dc, text, static_cast<int>(std::wcslen(text)), &size);
  ::SelectObject(dc, old);
  return static_cast<int>(size.cx);
}

TEXTMETRICW Metrics(HDC dc, HFONT font) {
  const HGDIOBJ old = ::SelectObject(dc, font);
  TEXTMETRICW metrics{};
  ::GetTextMetricsW(dc, &metrics);
  ::SelectObject(dc, old);
  return metrics;
}

bool Pressed(int key) {
  return (::GetKeyState(key) & 0x8000) != 0;
}

}  // namespace

RegistroWindow::RegistroWindow(const ListBox& log, HWND owner, HFONT plain, HFONT bold,
                               HICON bigIcon, HICON smallIcon)
    : model_(log), owner_(owner), plain_(plain), bold_(bold), back_(::CreateSolidBrush(kBack)) {
  static const bool registered = [] {
    Register(kClass, Procedure, reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1));
    Register(kPaneClass, PaneProcedure, nullptr);
    return true;
  }();
  (void)registered;
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof metrics;
  if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    ui_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
  }
  if (ui_ == nullptr) ui_ = static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  measure_ = ::CreateCompatibleDC(nullptr);
  measureFont_ = ::SelectObject(measure_, plain_);
  measureHolds_ = plain_;

  // About a hundred characters wide and thirty lines high.
  const TEXTMETRICW font = Metrics(measure_, plain_);
  // The fonts never change: their measures are taken once.
  lineHeight_ = std::max<int>({1, font.tmHeight, Metrics(measure_, bold_).tmHeight});
  indent_ = 2 * static_cast<int>(font.tmAveCharWidth);
  const int width = 100 * font.tmAveCharWidth + ::GetSystemMetrics(SM_CXVSCROLL) + 4 * kGap;
  const int height = 30 * font.tmHeight + 2 * ::GetSystemMetrics(SM_CYCAPTION);
  hwnd_ = ::CreateWindowExW(0, kClass, kTitle, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, CW_USEDEFAULT,
                            CW_USEDEFAULT, width, height, owner_, nullptr, Module(), this);
  if (hwnd_ == nullptr) {
    Release();
    throw std::runtime_error("Cannot create the Registro window");
  }
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

  const auto child = [this](const wchar_t* windowClass, const wchar_t* text, DWORD style,
                            DWORD exStyle, int id, void* param) {
    const HWND control = ::CreateWindowExW(
        exStyle, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Module(), param);
    if (control != nullptr && windowClass != kPaneClass) {
      ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(ui_), FALSE);
    }
    return control;
  };
  pane_ =
      child(kPaneClass, L"", WS_VSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE, kPaneId, this);
  filter_ = child(L"BUTTON", L"Solo errores y avisos", BS_AUTOCHECKBOX | WS_TABSTOP | WS_GROUP, 0,
                  kFilterId, nullptr);
  count_ = child(L"STATIC", L"", SS_RIGHT | SS_NOPREFIX | SS_CENTERIMAGE, 0, kCountId, nullptr);
  copy_ = child(L"BUTTON", L"Copiar", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, kCopyId, nullptr);
  save_ = child(L"BUTTON", L"Guardar\u2026", BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, kSaveId,
                nullptr);
  if (pane_ == nullptr || filter_ == nullptr || count_ == nullptr || copy_ == nullptr ||
      save_ == nullptr) {
    Release();
    throw std::runtime_error("Cannot create the Registro window's controls");
  }
  Layout();
  ShowCount();
}

RegistroWindow::~RegistroWindow() {
  Release();
}

void RegistroWindow::Release() {
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  if (ui_ != static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT))) ::DeleteObject(ui_);
  ui_ = nullptr;
  ::SelectObject(measure_, measureFont_);
  ::DeleteDC(measure_);
  measure_ = nullptr;
  ::DeleteObject(back_);
  back_ = nullptr;
}

void RegistroWindow::Show() {
  if (hwnd_ == nullptr) return;
  ::ShowWindow(hwnd_, ::IsIconic(hwnd_) ? SW_RESTORE : SW_SHOW);
  ::SetForegroundWindow(hwnd_);
  ::SetFocus(pane_);
}

void RegistroWindow::Layout() {
  RECT client{};
  ::GetClientRect(hwnd_, &client);
  const TEXTMETRICW ui = Metrics(measure_, ui_);
  const int height = ui.tmHeight + 10;
  int x = client.right - kGap;
  const auto place = [&](HWND control, int width) {
    x -= width;
    ::MoveWindow(control, x, kGap, width, height, TRUE);
    x -= kGap;
  };
  place(save_, TextWidth(measure_, ui_, L"Guardar\u2026") + 24);
  place(copy_, TextWidth(measure_, ui_, L"Copiar") + 24);
  place(count_, TextWidth(measure_, ui_, L"0000000 de 0000000 l\u00edneas"));
  ::MoveWindow(
      filter_, kGap, kGap,
      TextWidth(measure_, ui_, L"Solo errores y avisos") + ::GetSystemMetrics(SM_CXMENUCHECK) + 12,
      height, TRUE);
  const int top = 2 * kGap + height;
  ::MoveWindow(pane_, kGap, top, std::max(0, static_cast<int>(client.right) - 2 * kGap),
               std::max(0, static_cast<int>(client.bottom) - top - kGap), TRUE);
}

void RegistroWindow::ShowCount() {
  std::wstring text = std::to_wstring(model_.Lines()) + L" l\u00edneas";
  if (model_.OnlyMarked()) text = std::to_wstring(model_.Rows()) + L" de " + text;
  ::SetWindowTextW(count_, text.c_str());
}

int RegistroWindow::LineHeight() const {
  return lineHeight_;
}

RegistroWindow::Pieces RegistroWindow::Wrap(const std::wstring& text, bool bold) const {
  const HFONT font = bold ? bold_ : plain_;
  if (measureHolds_ != font) {
    ::SelectObject(measure_, font);
    measureHolds_ = font;
  }
  const int width = std::max(1, paneWidth_ - 2 * kMargin);
  // The rest of a wrapped line is indented, so it never reads as a line of
  // its own.
  const int indent = std::min(width / 2, indent_);
  Pieces pieces;
  std::size_t at = 0;
  while (at < text.size()) {
    const int room = std::max(1, pieces.empty() ? width : width - indent);
    const int left = static_cast<int>(std::min<std::size_t>(text.size() - at, INT_MAX));
    int fit = 0;
    SIZE size{};
    ::GetTextExtentExPointW(measure_, text.c_str() + at, left, room, &fit, nullptr, &size);
    std::size_t take = static_cast<std::size_t>(std::max(1, fit));
    if (at + take < text.size()) {
      // Break after the last blank that fits; a path without one breaks
      // anywhere.
      const std::size_t blank = text.find_last_of(L' ', at + take - 1);
      if (blank != std::wstring::npos && blank > at) take = blank - at + 1;
    }
    pieces.emplace_back(at, take);
    at += take;
  }
  if (pieces.empty()) pieces.emplace_back(0, 0);
  return pieces;
}

int RegistroWindow::HeightOf(std::size_t row) const {
  const std::string_view text = model_.Text(row);
  const auto pieces = Wrap(Utf8ToWide(text), MarkOf(text) != LineMark::kNone);
  return static_cast<int>(std::min<std::size_t>(pieces.size(), 10'000)) * LineHeight();
}

void RegistroWindow::UpdateRange() {
  RECT client{};
  ::GetClientRect(pane_, &client);
  maxTop_ =
      BottomTop(model_.Rows(), client.bottom, [this](std::size_t row) { return HeightOf(row); });
  maxTop_ = std::min<std::size_t>(maxTop_, INT_MAX / 2);
  top_ = std::min(top_, maxTop_);
  const int page = std::max(1, static_cast<int>(client.bottom) / LineHeight());
  // The thumb's positions are the tops: 0 to maxTop_.
  SCROLLINFO bar{};
  bar.cbSize = sizeof bar;
  bar.fMask = SIF_RANGE | SIF_PAGE | SIF_POS | SIF_DISABLENOSCROLL;
  bar.nMax = static_cast<int>(maxTop_) + page - 1;
  bar.nPage = static_cast<UINT>(page);
  bar.nPos = static_cast<int>(top_);
  ::SetScrollInfo(pane_, SB_VERT, &bar, TRUE);
}

void RegistroWindow::ScrollTo(std::size_t top) {
  top_ = std::min(top, maxTop_);
  follow_ = top_ >= maxTop_;
  ::SetScrollPos(pane_, SB_VERT, static_cast<int>(top_), TRUE);
  ::InvalidateRect(pane_, nullptr, FALSE);
}

void RegistroWindow::CatchUp() {
  if (hwnd_ == nullptr) return;
  if (model_.CatchUp()) {
    const bool follow = follow_;
    UpdateRange();
    if (follow) ScrollTo(maxTop_);
    ::InvalidateRect(pane_, nullptr, FALSE);
  }
  ShowCount();
}

void RegistroWindow::SetOnlyMarked(bool only) {
  const bool checked = ::SendMessageW(filter_, BM_GETCHECK, 0, 0) == BST_CHECKED;
  if (checked != only) ::SendMessageW(filter_, BM_SETCHECK, only ? BST_CHECKED : BST_UNCHECKED, 0);
  if (model_.OnlyMarked() == only) return;
  const std::size_t line = model_.Rows() == 0 ? Registro::kNone : model_.LineOf(top_);
  const bool follow = follow_;
  model_.SetOnlyMarked(only);
  UpdateRange();
  ScrollTo(follow || line == Registro::kNone ? maxTop_ : model_.RowOf(line));
  if (!follow && model_.HasSelection()) Reveal(model_.CursorRow());
  ShowCount();
}

RECT RegistroWindow::RowRect(std::size_t row) const {
  RECT client{};
  ::GetClientRect(pane_, &client);
  int y = 0;
  for (std::size_t r = top_; r < model_.Rows() && y < client.bottom; ++r) {
    const int height = HeightOf(r);
    if (r == row) return {0, y, client.right, y + height};
    y += height;
  }
  return {};
}

std::size_t RegistroWindow::RowAt(int y) const {
  if (y < 0) return Registro::kNone;
  RECT client{};
  ::GetClientRect(pane_, &client);
  int bottom = 0;
  for (std::size_t r = top_; r < model_.Rows() && bottom <= y && bottom < client.bottom; ++r) {
    bottom += HeightOf(r);
    if (y < bottom) return r;
  }
  return Registro::kNone;
}

void RegistroWindow::Reveal(std::size_t row) {
  if (row >= model_.Rows()) return;
  if (row < top_) {
    ScrollTo(row);
    return;
  }
  RECT client{};
  ::GetClientRect(pane_, &client);
  // Lowest place that still shows the row whole at the bottom.
  const std::size_t top =
      BottomTop(row + 1, client.bottom, [this](std::size_t r) { return HeightOf(r); });
  if (top > top_) ScrollTo(top);
}

void RegistroWindow::SelectRow(std::size_t row, bool extend) {
  if (row >= model_.Rows()) return;
  model_.Select(row, extend);
  Reveal(row);
  ::InvalidateRect(pane_, nullptr, FALSE);
}

void RegistroWindow::Copy() {
  if (model_.HasSelection()) CopyText(hwnd_, model_.SelectedText("\r\n"));
}

std::wstring RegistroWindow::SaveTo(const std::wstring& path) const {
  // Written beside it first, so a failure halfway leaves any older file
  // whole. UTF-8 keeps every character of the log; the mark makes Notepad
  // and spreadsheets read it as UTF-8 rather than as the ANSI code page.
  const std::wstring part = path + L".part";
  const HANDLE file = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Utf8ToWide(SystemErrorText(::GetLastError()));
  const std::string text = "\xEF\xBB\xBF" + model_.ShownText("\r\n");
  DWORD failure = 0;
  for (std::size_t at = 0; at < text.size() && failure == 0;) {
    const auto chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - at, 1 << 20));
    DWORD written = 0;
    if (!::WriteFile(file, text.data() + at, chunk, &written, nullptr) || written == 0) {
      failure = ::GetLastError() != 0 ? ::GetLastError() : ERROR_WRITE_FAULT;
    }
    at += written;
  }
  if (!::CloseHandle(file) && failure == 0) failure = ::GetLastError();
  if (failure == 0 && !::MoveFileExW(part.c_str(), path.c_str(),
                                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    failure = ::GetLastError();
  }
  if (failure == 0) return {};
  ::DeleteFileW(part.c_str());
  return Utf8ToWide(SystemErrorText(failure));
}

void RegistroWindow::Save() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  const auto two = [](WORD n) { return std::wstring(n < 10 ? L"0" : L"") + std::to_wstring(n); };
  const std::wstring name = L"registro-pasotune-" + std::to_wstring(now.wYear) + L"-" +
                            two(now.wMonth) + L"-" + two(now.wDay) + L"-" + two(now.wHour) +
                            two(now.wMinute) + L".txt";
  wchar_t file[4096] = {};
  name.copy(file, name.size());
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = hwnd_;
  dialog.lpstrFilter = L"Texto (*.txt)\0*.txt\0Todos los archivos (*.*)\0*.*\0";
  dialog.lpstrFile = file;
  dialog.nMaxFile = 4096;
  dialog.lpstrTitle = L"Guardar el registro";
  dialog.lpstrDefExt = L"txt";
  dialog.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST | OFN_NOCHANGEDIR | OFN_HIDEREADONLY;
  if (!::GetSaveFileNameW(&dialog)) return;
  const std::wstring failure = SaveTo(file);
  if (failure.empty()) return;
  const std::wstring text = L"No se pudo guardar el registro en " + std::wstring(file) + L": " +
                            failure + L". Pruebe con otra carpeta o con otro nombre.";
  ::MessageBoxW(hwnd_, text.c_str(), kTitle, MB_OK | MB_ICONWARNING);
}

void RegistroWindow::ContextMenu(LPARAM screen) {
  POINT at{static_cast<short>(LOWORD(screen)), static_cast<short>(HIWORD(screen))};
  if (screen == -1) {
    const std::size_t cursor = model_.CursorRow();
    const RECT row = cursor != Registro::kNone ? RowRect(cursor) : RECT{};
    at = {row.left + 8, row.bottom};
    ::ClientToScreen(pane_, &at);
  }
  const HMENU menu = ::CreatePopupMenu();
  if (menu == nullptr) return;
  ::AppendMenuW(menu, MF_STRING | (model_.HasSelection() ? 0 : MF_GRAYED), kMenuCopy,
                L"Copiar\tCtrl+C");
  ::AppendMenuW(menu, MF_STRING, kMenuAll, L"Seleccionar todo\tCtrl+A");
  ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
  ::AppendMenuW(menu, MF_STRING, kMenuSave, L"Guardar\u2026");
  const auto command = static_cast<UINT>(::TrackPopupMenu(
      menu, TPM_RETURNCMD | TPM_RIGHTBUTTON | TPM_NONOTIFY, at.x, at.y, 0, hwnd_, nullptr));
  ::DestroyMenu(menu);
  switch (command) {
    case kMenuCopy:
      Copy();
      break;
    case kMenuAll:
      model_.SelectAll();
      ::InvalidateRect(pane_, nullptr, FALSE);
      break;
    case kMenuSave:
      Save();
      break;
    default:
      break;
  }
}

void RegistroWindow::Paint(HDC dc, const RECT& client) const {
  ::FillRect(dc, &client, back_);
  const int lineHeight = LineHeight();
  const int indent = std::min(std::max(1, paneWidth_ - 2 * kMargin) / 2, indent_);
  const HGDIOBJ oldFont = ::SelectObject(dc, plain_);
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  const bool focused = ::GetFocus() == pane_;
  const std::size_t cursor = model_.CursorRow();
  int y = 0;
  for (std::size_t row = top_; row < model_.Rows() && y < client.bottom; ++row) {
    const std::string_view utf8 = model_.Text(row);
    const LineMark mark = MarkOf(utf8);
    const std::wstring text = Utf8ToWide(utf8);
    const Pieces pieces = Wrap(text, mark != LineMark::kNone);
    const RECT rect{0, y, client.right, y + static_cast<int>(pieces.size()) * lineHeight};
    const bool chosen = model_.Selected(row);
    if (chosen) ::FillRect(dc, &rect, ::GetSysColorBrush(COLOR_HIGHLIGHT));
    COLORREF colour = mark == LineMark::kError     ? kError
                      : mark == LineMark::kWarning ? kWarning
                                                   : kPlain;
    ::SetTextColor(dc, chosen ? ::GetSysColor(COLOR_HIGHLIGHTTEXT) : colour);
    ::SelectObject(dc, mark != LineMark::kNone ? bold_ : plain_);
    for (std::size_t i = 0; i < pieces.size() && y < client.bottom; ++i) {
      const auto [at, size] = pieces[i];
      ::TextOutW(dc, kMargin + (i == 0 ? 0 : indent), y, text.c_str() + at, static_cast<int>(size));
      y += lineHeight;
    }
    y = rect.bottom;
    if (focused && row == cursor) ::DrawFocusRect(dc, &rect);
  }
  ::SetBkMode(dc, oldMode);
  ::SelectObject(dc, oldFont);
}

void RegistroWindow::OnKey(WPARAM key) {
  if (Pressed(VK_CONTROL) && (key == 'C' || key == VK_INSERT)) {
    Copy();
    return;
  }
  if (Pressed(VK_CONTROL) && key == 'A') {
    model_.SelectAll();
    ::InvalidateRect(pane_, nullptr, FALSE);
    return;
  }
  const std::size_t rows = model_.Rows();
  if (rows == 0) return;
  RECT client{};
  ::GetClientRect(pane_, &client);
  const auto page =
      static_cast<std::size_t>(std::max(1, static_cast<int>(client.bottom) / LineHeight()));
  const std::size_t cursor = model_.CursorRow();
  const std::size_t at = cursor == Registro::kNone ? top_ : cursor;
  const bool none = cursor == Registro::kNone;
  std::size_t to = at;
  switch (key) {
    case VK_UP:
      to = at > 0 && !none ? at - 1 : at;
      break;
    case VK_DOWN:
      to = none ? at : std::min(rows - 1, at + 1);
      break;
    case VK_PRIOR:
      to = at > page ? at - page : 0;
      break;
    case VK_NEXT:
      to = std::min(rows - 1, at + page);
      break;
    case VK_HOME:
      to = 0;
      break;
    case VK_END:
      to = rows - 1;
      break;
    default:
      return;
  }
  SelectRow(to, Pressed(VK_SHIFT));
}

void RegistroWindow::OnScroll(WPARAM request) {
  RECT client{};
  ::GetClientRect(pane_, &client);
  const auto page =
      static_cast<std::size_t>(std::max(1, static_cast<int>(client.bottom) / LineHeight()));
  switch (LOWORD(request)) {
    case SB_LINEUP:
      ScrollTo(top_ > 0 ? top_ - 1 : 0);
      break;
    case SB_LINEDOWN:
      ScrollTo(top_ + 1);
      break;
    case SB_PAGEUP:
      ScrollTo(top_ > page ? top_ - page : 0);
      break;
    case SB_PAGEDOWN:
      ScrollTo(top_ + page);
      break;
    case SB_TOP:
      ScrollTo(0);
      break;
    case SB_BOTTOM:
      ScrollTo(maxTop_);
      break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION: {
      SCROLLINFO bar{};
      bar.cbSize = sizeof bar;
      bar.fMask = SIF_TRACKPOS;
      ::GetScrollInfo(pane_, SB_VERT, &bar);
      ScrollTo(static_cast<std::size_t>(std::max(0, bar.nTrackPos)));
      break;
    }
    default:
      break;
  }
}

LRESULT CALLBACK RegistroWindow::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<RegistroWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<RegistroWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->Handle(message, wParam, lParam);
}

LRESULT CALLBACK RegistroWindow::PaneProcedure(HWND hwnd, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<RegistroWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    self->pane_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<RegistroWindow*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (self == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return self->HandlePane(message, wParam, lParam);
}

LRESULT RegistroWindow::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SIZE:
      if (pane_ != nullptr) Layout();
      return 0;
    case WM_GETMINMAXINFO: {
      auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
      limits->ptMinTrackSize = {420, 200};
      return 0;
    }
    case WM_COMMAND:
      switch (LOWORD(wParam)) {
        case kFilterId:
          if (HIWORD(wParam) == BN_CLICKED) {
            SetOnlyMarked(::SendMessageW(filter_, BM_GETCHECK, 0, 0) == BST_CHECKED);
          }
          break;
        case kCopyId:
          Copy();
          break;
        case kSaveId:
          Save();
          break;
        case IDCANCEL:  // Escape
          ::PostMessageW(hwnd_, WM_CLOSE, 0, 0);
          break;
        default:
          break;
      }
      return 0;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && HIWORD(wParam) == 0 && !::IsChild(hwnd_, ::GetFocus())) {
        ::SetFocus(pane_);
        return 0;
      }
      break;
    case WM_DESTROY:
      ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

LRESULT RegistroWindow::HandlePane(UINT message, WPARAM wParam, LPARAM lParam) {
  const HWND pane = pane_;
  switch (message) {
    case WM_SIZE: {
      paneWidth_ = LOWORD(lParam);
      const bool follow = follow_;
      UpdateRange();
      if (follow) ScrollTo(maxTop_);
      ::InvalidateRect(pane, nullptr, FALSE);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT: {
      PAINTSTRUCT paint{};
      const HDC dc = ::BeginPaint(pane, &paint);
      RECT client{};
      ::GetClientRect(pane, &client);
      // Drawn off screen and put up in one go: no flicker as lines come.
      const HDC buffer = ::CreateCompatibleDC(dc);
      const HBITMAP bitmap =
          ::CreateCompatibleBitmap(dc, std::max(1L, client.right), std::max(1L, client.bottom));
      if (buffer != nullptr && bitmap != nullptr) {
        const HGDIOBJ old = ::SelectObject(buffer, bitmap);
        Paint(buffer, client);
        ::BitBlt(dc, 0, 0, client.right, client.bottom, buffer, 0, 0, SRCCOPY);
        ::SelectObject(buffer, old);
      } else {
        Paint(dc, client);
      }
      if (bitmap != nullptr) ::DeleteObject(bitmap);
      if (buffer != nullptr) ::DeleteDC(buffer);
      ::EndPaint(pane, &paint);
      return 0;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
      ::InvalidateRect(pane, nullptr, FALSE);
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_KEYDOWN:
      OnKey(wParam);
      return 0;
    case WM_VSCROLL:
      OnScroll(wParam);
      return 0;
    case WM_MOUSEWHEEL: {
      UINT lines = 3;
      ::SystemParametersInfoW(SPI_GETWHEELSCROLLLINES, 0, &lines, 0);
      const int steps =
          -GET_WHEEL_DELTA_WPARAM(wParam) * static_cast<int>(std::min(lines, 100u)) / WHEEL_DELTA;
      ScrollTo(steps < 0 ? top_ - std::min<std::size_t>(top_, static_cast<std::size_t>(-steps))
                         : top_ + static_cast<std::size_t>(steps));
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      ::SetFocus(pane);
      const std::size_t row = RowAt(static_cast<short>(HIWORD(lParam)));
      if (row != Registro::kNone) SelectRow(row, (wParam & MK_SHIFT) != 0);
      ::SetCapture(pane);
      selecting_ = true;
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (!selecting_ || model_.Rows() == 0) break;
      RECT client{};
      ::GetClientRect(pane, &client);
      const int y = static_cast<short>(HIWORD(lParam));
      std::size_t row = RowAt(std::clamp(y, 0, std::max(0, static_cast<int>(client.bottom) - 1)));
      if (y < 0 && top_ > 0) {
        row = top_ - 1;
      } else if (row == Registro::kNone || y >= client.bottom) {
        row = row == Registro::kNone ? model_.Rows() - 1 : std::min(row + 1, model_.Rows() - 1);
      }
      SelectRow(row, true);
      return 0;
    }
    case WM_LBUTTONUP:
      selecting_ = false;
      ::ReleaseCapture();
      return 0;
    case WM_CAPTURECHANGED:
      selecting_ = false;
      return 0;
    case WM_RBUTTONDOWN: {
      ::SetFocus(pane);
      // A right click outside the selection selects the line pointed at,
      // so the menu's Copiar takes it.
      const std::size_t row = RowAt(static_cast<short>(HIWORD(lParam)));
      if (row != Registro::kNone && !model_.Selected(row)) SelectRow(row, false);
      return 0;
    }
    case WM_CONTEXTMENU:
      ContextMenu(lParam);
      return 0;
    case WM_DESTROY:
      ::SetWindowLongPtrW(pane, GWLP_USERDATA, 0);
      pane_ = nullptr;
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(pane, message, wParam, lParam);
}

}  // namespace pasotune::win32view
