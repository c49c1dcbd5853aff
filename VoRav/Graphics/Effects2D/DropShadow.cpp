#include "VoRav/Graphics/Effects2D/DropShadow.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
constexpr float kSplineSupport = 2.0f;
}

TDropShadow::TDropShadow(const TResampleProgress& progress) : progress_(progress) {}

void TDropShadow::Dispose() {
  small_.reset();
  result_.reset();
  TRefObject::Dispose();
}

bool TDropShadow::Step() {
  bool cancel = false;
  if (progress_) progress_(this, cancel);
  return !cancel;
}

std::vector<uint8_t> TDropShadow::ContourLookup() {
  std::vector<uint8_t> table;
  if (curves_.PresetIndex() == 0) return table;
  curves_.Build();
  table.resize(4096);
  for (int32_t i = 0; i < 4096; ++i) {
    const int32_t a = i * 255 / 4095;
    const int32_t b = std::min(a + 1, 255);
    if (a == b) {
      // The top entry has no neighbour to blend with: both weights would be
      // 0 and full alpha would map to 0; it takes the curve's own end value.
      table[size_t(i)] = curves_.GetValue(a);
      continue;
    }
    const double v = (curves_.GetValue(a) * (b * 4095.0 / 255.0 - i) + curves_.GetValue(b) * (i - a * 4095.0 / 255.0)) *
                     255.0 / 4095.0;
    table[size_t(i)] = uint8_t(std::clamp(std::nearbyint(v), 0.0, 255.0));
  }
  return table;
}

TSysBitmap* TDropShadow::Render(TSysBitmap* source) {
  KAV_ASSERT(source != nullptr);
  const int32_t bpp = source->BytesPerPixel();
  KAV_ASSERT(bpp == 1 || bpp == 4);
  double s = scale_;
  if (!(s > 0.0)) s = 1.0;
  // A blur from a key is not bounded by anything else: the padding of
  // ceil(2.5 s) pixels would otherwise size the work bitmaps by it.
  s = std::min(s, kMaxShadowScale);
  const int32_t m = int32_t(std::ceil(s * 2.5));
  TPixelFormat* a8 = StdFormats().A8;
  const int64_t pw = int64_t(source->Width()) + 2 * m, ph = int64_t(source->Height()) + 2 * m;
  CheckBitmapSize(pw, ph, 1);
  Ref<TSysBitmap> padded = CreateSysBitmap(int32_t(pw), int32_t(ph), a8);
  KAV_ASSERT(padded);
  const int32_t offset = bpp == 1 ? 0 : 3;
  for (int32_t y = 0; y < source->Height(); ++y) {
    const uint8_t* in = source->Row(y) + offset;
    uint8_t* out = padded->PixelAddress(m, m + y);
    for (int32_t x = 0; x < source->Width(); ++x) out[x] = in[size_t(x) * size_t(bpp)];
    if (!Step()) break;
  }
  const int32_t sw = int32_t(std::nearbyint(double(pw) / s)) + 1;
  const int32_t sh = int32_t(std::nearbyint(double(ph) / s)) + 1;
  small_ = CreateSysBitmap(sw, sh, a8);
  result_ = CreateSysBitmap(int32_t(pw), int32_t(ph), a8);
  KAV_ASSERT(small_ && result_);
  ResampleStretch(padded.get(), small_.get(), SplineFilter, progress_, {}, this, float(1.0 / s), kSplineSupport);
  padded.reset();
  const std::vector<uint8_t> table = ContourLookup();
  ResampleStretch(small_.get(), result_.get(), SplineFilter, progress_, table, this, float(s), kSplineSupport);
  return result_.get();
}

TShadowProducer::TShadowProducer(const TResampleProgress& progress)
    : drop_(MakeRef<TDropShadow>(progress)), progress_(progress) {}

Ref<TImage> TShadowProducer::MakeShadow(TImage* image) {
  KAV_ASSERT(image != nullptr);
  Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  TSysBitmap* src = AsSysBitmap(level.get());
  KAV_ASSERT(src != nullptr);
  KAV_ASSERT(src->BytesPerPixel() == 4);
  drop_->SetSpread(Blur);
  TSysBitmap* alpha = drop_->Render(src);
  KAV_ASSERT(alpha->BytesPerPixel() == 1);
  Ref<TSysBitmap> out = CreateSysBitmap(alpha->Width(), alpha->Height(), StdFormats().A8R8G8B8);
  KAV_ASSERT(out);
  const uint32_t rgb = Color & 0x00FFFFFFu, ca = Color >> 24;
  for (int32_t y = 0; y < alpha->Height(); ++y) {
    const uint8_t* in = alpha->Row(y);
    uint8_t* row = out->Row(y);
    for (int32_t x = 0; x < alpha->Width(); ++x) {
      const uint32_t a = in[x];
      const uint32_t px = a == 0 ? rgb : a == 255 ? Color : (rgb | ((ca * a / 255) << 24));
      std::memcpy(row + size_t(x) * 4, &px, 4);
    }
    bool cancel = false;
    if (progress_) progress_(this, cancel);
    if (cancel) break;
  }
  return ImageFromBitmap(out.release(), true, image->Params().Name);
}

}  // namespace kav
