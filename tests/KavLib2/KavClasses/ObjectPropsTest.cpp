#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "PropsTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

std::string Mod(std::string_view keys) { return "object m:Mod\n" + std::string(keys) + "end\n"; }

// Every evaluated value of the tree is a finite number.
void ExpectFiniteTree(TKavObjectProps* p, double t) {
  p->Evaluate(t);
  for (int32_t i = 0; i < kKeyParamCount; ++i) ASSERT_TRUE(std::isfinite(p->Value(i))) << i << " at " << t;
  for (int32_t g = 0; g < kKeyGroupCount; ++g) ASSERT_TRUE(std::isfinite(p->GroupTime(g))) << g << " at " << t;
  for (int32_t c = 0; c < p->ChildCount(); ++c) ExpectFiniteTree(p->Child(c), t);
}

}  // namespace

TEST(ObjectProps, ChildrenAreMatchedByGuidAndNamelessOnesSkipped) {
  TPropsFixture f;
  TKavObjectProps* root = f.Load("object o:Frame\nGUID={root}\n" + KeyPoint("Time=0\n") +
                                 ObjectBlock("Image", KeyPoint("Time=10\n"), "{a}") +
                                 "object lost:Image\nOpacity=5\nend\n" +  // no GUID: skipped
                                 ObjectBlock("Text", "", "{b}") + "end\n");
  ASSERT_EQ(root->ChildCount(), 2);
  Ref<TKavObjectProps> a(root->Child(0)), b(root->Child(1));
  EXPECT_EQ(a->Guid(), "{a}");
  EXPECT_EQ(a->OwnerProps(), root);
  EXPECT_EQ(a->GetKeyFrame(0)->Time(), 10);
  EXPECT_EQ(b->Kind(), kKindText);
  TKavKeyFrame* kf = root->GetKeyFrame(0);

  // Reordered, with a new child: the same properties follow their GUIDs and
  // the keyframe at the same position is the same object.
  f.DocRef = Doc("object o:Frame\nGUID={root}\n" + KeyPoint("Time=5\n") + ObjectBlock("Box", "", "{c}") +
                 ObjectBlock("Text", "", "{b}") + ObjectBlock("Image", "", "{a}") + "end\n");
  f.Reload();
  ASSERT_EQ(root->ChildCount(), 3);
  EXPECT_EQ(root->Child(1), b.get());
  EXPECT_EQ(root->Child(2), a.get());
  EXPECT_EQ(root->Child(0)->Kind(), kKindBox);
  EXPECT_EQ(root->GetKeyFrame(0), kf);
  EXPECT_EQ(kf->Time(), 5);
  EXPECT_EQ(a->KeyFrameCount(), 0);

  // Children and keyframes that are gone are let go of.
  Ref<TKavKeyFrame> old_kf(kf);
  f.DocRef = Doc("object o:Frame\nGUID={root}\n" + ObjectBlock("Text", "", "{b}") + "end\n");
  f.Reload();
  ASSERT_EQ(root->ChildCount(), 1);
  EXPECT_EQ(root->Child(0), b.get());
  EXPECT_EQ(a->OwnerProps(), nullptr);
  EXPECT_EQ(root->KeyFrameCount(), 0);
  EXPECT_EQ(old_kf->Owner(), nullptr);
  f.DocRef = Doc("object o:Frame\nend\n");
  f.Reload();
  EXPECT_EQ(root->ChildCount(), 0);
  // A null block reads as an empty one.
  root->Read(nullptr, f.Timing);
  EXPECT_EQ(root->Kind(), kKindNone);
  EXPECT_EQ(root->GetText(u"GUID", u"none"), u"none");
}

