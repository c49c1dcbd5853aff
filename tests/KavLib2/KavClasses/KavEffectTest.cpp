#include <gtest/gtest.h>

#include <set>

#include "KavLib2/KavClasses/KavSource.h"
#include "ShowFixture.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TKavSource> Source(const std::string& text, uint32_t seed = 7) {
  TKavSourceSetup setup;
  setup.RandomSeed = seed;
  setup.ProgramFile = u"player";
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  return MakeRef<TKavSource>(accessor.get(), ProjectIni(text).get(), setup);
}

std::vector<uint8_t> F(std::initializer_list<int> v) { return {v.begin(), v.end()}; }

// One slide per kind, options given on the slide's own effect.
const std::string kKinds =
    "[Main]\r\nobject TheEffect:AnEffect\r\ntime=1000\r\n"
    "object MyWipe:Effect\r\nkey=custom\r\nchecked=0,1\r\nslide_1=wipe\r\nend\r\nend\r\n"
    "[Times]\r\nopt_slidescount=12\r\n"
    "[Slide1]\r\nobject TheEffect:AnEffect\r\nref=Shapes\r\ntime=800\r\naction=10\r\ndirection=011\r\n"
    "centerx=20\r\ncentery=abc\r\nsmoothline=0.5\r\nend\r\n"
    "[Slide2]\r\nobject TheEffect:AnEffect\r\nref=gates\r\ntime=800\r\ndirection=10000001\r\nend\r\n"
    "[Slide3]\r\nobject TheEffect:AnEffect\r\nref=page\r\ntime=800\r\ndirection=00000000\r\nend\r\n"
    "[Slide4]\r\nobject TheEffect:AnEffect\r\nref=mosaic\r\ntime=800\r\ncols=4\r\nrows=3\r\nappearence=2\r\nend\r\n"
    "[Slide5]\r\nobject TheEffect:AnEffect\r\nref=slide\r\ntime=800\r\ndirection=0110\r\nend\r\n"
    "[Slide6]\r\nobject TheEffect:AnEffect\r\nref=curling\r\ntime=800\r\naction=01\r\ndirection=10000001\r\n"
    "usecolor=1\r\npipe=3\r\ncolor=#102030\r\nradius=0.25\r\nend\r\n"
    "[Slide7]\r\nobject TheEffect:AnEffect\r\nref=flip\r\ntime=800\r\ndirection=0010\r\nspin_center=1\r\n"
    "3dvolume=0.75\r\nend\r\n"
    "[Slide8]\r\nobject TheEffect:AnEffect\r\nref=swap\r\ntime=800\r\ndirection=1111\r\ndepth=x\r\nangle=30\r\nend\r\n"
    "[Slide9]\r\nobject TheEffect:AnEffect\r\nref=dissolve\r\ntime=800\r\nchecked=0\r\nend\r\n"
    "[Slide10]\r\nobject TheEffect:AnEffect\r\nref=mywipe\r\ntime=800\r\nend\r\n"
    "[Slide11]\r\nobject TheEffect:AnEffect\r\nref=dissolve\r\ntime=0\r\nend\r\n"
    "[effect_wipe]\r\nCustomEffTime=700\r\n";

}  // namespace

