// Where the controls sit, how they look, and the window around them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <string>
#include <vector>

#include "sim_window.hpp"
#include "view/win32/monospace.hpp"

namespace pasotune::test {
namespace {

// Left, top, width and height in twips in the window's client area: a
// framed control's place inside its frame plus the frame's place.
struct Placed {
  const char* name;
  int left, top, width, height;
};

const Placed kLayout[] = {
    {"Frame1", 120, 120, 1815, 1815},      {"HPORT", 240, 480, 1095, 345},
    {"Shape1", 1495, 520, 255, 255},       {"Command1", 240, 960, 1575, 855},
    {"Frame3", 120, 1920, 1815, 1815},     {"ComboST", 480, 2280, 1095, 345},
    {"Command3", 240, 2760, 1575, 375},    {"Command4", 240, 3240, 1575, 375},
    {"List1", 2040, 240, 4455, 1635},      {"Frame2", 2040, 1920, 4455, 1815},
    {"Label1", 2160, 2280, 1215, 375},     {"LabelSat", 3480, 2280, 2775, 255},
    {"Label2", 2400, 2760, 975, 375},      {"LabelTX", 3480, 2760, 1935, 255},
    {"LabelModoTX", 5400, 2760, 975, 255}, {"Label3", 2160, 3120, 1215, 375},
    {"LabelRX", 3480, 3120, 1935, 255},    {"LabelModoRX", 5400, 3120, 975, 255},
};

// 15 twips a pixel at 96 DPI.
LONG Px(int twips) {
  return std::lround(twips / 15.0);
}

TEST(Layout, EachControlSitsWhereItsTwipsSayAt96Dpi) {
  SimWindow w;
  ASSERT_EQ(w.view->Dpi(), 96);
  for (const Placed& p : kLayout) {
    SCOPED_TRACE(p.name);
    ASSERT_NE(w.Get(p.name), nullptr);
    const RECT r = w.ClientRect(p.name);
    EXPECT_EQ(r.left, Px(p.left));
    EXPECT_EQ(r.top, Px(p.top));
    EXPECT_EQ(r.right - r.left, Px(p.width));
    EXPECT_EQ(r.bottom - r.top, Px(p.height));  // the drop-downs closed
  }
}

TEST(Window, CaptionIconFixedSizeCentredAndTwoControlsOutOfSight) {
  SimWindow w;
  const HWND form = w.view->Handle();
  EXPECT_EQ(win32view::WindowText(form), L"Pasotune 1.0");
  const LONG style = ::GetWindowLongW(form, GWL_STYLE);
  EXPECT_EQ(style & (WS_THICKFRAME | WS_MAXIMIZEBOX), 0);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0);

  for (const auto& [which, metric] : {std::pair{ICON_BIG, SM_CXICON}, {ICON_SMALL, SM_CXSMICON}}) {
    const auto icon = reinterpret_cast<HICON>(::SendMessageW(form, WM_GETICON, which, 0));
    ASSERT_NE(icon, nullptr) << which;
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(icon, &info));
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    EXPECT_EQ(bitmap.bmWidth, ::GetSystemMetrics(metric));
    EXPECT_EQ(bitmap.bmBitsPixel, 32);  // drawn with its alpha
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
  }

  w.view->ShowCentred();
  RECT outer{};
  ::GetWindowRect(form, &outer);
  EXPECT_EQ(outer.right - outer.left, Px(6675));
  EXPECT_EQ(outer.bottom - outer.top, Px(4290));
  MONITORINFO monitor{};
  monitor.cbSize = sizeof monitor;
  ASSERT_TRUE(::GetMonitorInfoW(::MonitorFromWindow(form, MONITOR_DEFAULTTOPRIMARY), &monitor));
  EXPECT_NEAR((outer.left + outer.right) / 2.0, (monitor.rcWork.left + monitor.rcWork.right) / 2.0,
              1);
  EXPECT_NEAR((outer.top + outer.bottom) / 2.0, (monitor.rcWork.top + monitor.rcWork.bottom) / 2.0,
              1);
  EXPECT_TRUE(::IsWindowVisible(form));