TEST(ObjectProps, ModifiersComputeTimesAndValues) {
  TPropsFixture f;
  TKavObjectProps* p =
      f.Load(ObjectBlock("Image", KeyPoint("Time=0\nOpacity=0\nPosition=0,0\nScaleX=100\nBlur=10\n" +
                                           Mod("fn=T\ndst=Opacity\n") +           // opacity = local time
                                           Mod("fn=T * T\ndst=pos.t\n") +         // eased position
                                           Mod("fn=Opacity\ndst=Pos.Y\n") +       // another field
                                           Mod("fn=value * 2\ndst=Scale.X\n") +   // the value itself
                                           Mod("fn=value + 0.5\ndst=Scale.X\n") + // a chain of two
                                           Mod("fn=big\ndst=Blur\nbig=1e300\n") + // too big: dropped
                                           Mod("fn=1\ndst=Pos.W\n") +             // names nothing: skipped
                                           Mod("fn=1\ndst=Scale.Y\nDisable=1\n")) +
                                  KeyPoint("Time=1000\nOpacity=50\nPosition=100,0\nScaleX=100\nBlur=30\n")));
  TKavKeyFrame* k = p->GetKeyFrame(0);
  EXPECT_EQ(k->ModCount(), 7);
  f.Props->Evaluate(500);
  EXPECT_EQ(p->Value(kKeyOpacity), 50);  // not the interpolated 25
  EXPECT_EQ(p->GroupTime(kGroupPos), 0.25);
  EXPECT_EQ(p->Value(kKeyPosX), 25);
  EXPECT_EQ(p->Value(kKeyPosY), 50);
  EXPECT_EQ(p->Value(kKeyScaleX), 250);  // (1 x 2 + 0.5) x 100
  EXPECT_EQ(p->Value(kKeyScaleY), 100);
  EXPECT_EQ(p->Value(kKeyBlur), 20);
  // The second keyframe has no modifiers: after it the values are its own.
  f.Props->Evaluate(1000);
  EXPECT_EQ(p->Value(kKeyOpacity), 50);
  EXPECT_EQ(p->Value(kKeyScaleX), 100);

  // Reloading keeps the modifiers; one whose revision moved is made anew.
  TObjectFilter* first = k->ParamMods(kKeyOpacity);
  f.Reload();
  EXPECT_EQ(p->GetKeyFrame(0)->ParamMods(kKeyOpacity), first);
  TIniList* m = first->IniObject();
  m->FindKey(u"fn")->SetString(u"T / 2");
  m->FindOrAddKey(u"$rev")->SetInteger(1);
  f.Reload();
  EXPECT_NE(p->GetKeyFrame(0)->ParamMods(kKeyOpacity), first);
  EXPECT_EQ(f.At(500, kKeyOpacity), 25);

  // A formula that does not compile gives 0, as a modifier without program.
  f.Load(ObjectBlock("Image", KeyPoint("Time=0\nBlur=10\n" + Mod("fn=Nowhere\ndst=Blur\n"))));
  EXPECT_EQ(f.At(0, kKeyBlur), 0);
}

TEST(ObjectProps, FilterChainsOfKeyframes) {
  TPropsFixture f;
  TKavObjectProps* p = f.Load(ObjectBlock(
      "Image", KeyPoint("Time=0\nobject a:Invert\nend\nobject Filter:BrightContrast\nbright=10\nend\n"
                        "object s:Sharpen\nend\n" + Mod("fn=1\ndst=Opacity\n")) +
                   KeyPoint("Time=1000\nobject h:HSL\nHue=90\nend\n") + KeyPoint("Time=2000\ngrps=1\n")));
  TKavKeyFrame* k0 = p->GetKeyFrame(0);
  ASSERT_NE(k0->Filters(), nullptr);
  ASSERT_NE(k0->Filters()->Next(), nullptr);
  EXPECT_EQ(k0->Filters()->Next()->Next(), nullptr);  // Sharpen is no filter kind; Mod is no colour filter
  // The first child runs first: inverted, then brightened.
  TPixelRows rows(1, 1);
  rows.Set(0, 0, {100, 100, 100, 255});
  ApplyFilterChain(k0->Filters(), rows.Rows, 1);
  EXPECT_EQ(rows.Get(0, 0), (Px{165, 165, 165, 255}));
  EXPECT_EQ(CheckFilterChain(p->GetKeyFrame(1)->Filters()), kFilterKindColorGrade);

  // The colour group mixes the two keyframes around the time.
  p->Evaluate(250);
  EXPECT_EQ(p->PrevKeyFrame(kGroupColor), k0);
  EXPECT_EQ(p->NextKeyFrame(kGroupColor), p->GetKeyFrame(1));
  EXPECT_EQ(p->GroupTime(kGroupColor), 0.25);
  p->Evaluate(2500);  // the third keyframe leaves Color out
  EXPECT_EQ(p->PrevKeyFrame(kGroupColor), p->GetKeyFrame(1));
  EXPECT_DOUBLE_EQ(p->GroupTime(kGroupColor), 1500.0 / 5000.0);

  // Reloading reuses the bound filters; the "id" written on first read
  // identifies them.
  TObjectFilter* front = k0->Filters();
  EXPECT_FALSE(IniGetString(front->IniObject()->FindKey(u"id")).empty());
  f.Reload();
  EXPECT_EQ(p->GetKeyFrame(0)->Filters(), front);
}

