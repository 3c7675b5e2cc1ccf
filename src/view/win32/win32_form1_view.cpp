#include "view/win32/win32_form1_view.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "pasotune_resources.h"
#include "view/win32/icon_file.hpp"
#include "view/win32/log_list.hpp"
#include "view/win32/monospace.hpp"
#include "view/win32/registro_window.hpp"

namespace pasotune {

using win32view::Face;
using win32view::FitSample;
using win32view::LogList;
using win32view::MonospaceFonts;
using win32view::WindowText;

namespace {

constexpr wchar_t kClassName[] = L"Pasotune.Form1";
// Posted once per burst of log changes.
constexpr UINT kCatchUpLog = WM_APP + 1;
// Enter on the log, taken inside the message hook, opens the Registro from
// the queue.
constexpr UINT kOpenRegistro = WM_APP + 2;
// Fixed size, no maximise. Not WS_CLIPCHILDREN: a frame paints only its
// border and caption, and the window's background has to show inside it.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

constexpr COLORREF kValueBack = RGB(224, 224, 224);
constexpr COLORREF kGreen = RGB(0, 128, 0);
constexpr COLORREF kDarkBlue = RGB(0, 0, 128);
constexpr COLORREF kRed = RGB(255, 0, 0);

enum class Font { kNone, kSmall, kSmallBold, kLarge, kLargeBold };

// Where a control's caption has room: the part of its width that its own
// border, margins or drop-down button leave.
enum class Room { kNone, kAll, kButton, kFrame, kDropDown };

// The controls in the order of the tab positions; the index is the
// control's place here, its id 100 more. Twips are inside the frame named.
struct Layout {
  const char* name;
  const wchar_t* windowClass;
  DWORD style;
  DWORD exStyle;
  int frame;  // index of the containing frame, or -1 for the window
  int left, top, width, height;
  Font font;
  Room room;
  const wchar_t* text;
};

enum Index {
  kList1,
  kFrame1,
  kHPORT,
  kShape1,
  kCommand1,
  kFrame2,
  kLabel1,
  kLabel2,
  kLabel3,
  kLabelRX,
  kLabelTX,
  kLabelModoRX,
  kLabelModoTX,
  kLabelSat,
  kFrame3,
  kCommand3,
  kComboST,
  kCommand4,
};

constexpr int kFirstId = 100;
// Focusable controls start a group each, so that the arrow keys never
// wander from a button to a label.
constexpr DWORD kFocusable = WS_TABSTOP | WS_GROUP;
constexpr DWORD kDropDownStyle = kFocusable | WS_VSCROLL | CBS_DROPDOWNLIST;
constexpr DWORD kFrameStyle = BS_GROUPBOX | WS_GROUP | WS_CLIPSIBLINGS;
constexpr DWORD kCaption = SS_RIGHT | SS_NOPREFIX;

// Command2 and txtDDE lie beyond the window's edges, where no one sees them:
// they live in the model only. As windows they took the focus by Tab, and
// the text box drew raw tracker text, which some bytes make Wine's gdi32
// fault on.
const Layout kLayout[Win32Form1View::kControls] = {
    {"List1", L"LISTBOX", kFocusable | LogList::kStyle, WS_EX_CLIENTEDGE, -1, 2040, 240, 4455, 1635,
     Font::kSmall, Room::kNone, nullptr},
    {"Frame1", L"BUTTON", kFrameStyle, 0, -1, 120, 120, 1815, 1815, Font::kSmallBold, Room::kFrame,
     L"TS-790"},
    {"HPORT", L"COMBOBOX", kDropDownStyle, 0, kFrame1, 120, 360, 1095, 345, Font::kSmallBold,
     Room::kDropDown, nullptr},
    {"Shape1", L"STATIC", SS_OWNERDRAW, 0, kFrame1, 1375, 400, 255, 255, Font::kNone, Room::kNone,
     nullptr},
    {"Command1", L"BUTTON", kFocusable | BS_OWNERDRAW, 0, kFrame1, 120, 840, 1575, 855,
     Font::kSmallBold, Room::kButton, nullptr},
    {"Frame2", L"BUTTON", kFrameStyle, 0, -1, 2040, 1920, 4455, 1815, Font::kLarge, Room::kFrame,
     L"Orbitron"},
    {"Label1", L"STATIC", kCaption, 0, kFrame2, 120, 360, 1215, 375, Font::kLarge, Room::kAll,
     L"Sat\u00e9lite:"},
    {"Label2", L"STATIC", kCaption, 0, kFrame2, 360, 840, 975, 375, Font::kLarge, Room::kAll,
     L"Subida:"},
    {"Label3", L"STATIC", kCaption, 0, kFrame2, 120, 1200, 1215, 375, Font::kLarge, Room::kAll,
     L"Bajada:"},
    {"LabelRX", L"STATIC", SS_LEFT | SS_NOPREFIX, 0, kFrame2, 1440, 1200, 1935, 255, Font::kLarge,
     Room::kAll, nullptr},
    {"LabelTX", L"STATIC", SS_LEFT | SS_NOPREFIX, 0, kFrame2, 1440, 840, 1935, 255, Font::kLarge,
     Room::kAll, nullptr},
    {"LabelModoRX", L"STATIC", SS_CENTER | SS_NOPREFIX, 0, kFrame2, 3360, 1200, 975, 255,
     Font::kLarge, Room::kAll, nullptr},
    {"LabelModoTX", L"STATIC", SS_CENTER | SS_NOPREFIX, 0, kFrame2, 3360, 840, 975, 255,
     Font::kLarge, Room::kAll, nullptr},
    {"LabelSat", L"STATIC", SS_LEFT | SS_NOPREFIX, 0, kFrame2, 1440, 360, 2775, 255,
     Font::kLargeBold, Room::kAll, nullptr},
    {"Frame3", L"BUTTON", kFrameStyle, 0, -1, 120, 1920, 1815, 1815, Font::kSmallBold, Room::kFrame,
     L"CTCSS"},
    {"Command3", L"BUTTON", kFocusable | BS_PUSHBUTTON, 0, kFrame3, 120, 840, 1575, 375,
     Font::kSmall, Room::kButton, nullptr},
    {"ComboST", L"COMBOBOX", kDropDownStyle, 0, kFrame3, 360, 360, 1095, 345, Font::kSmallBold,
     Room::kDropDown, nullptr},
    {"Command4", L"BUTTON", kFocusable | BS_PUSHBUTTON, 0, kFrame3, 120, 1320, 1575, 375,
     Font::kSmall, Room::kButton, nullptr},
};

// The widest texts the controls show while the program runs, besides their
// captions at creation: the fallback font must fit them all.
struct LongText {
  int index;
  const wchar_t* text;
};
const LongText kLongTexts[] = {
    {kCommand1, L"Desconectar"}, {kCommand3, L"CTCSS 100.0"}, {kCommand4, L"CTCSS OFF "},
    {kHPORT, L"COM20"},          {kComboST, L"100.0"},        {kLabelTX, L"2147.483647"},
    {kLabelRX, L"2147.483647"},  {kLabelModoTX, L"USB"},      {kLabelModoRX, L"USB"},
};

Face FaceOf(Font font) {
  switch (font) {
    case Font::kSmallBold:
      return Face::kSmallBold;
    case Font::kLarge:
      return Face::kLarge;
    case Font::kLargeBold:
      return Face::kLargeBold;
    default:
      return Face::kSmall;
  }
}

HINSTANCE Module() {
  return ::GetModuleHandleW(nullptr);
}

int ScreenDpi() {
  const HDC screen = ::GetDC(nullptr);
  const int dpi = screen != nullptr ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen != nullptr) ::ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HICON LoadIconResource(int id, int size) {
  return static_cast<HICON>(
      ::LoadImageW(Module(), MAKEINTRESOURCEW(id), IMAGE_ICON, size, size, LR_DEFAULTCOLOR));
}

SIZE IconSize(HICON icon) {
  SIZE size{0, 0};
  ICONINFO info{};
  if (icon == nullptr || !::GetIconInfo(icon, &info)) return size;
  BITMAP bitmap{};
  if (info.hbmColor != nullptr && ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap)) {
    size = {bitmap.bmWidth, bitmap.bmHeight};
  } else if (info.hbmMask != nullptr && ::GetObjectW(info.hbmMask, sizeof bitmap, &bitmap)) {
    size = {bitmap.bmWidth, bitmap.bmHeight / 2};  // a monochrome icon: mask and image
  }
  if (info.hbmColor != nullptr) ::DeleteObject(info.hbmColor);
  if (info.hbmMask != nullptr) ::DeleteObject(info.hbmMask);
  return size;
}

// Runs a model event from a window procedure.
template <typename F>
void Guard(F&& f) {
  try {
    f();
  } catch (...) {
    win32view::HoldException();
  }
}

thread_local std::vector<Win32Form1View*> tViews;
thread_local HHOOK tKeyHook = nullptr;

}  // namespace