  RECT client{};
  ::GetClientRect(form, &client);
  for (const char* name : {"Frame1", "Frame2", "Frame3", "List1"}) {
    const RECT r = w.ClientRect(name);
    EXPECT_TRUE(r.right <= client.right && r.bottom <= client.bottom) << name << " fits";
  }
  // The two controls beyond the edges are the model's alone: no window to
  // take the focus or draw the tracker's raw text.
  for (const char* hidden : {"Command2", "txtDDE"}) EXPECT_EQ(w.Get(hidden), nullptr) << hidden;
}

struct Typeface {
  const char* name;
  int pixels;  // 9.75 points is 13 pixels at 96 DPI, 12 points 16
  bool bold;
};

const Typeface kTypefaces[] = {
    {"Frame1", 13, true},    {"HPORT", 13, true},        {"Command1", 13, true},
    {"Frame3", 13, true},    {"ComboST", 13, true},      {"Command3", 13, false},
    {"Command4", 13, false}, {"List1", 13, false},       {"Frame2", 16, false},
    {"Label1", 16, false},   {"LabelSat", 16, true},     {"Label2", 16, false},
    {"LabelTX", 16, false},  {"LabelModoTX", 16, false}, {"Label3", 16, false},
    {"LabelRX", 16, false},  {"LabelModoRX", 16, false},
};

// What room a control leaves its caption, as the system draws it.
int Room(const SimWindow& w, const char* name) {
  const RECT r = w.ClientRect(name);
  const int width = r.right - r.left;
  const std::string n = name;
  if (n.rfind("Command", 0) == 0) return width - 8;
  if (n.rfind("Frame", 0) == 0) return width - 16;
  if (n == "HPORT" || n == "ComboST") return width - ::GetSystemMetrics(SM_CXVSCROLL) - 8;
  return width;
}

void ExpectCaptionsFit(const SimWindow& w) {
  const HDC dc = ::CreateCompatibleDC(nullptr);
  for (const Typeface& t : kTypefaces) {
    if (std::string(t.name) == "List1") continue;  // log lines have no bound
    const HWND control = w.Get(t.name);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const HGDIOBJ old = ::SelectObject(dc, font);
    const std::wstring text = win32view::WindowText(control);
    SIZE extent{};
    ::GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    ::SelectObject(dc, old);
    EXPECT_LE(extent.cx, Room(w, t.name)) << t.name << " \"" << WideToUtf8(text) << "\"";
  }
  ::DeleteDC(dc);
}

TEST(Fonts, MonospacedAtTheGivenSizesAndWeightsKeepingEveryCaptionInside) {
  SimWindow w;
  const bool consolas = win32view::MonospaceFonts::Installed(L"Consolas");
  if (consolas) {
    EXPECT_EQ(w.view->FontFamily(), L"Consolas");
  }
  std::printf("the controls are written in %s\n", WideToUtf8(w.view->FontFamily()).c_str());
  const HDC dc = ::CreateCompatibleDC(nullptr);
  for (const Typeface& t : kTypefaces) {
    SCOPED_TRACE(t.name);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(w.Get(t.name), WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr);
    LOGFONTW logical{};
    ::GetObjectW(font, sizeof logical, &logical);
    EXPECT_EQ(logical.lfHeight, -t.pixels);
    EXPECT_EQ(logical.lfWeight, t.bold ? FW_BOLD : FW_NORMAL);
    const HGDIOBJ old = ::SelectObject(dc, font);
    wchar_t face[LF_FACESIZE] = {};
    ::GetTextFaceW(dc, LF_FACESIZE, face);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    ::SelectObject(dc, old);
    EXPECT_EQ(std::wstring(face), w.view->FontFamily());
    EXPECT_EQ(metrics.tmPitchAndFamily & TMPF_FIXED_PITCH, 0) << "fixed pitch";
    // Some families' regular face is a little heavier than 400.
    EXPECT_EQ(metrics.tmWeight >= FW_SEMIBOLD, t.bold) << metrics.tmWeight;
  }
  ::DeleteDC(dc);

  // At the start, and with the longest captions the running program gives.
  ExpectCaptionsFit(w);
  w.world.RunFor(2100);
  ::SendMessageW(w.Get("Command1"), BM_CLICK, 0, 0);
  ASSERT_EQ(w.Text("Command1"), L"Desconectar");
  w.Pick("ComboST", 9);  // "100.0"
  ASSERT_EQ(w.Text("Command3"), L"CTCSS 100.0");
  w.world.Record("SNAO-07 DN2147483647 UP2147483647 DMUSB UMUSB");
  ASSERT_EQ(w.Text("LabelTX"), L"2147.483647");
  ExpectCaptionsFit(w);
}

