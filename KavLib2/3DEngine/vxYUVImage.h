// The video frame image as the draw manager sees it: a frame of a clip whose
// planes a decoder thread locks, fills and unlocks while the engine thread
// draws, both under the frame's monitor. The video layer's frame sources
// fill it; the drawer makes it (CreateVideoTextures) and draws it.
#pragma once

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/vxMonitors.h"

namespace kav {

// Plane indexes.
enum : int32_t { kYuvPlaneY = 0, kYuvPlaneU = 1, kYuvPlaneV = 2, kYuvPlanePacked = 3, kYuvPlaneRgba = 4 };

class TYUVImage : public TRefObject {
 public:
  TYUVImage(int32_t width, int32_t height) : width_(width), height_(height), monitor_(MakeRef<TMonitor>()) {}
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  TMonitor* Monitor() const { return monitor_.get(); }

  // Set when the contents were lost (device loss); the decoder refills it.
  std::atomic<bool> Invalid{false};
  TDelegate<void(TYUVImage*)> OnLost;

  // A bitmap over the plane's memory, or null (no such plane, no device).
  virtual Ref<TSysBitmap> LockPlane(int32_t plane) = 0;
  virtual void UnlockPlane(int32_t plane) = 0;
  // The frame is complete: make it resident for drawing.
  virtual void Commit() = 0;

 protected:
  void MarkLost() {
    Invalid = true;
    if (OnLost.Assigned()) OnLost(this);
  }
  int32_t width_, height_;
  Ref<TMonitor> monitor_;
};

}  // namespace kav