std::array<std::pair<int, Button*>, 3> Win32Form1View::Buttons() {
  return {
      {{kCommand1, &form_.Command1}, {kCommand3, &form_.Command3}, {kCommand4, &form_.Command4}}};
}

int Win32Form1View::Px(int twips) const {
  return static_cast<int>(std::lround(twips * dpi_ / 1440.0));
}

Win32Form1View::Win32Form1View(Form1& form) : form_(form) {
  static const ATOM registered = [] {
    WNDCLASSEXW c{};
    c.cbSize = sizeof c;
    c.lpfnWndProc = Procedure;
    c.hInstance = Module();
    c.hCursor = ::LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    c.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    c.lpszClassName = kClassName;
    return ::RegisterClassExW(&c);
  }();
  if (registered == 0) throw std::runtime_error("Cannot register the window class");

  dpi_ = ScreenDpi();
  std::vector<FitSample> samples;
  auto room = [this](const Layout& l) {
    const int width = Px(l.width);
    switch (l.room) {
      case Room::kButton:
        return width - 8;
      case Room::kFrame:
        return width - 16;
      case Room::kDropDown:
        return width - ::GetSystemMetrics(SM_CXVSCROLL) - 8;
      default:
        return width;
    }
  };
  for (const Layout& l : kLayout) {
    if (l.text != nullptr && l.room != Room::kNone) {
      samples.push_back({l.text, FaceOf(l.font), room(l)});
    }
  }
  for (const LongText& t : kLongTexts) {
    const Layout& l = kLayout[t.index];
    samples.push_back({t.text, FaceOf(l.font), room(l)});
  }
  for (auto [index, button] : Buttons()) {
    const Layout& l = kLayout[index];
    samples.push_back({Utf8ToWide(button->Caption()), FaceOf(l.font), room(l)});
  }
  fonts_ = std::make_unique<MonospaceFonts>(dpi_, samples);
  valueBack_ = ::CreateSolidBrush(kValueBack);

  hwnd_ = ::CreateWindowExW(0, kClassName, Utf8ToWide(form_.caption).c_str(), kWindowStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, Px(6675), Px(4290), nullptr, nullptr,
                            Module(), this);
  if (hwnd_ == nullptr) {
    ::DeleteObject(valueBack_);
    throw std::runtime_error("Cannot create the window");
  }
  bigIcon_ = LoadIconResource(IDI_PASOTUNE, ::GetSystemMetrics(SM_CXICON));
  smallIcon_ = LoadIconResource(IDI_PASOTUNE, ::GetSystemMetrics(SM_CXSMICON));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  ::SendMessageW(hwnd_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));

  try {
    log_ = std::make_unique<LogList>(form_.List1, hwnd_, kCatchUpLog);
    log_->openLog = [this] { OpenRegistro(); };
    log_->caughtUp = [this] {
      if (registro_ != nullptr) registro_->CatchUp();
    };
    CreateControls();
    Bind();
  } catch (...) {
    ::DestroyWindow(hwnd_);
    log_.reset();
    ::DeleteObject(valueBack_);
    throw;
  }

  if (tViews.empty()) {
    tKeyHook = ::SetWindowsHookExW(WH_GETMESSAGE, KeyHook, nullptr, ::GetCurrentThreadId());
  }
  tViews.push_back(this);
}

