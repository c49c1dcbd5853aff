#include <gtest/gtest.h>

#include <cmath>

#include "PropsTestUtil.h"

using namespace kav;
using namespace kav::test;

TEST(KeyFields, FieldNamesKindsAndGroupMasks) {
  EXPECT_EQ(ParseFieldName("Pos.X").Param, kKeyPosX);
  EXPECT_EQ(ParseFieldName("frame.s").Param, kKeyFrameS);
  EXPECT_TRUE(ParseFieldName("pos.t").IsTime());
  EXPECT_EQ(ParseFieldName("Color.T").Group, kGroupColor);
  EXPECT_FALSE(ParseFieldName("Color").Valid());     // a group without parameters
  EXPECT_FALSE(ParseFieldName("Scale.Z").Valid());
  EXPECT_FALSE(ParseFieldName("Pos.Angle").Valid());  // a parameter of another group

  EXPECT_EQ(ParseObjectKind("viewport"), kKindViewPort);
  EXPECT_EQ(ParseObjectKind("AniImage"), kKindAniImage);
  EXPECT_EQ(ParseObjectKind("Picture"), kKindNone);

  // Texts animate groups 0 to 6, not Frame; boxes neither Color nor Frame;
  // splitters nothing; unknown bits are dropped.
  EXPECT_EQ(KindGroupMask(kKindText, 255), 0x7Fu);
  EXPECT_EQ(KindGroupMask(kKindBox, 255), 0x3Fu);
  EXPECT_EQ(KindGroupMask(kKindImage, 0xFFFF), 0xFFu);
  EXPECT_EQ(KindGroupMask(kKindSplitter, 255), 0u);
}

TEST(KeyFrames, TimesOriginsAndValuesAsRead) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock("Text",
                                          KeyPoint("Origin=slideend\nTime=1500.75\nPosition=30\nOpacity=40\nZoom=300\n") +
                                              KeyPoint("Origin=PrevEffectEnd\nTime=-200\nPosition=1,2,3\n") +
                                              KeyPoint("Origin=NextEffectBegin\nTime=0\ngrps=2\nOpacity=10\n") +
                                              KeyPoint("Origin=Elsewhere\nTime=abc\nCenterPos=5,7\n")));
  ASSERT_EQ(p->KeyFrameCount(), 4);
  // Read out of order, sorted by time: 0, 800, 5500, 7500.
  EXPECT_EQ(p->GetKeyFrame(0)->Time(), 0);
  EXPECT_EQ(p->GetKeyFrame(1)->Time(), 800);
  EXPECT_EQ(p->GetKeyFrame(2)->Time(), 5500);
  const TKavKeyFrame* last = p->GetKeyFrame(3);
  EXPECT_EQ(last->Time(), 7500);

  // A single Position number leaves Pos.Y at its default; a text keyframe has
  // no Frame group, so Zoom reads as the default and unset.
  bool set = false;
  EXPECT_EQ(last->GetParam(kKeyPosX, &set), 30);
  EXPECT_TRUE(set);
  EXPECT_EQ(last->GetParam(kKeyPosY), 0);
  EXPECT_EQ(last->GetParam(kKeyOpacity), 40);
  EXPECT_EQ(last->GetParam(kKeyFrameS, &set), 100);
  EXPECT_FALSE(set);
  // A Position list of three numbers still gives its first two.
  EXPECT_EQ(p->GetKeyFrame(1)->GetParam(kKeyPosY), 2);
  EXPECT_EQ(p->GetKeyFrame(0)->GetParam(kKeyCenterY), 7);
  // grps 2 animates Pos only: its Opacity is the default and unset.
  EXPECT_EQ(p->GetKeyFrame(2)->GetParam(kKeyOpacity, &set), 100);
  EXPECT_FALSE(set);
  EXPECT_THROW(last->GetParam(15), EAbort);
}

