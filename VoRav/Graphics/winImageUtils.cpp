#include "VoRav/Graphics/winImageUtils.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/SysAffineDrawer.h"
#include "VoRav/Graphics/SysBitmapResize.h"

namespace kav {

TSize FitSizeIntoBox(TSize source, TSize box, bool no_enlarge) {
  const double sx = double(box.cx) / source.cx, sy = double(box.cy) / source.cy;
  TSize size;
  // A side is at least one pixel: a very long, thin picture would else round
  // to an empty bitmap.
  if (sx < sy)
    size = TSize{box.cx, int32_t(std::clamp(std::nearbyint(source.cy * sx), 1.0, double(box.cy)))};
  else
    size = TSize{int32_t(std::clamp(std::nearbyint(source.cx * sy), 1.0, double(box.cx))), box.cy};
  if (no_enlarge && source.cx < size.cx && source.cy < size.cy) size = source;
  return size;
}

Ref<TFastDIB> CreateFastDIBFromImage(TImage* image, int32_t width, int32_t height, bool force_24, bool no_enlarge,
                                     TColor32 background) {
  // A box side below 1 answers nothing rather than failing an assertion.
  if (!image || width < 1 || height < 1) return nullptr;
  const TStdPixelFormats& f = StdFormats();
  const bool alpha = image->PixelFormat() && image->PixelFormat()->HasAlpha();
  const int32_t level = MipLevelIndexForSize(TSize{image->Width(), image->Height()}, width, height);
  Ref<TBitmap> got = image->Store()->GetMipLevel(level, alpha ? f.A8R8G8B8 : f.R8G8B8, &TSysBitmap::kClass);
  Ref<TSysBitmap> source(got ? AsSysBitmap(got.get()) : nullptr);
  if (!source || source->Width() < 1 || source->Height() < 1) return nullptr;
  const TSize size = FitSizeIntoBox(source->Size(), TSize{width, height}, no_enlarge);

  if (alpha && !force_24) {
    Ref<TDibBitmap> dib = NewDibBitmap(size.cx, size.cy, 32);
    ResizeBitmap32(dib.get(), source.get(), TRect{0, 0, size.cx, size.cy}, ColorSetAlpha(background, 0),
                   TRect{0, 0, source->Width(), source->Height()});
    return Ref<TFastDIB>(dib->Dib());
  }
  Ref<TDibBitmap> dib = NewDibBitmap(size.cx, size.cy, 24);
  if (alpha) dib->FillRect(TRect{0, 0, size.cx, size.cy}, ColorSetAlpha(background, 255));
  Ref<TBilinearDrawer> drawer = MakeRef<TBilinearDrawer>(8, 8);
  drawer->SetImage(source.get(), false);
  drawer->SetPlacement(TRect{0, 0, size.cx, size.cy}, TFloatPoint{0, 0},
                       TFloatPoint{float(double(size.cx) / source->Width()), 0},
                       TFloatPoint{0, float(double(size.cy) / source->Height())});
  drawer->Draw(dib.get());
  return Ref<TFastDIB>(dib->Dib());
}

}  // namespace kav
