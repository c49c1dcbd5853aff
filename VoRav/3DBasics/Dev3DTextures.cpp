// Screen textures, colouring textures and shaders: owners that re-create
// their device objects after device loss.
#include <algorithm>
#include <cstring>

#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/Graphics/SysBilinearUtils.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {
void LogTex(const std::string& text) { LogLine(std::u16string(text.begin(), text.end())); }
}  // namespace

int32_t TextureDimension(int32_t image) {
  if (image < 1) return 0;
  int32_t t = 32;
  while (t < image && t < (1 << 30)) t <<= 1;
  return t;
}

TCustomTexture::TCustomTexture(T3DScreen* screen) : screen_(screen) {
  KAV_ASSERT(screen_);
  screen_->AddResource(this);
}

void TCustomTexture::Dispose() {
  ReleaseBuffers();
  if (screen_) screen_->RemoveResource(this);
  screen_ = nullptr;
  TRefObject::Dispose();
}

void TCustomTexture::ReleaseBuffers() {
  if (texture_) texture_->OnRelease = T3DReleaseEvent();
  texture_ = nullptr;
  Companion = nullptr;
}

void TCustomTexture::SetSize(TSize size) {
  if (size == size_) return;
  ReleaseBuffers();
  size_ = size;
  tex_size_ = TSize{TextureDimension(size.cx), TextureDimension(size.cy)};
  inv_w_ = tex_size_.cx > 0 ? 1.0 / tex_size_.cx : 0;
  inv_h_ = tex_size_.cy > 0 ? 1.0 / tex_size_.cy : 0;
}

void TCustomTexture::SetKind(uint8_t kind) {
  ReleaseBuffers();
  kind_ = kind;
}

void TCustomTexture::SetMip(bool mip) {
  if (mip == mip_) return;
  if (!mip_requested_) ReleaseBuffers();
  if (mip) mip_requested_ = true;
  mip_ = mip;
}

void TCustomTexture::SetPremultiplied(bool on) {
  premultiplied_ = on;
  if (texture_) texture_->Premultiplied = on;
}

void TCustomTexture::SetTexCoord(int32_t index, T3DVertex& vertex, float u, float v) const {
  vertex.Tex[index][0] = float(u * inv_w_);
  vertex.Tex[index][1] = float(v * inv_h_);
}

bool TCustomTexture::Preload() {
  T3DTexture* t = GetTexture();
  if (!t) return false;
  t->PreLoad();
  return true;
}

T3DTexture* TCustomTexture::GetTexture() {
  if (texture_ || tex_size_.cx == 0 || tex_size_.cy == 0) return texture_.get();
  if (!screen_ || !screen_->DeviceReady()) return nullptr;
  T3DRenderer* r = screen_->Renderer();
  texture_ = r->CreateTexture(kind_, tex_size_.cx, tex_size_.cy, mip_);
  if (Is3DTargetKind(kind_)) LogTex(std::string("Rt Create First Attempt Ok=") + (texture_ ? "True" : "False"));
  if (!texture_ && r->LastResult() == k3DOutOfVideoMemory && Is3DTargetKind(kind_)) {
    // Free managed textures in halves from the end of the list and retry.
    std::vector<Ref<TCustomTexture>> managed;
    for (const Ref<TRefObject>& o : screen_->Resources())
      if (auto* t = dynamic_cast<TCustomTexture*>(o.get()))
        if (t != this && (t->kind_ == k3DTexColorAlpha || t->kind_ == k3DTexLuminance))
          managed.push_back(Ref<TCustomTexture>(t));
    const int32_t n = int32_t(managed.size());
    LogTex("tmpTexListcount=" + std::to_string(n));
    for (int32_t p = 1; !texture_ && (int64_t(1) << (p - 1)) < n; ++p) {
      const int32_t first = (n >> (p - 1)) - 1, last = n >> p;
      for (int32_t i = first; i >= last; --i) managed[size_t(i)]->ReleaseBuffers();
      texture_ = r->CreateTexture(kind_, tex_size_.cx, tex_size_.cy, mip_);
      LogTex("Released Managed Texs from " + std::to_string(first) + " to " + std::to_string(last) + "; Rt Create " +
             std::to_string(p) + "nd Attempt Ok=" + (texture_ ? "True" : "False"));
    }
  }
  if (!texture_) return nullptr;
  texture_->Premultiplied = premultiplied_;
  texture_->OnRelease = T3DReleaseEvent::Bind<&TCustomTexture::OnRelease>(this);
  if (kind_ == k3DTexColorAlpha || kind_ == k3DTexLuminance) Upload();
  return texture_.get();
}