TEST(KavEffect, EachKindReadsItsOptions) {
  auto s = Source(kKinds);
  double time = 0;
  float smooth = 0;
  auto shapes = s->GetSlideEffect(0, time, smooth);
  ASSERT_NE(shapes, nullptr);
  EXPECT_EQ(shapes->Kind, kEffectShapes);
  EXPECT_EQ(time, 800);
  EXPECT_EQ(smooth, 0.5f);
  EXPECT_EQ(shapes->Flags, F({1, 0, 0, 1, 1}));
  EXPECT_EQ(shapes->VariantCount, 2);
  EXPECT_EQ(shapes->Ints, (std::vector<int32_t>{20, 50}));

  EXPECT_EQ(s->GetSlideEffect(1, time, smooth)->VariantCount, 2);  // gates
  EXPECT_EQ(s->GetSlideEffect(2, time, smooth), nullptr);  // no direction enabled
  EXPECT_EQ(time, 0);

  auto mosaic = s->GetSlideEffect(3, time, smooth);
  EXPECT_EQ(mosaic->Kind, kEffectMosaic);
  ASSERT_EQ(mosaic->Ints.size(), 4u);
  EXPECT_EQ(mosaic->Ints[0], 4);
  EXPECT_EQ(mosaic->Ints[1], 3);
  EXPECT_EQ(mosaic->Ints[2], 2);
  EXPECT_LT(mosaic->Ints[3], 4096 * 4096);
  s->SetReproducibleEffects(true, 0x55);
  EXPECT_EQ(s->GetSlideEffect(3, time, smooth)->Ints[3], 3 ^ 0x55);
  s->SetReproducibleEffects(false, 0);

  EXPECT_EQ(s->GetSlideEffect(4, time, smooth)->Flags, F({1, 0, 1, 0}));  // slide

  auto curling = s->GetSlideEffect(5, time, smooth);
  EXPECT_EQ(curling->Kind, kEffectCurling);
  EXPECT_EQ(curling->Flags, F({0, 1, 1, 0, 0, 0, 0, 0, 0, 1, 1, 0}));  // directions 8 down to 1
  EXPECT_EQ(curling->VariantCount, 2);
  EXPECT_EQ(curling->Ints, (std::vector<int32_t>{3, 0x302010}));
  EXPECT_EQ(curling->Floats, (std::vector<float>{0.25f, 0.125f}));

  auto flip = s->GetSlideEffect(6, time, smooth);
  EXPECT_EQ(flip->Flags, F({0, 0, 1, 0, 1, 0}));
  EXPECT_EQ(flip->Floats, std::vector<float>{0.75f});

  auto swap = s->GetSlideEffect(7, time, smooth);
  EXPECT_EQ(swap->VariantCount, 4);
  EXPECT_EQ(swap->Floats, (std::vector<float>{4.0f, 1.0f, 30.0f}));

  EXPECT_EQ(s->GetSlideEffect(8, time, smooth), nullptr);  // dissolve not checked

  auto custom = s->GetSlideEffect(9, time, smooth);
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(custom->Kind, kEffectCustom);
  EXPECT_EQ(custom->Flags, F({1}));
  ASSERT_NE(custom->CustomSection, nullptr);
  EXPECT_EQ(IniGetString(custom->CustomSection->FindKey(u"CustomEffTime")), u"700");

  EXPECT_EQ(s->GetSlideEffect(10, time, smooth), nullptr);  // a time of 0
  // Indexes past the count wrap.
  EXPECT_EQ(s->GetSlideEffect(12 + 4, time, smooth)->Kind, kEffectSlide);

  // The custom library group offers its available variant with a section.
  ASSERT_EQ(s->DefaultEffects().size(), 1u);
  EXPECT_EQ(s->DefaultEffects()[0]->Kind, kEffectCustom);
}

