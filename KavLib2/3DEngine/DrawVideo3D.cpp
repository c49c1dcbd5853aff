#include "KavLib2/3DEngine/DrawVideo3D.h"

#include <algorithm>
#include <cstring>

#include "VoRav/3DBasics/DXDev3D.h"

namespace kav {

int32_t PaddedVideoSize(int32_t size) { return std::min(size + 8, NextPowerOfTwo(size)); }

TVideoPlaneTexture::TVideoPlaneTexture(T3DScreen* screen, TSize size, uint8_t kind, T3DYUV* frame)
    : TCustomTexture(screen), frame_(frame) {
  SetKind(kind);
  SetSize(size);
}

void TVideoPlaneTexture::ReleaseBuffers() {
  const bool had = texture_ != nullptr;
  TCustomTexture::ReleaseBuffers();
  if (had && frame_) frame_->PlaneLost();
}

T3DYUV::T3DYUV(T3DDrawer* owner, int32_t width, int32_t height, bool rgba, bool planes)
    : TYUVImage(width, height),
      owner_(owner),
      is_rgba_(rgba),
      padded_w_(PaddedVideoSize(width)),
      padded_h_(PaddedVideoSize(height)) {
  T3DScreen* s = owner->Screen();
  const TSize full{width, height}, half{width / 2, height / 2};
  if (planes) {
    planes_[kYuvPlaneY] = MakeRef<TVideoPlaneTexture>(s, full, k3DTexLuminance, this);
    planes_[kYuvPlaneU] = MakeRef<TVideoPlaneTexture>(s, half, k3DTexLuminance, this);
    planes_[kYuvPlaneV] = MakeRef<TVideoPlaneTexture>(s, half, k3DTexLuminance, this);
    for (int i = 0; i < 3; ++i) planes_[i]->GetTexture();
  } else if (rgba) {
    planes_[kYuvPlaneRgba] = MakeRef<TVideoPlaneTexture>(s, full, k3DTexColorAlpha, this);
  } else {
    planes_[kYuvPlanePacked] = MakeRef<TVideoPlaneTexture>(s, full, k3DTexColor16, this);
    kind_ = 1;
  }
}

Ref<TSysBitmap> T3DYUV::LockPlane(int32_t plane) {
  if (plane < 0 || plane > 4) return nullptr;
  TMonitor* m = monitor_.get();
  m->Enter();
  Ref<TSysBitmap> out;
  TVideoPlaneTexture* t = planes_[plane].get();
  if (!disposed_ && t && !locked_bitmap_[plane]) {
    T3DTexture* dev = t->GetTexture();
    Ref<T3DSurface> s = dev ? dev->GetSurface(0) : nullptr;
    if (s) {
      const bool half = plane == kYuvPlaneU || plane == kYuvPlaneV;
      const TSize ts = s->GetSize();
      const TRect r{0, 0, std::min(half ? padded_w_ / 2 : padded_w_, ts.cx),
                    std::min(half ? padded_h_ / 2 : padded_h_, ts.cy)};
      out = s->Lock(r, false);
      if (out) {
        locked_surface_[plane] = s;
        locked_bitmap_[plane] = out;
        ++lock_count_;
      }
    }
  }
  m->Leave();
  return out;
}

void T3DYUV::ExtendEdges(int32_t plane, TSysBitmap* b) {
  if (plane > kYuvPlaneV) return;  // RGBA and packed frames are not extended
  const bool half = plane != kYuvPlaneY;
  const int32_t w = std::min(half ? width_ / 2 : width_, b->Width());
  const int32_t h = std::min(half ? height_ / 2 : height_, b->Height());
  if (w <= 0 || h <= 0) return;
  for (int32_t y = 0; y < h; ++y) {
    uint8_t* row = b->Row(y);
    std::memset(row + w, row[w - 1], size_t(b->Width() - w));
  }
  // Whole padded rows, so the corner beyond both edges is filled too.
  for (int32_t y = h; y < b->Height(); ++y) std::memcpy(b->Row(y), b->Row(h - 1), size_t(b->Width()));
}

void T3DYUV::UnlockPlane(int32_t plane) {
  TMonitor* m = monitor_.get();
  m->Enter();
  KAV_ASSERT(lock_count_ >= 1);
  if (plane >= 0 && plane <= 4 && locked_bitmap_[plane]) {
    ExtendEdges(plane, locked_bitmap_[plane].get());
    locked_surface_[plane]->Unlock(locked_bitmap_[plane]);
    locked_surface_[plane] = nullptr;
    --lock_count_;
  }
  m->Leave();
}

void T3DYUV::Commit() {
  TMonitor* m = monitor_.get();
  m->Enter();
  if (!disposed_)
    for (auto& p : planes_)
      if (p) p->Preload();
  Invalid = false;
  m->Leave();
}

void T3DYUV::GiveBack() {
  TMonitor* m = monitor_.get();
  m->Enter();
  while (lock_count_ > 0) m->Wait();
  for (auto& p : planes_) {
    if (p) p->ForgetFrame();
    p = nullptr;
  }
  disposed_ = true;
  owner_ = nullptr;
  m->Leave();
}

void T3DYUV::Dispose() {
  KAV_ASSERT(lock_count_ == 0);
  if (owner_) owner_->RemoveYuv(this);
  GiveBack();
  TYUVImage::Dispose();
}

// ---- The drawer's video operations ----

TYUVImage* T3DDrawer::CreateVideoTextures(int32_t width, int32_t height, bool rgba) {
  if (width < 1 || height < 1 || width > int32_t(kSwMaxSurfaceSize) || height > int32_t(kSwMaxSurfaceSize))
    return nullptr;
  auto* r9 = dynamic_cast<T3DRenderer9*>(screen_->Renderer());
  const bool planes = ShaderLevel() != 0 && r9 && r9->CanRunShaders() && !rgba;
  auto* f = new T3DYUV(this, width, height, rgba, planes);
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  yuv_images_.push_back(f);
  return f;
}

void T3DDrawer::RemoveYuv(T3DYUV* yuv) {
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  yuv_images_.erase(std::remove(yuv_images_.begin(), yuv_images_.end(), yuv), yuv_images_.end());
}

void T3DDrawer::DrawVideo(TYUVImage* frame, const T3DPoint& origin, const TVideoDrawParams& params,
                          const T3DPoint& y_axis, const T3DPoint& x_axis) {
  auto* f = dynamic_cast<T3DYUV*>(frame);
  KAV_ASSERT(f);
  if (!IsReady()) return;
  const uint32_t alpha = uint32_t(std::clamp(int32_t(params.Opacity * 2.55f), 0, 255));
  const uint32_t color = alpha << 24 | 0x00FFFFFFu;
  const T3DPoint p0 = ToDevice(origin);
  const T3DPoint xv = ToDeviceVector(x_axis), yv = ToDeviceVector(y_axis);
  T3DPoint c[4] = {p0, {p0.x + xv.x, p0.y + xv.y, p0.z + xv.z}, {p0.x + yv.x, p0.y + yv.y, p0.z + yv.z},
                   {p0.x + xv.x + yv.x, p0.y + xv.y + yv.y, p0.z + xv.z + yv.z}};
  if (params.AsRect) {
    c[1] = T3DPoint{p0.x + xv.x, p0.y, p0.z};
    c[2] = T3DPoint{p0.x, p0.y + yv.y, p0.z};
    c[3] = T3DPoint{p0.x + xv.x, p0.y + yv.y, p0.z};
  }
  RecordBounds(c, 4);
  TMonitor* m = f->Monitor();
  m->Enter();
  const TFloatRect& sr = params.SourceRect;
  const TFloatRect src = (sr.Right > sr.Left && sr.Bottom > sr.Top)
                             ? sr
                             : TFloatRect{0, 0, float(f->Width()), float(f->Height())};
  const TFloatRect half{src.Left / 2, src.Top / 2, src.Right / 2, src.Bottom / 2};
  auto* r9 = dynamic_cast<T3DRenderer9*>(screen_->Renderer());
  const bool shaders = ShaderLevel() != 0 && r9 && r9->CanRunShaders();
  T3DRenderer* r = screen_->Renderer();
  if (shaders && !f->IsRgba() && f->Plane(kYuvPlaneY)) {
    KAV_ASSERT(params.DeinterlaceMode <= 2);
    const char* name = params.ChromaKey ? (params.DeinterlaceMode ? "color_grade_chroma_deinter" : "color_grade_chromakey")
                                        : (params.DeinterlaceMode ? "color_grade_deinter" : "color_grade_video");
    SetShader(Shader(name));
    const float ty = float(f->Plane(kYuvPlaneY)->TextureSize().cy);
    float consts[5][4] = {};
    consts[0][0] = params.GradeLut1 ? params.GradeMix : 0.0f;
    consts[1][0] = ty;
    consts[1][1] = ty > 0 ? 1.0f / ty : 0;
    consts[2][0] = params.DeinterlaceMode == 2 ? 1.0f : 0.0f;
    consts[2][1] = params.DeinterlaceMode == 2 ? -1.0f : 0.0f;
    consts[3][0] = params.KeyTolerance;
    consts[3][1] = params.KeyTolerance > 0 ? 1.0f / params.KeyTolerance : 0.0f;
    consts[4][0] = params.KeyU;
    consts[4][1] = params.KeyV;
    r->SetShaderConstants(true, 0, &consts[0][0], 5);
    r->SetTexture(3, params.GradeLut1 ? params.GradeLut1->GetTexture() : nullptr);
    r->SetTexture(4, params.GradeLut2 ? params.GradeLut2->GetTexture() : nullptr);
    TCustomTexture* tx[3] = {f->Plane(kYuvPlaneY), f->Plane(kYuvPlaneU), f->Plane(kYuvPlaneV)};
    const TFloatRect s3[3] = {src, half, half};
    DrawQuadTextures(tx, s3, 3, c, color);
    SetShader(nullptr);
    r->SetTexture(3, nullptr);
    r->SetTexture(4, nullptr);
  } else if (f->IsRgba() && f->Plane(kYuvPlaneRgba)) {
    // Without shaders too: an RGBA frame has no packed texture.
    TShader* grade = nullptr;
    if (shaders && params.GradeMode != 0) grade = Shader(params.GradeMode == 1 ? "color_grading" : "color_grade_linear");
    if (grade) {
      SetShader(grade);
      r->SetTexture(1, params.GradeLut1 ? params.GradeLut1->GetTexture() : nullptr);
      r->SetTexture(2, params.GradeLut2 ? params.GradeLut2->GetTexture() : nullptr);
      const float t[4] = {params.GradeMix, 0, 0, 0};
      r->SetShaderConstants(true, 0, t, 1);
    }
    TCustomTexture* tx[1] = {f->Plane(kYuvPlaneRgba)};
    DrawQuadTextures(tx, &src, 1, c, color);
    if (grade) {
      SetShader(nullptr);
      r->SetTexture(1, nullptr);
      r->SetTexture(2, nullptr);
    }
  } else if (f->Plane(kYuvPlanePacked)) {
    TCustomTexture* tx[1] = {f->Plane(kYuvPlanePacked)};
    DrawQuadTextures(tx, &src, 1, c, color);
  }
  m->Leave();
}

}  // namespace kav
