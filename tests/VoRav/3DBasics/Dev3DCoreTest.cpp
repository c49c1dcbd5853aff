// The draw device: bounds changes reach its renderers only when something
// changed, and renderers and devices may die in either order.
#include <gtest/gtest.h>

#include "VoRav/3DBasics/Dev3DCore.h"

namespace kav {
namespace {

class TCountingRenderer : public T3DRenderer {
 public:
  using T3DRenderer::T3DRenderer;
  int Bounds = 0;
  void SetBounds() override { ++Bounds; }
  bool BeginScene() override { return true; }
  bool EndScene() override { return true; }
  bool Present(const TRect*, int32_t, const TRect*) override { return true; }
  bool Clear(uint32_t, uint32_t, float, int32_t, const TRect*) override { return true; }
  bool DrawColorQuad() override { return true; }
  bool SetRenderTarget(T3DSurface*) override { return true; }
  T3DSurface* GetRenderTarget() override { return nullptr; }
  bool GetBackBuffer(Ref<T3DSurface>&) override { return false; }
  bool SetViewport(const TRect&, float, float) override { return true; }
  bool DrawTextured(T3DVertexList*, T3DTexture* const*, int32_t, uint32_t) override { return true; }
  bool SetTexture(uint32_t, TBaseTexture*) override { return true; }
  Ref<T3DTexture> CreateTexture(uint8_t, int32_t, int32_t, bool) override { return nullptr; }
  Ref<TVolumeTexture> CreateVolumeTexture(int32_t, int32_t, int32_t) override { return nullptr; }
  Ref<T3DVertexList> CreateVertexList(int32_t, uint32_t, int32_t) override { return nullptr; }
  bool StretchRect(int32_t, T3DSurface*, const TRect*, T3DSurface*, const TRect*) override { return true; }
  bool SetOption(uint8_t) override { return true; }
  bool SetTransform(const T3DMatrix&, int32_t) override { return true; }
  bool SetCullMode(bool) override { return true; }
  void PixelOffset(float& x, float& y) override { x = y = 0.5f; }
  Ref<T3DShader> CreateShader(const std::string&, int32_t) override { return nullptr; }
  bool SetShader(T3DShader*) override { return true; }
  bool SetShaderConstants(bool, uint32_t, const float*, uint32_t) override { return true; }
};

TEST(DrawDevice, BoundsReachRenderersOnlyOnChange) {
  auto dev = MakeRef<TDrawDevice>(5);
  auto r = MakeRef<TCountingRenderer>(dev.get());
  EXPECT_EQ(dev->RendererCount(), 1);
  dev->SetBounds(TRect{0, 0, 100, 50}, TPoint{10, 20}, false);
  EXPECT_EQ(r->Bounds, 1);
  dev->SetBounds(TRect{0, 0, 100, 50}, TPoint{10, 20}, false);
  EXPECT_EQ(r->Bounds, 1);  // same rectangle, offset and flag
  dev->SetBounds(TRect{0, 0, 100, 50}, TPoint{11, 20}, false);
  EXPECT_EQ(r->Bounds, 2);  // offset changed
  dev->SetBounds(TRect{0, 0, 100, 50}, TPoint{11, 20}, true);
  EXPECT_EQ(r->Bounds, 3);  // flag changed
  dev->SetBounds(TRect{5, 5, 5, 9}, TPoint{11, 20}, true);
  EXPECT_EQ(r->Bounds, 4);
  dev->SetBounds(TRect{9, 9, 3, 3}, TPoint{11, 20}, true);
  EXPECT_EQ(r->Bounds, 4);  // empty to empty
  EXPECT_EQ(dev->GetOffsetRect(), (TRect{11, 20, 11, 24}));  // the first empty rectangle stays
  dev->SetBounds(TRect{1, 2, 41, 32}, TPoint{100, 200}, false);
  EXPECT_EQ(dev->GetOffsetRect(), (TRect{100, 200, 140, 230}));
}

TEST(DrawDevice, RendererOutlivesDevice) {
  auto dev = MakeRef<TDrawDevice>(5);
  auto r1 = MakeRef<TCountingRenderer>(dev.get());
  auto r2 = MakeRef<TCountingRenderer>(dev.get());
  r2 = nullptr;  // removes itself
  EXPECT_EQ(dev->RendererCount(), 1);
  dev = nullptr;
  EXPECT_EQ(r1->DrawDevice(), nullptr);
  r1 = nullptr;  // must not touch the freed list
}

TEST(DrawDevice, OwnedObjectsFreedWithDevice) {
  struct TObj : TRefObject {
    int* freed;
    explicit TObj(int* f) : freed(f) {}
    void Dispose() override { ++*freed; TRefObject::Dispose(); }
  };
  int freed = 0;
  auto dev = MakeRef<TDrawDevice>(5);
  auto* o = new TObj(&freed);
  dev->AddObject(o);
  EXPECT_EQ(dev->FindObject<TObj>(), o);
  dev = nullptr;
  EXPECT_EQ(freed, 1);
}

}  // namespace
}  // namespace kav
