#include "KavLib2/3DEngine/ColorGradeGenerator.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

void FillIdentity(TSysBitmap* b, int32_t bpp) {
  KAV_ASSERT(b && b->Width() >= 32 && b->Height() >= 1024 && b->BytesPerPixel() == bpp);
  for (int32_t s = 0; s < 32; ++s)
    for (int32_t r = 0; r < 32; ++r) {
      uint8_t* row = b->Row(s * 32 + r);
      for (int32_t c = 0; c < 32; ++c) {
        uint8_t* p = row + c * bpp;
        p[0] = uint8_t(LutComponent(s));
        p[1] = uint8_t(LutComponent(r));
        p[2] = uint8_t(LutComponent(c));
        if (bpp == 4) p[3] = 255;
      }
    }
}

// Halves to even, as every rounding of the project.
uint8_t Clamp255(double v) { return v > 0 ? uint8_t(std::min(std::nearbyint(v), 255.0)) : 0; }

}  // namespace

void FillIdentityLut24(TSysBitmap* bitmap) { FillIdentity(bitmap, 3); }
void FillIdentityLut32(TSysBitmap* bitmap) { FillIdentity(bitmap, 4); }

void AddIdentityLut24(TSysBitmap* b) {
  KAV_ASSERT(b && b->Width() >= 32 && b->Height() >= 1024 && b->BytesPerPixel() == 3);
  for (int32_t s = 0; s < 32; ++s)
    for (int32_t r = 0; r < 32; ++r) {
      uint8_t* row = b->Row(s * 32 + r);
      for (int32_t c = 0; c < 32; ++c) {
        row[c * 3] = uint8_t(row[c * 3] + LutComponent(s));
        row[c * 3 + 1] = uint8_t(row[c * 3 + 1] + LutComponent(r));
        row[c * 3 + 2] = uint8_t(row[c * 3 + 2] + LutComponent(c));
      }
    }
}

void FillYuvToRgbLut(TSysBitmap* b) {
  KAV_ASSERT(b && b->Width() >= 32 && b->Height() >= 1024 && b->BytesPerPixel() == 4);
  for (int32_t y = 0; y < 32; ++y)
    for (int32_t u = 0; u < 32; ++u) {
      uint8_t* row = b->Row(y * 32 + u);
      for (int32_t v = 0; v < 32; ++v) {
        const double yy = (LutComponent(y) - 16) * 1.1643835616438356;
        const double uu = LutComponent(u) - 128, vv = LutComponent(v) - 128;
        uint8_t* p = row + v * 4;
        p[2] = Clamp255(yy + 1.596 * vv);
        p[1] = Clamp255(yy - 0.813 * vv - 0.391 * uu);
        p[0] = Clamp255(yy + 2.018 * uu);
        p[3] = 255;
      }
    }
}

void FillGreyRampLut(TSysBitmap* b) {
  KAV_ASSERT(b && b->Width() >= 256 && b->BytesPerPixel() == 4);
  for (int32_t y = 0; y < b->Height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(b->Row(y));
    for (uint32_t i = 0; i < 256; ++i) row[i] = 0xFF000000u | i << 16 | i << 8 | i;
  }
}

namespace {
struct TLutCache {
  Ref<TSysBitmap> Lut;
  std::u16string Name;
};
std::mutex g_lut_lock;
TLutCache g_luts[2];  // 0 identity, 1 video
}  // namespace

Ref<TSysBitmap> GetProfileLut(bool identity, TColorProfile* profile) {
  Ref<TColorProfile> target;
  if (!ColorManagementOff.load()) target = profile ? Ref<TColorProfile>(profile) : Ref<TColorProfile>(GetDefaultColorProfile());
  const std::u16string name = target ? target->Name() : std::u16string();
  std::lock_guard<std::mutex> g(g_lut_lock);
  TLutCache& c = g_luts[identity ? 0 : 1];
  if (c.Lut && c.Name == name) return c.Lut;
  Ref<TSysBitmap> lut = CreateSysBitmap(32, 1024, StdFormats().A8R8G8B8);
  if (!lut) return nullptr;
  if (identity)
    FillIdentityLut32(lut.get());
  else
    FillYuvToRgbLut(lut.get());
  if (target) {
    TColorProfile* source = GetStandardColorProfile(identity ? u"sRGB" : u"YUVsRGB");
    if (Ref<TColorTransform> t = CreateColorTransform(source, target.get())) t->TransformPixels(lut.get());
  }
  c.Lut = lut;  // the previous lookup lives on while callers hold it
  c.Name = name;
  return lut;
}

void FreeProfileLuts() {
  std::lock_guard<std::mutex> g(g_lut_lock);
  for (auto& c : g_luts) c = TLutCache{};
}

TBaseTexture* TCustomColorGradeTexture::GetTexture() {
  if (texture_ || !screen_ || !screen_->DeviceReady()) return texture_.get();
  T3DRenderer* r = screen_->Renderer();
  Ref<TSysBitmap> bmp;
  Ref<T3DSurface> surface;
  Ref<TVolumeTexture> volume;
  if (kind_ == 1) {
    volume = r->CreateVolumeTexture(32, 32, 32);
    if (!volume) return nullptr;
    bmp = volume->LockBox(0, nullptr);
    texture_ = volume;
  } else {
    Ref<T3DTexture> t = r->CreateTexture(k3DTexColorAlpha, 256, 16, false);
    if (!t || !(surface = t->GetSurface(0))) return nullptr;
    bmp = surface->Lock(TRect{0, 0, 256, 16}, false);
    texture_ = t;
  }
  if (!bmp) {
    texture_ = nullptr;
    return nullptr;
  }
  if (source_ && source_->Width() >= bmp->Width() && source_->Height() >= bmp->Height())
    bmp->CopyRect(TRect{0, 0, bmp->Width(), bmp->Height()}, source_.get(), 0, TPoint{});
  else if (kind_ == 1)
    FillIdentityLut32(bmp.get());
  else
    FillGreyRampLut(bmp.get());
  // Every row of a ramp is transformed (all rows stay equal, whichever the
  // sampler reads).
  if (transform_) transform_->TransformPixels(bmp.get());
  if (volume)
    volume->UnlockBox(0, bmp);
  else
    surface->Unlock(bmp);
  texture_->OnRelease = T3DReleaseEvent::Bind<&TCustomColorGradeTexture::ReleaseDeviceTexture>(this);
  return texture_.get();
}

void TCustomColorGradeTexture::SetColorTransform(TColorTransform* transform) {
  transform_ = Ref<TColorTransform>(transform);
  ReleaseDeviceTexture();
  GetTexture();
}

void TCustomColorGradeTexture::SetSourceLut(TSysBitmap* bitmap, bool owns) {
  source_ = owns ? Ref<TSysBitmap>::Adopt(bitmap) : Ref<TSysBitmap>(bitmap);
  ReleaseDeviceTexture();
}

void TCustomColorGradeTexture::Dispose() {
  source_ = nullptr;
  transform_ = nullptr;
  TCustomColoringTexture::Dispose();
}

}  // namespace kav
