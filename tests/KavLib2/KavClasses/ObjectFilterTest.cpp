#include <gtest/gtest.h>

#include <cmath>

#include "FilterTestUtil.h"
#include "KavLib2/KavClasses/KavColorFilters.h"
#include "VoRav/wpStringUtils.h"

using namespace kav;
using namespace kav::test;

namespace {

// The filter made for `cls` with the given keys, bound to its object.
struct TBound {
  Ref<TIniFile> DocRef;
  Ref<TObjectFilter> Filter;
};
TBound Bind(std::string_view cls, std::string_view keys) {
  TBound b;
  b.DocRef = Doc("object f:" + std::string(cls) + "\r\n" + std::string(keys) + "\r\nend\r\n");
  TIniObject* obj = b.DocRef->FindObject(u"f");
  EXPECT_NE(obj, nullptr);
  b.Filter = CreateObjectFilter(obj);
  EXPECT_TRUE(b.Filter);
  if (b.Filter) {
    EXPECT_TRUE(ReadObjectFilter(b.Filter.get(), obj));
  }
  return b;
}

// One pixel through one filter.
Px RunOne(TObjectFilter* f, Px in) {
  TPixelRows rows(1, 1);
  rows.Set(0, 0, in);
  f->Apply(rows.Rows, 1);
  return rows.Get(0, 0);
}

// A value filter answering a constant; its Apply would scribble on pixels.
class TConstValue : public TObjectFilter {
 public:
  explicit TConstValue(double v) : v_(v) {}
  double Value() override { return v_; }
  int32_t Kind() const override { return kFilterKindValue; }
  void Apply(std::span<uint8_t* const> rows, int32_t) override { rows[0][0] = 0xEE; }

 private:
  double v_;
};

// A prepared inversion, not bound to any object.
Ref<TObjectFilter> Invert() {
  Ref<TObjectFilter> f = MakeRef<TInvertColor>();
  f->Prepare();
  return f;
}

}  // namespace

TEST(ObjectFilters, RegistryAndCreation) {
  std::vector<TByteString> names;
  for (Ref<TFilterInfo> i = FilterRegistry(); i; i = i->Next) names.push_back(i->Name);
  EXPECT_EQ(names, (std::vector<TByteString>{"Invert", "Colorisation3", "Colorisation2", "HSL", "BrightContrast",
                                             "Colorization", "Levels"}));

  Ref<TIniFile> doc = Doc("object a:hsl\r\nend\r\nobject b:Sharpen\r\nend\r\n");
  Ref<TObjectFilter> hsl = CreateObjectFilter(doc->FindObject(u"a"));
  ASSERT_TRUE(hsl);
  EXPECT_NE(dynamic_cast<THSLGenerator*>(hsl.get()), nullptr);
  EXPECT_EQ(hsl->DisplayName(), u"HSL");
  EXPECT_FALSE(CreateObjectFilter(doc->FindObject(u"b")));
  EXPECT_FALSE(CreateObjectFilter(nullptr));

  // Freeing the registry and using it again brings the standard kinds back.
  FreeFilterRegistry();
  EXPECT_TRUE(CreateObjectFilter(doc->FindObject(u"a")));
}

