// The factory's table: which filter each description makes.
#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/3DEngine/Transitions/BroomClock.h"
#include "KavLib2/3DEngine/Transitions/OverturnEffects.h"
#include "KavLib2/3DEngine/Transitions/PageRoll.h"
#include "KavLib2/3DEngine/Transitions/ShapeWipes.h"
#include "KavLib2/3DEngine/Transitions/SlideFilters.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav {
namespace {

using transsheet::Effect;

Ref<TDrawFilter> Make(Ref<TKavEffect> e) { return CreateTransitionFilter(TSize{200, 100}, e.get(), nullptr, false); }
template <class F>
Ref<F> As(const Ref<TDrawFilter>& f) {
  return Ref<F>(dynamic_cast<F*>(f.get()));
}

TEST(TransitionFactory, KindsAndVariantsMakeTheirFilters) {
  EXPECT_TRUE(As<TAlphaFilter>(Make(Effect(0, {}))));
  EXPECT_TRUE(As<TAlphaFilter>(Make(Effect(13, {}))));
  EXPECT_TRUE(As<TAlphaFilter>(Make(Effect(12, {}))));  // no custom hook installed
  EXPECT_FALSE(CreateTransitionFilter(TSize{200, 100}, nullptr, nullptr, false));
  for (int32_t kind : {2, 3, 4, 5, 7, 8, 10, 11}) EXPECT_FALSE(Make(Effect(kind, {}))) << kind;
  // A description with too few parameters reads the missing ones as 0.
  auto shortd = Effect(7, {});
  shortd->Flags = {0, 1};
  shortd->Ints.clear();
  shortd->Floats.clear();
  EXPECT_EQ(As<TPushFilter>(Make(shortd))->Direction, 4);

  auto m99 = As<TRandomFilter>(Make(Effect(6, {}, {4, 3, 99, 7})));
  auto m100 = As<TRandomFilter>(Make(Effect(6, {}, {4, 3, 100, 7})));
  ASSERT_TRUE(m99 && m100);
  EXPECT_EQ(m99->Spread, 99.0f);
  EXPECT_EQ(m100->Spread, 1000.0f);
  EXPECT_EQ(m99->Seed, 7u);

  EXPECT_TRUE(As<TClockEffect>(Make(Effect(2, {6, 2}))));
  auto broom = As<TBroomEffect>(Make(Effect(2, {1, 2}, {}, {0.2f})));
  ASSERT_TRUE(broom);
  EXPECT_EQ(broom->Direction, 8);  // 16 reversed
  EXPECT_TRUE(broom->Reverse);
  EXPECT_FLOAT_EQ(broom->Margin, 150 * 0.2f);

  auto roll = As<TRollEffect2>(Make(Effect(9, {1, 3}, {1, 0x123456}, {0.25f, 0.5f})));
  ASSERT_TRUE(roll);
  EXPECT_EQ(roll->Family, 14);
  EXPECT_EQ(roll->Direction, 8);
  EXPECT_TRUE(roll->FullTurn);
  EXPECT_EQ(roll->RadiusPixels, 50);
  EXPECT_EQ(roll->Colour[0], 0x56);
  auto roll2 = As<TRollEffect2>(Make(Effect(9, {9})));
  ASSERT_TRUE(roll2);
  EXPECT_EQ(roll2->Family, 15);
  EXPECT_EQ(roll2->Direction, 1);

  auto circle = As<TCircleFilter>(Make(Effect(3, {2, 0}, {25, 75})));
  ASSERT_TRUE(circle);
  EXPECT_TRUE(circle->Reverse);
  EXPECT_FLOAT_EQ(circle->OriginFracY, 0.75f);
  EXPECT_TRUE(As<TSquareFilter>(Make(Effect(3, {4}))));
  auto gate = As<THLines>(Make(Effect(4, {0})));
  ASSERT_TRUE(gate);
  EXPECT_TRUE(gate->Reverse);
  auto page = As<TVLines>(Make(Effect(5, {1})));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->OriginFracY, 1.0f);
  auto diag = As<TDiagLines>(Make(Effect(5, {0})));
  ASSERT_TRUE(diag);
  EXPECT_EQ(diag->Mode, 2);
  EXPECT_EQ(As<TSlideFilter>(Make(Effect(8, {3})))->Direction, 3);
  EXPECT_EQ(As<TOverturnEffect>(Make(Effect(10, {2, 4}, {}, {0.3f})))->Direction, 5);
  EXPECT_EQ(As<TTwoSlidesEffect>(Make(Effect(11, {1}, {}, {0.2f, 0.3f, 180})))->Direction, 4);
}

Ref<TDrawFilter> Custom(TDrawItem*, TIniSection*, bool) { return MakeRef<TRandomFilter>(2, 2, 1); }

TEST(TransitionFactory, CustomHookAndInitialisation) {
  SetCustomTransitionHook(&Custom);
  EXPECT_TRUE(As<TRandomFilter>(Make(Effect(12, {}))));
  SetCustomTransitionHook(nullptr);
  auto f = CreateTransitionForRect(TRect{10, 20, 210, 120}, Effect(1, {}).get(), nullptr, false, 0.1f, 800);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->Rect, (TRect{10, 20, 210, 120}));
  EXPECT_FLOAT_EQ(f->EdgeWidth, 20);
  EXPECT_FLOAT_EQ(f->Duration, 800);
  EXPECT_EQ(MakeGrayColor(127.6f), 0xFF808080u);
  EXPECT_EQ(MakeGrayColor(-3), 0xFF000000u);
  // Halves go to the even neighbour.
  EXPECT_EQ(MakeGrayColor(126.5f), 0xFF7E7E7Eu);
  EXPECT_EQ(MakeGrayColor(127.5f), 0xFF808080u);
  EXPECT_EQ(MakeGrayColor(std::nanf("")), 0xFF000000u);
  EXPECT_EQ(MakeGrayColor(300), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace kav
