#include "VoRav/Graphics/vxBitmapUtils.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/vxImageHook.h"
#include "VoRav/wpExceptions.h"

namespace kav {

void TileImageStore(TSysBitmap* target, const TRect& target_rect, TImage* image, TPoint origin) {
  KAV_ASSERT(target != nullptr && image != nullptr);
  const TStdPixelFormats& f = StdFormats();
  const bool blend = target->PixelFormat() == f.R8G8B8 && image->PixelFormat() == f.A8R8G8B8;
  TileImageStore(target, target_rect, image, !blend, origin);
}

void FillRectClipped(TSysBitmap* bitmap, TRect& rect, const TRect& clip, TColor32 color) {
  if (!IntersectRect(rect, rect, clip)) return;
  bitmap->FillRect(rect, color);
}

void FrameRectEdges(TSysBitmap* bitmap, const TRect& rect, TColor32 top_left, const TRect& clip,
                    TColor32 bottom_right) {
  const TRect edges[4] = {
      {rect.Left, rect.Top, rect.Right, rect.Top + 1},
      {rect.Left, rect.Top, rect.Left + 1, rect.Bottom},
      {rect.Right - 1, rect.Top, rect.Right, rect.Bottom},
      {rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom},
  };
  for (int i = 0; i < 4; ++i) {
    TRect r = edges[i];
    FillRectClipped(bitmap, r, clip, i < 2 ? top_left : bottom_right);
  }
}

void FrameRectWithImage(TSysBitmap* target, TImage* image, const TRect& rect, const TRect& clip) {
  const TRect pieces[4] = {
      {rect.Left, rect.Top, rect.Right, rect.Top + 1},
      {rect.Left, rect.Top, rect.Left + 1, rect.Bottom},
      {rect.Right - 1, rect.Top, rect.Right, rect.Bottom},
      {rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom},
  };
  for (const TRect& piece : pieces) {
    TRect r;
    if (IntersectRect(r, piece, clip)) TileImageStore(target, r, image, TPoint{rect.Left, rect.Top});
  }
}

bool ImageHitTest(TImage* image, int32_t x, int32_t y) {
  if (!image || x < 0 || y < 0 || x >= image->Width() || y >= image->Height()) return false;
  if (!image->PixelFormat() || !image->PixelFormat()->HasAlpha()) return true;
  Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8);
  if (!level || x >= level->Width() || y >= level->Height()) return false;
  uint32_t pixel = 0;
  if (level->GetPixels32(x, y, 1, std::span<uint32_t>(&pixel, 1), 0) < 4) return false;
  return (pixel >> 24) > 0;
}

void TImageAnimator::SetImage(int32_t index, TImage* image, bool hold_image, TPoint point) {
  KAV_ASSERT_MSG(index == 0 || index == 1, "TImageAnimator.SetImage: Index must be in [0,1]");
  TSlot& slot = slots_[index];
  slot = TSlot{};
  if (!image) return;
  if (hold_image) slot.Image = Ref<TImage>(image);
  Ref<TBitmap> level = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  slot.Bitmap = Ref<TSysBitmap>(AsSysBitmap(level.get()));
  slot.Point = point;
}

double TImageAnimator::ShapePhase(double phase) const {
  if (!(phase > 0)) phase = 0;  // NaN counts as 0 too
  if (ping_pong_) {
    if (phase >= 1) phase -= std::floor(phase);
    phase = phase < 0.5 ? 2 * phase : 2 - 2 * phase;
  } else if (phase > 1) {
    phase = 1;
  }
  if (ease_) {
    double p = phase * 256;
    p = p < 128 ? p * p / 128 : 256 - (256 - p) * (256 - p) / 128;
    phase = p / 256;
  }
  return phase;
}

void TImageAnimator::SetPhase(double phase) {
  KAV_ASSERT_MSG(slots_[0].Bitmap && slots_[1].Bitmap, "TImageAnimator.SetPhase: Images not Set");
  TRect area{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
  for (const TSlot& s : slots_) {
    area.Left = std::min(area.Left, s.Point.X);
    area.Top = std::min(area.Top, s.Point.Y);
    area.Right = std::max(area.Right, int32_t(std::min<int64_t>(int64_t(s.Point.X) + s.Bitmap->Width(), INT32_MAX)));
    area.Bottom =
        std::max(area.Bottom, int32_t(std::min<int64_t>(int64_t(s.Point.Y) + s.Bitmap->Height(), INT32_MAX)));
  }
  const int64_t w = int64_t(area.Right) - area.Left, h = int64_t(area.Bottom) - area.Top;
  CheckBitmapSize(w, h, 4);
  if (!result_ || result_->Width() != w || result_->Height() != h) {
    result_ = CreateSysBitmap(int32_t(w), int32_t(h), StdFormats().A8R8G8B8);
    KAV_ASSERT(result_);
  }
  origin_ = TPoint{area.Left, area.Top};
  for (int32_t y = 0; y < h; ++y) std::fill_n(result_->Row(y), size_t(w) * 4, uint8_t(0));
  const int32_t weight1 = int32_t(ShapePhase(phase) * 256);
  for (int i = 0; i < 2; ++i) {
    const TSlot& s = slots_[i];
    const int32_t weight = i == 0 ? 256 - weight1 : weight1;
    const int32_t ox = s.Point.X - area.Left, oy = s.Point.Y - area.Top;
    for (int32_t y = 0; y < s.Bitmap->Height(); ++y) {
      const uint8_t* src = s.Bitmap->Row(y);
      uint8_t* dst = result_->PixelAddress(ox, oy + y);
      for (int32_t k = 0; k < s.Bitmap->Width() * 4; ++k)
        dst[k] = uint8_t(std::min(255, dst[k] + ((src[k] * weight) >> 8)));
    }
  }
}

Ref<TBitmapStore> TImageAnimator::CreateResultStore() {
  if (!result_) return nullptr;
  Ref<TSysBitmap> copy = CreateSysBitmap(result_->Width(), result_->Height(), StdFormats().A8R8G8B8);
  KAV_ASSERT(copy);
  copy->CopyFrom(result_.get());
  TImageFromBitmapProc hook = ImageFromBitmapHook();
  if (!hook) return nullptr;
  Ref<TImage> image = hook(copy.get(), false, u"");
  return image ? Ref<TBitmapStore>(image->Store()) : nullptr;
}

}  // namespace kav
