// The resource wrappers: surfaces, textures, volume textures, vertex lists
// and shaders of one device.
#include <cstring>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

using DevGuard = std::lock_guard<std::recursive_mutex>;

TPixelFormat* PixelFormatOf3D(TSwFormat f) {
  switch (f) {
    case TSwFormat::A8R8G8B8:
    case TSwFormat::X8R8G8B8: return StdFormats().A8R8G8B8;
    case TSwFormat::R5G6B5: return PixelFormatByName("R5G6B5");
    case TSwFormat::X1R5G5B5:
    case TSwFormat::A1R5G5B5: return PixelFormatByName("X1R5G5B5");
    // Luminance reads as the grey 8-bit format, alpha as the alpha one.
    case TSwFormat::L8: return StdFormats().Y8;
    case TSwFormat::A8: return StdFormats().A8;
    default: return nullptr;
  }
}

namespace {
Ref<TSysBitmap> BitmapOver(uint8_t* bits, int32_t pitch, int32_t width, int32_t height, TPixelFormat* format) {
  if (!bits || width <= 0 || height <= 0 || !format) return nullptr;
  std::vector<uint8_t*> rows(static_cast<size_t>(height));
  for (int32_t y = 0; y < height; ++y) rows[size_t(y)] = bits + int64_t(y) * pitch;
  return MakeRef<TRefBitmap>(TSize{width, height}, std::move(rows), nullptr, false, format);
}

void CopyIntoBitmap(TBitmap* dest, TSysBitmap* src) {
  TRect r{0, 0, src->Width(), src->Height()};
  if (auto* sys = dynamic_cast<TSysBitmap*>(dest))
    sys->CopyRect(r, src, 0, TPoint{});
  else if (auto* direct = dynamic_cast<TDirectBitmap*>(dest))
    direct->CopyRect(r, src, TPoint{});
}
}  // namespace

// ---- T3DSurface9 ----

T3DSurface9::T3DSurface9(Ref<TSwSurface> surface, Ref<TSwDevice> device, T3DTexture9* owner, bool render_target)
    : surface_(std::move(surface)), device_(std::move(device)), owner_(owner), render_target_(render_target) {}

TSize T3DSurface9::GetSize() {
  if (!surface_) return TSize{};
  return TSize{int32_t(surface_->Width()), int32_t(surface_->Height())};
}

TPixelFormat* T3DSurface9::GetPixelFormat() {
  if (!surface_) return nullptr;
  TPixelFormat* f = PixelFormatOf3D(surface_->Format());
  KAV_ASSERT(f);
  return f;
}

Ref<TSysBitmap> T3DSurface9::Lock(const TRect& rect, bool read_only) {
  DevGuard g(Device3DLock());
  if (!surface_) return nullptr;
  TSwRect r{rect.Left, rect.Top, rect.Right, rect.Bottom};
  TSwLockedRect lr;
  const uint32_t flags = read_only ? (SwLockReadOnly | SwLockNoSysLock | SwLockNoDirtyUpdate) : SwLockNoSysLock;
  last_result_ = Map3DResult(surface_->LockRect(lr, &r, flags));
  if (last_result_ != k3DOk) return nullptr;
  Ref<TSysBitmap> bmp =
      BitmapOver(static_cast<uint8_t*>(lr.Bits), lr.Pitch, rect.Width(), rect.Height(), GetPixelFormat());
  if (!bmp) surface_->UnlockRect();
  return bmp;
}

bool T3DSurface9::Unlock(Ref<TSysBitmap>& bitmap) {
  KAV_ASSERT(surface_);
  KAV_ASSERT(bitmap);
  DevGuard g(Device3DLock());
  last_result_ = Map3DResult(surface_->UnlockRect());
  bitmap = nullptr;
  return last_result_ == k3DOk;
}

