// Video frames on the 3D screen: the frame image whose planes a decoder
// writes straight into device textures, and the textures it holds.
#pragma once

#include "KavLib2/3DEngine/DrawManager3D2.h"

namespace kav {

// A texture the decoder fills directly (nothing to fill or upload here);
// when its buffers go with a lost device, its frame is marked lost. One
// class with the texture kind stands for TVideoTexture (kind 3, 8-bit
// luminance), TGrayScaleTexture (kind 4, 16-bit 5-6-5) and TRGBATexture
// (kind 0, 32-bit with alpha).
class TVideoPlaneTexture : public TCustomTexture {
 public:
  TVideoPlaneTexture(T3DScreen* screen, TSize size, uint8_t kind, T3DYUV* frame);
  void Fill(TSysBitmap*) override {}
  void Upload() override {}
  void ReleaseBuffers() override;
  void ForgetFrame() { frame_ = nullptr; }

 private:
  T3DYUV* frame_;
};

class T3DYUV : public TYUVImage {
 public:
  T3DYUV(T3DDrawer* owner, int32_t width, int32_t height, bool rgba, bool planes);

  Ref<TSysBitmap> LockPlane(int32_t plane) override;
  void UnlockPlane(int32_t plane) override;
  void Commit() override;
  // Gives the textures back (waits for planes still locked).
  void GiveBack();

  bool IsRgba() const { return is_rgba_; }
  uint8_t Kind() const { return kind_; }
  int32_t PaddedWidth() const { return padded_w_; }
  int32_t PaddedHeight() const { return padded_h_; }
  TVideoPlaneTexture* Plane(int32_t index) const { return planes_[index].get(); }
  int32_t LockCount() const { return lock_count_; }
  void ForgetOwner() { owner_ = nullptr; }
  // Internal: a plane's device texture went with the device.
  void PlaneLost() { MarkLost(); }

 protected:
  void Dispose() override;

 private:
  void ExtendEdges(int32_t plane, TSysBitmap* b);
  T3DDrawer* owner_;
  bool is_rgba_;
  uint8_t kind_ = 0;
  int32_t padded_w_, padded_h_;
  Ref<TVideoPlaneTexture> planes_[5];
  Ref<T3DSurface> locked_surface_[5];
  Ref<TSysBitmap> locked_bitmap_[5];
  int32_t lock_count_ = 0;
  bool disposed_ = false;
};

// min(size + 8, next power of two at or above size).
int32_t PaddedVideoSize(int32_t size);

}  // namespace kav
