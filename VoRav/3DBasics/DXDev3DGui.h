// Binds the 3D layer to the application layer: device work for the GUI
// thread goes through the application event list, window placements and
// topmost changes through the window layer, and the devices are not used
// while the session is locked.
#pragma once

#include <mutex>

#include "VoRav/3DBasics/Dev3DCore.h"
#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Application2/winDumbWindow.h"

namespace kav {

// The child window a windowed device shows its frames in: a rectangle of
// the draw device's window. It asks the device for a repaint when painted
// and hands the mouse on to the device's window, in that window's client
// coordinates, so the form sees the pointer as if the panel were not there.
// The device keeps a TWinPanel that holds this window through the window
// operations, so the 3D layer also runs with no window system at all.
class TDevicePanel : public TWinControl {
 public:
  explicit TDevicePanel(TDrawDevice* device) : device_(device) {}
  // Any thread: the device is not reached any more.
  void Forget();
  // True until the first paint.
  bool EraseBackground() const { return erase_; }
  // Where set-cursor and mouse messages go: the window it was made in (draw
  // devices have no input window of their own here).
  win::HWND Target() const { return target_; }

 protected:
  void CreateParams(TControlCreateParams& params) override;
  void GetWindowClass(win::TWndClass& wc) override;
  void HandleMessage(TMessageRecord& msg) override;

 private:
  friend Ref<TDevicePanel> MakeDevicePanel(TDrawDevice* device, win::HWND parent);
  Ref<TDrawDevice> HoldDevice();
  std::mutex lock_;
  TDrawDevice* device_;  // not owned; cleared by Forget
  win::HWND target_ = 0;
  bool erase_ = true;
};

// A panel made as a child of `parent`; null when the window cannot be made
// (not the GUI thread, no such parent). GUI thread.
Ref<TDevicePanel> MakeDevicePanel(TDrawDevice* device, win::HWND parent);
// The panel of a window made through the installed window operations.
Ref<TDevicePanel> FindDevicePanel(win::HWND window);

// Installs the GUI gate and the window operations for `app` (GUI thread,
// after the application is initialised): windowed devices get a
// TDevicePanel as their child window.
void Install3DApplicationGate(TApplication* app);
// Restores the defaults (before the application goes).
void Uninstall3DApplicationGate();

}  // namespace kav