TEST(ObjectFilters, BindingIdentityAndRevisions) {
  // An empty "id" gets a GUID written back; a missing "$rev" is revision 0.
  Ref<TIniFile> doc = Doc("object f:HSL\r\n  id=\r\n  Hue=90\r\nend\r\nobject g:Levels\r\nend\r\n");
  TIniObject* obj = doc->FindObject(u"f");
  Ref<TObjectFilter> f = CreateObjectFilter(obj);
  ASSERT_TRUE(ReadObjectFilter(f.get(), obj));
  const std::u16string id = IniGetString(obj->FindKey(u"id"));
  EXPECT_EQ(id.size(), 38u);
  EXPECT_EQ(f->Identity(), id);
  EXPECT_EQ(f->Revision(), 0);
  EXPECT_EQ(static_cast<THSLGenerator*>(f.get())->HueShift, 64);
  // A missing "id" is created too.
  TIniObject* g = doc->FindObject(u"g");
  Ref<TObjectFilter> lv = CreateObjectFilter(g);
  ASSERT_TRUE(ReadObjectFilter(lv.get(), g));
  EXPECT_EQ(IniGetString(g->FindKey(u"id")).size(), 38u);
  EXPECT_NE(lv->Identity(), id);

  // Reuse needs the same identity (any case) and revision; a change of the
  // parameters without a new revision is not prepared again.
  obj->FindKey(u"Hue")->SetString(u"180");
  obj->FindKey(u"id")->SetString(WideLowerCase(id));
  EXPECT_TRUE(ReadObjectFilter(f.get(), obj));
  EXPECT_EQ(static_cast<THSLGenerator*>(f.get())->HueShift, 64);
  EXPECT_FALSE(ReadObjectFilter(f.get(), g));

  // An edit bumps the revision, writes "$rev" and prepares on the next read.
  EXPECT_EQ(f->GetParamText(0), u"180");
  EXPECT_EQ(f->SetParamText(0, u"180"), 0);
  EXPECT_EQ(f->SetParamText(0, u"-90"), 1);
  EXPECT_EQ(f->Revision(), 1);
  EXPECT_EQ(IniGetInteger(obj->FindKey(u"$rev"), 0), 1);
  EXPECT_TRUE(ReadObjectFilter(f.get(), obj));
  EXPECT_EQ(static_cast<THSLGenerator*>(f.get())->HueShift, -64);
  // A filter of an older revision is not reused for the edited object.
  Ref<TObjectFilter> stale = CreateObjectFilter(obj);
  obj->FindKey(u"$rev")->SetInt64(0);
  ASSERT_TRUE(ReadObjectFilter(stale.get(), obj));
  obj->FindKey(u"$rev")->SetInt64(5);
  EXPECT_FALSE(ReadObjectFilter(stale.get(), obj));

  // "Disable" is read on every bind.
  obj->FindOrAddKey(u"Disable")->SetBool(true);
  Ref<TObjectFilter> fresh = CreateObjectFilter(obj);
  ASSERT_TRUE(ReadObjectFilter(fresh.get(), obj));
  EXPECT_TRUE(fresh->Disabled());

  EXPECT_EQ(FilterChainRevisionText(nullptr), "");
  Ref<TObjectFilter> chain = AppendFilter(fresh, AppendFilter(lv, nullptr));
  EXPECT_EQ(FilterChainRevisionText(chain.get()), "5");
  BumpFilterRevision(lv.get());
  EXPECT_EQ(FilterChainRevisionText(chain.get()), "6");
}

TEST(ObjectFilters, ColourisationPresetsAndDisplayNames) {
  TBound b = Bind("Colorisation2", "Color=#808080\r\nAmount=100\r\nPreset=Sepia");
  TObjectFilter* f = b.Filter.get();
  EXPECT_EQ(f->DisplayName(), u"Sepia: Colorisation2");
  struct TTr {
    std::u16string Translate(std::u16string_view section, std::u16string_view key, std::u16string_view def) {
      if (section == u"ColorCorrect" && key == u"Sepia") return u"Sépia";
      if (key == u"filteropt_Amount") return u"Menge";
      return std::u16string(def);
    }
  } tr;
  SetFilterTranslator(TFilterTranslator::Bind<&TTr::Translate>(&tr));
  EXPECT_EQ(f->DisplayName(), u"Sépia: Colorisation2");
  EXPECT_EQ((*f->ParamDescriptors())[1].DisplayName, u"Menge");
  SetFilterTranslator({});
  EXPECT_EQ((*f->ParamDescriptors())[1].DisplayName, u"Amount");

  // Editing a parameter removes "Preset".
  EXPECT_EQ(f->SetParamText(1, u"50"), 1);
  EXPECT_EQ(f->IniObject()->FindKey(u"Preset"), nullptr);
  EXPECT_EQ(f->DisplayName(), u"Colorisation2");
}

TEST(ObjectFilters, LinearKindsOnKnownPixels) {
  // Brightness alone is an offset; alpha becomes opaque.
  TBound bc = Bind("BrightContrast", "bright=50\r\ncontrast=0");
  EXPECT_EQ(RunOne(bc.Filter.get(), Px{10, 100, 250, 7}), (Px{60, 150, 255, 255}));
  // Out-of-range values are clamped: contrast 100 is a threshold at 127.5.
  TBound hard = Bind("BrightContrast", "bright=0\r\ncontrast=400");
  auto* lin = static_cast<TLinearGenerator*>(hard.Filter.get());
  EXPECT_EQ(lin->Gain[0], 10000.0f);
  EXPECT_EQ(RunOne(lin, Px{127, 128, 0, 0}), (Px{0, 255, 0, 255}));
  TBound flat = Bind("BrightContrast", "contrast=-100");
  lin = static_cast<TLinearGenerator*>(flat.Filter.get());
  EXPECT_LT(lin->Gain[2], 1e-6f);
  EXPECT_FLOAT_EQ(lin->Offset[2], 127.5f);
  EXPECT_EQ(RunOne(lin, Px{0, 99, 255, 0}), (Px{127, 127, 127, 255}));

  TBound inv = Bind("Invert", "");
  EXPECT_EQ(RunOne(inv.Filter.get(), Px{10, 100, 250, 7}), (Px{245, 155, 5, 255}));

  // The plain linear filter reads "k" and "d"; it maps the first row of a
  // lookup strip and copies it into the others.
  Ref<TIniFile> doc = Doc("object l:Linear\r\nk=2\r\nd=0.1\r\nend\r\n");
  Ref<TLinearGenerator> plain = MakeRef<TLinearGenerator>();
  ASSERT_TRUE(ReadObjectFilter(plain.get(), doc->FindObject(u"l")));
  TPixelRows rows(2, 3);
  rows.Set(0, 0, Px{10, 100, 250, 0});
  rows.Set(1, 0, Px{0, 1, 2, 3});
  rows.Set(0, 2, Px{9, 9, 9, 9});
  plain->Apply(rows.Rows, 2);
  for (int32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(rows.Get(0, y), (Px{45, 225, 255, 255}));
    EXPECT_EQ(rows.Get(1, y), (Px{25, 27, 29, 255}));
  }
}