TEST(Fonts, WhereNoFamilyFitsTheNearestIsNarrowedAtTheSameHeights) {
  if (win32view::MonospaceFonts::Installed(L"Consolas"))
    GTEST_SKIP() << "Consolas is taken as it is";
  using win32view::Face;
  // Nine characters in 54 pixels: 6 a character, where monospaced fonts of
  // 16 pixels take 8 to 10.
  const std::vector<win32view::FitSample> tight = {{L"Sat\u00e9lite:", Face::kLarge, 54},
                                                   {L"COM20", Face::kSmallBold, 40}};
  win32view::MonospaceFonts fonts(96, tight);
  const auto candidates = win32view::MonospaceFonts::Candidates();
  EXPECT_NE(std::find(candidates.begin(), candidates.end(), fonts.Family()), candidates.end());
  std::array<HFONT, 4> all{};
  for (Face f : {Face::kSmall, Face::kSmallBold, Face::kLarge, Face::kLargeBold}) {
    all[static_cast<std::size_t>(f)] = fonts.Get(f);
  }
  EXPECT_LE(win32view::MonospaceFonts::Overflow(all, tight), 1.0);
  LOGFONTW large{};
  ::GetObjectW(fonts.Get(Face::kLarge), sizeof large, &large);
  EXPECT_EQ(large.lfHeight, -16);
  EXPECT_GT(large.lfWidth, 0);
  EXPECT_LE(large.lfWidth, 6);
}

struct Colours {
  const char* name;
  UINT message;
  COLORREF text;
  COLORREF background;
};

TEST(Looks, TextAndBackgroundColoursOfTheLogAndLabels) {
  SimWindow w;
  const COLORREF face = ::GetSysColor(COLOR_BTNFACE), normal = ::GetSysColor(COLOR_WINDOWTEXT);
  const COLORREF grey = RGB(224, 224, 224);
  const HDC dc = ::CreateCompatibleDC(nullptr);
  for (const Colours& c : {Colours{"Label1", WM_CTLCOLORSTATIC, normal, face},
                           Colours{"Label2", WM_CTLCOLORSTATIC, normal, face},
                           Colours{"Label3", WM_CTLCOLORSTATIC, normal, face},
                           Colours{"LabelSat", WM_CTLCOLORSTATIC, RGB(0, 128, 0), grey},
                           Colours{"LabelTX", WM_CTLCOLORSTATIC, RGB(0, 0, 128), grey},
                           Colours{"LabelRX", WM_CTLCOLORSTATIC, RGB(0, 0, 128), grey},
                           Colours{"LabelModoTX", WM_CTLCOLORSTATIC, RGB(255, 0, 0), grey},
                           Colours{"LabelModoRX", WM_CTLCOLORSTATIC, RGB(255, 0, 0), grey},
                           Colours{"List1", WM_CTLCOLORLISTBOX, RGB(0, 255, 0), RGB(64, 64, 64)}}) {
    SCOPED_TRACE(c.name);
    ::SetTextColor(dc, normal);
    const auto brush = reinterpret_cast<HBRUSH>(
        ::SendMessageW(w.view->Handle(), c.message, reinterpret_cast<WPARAM>(dc),
                       reinterpret_cast<LPARAM>(w.Get(c.name))));
    LOGBRUSH fill{};
    ASSERT_TRUE(::GetObjectW(brush, sizeof fill, &fill));
    EXPECT_EQ(fill.lbColor, c.background);
    EXPECT_EQ(::GetTextColor(dc), c.text);
  }
  ::DeleteDC(dc);
  const LONG style = ::GetWindowLongW(w.Get("Label1"), GWL_STYLE);
  EXPECT_EQ(style & SS_TYPEMASK, SS_RIGHT);
  EXPECT_EQ(::GetWindowLongW(w.Get("LabelTX"), GWL_STYLE) & SS_TYPEMASK, SS_LEFT);
  EXPECT_EQ(::GetWindowLongW(w.Get("LabelModoRX"), GWL_STYLE) & SS_TYPEMASK, SS_CENTER);
  for (const char* frame : {"Frame1", "Frame2", "Frame3"}) {
    EXPECT_EQ(::GetWindowLongW(w.Get(frame), GWL_STYLE) & BS_TYPEMASK, BS_GROUPBOX) << frame;
  }
}

