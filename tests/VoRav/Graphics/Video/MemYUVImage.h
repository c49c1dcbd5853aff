// A frame image in plain memory, as the 3D layer's would be, for tests and
// benchmarks: planes padded like textures, a count of commits.
#pragma once
#include <cstdint>
#include <vector>

#include "VoRav/Graphics/Video/vxVideoSource.h"

namespace kav::testing {

class TMemYUVImage : public TYUVImage {
 public:
  TMemYUVImage(int32_t width, int32_t height, bool rgba = false, bool packed = false)
      : TYUVImage(width, height, rgba, packed) {
    const int32_t pw = width + 8, ph = height + 8;
    if (rgba) {
      planes_[kPlaneRGBA] = {std::vector<uint8_t>(size_t(pw) * ph * 4), pw * 4, width, height};
    } else if (packed) {
      planes_[kPlanePacked] = {std::vector<uint8_t>(size_t(pw) * ph * 2), pw * 2, width, height};
    } else {
      planes_[kPlaneY] = {std::vector<uint8_t>(size_t(pw) * ph), pw, width, height};
      planes_[kPlaneU] = {std::vector<uint8_t>(size_t(pw / 2) * (ph / 2)), pw / 2, width / 2, height / 2};
      planes_[kPlaneV] = {std::vector<uint8_t>(size_t(pw / 2) * (ph / 2)), pw / 2, width / 2, height / 2};
    }
  }
  TPlaneMemory LockPlane(int32_t index) override {
    if (index < 0 || index > 4 || planes_[index].Bytes.empty()) return {};
    Enter();
    ++locked_;
    TPlane& p = planes_[index];
    TPlaneMemory m{p.Bytes.data(), p.Pitch, p.Width, p.Height};
    Leave();
    return m;
  }
  void UnlockPlane(int32_t, const TPlaneMemory&) override {
    Enter();
    --locked_;
    Leave();
  }
  void UnlockPlanes() override {
    ++commits_;
    Leave();
  }
  const uint8_t* Plane(int32_t index) const { return planes_[index].Bytes.data(); }
  int32_t Pitch(int32_t index) const { return planes_[index].Pitch; }
  int32_t Commits() const { return commits_; }
  int32_t Locked() const { return locked_; }

 private:
  struct TPlane {
    std::vector<uint8_t> Bytes;
    int32_t Pitch = 0;
    int32_t Width = 0;
    int32_t Height = 0;
  };
  TPlane planes_[5];
  int32_t commits_ = 0;
  int32_t locked_ = 0;
};

}  // namespace kav::testing
