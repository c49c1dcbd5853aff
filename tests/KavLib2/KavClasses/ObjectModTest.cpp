#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <stdexcept>

#include "FilterTestUtil.h"
#include "KavLib2/KavClasses/KavObjectMod.h"

using namespace kav;
using namespace kav::test;

namespace {

// A stand-in for an object's animated properties: two group times and three
// fields, handed out by name as the keyframe reader does.
struct TFakeProps {
  double Times[2] = {0, 0};  // "Opacity", "Pos"
  float Fields[3] = {0, 0, 0};  // "Opacity", "Pos.X", "Pos.Y"
  bool Throw = false;

  Ref<TParamGetter> Make(std::string_view name, bool time) {
    if (Throw) throw std::runtime_error("factory failed");
    if (time) {
      if (name == "Opacity") return MakeRef<TTimeGetter>("Opacity.T", &Times[0]);
      if (name == "Pos") return MakeRef<TTimeGetter>("Pos.T", &Times[1]);
      return nullptr;
    }
    if (name == "Opacity") return MakeRef<TFieldGetter>("Opacity", &Fields[0]);
    if (name == "Pos.X") return MakeRef<TFieldGetter>("Pos.X", &Fields[1]);
    if (name == "Pos.Y") return MakeRef<TFieldGetter>("Pos.Y", &Fields[2]);
    return nullptr;
  }
};

struct TModFixture {
  TFakeProps Props;
  Ref<TIniFile> DocRef;
  Ref<TKavObjectMod> Mod = MakeRef<TKavObjectMod>();

  // Binds a modifier to "object m:Mod" with the given keys and prepares it.
  bool Load(std::string_view keys) {
    DocRef = Doc("object m:Mod\r\n" + std::string(keys) + "\r\nend\r\n");
    Mod = MakeRef<TKavObjectMod>();
    Mod->SetGetterFactory(TFieldGetterFactory::Bind<&TFakeProps::Make>(&Props), 3);
    EXPECT_TRUE(ReadObjectFilter(Mod.get(), DocRef->FindObject(u"m")));
    return Mod->Compiled();
  }
  TIniObject* Obj() { return DocRef->FindObject(u"m"); }
};

}  // namespace

TEST(ObjectMods, NamesResolveToTimesFieldsParametersAndBuiltins) {
  TModFixture f;
  // "T" alone is the destination group's local time.
  ASSERT_TRUE(f.Load("fn=T\r\ndst=Opacity"));
  f.Props.Times[0] = 0.25;
  EXPECT_EQ(f.Mod->Value(), 0.25);
  EXPECT_EQ(f.Mod->Kind(), kFilterKindValue);
  EXPECT_EQ(f.Mod->Slot(), 3);
  EXPECT_EQ(IniGetString(f.Obj()->FindKey(u"id")).size(), 38u);

  // "value" is the destination's current value; a group time destination's
  // value is that time.
  ASSERT_TRUE(f.Load("fn=value * 2 + Pos.Y\r\ndst=Pos.X"));
  f.Props.Fields[1] = 3;
  f.Props.Fields[2] = 0.5f;
  EXPECT_EQ(f.Mod->Value(), 6.5);
  ASSERT_TRUE(f.Load("fn=value + Opacity.t\r\ndst=Pos.T"));
  EXPECT_TRUE(f.Mod->DestinationIsTime());
  f.Props.Times[1] = 0.5;
  EXPECT_EQ(f.Mod->Value(), 0.75);

  // Parameters are the modifier's own keys; built-ins come before them.
  ASSERT_TRUE(f.Load("fn=Sin(t * Pi) * amp\r\ndst=Pos.X\r\namp=2.5\r\nPi=3"));
  f.Props.Times[1] = 0.5;
  EXPECT_DOUBLE_EQ(f.Mod->Value(), 2.5);
  // Easing curves are available to formulas.
  ASSERT_TRUE(f.Load("fn=QSplineGraph(T, 0, 0, 1, 1)\r\ndst=Opacity"));
  f.Props.Times[0] = 0.5;
  EXPECT_NEAR(f.Mod->Value(), 0.5, 1e-3);
}

TEST(ObjectMods, BadFormulasLeaveNoProgramAndValueZero) {
  TModFixture f;
  EXPECT_FALSE(f.Load("fn=Nowhere + 1\r\ndst=Opacity"));
  EXPECT_EQ(f.Mod->CompileError(), kCalcUnknownName);
  EXPECT_EQ(f.Mod->Value(), 0);
  EXPECT_FALSE(f.Load("fn=Pos.Q\r\ndst=Opacity"));      // the factory knows no such field
  EXPECT_FALSE(f.Load("fn=1 +\r\ndst=Opacity"));
  EXPECT_EQ(f.Mod->CompileError(), kCalcExpected);
  EXPECT_FALSE(f.Load("fn=1\r\ndst="));
  EXPECT_FALSE(f.Load("dst=Opacity"));
  EXPECT_FALSE(f.Load("fn=" + std::string(126, '(') + "1" + std::string(126, ')') + "+T+T\r\ndst=Opacity"));
  EXPECT_EQ(f.Mod->CompileError(), kCalcTooComplex);  // 257 characters
  EXPECT_TRUE(f.Load("fn=" + std::string(126, '(') + "1" + std::string(126, ')') + "+10\r\ndst=Opacity"));  // 256 characters
  EXPECT_EQ(f.Mod->Value(), 11);

  // Run-time failures (a division by zero) give 0.
  ASSERT_TRUE(f.Load("fn=1 / (T - T)\r\ndst=Opacity"));
  EXPECT_EQ(f.Mod->Value(), 0);
  // A failing getter factory is a clean compile failure.
  f.Props.Throw = true;
  EXPECT_FALSE(f.Load("fn=T\r\ndst=Opacity"));
  f.Props.Throw = false;

  // Without a factory only constants and parameters resolve.
  Ref<TIniFile> doc = Doc("object m:Mod\r\nfn=k * 2\r\ndst=Opacity\r\nk=4\r\nend\r\n");
  Ref<TKavObjectMod> lone = MakeRef<TKavObjectMod>();
  ASSERT_TRUE(ReadObjectFilter(lone.get(), doc->FindObject(u"m")));
  EXPECT_EQ(lone->Value(), 8);
  doc->FindObject(u"m")->FindKey(u"fn")->SetString(u"T");
  EXPECT_FALSE(lone->Prepare());
  EXPECT_EQ(lone->Value(), 0);
}

