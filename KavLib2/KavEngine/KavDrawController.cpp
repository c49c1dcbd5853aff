#include "KavLib2/KavEngine/KavDrawController.h"

#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/vxLog.h"

namespace kav {

TKavDrawController::TKavDrawController(TDrawDevice* device, bool owns_device)
    : device_(Ref<TDrawDevice>(device)), owns_device_(owns_device) {
  if (device_) device_->OnRepaint = T3DNotifyEvent::Bind<&TKavDrawController::DeviceRefresh>(this);
}

void TKavDrawController::Dispose() {
  if (device_) {
    if (device_->OnRepaint == T3DNotifyEvent::Bind<&TKavDrawController::DeviceRefresh>(this))
      device_->OnRepaint = nullptr;
  }
  if (drawer_) {
    if (drawer_->Screen()) drawer_->Screen()->OnRendererLost = nullptr;
    drawer_->Close();
  }
  drawer_ = nullptr;
  device_ = nullptr;
  TRefObject::Dispose();
}

void TKavDrawController::DeviceRefresh(TRefObject*) {
  refresh_ = true;
  LogLine(u"TKavDrawController.DeviceRefresh: DrawDevice Refresh!");
  if (wake_) wake_();
}

void TKavDrawController::RndLost(TRefObject*) {
  lost_ = true;
  LogLine(u"TKavDrawController.RndLost");
  if (wake_) wake_();
}

T3DDrawer* TKavDrawController::GetDrawer() {
  if (!drawer_) {
    drawer_ = MakeRef<T3DDrawer>();
    if (drawer_->Screen()) drawer_->Screen()->OnRendererLost = T3DNotifyEvent::Bind<&TKavDrawController::RndLost>(this);
  }
  if (device_) drawer_->SetDrawDevice(device_.get());
  return drawer_.get();
}

TSize TKavDrawController::GetViewSize() const {
  if (!device_) return TSize{0, 0};
  const TRect& b = device_->Bounds();
  return TSize{b.Right - b.Left, b.Bottom - b.Top};
}

uint32_t TKavDrawController::GetState() {
  uint32_t bits = 0;
  const bool front = device_ && device_->CanDraw();
  if (front) bits |= kDrawDeviceReady;
  // Departure: a device that comes back to the front asks for a redraw, as
  // a refresh does. What was drawn while its window was behind or not yet
  // shown may never have reached the screen, and a still slide draws no
  // other frame (a full-screen device is also rebuilt on that frame).
  const bool came_front = front && !was_front_;
  was_front_ = front;
  if (refresh_.exchange(false) || came_front) {
    bits |= kDrawRedraw;
  } else if (device_ && drawer_ && drawer_->Screen()) {
    // Compared in the coordinates the screen keeps: the device's bounds
    // moved to its origin offset.
    const TRect d = device_->GetOffsetRect();
    const TRect& s = drawer_->Screen()->DeviceRect();
    const bool device_empty = d.IsEmpty();
    const bool screen_empty = s.IsEmpty();
    const bool same = d == s || (device_empty && screen_empty);
    if (!same) bits |= kDrawRedraw;
  }
  if (lost_) bits |= kDrawLost;
  if (!drawer_ || !drawer_->Screen() || !drawer_->Screen()->DeviceReady()) return bits;
  if (lost_.exchange(false)) LogLine(u"TKavDrawController.GetState: Inited, not Reinited");
  return bits | kDrawReady;
}

bool TKavDrawController::Render(TDrawItem* item) {
  if (!drawer_ || !item) return false;
  return drawer_->Render(item);
}

}  // namespace kav
