#include "VoRav/Composite/FrameDevice/winFrameDrawDevice.h"

#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/Composite/winFrames.h"
#include "VoRav/Application2/winInput.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "platform/window/WinApi.h"

namespace kav {

namespace {

constexpr int32_t kFrameEventMoved = 10;
TFrameDrawDeviceHook g_previous_hook = nullptr;
bool g_installed = false;

TFrameControl* WinFrameDrawDeviceHook(TDrawFrame* frame, const std::string& name) {
  TDrawFrame* top = frame;
  while (top && top->Parent()) top = top->Parent();
  if (top && dynamic_cast<TWinRootControl*>(top->Handler())) {
    auto* c = new TWinFrameDrawDevice(frame);
    c->SetName(name);
    return c;
  }
  return g_previous_hook ? g_previous_hook(frame, name) : nullptr;
}

}  // namespace

TFrameDrawDeviceHook FrameDrawDeviceHook = nullptr;

bool TFrameWindowDevice::CanDraw() { return Window() != 0 && win::GetForegroundWindow() == win::HWND(Window()); }

TFrameDrawDevice::TFrameDrawDevice(TDrawFrame* frame) : TFrameControl(frame) {
  for (TFrameControl* p = GetParentControl(); p; p = p->GetParentControl())
    p->Events()->AddHandler(kFrameEventMoved, this);
}

void TFrameDrawDevice::Dispose() {
  device_ = nullptr;
  TFrameControl::Dispose();
}

TDrawDevice* TFrameDrawDevice::Device() {
  if (!device_) {
    const uint64_t window = RootWindow();
    if (!window) return nullptr;
    // There is no device class per window system: the base draw device for
    // the window, which may draw while the window is in front.
    device_ = MakeRef<TFrameWindowDevice>(window);
  }
  UpdateBounds();
  return device_.get();
}

void TFrameDrawDevice::SetFullScreen(bool value) {
  full_screen_ = value;
  UpdateBounds();
}

bool TFrameDrawDevice::DeviceWindowInFront() { return device_ && device_->CanDraw(); }

void TFrameDrawDevice::HandleEvent(TRefObject* sender, int32_t tag, intptr_t param) {
  TFrameControl::HandleEvent(sender, tag, param);
  if (tag == kFrameEventMoved) UpdateBounds();
}

void TFrameDrawDevice::PositionChanged() {
  TFrameControl::PositionChanged();
  UpdateBounds();
}

void TFrameDrawDevice::SizeChanged() {
  TFrameControl::SizeChanged();
  UpdateBounds();
}

void TFrameDrawDevice::MouseEvent(TMouseData* data) {
  TFrameControl::MouseEvent(data);
  if (data->Kind == kMouseDown && data->Button == kMouseLeft && !data->Captured) Click();
}

// The control's rectangle in the window's client area.
void TFrameDrawDevice::UpdateBounds() {
  if (!device_) return;
  auto* f = dynamic_cast<TWinFrame*>(frame_);
  const TPoint p = f ? f->SurfacePos() : TPoint{};
  const TRect r{p.X, p.Y, p.X + width_, p.Y + height_};
  LogLine(u"TWinFrameDrawDevice.UpdateBounds:= " +
          SystemUTF8ToWide(std::to_string(r.Left) + "," + std::to_string(r.Top) + "," + std::to_string(r.Right) +
                           "," + std::to_string(r.Bottom)));
  device_->SetBounds(r, TPoint{r.Left, r.Top}, full_screen_);
}

uint64_t TWinFrameDrawDevice::RootWindow() {
  TDrawFrame* top = frame_;
  while (top && top->Parent()) top = top->Parent();
  auto* root = top ? dynamic_cast<TWinRootControl*>(top->Handler()) : nullptr;
  return root ? uint64_t(root->GetHandle()) : 0;
}

void InitFrameDrawDevices() {
  if (g_installed) return;
  g_installed = true;
  g_previous_hook = std::exchange(FrameDrawDeviceHook, &WinFrameDrawDeviceHook);
}

void FinalizeFrameDrawDevices() {
  if (!g_installed) return;
  g_installed = false;
  FrameDrawDeviceHook = std::exchange(g_previous_hook, nullptr);
}

}  // namespace kav