TEST(Looks, TheLampPaintsTheModelsFillColour) {
  SimWindow w;
  struct Fill {
    std::int32_t model;
    COLORREF shown;
  };
  for (const Fill& f :
       {Fill{64, RGB(64, 0, 0)}, Fill{255, RGB(255, 0, 0)}, Fill{256 * 200, RGB(0, 200, 0)},
        Fill{65536 * 128 + 1, RGB(1, 0, 128)}, Fill{64, RGB(64, 0, 0)}}) {
    w.form.Shape1.SetFillColor(f.model);
    Canvas canvas(17, 17);
    w.Draw("Shape1", canvas);
    EXPECT_EQ(canvas.At(8, 8), f.shown) << f.model;
    EXPECT_EQ(canvas.At(0, 0), RGB(0, 0, 0)) << "outline";
  }
}

// The colour of the picture's disc, beside its arrow or cross: red for
// cancel.ico, green for the arrow.
COLORREF DiscColour(HICON picture) {
  ICONINFO info{};
  ::GetIconInfo(picture, &info);
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  Canvas alone(bitmap.bmWidth, bitmap.bmHeight);
  ::DrawIconEx(alone.Dc(), 0, 0, picture, 0, 0, 0, nullptr, DI_NORMAL);
  return alone.At(bitmap.bmWidth * 2 / 10, bitmap.bmHeight * 7 / 10);
}

TEST(Looks, Command1sPictureFromTheFilesBytesOrBuiltInKeepingTheLastOnBadData) {
  SimWindow w(false);
  const std::string cancel = Resource("cancel.ico"), up = Resource("up2.ico");
  ASSERT_GT(cancel.size(), 1000u);
  std::string outside = cancel;  // the first image said to lie past the end
  outside[18] = '\x7f';
  outside[19] = '\x7f';
  struct Step {
    const char* what;
    std::string bytes;
    int size;  // of the picture shown
    bool red;  // cancel.ico's disc, or else the green arrow's
  };
  for (const Step& s :
       {Step{"built in", "", 16, false}, Step{"cancel.ico", cancel, 32, true},
        Step{"not a picture", "not a picture", 32, true},
        Step{"cut short", cancel.substr(0, 300), 32, true}, Step{"up2.ico", up, 32, false},
        Step{"cancel again", cancel, 32, true}, Step{"outside the file", outside, 16, true},
        Step{"built in", "", 16, false}}) {
    SCOPED_TRACE(s.what);
    w.form.Command1.SetPicture(s.bytes);
    ASSERT_NE(w.view->Picture(), nullptr);
    ICONINFO info{};
    ASSERT_TRUE(::GetIconInfo(w.view->Picture(), &info));
    BITMAP bitmap{};
    ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    EXPECT_EQ(bitmap.bmWidth, s.size);
    const COLORREF disc = DiscColour(w.view->Picture());
    EXPECT_EQ(GetRValue(disc) > 150, s.red);
    EXPECT_EQ(GetGValue(disc) > 100, !s.red);
  }
}

TEST(Looks, Command1DrawsItsPictureAboveItsCaption) {
  SimWindow w;
  w.world.RunFor(2100);  // enabled, so drawn in colour
  ASSERT_TRUE(w.Enabled("Command1"));
  Canvas canvas(105, 57);
  w.Draw("Command1", canvas);
  int lastPictureRow = -1, firstTextRow = -1;
  for (int y = 3; y < 54; ++y) {
    bool green = false, text = false;
    for (int x = 6; x < 99; ++x) {
      const COLORREF c = canvas.At(x, y);
      green |= GetGValue(c) > 100 && GetRValue(c) < 80 && GetBValue(c) < 80;
      text |= c == ::GetSysColor(COLOR_BTNTEXT);
    }
    if (green) lastPictureRow = y;
    if (text && firstTextRow < 0) firstTextRow = y;
  }
  EXPECT_GE(lastPictureRow, 0);
  EXPECT_GT(firstTextRow, lastPictureRow);
}

}  // namespace
}  // namespace pasotune::test
