#include "VoRav/Graphics/Effects2D/Effects2DFuzz.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Graphics/Effects2D/CurvesData.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

std::u16string Widen(const uint8_t* data, size_t size) {
  std::u16string s;
  s.reserve(size);
  for (size_t i = 0; i < size; ++i) s.push_back(char16_t(data[i]));
  return s;
}

Ref<TImage> FuzzSkin(const std::u16string& path) {
  Ref<TSysBitmap> b = CreateSysBitmap(30, 20, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 30, 20}, 0xFF336699u);
  return ImageFromBitmap(b.release(), true, path);
}

}  // namespace

int FuzzContourRecord(const uint8_t* data, size_t size) {
  TStringStream stream(std::string(reinterpret_cast<const char*>(data), size));
  TCurvesData curve;
  try {
    curve.LoadNameFromStream(&stream);
    if (curve.LoadFromStream(&stream)) {
      Check(curve.GetValue(curve.FirstPoint().X) == curve.FirstPoint().Y ||
            !curve.MiddlePoints().empty() || curve.FirstPoint().X == curve.LastPoint().X);
      Check(curve.GetValue(curve.LastPoint().X) == curve.LastPoint().Y);
    } else {
      for (int x = 0; x < 256; ++x) Check(curve.GetValue(x) == x);
    }
  } catch (const EStreamReadError&) {
  }
  return 0;
}

int FuzzShadowKey(const uint8_t* data, size_t size) {
  TShadowParams p;
  DrawShadowToBitmap(Widen(data, size), p);
  const std::u16string key = MakeShadowKey(p);
  TShadowParams q;
  DrawShadowToBitmap(key, q);
  Check(MakeShadowKey(q) == key);
  const float w = p.Rect.Right - p.Rect.Left + 2 * p.Margin.x, h = p.Rect.Bottom - p.Rect.Top + 2 * p.Margin.y;
  if (p.ImageName == kShadowRectShape && w <= 64 && h <= 64 && p.Blur <= 8) {
    try {
      Ref<TShadowGenerator> gen = MakeRef<TShadowGenerator>();
      Ref<TImage> image = gen->DrawShadow(p, nullptr);
      Check(image && image->Width() >= 1);
    } catch (const Exception&) {
    }
  }
  return 0;
}

int FuzzButtonDescription(const uint8_t* data, size_t size) {
  // A part's right edge sets the least width of a button: a few bytes could
  // ask for one of millions of pixels. The lower limits keep each run short.
  const TFuzzBitmapLimits limits;
  Ref<TButtonProducer> producer =
      MakeRef<TButtonProducer>(TSkinLoader::Bind<&FuzzSkin>(), TResampleProgress());
  TStringStream text(std::string(reinterpret_cast<const char*>(data), size));
  try {
    if (producer->LoadFromFile(&text, u"fuzz")) {
      for (int32_t state = 0; state < 3; ++state)
        for (int32_t width : {1, 31, 97})
          Check(producer->Render(state, width, 10, -5, 3) != nullptr);
    }
  } catch (const EAbort&) {
    // Text that is not UTF-8 stops the read of that value.
  }
  std::u16string folder;
  int32_t v[5];
  ParseButtonKey(Widen(data, size), folder, v[0], v[1], v[2], v[3], v[4]);
  std::u16string again;
  int32_t w[5];
  ParseButtonKey(MakeButtonKey(folder, v[0], v[1], v[2], v[3], v[4]), again, w[0], w[1], w[2], w[3], w[4]);
  Check(again == folder);
  for (int i = 0; i < 5; ++i) Check(v[i] == w[i]);
  return 0;
}

}  // namespace kav
