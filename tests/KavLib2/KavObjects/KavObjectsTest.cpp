#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/KavObjects/KavBox.h"
#include "ObjectsTestUtil.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

using test::KeyPoint;
using test::Obj;
using test::TRecordingDrawer;
using test::TSlideFixture;

TEST(KavObjectTree, KindsWithoutClassAreSkippedAndReloadKeepsObjects) {
  TSlideFixture f(Obj("a", "Box", "Size=10,10\n") + Obj("x", "Nonsense", "") + Obj("b", "Frame", "") +
                  Obj("v", "Viewport", ""));
  ASSERT_EQ(f.Slide->ChildCount(), 3);
  TKavObject* a = f.At(0);
  TKavObject* b = f.At(1);
  EXPECT_NE(dynamic_cast<TKavBox*>(a), nullptr);
  EXPECT_EQ(f.Props->Child(1)->Object(), nullptr);
  EXPECT_EQ(a->Parent(), f.Slide.get());
  EXPECT_EQ(b->IndexInParent(), 1);
  EXPECT_EQ(a->GetSlide(), f.Slide.get());
  EXPECT_EQ(f.Slide->GetChild(3), nullptr);
  f.Reload();
  ASSERT_EQ(f.Slide->ChildCount(), 3);
  EXPECT_EQ(f.At(0), a);
  EXPECT_EQ(f.At(1), b);
}

TEST(KavObjectTree, ReleasingTheSlideReleasesTheTree) {
  Ref<TKavObjectProps> child_props;
  Ref<test::TTestHost> host;
  {
    TSlideFixture f(Obj("a", "Box", "") + Obj("b", "Box", ""));
    child_props = Ref<TKavObjectProps>(f.Props->Child(0));
    host = f.Host;
  }
  // The record no longer points at a freed object; each object's queued
  // picture work was cancelled.
  EXPECT_EQ(child_props->Object(), nullptr);
  EXPECT_GE(host->Cancelled, 2);
}

TEST(KavObjectKeys, BaseKeysAndDefaults) {
  TSlideFixture f(Obj("a", "Box", "FitMode=cover\nPosMode=Absolute\nTranspForClick=1\nShadowEnable=1\n"
                                  "ShadowColor=10,20,30\nShadowAngle=30\nHideMode=2\nAction=next\n") +
                  Obj("b", "Box", ""));
  TKavObject* a = f.At(0);
  EXPECT_EQ(a->FitMode, kFitCover);
  EXPECT_EQ(a->PosMode, kModeAbsolute);
  EXPECT_EQ(a->CenterMode, kModePercent);
  EXPECT_TRUE(a->TranspForClick);
  EXPECT_TRUE(a->ShadowEnable());
  EXPECT_EQ(a->ShadowColor, 0xFF0A141Eu);
  EXPECT_EQ(a->DrawnShadowColor(), 0xFF0A141Eu ^ 0x010101u);  // through the host's transform
  EXPECT_EQ(a->ShadowAngle(), 30.0);
  EXPECT_TRUE(a->HideFacing);
  EXPECT_FALSE(a->HideAway);
  EXPECT_EQ(a->Action, u"next");
  TKavObject* b = f.At(1);
  EXPECT_EQ(b->FitMode, kFitPlaceInto);
  EXPECT_FALSE(b->ShadowEnable());
  EXPECT_EQ(b->ShadowColor, 0x90000000u);
  EXPECT_EQ(b->ShadowSize, 16.0f);
  EXPECT_EQ(b->ShadowOpacity, 59.0f);
  EXPECT_EQ(b->ShadowDistance(), 1.5f);
}

TEST(KavObjectLayout, FitModes) {
  TSlideFixture f(Obj("a", "Box", "Size=1000,1000\nFitMode=Cover\n") + Obj("b", "Box", "Size=1000,1000\n") +
                  Obj("c", "Box",
                      "Size=1000,1000\nFitMode=None\nCenterMode=Absolute\n" + KeyPoint("Time=0\nCenterPos=100,0\n")) +
                  Obj("d", "Box", ""));
  EXPECT_NEAR(f.At(0)->SizeScale().x, 1.92f, 1e-6);
  EXPECT_NEAR(f.At(1)->SizeScale().x, 1.08f, 1e-6);
  // No fit and an absolute centre lay out instead of stopping the slide:
  // the object keeps its size, the centre moves by object units.
  EXPECT_EQ(f.At(2)->SizeScale().x, 1.0f);
  EXPECT_EQ(f.At(2)->LocalOrigin().x, -600.0f);
  // A box without size has nothing to fit.
  EXPECT_EQ(f.At(3)->SizeScale().x, 0.0f);
}

