// The device drawer's frame protocol, its derived rectangles and the fit
// functions.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "KavLib2/3DEngine/vxDrawManager2.h"

namespace kav {
namespace {

class TLogDrawer : public TDeviceDrawer {
 public:
  std::string Log;
  bool Ready = true;
  std::vector<TRect> Fills;
  void BeginFrame() override { Log += "B"; }
  bool EndFrame() override { Log += "E"; return Ready; }
  bool IsReady() override { return Ready; }
  void SetDrawDevice(TDrawDevice*) override {}
  void Close() override {}
  void PrepareImage(TImage*, const TImageDrawParams&) override {}
  void FreeOwnerTextures(TImage*) override {}
  void SetContentSize(TSize) override {}
  void FlushQuad() override {}
  void Clear(TColor32, uint32_t) override {}
  void FillRect(TColor32 c, const TRect& r) override { Fills.push_back(r); EXPECT_EQ(c >> 24, 255u); }
  void DrawTransition(TDrawItem*, TDrawItem*, TDrawFilterParams*) override {}
  void DrawImage(TImage*, const T3DPoint&, const TImageDrawParams&, const T3DPoint&, const T3DPoint&, TSize) override {}
  void FillBox(const T3DPoint&, TFloatPoint, const TBoxParams& b, const T3DPoint& xe, const T3DPoint& ye) override {
    Log += "F";
    LastBox = b;
    LastX = xe;
    LastY = ye;
  }
  void DrawFrame(const TBoxParams&, const T3DPoint&, bool, TColor32, TColor32, TFloatPoint, TFloatPoint) override {}
  TYUVImage* CreateVideoTextures(int32_t, int32_t, bool) override { return nullptr; }
  void DrawVideo(TYUVImage*, const T3DPoint&, const TVideoDrawParams&, const T3DPoint&, const T3DPoint&) override {}
  void DrawLine(const T3DPoint&, const T3DPoint&, TColor32) override {}
  void DrawWithEffect(TDrawItem*, TDrawItem*, TImage*) override {}
  void BeginLayer() override {}
  void EndLayer(float) override {}
  bool CaptureBackBuffer(TBitmap*) override { return false; }
  TBoxParams LastBox;
  T3DPoint LastX, LastY;
};

class TLogItem : public TDrawItem {
 public:
  TDrawItem* Child = nullptr;
  bool ChildResult = false;
  void Draw(TDeviceDrawer* d) override {
    static_cast<TLogDrawer*>(d)->Log += "D";
    if (Child) ChildResult = d->Render(Child);
  }
  void AfterDraw(TDeviceDrawer* d) override { static_cast<TLogDrawer*>(d)->Log += "A"; }
};

TEST(DeviceDrawer, FrameProtocol) {
  auto d = MakeRef<TLogDrawer>();
  auto child = MakeRef<TLogItem>();
  auto item = MakeRef<TLogItem>();
  item->Child = child.get();
  EXPECT_TRUE(d->Render(item.get()));
  // The nested item only draws: no frame of its own, no AfterDraw.
  EXPECT_EQ(d->Log, "BDDEA");
  EXPECT_TRUE(item->ChildResult);
  EXPECT_EQ(d->RenderDepth(), 0);
  d->Log.clear();
  d->Ready = false;
  EXPECT_FALSE(d->Render(item.get()));
  EXPECT_EQ(d->Log, "BEA");  // not ready: Draw skipped, the protocol completes
}

TEST(DeviceDrawer, RenderFromTwoThreadsNeverNests) {
  // Each thread's outermost Render must begin and end its own frame.
  auto d = MakeRef<TLogDrawer>();
  auto item = MakeRef<TLogItem>();
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i)
    ts.emplace_back([&] {
      for (int k = 0; k < 200; ++k) d->Render(item.get());
    });
  for (auto& t : ts) t.join();
  std::string expect;
  for (int i = 0; i < 800; ++i) expect += "BDEA";
  EXPECT_EQ(d->Log, expect);
}

TEST(DeviceDrawer, DerivedRectsAndOffset) {
  auto d = MakeRef<TLogDrawer>();
  d->DeviceRect = TRect{0, 0, 640, 480};
  EXPECT_EQ(d->GetOutputRect(), d->DeviceRect);
  EXPECT_EQ(d->GetViewRect().Right, 640.0f);
  EXPECT_EQ(d->GetViewSize().y, 480.0f);
  d->SetOutputRect(TRect{10, 20, 110, 220});
  EXPECT_EQ(d->GetOutputRect(), (TRect{10, 20, 110, 220}));
  d->SetOffset(TFloatPoint{0, 3});
  EXPECT_TRUE(d->OffsetActive);
  d->SetOffset(TFloatPoint{0, 0});
  EXPECT_FALSE(d->OffsetActive);
}

TEST(DeviceDrawer, FillMarginsStrips) {
  auto d = MakeRef<TLogDrawer>();
  d->DeviceRect = TRect{0, 0, 100, 50};
  FillMargins(d.get(), 0x00123456);
  // The whole device is the output: only the one-pixel ring.
  ASSERT_EQ(d->Fills.size(), 4u);
  EXPECT_EQ(d->Fills[0], (TRect{-1, -1, 101, 0}));
  EXPECT_EQ(d->Fills[1], (TRect{-1, 0, 0, 50}));
  EXPECT_EQ(d->Fills[2], (TRect{100, 0, 101, 50}));
  EXPECT_EQ(d->Fills[3], (TRect{-1, 50, 101, 51}));
  d->Fills.clear();
  d->SetOutputRect(TRect{10, 0, 90, 50});
  FillMargins(d.get(), 0);
  ASSERT_EQ(d->Fills.size(), 4u);
  EXPECT_EQ(d->Fills[1], (TRect{-1, 0, 10, 50}));
}

TEST(DeviceDrawer, SolidQuadOpacityAndEdges) {
  auto d = MakeRef<TLogDrawer>();
  DrawSolidQuad(d.get(), T3DPoint{10, 10, 0}, T3DPoint{30, 10, 0}, T3DPoint{10, 50, 0}, 0x80FF0000);
  EXPECT_NEAR(d->LastBox.Opacity, 128 / 255.0 * 100, 1e-4);
  EXPECT_EQ(d->LastBox.ColorA, 0x80FF0000u);
  EXPECT_EQ(d->LastX.x, 20.0f);
  EXPECT_EQ(d->LastY.y, 40.0f);
}

TEST(DeviceDrawer, FitSizes) {
  EXPECT_EQ(FitSizeNoEnlarge(TSize{400, 300}, TSize{1920, 1080}), (TSize{400, 300}));
  EXPECT_EQ(FitSizeInside(TSize{400, 300}, TSize{1920, 1080}), (TSize{1440, 1080}));
  EXPECT_EQ(FitSizeInside(TSize{1000, 100}, TSize{500, 500}), (TSize{500, 50}));
  EXPECT_EQ(FitSizeNoEnlarge(TSize{1000, 100}, TSize{500, 500}), (TSize{500, 50}));
  EXPECT_EQ(FitSizeInside(TSize{0, 300}, TSize{100, 100}), (TSize{}));
  EXPECT_EQ(FitSizeInside(TSize{300, 300}, TSize{100, 0}), (TSize{}));
}

}  // namespace
}  // namespace kav