bool T3DSurface9::CopyToBitmap(TBitmap* bitmap) {
  if (!surface_ || !bitmap) return false;
  if (render_target_) {
    DevGuard g(Device3DLock());
    if (!device_) return false;
    Ref<TSwSurface> copy;
    TSwResult r = device_->CreateOffscreenPlainSurface(surface_->Width(), surface_->Height(), surface_->Format(),
                                                       TSwPool::SystemMem, copy);
    if (SwOk(r)) r = device_->GetRenderTargetData(surface_.get(), copy.get());
    last_result_ = Map3DResult(r);
    if (!SwOk(r)) return false;
    auto plain = MakeRef<T3DSurface9>(copy, device_, nullptr, false);
    return plain->CopyToBitmap(bitmap);
  }
  TSize s = GetSize();
  Ref<TSysBitmap> bmp = Lock(TRect{0, 0, s.cx, s.cy}, true);
  if (!bmp) return false;
  CopyIntoBitmap(bitmap, bmp.get());
  return Unlock(bmp);
}

// ---- T3DTexture9 ----

T3DTexture9::T3DTexture9(Ref<TSwTexture> texture, TDevStore* store, Ref<TSwDevice> device)
    : texture_(std::move(texture)), store_(store), device_(std::move(device)) {
  if (store_) store_->Textures.push_back(this);
}

uint32_t T3DTexture9::LevelCount() { return texture_ ? texture_->GetLevelCount() : 0; }

Ref<T3DSurface> T3DTexture9::GetSurface(uint32_t level) {
  DevGuard g(Device3DLock());
  if (!texture_ || level >= texture_->GetLevelCount()) return nullptr;
  if (surfaces_.size() <= level) surfaces_.resize(level + 1);
  if (!surfaces_[level]) {
    Ref<TSwSurface> s;
    if (!SwOk(texture_->GetSurfaceLevel(level, s))) return nullptr;
    surfaces_[level] = MakeRef<T3DSurface9>(s, device_, this, Is3DTargetKind(Kind));
  }
  return surfaces_[level];
}

void T3DTexture9::PreLoad() {
  if (texture_) texture_->PreLoad();
}

void T3DTexture9::Dispose() {
  {
    DevGuard g(Device3DLock());
    if (store_) TDevStore::Unlist(store_->Textures, static_cast<TBaseTexture*>(this));
    store_ = nullptr;
    for (auto& s : surfaces_)
      if (s) s->ForgetOwner();
    surfaces_.clear();
  }
  T3DTexture::Dispose();
}

// ---- TVolumeTexture9 ----

TVolumeTexture9::TVolumeTexture9(Ref<TSwVolumeTexture> texture, TDevStore* store)
    : texture_(std::move(texture)), store_(store) {
  if (store_) store_->Textures.push_back(this);
}

uint32_t TVolumeTexture9::LevelCount() { return texture_ ? texture_->GetLevelCount() : 0; }

Ref<TSysBitmap> TVolumeTexture9::LockBox(uint32_t level, const TBox* box) {
  DevGuard g(Device3DLock());
  if (!texture_) return nullptr;
  TSwVolumeDesc d;
  if (!SwOk(texture_->GetLevelDesc(level, d))) return nullptr;
  TSwBox b{0, 0, int32_t(d.Width), int32_t(d.Height), 0, int32_t(d.Depth)};
  if (box) b = TSwBox{box->Left, box->Top, box->Right, box->Bottom, box->Front, box->Back};
  TSwLockedBox lb;
  if (Map3DResult(texture_->LockBox(level, lb, &b, 0)) != k3DOk) return nullptr;
  const int32_t w = b.right - b.left, h = b.bottom - b.top, depth = b.back - b.front;
  if (w <= 0 || h <= 0 || depth <= 0) {
    texture_->UnlockBox(level);
    return nullptr;
  }
  std::vector<uint8_t*> rows(size_t(h) * size_t(depth));
  auto* bits = static_cast<uint8_t*>(lb.Bits);
  for (int32_t z = 0; z < depth; ++z)
    for (int32_t y = 0; y < h; ++y) rows[size_t(z) * size_t(h) + size_t(y)] = bits + int64_t(z) * lb.SlicePitch + int64_t(y) * lb.RowPitch;
  return MakeRef<TRefBitmap>(TSize{w, h * depth}, std::move(rows), nullptr, false, StdFormats().A8R8G8B8);
}

