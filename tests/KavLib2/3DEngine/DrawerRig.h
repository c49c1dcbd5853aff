// Shared set-up of the draw manager tests: a drawer on an offscreen window
// and an item that draws through a function.
#pragma once

#include <functional>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/3DBasics/Dx3DRig.h"

namespace kav::drawtest {

class TFnItem : public TDrawItem {
 public:
  explicit TFnItem(std::function<void(TDeviceDrawer*)> fn, float layer = 0) : fn_(std::move(fn)), layer_(layer) {}
  void Draw(TDeviceDrawer* d) override { fn_(d); }
  float LayerValue() override { return layer_; }

 private:
  std::function<void(TDeviceDrawer*)> fn_;
  float layer_;
};

struct TDrawerRig : dxtest::TDxRig {
  Ref<T3DDrawer> Drawer = MakeRef<T3DDrawer>();
  TSwOffscreenSink::TFrame Last;

  TDrawerRig(int32_t w, int32_t h, TSwConfig cfg = TSwConfig()) : TDxRig(w, h, cfg) {
    Drawer->SetDrawDevice(Device.get());
  }
  ~TDrawerRig() { Drawer = nullptr; }

  // One frame: cleared to `background`, then `fn`; the frame is read back.
  bool Frame(std::function<void(TDeviceDrawer*)> fn, uint32_t background = 0xFF000000) {
    auto item = MakeRef<TFnItem>([&](TDeviceDrawer* d) {
      d->Clear(background, 0);
      fn(d);
    });
    const bool ok = Drawer->Render(item.get());
    Last = TSwOffscreenSink::TFrame{};
    Sink->LastFrame(dxtest::kWindow, Last);
    return ok;
  }
  uint32_t At(int32_t x, int32_t y) const { return Last.Pixels[size_t(y) * Last.Width + size_t(x)]; }
  void Dump(const std::string& name) const { Sink->WritePng(dxtest::kWindow, "/tmp/kav_draw_" + name + ".png"); }
};

// A picture made by fn(x, y) -> A8R8G8B8, as an image.
inline Ref<TImage> MakeImage(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& fn) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) reinterpret_cast<uint32_t*>(b->Row(y))[x] = fn(x, y);
  return ImageFromBitmap(b.get(), false, u"test");
}

inline int Ch(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }

}  // namespace kav::drawtest