TEST(KavObjectLayout, PlacedInTheParentsFrame) {
  TSlideFixture f(Obj("a", "Box", "Size=1000,1000\n" + KeyPoint("Time=0\nPosition=50,-50\nCenterPos=100,100\n") +
                                      Obj("c", "Box", "Size=100,100\nFitMode=None\n" +
                                                          KeyPoint("Time=0\nPosition=100,0\n"))));
  TKavObject* a = f.At(0);
  // Half-way to the right and up from the slide's centre.
  EXPECT_FLOAT_EQ(a->WorldFrame().Frame.Origin.x, 960 + 480);
  EXPECT_FLOAT_EQ(a->WorldFrame().Frame.Origin.y, 540 - 270);
  // Centre (100, 100): the origin is the bottom-right corner.
  EXPECT_EQ(a->LocalOrigin().x, -1000.0f);
  TVector3 c[4];
  a->GetCornerPoints(c, 4, 0);
  EXPECT_NEAR(c[2].x, 1440, 1e-3);
  EXPECT_NEAR(c[0].x, 1440 - 1080, 1e-3);
  // The grandchild sits at the parent's right edge, scaled with it.
  TKavObject* g = a->GetChild(0);
  EXPECT_NEAR(g->WorldFrame().Frame.Origin.x, 1440 + 500 * 1.08, 1e-3);
  EXPECT_NEAR(g->WorldFrame().Frame.AxisX.x, 1.08, 1e-6);
  // Inflated corners move outward along both edges.
  a->GetCornerPoints(c, 4, 2);
  EXPECT_NEAR(c[0].x, 1440 - 1080 - 2, 1e-3);
  EXPECT_NEAR(c[0].y, 270 - 1080 - 2, 1e-3);
  EXPECT_THROW(a->GetCornerPoints(c, 3, 0), EAbort);
}

TEST(KavObjectLayout, KeyframedMoveAtTheMidpoint) {
  TSlideFixture f(Obj("a", "Box", "Size=100,100\n" + KeyPoint("Time=0\nPosition=0,0\nOpacity=100\n") +
                                      KeyPoint("Time=1000\nPosition=100,20\nOpacity=50\n")));
  f.Slide->SetTime(true, 500);
  TKavObject* a = f.At(0);
  EXPECT_NEAR(a->WorldFrame().Frame.Origin.x, 960 + 50 * 1920 * 0.005, 1e-3);
  EXPECT_NEAR(a->WorldFrame().Frame.Origin.y, 540 + 10 * 1080 * 0.005, 1e-3);
  f.Slide->SetTime(true, 1000);
  EXPECT_FLOAT_EQ(a->ScaledValue(), 50.0f);
}

// The next change the clock brings to a tree: a group moves between its
// first and last keyframes (a lone keyframe holds), children count, and the
// tree stands still once the last of them has passed.
TEST(KavObjectTime, NextChangeFollowsTheKeyframes) {
  TSlideFixture f(Obj("a", "Box", "Size=100,100\n" + KeyPoint("Time=0\nPosition=0,0\n") +
                                      KeyPoint("Time=1000\nPosition=100,20\n") +
                                      Obj("a1", "Box", "Size=10,10\n" + KeyPoint("Time=1500\nOpacity=100\n") +
                                                           KeyPoint("Time=2000\nOpacity=50\n"))) +
                  Obj("b", "Box", "Size=10,10\n" + KeyPoint("Time=3000\nOpacity=50\n")));
  EXPECT_EQ(f.Slide->NextChange(0), 0);
  EXPECT_EQ(f.Slide->NextChange(999), 999);
  EXPECT_EQ(f.Slide->NextChange(1000), 1500);  // the child's keyframes lie ahead
  EXPECT_EQ(f.Slide->NextChange(1200), 1500);
  EXPECT_EQ(f.Slide->NextChange(1700), 1700);
  EXPECT_FALSE(f.Slide->StillFrom(1999));
  EXPECT_TRUE(f.Slide->StillFrom(2000));
  EXPECT_TRUE(f.Slide->StillFrom(60000));
  EXPECT_TRUE(f.At(1)->StillFrom(0));
  // The clock standing, keyframes change nothing.
  EXPECT_TRUE(std::isinf(f.Slide->NextChange(500, false)));
}

