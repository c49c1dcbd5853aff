#include <gtest/gtest.h>

#include "KavLib2/KavEngine/KavAction.h"

using namespace kav;

TEST(KavAction, FormCarriesOutEveryKindButNoneHelpDialogsAndPanelKinds) {
  for (int kind = 0; kind < 256; ++kind) {
    const bool expected = kind != 0 && kind != 4 && kind != 15 && kind != 17 && kind != 18 && kind < 20;
    EXPECT_EQ(IsFormActionKind(uint8_t(kind)), expected) << kind;
  }
  EXPECT_TRUE(IsEngineActionKind(kActHelp));
  EXPECT_TRUE(IsEngineActionKind(kActDialog));
  EXPECT_FALSE(IsEngineActionKind(kActClose));  // the form closes when no dialog is open
}

TEST(KavAction, NavigationKindsCloseDialogsFirst) {
  for (uint8_t kind : {kActPrevSlide, kActNextSlide, kActGotoSlide, kActOpenShow}) EXPECT_TRUE(ClosesDialogsFirst(kind));
  for (uint8_t kind : {kActNone, kActPause, kActOpenShowReturn, kActGotoTime, kActExit})
    EXPECT_FALSE(ClosesDialogsFirst(kind));
}

TEST(KavAction, RecordDefaultsToNoneAndComparesAllFields) {
  TKavAction a;
  EXPECT_TRUE(a.IsNone());
  TKavAction b{kActGotoSlide, -1, u"intro"};
  EXPECT_FALSE(b.IsNone());
  EXPECT_FALSE(a == b);
  TKavAction c = b;
  EXPECT_TRUE(c == b);
  c.Text = u"other";
  EXPECT_FALSE(c == b);
  EXPECT_EQ(ActionLogText(b), u"7:-1:intro");
}
