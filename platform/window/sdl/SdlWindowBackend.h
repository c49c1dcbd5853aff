// The SDL2 window backend: visible top-level windows become SDL windows (the
// SDL window is the client area; child windows are rectangles inside it),
// SDL input becomes the layer's input, and SDL's displays are the monitors.
// Every call but Now, Wake and the waker runs on the GUI thread, and SDL is
// called from that thread only (but for SDL_PushEvent).
//
// With SDL's X11 driver the GUI thread never blocks inside SDL: SDL's own
// wait has other threads' SDL_PushEvent wake it with an X event sent to the
// SDL window made last, and a dialog's window can be destroyed while such a
// wake-up is on its way (the X server then answers BadWindow, and another
// thread may read the freed window). The backend waits on SDL's X
// connection and an eventfd of its own instead; Wake and the waker write to
// the eventfd. Other drivers wait in SDL, woken by a pushed event.
#pragma once

#include <SDL.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/window/WinBackend.h"
#include "platform/window/sdl/SdlClipboard.h"
#include "platform/window/sdl/SdlX11.h"

namespace kav::win {

class TX11BoxTitle;

class TSdlWindowBackend : public TWindowBackend {
 public:
  // Initialises SDL's video; throws EOSError when SDL cannot.
  TSdlWindowBackend();
  ~TSdlWindowBackend() override;

  uint32_t Now() override;
  void Poll() override;
  void Wait(uint32_t ms) override;
  void Wake() override;
  // A function any thread may call, also after the backend is gone, that
  // ends the GUI thread's Wait (after pushing an SDL event of its own, a
  // module wakes the thread with it so the event is seen at once).
  std::function<void()> Waker() const;

  void TopLevelChanged(const TTopLevelState& state) override;
  void TopLevelDestroyed(HWND hwnd) override;
  void ShowCursorShape(HCURSOR cursor) override;
  void CursorCreated(HCURSOR cursor, const std::vector<uint32_t>& argb, int32_t width, int32_t height, int32_t hot_x,
                     int32_t hot_y) override;
  void CursorDestroyed(HCURSOR cursor) override;
  bool WarpPointer(int32_t x, int32_t y) override;
  bool PointerPosition(TPoint& point) override;
  void ScreenDpi(int32_t& x, int32_t& y) override;
  std::vector<TMonitorArea> Monitors() override;
  // Drawn by a box program of its own (SdlBoxProgram.h: SDL's box, or
  // zenity through SDL) while the GUI thread serves the windows' exposes,
  // frames and paints; to the standard error output where no box program
  // can be started.
  int32_t ShowMessageBox(const std::u16string& text, const std::u16string& caption, uint32_t flags, HWND owner,
                         const std::function<void()>& serve) override;
  // Through the SDL window's own surface (a window that has an SDL renderer
  // has none, and answers false).
  bool PresentPixels(HWND hwnd, TSize client, const uint32_t* pixels, int32_t width, int32_t height, int32_t pitch,
                     const std::vector<TRect>& rects) override;
  bool SetOpacity(HWND hwnd, uint8_t alpha) override;
  // With SDL's X11 driver, the X window of the mirror.
  std::string DesktopWindowId(HWND hwnd) override;
  // With SDL's X11 driver: the program's window is looked for (by its
  // _NET_WM_PID) while the layer polls or waits, and once found made
  // transient for the owner and given the keys.
  void ForeignModal(HWND owner, int group) override;
  // SDL shapes only windows made as shaped windows from the start: no shape
  // for a mirrored window, so the base's false stands.

  // Text through SDL's clipboard; a bitmap offered on the X11 CLIPBOARD
  // selection as "image/png" and "image/bmp" (SdlClipboard.h). Another
  // program's text is read; its pictures are not.
  void ClipboardPut(std::map<uint32_t, std::vector<uint8_t>> contents) override {
    clipboard_->Put(std::move(contents));
  }
  bool ClipboardGet(uint32_t format, std::vector<uint8_t>& data) override { return clipboard_->Get(format, data); }
  bool ClipboardHas(uint32_t format) override { return clipboard_->Has(format); }
  uint32_t ClipboardStamp() override { return clipboard_->Stamp(); }

