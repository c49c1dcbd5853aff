#include "VoRav/Graphics/JpegColorSpace/vxViewerColorTransform.h"

#include <atomic>

#include "VoRav/Graphics/JpegColorSpace/vxColorVolume.h"

namespace kav {

namespace {

std::atomic<TViewerTablesAvailable> g_available{nullptr};
std::atomic<TViewerTableLoader> g_loader{nullptr};
std::atomic<TColorTransformMaker> g_fallback{nullptr};

}  // namespace

void TKavViewerColorTransform::TransformPixels(TBitmap* bitmap) {
  if (!table_ || !bitmap) return;
  if (TSysBitmap* sys = AsSysBitmap(bitmap))
    sys->CopyFrom(table_.get());
  else if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap))
    direct->CopyFrom(table_.get());
}

void TKavViewerColorTransform::Dispose() {
  table_ = nullptr;
  TColorTransform::Dispose();
}

void SetViewerTableSource(TViewerTablesAvailable available, TViewerTableLoader loader) {
  g_available.store(available);
  g_loader.store(loader);
}

void InstallViewerColorTransform() {
  TColorTransformMaker previous = SetColorTransformMaker(&CreateViewerColorTransform);
  if (previous != &CreateViewerColorTransform) g_fallback.store(previous);
}

Ref<TSysBitmap> ViewerTableFromImage(TBitmap* image) {
  if (!image || image->Width() != kColorVolumeWidth || image->Height() != kColorVolumeHeight) {
    DebugOutput("Stored colour table ignored: it is not 32 x 1024 pixels");
    return nullptr;
  }
  Ref<TSysBitmap> table = CreateSysBitmap(kColorVolumeWidth, kColorVolumeHeight, StdFormats().R8G8B8);
  if (!table) return nullptr;
  table->CopyFrom(image);
  for (int32_t a = 0; a < 32; ++a)
    for (int32_t b = 0; b < 32; ++b) {
      uint8_t* p = table->Row(32 * a + b);
      for (int32_t c = 0; c < 32; ++c, p += 3) {
        p[0] = uint8_t(p[0] + ColorGridValue(a));
        p[1] = uint8_t(p[1] + ColorGridValue(b));
        p[2] = uint8_t(p[2] + ColorGridValue(c));
      }
    }
  return table;
}

Ref<TColorTransform> CreateViewerColorTransform(TColorProfile* source, TColorProfile* target) {
  TViewerTablesAvailable available = g_available.load();
  TViewerTableLoader loader = g_loader.load();
  if (!available || !loader || !available()) {
    TColorTransformMaker fallback = g_fallback.load();
    return fallback ? fallback(source, target) : nullptr;
  }
  if (!source) return nullptr;
  Ref<TBitmap> image = loader(u"ColorSpaceExe_" + source->Name() + u"].VXGFX");
  if (!image) return nullptr;
  Ref<TSysBitmap> table = ViewerTableFromImage(image.get());
  if (!table) return nullptr;
  return MakeRef<TKavViewerColorTransform>(source, target, std::move(table));
}

}  // namespace kav