Win32Form1View::~Win32Form1View() {
  // The model may outlive the window.
  for (Button* b : {&form_.Command1, &form_.Command3, &form_.Command4}) b->changed = nullptr;
  form_.HPORT.changed = nullptr;
  form_.ComboST.changed = nullptr;
  for (Label* l :
       {&form_.LabelSat, &form_.LabelTX, &form_.LabelModoTX, &form_.LabelRX, &form_.LabelModoRX}) {
    l->changed = nullptr;
  }
  form_.Shape1.changed = nullptr;
  form_.sizeChanged = nullptr;

  tViews.erase(std::remove(tViews.begin(), tViews.end(), this), tViews.end());
  if (tViews.empty() && tKeyHook != nullptr) {
    ::UnhookWindowsHookEx(tKeyHook);
    tKeyHook = nullptr;
  }
  destroyed = nullptr;
  registro_.reset();
  if (hwnd_ != nullptr) ::DestroyWindow(hwnd_);
  log_.reset();
  fonts_.reset();
  ::DeleteObject(valueBack_);
  for (HICON icon : {picture_, bigIcon_, smallIcon_}) {
    if (icon != nullptr) ::DestroyIcon(icon);
  }
}

const std::wstring& Win32Form1View::FontFamily() const {
  return fonts_->Family();
}