TEST(KavEffect, VariantCopies) {
  // Hourhand: actions 0 and 1, directions 2 and 10: pairs numbered across
  // both actions; the copy keeps one action and one direction.
  auto h = MakeRef<TKavEffect>();
  h->Kind = kEffectHourhand;
  h->Flags = F({1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1});
  h->VariantCount = 4;
  EXPECT_EQ(h->CopyWithVariant(0)->Flags, F({1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(h->CopyWithVariant(1)->Flags, F({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  EXPECT_EQ(h->CopyWithVariant(3)->Flags, F({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  // One action only: the variants are its directions.
  h->Flags = F({0, 1, 1, 0, 0, 0, 0, 0, 0, 0, 1});
  EXPECT_EQ(h->CopyWithVariant(1)->Flags, F({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 1}));
  // Flip numbers only its four directions; the other flags stay.
  auto f = MakeRef<TKavEffect>();
  f->Kind = kEffectFlip;
  f->Flags = F({1, 1, 0, 1, 1, 1});
  EXPECT_EQ(f->CopyWithVariant(2)->Flags, F({0, 0, 0, 1, 1, 1}));
  EXPECT_EQ(f->Flags, F({1, 1, 0, 1, 1, 1}));  // the original stays
}

TEST(KavEffect, DefaultTransitionsFromTheShow) {
  auto s = Source(ShowProject());
  // dissolve, push, hourhand are in use.
  ASSERT_EQ(s->DefaultEffects().size(), 3u);
  double time;
  float smooth;
  auto push = s->GetSlideEffect(0, time, smooth);
  EXPECT_EQ(push->Flags, F({1, 1, 0, 1}));  // direction characters 2, 1, 3, 4
  EXPECT_EQ(smooth, 0.0f);  // a named kind without "smoothline"
  auto hourhand = s->GetSlideEffect(1, time, smooth);
  EXPECT_EQ(hourhand->VariantCount, 4);  // hourhand: 2 actions x 2 directions
  EXPECT_EQ(smooth, 0.05f);              // its own value as written...
  EXPECT_EQ(hourhand->Value, 0.001);     // ...while the transition stores 0.001
  EXPECT_EQ(s->GetSlideEffect(3, time, smooth), nullptr);  // quick
  EXPECT_EQ(time, 0);

  // "default": one of the defaults with a single variant enabled, the
  // show's default time; every default comes up within a round.
  std::set<int32_t> kinds;
  for (int k = 0; k < 3; ++k) {
    auto d = s->GetSlideEffect(2, time, smooth);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(time, 1000);
    kinds.insert(d->Kind);
    const size_t end = d->Kind == kEffectHourhand ? 2 : d->Flags.size();
    EXPECT_EQ(std::count(d->Flags.begin(), d->Flags.begin() + ptrdiff_t(end), 1), 1);
  }
  EXPECT_EQ(kinds, (std::set<int32_t>{kEffectDissolve, kEffectPush, kEffectHourhand}));

  // A fixed seed repeats the choices; reproducible effects depend on the
  // slide index only.
  auto a = Source(ShowProject(), 99);
  auto b = Source(ShowProject(), 99);
  for (int k = 0; k < 8; ++k) {
    auto x = a->GetSlideEffect(2, time, smooth);
    auto y = b->GetSlideEffect(2, time, smooth);
    EXPECT_EQ(x->Kind, y->Kind);
    EXPECT_EQ(x->Flags, y->Flags);
  }
  auto c = Source(ShowProject(), 1);
  auto d = Source(ShowProject(), 2);
  c->SetReproducibleEffects(true, 42);
  d->SetReproducibleEffects(true, 42);
  d->GetSlideEffect(2, time, smooth);  // drawing earlier changes nothing
  for (int32_t i : {2, 6, 10}) {
    auto x = c->GetSlideEffect(i, time, smooth);
    auto y = d->GetSlideEffect(i, time, smooth);
    EXPECT_EQ(x->Kind, y->Kind);
    EXPECT_EQ(x->Flags, y->Flags);
  }
}

TEST(KavEffect, SmoothlineAndNegativeTimes) {
  auto s = Source(
      "[Main]\r\nobject TheEffect:AnEffect\r\ntime=1000\r\n"
      "object gates:Effect\r\nchecked=1\r\ndirection=1\r\nstdidx=6\r\nsmoothline=0.25\r\nend\r\nend\r\n"
      "[Times]\r\nopt_slidescount=5\r\nopt_synchpos1=1000\r\nopt_synchpos2=2000\r\nopt_synchpos3=3000\r\n"
      "opt_synchpos4=4000\r\nopt_synchpos5=5000\r\n"
      "[Slide1]\r\nobject TheEffect:AnEffect\r\nref=gates\r\ntime=500\r\nsmoothline=0.0999999999\r\nend\r\n"
      "[Slide2]\r\nobject TheEffect:AnEffect\r\nref=gates\r\ntime=500\r\nsmoothline=0.1\r\nend\r\n"
      "[Slide3]\r\nobject TheEffect:AnEffect\r\nref=gates\r\ntime=-300\r\nend\r\n"
      "[Slide4]\r\nobject TheEffect:AnEffect\r\nref=default\r\nend\r\n"
      "[Slide5]\r\nobject TheEffect:AnEffect\r\nref=hourhand\r\ntime=500\r\ndirection=1\r\naction=1\r\nend\r\n");
  double time;
  float smooth;
  // "smoothline" is read in double precision: just below 0.1 is stored as
  // 0.001, 0.1 itself stays.
  auto below = s->GetSlideEffect(0, time, smooth);
  ASSERT_NE(below, nullptr);
  EXPECT_EQ(below->Value, 0.001);
  EXPECT_EQ(smooth, float(0.0999999999));
  auto at = s->GetSlideEffect(1, time, smooth);
  ASSERT_NE(at, nullptr);
  EXPECT_EQ(at->Value, 0.1);
  EXPECT_EQ(smooth, 0.1f);
  // A negative time is 0 in the slide table and on the transition alike.
  EXPECT_EQ(s->Slide(2).EffectTime, 0);
  EXPECT_EQ(s->Slide(1).NextEffectTime, 0);
  time = 1;
  EXPECT_EQ(s->GetSlideEffect(2, time, smooth), nullptr);
  EXPECT_EQ(time, 0);
  // "default" answers the stored value of the transition it chose (the
  // library's gates: 0.25); a named kind without the key answers 0 even
  // where its default would be 0.35.
  auto def = s->GetSlideEffect(3, time, smooth);
  ASSERT_NE(def, nullptr);
  EXPECT_EQ(def->Value, 0.25);
  EXPECT_EQ(smooth, 0.25f);
  auto hourhand = s->GetSlideEffect(4, time, smooth);
  ASSERT_NE(hourhand, nullptr);
  EXPECT_EQ(hourhand->Value, 0.35);
  EXPECT_EQ(smooth, 0.0f);
}
