// The one window on Win32: native controls built from the Form1 model and
// kept in step with it. Model changes reach the controls through the
// controls' observers; user actions reach the model as its events. Nothing
// else happens here.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "form/form1.hpp"
#include "view/win32/windows_api.hpp"

namespace pasotune {

namespace win32view {
class LogList;
class MonospaceFonts;
class RegistroWindow;
}  // namespace win32view

class Win32Form1View {
 public:
  // Creates the window hidden, with every control, in the calling thread.
  // Throws std::runtime_error when the system gives no window.
  explicit Win32Form1View(Form1& form);
  ~Win32Form1View();
  Win32Form1View(const Win32Form1View&) = delete;
  Win32Form1View& operator=(const Win32Form1View&) = delete;

  // Shows the window, its outer frame centred in the work area of its
  // screen the first time.
  void ShowCentred();

  HWND Handle() const { return hwnd_; }
  // A control by its name ("Command1", "Frame2", "List1", ...); null for a
  // name the window does not have.
  HWND Control(std::string_view name) const;
  // The dots per inch the twips were converted with.
  int Dpi() const { return dpi_; }
  // The monospaced family the controls are written in.
  const std::wstring& FontFamily() const;
  // Opens the "Registro" window with the whole log, or brings the open one
  // to the front.
  void OpenRegistro();
  // The Registro window while it is open, else null.
  win32view::RegistroWindow* Registro() const;
  win32view::LogList& Log() const { return *log_; }
  // The picture Command1 shows, owned by the window.
  HICON Picture() const { return picture_; }
  // Runs once the window is gone after its close was let through (the
  // program posts its quit here); it must not delete the view.
  std::function<void()> destroyed;

  static constexpr int kControls = 18;

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  static LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam);
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool TakeDialogKey(MSG& msg);

  void CreateControls();
  void Bind();
  void BindButton(Button& model, int index);
  void BindDropDown(DropDown& model, int index);
  void BindLabel(Label& model, int index);
  void OnCommand(int id, int code, HWND from);
  void OnDraw(const DRAWITEMSTRUCT& item);
  LRESULT OnColour(HDC dc, HWND control);
  void SetEnabled(HWND control, bool enabled);
  void ShowPicture();
  void DrawCommand1(const DRAWITEMSTRUCT& item) const;
  void DrawLamp(const DRAWITEMSTRUCT& item) const;
  void ApplySize();
  Button* ButtonOf(HWND control);
  std::array<std::pair<int, Button*>, 3> Buttons();
  HWND At(int index) const { return controls_[static_cast<std::size_t>(index)]; }
  int Px(int twips) const;

  Form1& form_;
  HWND hwnd_ = nullptr;
  int dpi_ = 96;
  std::array<HWND, kControls> controls_{};
  std::unique_ptr<win32view::MonospaceFonts> fonts_;
  std::unique_ptr<win32view::LogList> log_;
  std::unique_ptr<win32view::RegistroWindow> registro_;
  HBRUSH valueBack_ = nullptr;
  HICON picture_ = nullptr;
  HICON bigIcon_ = nullptr;
  HICON smallIcon_ = nullptr;
  std::string pictureBytes_;
  bool pictureShown_ = false;
  HWND lastFocus_ = nullptr;
  bool shown_ = false;
  bool inDialogKey_ = false;
};

}  // namespace pasotune