TEST(ObjectProps, GarbageAndTruncatedProjectTextStaysSound) {
  const std::string valid =
      "object o:Frame\nGUID={r}\nDeltaTime1=10\n" +
      KeyPoint("Origin=SlideEnd\nTime=-500\nOpacity=50\nPosition=10,20\nZoom=150\nAngle=720\n" +
               Mod("fn=Sin(T * 6)\ndst=Angle\n") + Mod("fn=T\ndst=Frame.T\n") + "object f:Levels\nMin=10\nend\n") +
      KeyPoint("Time=0\nOpacity=100\nOffsX=50\nZoom=400\n") +
      ObjectBlock("Image", KeyPoint("Time=100\nCenterPos=1,2\nScaleX=3e38\n") + KeyPoint("Time=100\nScaleX=-3e38\n"),
                  "{c}") +
      "end\n";
  const std::string alphabet = "0123456789.-+eE,;:=\n TabcxyzKeyPointModend{}";
  std::mt19937 rng(12345);
  for (int round = 0; round < 400; ++round) {
    std::string text = valid;
    const int edits = 1 + int(rng() % 8);
    for (int e = 0; e < edits && !text.empty(); ++e) {
      const size_t at = rng() % text.size();
      switch (rng() % 3) {
        case 0: text[at] = alphabet[rng() % alphabet.size()]; break;
        case 1: text.insert(at, 1, alphabet[rng() % alphabet.size()]); break;
        default: text.erase(at, 1 + rng() % 12); break;
      }
    }
    if (round % 4 == 0) text.resize(rng() % (text.size() + 1));  // truncated
    Ref<TIniFile> doc = MakeRef<TIniFile>();
    doc->LoadFromBytes(text);
    TIniObject* block = doc->FirstObject();
    Ref<TKavObjectProps> p = MakeRef<TKavObjectProps>();
    p->Read(block, TSlideLengths{int32_t(rng() % 3) * 3000, 1000, 2000});
    p->ProcessTree(TSlideLengths{4000, 0, 0}, double(rng() % 3));
    p->ReadAspect(640, 480);
    for (double t : {-1e9, 0.0, 99.0, 100.0, 2500.0, 1e300}) ExpectFiniteTree(p.get(), t);
    if (HasFatalFailure()) FAIL() << "round " << round << ":\n" << text;
  }

  // Counts are capped: a block of more keyframes than allowed keeps the first.
  std::string many = "object o:Image\n";
  for (int i = 0; i < kMaxObjectKeyFrames + 5; ++i) many += "object k:KeyPoint\nTime=" + std::to_string(i) + "\nend\n";
  TPropsFixture f;
  f.Load(many + "end\n");
  EXPECT_EQ(f.Props->KeyFrameCount(), kMaxObjectKeyFrames);
  EXPECT_EQ(f.Props->GetKeyFrame(kMaxObjectKeyFrames - 1)->Time(), kMaxObjectKeyFrames - 1);
}