TEST(ObjectFilters, LevelsOnKnownPixels) {
  TBound lv = Bind("Levels", "Min=50\r\nMed=0\r\nMax=150");
  EXPECT_EQ(RunOne(lv.Filter.get(), Px{100, 40, 200, 0}), (Px{127, 0, 255, 255}));
  TBound gamma = Bind("Levels", "Min=50\r\nMed=50\r\nMax=150");
  EXPECT_EQ(RunOne(gamma.Filter.get(), Px{100, 50, 150, 0})[0], 202);  // 0.5^(1/3)
  TBound steep = Bind("Levels", "Med=-100");
  EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator*>(steep.Filter.get())->Gamma, 10.0);
  TBound flat = Bind("Levels", "Med=100");
  EXPECT_DOUBLE_EQ(static_cast<TLevelsGenerator*>(flat.Filter.get())->Gamma, 0.1);
  // A range with Max <= Min keeps the pixels, alpha included.
  TBound empty = Bind("Levels", "Min=200\r\nMax=200");
  EXPECT_EQ(RunOne(empty.Filter.get(), Px{1, 2, 3, 4}), (Px{1, 2, 3, 4}));
  TBound reversed = Bind("Levels", "Min=220\r\nMax=20");
  EXPECT_EQ(RunOne(reversed.Filter.get(), Px{250, 100, 0, 9}), (Px{250, 100, 0, 9}));
  // Garbage numbers take the defaults (the whole range).
  TBound garbage = Bind("Levels", "Min=abc\r\nMax=1e5x");
  EXPECT_EQ(RunOne(garbage.Filter.get(), Px{0, 128, 255, 0}), (Px{0, 128, 255, 255}));
}

TEST(ObjectFilters, ColourMultiplyAndHSLOnKnownPixels) {
  TBound mul = Bind("Colorisation2", "Color=#808080\r\nAmount=50");
  // Target c / 2, half way there; the step truncates toward zero.
  EXPECT_EQ(RunOne(mul.Filter.get(), Px{200, 201, 0, 0}), (Px{150, 151, 0, 255}));
  TBound dbl = Bind("Colorisation3", "Color=255,0,0");
  EXPECT_EQ(RunOne(dbl.Filter.get(), Px{200, 200, 200, 0}), (Px{0, 0, 255, 255}));
  // Sepia on grey 100: luma 104, targets (155, 130, 99) * 104 >> 7.
  TBound sepia = Bind("Colorization", "Color=155,130,99");
  EXPECT_EQ(RunOne(sepia.Filter.get(), Px{100, 100, 100, 0}), (Px{80, 105, 125, 255}));
  TBound none = Bind("Colorization", "Color=155,130,99\r\nAmount=-5");
  EXPECT_EQ(RunOne(none.Filter.get(), Px{100, 100, 100, 0}), (Px{100, 100, 100, 255}));
  // The colour multiply filters map every row (no row copy).
  TPixelRows rows(1, 2);
  rows.Set(0, 1, Px{200, 200, 200, 0});
  mul.Filter->Apply(rows.Rows, 1);
  EXPECT_EQ(rows.Get(0, 1), (Px{150, 150, 150, 255}));

  // Hue +120 degrees (85 steps) turns red into green; clamped saturation
  // greys; lightness whitens.
  TBound hue = Bind("HSL", "Hue=120");
  EXPECT_EQ(RunOne(hue.Filter.get(), Px{0, 0, 255, 0}), (Px{1, 255, 1, 255}));
  TBound grey = Bind("HSL", "Saturation=-300");
  EXPECT_EQ(RunOne(grey.Filter.get(), Px{255, 0, 0, 0}), (Px{128, 128, 128, 255}));
  TBound white = Bind("HSL", "Lightness=100");
  EXPECT_EQ(RunOne(white.Filter.get(), Px{10, 20, 30, 0}), (Px{255, 255, 255, 255}));
  TBound turn = Bind("HSL", "Hue=-180");
  EXPECT_EQ(static_cast<THSLGenerator*>(turn.Filter.get())->HueShift, -128);
}

