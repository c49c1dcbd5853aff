// Helper windows.
//
// TDumbWindow is a hidden top-level window whose only purpose is to own a
// window handle for interfaces that need one (the 3D engine, the sound
// output). TWinControl wraps a child window of a base class under a class
// named after the object's own class, subclassed so that the object receives
// its messages. GUI thread only.
#pragma once

#include <string>

#include "VoRav/Application2/winWndAPI.h"

namespace kav {

class TDumbWindow : public TRefObject {
 public:
  TDumbWindow() = default;

  // Creates the window once; never shown.
  void CreateHandle();
  // Creates the window when needed, then places it (still hidden).
  void SetBounds(const TRect& rect);
  win::HWND Handle() const { return handle_; }

 protected:
  void Dispose() override;
  // Default: the default window procedure, its result stored in the record.
  virtual void HandleMessage(TMessageRecord& msg);

 private:
  friend struct TDumbWindowAccess;
  win::LRESULT WindowProc(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);

  win::HWND handle_ = 0;
  TMethodThunk thunk_ = 0;
};

// The creation record of a control window (TCreateParams).
struct TControlCreateParams {
  std::u16string WindowName;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  void* CreateParam = nullptr;
};

class TWinControl : public TRefObject {
 public:
  TWinControl() = default;

  // Creates the window as a child of `parent` and gives it the parent's font.
  // Separate from the constructor so that the descendant's CreateParams and
  // GetWindowClass are the ones called.
  void CreateControl(win::HWND parent);

  void SetBounds(const TRect& rect);
  TRect GetBoundsRect();
  void SetText(const std::u16string& text);
  // 0 hides, 1 shows.
  void SetShowState(int32_t state);
  win::HWND Handle() const { return handle_; }
  uintptr_t Font() const { return font_; }
  const std::u16string& WindowClassName() const { return class_name_; }

 protected:
  void Dispose() override;
  // Base: a cleared record with the child style.
  virtual void CreateParams(TControlCreateParams& params);
  // Fills the class record of the base class (its procedure is kept as the
  // base procedure every message is passed on to).
  virtual void GetWindowClass(win::TWndClass& wc) = 0;
  // Base: keeps the font of WM_SETFONT, answers WM_GETFONT with it, passes
  // everything on to the base procedure.
  virtual void HandleMessage(TMessageRecord& msg);

 private:
  friend struct TWinControlAccess;
  void CreateHandle(win::HWND parent);
  win::LRESULT WindowProc(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  win::TWndProc Handler() { return win::TWndProc::Bind<&TWinControl::WindowProc>(this); }

  win::HWND handle_ = 0;
  uintptr_t font_ = 0;
  win::TWndProc base_proc_;
  win::TWndProc previous_proc_;
  std::u16string class_name_;
};

}  // namespace kav