TEST(KeyFrames, GarbageNumbersGiveDefaults) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock(
      "Image",
      "DeltaTime1=xyz\nDeltaTime2=1e999\nTreeNode=--3\n" +
          KeyPoint("Time=99999999999\ngrps=all\nOpacity=1e300\nScaleX=NaN\nScaleY=12abc\nAngle=-1e39\n"
                   "Position=,x\nCenterPos=1e40,-7\nZoom=\nOrigin=7\n")));
  EXPECT_EQ(p->DeltaTime1(), 0);
  EXPECT_EQ(p->DeltaTime2(), 0);
  EXPECT_EQ(p->TreeNode(), 0);
  const TKavKeyFrame* k = p->GetKeyFrame(0);
  ASSERT_NE(k, nullptr);
  EXPECT_EQ(k->Time(), 0);
  EXPECT_EQ(k->Origin(), kOriginSlideBegin);
  EXPECT_EQ(k->GroupMask(), 0xFFu);
  for (int32_t i = 0; i < kKeyParamCount; ++i) {
    const float expected = i == kKeyCenterY ? -7.0f : kKeyParams[size_t(i)].Default;
    EXPECT_EQ(k->GetParam(i), expected) << i;
  }
}

TEST(KeyFrames, LinearInterpolationHoldAndDefaults) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock("Image", KeyPoint("Time=1000\ngrps=3\nOpacity=0\nPosition=-50,10\n") +
                                                       KeyPoint("Time=3000\ngrps=3\nOpacity=100\nPosition=50,30\n")));
  EXPECT_EQ(f.At(2000, kKeyOpacity), 50);
  EXPECT_EQ(p->Value(kKeyPosX), 0);
  EXPECT_EQ(p->Value(kKeyPosY), 20);
  EXPECT_EQ(p->GroupTime(kGroupOpacity), 0.5);
  EXPECT_EQ(f.At(1500, kKeyOpacity), 25);
  // Before the first keyframe its values hold; after the last, the last's.
  EXPECT_EQ(f.At(0, kKeyPosX), -50);
  EXPECT_EQ(p->GroupTime(kGroupPos), 0);
  EXPECT_EQ(f.At(5000, kKeyPosX), 50);
  // After the last keyframe the local time runs on to the slide's end.
  EXPECT_DOUBLE_EQ(p->GroupTime(kGroupPos), 2000.0 / 3000.0);
  EXPECT_EQ(p->PrevKeyFrame(kGroupPos), p->GetKeyFrame(1));
  EXPECT_EQ(p->NextKeyFrame(kGroupPos), p->GetKeyFrame(1));
  // Groups that no keyframe animates keep the table's defaults.
  EXPECT_EQ(p->Value(kKeyScaleX), 100);
  EXPECT_EQ(p->Value(kKeyFrameS), 100);
  EXPECT_EQ(p->PrevKeyFrame(kGroupScale), nullptr);
  // Going back in time finds the right segment again.
  EXPECT_EQ(f.At(2500, kKeyOpacity), 75);
  EXPECT_EQ(f.At(1000, kKeyOpacity), 0);
  EXPECT_EQ(f.At(std::nan(""), kKeyOpacity), 0);  // a time that is no number counts as 0
}

TEST(KeyFrames, EqualTimesAndShortSlidesDivideByNothing) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock("Image", KeyPoint("Time=0\nOpacity=0\n") + KeyPoint("Time=1000\nOpacity=20\n") +
                                                       KeyPoint("Time=1000.9\nOpacity=80\n") +
                                                       KeyPoint("Time=2000\nOpacity=100\n")));
  EXPECT_EQ(f.At(500, kKeyOpacity), 10);
  // At the shared time the later keyframe takes over: a jump, not a ramp.
  EXPECT_EQ(f.At(1000, kKeyOpacity), 80);
  EXPECT_FLOAT_EQ(f.At(999.999, kKeyOpacity), 19.99998f);
  EXPECT_EQ(p->PrevKeyFrame(kGroupOpacity), p->GetKeyFrame(0));
  EXPECT_EQ(f.At(1500, kKeyOpacity), 90);

  // Only equal keyframes, and a last keyframe at or after the slide's end:
  // the values hold and every local time is 0.
  f.Timing.SlideLength = 1000;
  f.Load(ObjectBlock("Image", KeyPoint("Time=1000\nOpacity=30\n") + KeyPoint("Time=1000\nOpacity=60\n")));
  for (double t : {0.0, 999.0, 1000.0, 5000.0}) {
    f.Props->Evaluate(t);
    EXPECT_EQ(f.Props->Value(kKeyOpacity), t < 1000 ? 30 : 60) << t;
    EXPECT_EQ(f.Props->GroupTime(kGroupOpacity), 0) << t;
  }
}

