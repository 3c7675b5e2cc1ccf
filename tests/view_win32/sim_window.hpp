// The real core over the simulation's doubles, with the real Win32 window
// bound to its model. Virtual time moves only when a test runs the loop;
// the window's own messages move only when a test pumps them.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "harness.hpp"
#include "view/win32/win32_form1_view.hpp"

namespace pasotune::test {

// A file of the program's resources folder.
std::string Resource(const char* name);

// Handles the thread's pending messages, as the event pump does: the
// dialog keys go through the window's message hook on the way.
void PumpMessages();

// A bitmap to draw into and read back.
class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  HDC Dc() const { return dc_; }
  COLORREF At(int x, int y) const { return ::GetPixel(dc_, x, y); }
  // How many pixels have this colour, or one near it (smoothed text).
  int Count(COLORREF colour, int tolerance = 0) const;

 private:
  int width_, height_;
  HDC dc_;
  HBITMAP bitmap_;
  HGDIOBJ old_;
};

struct SimWindow {
  World world;
  Form1& form = world.form;
  std::unique_ptr<Win32Form1View> view;

  // The program folder holds the engine and both pictures, as shipped; the
  // window is made before the load, as the program does.
  explicit SimWindow(bool load = true);
  ~SimWindow();

  HWND Get(std::string_view name) const;
  std::wstring Text(std::string_view name) const;
  bool Enabled(std::string_view name) const { return ::IsWindowEnabled(Get(name)) != FALSE; }
  // A control's rectangle in the window's client pixels.
  RECT ClientRect(std::string_view name) const;
  // The owner-drawn control drawn into a canvas, as the system would.
  void Draw(std::string_view name, Canvas& canvas, UINT itemId = 0, UINT state = 0) const;
  // The user picks an item of a drop-down list: its selection changes and
  // the list tells its parent, as the system does for a click.
  void Pick(std::string_view name, int index) const;
  // A key pressed and released on the control that has the focus.
  void Key(WPARAM key) const;
  std::string FocusName() const;
};

}  // namespace pasotune::test
