#include <gtest/gtest.h>

#include "KavLib2/KavObjects/KavBox.h"
#include "KavLib2/KavObjects/KavColorGrade.h"
#include "KavLib2/KavObjects/KavShadowDraw.h"
#include "KavLib2/KavObjects/KavViewPort.h"
#include "ObjectsTestUtil.h"
#include "ShowFolderTestUtil.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

namespace kav {
namespace {

using test::KeyPoint;
using test::Obj;
using test::TRecordingDrawer;
using test::TSlideFixture;

TKavBox* Box(TSlideFixture& f, int32_t i) { return dynamic_cast<TKavBox*>(f.At(i)); }

TEST(KavBox, KeysAndDrawnColours) {
  TSlideFixture f(Obj("a", "Box", "Size=100,50\nFillMode=vgradient\nColor1=255,0,0\nColor2=0,0,255\nAlpha1=300\n"
                                  "Alpha2=-5\nAntialiased=1\n") +
                  Obj("b", "Frame", "Color1=1,2,3\nColor2=1,2,3\nFillMode=HGradient\n") +
                  Obj("c", "Box", "Color1=1,2,3\nAlpha1=0\nFillMode=Solid\n"));
  TKavBox* a = Box(f, 0);
  EXPECT_EQ(a->Size().x, 100.0f);
  EXPECT_EQ(a->FillMode, kFillVGradient);
  EXPECT_EQ(a->Color1, 0xFF0000u);
  // Alphas are held to a byte instead of wrapping.
  EXPECT_EQ(a->Alpha1, 255);
  EXPECT_EQ(a->Alpha2, 0);
  EXPECT_EQ(a->DrawnColor1(), 0xFF0000u ^ 0x010101u);
  EXPECT_EQ(a->DrawnColor2(), 0x0000FFu);  // alpha 0: as read
  const TBoxParams p = a->FillParams();
  EXPECT_EQ(p.Gradient, kBoxGradVertical);
  EXPECT_TRUE(p.EdgeLeft && p.EdgeBottom);
  EXPECT_EQ(p.ColorA, 0xFFFE0101u);
  EXPECT_EQ(p.ColorB, 0x000000FFu);
  // Equal gradient colours share the transformed first one.
  EXPECT_EQ(Box(f, 1)->DrawnColor2(), Box(f, 1)->DrawnColor1());
  // A transparent colour is not transformed.
  EXPECT_EQ(Box(f, 2)->DrawnColor1(), 0x010203u);
}

TEST(KavBox, WhatIsDrawnAndWhatIsNot) {
  TSlideFixture f(Obj("solid", "Box", "Size=100,50\n") +
                  Obj("split", "Splitter", "Size=100,50\n" + Obj("inner", "Box", "Size=10,10\n")) +
                  Obj("faint", "Box", "Size=100,50\n" + KeyPoint("Time=0\nOpacity=0.001\n")) +
                  Obj("halfgrad", "Box", "Size=100,50\nFillMode=TLBRGradient\nAlpha1=0\nAlpha2=255\n") +
                  Obj("nograd", "Box", "Size=100,50\nFillMode=TRBLGradient\nAlpha1=0\nAlpha2=0\n") +
                  Obj("clear", "Frame", "Size=100,50\nAlpha1=0\n"));
  EXPECT_TRUE(f.At(1)->Splitter);
  TRecordingDrawer drawer;
  drawer.Render(f.Slide.get());
  // The solid box, the splitter's child and the half-transparent gradient.
  ASSERT_EQ(drawer.Fills.size(), 3u);
  EXPECT_EQ(drawer.Fills[0].Box.Gradient, kBoxGradSolid);
  EXPECT_EQ(drawer.Fills[0].Box.ColorA, 0xFF010101u);
  EXPECT_EQ(drawer.Fills[2].Box.Gradient, kBoxGradDiagonalBA);
  // The quad spans the box's world corners: 100 x 50 placed into the slide.
  const TKavObject* solid = f.At(0);
  const float k = solid->SizeScale().x;
  EXPECT_NEAR(drawer.Fills[0].XEdge.x, 100 * k, 1e-3);
  EXPECT_NEAR(drawer.Fills[0].YEdge.y, 50 * k, 1e-3);
  EXPECT_NEAR(drawer.Fills[0].Position.x, 960 - 50 * k, 1e-3);
}

// A show source that draws "Shadow: " keys, as the slide host does.
struct TShadowSource {
  Ref<TShadowGenerator> Generator = MakeRef<TShadowGenerator>();
  Ref<TRealFileSource> Source = MakeRef<TRealFileSource>();
  Ref<TFileAccessor> Accessor = MakeRef<TFileAccessor>(Source.get());
  Ref<TCallbackHandle> Handle = Source->AddCallback(TOpenImageCallback::Bind<&TShadowSource::Open>(this), nullptr);
  int Drawn = 0;
  Ref<TImage> Open(void*, TFileSource*, const std::u16string& name) {
    if (!name.starts_with(kShadowKeyPrefix)) return nullptr;
    ++Drawn;
    return DrawShadowFromKey(Generator.get(), name, Accessor.get());
  }
};

TEST(KavBox, ShadowIsMadeOnceAndDrawnUnderTheBox) {
  TShadowSource files;
  TSlideFixture f(Obj("a", "Box", "Size=400,200\nFitMode=None\nShadowEnable=1\nShadowOpacity=50\n"
                                  "ShadowColor=0,0,255,200\nShadowDistance=10\n" +
                                      KeyPoint("Time=0\nOpacity=80\n")));
  f.Host->Files = files.Accessor.get();
  TRecordingDrawer drawer;
  drawer.Render(f.Slide.get());
  drawer.Render(f.Slide.get());
  auto* box = dynamic_cast<TKavBox*>(f.At(0));
  ASSERT_NE(box->Shadow(), nullptr);
  EXPECT_TRUE(box->Shadow()->Normalised());
  EXPECT_EQ(files.Drawn, 1);
  EXPECT_EQ(drawer.Images, 2);
  EXPECT_EQ(drawer.Fills.size(), 2u);
  EXPECT_FLOAT_EQ(drawer.LastImage.Opacity, 80 * 50 / 100.0f);
  EXPECT_TRUE(drawer.LastImage.Colorize);
  EXPECT_EQ(drawer.LastImage.Color, 0xC80000FFu ^ 0x010101u);
}

struct TCountingVisitor : TKavResourceVisitor {
  bool IsReady = true;
  std::vector<TImage*> Prepared, Released;
  bool Ready() override { return IsReady; }
  void Prepare(TImage* image, const TImageDrawParams&) override { Prepared.push_back(image); }
  void Release(TImage* image) override { Released.push_back(image); }
};

TEST(KavBox, ShadowsArePreparedAndReleasedThroughTheVisitor) {
  TShadowSource files;
  TSlideFixture f(Obj("outer", "Frame", "Size=100,100\nAlpha1=0\n" +
                                            Obj("a", "Box", "Size=400,200\nShadowEnable=1\n")) +
                  Obj("b", "Box", "Size=40,20\n"));
  f.Host->Files = files.Accessor.get();
  TCountingVisitor visitor;
  visitor.IsReady = false;
  f.Slide->PrepareResources(&visitor);
  EXPECT_TRUE(visitor.Prepared.empty());
  visitor.IsReady = true;
  f.Slide->PrepareResources(&visitor);
  auto* a = dynamic_cast<TKavBox*>(f.At(0)->GetChild(0));
  ASSERT_EQ(visitor.Prepared.size(), 1u);  // only the box with a shadow, found in the subtree
  EXPECT_EQ(visitor.Prepared[0], a->Shadow()->Image());
  f.Slide->ReleaseResources(&visitor);
  EXPECT_EQ(visitor.Released, visitor.Prepared);

  // The drawer's own visitor uploads and frees the shadow's textures.
  TRecordingDrawer drawer;
  TDrawerResourceVisitor through_drawer(&drawer);
  f.Slide->PrepareResources(&through_drawer);
  f.Slide->ReleaseResources(&through_drawer);
  PrepareShadow(a->Shadow(), &drawer);
  FreeShadowTextures(a->Shadow(), &drawer);
  EXPECT_EQ(drawer.Prepared, (std::vector<TImage*>{a->Shadow()->Image(), a->Shadow()->Image()}));
  EXPECT_EQ(drawer.Freed, drawer.Prepared);
}

TEST(KavViewPort, StencilAndContent) {
  TSlideFixture f(Obj("v", "Viewport", Obj("s1", "MaskStencil", "") + Obj("s2", "MaskStencil", "") +
                                           Obj("m", "MaskContent", "TranspForClick=0\n" +
                                               Obj("pic", "Box", "Size=10,10\n"))) +
                  Obj("w", "Viewport", "Size=300,200\n" + Obj("s", "MaskStencil", "")) +
                  Obj("e", "Viewport", Obj("s", "MaskStencil", "") + Obj("m", "MaskContent", "")));
  auto* v = dynamic_cast<TKavViewPort*>(f.At(0));
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->Size().x, 1.0f);  // no "Size": 1 x 1
  EXPECT_EQ(f.At(1)->Size().x, 300.0f);
  TKavObject* s1 = v->GetChild(0);
  EXPECT_TRUE(s1->TranspForClick);
  EXPECT_FALSE(v->GetChild(2)->TranspForClick);
  EXPECT_EQ(s1->Size().x, 1.0f);  // the parent's size
  TRecordingDrawer drawer;
  drawer.Render(f.Slide.get());
  // w has no content and draws nothing; the viewports' children are never
  // rendered one by one.
  ASSERT_EQ(drawer.Masked.size(), 2u);
  EXPECT_EQ(drawer.Masked[0].first, v->GetChild(2));
  EXPECT_EQ(drawer.Masked[0].second, v->GetChild(1));  // the later stencil
  EXPECT_EQ(v->MaskValue(), 0);                          // content with children
  EXPECT_EQ(dynamic_cast<TKavViewPort*>(f.At(2))->MaskValue(), 7);
  EXPECT_EQ(drawer.Rendered.size(), 4u);  // the slide and its three viewports
  EXPECT_TRUE(drawer.Fills.empty());
}

// The drawer grades a box fill through the lookup it is given (red
// inverted is cyan; at half strength grey) and keeps a gradient's run under
// the grade. Boxes themselves carry no colour keyframes (their kind animates
// no colour group), so their grade state stays empty and they draw as they
// are.
TEST(KavBox, GradedFillsAndUngradedBoxes) {
  test::THostSlide s([](test::TShowFolder& f) { f.Write("red.bmp", test::Bmp32(8, 8, [](int32_t, int32_t) { return 0xFFFF0000u; })); },
                     Obj("pic", "Image", "ImageName=red.bmp\n" + KeyPoint("Time=0\nobject f:Invert\nend\n")) +
                         Obj("box", "Box", "Size=400,200\nFitMode=None\nColor1=255,0,0\n" + KeyPoint("Time=0\n") +
                                               KeyPoint("Time=2000\nobject f:Invert\nend\n")));
  TKavObjectProps* pic = s.At(0)->Props();
  ASSERT_NE(pic->NextKeyFrame(kGroupColor), nullptr);
  TObjectFilter* invert = pic->NextKeyFrame(kGroupColor)->Filters();
  ASSERT_NE(invert, nullptr);
  EXPECT_EQ(s.At(1)->Props()->NextKeyFrame(kGroupColor), nullptr);

  TFrameDumper dumper(480, 270);
  auto lut = MakeRef<TColorGradeWrapper>(invert);
  lut->UpdateLut(dumper.Drawer()->Screen(), 2, nullptr);
  ASSERT_NE(lut->Texture(), nullptr);
  auto fill = [&](uint8_t gradient, float mix) {
    TBoxParams box = DefaultBoxParams();
    box.ColorA = 0xFFFF0000u;
    box.ColorB = 0xFF0000FFu;
    box.Gradient = gradient;
    box.GradeMode = 2;
    box.GradeMix = mix;
    box.GradeLut2 = lut->Texture();
    dumper.Drawer()->SetView(TFloatRect{0, 0, 480, 270}, FloatPoint(480, 270), false, Vector3(240, 135, 0));
    dumper.RenderFrame([&](TDeviceDrawer* d) {
      d->Clear(0xFFFFFFFFu, 1);
      d->FillBox(Vector3(40, 35, 0), FloatPoint(1, 1), box, Vector3(400, 0, 0), Vector3(0, 200, 0));
    });
    dumper.WritePng(test::SlideDumpPath("box_graded_" + std::to_string(gradient) + "_" + std::to_string(int(mix * 10)) + ".png"));
    return dumper.LastFrame().Pixels;
  };
  auto channel = [](uint32_t c, int shift) { return int((c >> shift) & 0xFF); };
  const auto solid = fill(kBoxGradSolid, 1);
  EXPECT_NEAR(channel(test::PixelAt(solid, 240, 135), 16), 0, 4);
  EXPECT_NEAR(channel(test::PixelAt(solid, 240, 135), 8), 255, 4);
  EXPECT_EQ(test::PixelAt(solid, 20, 20) & 0xFFFFFF, 0xFFFFFFu);
  const auto half = fill(kBoxGradSolid, 0.5f);
  EXPECT_NEAR(channel(test::PixelAt(half, 240, 135), 16), 128, 6);
  EXPECT_NEAR(channel(test::PixelAt(half, 240, 135), 8), 128, 6);
  // A horizontal gradient: its two ends inverted, its middle between.
  const auto run = fill(kBoxGradHorizontal, 1);
  const uint32_t left = test::PixelAt(run, 45, 135), right = test::PixelAt(run, 435, 135);
  EXPECT_NE(left & 0xFFFFFF, right & 0xFFFFFF);
  EXPECT_GT(channel(left, 8), 200);
  EXPECT_GT(channel(right, 8), 200);
  EXPECT_NEAR(channel(left, 16) + channel(right, 16), 255, 12);
  EXPECT_NEAR(channel(test::PixelAt(run, 240, 135), 16), 128, 12);

  // The box of the slide draws red at every time.
  s.Slide->SetTime(true, 2000);
  const auto drawn = test::RenderSlideWith(dumper, s.Slide.get(), "box_not_graded.png");
  EXPECT_EQ(test::PixelAt(drawn, 240, 135) & 0xFFFFFF, 0xFF0000u);
}

}  // namespace
}  // namespace kav