HWND Win32Form1View::Control(std::string_view name) const {
  for (int i = 0; i < kControls; ++i) {
    if (name == kLayout[i].name) return At(i);
  }
  return nullptr;
}

void Win32Form1View::CreateControls() {
  for (int i = 0; i < kControls; ++i) {
    const Layout& l = kLayout[i];
    int x = Px(l.left), y = Px(l.top);
    if (l.frame >= 0) {
      x += Px(kLayout[l.frame].left);
      y += Px(kLayout[l.frame].top);
    }
    int height = Px(l.height);
    // A drop-down list's window height includes its list when open.
    if (l.room == Room::kDropDown) height += 10 * LogList::RowHeight(fonts_->Get(FaceOf(l.font)));
    const HWND control = ::CreateWindowExW(
        l.exStyle, l.windowClass, l.text != nullptr ? l.text : L"", WS_CHILD | WS_VISIBLE | l.style,
        x, y, Px(l.width), height, hwnd_,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kFirstId + i)), Module(), nullptr);
    if (control == nullptr)
      throw std::runtime_error("Cannot create the control " + std::string(l.name));
    controls_[static_cast<std::size_t>(i)] = control;
    HFONT font = nullptr;
    if (l.font != Font::kNone) font = fonts_->Get(FaceOf(l.font));
    if (font != nullptr) ::SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    if (l.room == Room::kDropDown) {
      // The closed box gets the height laid out, through the height of its
      // field; how the two relate differs between systems (Wine adds two
      // pixels to what it is given), so measure and correct.
      int field = static_cast<int>(::SendMessageW(control, CB_GETITEMHEIGHT, -1, 0));
      for (int tries = 0; tries < 3; ++tries) {
        RECT now{};
        ::GetWindowRect(control, &now);
        const int missing = Px(l.height) - (now.bottom - now.top);
        if (missing == 0) break;
        field = std::max(1, field + missing);
        ::SendMessageW(control, CB_SETITEMHEIGHT, -1, field);
      }
    }
  }
  // Frames lie below what they hold, and are clipped by it.
  for (int frame : {kFrame1, kFrame2, kFrame3}) {
    ::SetWindowPos(At(frame), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  log_->Attach(At(kList1), fonts_->Get(Face::kSmall));
}

void Win32Form1View::Bind() {
  BindButton(form_.Command1, kCommand1);
  BindButton(form_.Command3, kCommand3);
  BindButton(form_.Command4, kCommand4);
  BindDropDown(form_.HPORT, kHPORT);
  BindDropDown(form_.ComboST, kComboST);
  BindLabel(form_.LabelSat, kLabelSat);
  BindLabel(form_.LabelTX, kLabelTX);
  BindLabel(form_.LabelModoTX, kLabelModoTX);
  BindLabel(form_.LabelRX, kLabelRX);
  BindLabel(form_.LabelModoRX, kLabelModoRX);
  form_.Shape1.changed = [this] { ::InvalidateRect(At(kShape1), nullptr, FALSE); };
  form_.sizeChanged = [this] { ApplySize(); };
  ApplySize();
}

void Win32Form1View::BindButton(Button& model, int index) {
  model.changed = [this, &model, index] {
    const HWND button = At(index);
    const std::wstring caption = Utf8ToWide(model.Caption());
    if (WindowText(button) != caption) ::SetWindowTextW(button, caption.c_str());
    SetEnabled(button, model.Enabled());
    if (index == kCommand1) {
      ShowPicture();
      ::InvalidateRect(button, nullptr, FALSE);
    }
  };
  model.changed();
}

void Win32Form1View::BindDropDown(DropDown& model, int index) {
  model.changed = [this, &model, index] {
    const HWND box = At(index);
    const std::vector<std::string>& items = model.Items();
    const auto count = static_cast<int>(items.size());
    int shown = static_cast<int>(::SendMessageW(box, CB_GETCOUNT, 0, 0));
    // Usually the model only grew: keep what matches, add the rest.
    bool prefix = shown <= count;
    std::vector<wchar_t> text;
    for (int i = 0; prefix && i < shown; ++i) {
      text.assign(static_cast<std::size_t>(::SendMessageW(box, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
      ::SendMessageW(box, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()));
      prefix = Utf8ToWide(items[static_cast<std::size_t>(i)]) == text.data();
    }
    if (!prefix) {
      ::SendMessageW(box, CB_RESETCONTENT, 0, 0);
      shown = 0;
    }
    for (int i = shown; i < count; ++i) {
      ::SendMessageW(
          box, CB_ADDSTRING, 0,
          reinterpret_cast<LPARAM>(Utf8ToWide(items[static_cast<std::size_t>(i)]).c_str()));
    }
    // Showing the model's choice raises no selection event.
    ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(model.ListIndex()), 0);
    SetEnabled(box, model.Enabled());
  };
  model.changed();
}

void Win32Form1View::BindLabel(Label& model, int index) {
  model.changed = [this, &model, index] {
    ::SetWindowTextW(At(index), Utf8ToWide(model.Caption()).c_str());
  };
  model.changed();
}

void Win32Form1View::SetEnabled(HWND control, bool enabled) {
  if (static_cast<bool>(::IsWindowEnabled(control)) == enabled) return;
  // Focus on a disabled control would leave the keyboard with nowhere to go.
  if (!enabled && ::GetFocus() == control) {
    const HWND next = ::GetNextDlgTabItem(hwnd_, control, FALSE);
    ::SetFocus(next != control ? next : hwnd_);
  }
  ::EnableWindow(control, enabled);
}

void Win32Form1View::ShowPicture() {
  const std::string& bytes = form_.Command1.Picture();
  if (pictureShown_ && bytes == pictureBytes_) return;
  const HICON icon = bytes.empty() ? LoadIconResource(IDI_BUILTIN_PICTURE, 16)
                                   : win32view::IconFromFile(bytes, ::MulDiv(32, dpi_, 96));
  if (icon == nullptr) return;  // an unreadable picture keeps the last one
  if (picture_ != nullptr) ::DestroyIcon(picture_);
  picture_ = icon;
  pictureBytes_ = bytes;
  pictureShown_ = true;
}

void Win32Form1View::ApplySize() {
  if (form_.width <= 0 || form_.height <= 0) return;
  ::SetWindowPos(hwnd_, nullptr, 0, 0, Px(form_.width), Px(form_.height),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void Win32Form1View::ShowCentred() {
  if (!shown_) {
    RECT outer{};
    ::GetWindowRect(hwnd_, &outer);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (::GetMonitorInfoW(::MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
      const RECT& work = monitor.rcWork;
      const int x = work.left + ((work.right - work.left) - (outer.right - outer.left)) / 2;
      const int y = work.top + ((work.bottom - work.top) - (outer.bottom - outer.top)) / 2;
      ::SetWindowPos(hwnd_, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    shown_ = true;
  }
  ::ShowWindow(hwnd_, SW_SHOW);
  ::UpdateWindow(hwnd_);
}

void Win32Form1View::OpenRegistro() {
  if (hwnd_ == nullptr) return;
  if (registro_ == nullptr || !registro_->Open()) {
    registro_.reset();
    registro_ = std::make_unique<win32view::RegistroWindow>(
        form_.List1, hwnd_, fonts_->Get(Face::kSmall), fonts_->Get(Face::kSmallBold), bigIcon_,
        smallIcon_);
  }
  registro_->Show();
}

win32view::RegistroWindow* Win32Form1View::Registro() const {
  return registro_ != nullptr && registro_->Open() ? registro_.get() : nullptr;
}

Button* Win32Form1View::ButtonOf(HWND control) {
  for (auto [index, button] : Buttons()) {
    if (control != nullptr && At(index) == control) return button;
  }
  return nullptr;
}

void Win32Form1View::OnCommand(int id, int code, HWND from) {
  if (inDialogKey_ && (id == IDOK || code == BN_CLICKED)) {
    // Enter, taken from inside the message hook: the click runs from the
    // queue like any other, not inside the system's PeekMessage.
    const HWND button = id == IDOK ? ::GetFocus() : from;
    if (id == IDOK && button == At(kList1)) ::PostMessageW(hwnd_, kOpenRegistro, 0, 0);
    if (ButtonOf(button) != nullptr) {
      ::PostMessageW(hwnd_, WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(button), BN_CLICKED),
                     reinterpret_cast<LPARAM>(button));
    }
    return;
  }
  if (id == IDOK) {
    if (::GetFocus() == At(kList1)) Guard([this] { OpenRegistro(); });
    if (Button* b = ButtonOf(::GetFocus())) Guard([b] { b->Click(); });
    return;
  }
  switch (id - kFirstId) {
    case kCommand1:
    case kCommand3:
    case kCommand4:
      if (code == BN_CLICKED) {
        if (Button* b = ButtonOf(from)) Guard([b] { b->Click(); });
      }
      break;
    case kHPORT:
    case kComboST:
      if (code == CBN_SELCHANGE) {
        DropDown& model = id - kFirstId == kHPORT ? form_.HPORT : form_.ComboST;
        const auto index = static_cast<int>(::SendMessageW(from, CB_GETCURSEL, 0, 0));
        if (index != CB_ERR) Guard([&model, index] { model.Choose(index); });
      }
      break;
    case kList1:
      if (code == LBN_SELCHANGE) Guard([this] { log_->UserSelected(); });
      if (code == LBN_DBLCLK) Guard([this] { OpenRegistro(); });
      break;
    default:
      break;
  }
}

void Win32Form1View::DrawCommand1(const DRAWITEMSTRUCT& item) const {
  const HDC dc = item.hDC;
  RECT face = item.rcItem;
  const bool pushed = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  ::DrawFrameControl(dc, &face, DFC_BUTTON, DFCS_BUTTONPUSH | (pushed ? DFCS_PUSHED : 0));
  const int shift = pushed ? 1 : 0;

  const std::wstring caption = WindowText(item.hwndItem);
  const HGDIOBJ oldFont = ::SelectObject(dc, fonts_->Get(Face::kSmallBold));
  SIZE text{};
  ::GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &text);
  const SIZE picture = IconSize(picture_);
  constexpr int kGap = 2;
  const int width = face.right - face.left, height = face.bottom - face.top;
  const int top = face.top + (height - picture.cy - kGap - text.cy) / 2 + shift;
  if (picture_ != nullptr) {
    ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(picture_), 0,
                 face.left + (width - picture.cx) / 2 + shift, top, picture.cx, picture.cy,
                 DST_ICON | (disabled ? DSS_DISABLED : DSS_NORMAL));
  }
  RECT where{face.left + 4 + shift, top + picture.cy + kGap, face.right - 4 + shift,
             top + picture.cy + kGap + text.cy};
  const int oldMode = ::SetBkMode(dc, TRANSPARENT);
  const UINT format = DT_CENTER | DT_TOP | DT_SINGLELINE | DT_NOPREFIX;
  if (disabled) {
    // Engraved, as the system draws a disabled button's caption.
    RECT light = where;
    ::OffsetRect(&light, 1, 1);
    ::SetTextColor(dc, ::GetSysColor(COLOR_3DHILIGHT));
    ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &light, format);
    ::SetTextColor(dc, ::GetSysColor(COLOR_GRAYTEXT));
  } else {
    ::SetTextColor(dc, ::GetSysColor(COLOR_BTNTEXT));
  }
  ::DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &where, format);
  ::SetBkMode(dc, oldMode);
  ::SelectObject(dc, oldFont);
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0) {
    RECT focus = item.rcItem;
    ::InflateRect(&focus, -4, -4);
    ::DrawFocusRect(dc, &focus);
  }
}

void Win32Form1View::DrawLamp(const DRAWITEMSTRUCT& item) const {
  // The model's colour number is red + 256 green + 65536 blue, as COLORREF.
  const HBRUSH fill =
      ::CreateSolidBrush(static_cast<COLORREF>(form_.Shape1.FillColor()) & 0xFFFFFF);
  ::FillRect(item.hDC, &item.rcItem, fill);
  ::DeleteObject(fill);
  ::FrameRect(item.hDC, &item.rcItem, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
}

void Win32Form1View::OnDraw(const DRAWITEMSTRUCT& item) {
  switch (static_cast<int>(item.CtlID) - kFirstId) {
    case kCommand1:
      DrawCommand1(item);
      break;
    case kShape1:
      DrawLamp(item);
      break;
    case kList1:
      log_->Draw(item);
      break;
    default:
      break;
  }
}

LRESULT Win32Form1View::OnColour(HDC dc, HWND control) {
  if (control == At(kList1)) return reinterpret_cast<LRESULT>(log_->Colours(dc));
  COLORREF text = 0;
  if (control == At(kLabelSat)) {
    text = kGreen;
  } else if (control == At(kLabelTX) || control == At(kLabelRX)) {
    text = kDarkBlue;
  } else if (control == At(kLabelModoTX) || control == At(kLabelModoRX)) {
    text = kRed;
  } else {
    return -1;  // the window's normal colours
  }
  ::SetTextColor(dc, text);
  ::SetBkColor(dc, kValueBack);
  return reinterpret_cast<LRESULT>(valueBack_);
}

LRESULT CALLBACK Win32Form1View::Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    auto* view = static_cast<Win32Form1View*>(create->lpCreateParams);
    view->hwnd_ = hwnd;
    ::SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(view));
  }
  auto* view = reinterpret_cast<Win32Form1View*>(::GetWindowLongPtrW(hwnd, GWLP_USERDATA));
  if (view == nullptr) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return view->Handle(message, wParam, lParam);
}