TEST(ObjectMods, ParametersPresetsAndDisplayNames) {
  TModFixture f;
  ASSERT_TRUE(f.Load(
      "fn=speed * T\r\ndst=Pos.X\r\nspeed=2\r\npcount=4\r\n"
      "pinfo0=name:Speed;id:speed;type:Float;range:-5,5,1\r\n"
      "pinfo1=name:Flag;type:Bool\r\n"
      "pinfo2=name:Mode;type:combo\r\n"
      "pinfo3=id:count;type:Int\r\n"
      "Preset=Motion:Drift"));
  const TFilterParams params = f.Mod->ParamDescriptors();
  ASSERT_EQ(params->size(), 3u);  // the Bool entry is skipped
  EXPECT_EQ((*params)[0].Name, "speed");
  EXPECT_EQ((*params)[0].DisplayName, u"Speed");
  EXPECT_EQ((*params)[0].Min, -5);
  EXPECT_EQ((*params)[0].Default, 1);
  EXPECT_EQ((*params)[1].Type, kParamCombo);
  EXPECT_EQ((*params)[2].Name, "count");
  EXPECT_TRUE((*params)[2].Integer);
  EXPECT_EQ((*params)[2].Max, 100);
  EXPECT_EQ(f.Mod->DisplayName(), u"Drift");

  // Editing removes the preset and asks for count + 1 entries to refresh.
  EXPECT_EQ(f.Mod->GetParamText(0), u"2");
  EXPECT_EQ(f.Mod->SetParamText(0, u"2"), 0);
  EXPECT_EQ(f.Mod->SetParamText(0, u"3"), 4);
  EXPECT_EQ(f.Obj()->FindKey(u"Preset"), nullptr);
  EXPECT_EQ(f.Mod->Revision(), 1);
  EXPECT_EQ(f.Mod->DisplayName(), u"Pos.X: Mod");
  // The new value takes effect when the modifier is read again.
  ASSERT_TRUE(ReadObjectFilter(f.Mod.get(), f.Obj()));
  f.Props.Times[1] = 1;
  EXPECT_EQ(f.Mod->Value(), 3);

  // The expression comes first while expressions are edited.
  SetModExpressionEditing(true);
  ASSERT_TRUE(f.Load("fn=T\r\ndst=Opacity.T\r\npcount=1\r\npinfo0=name:A;type:String"));
  EXPECT_EQ(f.Mod->ParamCount(), 2);
  EXPECT_EQ((*f.Mod->ParamDescriptors())[0].DisplayName, u"func");
  EXPECT_EQ(f.Mod->GetParamText(0), u"T");
  SetModExpressionEditing(false);
  EXPECT_EQ(f.Mod->DisplayName(), u"Opacity: Mod");

  // Huge or garbage counts are capped and cost nothing.
  ASSERT_TRUE(f.Load("fn=T\r\ndst=Opacity\r\npcount=2000000000"));
  EXPECT_EQ(f.Mod->ParamCount(), 0);
  ASSERT_TRUE(f.Load("fn=T\r\ndst=Opacity\r\npcount=-3\r\npinfo0=name:x;type:Int"));
  EXPECT_EQ(f.Mod->ParamCount(), 0);
}

TEST(ObjectMods, ValueChainsAndSlotTables) {
  TModFixture a, b;
  ASSERT_TRUE(a.Load("fn=10\r\ndst=Opacity"));
  ASSERT_TRUE(b.Load("fn=20\r\ndst=Opacity"));
  TModSlotTable table;
  EXPECT_EQ(table.Low(), -1);
  table.Add(7, a.Mod);
  table.Add(7, b.Mod);
  table.Add(2, MakeRef<TKavObjectMod>());
  EXPECT_EQ(table.Low(), 2);
  EXPECT_EQ(table.High(), 7);
  // The latest is in front, so the first added runs first and the last wins.
  EXPECT_EQ(table.Chain(7), b.Mod.get());
  double v = 0;
  ApplyValueChainF64(table.Chain(7), v);
  EXPECT_EQ(v, 20);
  EXPECT_EQ(table.Chain(100), nullptr);
  EXPECT_EQ(table.Chain(-1), nullptr);
  Ref<TObjectFilter> taken = table.Take(7);
  EXPECT_EQ(taken.get(), b.Mod.get());
  EXPECT_EQ(table.Chain(7), nullptr);
  table.Add(254, a.Mod);
  EXPECT_EQ(table.High(), 254);
  EXPECT_THROW(table.Add(255, a.Mod), EAbort);
  EXPECT_THROW(table.Add(-1, a.Mod), EAbort);
  table.Clear();
  EXPECT_EQ(table.High(), -1);
}