TEST(KeyFrames, AngleTurnsAndHugeValues) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock(
      "Image", KeyPoint("Time=0\nAngle=90\nAngleX=3.4e38\nAngleY=-3.4e38\n") +
                   KeyPoint("Time=1000\nAngle=450\nAngleX=-3.4e38\nAngleY=3.4e38\n")));
  // Angles are stored in degrees and interpolated without wrapping; modifiers
  // see them in turns.
  EXPECT_EQ(f.At(500, kKeyAngle), 270);
  EXPECT_EQ(p->MakeGetter("Angle", false)->Get(), 0.75);
  // Values at the ends of the float range interpolate through 0 without
  // overflowing into infinities or NaN.
  EXPECT_EQ(p->Value(kKeyAngleX), 0);
  for (double t : {0.0, 1.0, 250.0, 999.0, 1000.0, 1e300}) {
    p->Evaluate(t);
    EXPECT_TRUE(std::isfinite(p->Value(kKeyAngleX)) && std::isfinite(p->Value(kKeyAngleY))) << t;
  }
  EXPECT_NEAR(f.At(250, kKeyAngleX), 1.7e38, 1e32);
}

TEST(KeyFrames, FrameOffsetsFollowTheZoom) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock("Image", "EnableAspect=1\nAspect=2\n" +
                                                       KeyPoint("Time=0\nZoom=100\nOffsX=0\nOffsY=0\n") +
                                                       KeyPoint("Time=1000\nZoom=200\nOffsX=100\nOffsY=100\n")));
  // Halfway the zoom is 150: (1.5 - 1) x offset moves linearly from 0 to
  // (2 - 1) x 100, so the offset is already 100.
  EXPECT_EQ(f.At(500, kKeyFrameS), 150);
  EXPECT_FLOAT_EQ(p->Value(kKeyFrameX), 100);
  // From zoom 200 to 400 the ends weigh 1 and 3: halfway (300) 300 x 100 x
  // 0.5 / 2 = 75 instead of the plain 50.
  f.Load(ObjectBlock("Image", "EnableAspect=1\nAspect=2\n" + KeyPoint("Time=0\nZoom=200\nOffsX=0\nOffsY=0\n") +
                                  KeyPoint("Time=1000\nZoom=400\nOffsX=100\nOffsY=100\n")));
  EXPECT_FLOAT_EQ(f.At(500, kKeyFrameX), 75);
  // With an aspect the Y factor grows (a 100 x 100 picture in a 2:1 frame):
  // d = 300 x 0.02 - 1 = 5, ends (3 x 0) and (7 x 100): halfway 350 / 5.
  p->ReadAspect(100, 100);
  EXPECT_EQ(p->AspectX(), 0.01);
  EXPECT_EQ(p->AspectY(), 0.02);
  EXPECT_FLOAT_EQ(f.At(500, kKeyFrameY), 70);
  // A zoom that stays put or ends below the frame size gives plain ramps.
  f.Load(ObjectBlock("Image", KeyPoint("Time=0\nZoom=150\nOffsX=0\n") + KeyPoint("Time=1000\nZoom=150\nOffsX=100\n")));
  EXPECT_EQ(f.At(500, kKeyFrameX), 50);
  f.Load(ObjectBlock("Image", KeyPoint("Time=0\nZoom=50\nOffsX=0\n") + KeyPoint("Time=1000\nZoom=90\nOffsX=100\n")));
  EXPECT_EQ(f.At(500, kKeyFrameX), 50);
  // Wide pictures grow the X factor.
  f.Load(ObjectBlock("Image", "EnableAspect=1\nAspect=0.5\n"));
  f.Props->ReadAspect(100, 100);
  EXPECT_EQ(f.Props->AspectX(), 0.02);
  EXPECT_EQ(f.Props->AspectY(), 0.01);
}

