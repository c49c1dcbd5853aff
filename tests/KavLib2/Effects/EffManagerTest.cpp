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
    "[Main]\r\n"
    "opt_scr_width=1280\r\n"
    "object TheEffect:AnEffect\r\n"
    "  time=1500\r\n"
    "  bstyle=1\r\n"
    "  object push:Effect\r\n"
    "    key=std,move\r\n"
    "    checked=1,0,1\r\n"
    "    time=800\r\n"
    "    stdidx=9\r\n"
    "  end\r\n"
    "  object dissolve:Effect\r\n"
    "    checked=0\r\n"
    "    stdidx=2\r\n"
    "  end\r\n"
    "  object MyWipe:Effect\r\n"
    "    key=custom\r\n"
    "    checked=1,0,1\r\n"
    "    slide_1=wipe\r\n"
    "    bstyle=3\r\n"
    "    bcolor2=255\r\n"
    "  end\r\n"
    "end\r\n"
    "[Times]\r\n"
    "opt_slidescount=6\r\n"
    "[Slide1]\r\n"
    "[Slide2]\r\n"
    "object TheEffect:AnEffect\r\n"
    "  ref=push\r\n"
    "end\r\n"
    "[Slide3]\r\n"
    "object TheEffect:AnEffect\r\n"
    "  ref=DefOwnTime\r\n"
    "end\r\n"
    "[Slide4]\r\n"
    "object TheEffect:AnEffect\r\n"
    "  ref=mystery\r\n"
    "  time=-40\r\n"
    "end\r\n"
    "[Slide5]\r\n"
    "object TheEffect:AnEffect\r\n"
    "  ref=quick\r\n"
    "  time=900\r\n"
    "end\r\n"
    "[effect_wipe]\r\n"
    "CustomEffTime=700\r\n"
    "object Img:Image\r\n"
    "end\r\n";

