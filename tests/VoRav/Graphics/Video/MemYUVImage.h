// A frame image in plain memory, as the 3D layer's would be, for tests and
// benchmarks: planes padded like textures, a count of commits.
#pragma once
#include <cstdint>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/Video/vxVideoSource.h"

namespace kav::testing {

class TMemYUVImage : public TYUVImage {
 public:
  TMemYUVImage(int32_t width, int32_t height, bool rgba = false, bool packed = false) : TYUVImage(width, height) {
    const int32_t pw = width + 8, ph = height + 8;
    if (rgba) {
      Make(kYuvPlaneRgba, pw, ph, 4);
    } else if (packed) {
      Make(kYuvPlanePacked, pw, ph, 2);
    } else {
      Make(kYuvPlaneY, pw, ph, 1);
      Make(kYuvPlaneU, pw / 2, ph / 2, 1);
      Make(kYuvPlaneV, pw / 2, ph / 2, 1);
    }
  }
  Ref<TSysBitmap> LockPlane(int32_t index) override {
    if (index < 0 || index > 4 || planes_[index].Bytes.empty()) return nullptr;
    Monitor()->Enter();
    ++locked_;
    TPlane& p = planes_[index];
    std::vector<uint8_t*> rows;
    for (int32_t y = 0; y < p.Height; ++y) rows.push_back(p.Bytes.data() + size_t(y) * p.Pitch);
    TPixelFormat* f = p.Pitch / p.Width == 4 ? StdFormats().A8R8G8B8
                      : p.Pitch / p.Width == 2 ? StdFormats().R5G6B5 : StdFormats().Y8;
    Ref<TSysBitmap> b = MakeRef<TSysBitmap>(TSize{p.Width, p.Height}, std::move(rows), f);
    Monitor()->Leave();
    return b;
  }
  void UnlockPlane(int32_t) override {
    Monitor()->Enter();
    --locked_;
    Monitor()->Leave();
  }
  void Commit() override {
    ++commits_;
    Invalid = false;
  }
  // A device reset.
  void Lose() { MarkLost(); }
  const uint8_t* Plane(int32_t index) const { return planes_[index].Bytes.data(); }
  int32_t Pitch(int32_t index) const { return planes_[index].Pitch; }
  int32_t Commits() const { return commits_; }
  int32_t Locked() const { return locked_; }
  int32_t MonitorEntries() const { return monitor_->EnterCount(); }

 private:
  struct TPlane {
    std::vector<uint8_t> Bytes;
    int32_t Pitch = 0;
    int32_t Width = 0;
    int32_t Height = 0;
  };
  void Make(int32_t index, int32_t w, int32_t h, int32_t bpp) {
    planes_[index] = {std::vector<uint8_t>(size_t(w) * h * bpp), w * bpp, w, h};
  }
  TPlane planes_[5];
  int32_t commits_ = 0;
  int32_t locked_ = 0;
};

}  // namespace kav::testing
