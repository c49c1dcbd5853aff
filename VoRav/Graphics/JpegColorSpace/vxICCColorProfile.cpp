#include "VoRav/Graphics/JpegColorSpace/vxICCColorProfile.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/lcms2Dll.h"

namespace kav {

namespace {

constexpr size_t kIccHeaderSize = 128;

uint32_t BigEndian32(const uint8_t* p) noexcept {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// Row pointers of the bitmap classes that keep their pixels in rows.
struct TRows {
  TSysBitmap* sys = nullptr;
  TDirectBitmap* direct = nullptr;
  explicit TRows(TBitmap* b) : sys(AsSysBitmap(b)), direct(sys ? nullptr : dynamic_cast<TDirectBitmap*>(b)) {}
  explicit operator bool() const noexcept { return sys || direct; }
  uint8_t* At(int32_t x, int32_t y) const noexcept { return sys ? sys->PixelAddress(x, y) : direct->PixelAddress(x, y); }
};

// The Little CMS pixel type of a 3- or 4-byte RGB format, from its memory
// order (least significant component first); 0 for any other format.
cmsUInt32Number LcmsPixelType(const TPixelFormat* f) {
  if (!f->IsByteAligned() || (f->BytesPerPixel() != 3 && f->BytesPerPixel() != 4)) return 0;
  const auto& c = f->Components();
  if (c.size() != size_t(f->BytesPerPixel())) return 0;
  auto is_extra = [](const TPixelComponent& x) { return x.Channel == pcAlpha || x.Channel == pcPadding; };
  auto colours = [&](size_t first, uint8_t ch0, uint8_t ch2) {
    return c[first].Channel == ch0 && c[first + 1].Channel == pcGreen && c[first + 2].Channel == ch2;
  };
  if (c.size() == 3) {
    if (colours(0, pcBlue, pcRed)) return TYPE_BGR_8;
    if (colours(0, pcRed, pcBlue)) return TYPE_RGB_8;
    return 0;
  }
  if (is_extra(c[3])) {
    if (colours(0, pcBlue, pcRed)) return TYPE_BGRA_8;
    if (colours(0, pcRed, pcBlue)) return TYPE_RGBA_8;
  }
  if (is_extra(c[0])) {
    if (colours(1, pcBlue, pcRed)) return TYPE_ABGR_8;
    if (colours(1, pcRed, pcBlue)) return TYPE_ARGB_8;
  }
  return 0;
}

// An opened profile that is closed when it goes.
class TOpenProfile {
 public:
  TOpenProfile(TLcmsDll& dll, std::span<const uint8_t> bytes) : dll_(dll) {
    const std::span<const uint8_t> checked = CheckedIccProfile(bytes);
    if (!checked.empty()) handle_ = dll.cmsOpenProfileFromMem(checked.data(), cmsUInt32Number(checked.size()));
  }
  ~TOpenProfile() {
    if (handle_) dll_.cmsCloseProfile(handle_);
  }
  TOpenProfile(const TOpenProfile&) = delete;
  TOpenProfile& operator=(const TOpenProfile&) = delete;

  // An RGB profile that can stand at either end of a picture conversion.
  bool UsableForRgb() const {
    if (!handle_ || dll_.cmsGetColorSpace(handle_) != cmsSigRgbData) return false;
    const cmsProfileClassSignature c = dll_.cmsGetDeviceClass(handle_);
    return c != cmsSigLinkClass && c != cmsSigAbstractClass && c != cmsSigNamedColorClass;
  }
  cmsHPROFILE Handle() const noexcept { return handle_; }

 private:
  TLcmsDll& dll_;
  cmsHPROFILE handle_ = nullptr;
};

cmsUInt32Number PrecalcFlags(int32_t precalc) {
  switch (precalc) {
    case 1: return cmsFLAGS_NOOPTIMIZE;
    case 2: return cmsFLAGS_HIGHRESPRECALC;
    case 3: return cmsFLAGS_LOWRESPRECALC;
    default: return 0;
  }
}

}  // namespace

std::span<const uint8_t> CheckedIccProfile(std::span<const uint8_t> bytes) noexcept {
  if (bytes.size() < kIccHeaderSize + 4) return {};
  const uint64_t declared = BigEndian32(bytes.data());
  if (declared < kIccHeaderSize + 4 || declared > bytes.size()) return {};
  if (std::memcmp(bytes.data() + 36, "acsp", 4) != 0) return {};
  const uint64_t count = BigEndian32(bytes.data() + kIccHeaderSize);
  const uint64_t table_end = kIccHeaderSize + 4 + 12 * count;
  if (table_end > declared) return {};
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* entry = bytes.data() + kIccHeaderSize + 4 + 12 * i;
    const uint64_t offset = BigEndian32(entry + 4);
    const uint64_t size = BigEndian32(entry + 8);
    if (offset < table_end || offset + size > declared) return {};
  }
  return bytes.first(size_t(declared));
}

void IccTransformBitmap(TBitmap* target, TBitmap* source, const TRect& rect, TPoint point,
                        std::span<const uint8_t> source_bytes, std::span<const uint8_t> target_bytes,
                        int32_t precalc) {
  if (!target || !source || target->PixelFormat() != source->PixelFormat()) return;
  const TRows to(target), from(source);
  if (!to || !from) return;
  const cmsUInt32Number pixel_type = LcmsPixelType(target->PixelFormat());
  if (pixel_type == 0) return;
  int32_t dx, dy, sx, sy, w, h;
  if (!ClipCopyRect(rect, point, target->Size(), source->Size(), dx, dy, sx, sy, w, h)) return;
  const size_t row_bytes = size_t(w) * size_t(target->BytesPerPixel());

  // Pixels converted in place need no copy; source pixels that share memory
  // with the target otherwise are read from a copy taken first, so that no
  // row is overwritten before it is read, whatever the row order.
  bool in_place = true;
  const uint8_t *to_lo = nullptr, *to_hi = nullptr, *from_lo = nullptr, *from_hi = nullptr;
  for (int32_t i = 0; i < h; ++i) {
    const uint8_t* t = to.At(dx, dy + i);
    const uint8_t* s = from.At(sx, sy + i);
    in_place = in_place && t == s;
    to_lo = i ? std::min(to_lo, t) : t;
    to_hi = i ? std::max(to_hi, t + row_bytes) : t + row_bytes;
    from_lo = i ? std::min(from_lo, s) : s;
    from_hi = i ? std::max(from_hi, s + row_bytes) : s + row_bytes;
  }
  std::vector<uint8_t> copy;
  if (!in_place && to_lo < from_hi && from_lo < to_hi) {
    copy.resize(row_bytes * size_t(h));
    for (int32_t i = 0; i < h; ++i) std::memcpy(copy.data() + row_bytes * size_t(i), from.At(sx, sy + i), row_bytes);
  }
  auto source_row = [&](int32_t i) -> const uint8_t* {
    return copy.empty() ? from.At(sx, sy + i) : copy.data() + row_bytes * size_t(i);
  };

  cmsHTRANSFORM transform = nullptr;
  Ref<TLcmsDll> dll = GetLcmsDll();
  if (dll->Loaded() && !source_bytes.empty() && !target_bytes.empty()) {
    TOpenProfile from_profile(*dll, source_bytes), to_profile(*dll, target_bytes);
    if (from_profile.UsableForRgb() && to_profile.UsableForRgb()) {
      // Four-byte pixels keep their alpha or padding byte when converted
      // from one bitmap into another, as an unchanged copy would (the library alone would not copy it).
      const cmsUInt32Number flags =
          PrecalcFlags(precalc) | (target->BytesPerPixel() == 4 ? cmsFLAGS_COPY_ALPHA : 0);
      transform = dll->cmsCreateTransform(from_profile.Handle(), pixel_type, to_profile.Handle(), pixel_type,
                                          INTENT_PERCEPTUAL, flags);
    }
  }
  if (transform) {
    for (int32_t i = 0; i < h; ++i)
      dll->cmsDoTransform(transform, source_row(i), to.At(dx, dy + i), cmsUInt32Number(w));
    dll->cmsDeleteTransform(transform);
  } else if (!in_place) {
    for (int32_t i = 0; i < h; ++i) std::memmove(to.At(dx, dy + i), source_row(i), row_bytes);
  }
}

void TICCColorTransform::TransformPixels(TBitmap* bitmap) {
  if (!bitmap || !Source() || !Target()) return;
  IccTransformBitmap(bitmap, bitmap, TRect{0, 0, bitmap->Width(), bitmap->Height()}, TPoint{0, 0},
                     Source()->Bytes(), Target()->Bytes(), 0);
}

Ref<TColorTransform> CreateICCColorTransform(TColorProfile* source, TColorProfile* target) {
  KAV_ASSERT(source && target);
  return MakeRef<TICCColorTransform>(source, target);
}

}  // namespace kav
