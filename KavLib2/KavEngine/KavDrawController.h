// Stands between the engine and the draw device: creates the 3D drawer on
// demand, notices refreshes, size changes, device losses and
// re-initialisations, and condenses them into four state bits the engine
// reads once per pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "VoRav/3DBasics/Dev3DCore.h"

namespace kav {

enum : uint32_t {
  kDrawReady = 1,        // a drawer exists and its screen reports the device ready
  kDrawLost = 2,         // the renderer was lost (with kDrawReady: re-initialised)
  kDrawRedraw = 4,       // refreshed, or the device rectangle moved
  kDrawDeviceReady = 8,  // the device says it may draw
};

class TKavDrawController : public TRefObject {
 public:
  // `device` may be nil (then nothing is ever drawn).
  TKavDrawController(TDrawDevice* device, bool owns_device);

  // Engine thread. Creates the drawer on first use and binds it to the
  // device; false when it cannot be bound.
  T3DDrawer* GetDrawer();
  T3DDrawer* Drawer() const { return drawer_.get(); }
  TDrawDevice* Device() const { return device_.get(); }
  // Width and height of the device's bounds (0 x 0 without a device).
  TSize GetViewSize() const;
  // Engine thread: the bits above; clears the refresh flag, and the lost
  // flag once the drawer is ready again.
  uint32_t GetState();
  // Engine thread: draws the item as one frame; false without a drawer.
  bool Render(TDrawItem* item);

  // Called (on the callback's thread) after a refresh or a loss, so that an
  // engine waiting for its next pass looks at once. Set before the engine
  // thread starts.
  void SetWake(std::function<void()> wake) { wake_ = std::move(wake); }

  // The callbacks (device: refresh; drawer's screen: renderer lost).
  void DeviceRefresh(TRefObject* sender);
  void RndLost(TRefObject* sender);

 protected:
  void Dispose() override;

 private:
  // Departure: the controller holds a reference to the device (owned or
  // not), so a device released on the GUI thread cannot disappear under the
  // engine thread's pass; a not-owned device only loses its callback on release.
  Ref<TDrawDevice> device_;
  [[maybe_unused]] bool owns_device_;  // kept as given: the reference decides
  Ref<T3DDrawer> drawer_;
  // Written by the callbacks (other threads), cleared by GetState.
  std::atomic<bool> refresh_{false};
  std::atomic<bool> lost_{false};
  // Engine thread: whether the device could draw at the last GetState (a
  // device starts in front, so the first pass adds no redraw).
  bool was_front_ = true;
  std::function<void()> wake_;
};

}  // namespace kav