TEST(EffectManager, LibraryObjectAndDesignSize) {
  auto ini = Project("[Times]\r\nopt_slidescount=1\r\n[Main]\r\nopt_scr_height=abc\r\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, -5);
  EXPECT_EQ(m->DesignWidth(), 1920);
  EXPECT_EQ(m->DesignHeight(), 1080);
  // The missing library object is created with 2000 ms.
  EXPECT_EQ(m->TimeOfEffect(), 2000);
  EXPECT_EQ(m->ReadTime(), u"2000");
  TIniObject* te = ini->FindSection(u"Main")->FindObject(u"TheEffect");
  ASSERT_NE(te, nullptr);
  EXPECT_EQ(EffectValueText(te), u"AnEffect");
  EXPECT_FALSE(m->CountChecked());
  // No slide section: no effect and no time.
  EXPECT_EQ(m->GetEffectByIndex(0), nullptr);
  EXPECT_EQ(m->GetEffectTime(0), 0);

  EXPECT_EQ(MakeRef<TKAVEffectManager>(Project(kLibrary).get(), 0, 0)->DesignWidth(), 1280);
  EXPECT_EQ(MakeRef<TKAVEffectManager>(ini.get(), 640, 480)->DesignHeight(), 480);
  EXPECT_THROW(MakeRef<TKAVEffectManager>(nullptr, 1, 1), EAbort);
}

TEST(EffectManager, SlideEffectTimes) {
  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  EXPECT_EQ(m->SlidesCount(), 6);
  EXPECT_TRUE(m->CountChecked());
  // Slide 0: its section has no effect; a custom one referring to "default"
  // is made, which takes the library's time while any effect is in use.
  TEffectProp* e0 = m->GetEffectByIndex(0);
  ASSERT_NE(e0, nullptr);
  EXPECT_TRUE(e0->IsCustom());
  EXPECT_EQ(e0->GetRefName(), u"default");
  EXPECT_EQ(m->GetEffectTime(0), 1500);
  EXPECT_EQ(e0->GetDefaults(), kEffDefault);
  EXPECT_EQ(m->GetEffectByIndex(0), e0);  // kept
  // Slide 1 refers to the library's push: its own time (none, so 0), but
  // texts, key and standard index come from push.
  TEffectProp* e1 = m->GetEffectByIndex(1);
  EXPECT_EQ(e1->GetRefName(), u"push");
  EXPECT_EQ(e1->GetTime(), 0);
  EXPECT_EQ(e1->ReadText(u"time"), u"800");
  EXPECT_EQ(e1->GetDefaults(), 9);
  EXPECT_EQ(e1->GetKey(), u"std,move");
  EXPECT_EQ(e1->KeyList(), (std::vector<std::u16string>{u"std", u"move"}));
  // Slide 2, "defowntime" without a time: the library's time, the same on
  // every call (it is stored in the effect).
  EXPECT_EQ(m->GetEffectTime(2), 1500);
  EXPECT_EQ(m->GetEffectTime(2), 1500);
  EXPECT_EQ(m->GetEffectByIndex(2)->FindValue(u"time", false)->GetInteger(0), 1500);
  EXPECT_EQ(m->GetEffectByIndex(2)->GetDefaults(), kEffDefOwnTime);
  // Slide 3 names no effect: its own time (negative counts as 0); other
  // values come from the library object.
  TEffectProp* e3 = m->GetEffectByIndex(3);
  EXPECT_EQ(e3->GetTime(), 0);
  EXPECT_EQ(e3->ReadText(u"bstyle"), u"1");
  EXPECT_EQ(e3->GetDefaults(), kEffOther);
  // Slide 4, "quick": always 0.
  EXPECT_EQ(m->GetEffectTime(4), 0);
  EXPECT_EQ(EffectDefaults(m->GetEffectByIndex(4)), kEffQuick);
  EXPECT_EQ(EffectDefaults(nullptr), kEffQuick);
  // Outside the slide count, or a slide without a section.
  EXPECT_EQ(m->GetEffectByIndex(5), nullptr);
  EXPECT_EQ(m->GetEffectByIndex(6), nullptr);
  EXPECT_EQ(m->GetEffectByIndex(-1), nullptr);
  // Library effects: their own time, else the library's.
  EXPECT_EQ(m->FindEffect(u"PUSH")->GetTime(), 800);
  EXPECT_EQ(m->FindEffect(u"dissolve")->GetTime(), 1500);
}

TEST(EffectManager, DefaultTimesWithNoEffectInUse) {
  auto ini = Project(
      "[Main]\r\nobject TheEffect:AnEffect\r\n  time=1200\r\n  object fade:Effect\r\n    checked=0,0\r\n  end\r\nend\r\n"
      "[Times]\r\nopt_slidescount=2\r\n[Slide1]\r\n[Slide2]\r\nobject TheEffect:AnEffect\r\n  ref=defowntime\r\nend\r\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  EXPECT_EQ(m->GetEffectTime(0), 0);
  EXPECT_EQ(m->GetEffectTime(1), 0);
  EXPECT_EQ(m->GetEffectTime(1), 0);
}

TEST(EffectManager, StandardEntries) {
  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  ASSERT_EQ(m->Count(), 6);
  EXPECT_EQ(m->GetEffectProp(0)->GetRefName(), u"push");
  TEffectProp* quick = m->GetEffectProp(5);
  ASSERT_NE(quick, nullptr);
  EXPECT_TRUE(quick->IsSynthetic());
  EXPECT_EQ(quick->GetRefName(), u"quick");
  EXPECT_EQ(quick->ReadText(u"group"), u"GroupBasic");
  EXPECT_EQ(quick->GetTime(), 0);
  EXPECT_EQ(quick->GetDefaults(), kEffQuick);
  EXPECT_EQ(m->FindEffect(u"Quick"), quick);
  TEffectProp* def = m->GetEffectProp(3);
  EXPECT_EQ(def->ReadText(u"group"), u"GroupFromProjectOptions");
  EXPECT_EQ(def->ReadText(u"islocal"), u"1");
  EXPECT_EQ(def->GetTime(), 1500);
  EXPECT_EQ(m->GetEffectProp(4)->GetDefaults(), kEffDefOwnTime);
  EXPECT_EQ(m->GetEffectProp(6), nullptr);
  EXPECT_EQ(m->GetEffectProp(-1), nullptr);
  EXPECT_EQ(m->FindEffect(u"nothing"), nullptr);
  EXPECT_EQ(m->IndexOfEffect(u"mywipe"), 2);
  // A library that has "default" lists only the other two.
  auto ini2 = Project("[Main]\r\nobject TheEffect:AnEffect\r\n  object Default:Effect\r\n  end\r\nend\r\n");
  auto m2 = MakeRef<TKAVEffectManager>(ini2.get(), 0, 0);
  EXPECT_EQ(m2->Count(), 3);
  EXPECT_EQ(m2->GetEffectProp(2)->GetRefName(), u"quick");
  EXPECT_FALSE(m2->FindEffect(u"default")->IsSynthetic());
  m2->SetStandardEntries(false);
  EXPECT_EQ(m2->Count(), 1);
  EXPECT_EQ(m2->FindEffect(u"quick"), nullptr);
  // Deleting a library effect takes it out of the document too.
  m->Delete(m->FindEffect(u"dissolve"));
  EXPECT_EQ(m->IndexOfEffect(u"dissolve"), -1);
  EXPECT_EQ(ini->FindSection(u"Main")->FindObject(u"TheEffect")->FindObject(u"dissolve"), nullptr);
  EXPECT_EQ(m->Count(), 5);
}

TEST(EffectManager, CheckStatesAndVariants) {
  EXPECT_EQ(ParseEffectFlags(u""), 0);
  EXPECT_EQ(ParseEffectFlags(u"1,1,1"), 2);
  EXPECT_EQ(ParseEffectFlags(u"1,1,0"), 1);
  EXPECT_EQ(ParseEffectFlags(u"0,0"), 0);
  EXPECT_EQ(ParseEffectFlags(u"0,1"), 1);
  EXPECT_EQ(ParseEffectFlags(u"x"), 0);

  auto ini = Project(kLibrary);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  TEffectProp* push = m->FindEffect(u"push");
  EXPECT_EQ(push->GetCheckState(), 1);
  EXPECT_EQ(m->FindEffect(u"dissolve")->GetCheckState(), 0);
  TEffectProp* wipe = m->FindEffect(u"MyWipe");
  EXPECT_EQ(wipe->GetKey(), u"custom");
  EXPECT_EQ(wipe->CountVariants(), 3);
  EXPECT_TRUE(wipe->IsVariantAvailable(0));
  EXPECT_FALSE(wipe->IsVariantAvailable(1));
  EXPECT_TRUE(wipe->IsVariantAvailable(2));
  EXPECT_FALSE(wipe->IsVariantAvailable(3));
  EXPECT_FALSE(wipe->IsVariantAvailable(-1));
  // The variant's section, and a free copy of it with the background keys.
  TIniList* section = wipe->FindSlideSection(0);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(EffectBytesText(section->NameBytes()), u"effect_wipe");
  Ref<TIniSection> copy = wipe->CopyToSection(0);
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->ReadString(u"CustomEffTime", u""), u"700");
  EXPECT_NE(copy->FindObject(u"Img"), nullptr);
  EXPECT_EQ(copy->ReadString(u"bstyle", u""), u"3");
  EXPECT_EQ(copy->ReadString(u"bcolor1", u""), u"16711680");
  EXPECT_EQ(copy->ReadString(u"bcolor2", u""), u"255");
  EXPECT_EQ(copy->ReadString(u"CoverMode", u""), u"1");
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
  EXPECT_EQ(wipe->CopyToSection(1), nullptr);
}

TEST(EffectManager, BackgroundKeys) {
  auto ini = Project(
      "[Main]\r\nobject TheEffect:AnEffect\r\n"
      "  object colour:Effect\r\n    bstyle=1\r\n    TransparentBg=1\r\n  end\r\n"
      "  object picture:Effect\r\n    bstyle=2\r\n    bfn=back.jpg\r\n  end\r\n"
      "  object own:Effect\r\n    bstyle=4\r\n  end\r\n"
      "  object plain:Effect\r\n    bstyle=junk\r\n  end\r\n"
      "end\r\n[Slide1]\r\nobject TheEffect:AnEffect\r\n  ref=picture\r\n  bstyle=1\r\nend\r\n");
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 800, 600);
  auto bg = [&](TEffectProp* e) {
    auto target = MakeRef<TIniList>();
    e->WriteBackground(target.get());
    return target->SaveToValueText();
  };
  EXPECT_EQ(bg(m->FindEffect(u"colour")),
            "CustomEffBg=0\\nbstyle=1\\nbcolor=0\\nTransparentBg=1\\nCoverMode=1\\nopt_scr_width=800\\n"
            "opt_scr_height=600\\n");
  EXPECT_EQ(bg(m->FindEffect(u"picture")),
            "CustomEffBg=0\\nbstyle=2\\nbfn=back.jpg\\nbsize=100\\nTransparentBg=0\\nCoverMode=1\\n"
            "opt_scr_width=800\\nopt_scr_height=600\\n");
  EXPECT_EQ(bg(m->FindEffect(u"own")),
            "CustomEffBg=3\\nbstyle=4\\nTransparentBg=0\\nCoverMode=1\\nopt_scr_width=800\\nopt_scr_height=600\\n");
  EXPECT_EQ(bg(m->FindEffect(u"plain")),
            "CustomEffBg=0\\nTransparentBg=0\\nCoverMode=1\\nopt_scr_width=800\\nopt_scr_height=600\\n");
  // A custom effect writes those of the effect it refers to.
  Ref<TEffectProp> slide = m->GetSlideEffect(0);
  EXPECT_EQ(bg(slide.get()), bg(m->FindEffect(u"picture")));
}