namespace {

// Halves `src` into `dst` (exactly half as wide and high): each channel the
// 2 x 2 average, summed and shifted right by 2. 16-bit pixels are unpacked
// into their fields first.
void HalveExact(TSysBitmap* src, TSysBitmap* dst) {
  const int32_t bpp = src->BytesPerPixel();
  for (int32_t y = 0; y < dst->Height(); ++y) {
    const uint8_t* r0 = src->Row(2 * y);
    const uint8_t* r1 = src->Row(2 * y + 1);
    uint8_t* d = dst->Row(y);
    for (int32_t x = 0; x < dst->Width(); ++x) {
      if (bpp == 2) {
        uint16_t p[4];
        std::memcpy(&p[0], r0 + 4 * x, 2);
        std::memcpy(&p[1], r0 + 4 * x + 2, 2);
        std::memcpy(&p[2], r1 + 4 * x, 2);
        std::memcpy(&p[3], r1 + 4 * x + 2, 2);
        uint32_t a = 0, b = 0, c = 0;
        for (uint16_t v : p) {
          a += v & 0x1F;
          b += (v >> 5) & 0x3F;
          c += v >> 11;
        }
        const uint16_t out = uint16_t((a >> 2) | ((b >> 2) << 5) | ((c >> 2) << 11));
        std::memcpy(d + 2 * x, &out, 2);
      } else {
        for (int32_t k = 0; k < bpp; ++k) {
          const int32_t i = 2 * x * bpp + k;
          d[x * bpp + k] = uint8_t((r0[i] + r0[i + bpp] + r1[i] + r1[i + bpp]) >> 2);
        }
      }
    }
  }
}

// Any other size: bilinear for 32-bit levels; the nearest 2 x 2 block
// average (edges clamped) for the 8- and 16-bit ones.
void ResampleLevel(TSysBitmap* src, TSysBitmap* dst) {
  if (src->BytesPerPixel() == 4) {
    TBitmapRowInfo a, b;
    GetBitmapRowInfo(src, a);
    GetBitmapRowInfo(dst, b);
    BilinearResample(a, b);
    return;
  }
  const int32_t bpp = src->BytesPerPixel();
  for (int32_t y = 0; y < dst->Height(); ++y) {
    const int32_t sy0 = std::min(int32_t(int64_t(y) * src->Height() / dst->Height()), src->Height() - 1);
    const int32_t sy1 = std::min(sy0 + 1, src->Height() - 1);
    for (int32_t x = 0; x < dst->Width(); ++x) {
      const int32_t sx0 = std::min(int32_t(int64_t(x) * src->Width() / dst->Width()), src->Width() - 1);
      const int32_t sx1 = std::min(sx0 + 1, src->Width() - 1);
      const uint8_t* q[4] = {src->Row(sy0) + sx0 * bpp, src->Row(sy0) + sx1 * bpp, src->Row(sy1) + sx0 * bpp,
                             src->Row(sy1) + sx1 * bpp};
      uint8_t* d = dst->Row(y) + x * bpp;
      if (bpp == 2) {
        uint32_t a = 0, b = 0, c = 0;
        for (const uint8_t* pp : q) {
          uint16_t v;
          std::memcpy(&v, pp, 2);
          a += v & 0x1F;
          b += (v >> 5) & 0x3F;
          c += v >> 11;
        }
        const uint16_t out = uint16_t((a >> 2) | ((b >> 2) << 5) | ((c >> 2) << 11));
        std::memcpy(d, &out, 2);
      } else {
        for (int32_t k = 0; k < bpp; ++k) d[k] = uint8_t((q[0][k] + q[1][k] + q[2][k] + q[3][k]) >> 2);
      }
    }
  }
}

}  // namespace

void TCustomTexture::Upload() {
  if (!texture_) return;
  const uint32_t levels = texture_->LevelCount();
  std::vector<Ref<T3DSurface>> surfaces;
  std::vector<Ref<TSysBitmap>> bitmaps;
  int32_t w = size_.cx, h = size_.cy;
  for (uint32_t l = 0; l < levels; ++l) {
    Ref<T3DSurface> s = texture_->GetSurface(l);
    if (!s) break;
    const TSize ls = s->GetSize();
    if (l > 0) {
      w = std::max(1, w / 2);
      h = std::max(1, h / 2);
    }
    const TRect r{0, 0, std::min(w, ls.cx), std::min(h, ls.cy)};
    if (r.IsEmpty()) break;
    Ref<TSysBitmap> b = s->Lock(r, false);
    if (!b) break;
    if (l == 0) {
      Fill(b.get());
    } else {
      // Every texture kind gets its levels, whatever its pixel size.
      TSysBitmap* prev = bitmaps.back().get();
      if (prev->Width() == 2 * b->Width() && prev->Height() == 2 * b->Height())
        HalveExact(prev, b.get());
      else
        ResampleLevel(prev, b.get());
    }
    surfaces.push_back(s);
    bitmaps.push_back(b);
  }
  for (size_t i = 0; i < surfaces.size(); ++i) surfaces[i]->Unlock(bitmaps[i]);
}

// ---- TCustomColoringTexture ----

TCustomColoringTexture::TCustomColoringTexture(T3DScreen* screen) : screen_(screen) {
  KAV_ASSERT(screen_);
  screen_->AddResource(this);
}

void TCustomColoringTexture::Dispose() {
  texture_ = nullptr;
  if (screen_) screen_->RemoveResource(this);
  screen_ = nullptr;
  TRefObject::Dispose();
}

// ---- TShader ----

TShader::TShader(T3DScreen* screen, std::string code, int32_t kind)
    : screen_(screen), code_(std::move(code)), kind_(kind) {
  KAV_ASSERT(screen_);
  Recreate();
  screen_->AddResource(this);
}

void TShader::Recreate() {
  if (shader_ || !screen_ || !screen_->DeviceReady()) return;
  shader_ = screen_->Renderer()->CreateShader(code_, kind_);
  if (shader_) shader_->OnRelease = T3DReleaseEvent::Bind<&TShader::ReleaseDeviceShader>(this);
}

void TShader::Dispose() {
  shader_ = nullptr;
  if (screen_) screen_->RemoveResource(this);
  screen_ = nullptr;
  TRefObject::Dispose();
}

}  // namespace kav