// Visible windows open and close by the clock: the next change is the
// window's start, then its end; a window open to the slide's end closes
// with the slide. Five boxes due 100 ms apart are each due on time.
TEST(KavObjectTime, NextChangeOpensAndClosesVisibleWindows) {
  TSlideFixture f(Obj("a", "Box", "Size=10,10\nDeltaTime1=1000\nDeltaTime2=500\n") +
                  Obj("b", "Box", "Size=10,10\nDeltaTime1=3000\n"));
  EXPECT_EQ(f.Slide->NextChange(0), 1000);
  EXPECT_EQ(f.Slide->NextChange(1000), 3000);
  EXPECT_EQ(f.Slide->NextChange(3000), 5500);
  EXPECT_EQ(f.Slide->NextChange(5500), 5500);
  EXPECT_TRUE(f.Slide->StillFrom(5500.02));
  // The layout agrees: hidden just before each time, changed at it.
  f.Slide->SetTime(true, 999.9);
  EXPECT_FALSE(f.At(0)->Visible());
  f.Slide->SetTime(true, 1000);
  EXPECT_TRUE(f.At(0)->Visible());
  f.Slide->SetTime(true, 5500.1);
  EXPECT_FALSE(f.At(0)->Visible());
  EXPECT_TRUE(std::isinf(f.Slide->NextChange(0, false)));

  std::string five;
  for (int i = 0; i < 5; ++i)
    five += Obj("box" + std::to_string(i), "Box", "Size=10,10\nDeltaTime1=" + std::to_string(1000 + 100 * i) + "\n");
  TSlideFixture g(five);
  double t = 900;
  for (int i = 0; i < 5; ++i) {
    t = g.Slide->NextChange(t + 1);
    EXPECT_EQ(t, 1000 + 100 * i);
  }
  EXPECT_TRUE(g.Slide->StillFrom(t + 1));
}

// A modifier changes its object from its keyframe on (from the start when
// it is its group's first keyframe), with the clock running or standing.
TEST(KavObjectTime, NextChangeUnderModifiers) {
  const std::string mod = "object m:Mod\nfn=T\ndst=Opacity\nend\n";
  TSlideFixture f(Obj("a", "Box", "Size=10,10\n" + KeyPoint("Time=500\nOpacity=100\n" + mod)) +
                  Obj("b", "Box", "Size=10,10\n" + KeyPoint("Time=0\nOpacity=100\n") +
                                      KeyPoint("Time=1000\nOpacity=100\n") +
                                      KeyPoint("Time=4000\nPosition=10,10\n" + mod)));
  EXPECT_EQ(f.At(0)->NextChange(0), 0);
  EXPECT_EQ(f.At(0)->NextChange(0, false), 0);
  EXPECT_EQ(f.At(0)->NextChange(9000), 9000);
  // b: its modifier's keyframe is the first of its own group.
  EXPECT_EQ(f.At(1)->NextChange(2000), 2000);
  TSlideFixture g(Obj("c", "Box", "Size=10,10\n" + KeyPoint("Time=0\nOpacity=100\n") +
                                      KeyPoint("Time=1000\nOpacity=100\n") +
                                      KeyPoint("Time=4000\nOpacity=100\n" + mod)));
  EXPECT_EQ(g.Slide->NextChange(500), 500);  // between two keyframes
  EXPECT_EQ(g.Slide->NextChange(1500), 1500);
  EXPECT_EQ(g.Slide->NextChange(4000), 4000);
  EXPECT_EQ(g.Slide->NextChange(5000, false), 5000);
}

TEST(KavObjectTime, VisibleFromStartToEndInclusive) {
  TSlideFixture f(Obj("a", "Box", "DeltaTime1=1000\nDeltaTime2=500\n"));
  TKavObject* a = f.At(0);
  const std::pair<double, bool> cases[] = {{999.98, false}, {1000, true}, {3000, true}, {5500, true},
                                           {5500.02, false}};
  for (auto [t, visible] : cases) {
    f.Slide->SetTime(true, t);
    EXPECT_EQ(a->Visible(), visible) << t;
  }
  EXPECT_EQ(a->VisibilityChanged, 1);
  a->CommitState(false);
  EXPECT_EQ(a->VisibilityChanged, 0);
}