TEST(EffectManager, HostileDescriptions) {
  std::string text =
      "[Main]\r\nobject TheEffect:AnEffect\r\n  time=\xff\xfe\r\n"
      "  object a:AnEffect\r\n    ref=b\r\n  end\r\n"
      "  object b:AnEffect\r\n    ref=A\r\n  end\r\n"
      "  object self:anEFFECT\r\n    ref=self\r\n  end\r\n"
      "  object bad\xc3:Effect\r\n    time=99999999999999\r\n    key=\xe2\x82\r\n    checked=";
  for (int i = 0; i < 20000; ++i) text += "1,";
  text += "\r\n  end\r\nend\r\n[Times]\r\nopt_slidescount=2147483647\r\n[Slide1]\r\n"
          "object TheEffect:AnEffect\r\n  ref=a\r\nend\r\n";
  auto ini = Project(text);
  auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
  EXPECT_EQ(m->SlidesCount(), kMaxEffectSlides);
  EXPECT_EQ(m->TimeOfEffect(), 0);
  // Reference cycles end: the values fall back to the library object.
  TEffectProp* e = m->GetEffectByIndex(0);
  ASSERT_NE(e, nullptr);
  std::u16string value = u"x";
  EXPECT_FALSE(e->ReadText(u"nothing", value));
  EXPECT_EQ(value, u"");
  EXPECT_EQ(e->GetDefaults(), kEffOther);
  EXPECT_EQ(e->GetKey(), u"");
  EXPECT_EQ(e->GetTime(), 0);
  EXPECT_EQ(e->FindSlideSection(0), nullptr);
  auto target = MakeRef<TIniSection>();
  e->WriteBackground(target.get());
  EXPECT_EQ(target->ReadString(u"CoverMode", u""), u"1");
  EXPECT_EQ(m->FindEffect(u"self")->GetDefaults(), kEffOther);
  // Bad UTF-8 and out-of-range numbers give texts and defaults, not errors.
  TEffectProp* bad = m->GetEffectProp(3);
  EXPECT_EQ(bad->GetRefName(), u"bad\uFFFD");
  EXPECT_EQ(bad->GetTime(), 0);
  EXPECT_EQ(bad->GetKey(), u"\uFFFD");
  EXPECT_EQ(bad->CountVariants(), kMaxEffectVariants);
  EXPECT_EQ(bad->GetCheckState(), 2);
  EXPECT_EQ(m->GetEffectByIndex(kMaxEffectSlides - 1), nullptr);
}

