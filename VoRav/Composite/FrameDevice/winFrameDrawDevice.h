// A control that places a 3D draw device inside a frame-control tree: the
// device draws into the tree's window, and its bounds follow the control's
// rectangle in the window, also when an ancestor moves. GUI thread.
#pragma once

#include <string>

#include "VoRav/3DBasics/Dev3DCore.h"
#include "VoRav/Composite/vxFrameControls.h"

namespace kav {

// The draw device of a window inside a tree: it may draw while its window
// is the foreground window.
class TFrameWindowDevice : public TDrawDevice {
 public:
  using TDrawDevice::TDrawDevice;
  bool CanDraw() override;
};

class TFrameDrawDevice : public TFrameControl {
 public:
  // Listens to the moves (frame event 10) of every ancestor control.
  explicit TFrameDrawDevice(TDrawFrame* frame);

  // The device, made on first use for the window of the tree's root.
  virtual TDrawDevice* Device();
  bool HasDevice() const { return device_ != nullptr; }
  // The full-screen flag handed to the device with the bounds.
  virtual void SetFullScreen(bool value);
  // Whether the device's window is the foreground window.
  bool DeviceWindowInFront();

  void HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) override;
  void PositionChanged() override;
  void SizeChanged() override;
  // A left button down that is not captured clicks the control.
  void MouseEvent(TMouseData* data) override;

 protected:
  void Dispose() override;
  void UpdateBounds();
  // The window of the tree's root, 0 without one.
  virtual uint64_t RootWindow() = 0;

  Ref<TDrawDevice> device_;
  bool full_screen_ = false;
};

class TWinFrameDrawDevice : public TFrameDrawDevice {
 public:
  using TFrameDrawDevice::TFrameDrawDevice;

 protected:
  uint64_t RootWindow() override;
};

// The draw-device factory hook (frame, name): a TWinFrameDrawDevice named
// `name` on `frame` when the topmost frame above it is handled by a window
// root control, else the previous hook's answer (nil when none). Module
// start installs it; nothing else in the system calls it.
using TFrameDrawDeviceHook = TFrameControl* (*)(TDrawFrame* frame, const std::string& name);
extern TFrameDrawDeviceHook FrameDrawDeviceHook;
void InitFrameDrawDevices();
void FinalizeFrameDrawDevices();

}  // namespace kav
