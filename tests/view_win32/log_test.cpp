// The activity log: drawn from the model, caught up once per turn of the
// message loop, the newest line selected and in sight however long it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/temp_folder.hpp"
#include "sim_window.hpp"
#include "view/win32/log_list.hpp"
#include "view/win32/registro_window.hpp"

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
  void Log(const std::string& line) { w.world.app.channel.AgregarLog(line); }
};

std::string Clipboard() {
  std::string text;
  if (!::OpenClipboard(nullptr)) return "(clipboard not opened)";
  if (const HANDLE data = ::GetClipboardData(CF_UNICODETEXT)) {
    text = WideToUtf8(static_cast<const wchar_t*>(::GlobalLock(data)));
    ::GlobalUnlock(data);
  }
  ::CloseClipboard();
  return text;
}

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

TEST_F(LogTest, NewLinesLeaveTheListWhereTheUserScrolledAndFollowAtTheBottom) {
  w.view->ShowCentred();
  for (int i = 0; i < 50; ++i) Log("SET FREQ MAIN 432.15" + std::to_string(i));
  PumpMessages();
  ASSERT_TRUE(InSight(49));
  ::SendMessageW(list, WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, 10), 0);  // the user scrolls up
  ASSERT_EQ(Send(LB_GETTOPINDEX), 10);
  Log("ERROR COM1: la radio no contesta");
  PumpMessages();
  EXPECT_EQ(Send(LB_GETTOPINDEX), 10);
  EXPECT_EQ(Send(LB_GETCURSEL), 50);  // the newest is still the selected line
  EXPECT_FALSE(w.view->Log().Following());
  ::SendMessageW(list, WM_VSCROLL, SB_BOTTOM, 0);  // and back to the bottom
  Log("SET FREQ SUB 145.9500");
  PumpMessages();
  EXPECT_TRUE(InSight(51));
  EXPECT_TRUE(w.view->Log().Following());
}

TEST_F(LogTest, CopiarCopiesThePointedLineAndTheRegistroOpensOnce) {
  for (const char* line : {"Conectando ...", "NOT DONE COM1 = /dev/ttyUSB0", "Desconectado"}) {
    Log(line);
  }
  PumpMessages();
  Log("SET TONE 88.5");  // while the menu for row 1 is open
  PumpMessages();
  w.view->Log().MenuCommand(win32view::LogList::kCopy, 1);
  EXPECT_EQ(Clipboard(), "NOT DONE COM1 = /dev/ttyUSB0");

  EXPECT_EQ(w.view->Registro(), nullptr);
  w.view->ShowCentred();
  ::SetFocus(list);
  w.Key(VK_RETURN);  // through the dialog keys, as Windows delivers it
  PumpMessages();
  win32view::RegistroWindow* registro = w.view->Registro();
  ASSERT_NE(registro, nullptr);
  EXPECT_TRUE(::IsWindowVisible(registro->Handle()));
  w.view->Log().MenuCommand(win32view::LogList::kOpenLog, 0);
  EXPECT_EQ(w.view->Registro(), registro);
  ::SendMessageW(registro->Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(w.view->Registro(), nullptr);
  w.view->OpenRegistro();  // a new one after the user closed it
  EXPECT_NE(w.view->Registro(), nullptr);
}

TEST_F(LogTest, TheRegistroFiltersCopiesSavesAndFollowsOnlyFromTheBottom) {
  for (int i = 0; i < 300; ++i) {
    Log(i % 100 == 7 ? "ERROR línea " + std::to_string(i) : "SET FREQ MAIN " + std::to_string(i));
  }
  PumpMessages();
  w.view->OpenRegistro();
  win32view::RegistroWindow& registro = *w.view->Registro();
  EXPECT_EQ(registro.TopRow(), registro.MaxTop());
  EXPECT_GT(registro.MaxTop(), 250u);

  ::SendMessageW(registro.Filter(), BM_CLICK, 0, 0);
  ASSERT_EQ(registro.Model().Rows(), 3u);
  const auto click = [&](std::size_t row, WPARAM keys) {
    const RECT at = registro.RowRect(row);
    ::SendMessageW(registro.Lines(), WM_LBUTTONDOWN, MK_LBUTTON | keys,
                   MAKELPARAM(10, (at.top + at.bottom) / 2));
    ::SendMessageW(registro.Lines(), WM_LBUTTONUP, keys, MAKELPARAM(10, (at.top + at.bottom) / 2));
  };
  click(0, 0);
  click(2, MK_SHIFT);
  registro.Copy();
  EXPECT_EQ(Clipboard(), "ERROR línea 7\r\nERROR línea 107\r\nERROR línea 207");

  const std::string folder = MakeTempFolder("pasotune-registro");
  const std::wstring path = Utf8ToWide(folder) + L"\\registro.txt";
  EXPECT_EQ(registro.SaveTo(path), L"");
  std::ifstream saved(std::filesystem::path(path), std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(saved), {}),
            "\xEF\xBB\xBF"
            "ERROR línea 7\r\nERROR línea 107\r\nERROR línea 207\r\n");
  saved.close();
  EXPECT_NE(registro.SaveTo(Utf8ToWide(folder) + L"\\no\\hay\\tal.txt"), L"");
  std::filesystem::remove_all(folder);

  ::SendMessageW(registro.Filter(), BM_CLICK, 0, 0);
  EXPECT_EQ(registro.Model().Rows(), 300u);
  registro.ScrollTo(20);  // scrolled up: new lines leave the view be
  Log("Desconectado");
  PumpMessages();
  EXPECT_EQ(registro.TopRow(), 20u);
  EXPECT_EQ(registro.Model().Rows(), 301u);
  registro.ScrollTo(registro.MaxTop());
  for (int i = 0; i < 1'000'000; ++i) w.form.List1.AddItem("SET FREQ MAIN 432.1500");
  Log("la ultima");
  PumpMessages();
  EXPECT_EQ(registro.TopRow(), registro.MaxTop());
  EXPECT_GT(registro.MaxTop(), 1'000'250u);
}

}  // namespace
}  // namespace pasotune::test
