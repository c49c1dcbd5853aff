#include "VoRav/Graphics/Video/VideoSourceFuzz.h"

#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/Video/FFMpegVideoSource.h"
#include "VoRav/Graphics/Video/GifVideoSource.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {

namespace {

// A frame image in memory with the padding a texture would have.
class TFuzzFrame : public TYUVImage {
 public:
  TFuzzFrame(int32_t w, int32_t h, int32_t kind) : TYUVImage(w, h) {
    const int32_t pw = w + 8, ph = h + 8;
    if (kind == 0) {
      Make(kYuvPlaneY, pw, ph, 1, StdFormats().Y8);
      Make(kYuvPlaneU, pw / 2, ph / 2, 1, StdFormats().Y8);
      Make(kYuvPlaneV, pw / 2, ph / 2, 1, StdFormats().Y8);
    } else if (kind == 1) {
      Make(kYuvPlaneRgba, pw, ph, 4, StdFormats().A8R8G8B8);
    } else {
      Make(kYuvPlanePacked, pw, ph, 2, StdFormats().R5G6B5);
    }
  }
  Ref<TSysBitmap> LockPlane(int32_t plane) override {
    if (plane < 0 || plane > 4 || !bitmaps_[plane]) return nullptr;
    return bitmaps_[plane];
  }
  void UnlockPlane(int32_t) override {}
  void Commit() override { Invalid = false; }

 private:
  void Make(int32_t plane, int32_t w, int32_t h, int32_t bpp, TPixelFormat* format) {
    bytes_[plane].assign(size_t(w) * size_t(h) * size_t(bpp), 0);
    std::vector<uint8_t*> rows;
    for (int32_t y = 0; y < h; ++y) rows.push_back(bytes_[plane].data() + size_t(y) * size_t(w) * size_t(bpp));
    bitmaps_[plane] = MakeRef<TSysBitmap>(TSize{w, h}, std::move(rows), format);
  }
  std::vector<uint8_t> bytes_[5];
  Ref<TSysBitmap> bitmaps_[5];
};

Ref<TStream> BytesStream(const uint8_t* data, size_t size) {
  auto s = MakeRef<TMemoryStream>();
  if (size) s->Write(std::span<const uint8_t>(data, size), int64_t(size));
  return s;
}

// Frame images only for clips within the bitmap limits in force (the fuzz
// entry points lower them): a few bytes of GIF can declare a screen of
// millions of pixels, and every frame asked would fill it.
bool SmallEnough(const TClipInfo& info) {
  return info.Width > 0 && info.Height > 0 && BitmapSizeAllowed(info.Width + 8, info.Height + 8, 4);
}

}  // namespace

int FuzzVideoClip(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  Ref<TStream> stream = BytesStream(data, size);
  auto source = MakeRef<TWinVideoSource>(stream.get(), false, u"clip");
  if (!source->Opened() || !SmallEnough(source->Info())) return 0;
  const TClipInfo& info = source->Info();
  auto planes = MakeRef<TFuzzFrame>(info.Width, info.Height, 0);
  auto packed = MakeRef<TFuzzFrame>(info.Width, info.Height, 2);
  auto rgb = MakeRef<TDirectBitmap>(info.Width, info.Height, StdFormats().R8G8B8);
  for (int32_t n : {0, 1, 5, 3, 40, 2, info.FrameCount + 3, -1, 7})
    source->GetFrame(n, n % 2 ? packed.get() : planes.get());
  source->GetFrame24(4, rgb.get());
  return 0;
}

int FuzzGifVideo(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  Ref<TStream> stream = BytesStream(data, size);
  auto source = MakeRef<TGifVideoSource>(stream.get(), false, u"anim.gif");
  if (!source->Open() || !SmallEnough(source->Info())) return 0;
  const TClipInfo& info = source->Info();
  auto rgba = MakeRef<TFuzzFrame>(info.Width, info.Height, 1);
  auto planes = MakeRef<TFuzzFrame>(info.Width, info.Height, 0);
  for (int32_t n : {0, 13, 2, 1000, 11, -5, 40}) source->GetFrame(n, n % 2 ? rgba.get() : planes.get());
  return 0;
}

}  // namespace kav