  // GUI thread: gets the type of every event the backend has no use for
  // (such as an event another module registered to wake the thread).
  std::function<void(uint32_t type)> OnOtherEvent;
  // GUI thread: a window's SDL surface may have been made anew, empty (on a
  // size change, and so on an expose after one): what a device presented
  // into it is put back before the surface goes out. Not for OpenGL windows.
  std::function<void(SDL_Window* window)> OnSurfaceLost;
  // Flags every top-level SDL window is made with besides the backend's own
  // (SDL_WINDOW_OPENGL when the GL device presents into them). Set before
  // the first window.
  uint32_t ExtraWindowFlags = 0;

  // The SDL window of a top-level window, nil while it has none (hidden).
  SDL_Window* SdlWindowOf(HWND hwnd) const;
  // The virtual key of an SDL scancode (0 for none).
  static uint16_t VirtualKey(SDL_Scancode scancode);
  // The same, falling back on the key's symbol when the scancode names none.
  static uint16_t VirtualKey(SDL_Scancode scancode, SDL_Keycode sym);

 private:
  struct TMirror {
    SDL_Window* window = nullptr;
    TTopLevelState applied;
  };
  void Deliver(const SDL_Event& e);
  // Whether the event is kept from the windows while a box is up (a focus
  // gained goes to the box).
  bool BoxBlocks(const SDL_Event& e);
  // Runs the box program `argv` and serves the windows until the box has
  // gone; false when no box could be shown. The box takes the keyboard
  // focus when it shows and whenever one of our windows gets it.
  bool BoxInProcess(const std::vector<std::string>& argv, TX11BoxTitle& box_title,
                    const std::function<void()>& serve);
  static constexpr int kBoxServeMs = 50;
  bool box_up_ = false;
  bool box_wants_focus_ = false;
  HWND HwndOf(uint32_t sdl_window_id) const;
  // The windows modal above `owner`, from the one it owns to the one that
  // takes the keys: each a visible window owned by the one before (an
  // enabled one first), the chain going on through a window that is
  // disabled in turn (a dialog under a dialog of its own). `last` gets the
  // chain's last disabled window (`owner` for an empty chain): another
  // program's dialog may be modal above that one.
  std::vector<SDL_Window*> ModalAbove(HWND owner, HWND& last) const;
  // A disabled window got the focus: its modal windows are raised, each
  // above the one before, and the last takes the focus. False when it has
  // none.
  bool RaiseModalsAbove(HWND hwnd);
  // Looks for the windows of ForeignModal that have not shown yet.
  void FindForeignModals();
  struct TForeignModal {
    int group = 0;
    unsigned long xwindow = 0;  // 0 until found
    uint32_t looked = 0;        // when it was last looked for
  };
  static constexpr uint32_t kForeignLookMs = 100;
  std::map<HWND, TForeignModal> foreign_;  // by the top-level window it is modal for
  TPoint ToScreen(HWND hwnd, int32_t x, int32_t y) const;

  struct TWakeFd;
  void WaitX11(uint32_t ms);

  uint32_t wake_event_ = 0;
  std::shared_ptr<TWakeFd> wake_fd_;
  void* x11_display_ = nullptr;  // set when the GUI thread waits on SDL's X connection
  int x11_fd_ = -1;
  std::unique_ptr<TX11GoneWindowFilter> x11_errors_;
  std::map<HWND, TMirror> mirrors_;
  std::map<HCURSOR, SDL_Cursor*> cursors_;
  std::map<HCURSOR, SDL_Cursor*> system_cursors_;
  std::unique_ptr<TSdlClipboard> clipboard_;
};

}  // namespace kav::win