TEST(KavObjectDraw, ChildrenInOrderAndFacingRules) {
  TSlideFixture f(Obj("a", "Box", "Size=10,10\n") + Obj("b", "Box", "Size=10,10\nHideMode=3\n") +
                  Obj("c", "Box", "Size=10,10\nHideMode=1\n" + KeyPoint("Time=0\nAngleY=180\n")) +
                  Obj("d", "Box", "Size=10,10\n" + KeyPoint("Time=0\nAngleY=180\n")) +
                  Obj("e", "Box", "Size=10,10\nHideMode=2\nChildInvis=1\n" + Obj("e1", "Box", "Size=10,10\n")));
  f.Slide->SetTime(true, 100);
  TRecordingDrawer drawer;
  drawer.Render(f.Slide.get());
  ASSERT_EQ(drawer.Rendered.size(), 7u);  // the slide, five boxes, one grandchild
  EXPECT_EQ(drawer.Rendered[1], f.At(0));
  EXPECT_EQ(drawer.Rendered[5], f.At(4));
  // a and d draw: HideMode 3 hides b whatever its side, c turned away with
  // HideMode 1, e faces the viewer with HideMode 2 and takes its child along.
  ASSERT_EQ(drawer.Fills.size(), 2u);
  EXPECT_TRUE(f.At(4)->GetChild(0)->Hidden());
  EXPECT_EQ(f.At(0)->Changed, 0);
  EXPECT_FALSE(f.Slide->NeedsDraw());
}

struct TThrower : TKavObject {
  using TKavObject::TKavObject;
  void DrawSelf(TDeviceDrawer*) override { throw Exception("broken"); }
};

TEST(KavObjectDraw, AFailingObjectLetsTheRestDraw) {
  TSlideFixture f(Obj("a", "Box", "Size=10,10\n"));
  Ref<TKavObjectProps> props = MakeRef<TKavObjectProps>();
  Ref<TThrower> thrower = TKavObject::Create<TThrower>(f.Slide.get(), props.get());
  Ref<TKavObjectProps> props2 = MakeRef<TKavObjectProps>();
  Ref<TKavBox> after = TKavObject::Create<TKavBox>(f.Slide.get(), props2.get());
  after->Alpha1 = 255;
  after->SetSize(FloatPoint(5, 5));
  f.Slide->SetTime(true, 0);
  TRecordingDrawer drawer;
  EXPECT_NO_THROW(drawer.Render(f.Slide.get()));
  EXPECT_EQ(drawer.Fills.size(), 2u);
}

bool NotTransparent(TKavObject* o) { return !o->TranspForClick; }

TEST(KavObjectHit, TopmostFirstAndTransparentForClicks) {
  TSlideFixture f(Obj("a", "Box", "Size=1000,1000\n") + Obj("b", "Box", "Size=500,500\nFitMode=None\n") +
                  Obj("c", "Box", "Size=200,200\nFitMode=None\nTranspForClick=1\n"));
  TFloatPoint local;
  // Edges of a (1080 wide around the centre): 420 .. 1500.
  EXPECT_EQ(f.At(0)->HitTest(local, false, 420.01f, 10), f.At(0));
  EXPECT_EQ(f.At(0)->HitTest(local, false, 419.99f, 10), nullptr);
  EXPECT_EQ(f.At(0)->HitTest(local, false, 1499.99f, 1079.99f), f.At(0));
  EXPECT_EQ(f.At(0)->HitTest(local, false, 1500.01f, 500), nullptr);
  EXPECT_NEAR(local.x, 500 - 0.01 / 1.08, 1e-2);  // from the last hit
  // Later children lie on top; TranspForClick lets the one below be hit.
  EXPECT_EQ(f.Slide->HitTest(local, true, 960, 540), f.At(2));
  const THitFilter no_transparent = THitFilter::Bind<&NotTransparent>();
  EXPECT_EQ(f.Slide->HitTestChildren(local, no_transparent, 960, 540), f.At(1));
  EXPECT_EQ(f.Slide->HitTestChildren(local, no_transparent, 500, 540), f.At(0));
  // The slide itself is never the result.
  EXPECT_EQ(f.Slide->HitTestChildren(local, no_transparent, 5, 5), nullptr);
}

