// The tab control's states (selected, hot, normal, cut, arrows normal, hot
// and pressed, tabs at the bottom, disabled) drawn by the visual-styles
// painter with visual styles on and off (the classic answers), at 100% and
// 150%, against reference pictures made by this code and checked by eye.
// KAV_UPDATE_GOLDENS=1 rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winTabsThemes.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Composite/winUxTheme.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"
#include "tests/VoRav/ScopedEnv.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

int32_t Scaled(int32_t v, double s) { return int32_t(std::lround(v * s)); }

class ThemedTabControlGoldenTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitWinFrameControls();
  }
  void TearDown() override {
    root = nullptr;
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    FinalizeThemeServices();
    FinalizeUxTheme();
    CompositeTest::TearDown();
  }

  TThemedTabControl* Tabs(TControlStyles* styles, double s, int32_t x, int32_t y, int32_t pages) {
    auto* painter = styles->FindTheme<TFrameTabControlTheme>();
    auto* t = new TThemedTabControl(root->CreateChildFrame(), painter, styles);
    t->SetPosition(Scaled(x, s), Scaled(y, s));
    t->SetSize(Scaled(152, s), Scaled(80, s));
    const char16_t* names[] = {u"General", u"View", u"Sound", u"Advanced", u"About", u"More"};
    for (int32_t i = 0; i < pages; ++i) {
      TThemedPage* p = t->AddPage();
      p->SetCaption(names[i % 6]);
      TFrameCaption* c = AllocFrameCaption(p->CreateChildFrame());
      c->SetPosition(Scaled(6, s), Scaled(6, s));
      c->SetSize(Scaled(120, s), Scaled(18, s));
      c->SetCaption(std::u16string(u"Page ") + names[i % 6]);
    }
    return t;
  }

  // One look's sheet at scale s.
  Ref<TSysBitmap> Draw(double s) {
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    styles->ControlFont.Size = float(styles->ControlFont.Size * s);
    styles->ScaleX = styles->ScaleY = s;
    MakeRef<TWinXPTabsTheme>(styles.get());
    SetDefaultControlStyles(styles.get());
    const int32_t w = Scaled(328, s), h = Scaled(184, s);
    MakeRoot(w, h);
    AddProbe(root.get(), "face", 0, 0, w, h, styles->FaceColor);

    // Normal, selected and hot tabs.
    TThemedTabControl* a = Tabs(styles.get(), s, 8, 8, 3);
    a->SelectPage(a->GetPage(0));
    a->GetPage(1)->TabButton()->SetHot(true);
    // More tabs than fit: scrolled so tabs are cut on both sides; the
    // forward arrow hot, the backward one pressed.
    TThemedTabControl* b = Tabs(styles.get(), s, 168, 8, 6);
    b->SelectPage(b->GetPage(2));
    b->ArrowClicked(kArrowForward);
    b->Arrow(kArrowForward)->SetHot(true);
    b->Arrow(kArrowBackward)->SetPressed(true);
    // Tabs at the bottom.
    TThemedTabControl* c = Tabs(styles.get(), s, 8, 96, 3);
    c->SetOrientation(1);
    c->SelectPage(c->GetPage(1));
    // Disabled, with its arrows.
    TThemedTabControl* d = Tabs(styles.get(), s, 168, 96, 6);
    d->SelectPage(d->GetPage(0));
    d->SetEnabled(false);

    Ref<TSysBitmap> out = test::SurfaceBitmap(frame, w, h);
    b->Arrow(kArrowBackward)->SetPressed(false);
    root = nullptr;
    SetDefaultControlStyles(DefaultWinControlStyles());
    return out;
  }
};

}  // namespace

TEST_F(ThemedTabControlGoldenTest, EveryStateInBothLooksAt100And150Percent) {
  test::TScopedEnv styles_env("KAV_VISUAL_STYLES", std::nullopt);
  for (int32_t percent : {100, 150}) {
    const std::string name = "tab_control_" + std::to_string(percent) + ".png";
    SCOPED_TRACE(name);
    unsetenv("KAV_VISUAL_STYLES");
    Ref<TSysBitmap> styled = Draw(percent / 100.0);
    setenv("KAV_VISUAL_STYLES", "classic", 1);
    Ref<TSysBitmap> classic = Draw(percent / 100.0);
    // Styled above, classic below.
    const int32_t w = styled->Width(), h = styled->Height();
    Ref<TSysBitmap> sheet = CreateSysBitmap(w, 2 * h, StdFormats().A8R8G8B8);
    sheet->CopyRect(TRect{0, 0, w, h}, styled.get(), 0, TPoint{});
    sheet->CopyRect(TRect{0, h, w, 2 * h}, classic.get(), 0, TPoint{});
    if (test::WriteGoldenIfUpdating(sheet.get(), name)) continue;
    int32_t rw = 0, rh = 0;
    std::vector<uint32_t> ref;
    ASSERT_TRUE(test::ReadGolden(name, rw, rh, ref));
    ASSERT_EQ(rw, w);
    ASSERT_EQ(rh, 2 * h);
    EXPECT_LE(test::WorstChannelDifference(styled.get(), ref, 0), 3);
    EXPECT_LE(test::WorstChannelDifference(classic.get(), ref, h), 3);
    // The two looks differ.
    EXPECT_GT(test::WorstChannelDifference(styled.get(), ref, h), 3);
  }
}