TEST(KeyFrames, ProcessTreeScalesRoundsAndResorts) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(
      "object o:Frame\nGUID={G}\nDeltaTime1=250\nDeltaTime2=101\n" + KeyPoint("Time=1000\nOpacity=0\n") +
      KeyPoint("Origin=PrevEffectEnd\nTime=-1\nOpacity=50\n") +  // 999: sorted before 1000
      ObjectBlock("Image", KeyPoint("Time=3\n"), "{G-child}") + "end\n");
  ASSERT_EQ(p->KeyFrameCount(), 2);
  EXPECT_EQ(p->GetKeyFrame(0)->GetParam(kKeyOpacity), 50);

  // Halving puts 999 -> 500 (half to even) and 1000 -> 500: equal times keep
  // their order.
  TSlideLengths longer{12000, 0, 0};
  p->ProcessTree(longer, 0.5);
  EXPECT_EQ(p->DeltaTime1(), 125);
  EXPECT_EQ(p->DeltaTime2(), 50);
  EXPECT_EQ(p->GetKeyFrame(0)->Time(), 500);
  EXPECT_EQ(p->GetKeyFrame(0)->GetParam(kKeyOpacity), 50);
  EXPECT_EQ(p->Child(0)->GetKeyFrame(0)->Time(), 2);
  // A scale of 0 or one that is no number means 1.
  p->ProcessTree(longer, std::nan(""));
  EXPECT_EQ(p->GetKeyFrame(0)->Time(), 999);
  EXPECT_EQ(p->GetKeyFrame(1)->Time(), 1000);
  // The evaluation follows the new times.
  p->ProcessTree(longer, 2);
  EXPECT_EQ(f.At(1999, kKeyOpacity), 25);
}

TEST(KeyFrames, SetParamWritesTheKeyframe) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock("Image", KeyPoint("Time=0\ngrps=1\nPosition=7\n")));
  TKavKeyFrame* k = p->GetKeyFrame(0);
  k->SetParam(kKeyPosY, 1.0 / 3.0);
  k->SetParam(kKeyScaleX, 2.0 / 3.0);
  TIniList* block = k->IniObject();
  // The pair keeps its other member; 16 and 6 significant digits.
  EXPECT_EQ(IniGetValueBytes(block->FindKey(u"Position")), "7,0.3333333333333333");
  EXPECT_EQ(IniGetString(block->FindKey(u"ScaleX")), u"0.666667");
  EXPECT_EQ(IniGetInteger(block->FindKey(u"grps"), 0), 1 | 2 | 4);
  EXPECT_TRUE(p->Changed());
  EXPECT_FLOAT_EQ(f.At(0, kKeyScaleX), 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(p->Value(kKeyPosY), 1.0f / 3.0f);
  EXPECT_EQ(p->Value(kKeyPosX), 7);
  // A re-read gives the same values back.
  f.Reload();
  EXPECT_FLOAT_EQ(f.At(0, kKeyPosY), 1.0f / 3.0f);
  EXPECT_EQ(p->GetKeyFrame(0)->GroupMask(), 7u);

  // Writing one member leaves the other's text as written, and small
  // values keep their digits.
  k = f.Load(ObjectBlock("Image", KeyPoint("Time=0\ngrps=2\nPosition=12.3,45.6\nCenterPos= 1.25 ,2,9\n")))
          ->GetKeyFrame(0);
  k->SetParam(kKeyPosX, 10);
  EXPECT_EQ(IniGetValueBytes(k->IniObject()->FindKey(u"Position")), "10,45.6");
  k->SetParam(kKeyPosY, 1.2345678901234567e-7);
  EXPECT_EQ(IniGetValueBytes(k->IniObject()->FindKey(u"Position")), "10,1.234567890123457E-7");
  k->SetParam(kKeyCenterY, -1e-20);
  EXPECT_EQ(IniGetValueBytes(k->IniObject()->FindKey(u"CenterPos")), "1.25 ,-1E-20,9");
  f.Reload();
  EXPECT_FLOAT_EQ(f.At(0, kKeyPosY), 1.2345678901234567e-7f);

  // Keyframes of splitters and masks animate nothing and are not written.
  f.Load(ObjectBlock("Splitter", KeyPoint("Time=0\nOpacity=20\n")));
  f.Props->GetKeyFrame(0)->SetParam(kKeyOpacity, 50);
  EXPECT_EQ(f.Props->GetKeyFrame(0)->GroupMask(), 0u);
  EXPECT_EQ(IniGetString(f.Props->GetKeyFrame(0)->IniObject()->FindKey(u"Opacity")), u"20");
  EXPECT_EQ(f.At(0, kKeyOpacity), 100);
}
