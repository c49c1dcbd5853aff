#include <gtest/gtest.h>

#include <random>
#include <string>

#include "KavLib2/Effects/KavEffManager.h"

namespace kav {
namespace {

Ref<TIniFile> Project(std::string_view text) {
  auto ini = MakeRef<TIniFile>();
  EXPECT_TRUE(ini->LoadFromBytes(text));
  return ini;
}

// A library of three effects; "push" is in use, the others are not.
constexpr std::string_view kLibrary =
    "[Main]\nopt_scr_width=1280\nobject TheEffect:AnEffect\ntime=1500\nbstyle=1\n"
    "object push:Effect\nkey=std,move\nchecked=1,0,1\ntime=800\nstdidx=9\nend\n"
    "object dissolve:Effect\nchecked=0\nstdidx=2\nend\n"
    "object MyWipe:Effect\nkey=custom\nchecked=1,0,1\nslide_1=wipe\nbstyle=3\nbcolor2=255\nend\nend\n"
    "[Times]\nopt_slidescount=6\n[Slide1]\n"
    "[Slide2]\nobject TheEffect:AnEffect\nref=push\nend\n"
    "[Slide3]\nobject TheEffect:AnEffect\nref=DefOwnTime\nend\n"
    "[Slide4]\nobject TheEffect:AnEffect\nref=mystery\ntime=-40\nend\n"
    "[Slide5]\nobject TheEffect:AnEffect\nref=quick\ntime=900\nend\n"
    "[effect_wipe]\nCustomEffTime=700\nobject Img:Image\nend\n";

TEST(EffectManager, LibraryObjectDesignSizeAndTimesWithNothingInUse) {
  auto ini = Project("[Times]\nopt_slidescount=2\n[Main]\nopt_scr_height=abc\n[Slide1]\n[Slide2]\n"
                     "object TheEffect:AnEffect\nref=defowntime\nend\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, -5);
  EXPECT_EQ(m->DesignWidth(), 1920);
  EXPECT_EQ(m->DesignHeight(), 1080);
  // The missing library object is created with 2000 ms.
  EXPECT_EQ(m->TimeOfEffect(), 2000);
  EXPECT_NE(ini->FindSection(u"Main")->FindObjectWithValue(u"TheEffect", u"AnEffect"), nullptr);
  // No library effect in use: "default" and "defowntime" take no time.
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_EQ(m->GetEffectTime(1), 0);
  EXPECT_THROW(MakeRef<TKAVEffectManager>(nullptr, 1, 1), EAbort);
}

TEST(EffectManager, SlideEffects) {
  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  // Slide 0's section has no effect: one referring to "default" is made,
  // with the library's time while an effect is in use.
  TEffectProp* e0 = m->GetEffectByIndex(0);
  ASSERT_NE(e0, nullptr);
  EXPECT_EQ(m->GetEffectTime(0), 1500);
  EXPECT_EQ(e0->GetDefaults(), kEffDefault);
  // Slide 1 refers to push: its own time (none: 0), push's texts, key and index.
  TEffectProp* e1 = m->GetEffectByIndex(1);
  EXPECT_EQ(e1->GetTime(), 0);
  EXPECT_EQ(e1->ReadText(u"time"), u"800");
  EXPECT_EQ(e1->GetDefaults(), 9);
  EXPECT_EQ(e1->KeyList(), (std::vector<std::u16string>{u"std", u"move"}));
  // "defowntime" without a time: the library's, the same on every call.
  EXPECT_EQ(m->GetEffectTime(2), 1500);
  EXPECT_EQ(m->GetEffectTime(2), 1500);
  // A reference to nothing: own time (negative counts as 0), the library
  // object's values.
  TEffectProp* e3 = m->GetEffectByIndex(3);
  EXPECT_EQ(e3->GetTime(), 0);
  EXPECT_EQ(e3->ReadText(u"bstyle"), u"1");
  EXPECT_EQ(m->GetEffectTime(4), 0);  // quick
  EXPECT_EQ(EffectDefaults(nullptr), kEffQuick);
  // No section, or outside the slide count.
  EXPECT_EQ(m->GetEffectByIndex(5), nullptr);
  // Library effects: their own time, else the library's.
  EXPECT_EQ(m->FindEffect(u"PUSH")->GetTime(), 800);
  EXPECT_EQ(m->FindEffect(u"dissolve")->GetTime(), 1500);
}

TEST(EffectManager, StandardEntries) {
  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  ASSERT_EQ(m->Count(), 6);
  TEffectProp* quick = m->GetEffectProp(5);
  ASSERT_NE(quick, nullptr);
  EXPECT_EQ(quick->GetRefName(), u"quick");
  EXPECT_EQ(quick->ReadText(u"group"), u"GroupBasic");
  EXPECT_EQ(quick->GetTime(), 0);
  EXPECT_EQ(m->FindEffect(u"Quick"), quick);
  EXPECT_EQ(m->GetEffectProp(3)->GetTime(), 1500);  // default
  EXPECT_EQ(m->GetEffectProp(6), nullptr);
  // A library that has "default" lists only the other two.
  auto m2 = MakeRef<TKAVEffectManager>(
      Project("[Main]\nobject TheEffect:AnEffect\nobject Default:Effect\nend\nend\n").get(), 0, 0);
  EXPECT_EQ(m2->Count(), 3);
  EXPECT_EQ(m2->GetEffectProp(2)->GetRefName(), u"quick");
  m2->SetStandardEntries(false);
  EXPECT_EQ(m2->FindEffect(u"quick"), nullptr);
  // Deleting a library effect takes it out of the document too.
  m->Delete(m->FindEffect(u"dissolve"));
  EXPECT_EQ(ini->FindSection(u"Main")->FindObject(u"TheEffect")->FindObject(u"dissolve"), nullptr);
  EXPECT_EQ(m->Count(), 5);
}

TEST(EffectManager, CheckStatesVariantsAndSections) {
  EXPECT_EQ(ParseEffectFlags(u"1,1,1"), 2);
  EXPECT_EQ(ParseEffectFlags(u"1,1,0"), 1);
  EXPECT_EQ(ParseEffectFlags(u"0,1"), 1);

  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  TEffectProp* wipe = m->FindEffect(u"MyWipe");
  EXPECT_EQ(wipe->GetCheckState(), 1);
  EXPECT_EQ(wipe->CountVariants(), 3);
  EXPECT_TRUE(wipe->IsVariantAvailable(2));
  EXPECT_FALSE(wipe->IsVariantAvailable(1));
  EXPECT_FALSE(wipe->IsVariantAvailable(3));
  // A free copy of the variant's section with the background keys.
  TIniList* section = wipe->FindSlideSection(0);
  ASSERT_NE(section, nullptr);
  Ref<TIniSection> copy = wipe->CopyToSection(0);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->ReadString(u"CustomEffTime", u""), u"700");
  EXPECT_NE(copy->FindObject(u"Img"), nullptr);
  EXPECT_EQ(copy->ReadString(u"bcolor2", u""), u"255");
  EXPECT_EQ(copy->ReadString(u"opt_scr_width", u""), u"1280");
  EXPECT_EQ(section->FindKey(u"CoverMode"), nullptr);  // the document is untouched
  // Without a choice the section is named after the effect; with user
  // properties each variant has its own choice.
  TEffectProp* dissolve = m->FindEffect(u"dissolve");
  EXPECT_EQ(dissolve->FindSlideSection(0), nullptr);
  ini->FindOrAddSection(u"effect_dissolve");
  EXPECT_NE(dissolve->FindSlideSection(0), nullptr);
  wipe->FindValue(u"userprops", true)->SetString(u"a,b");
  wipe->FindValue(u"slide_1_2", true)->SetString(u"dissolve");
  EXPECT_EQ(wipe->FindSlideSection(0), nullptr);
  EXPECT_EQ(wipe->FindSlideSection(2), dissolve->FindSlideSection(0));
}

TEST(EffectManager, VariantChoicePerSlide) {
  // With user properties each slide chooses per variant: "slide_" + the
  // slide's position + "_" + the variant.
  auto ini = Project(
      "[Main]\nobject TheEffect:AnEffect\ntime=1000\n"
      "object Wipe:Effect\nkey=custom\nchecked=1,1\nuserprops=speed\nslide_1_0=a\nslide_2_0=b\nslide_2_1=c\nend\n"
      "object Plain:Effect\nkey=custom\nchecked=1\nend\nend\n"
      "[Times]\nopt_slidescount=3\n"
      "[Slide1]\nobject TheEffect:AnEffect\nref=Wipe\nend\n"
      "[Slide2]\nobject TheEffect:AnEffect\nref=Wipe\nend\n"
      "[Slide3]\nobject TheEffect:AnEffect\nref=Plain\nend\n"
      "[effect_a]\n[effect_b]\n[effect_c]\n[effect_Wipe]\n[effect_Plain]\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  EXPECT_EQ(m->GetEffectByIndex(0)->Slide(), 0);
  EXPECT_EQ(m->GetEffectByIndex(0)->FindSlideSection(0), ini->FindSection(u"effect_a"));
  EXPECT_EQ(m->GetEffectByIndex(1)->FindSlideSection(0), ini->FindSection(u"effect_b"));
  EXPECT_EQ(m->GetEffectByIndex(1)->FindSlideSection(1), ini->FindSection(u"effect_c"));
  // No choice for this slide and variant: the reference name, not written.
  EXPECT_EQ(m->GetEffectByIndex(0)->FindSlideSection(1), ini->FindSection(u"effect_Wipe"));
  EXPECT_EQ(m->FindEffect(u"Wipe")->Slide(), -1);
  EXPECT_EQ(m->FindEffect(u"Wipe")->FindSlideSection(0), ini->FindSection(u"effect_a"));  // position 1
  EXPECT_EQ(m->FindEffect(u"Wipe")->FindValue(u"slide_1_1", false), nullptr);
  // Without user properties every slide reads "slide_1", created with the
  // reference name when missing.
  TEffectProp* plain = m->FindEffect(u"Plain");
  EXPECT_EQ(plain->FindValue(u"slide_1", false), nullptr);
  EXPECT_EQ(m->GetEffectByIndex(2)->FindSlideSection(0), ini->FindSection(u"effect_Plain"));
  EXPECT_EQ(IniGetString(plain->FindValue(u"slide_1", false)), u"Plain");
}

TEST(EffectManager, BackgroundKeys) {
  auto ini = Project(
      "[Main]\nobject TheEffect:AnEffect\n"
      "object picture:Effect\nbstyle=2\nbfn=back.jpg\nTransparentBg=1\nend\n"
      "object own:Effect\nbstyle=4\nend\nend\n"
      "[Slide1]\nobject TheEffect:AnEffect\nref=picture\nbstyle=1\nend\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 800, 600);
  auto bg = [&](TEffectProp* e) {
    auto target = MakeRef<TIniList>();
    e->WriteBackground(target.get());
    return target->SaveToValueText();
  };
  const std::string tail = "CoverMode=1\\nopt_scr_width=800\\nopt_scr_height=600\\n";
  EXPECT_EQ(bg(m->FindEffect(u"picture")),
            "CustomEffBg=0\\nbstyle=2\\nbfn=back.jpg\\nbsize=100\\nTransparentBg=1\\n" + tail);
  EXPECT_EQ(bg(m->FindEffect(u"own")), "CustomEffBg=3\\nbstyle=4\\nTransparentBg=0\\n" + tail);
  // A custom effect writes those of the effect it refers to.
  EXPECT_EQ(bg(m->GetSlideEffect(0).get()), bg(m->FindEffect(u"picture")));
}

TEST(EffectManager, HostileDescriptions) {
  std::string text =
      "[Main]\nobject TheEffect:AnEffect\ntime=\xff\xfe\nobject a:AnEffect\nref=b\nend\n"
      "object b:AnEffect\nref=A\nend\nobject self:anEFFECT\nref=self\nend\n"
      "object bad\xc3:Effect\ntime=99999999999999\nkey=\xe2\x82\nchecked=";
  for (int i = 0; i < 20000; ++i) text += "1,";
  text += "\nend\nend\n[Times]\nopt_slidescount=2147483647\n[Slide1]\nobject TheEffect:AnEffect\nref=a\nend\n";
  auto m = MakeRef<TKAVEffectManager>(Project(text).get(), 0, 0);
  EXPECT_EQ(m->SlidesCount(), kMaxEffectSlides);
  {
    // The fuzz entry points' lower bound holds for their scope only.
    const TFuzzSlidesLimit limit;
    EXPECT_EQ(m->SlidesCount(), TFuzzSlidesLimit::kFuzz);
    EXPECT_EQ(m->GetEffectByIndex(TFuzzSlidesLimit::kFuzz), nullptr);
    EXPECT_EQ(SetEffectSlidesLimit(0), TFuzzSlidesLimit::kFuzz);  // kept at 1 at the least
    EXPECT_EQ(m->SlidesCount(), 1);
    SetEffectSlidesLimit(TFuzzSlidesLimit::kFuzz);
  }
  EXPECT_EQ(m->SlidesCount(), kMaxEffectSlides);
  EXPECT_EQ(m->TimeOfEffect(), 0);
  // Reference cycles end: the values fall back to the library object.
  TEffectProp* e = m->GetEffectByIndex(0);
  ASSERT_NE(e, nullptr);
  std::u16string value = u"x";
  EXPECT_FALSE(e->ReadText(u"nothing", value));
  EXPECT_EQ(e->GetDefaults(), kEffOther);
  EXPECT_EQ(e->GetKey(), u"");
  EXPECT_EQ(e->FindSlideSection(0), nullptr);
  EXPECT_EQ(m->FindEffect(u"self")->GetDefaults(), kEffOther);
  // Bad UTF-8 and out-of-range numbers give texts and defaults, not errors.
  TEffectProp* bad = m->GetEffectProp(3);
  EXPECT_EQ(bad->GetRefName(), u"bad\uFFFD");
  EXPECT_EQ(bad->GetTime(), 0);
  EXPECT_EQ(bad->GetKey(), u"\uFFFD");
  EXPECT_EQ(bad->CountVariants(), kMaxEffectVariants);
}

// Project texts cut from pieces at random: every query answers without
// raising or looping, and slide times never change between calls.
TEST(EffectManager, RandomDescriptionsNeverFail) {
  const char* pieces[] = {"[Main]\n", "[Times]\n", "[Slide1]\n", "[Slide2]\n", "[effect_x]\n",
                          "object TheEffect:AnEffect\n", "object x:Effect\n", "object y:AnEffect\n",
                          "end\n", "ref=x\n", "ref=y\n", "ref=default\n", "ref=defowntime\n", "ref=quick\n",
                          "time=300\n", "time=-1\n", "checked=1,0\n", "checked=1\n", "slide_1=x\n",
                          "userprops=u\n", "bstyle=2\n", "opt_slidescount=3\n", "\xc0\n"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    for (int i = int(rng() % 40); i > 0; --i) text += pieces[rng() % std::size(pieces)];
    auto m = MakeRef<TKAVEffectManager>(Project(text).get(), 0, 0);
    auto target = MakeRef<TIniList>();
    for (int32_t i = 0; i < m->Count(); ++i) {
      TEffectProp* e = m->GetEffectProp(i);
      e->GetDefaults();
      e->WriteBackground(target.get());
      for (int32_t v = 0; v < e->CountVariants(); ++v) e->CopyToSection(v);
    }
    for (int32_t s = 0; s < m->SlidesCount(); ++s) {
      const int32_t t = m->GetEffectTime(s);
      EXPECT_GE(t, 0);
      EXPECT_EQ(m->GetEffectTime(s), t);
      if (TEffectProp* e = m->GetEffectByIndex(s)) e->CopyToSection(0);
    }
  }
}

}  // namespace
}  // namespace kav
