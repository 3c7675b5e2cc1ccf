// The window following the model through a run, and the user's clicks and
// keys reaching the model as Windows delivers them.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/text.hpp"
#include "sim_window.hpp"

namespace pasotune::test {
namespace {

// What the window shows of the controls whose state changes.
struct Shown {
  std::wstring command1;
  bool command1Enabled, hport, command3, command4;
  std::wstring command3Caption;
};

Shown Look(const SimWindow& w) {
  return {w.Text("Command1"),    w.Enabled("Command1"), w.Enabled("HPORT"),
          w.Enabled("Command3"), w.Enabled("Command4"), w.Text("Command3")};
}

void ExpectShown(const SimWindow& w, const Shown& want, const char* when) {
  SCOPED_TRACE(when);
  const Shown is = Look(w);
  EXPECT_EQ(is.command1, want.command1);
  EXPECT_EQ(is.command1Enabled, want.command1Enabled);
  EXPECT_EQ(is.hport, want.hport);
  EXPECT_EQ(is.command3, want.command3);
  EXPECT_EQ(is.command4, want.command4);
  EXPECT_EQ(is.command3Caption, want.command3Caption);
}

int ListIndexOf(const SimWindow& w, const char* box, const wchar_t* text) {
  return static_cast<int>(::SendMessageW(w.Get(box), CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                         reinterpret_cast<LPARAM>(text)));
}

TEST(States, CaptionsEnabledStatesAndPictureThroughAConnectAToneAndADisconnect) {
  SimWindow w;
  w.view->ShowCentred();
  ExpectShown(w, {L"Conectar", false, true, false, false, L"CTCSS 88.5"}, "loaded");
  EXPECT_EQ(::SendMessageW(w.Get("HPORT"), CB_GETCOUNT, 0, 0), 20);
  EXPECT_EQ(win32view::WindowText(w.Get("HPORT")), L"COM1");
  EXPECT_EQ(win32view::WindowText(w.Get("ComboST")), L"88.5");
  EXPECT_EQ(w.Text("Command4"), L"CTCSS OFF ");
  EXPECT_EQ(w.Text("Label1"), L"Sat\u00e9lite:");

  w.world.RunFor(2100);
  ExpectShown(w, {L"Conectar", true, true, false, false, L"CTCSS 88.5"}, "engine found");

  // The whole connect sequence runs in virtual time inside the click.
  ::SendMessageW(w.Get("Command1"), BM_CLICK, 0, 0);
  ExpectShown(w, {L"Desconectar", true, false, true, true, L"CTCSS 88.5"}, "connected");
  EXPECT_EQ(w.form.Command1.Picture(), Resource("cancel.ico"));
  ICONINFO info{};
  ASSERT_TRUE(::GetIconInfo(w.view->Picture(), &info));
  BITMAP bitmap{};
  ::GetObjectW(info.hbmColor, sizeof bitmap, &bitmap);
  ::DeleteObject(info.hbmColor);
  ::DeleteObject(info.hbmMask);
  EXPECT_EQ(bitmap.bmWidth, 32);  // cancel.ico's own 32 x 32 image

  w.Pick("ComboST", ListIndexOf(w, "ComboST", L"123.0"));
  ExpectShown(w, {L"Desconectar", true, false, true, true, L"CTCSS 123.0"}, "tone chosen");
  EXPECT_EQ(w.form.ComboST.Text(), "123.0");
  ::SendMessageW(w.Get("Command3"), BM_CLICK, 0, 0);
  ASSERT_FALSE(w.world.Sent().empty());
  EXPECT_EQ(w.world.Sent().back(), "SET TONE 123.0");

  w.world.Record("SNAO-07 DN145950000 UP432150000 DMUSB UMLSB");
  EXPECT_EQ(w.Text("LabelSat"), L"AO-07");
  EXPECT_EQ(w.Text("LabelTX"), L"432.15");
  EXPECT_EQ(w.Text("LabelModoTX"), L"LSB");
  EXPECT_EQ(w.Text("LabelRX"), L"145.95");
  EXPECT_EQ(w.Text("LabelModoRX"), L"USB");

  ::SendMessageW(w.Get("Command1"), BM_CLICK, 0, 0);
  ExpectShown(w, {L"Conectar", true, true, false, false, L"CTCSS 123.0"}, "disconnected");
  EXPECT_EQ(w.form.Command1.Picture(), Resource("up2.ico"));
  PumpMessages();
  EXPECT_GT(::SendMessageW(w.Get("List1"), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(win32view::HeldException(), nullptr);
}

// Counts the runs of a control's event, then runs the handler it had.
struct Counted {
  int runs = 0;
  void Wrap(std::function<void()>& event) {
    event = [this, handler = event] {
      ++runs;
      if (handler) handler();
    };
  }
};

TEST(Clicks, EachClickAsWindowsDeliversItReachesItsOwnHandler) {
  SimWindow w;
  w.view->ShowCentred();
  w.world.RunFor(2100);
  std::vector<Counted> counts(5);
  Form1& f = w.form;
  std::function<void()>* events[] = {&f.Command1.click, &f.Command3.click, &f.Command4.click,
                                     &f.ComboST.click, &f.HPORT.click};
  for (std::size_t i = 0; i < counts.size(); ++i) counts[i].Wrap(*events[i]);
  f.Command3.SetEnabled(true);
  f.Command4.SetEnabled(true);

  struct Action {
    const char* what;
    std::function<void()> act;
    std::vector<int> runs;  // Command1, 3, 4, ComboST, HPORT so far
  };
  const std::vector<Action> actions = {
      {"click Command3",
       [&] { ::SendMessageW(w.Get("Command3"), BM_CLICK, 0, 0); },
       {0, 1, 0, 0, 0}},
      {"click Command4",
       [&] { ::SendMessageW(w.Get("Command4"), BM_CLICK, 0, 0); },
       {0, 1, 1, 0, 0}},
      {"pick a tone", [&] { w.Pick("ComboST", 3); }, {0, 1, 1, 1, 0}},
      {"pick a port", [&] { w.Pick("HPORT", 4); }, {0, 1, 1, 1, 1}},
      {"click a disabled Command4",
       [&] {
         f.Command4.SetEnabled(false);
         ::SendMessageW(w.Get("Command4"), BM_CLICK, 0, 0);
       },
       {0, 1, 1, 1, 1}},
      {"click Command1",
       [&] { ::SendMessageW(w.Get("Command1"), BM_CLICK, 0, 0); },
       {1, 1, 1, 1, 1}},
  };
  for (const Action& a : actions) {
    a.act();
    std::vector<int> runs;
    for (const Counted& c : counts) runs.push_back(c.runs);
    EXPECT_EQ(runs, a.runs) << a.what;
  }
  EXPECT_EQ(f.ComboST.Text(), "79.7");
  EXPECT_EQ(w.Text("Command3"), L"CTCSS 79.7");
  EXPECT_EQ(f.HPORT.Text(), "COM5");
}

TEST(Binding, DropDownsFollowTheModelsItemsChoiceAndEnabledState) {
  SimWindow w(false);
  const HWND box = w.Get("HPORT");
  auto text = [&](int i) {
    wchar_t buffer[32] = {};
    ::SendMessageW(box, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    return std::wstring(buffer);
  };
  for (const char* port : {"COM1", "COM2", "COM3"}) w.form.HPORT.AddItem(port);
  EXPECT_EQ(::SendMessageW(box, CB_GETCOUNT, 0, 0), 3);
  EXPECT_EQ(::SendMessageW(box, CB_GETCURSEL, 0, 0), CB_ERR);
  w.form.HPORT.SetText("COM2");
  EXPECT_EQ(::SendMessageW(box, CB_GETCURSEL, 0, 0), 1);
  w.form.HPORT.Clear();
  w.form.HPORT.AddItem("COM9");
  ASSERT_EQ(::SendMessageW(box, CB_GETCOUNT, 0, 0), 1);
  EXPECT_EQ(text(0), L"COM9");
  EXPECT_EQ(::SendMessageW(box, CB_GETCURSEL, 0, 0), CB_ERR);
  w.form.HPORT.SetEnabled(false);
  EXPECT_FALSE(w.Enabled("HPORT"));
  // Only the drop-down's own items can be chosen: no text of the user's.
  EXPECT_EQ(::GetWindowLongW(box, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
}

TEST(Binding, LabelsShowTextAsItIsAndTheTrackerTextStaysInTheModel) {
  SimWindow w(false);
  w.form.LabelSat.SetCaption("AO-07 & <b> \xC3\xB1");
  EXPECT_EQ(w.Text("LabelSat"), L"AO-07 & <b> \u00f1");
  EXPECT_NE(::GetWindowLongW(w.Get("LabelSat"), GWL_STYLE) & SS_NOPREFIX, 0);

  // No window holds the tracker's text; its change event still runs.
  int changes = 0;
  w.form.txtDDE.change = [&] { ++changes; };
  w.form.txtDDE.SetText("SNAO-07");
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(w.Get("txtDDE"), nullptr);
}

// Every byte a tracker can send, at the start, in the middle and at the end
// of a record, drawn by the window that shows what the record carries. A
// 0x98 first once made Wine's gdi32 fault in the hidden text box.
TEST(Binding, RecordsOfEveryByteAreShownWithoutHarm) {
  SimWindow w;
  w.view->ShowCentred();
  const std::string tail = "SNAO-07 DN145950000 UP432150000 DMUSB UMLSB";
  for (int b = 1; b <= 255; ++b) {
    const std::string c(1, static_cast<char>(b));
    for (const std::string& record : {c + tail, "SNAO" + c + "07 DMU" + c + "SB UMLSB", tail + c}) {
      w.form.txtDDE.SetText(Cp1252ToUtf8(record));
      ::RedrawWindow(w.view->Handle(), nullptr, nullptr,
                     RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      PumpMessages();
    }
  }
  EXPECT_EQ(w.form.LabelSat.Caption(), "AO-07");
  EXPECT_TRUE(::IsWindowVisible(w.view->Handle()));
}

struct FocusCase {
  std::vector<Button*> disabled;
  std::vector<std::string> order;  // from List1, pressing Tab
};

TEST(Keys, TabFollowsTheTabPositionsSkippingDisabledControls) {
  SimWindow w;
  w.view->ShowCentred();
  Form1& f = w.form;
  ASSERT_EQ(w.FocusName(), "List1");  // tab position 0 has the focus first
  for (const FocusCase& c :
       {FocusCase{{}, {"List1", "HPORT", "Command1", "Command3", "ComboST", "Command4", "List1"}},
        FocusCase{{&f.Command1, &f.Command3},
                  {"List1", "HPORT", "ComboST", "Command4", "List1"}}}) {
    for (Button* b : {&f.Command1, &f.Command2, &f.Command3, &f.Command4}) b->SetEnabled(true);
    for (Button* b : c.disabled) b->SetEnabled(false);
    ::SetFocus(w.Get("List1"));
    std::vector<std::string> order{w.FocusName()};
    while (order.size() < c.order.size()) {
      w.Key(VK_TAB);
      order.push_back(w.FocusName());
    }
    EXPECT_EQ(order, c.order);
  }
}

TEST(Keys, SpaceAndEnterPressAButtonArrowsMoveInTheLists) {
  SimWindow w;
  w.view->ShowCentred();
  Form1& f = w.form;
  f.Command3.SetEnabled(true);
  f.Command4.SetEnabled(true);
  Counted command3, command4;
  command3.Wrap(f.Command3.click);
  command4.Wrap(f.Command4.click);

  ::SetFocus(w.Get("Command4"));
  w.Key(VK_SPACE);
  EXPECT_EQ(command4.runs, 1);
  w.Key(VK_RETURN);
  EXPECT_EQ(command4.runs, 2);
  // Reached with Tab, a button is the default one and Enter presses it.
  ASSERT_FALSE(f.Command1.Enabled());
  ::SetFocus(w.Get("HPORT"));
  w.Key(VK_TAB);
  ASSERT_EQ(w.FocusName(), "Command3");
  w.Key(VK_RETURN);
  EXPECT_EQ(command3.runs, 1);
  EXPECT_EQ(command4.runs, 2);
  // Arrows on a button go nowhere.
  w.Key(VK_DOWN);
  EXPECT_EQ(w.FocusName(), "Command3");
  // The connect button with its picture takes Enter too, and stays drawn
  // by the window.
  w.world.RunFor(2100);
  Counted command1;
  command1.Wrap(f.Command1.click);
  ::SetFocus(w.Get("HPORT"));
  w.Key(VK_TAB);
  ASSERT_EQ(w.FocusName(), "Command1");
  w.Key(VK_RETURN);
  EXPECT_EQ(command1.runs, 1);
  EXPECT_EQ(::GetWindowLongW(w.Get("Command1"), GWL_STYLE) & BS_TYPEMASK, BS_OWNERDRAW);

  ::SetFocus(w.Get("ComboST"));
  const int before = f.ComboST.ListIndex();
  w.Key(VK_DOWN);
  EXPECT_EQ(f.ComboST.ListIndex(), before + 1);
  EXPECT_EQ(w.Text("Command3"), L"CTCSS " + Utf8ToWide(f.ComboST.Text()));

  for (const char* line : {"uno", "dos", "tres"}) w.world.app.channel.AgregarLog(line);
  PumpMessages();
  ::SetFocus(w.Get("List1"));
  w.Key(VK_UP);
  EXPECT_EQ(f.List1.ListIndex(), static_cast<long>(f.List1.ListCount()) - 2);
  w.Key(VK_HOME);
  EXPECT_EQ(f.List1.ListIndex(), 0);
  EXPECT_EQ(::SendMessageW(w.Get("List1"), LB_GETCURSEL, 0, 0), 0);
}

TEST(Close, TheCloseBoxAsksTheModelAndTheWindowStaysWhenRefused) {
  SimWindow w;
  w.view->ShowCentred();
  bool destroyed = false;
  w.view->destroyed = [&] { destroyed = true; };
  w.world.messages.answers = {MsgResult::kNo};
  ::SendMessageW(w.view->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_EQ(w.world.messages.shown.size(), 1u);
  EXPECT_EQ(w.world.messages.shown[0].text, "Sale de Pasotune?");
  EXPECT_TRUE(::IsWindowVisible(w.view->Handle()));
  EXPECT_FALSE(destroyed);
  EXPECT_FALSE(w.world.programEnd.ended);

  // Yes: the model ends the program; the end comes out of the window
  // procedure to whoever dispatched the message.
  w.world.messages.answers = {MsgResult::kYes};
  ::PostMessageW(w.view->Handle(), WM_CLOSE, 0, 0);
  PumpMessages();
  EXPECT_EQ(w.world.messages.shown.size(), 2u);
  EXPECT_TRUE(w.world.programEnd.ended);
  EXPECT_NE(win32view::HeldException(), nullptr);
}

TEST(Close, AModelThatLetsTheCloseThroughGetsTheWindowDestroyed) {
  Form1 form;  // no close handler: every close goes through
  Win32Form1View view(form);
  bool destroyed = false;
  view.destroyed = [&] { destroyed = true; };
  ::SendMessageW(view.Handle(), WM_CLOSE, 0, 0);
  EXPECT_TRUE(destroyed);
  EXPECT_EQ(view.Handle(), nullptr);
  form.Command1.SetCaption("Desconectar");  // the model outlives the window
  form.List1.AddItem("x");
  PumpMessages();
}

}  // namespace
}  // namespace pasotune::test
