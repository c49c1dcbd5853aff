#include <gtest/gtest.h>

#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavEngine/KavInputMapping.h"
#include "VoRav/vxIni.h"

using namespace kav;

namespace {

constexpr uint8_t kDown = 1, kUp = 0;
constexpr uint8_t kShift = 2, kAlt = 4, kCtrl = 8, kLeftButton = 16;

Ref<TInputMappingClass> Mapping(const std::string& main, const std::string& rest = "") {
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes("[Main]\r\n" + main + rest);
  return MakeRef<TInputMappingClass>(ini.get());
}

int Kind(const TKeyMap* m) { return m ? m->ActionKind : -1; }

}  // namespace

TEST(InputMapping, KeyTableWithControlPermitted) {
  auto m = Mapping("", "[Times]\r\nopt_slidescount=12\r\n");
  EXPECT_EQ(Kind(m->KeyAction(0, 27, kDown)), kActExit);
  EXPECT_EQ(Kind(m->KeyAction(0, 32, kDown)), kActPause);
  EXPECT_EQ(Kind(m->KeyAction(0, 19, kDown)), kActPause);
  EXPECT_EQ(Kind(m->KeyAction(0, 179, kDown)), kActPause);
  EXPECT_EQ(Kind(m->KeyAction(0, 178, kDown)), kActRestart);
  for (uint16_t k : {37, 33, 166, 177, 38}) EXPECT_EQ(Kind(m->KeyAction(0, k, kDown)), kActPrevSlide) << k;
  for (uint16_t k : {39, 34, 167, 176, 40}) EXPECT_EQ(Kind(m->KeyAction(0, k, kDown)), kActNextSlide) << k;
  EXPECT_EQ(m->KeyAction(0, 36, kDown)->ActionInt, 0);
  EXPECT_EQ(Kind(m->KeyAction(0, 35, kDown)), kActGotoSlide);
  EXPECT_EQ(m->KeyAction(0, 35, kDown)->ActionInt, 12);
  EXPECT_EQ(Kind(m->KeyAction(0, 112, kDown)), kActHelp);
  // Key up, modified keys and unknown codes map to nothing.
  EXPECT_EQ(m->KeyAction(0, 32, kUp), nullptr);
  EXPECT_EQ(m->KeyAction(kShift, 32, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(0, 65, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(0, 300, kDown), nullptr);
  // Mouse button bits are outside the mask.
  EXPECT_EQ(Kind(m->KeyAction(kLeftButton, 32, kDown)), kActPause);
  // Ctrl+P pauses; Ctrl+Shift+P and plain P do not.
  EXPECT_EQ(Kind(m->KeyAction(kCtrl, 80, kDown)), kActPause);
  EXPECT_EQ(m->KeyAction(kCtrl | kShift, 80, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(kCtrl | kAlt, 80, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(0, 80, kDown), nullptr);
}

TEST(InputMapping, WithoutControlOnlyExitAndHelpAndF1CanBeLocked) {
  auto m = Mapping("opt_synchpermitcontrol=0\r\nopt_lockf1=1\r\n");
  EXPECT_FALSE(m->PermitControl());
  EXPECT_EQ(Kind(m->KeyAction(0, 27, kDown)), kActExit);
  EXPECT_EQ(m->KeyAction(0, 32, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(0, 39, kDown), nullptr);
  EXPECT_EQ(m->KeyAction(0, 112, kDown), nullptr);
}

TEST(InputMapping, ScreenSaverEndsOnEveryKeyAndMovement) {
  auto m = Mapping("opt_ssaver=1\r\n");
  EXPECT_TRUE(m->ScreenSaver());
  EXPECT_EQ(Kind(m->KeyAction(0, 65, kDown)), kActExit);
  EXPECT_EQ(Kind(m->KeyAction(kCtrl, 32, kDown)), kActExit);
  EXPECT_EQ(m->MouseAction(true, 0, 0, 0, 0).Kind, kActExit);
  ASSERT_NE(m->MoveDetector(), nullptr);
  EXPECT_EQ(m->MouseAction(false, 100, 0, 0, 100).Kind, kActNone);  // first position
  EXPECT_EQ(m->MouseAction(false, 103, 0, 0, 102).Kind, kActNone);
  EXPECT_EQ(m->MouseAction(false, 103, 0, 0, 103).Kind, kActExit);
}

TEST(InputMapping, MouseButtonsGiveTheConfiguredActions) {
  auto m = Mapping("opt_leftmouse=Next slide\r\nopt_rightmouse=Prev. slide\r\nopt_dblclick=Go to first\r\n");
  EXPECT_EQ(m->MoveDetector(), nullptr);
  EXPECT_EQ(m->MouseAction(false, 0, 2, 1, 0).Kind, kActNextSlide);
  EXPECT_EQ(m->MouseAction(false, 0, 2, 4, 0).Kind, kActPrevSlide);
  const TKavAction dbl = m->MouseAction(false, 0, 3, 1, 0);
  EXPECT_EQ(dbl.Kind, kActGotoSlide);
  EXPECT_EQ(dbl.Int, 0);
  EXPECT_EQ(m->MouseAction(false, 0, 1, 1, 0).Kind, kActNone);  // press
  EXPECT_EQ(m->MouseAction(false, 0, 2, 5, 0).Kind, kActNone);  // middle
  auto exit_on_move = Mapping("opt_exitonmove=1\r\nopt_leftmouse=Exit\r\n");
  EXPECT_NE(exit_on_move->MoveDetector(), nullptr);
  EXPECT_EQ(exit_on_move->MouseAction(false, 0, 2, 1, 0).Kind, kActExit);
}

TEST(InputMapping, MouseActionNames) {
  EXPECT_EQ(ParseMouseActionName(u"Exit").Kind, kActExit);
  EXPECT_EQ(ParseMouseActionName(u"Help").Kind, kActHelp);
  EXPECT_EQ(ParseMouseActionName(u"Pause").Kind, kActPause);
  EXPECT_EQ(ParseMouseActionName(u"pause").Kind, kActNone);  // names are exact
  EXPECT_EQ(ParseMouseActionName(u"").Kind, kActNone);
}