LRESULT Win32Form1View::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
      return 0;
    case WM_DRAWITEM:
      OnDraw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
      if (static_cast<int>(item->CtlID) == kFirstId + kList1) {
        item->itemHeight = static_cast<UINT>(LogList::RowHeight(fonts_->Get(Face::kSmall)));
        return TRUE;
      }
      break;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORLISTBOX: {
      const LRESULT brush = OnColour(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
      if (brush != -1) return brush;
      break;
    }
    case kCatchUpLog:
      Guard([this] { log_->CatchUp(); });
      return 0;
    case kOpenRegistro:
      Guard([this] { OpenRegistro(); });
      return 0;
    case WM_CONTEXTMENU:
      if (reinterpret_cast<HWND>(wParam) == At(kList1)) {
        Guard([this, lParam] { log_->ContextMenu(lParam); });
        return 0;
      }
      break;
    case WM_NEXTDLGCTL: {
      // Sent by the dialog keys (IsDialogMessage) for the arrow keys.
      const HWND target = LOWORD(lParam) != 0
                              ? reinterpret_cast<HWND>(wParam)
                              : ::GetNextDlgTabItem(hwnd_, ::GetFocus(), wParam != 0);
      if (target != nullptr && ::IsChild(hwnd_, target) &&
          (::GetWindowLongW(target, GWL_STYLE) & WS_TABSTOP) != 0) {
        ::SetFocus(target);
      }
      return 0;
    }
    case WM_ACTIVATE:
      // The keyboard focus comes back where it was when the window left.
      if (LOWORD(wParam) == WA_INACTIVE) {
        const HWND focus = ::GetFocus();
        if (focus != nullptr && ::IsChild(hwnd_, focus)) lastFocus_ = focus;
      } else if (HIWORD(wParam) == 0) {
        HWND focus = lastFocus_;
        if (focus == nullptr || !::IsWindow(focus) || !::IsWindowEnabled(focus)) {
          focus = ::GetNextDlgTabItem(hwnd_, nullptr, FALSE);
        }
        if (focus != nullptr) ::SetFocus(focus);
        return 0;
      }
      break;
    case WM_CLOSE:
      // Every close request is the model's to refuse.
      Guard([this] {
        if (form_.RequestClose()) ::DestroyWindow(hwnd_);
      });
      return 0;
    case WM_QUERYENDSESSION: {
      bool close = false;
      Guard([this, &close] { close = form_.RequestClose(); });
      return close ? TRUE : FALSE;
    }
    case WM_DESTROY:
      ::SetWindowLongPtrW(hwnd_, GWLP_USERDATA, 0);
      hwnd_ = nullptr;
      if (destroyed) Guard(destroyed);
      return 0;
    default:
      break;
  }
  return ::DefWindowProcW(hwnd_, message, wParam, lParam);
}