bool TVolumeTexture9::UnlockBox(uint32_t level, Ref<TSysBitmap>& bitmap) {
  KAV_ASSERT(bitmap);
  DevGuard g(Device3DLock());
  bitmap = nullptr;
  return texture_ && Map3DResult(texture_->UnlockBox(level)) == k3DOk;
}

void TVolumeTexture9::Dispose() {
  {
    DevGuard g(Device3DLock());
    if (store_) TDevStore::Unlist(store_->Textures, static_cast<TBaseTexture*>(this));
    store_ = nullptr;
  }
  TVolumeTexture::Dispose();
}

// ---- T3DVertexList9 ----

T3DVertexList9::T3DVertexList9(Ref<TSwVertexBuffer> buffer, TDevStore* store, uint32_t flags, int32_t tex_sets)
    : buffer_(std::move(buffer)), store_(store), tex_sets_(tex_sets) {
  // Components lie in the device's order: position, normal, diffuse,
  // specular, coordinate sets.
  uint32_t off = 12;
  if (flags & k3DVertexNormal) {
    fvf_ |= SwFvfNormal;
    off_normal_ = int32_t(off);
    off += 12;
  }
  if (flags & k3DVertexDiffuse) {
    fvf_ |= SwFvfDiffuse;
    off_diffuse_ = int32_t(off);
    off += 4;
  }
  if (flags & k3DVertexSpecular) {
    fvf_ |= SwFvfSpecular;
    off_specular_ = int32_t(off);
    off += 4;
  }
  fvf_ |= SwFvfTex(tex_sets);
  off_tex_ = int32_t(off);
  off += 8 * uint32_t(tex_sets);
  stride_ = off;
  if (store_) store_->VertexLists.push_back(this);
}

bool T3DVertexList9::SetLayout(uint8_t primitive, uint32_t start, uint32_t count) {
  primitive_ = primitive;
  start_ = start;
  count_ = count;
  return true;
}

bool T3DVertexList9::Write(const T3DVertex* vertices, uint32_t first, uint32_t count) {
  DevGuard g(Device3DLock());
  if (!buffer_ || count == 0) return false;
  if ((uint64_t(first) + count) * stride_ > buffer_->Length()) return false;
  void* data = nullptr;
  if (Map3DResult(buffer_->Lock(first * stride_, count * stride_, &data, 0)) != k3DOk) return false;
  auto* p = static_cast<uint8_t*>(data);
  for (uint32_t i = 0; i < count; ++i, p += stride_) {
    const T3DVertex& v = vertices[i];
    std::memcpy(p, &v.X, 12);
    if (off_normal_ >= 0) std::memcpy(p + off_normal_, &v.NX, 12);
    if (off_diffuse_ >= 0) std::memcpy(p + off_diffuse_, &v.Diffuse, 4);
    if (off_specular_ >= 0) std::memcpy(p + off_specular_, &v.Specular, 4);
    if (tex_sets_ > 0) std::memcpy(p + off_tex_, v.Tex, 8 * size_t(tex_sets_));
  }
  return Map3DResult(buffer_->Unlock()) == k3DOk;
}

void T3DVertexList9::Dispose() {
  {
    DevGuard g(Device3DLock());
    if (store_) TDevStore::Unlist(store_->VertexLists, static_cast<T3DVertexList*>(this));
    store_ = nullptr;
  }
  T3DVertexList::Dispose();
}

// ---- T3DShader9 ----

T3DShader9::T3DShader9(Ref<TSwPixelShader> shader, TDevStore* store) : shader_(std::move(shader)), store_(store) {
  if (store_) store_->Shaders.push_back(this);
}

void T3DShader9::Dispose() {
  {
    DevGuard g(Device3DLock());
    if (store_) TDevStore::Unlist(store_->Shaders, static_cast<T3DShader*>(this));
    store_ = nullptr;
  }
  T3DShader::Dispose();
}

}  // namespace kav
