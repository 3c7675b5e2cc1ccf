// The activity log: drawn from the model, caught up once per turn of the
// message loop, the newest line selected and in sight however long it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "sim_window.hpp"

// After <windows.h>, which sim_window.hpp brings.
#include <commctrl.h>

namespace pasotune::test {
namespace {

struct LogTest : ::testing::Test {
  SimWindow w;
  HWND list = w.Get("List1");

  LRESULT Send(UINT message, WPARAM wParam = 0) const {
    return ::SendMessageW(list, message, wParam, 0);
  }
  int VisibleRows() const {
    RECT client{};
    ::GetClientRect(list, &client);
    return static_cast<int>(client.bottom / Send(LB_GETITEMHEIGHT));
  }
  bool InSight(long row) const {
    const auto top = static_cast<long>(Send(LB_GETTOPINDEX));
    return row >= top && row < top + VisibleRows();
  }
};

TEST_F(LogTest, TheNewestOfAHundredThousandLinesIsSelectedAndInSight) {
  w.view->ShowCentred();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100'000; ++i) {
    w.world.app.channel.AgregarLog("SET FREQ SUB 145.9" + std::to_string(i));
  }
  // Nothing reaches the list box until the message loop turns.
  EXPECT_EQ(Send(LB_GETCOUNT), 0);
  PumpMessages();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::printf("100,000 lines logged and shown in %.0f ms\n", ms);
  RecordProperty("ms", static_cast<int>(ms));

  EXPECT_EQ(Send(LB_GETCOUNT), 100'000);
  EXPECT_EQ(Send(LB_GETCURSEL), 99'999);
  EXPECT_TRUE(InSight(99'999));
  EXPECT_FALSE(InSight(0));
  EXPECT_GE(VisibleRows(), 5);

  // A line more, and the user's own choice of line, each in one turn.
  w.world.app.channel.AgregarLog("Desconectado");
  PumpMessages();
  EXPECT_EQ(Send(LB_GETCOUNT), 100'001);
  EXPECT_EQ(Send(LB_GETCURSEL), 100'000);
  w.form.List1.SetListIndex(3);
  PumpMessages();
  EXPECT_EQ(Send(LB_GETCURSEL), 3);
  EXPECT_TRUE(InSight(3));
}

TEST_F(LogTest, RowsAreDrawnStraightFromTheModelGreenOnDarkGreyOrHighlighted) {
  for (const char* line : {"Conectando ...", "SET TONE 88.5", "Desconectado"}) {
    w.world.app.channel.AgregarLog(line);
  }
  PumpMessages();
  RECT client{};
  ::GetClientRect(list, &client);
  const auto height = static_cast<int>(Send(LB_GETITEMHEIGHT));
  for (const auto& [row, selected] : {std::pair{0u, false}, {2u, true}}) {
    SCOPED_TRACE(row);
    Canvas canvas(client.right, height);
    w.Draw("List1", canvas, row, selected ? ODS_SELECTED : 0);
    const COLORREF back = selected ? ::GetSysColor(COLOR_HIGHLIGHT) : RGB(64, 64, 64);
    const COLORREF text = selected ? ::GetSysColor(COLOR_HIGHLIGHTTEXT) : RGB(0, 255, 0);
    EXPECT_EQ(canvas.At(client.right - 2, height / 2), back);
    EXPECT_GT(canvas.Count(text, 60), 20);  // the line's characters
  }
  // A row past the model's end (a stale paint) draws background only.
  Canvas canvas(client.right, height);
  w.Draw("List1", canvas, 7);
  EXPECT_EQ(canvas.Count(RGB(0, 255, 0), 60), 0);
}

TEST_F(LogTest, TheUsersChoiceOfLineReachesTheModel) {
  for (const char* line : {"uno", "dos", "tres"}) w.world.app.channel.AgregarLog(line);
  PumpMessages();
  // A click on the second row, as the list box reports it.
  Send(LB_SETCURSEL, 1);
  ::SendMessageW(w.view->Handle(), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(list), LBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(list));
  EXPECT_EQ(w.form.List1.ListIndex(), 1);
  PumpMessages();
  EXPECT_EQ(Send(LB_GETCURSEL), 1);
  // Keeps its height as laid out rather than whole rows.
  EXPECT_NE(::GetWindowLongW(list, GWL_STYLE) & LBS_NOINTEGRALHEIGHT, 0);
}

TEST_F(LogTest, AWideLineScrollsSidewaysAndShowsWholeAsTheTooltipOfItsRow) {
  w.view->ShowCentred();
  HWND tip = ::FindWindowExW(nullptr, nullptr, TOOLTIPS_CLASSW, nullptr);
  while (tip != nullptr && ::GetWindow(tip, GW_OWNER) != w.view->Handle()) {
    tip = ::FindWindowExW(nullptr, tip, TOOLTIPS_CLASSW, nullptr);  // another test's
  }
  const HDC dc = ::GetDC(list);
  ::SelectObject(dc, reinterpret_cast<HFONT>(Send(WM_GETFONT)));
  const auto width = [dc](const std::wstring& s) {  // with the margins
    return LOWORD(::GetTabbedTextExtentW(dc, s.c_str(), static_cast<int>(s.size()), 0, {})) + 4;
  };
  RECT client{};
  ::GetClientRect(list, &client);
  const auto height = static_cast<int>(Send(LB_GETITEMHEIGHT));
  const std::wstring wide = L"ERROR COM1: no existe el dispositivo /dev/ttyUSB0; mire el cable";
  const std::wstring wider = wide + L" y el puerto";
  int widest = 0;
  for (int row = 0; const std::wstring& line :
                    {std::wstring(L"Conectando ..."), wider, wide, std::wstring(L"Ñu")}) {
    SCOPED_TRACE(row);
    widest = std::max(widest, width(line));
    w.world.app.channel.AgregarLog(WideToUtf8(line));
    PumpMessages();
    const bool across = widest > client.right;
    const auto extent = static_cast<int>(Send(LB_GETHORIZONTALEXTENT));
    EXPECT_TRUE(across ? extent == widest : extent <= client.right) << extent;
    EXPECT_EQ((::GetWindowLongW(list, GWL_STYLE) & WS_HSCROLL) != 0, across);

    // The mouse over the new row: a tooltip with the whole line if it is wide.
    ::SendMessageW(list, WM_MOUSEMOVE, 0, MAKELPARAM(10, row++ * height + height / 2));
    TOOLINFOW tool{TTTOOLINFOW_V2_SIZE, 0, nullptr, 0, {}, nullptr, nullptr, 0, nullptr};
    std::wstring text(1024, L'\0');
    if (::SendMessageW(tip, TTM_ENUMTOOLSW, 0, reinterpret_cast<LPARAM>(&tool))) {
      tool.lpszText = text.data();
      ::SendMessageW(tip, TTM_GETTEXTW, text.size(), reinterpret_cast<LPARAM>(&tool));
    }
    EXPECT_EQ(std::wstring(text.c_str()), width(line) > client.right ? line : L"");
  }
  ::ReleaseDC(list, dc);
}

}  // namespace
}  // namespace pasotune::test
