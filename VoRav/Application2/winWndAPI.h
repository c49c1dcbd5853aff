// The window gate, method bindings and subclassing.
//
// TWndAPI is the single gate through which window and message calls pass;
// one instance serves the program (WndAPI()). Method bindings let the window
// layer call an object's method as a window procedure: a binding is an entry
// of a table, and the procedure installed on a window names the entry, so a
// window whose binding was freed gets the default procedure rather than a
// call into a freed object. Subclassing chains such bindings in front of a
// window's procedure.
//
// GUI thread only, except the message calls the layer allows from any thread.
#pragma once

#include <cstdint>
#include <string>

#include "VoRav/SysObj2.h"
#include "platform/window/WinApi.h"

namespace kav {

// A window message as hooks and decoders see it.
struct TMessageRecord {
  uint32_t Msg = 0;
  win::WPARAM WParam = 0;
  win::LPARAM LParam = 0;
  win::LRESULT Result = 0;
};

struct TWndCreateParams {
  std::u16string ClassName;
  std::u16string WindowName;
  uint32_t Style = 0;
  uint32_t ExStyle = 0;
  int32_t X = 0, Y = 0, Width = 0, Height = 0;
  win::HWND Parent = 0;
};

class TWndAPI : public TRefObject {
 public:
  virtual char16_t* AllocWideBuffer(int32_t chars);
  virtual void FreeBuffer(char16_t* buffer);
  // A new zero-terminated copy; nil for an empty text.
  virtual char16_t* WideStrToBuffer(const std::u16string& text);
  // A negative length means zero-terminated.
  virtual void BufferToWideStr(const char16_t* buffer, int32_t length, std::u16string& text);
  virtual uint16_t RegisterClass(const win::TWndClass& wc);
  virtual bool UnregisterClass(const std::u16string& name, win::HINSTANCE instance);
  // Menu 0 and the program's module; 0 on failure (GetLastError).
  virtual win::HWND CreateWindow(const TWndCreateParams& params, void* create_param);
  virtual bool DestroyWindow(win::HWND window);
  // kind 0..11: hide, maximize, minimize, restore, show, show default, show
  // maximized, show minimized, show minimized without activation, show
  // without activation (two forms), show normal. With `use_show_window`
  // false only the placement's show command is written. False for a kind
  // outside 0..11.
  virtual bool ShowWindowState(win::HWND window, int32_t kind, bool use_show_window);
  virtual win::LRESULT CallWindowProc(win::TWndProc proc, win::HWND window, uint32_t msg, win::WPARAM wParam,
                                      win::LPARAM lParam);
  virtual win::LRESULT DefWindowProc(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  virtual bool GetMessage(win::TMsg& msg, win::HWND window, uint32_t min, uint32_t max);
  virtual bool PeekMessage(win::TMsg& msg, win::HWND window, uint32_t min, uint32_t max, uint32_t remove);
  virtual bool PostMessage(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  virtual win::LRESULT SendMessage(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  virtual bool SendNotifyMessage(win::HWND window, uint32_t msg, win::WPARAM wParam, win::LPARAM lParam);
  virtual bool TranslateMessage(const win::TMsg& msg);
  virtual win::LRESULT DispatchMessage(const win::TMsg& msg);
  virtual std::u16string GetWindowText(win::HWND window);
  virtual bool SetWindowText(win::HWND window, const std::u16string& text);
  virtual intptr_t GetWindowLong(win::HWND window, int32_t index);
  virtual intptr_t SetWindowLong(win::HWND window, int32_t index, intptr_t value);
  // The outer rectangle: the normal position for a minimised window; in the
  // parent's client coordinates for a child window.
  virtual bool GetWindowBounds(win::HWND window, TRect& rect);
  virtual int32_t MessageBox(win::HWND window, const std::u16string& text, const std::u16string& caption,
                             uint32_t flags);
  virtual uint32_t RegisterWindowMessage(const std::u16string& name);
};

// The program's gate.
TWndAPI* WndAPI();

// A binding of an object's window method; 0 is none.
using TMethodThunk = uint32_t;

// Binds `method` (an object's window procedure) to a new table entry.
TMethodThunk MakeMethodThunk(win::TWndProc method);
// Frees the entry (a call running through it finishes) and clears the variable.
void FreeThunk(TMethodThunk& thunk);
// The window procedure that calls through the entry.
win::TWndProc ThunkProc(TMethodThunk thunk);
// Points the entry at another method.
void RedirectThunk(TMethodThunk thunk, win::TWndProc method);
// Live entries (for tests).
int32_t ThunkCount();

// Puts `handler` in front of the window's procedure; returns the previous
// procedure, which the handler calls on for what it does not take. Main
// thread; the window must exist (assertions otherwise).
win::TWndProc SubclassWindow(win::HWND window, win::TWndProc handler);
// Takes the handler out again. When another procedure was put in front of it
// meanwhile, the entry is left in place passing everything to `previous`
// until the window goes, so the later procedure's chain keeps working.
void UnsubclassWindow(win::HWND window, win::TWndProc handler, win::TWndProc previous);

}  // namespace kav
