#include "sim_window.hpp"

#include <fstream>
#include <iterator>

namespace pasotune::test {

std::string Resource(const char* name) {
  std::ifstream in(std::string(PASOTUNE_TEST_RESOURCES) + "/" + name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void PumpMessages() {
  MSG msg;
  while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageW(&msg);
  }
}

Canvas::Canvas(int width, int height) : width_(width), height_(height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  dc_ = ::CreateCompatibleDC(nullptr);
  bitmap_ = ::CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  old_ = ::SelectObject(dc_, bitmap_);
  RECT all{0, 0, width, height};
  ::FillRect(dc_, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
}

Canvas::~Canvas() {
  ::SelectObject(dc_, old_);
  ::DeleteObject(bitmap_);
  ::DeleteDC(dc_);
}

int Canvas::Count(COLORREF colour, int tolerance) const {
  auto close = [tolerance](int a, int b) { return a - b <= tolerance && b - a <= tolerance; };
  int n = 0;
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const COLORREF c = At(x, y);
      n += close(GetRValue(c), GetRValue(colour)) && close(GetGValue(c), GetGValue(colour)) &&
                   close(GetBValue(c), GetBValue(colour))
               ? 1
               : 0;
    }
  }
  return n;
}

SimWindow::SimWindow(bool load) {
  world.folder.Write("cancel.ico", Resource("cancel.ico"));
  world.folder.Write("up2.ico", Resource("up2.ico"));
  view = std::make_unique<Win32Form1View>(form);
  if (load) world.app.Load();
}

SimWindow::~SimWindow() {
  view.reset();
  PumpMessages();
  win32view::HeldException() = nullptr;
}

HWND SimWindow::Get(std::string_view name) const {
  return view->Control(name);
}

std::wstring SimWindow::Text(std::string_view name) const {
  return win32view::WindowText(Get(name));
}

RECT SimWindow::ClientRect(std::string_view name) const {
  RECT r{};
  ::GetWindowRect(Get(name), &r);
  ::MapWindowPoints(nullptr, view->Handle(), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

void SimWindow::Draw(std::string_view name, Canvas& canvas, UINT itemId, UINT state) const {
  const HWND control = Get(name);
  DRAWITEMSTRUCT item{};
  item.CtlType = ODT_BUTTON;
  item.CtlID = static_cast<UINT>(::GetDlgCtrlID(control));
  item.itemID = itemId;
  item.itemAction = ODA_DRAWENTIRE;
  item.itemState = state | (::IsWindowEnabled(control) ? 0 : ODS_DISABLED);
  item.hwndItem = control;
  item.hDC = canvas.Dc();
  RECT r{};
  ::GetClientRect(control, &r);
  if (name == "List1") {
    item.CtlType = ODT_LISTBOX;
    const auto height = static_cast<int>(::SendMessageW(control, LB_GETITEMHEIGHT, 0, 0));
    r.bottom = height;
  }
  item.rcItem = r;
  ::SendMessageW(view->Handle(), WM_DRAWITEM, item.CtlID, reinterpret_cast<LPARAM>(&item));
}

void SimWindow::Pick(std::string_view name, int index) const {
  const HWND box = Get(name);
  ::SendMessageW(box, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  ::SendMessageW(view->Handle(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(box), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(box));
}

void SimWindow::Key(WPARAM key) const {
  const HWND focus = ::GetFocus();
  ::PostMessageW(focus, WM_KEYDOWN, key, 1);
  ::PostMessageW(focus, WM_KEYUP, key, 1u | 3u << 30);
  PumpMessages();
}

std::string SimWindow::FocusName() const {
  const HWND focus = ::GetFocus();
  for (const char* name : {"List1", "HPORT", "Command1", "Command3", "ComboST", "Command4"}) {
    if (Get(name) == focus) return name;
  }
  return focus == view->Handle() ? "Form1" : "?";
}

}  // namespace pasotune::test