TEST(KavObjectHit, UnderRotationAndPerspective) {
  TSlideFixture f(Obj("a", "Box", "Size=400,100\nFitMode=None\n" + KeyPoint("Time=0\nAngle=90\n")) +
                  Obj("z", "Box", "Size=200,200\nFitMode=None\n" + KeyPoint("Time=0\nPosition=-50,0\nZPos=100\n")));
  TFloatPoint local;
  TKavObject* a = f.At(0);
  EXPECT_EQ(a->HitTest(local, false, 960, 720), a);
  EXPECT_EQ(a->HitTest(local, false, 1100, 540), nullptr);
  EXPECT_NEAR(std::fabs(local.x), 180, 1e-2);
  // Behind the slide plane the object looks smaller: its edge moves toward
  // the camera's axis by the ratio of the distances.
  TKavObject* z = f.At(1);
  const double depth = 100 * 1080 / 200.0 * f.Slide->DepthFactor();
  const double scale = 1000 / (1000 + depth);
  const double left = 960 + (480 - 100 - 960) * scale;
  EXPECT_EQ(z->HitTest(local, false, float(left + 0.5), 540), z);
  EXPECT_EQ(z->HitTest(local, false, float(left - 0.5), 540), nullptr);
  // Without a usable frame, only when the host asks for it.
  TSlideFixture g(Obj("a", "Box", "Size=100,100\n" + KeyPoint("Time=0\nScaleX=0\n")));
  EXPECT_FALSE(g.At(0)->WorldFrame().Valid);
  EXPECT_EQ(g.At(0)->HitTest(local, false, 960, 540), nullptr);
  g.Host->AskAnswer = true;
  EXPECT_EQ(g.At(0)->HitTest(local, false, 960, 540), g.At(0));
}

TEST(KavObjectSurvey, PerspectiveFactorIsCapped) {
  TSlideFixture f(Obj("a", "Box", "Size=1000,1000\n" + KeyPoint("Time=0\nZPos=-100\n")) +
                  Obj("b", "Box", "Size=1000,1000\n" + KeyPoint("Time=0\nZPos=-280\n")));
  f.Slide->SurveyReset();
  f.Slide->SurveyState();
  f.Slide->ApplyRequiredResolution(false);  // the slide's set-up has applied it already
  const double k = f.Slide->DepthFactor();
  const double za = -100 * 1080 / 200.0 * k;
  EXPECT_NEAR(f.At(0)->RequiredResolution().x, 1080 / (1 - za / -1000.0), 0.05);
  // b is close enough to the camera for a factor above 5.
  const double zb = -280 * 1080 / 200.0 * k;
  ASSERT_GT(1 / (1 - zb / -1000.0), 5.0);
  EXPECT_NEAR(f.At(1)->RequiredResolution().x, 1080 * kMaxPerspectiveFactor, 0.05);
  EXPECT_FALSE(f.Slide->ApplyRequiredResolution(false));
  std::vector<double> times;
  f.Slide->CollectKeyFrames(times);
  EXPECT_EQ(times, std::vector<double>{0.0});
}

TEST(KavSlide, OriginsAndEffectiveOpacity) {
  TSlideFixture f(Obj("a", "Box", KeyPoint("Time=0\nOpacity=50\n")));
  EXPECT_EQ(f.Slide->OriginTime(0), 0);
  EXPECT_EQ(f.Slide->OriginTime(1), 1000);
  EXPECT_EQ(f.Slide->OriginTime(2), 5500);
  EXPECT_EQ(f.Slide->OriginTime(3), 6000);
  EXPECT_THROW(f.Slide->OriginTime(4), EAbort);
  EXPECT_FLOAT_EQ(f.At(0)->ScaledValue(), 50.0f);
  EXPECT_NEAR(f.Slide->DepthFactor(), kTan30 / 1080 * 1000, 1e-6);
  EXPECT_FLOAT_EQ(f.At(0)->LayerValue(), 0.0f);
}

}  // namespace
}  // namespace kav