TEST(ObjectFilters, ChainsApplyTailFirstAndKeepKindsApart) {
  TBound bright = Bind("BrightContrast", "bright=50");
  TBound invert = Bind("Invert", "");
  // bright -> invert: invert runs first, then +50.
  Ref<TObjectFilter> chain = AppendFilter(bright.Filter, AppendFilter(invert.Filter, nullptr));
  TPixelRows rows(1, 1);
  rows.Set(0, 0, Px{10, 250, 0, 0});
  ApplyFilterChain(chain.get(), rows.Rows, 1);
  EXPECT_EQ(rows.Get(0, 0), (Px{255, 55, 255, 255}));
  EXPECT_EQ(CheckFilterChain(chain.get()), kFilterKindColor);

  // A disabled filter is skipped but keeps its place.
  bright.DocRef->FindObject(u"f")->FindOrAddKey(u"Disable")->SetBool(true);
  ASSERT_TRUE(ReadObjectFilter(bright.Filter.get(), bright.DocRef->FindObject(u"f")));
  EXPECT_TRUE(chain->Disabled());
  EXPECT_EQ(chain->Next(), invert.Filter.get());
  rows.Set(0, 0, Px{10, 250, 0, 0});
  ApplyFilterChain(chain.get(), rows.Rows, 1);
  EXPECT_EQ(rows.Get(0, 0), (Px{245, 5, 255, 255}));

  // Value filters in a colour chain are ignored, and colour filters in a
  // value chain leave the value alone.
  Ref<TObjectFilter> v1 = MakeRef<TConstValue>(1.0);
  Ref<TObjectFilter> v2 = MakeRef<TConstValue>(2.0);
  Ref<TObjectFilter> mixed = AppendFilter(v1, AppendFilter(Invert(), AppendFilter(v2, nullptr)));
  EXPECT_EQ(CheckFilterChain(mixed.get()), kFilterKindColor);
  rows.Set(0, 0, Px{10, 20, 30, 40});
  ApplyFilterChain(mixed.get(), rows.Rows, 1);
  EXPECT_EQ(rows.Get(0, 0), (Px{245, 235, 225, 255}));
  double value = 7;
  ApplyValueChainF64(mixed.get(), value);
  EXPECT_EQ(value, 1.0);  // v2 first, then v1
  float single = 7;
  ApplyValueChainF32(AppendFilter(MakeRef<TInvertColor>(), nullptr).get(), single);
  EXPECT_EQ(single, 7.0f);

  // Kinds: value chains are 1; a colour-grade filter is 3; a disabled one
  // has the kind of the chain behind it.
  EXPECT_EQ(CheckFilterChain(AppendFilter(MakeRef<TConstValue>(0), nullptr).get()), kFilterKindValue);
  EXPECT_EQ(CheckFilterChain(nullptr), kFilterKindNone);
  TBound hsl = Bind("HSL", "Disable=1");
  Ref<TObjectFilter> graded = AppendFilter(hsl.Filter, AppendFilter(MakeRef<TInvertColor>(), nullptr));
  EXPECT_EQ(graded->Kind(), kFilterKindColor);
  EXPECT_EQ(CheckFilterChain(graded.get()), kFilterKindColor);
  TBound hsl_on = Bind("HSL", "");
  EXPECT_EQ(CheckFilterChain(AppendFilter(MakeRef<TInvertColor>(), AppendFilter(hsl_on.Filter, nullptr)).get()),
            kFilterKindColorGrade);
}

TEST(ObjectFilters, ChainLinksAndLongChains) {
  Ref<TObjectFilter> a = MakeRef<TInvertColor>(), b = MakeRef<TInvertColor>(), c = MakeRef<TInvertColor>();
  Ref<TObjectFilter> chain = AppendFilter(a, AppendFilter(b, AppendFilter(c, nullptr)));
  chain = ReverseFilterChain(std::move(chain));
  EXPECT_EQ(chain, c);
  EXPECT_EQ(chain->Next()->Next(), a.get());
  EXPECT_EQ(DetachNext(chain.get()), b);
  EXPECT_EQ(chain->Next(), nullptr);

  // A chain far longer than any stack could recurse through is released.
  Ref<TObjectFilter> longest;
  for (int i = 0; i < 300000; ++i) longest = AppendFilter(MakeRef<TInvertColor>(), std::move(longest));
  longest = nullptr;
}