// The keys a dialog box answers (Tab, Enter, the arrows) taken from the
// thread's queue for the window, whoever pumps it.
LRESULT CALLBACK Win32Form1View::KeyHook(int code, WPARAM wParam, LPARAM lParam) {
  if (code == HC_ACTION && wParam == PM_REMOVE) {
    auto* msg = reinterpret_cast<MSG*>(lParam);
    if (msg->message == WM_KEYDOWN) {
      for (Win32Form1View* view : tViews) {
        if (view->TakeDialogKey(*msg)) {
          msg->message = WM_NULL;
          break;
        }
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Win32Form1View::TakeDialogKey(MSG& msg) {
  // The Registro window takes its keys as a dialog box does too.
  HWND dialog = hwnd_;
  if (const win32view::RegistroWindow* registro = Registro();
      registro != nullptr &&
      (msg.hwnd == registro->Handle() || ::IsChild(registro->Handle(), msg.hwnd))) {
    dialog = registro->Handle();
  }
  if (dialog == nullptr || (msg.hwnd != dialog && !::IsChild(dialog, msg.hwnd))) return false;
  const WPARAM key = msg.wParam;
  const bool arrow = key == VK_LEFT || key == VK_RIGHT || key == VK_UP || key == VK_DOWN;
  if (key != VK_TAB && key != VK_RETURN && key != VK_ESCAPE && !arrow) return false;
  // What the control keeps for itself (a list's arrows, an open drop-down's
  // Enter) it gets as usual.
  const LRESULT wants =
      ::SendMessageW(msg.hwnd, WM_GETDLGCODE, key, reinterpret_cast<LPARAM>(&msg));
  if ((wants & DLGC_WANTMESSAGE) != 0 || (key == VK_TAB && (wants & DLGC_WANTTAB) != 0) ||
      (arrow && (wants & DLGC_WANTARROWS) != 0)) {
    return false;
  }
  inDialogKey_ = dialog == hwnd_;
  const BOOL taken = ::IsDialogMessageW(dialog, &msg);
  inDialogKey_ = false;
  return taken != FALSE;
}

}  // namespace pasotune