// Project texts cut from pieces at random: every query answers without
// raising or looping.
TEST(EffectManager, RandomDescriptionsNeverFail) {
  const char* pieces[] = {"[Main]\r\n", "[Times]\r\n", "[Slide1]\r\n", "[Slide2]\r\n", "[effect_x]\r\n",
                          "object TheEffect:AnEffect\r\n", "object x:Effect\r\n", "object y:AnEffect\r\n",
                          "end\r\n", "ref=x\r\n", "ref=y\r\n", "ref=default\r\n", "ref=defowntime\r\n",
                          "ref=quick\r\n", "time=300\r\n", "time=-1\r\n", "time=\r\n", "checked=1,0\r\n",
                          "checked=1\r\n", "key=custom\r\n", "slide_1=x\r\n", "userprops=u\r\n",
                          "slide_1_0=x\r\n", "bstyle=2\r\n", "opt_slidescount=3\r\n", "stdidx=7\r\n", "\xc0\r\n"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int n = int(rng() % 40);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    auto ini = Project(text);
    auto m = MakeRef<TKAVEffectManager>(ini.get(), 0, 0);
    for (int32_t i = 0; i < m->Count(); ++i) {
      TEffectProp* e = m->GetEffectProp(i);
      ASSERT_NE(e, nullptr);
      e->GetTime();
      e->GetDefaults();
      e->GetCheckState();
      e->KeyList();
      for (int32_t v = 0; v < e->CountVariants(); ++v) e->CopyToSection(v);
    }
    for (int32_t s = 0; s < m->SlidesCount(); ++s) {
      const int32_t t = m->GetEffectTime(s);
      EXPECT_GE(t, 0);
      EXPECT_EQ(m->GetEffectTime(s), t);
      if (TEffectProp* e = m->GetEffectByIndex(s)) {
        auto target = MakeRef<TIniSection>();
        e->WriteBackground(target.get());
        e->CopyToSection(0);
      }
    }
  }
}

}  // namespace
}  // namespace kav
