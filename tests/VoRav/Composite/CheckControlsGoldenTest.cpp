// The themed check boxes, radio buttons, progress bars and bevels drawn on
// the window surface in the visual style and the classic look, at 100% and
// 150%, against reference pictures made by this code and checked by eye.
// KAV_UPDATE_GOLDENS=1 rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/vxThemedBevel.h"
#include "VoRav/Composite/vxThemedCheckBox.h"
#include "VoRav/Composite/vxThemedProgressBar.h"
#include "VoRav/Composite/vxThemedRadioButton.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winThemedBevelTheme.h"
#include "VoRav/Composite/winThemedCheckBoxTheme.h"
#include "VoRav/Composite/winThemedProgressBarTheme.h"
#include "VoRav/Composite/winThemedRadioButtonTheme.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CheckControlsTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

int32_t Scaled(int32_t v, double s) { return int32_t(std::lround(v * s)); }

class CheckControlsGoldenTest : public CheckControlsTest {
 protected:
  void SetUp() override {
    CheckControlsTest::SetUp();
    InstallStyledPainters();
  }

  // The sheet at scale s, as a 32-bit bitmap.
  Ref<TSysBitmap> Draw(double s) {
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    styles->ControlFont.Size = float(styles->ControlFont.Size * s);
    styles->ScaleX = styles->ScaleY = s;
    SetDefaultControlStyles(styles.get());
    const int32_t w = Scaled(400, s), h = Scaled(236, s);
    MakeRoot(w, h);
    TFramePanel* face = AllocFramePanel(root->CreateChildFrame(), nullptr);
    face->SetSize(w, h);

    // Check boxes: unchecked, checked, mixed across; normal, hot, pressed,
    // disabled down.
    const char16_t* words[4] = {u"Normal", u"Hot", u"Pressed", u"Disabled"};
    TFrameControl* focused = nullptr;
    for (int32_t look = 0; look < 4; ++look)
      for (uint8_t state = 0; state < 3; ++state) {
        auto* c = new TLookCheckBox(face->CreateChildFrame(), nullptr, CheckBoxThemeOf(nullptr));
        c->GetCaption()->SetCaption(words[look]);
        c->SetPosition(Scaled(8 + state * 90, s), Scaled(6 + look * 22, s));
        c->SetSize(Scaled(86, s), 0);
        c->SetState(state);
        Look(c, look);
        if (look == 0 && state == 1) focused = c;
      }
    focused->Focus();  // the focus frame around its caption
    // Radio buttons: unchecked, checked (each in a group of its own panel).
    for (int32_t look = 0; look < 4; ++look)
      for (int32_t checked = 0; checked < 2; ++checked) {
        TFramePanel* group = AllocFramePanel(face->CreateChildFrame(), nullptr);
        group->SetPosition(Scaled(280 + checked * 60, s), Scaled(6 + look * 22, s));
        group->SetSize(Scaled(58, s), Scaled(20, s));
        auto* r = new TLookRadioButton(group->CreateChildFrame(), nullptr, RadioButtonThemeOf(nullptr));
        r->GetCaption()->SetCaption(checked ? u"On" : u"Off");
        r->SetSize(Scaled(56, s), 0);
        r->SetChecked(checked != 0);
        Look(r, look);
      }
    // Progress bars: a value in each kind, an empty and a full one, the
    // marquee, a reversed marquee.
    const float values[5] = {0.5f, 0.3f, 0.7f, 0.6f, 0.4f};
    for (uint8_t kind = 0; kind < 5; ++kind) {
      TFrameProgressBar* p = _AllocFrameProgressBar(face->CreateChildFrame(), nullptr);
      p->SetPosition(Scaled(8 + (kind % 2) * 160, s), Scaled(98 + (kind / 2) * 22, s));
      p->SetSize(Scaled(152, s), Scaled(17, s));
      p->SetKind(kind);
      p->SetValue(values[kind]);
    }
    TFrameProgressBar* full = _AllocFrameProgressBar(face->CreateChildFrame(), nullptr);
    full->SetPosition(Scaled(168, s), Scaled(142, s));
    full->SetSize(Scaled(152, s), Scaled(17, s));
    full->SetValue(1);
    TFrameProgressBar* marquee = _AllocFrameProgressBar(face->CreateChildFrame(), nullptr);
    marquee->SetPosition(Scaled(8, s), Scaled(164, s));
    marquee->SetSize(Scaled(152, s), Scaled(17, s));
    marquee->SetMarquee(true);
    TFrameProgressBar* back = _AllocFrameProgressBar(face->CreateChildFrame(), nullptr);
    back->SetPosition(Scaled(168, s), Scaled(164, s));
    back->SetSize(Scaled(152, s), Scaled(17, s));
    back->SetKind(3);
    back->SetReverse(true);
    back->SetMarquee(true);
    TFrameProgressBar* tiny = _AllocFrameProgressBar(face->CreateChildFrame(), nullptr);
    tiny->SetPosition(Scaled(328, s), Scaled(98, s));
    tiny->SetSize(Scaled(8, s), Scaled(8, s));
    tiny->SetValue(1);

    // Bevels: the default style, line, sunken, etched around a caption; a
    // sunken one on two sides; the separators.
    const uint8_t styles_[4] = {kBevelStyleDefault, kBevelStyleLine, kBevelStyleSunken, kBevelStyleEtched};
    for (int32_t i = 0; i < 4; ++i) {
      TFrameBevel* b = AllocFrameBevel(face->CreateChildFrame(), nullptr);
      b->SetStyle(styles_[i]);
      b->SetAutoSize(true);
      b->SetPosition(Scaled(8 + i * 76, s), Scaled(190, s));
      TFrameCaption* c = AllocFrameCaption(b->CreateChildFrame());
      c->SetCaption(u"Bevel");
      c->SetSize(Scaled(60, s), Scaled(20, s));
    }
    TFrameBevel* two = AllocFrameBevel(face->CreateChildFrame(), nullptr);
    two->SetStyle(kBevelStyleSunken);
    two->SetSides(kBevelTop | kBevelLeft);
    two->SetPosition(Scaled(312, s), Scaled(190, s));
    two->SetSize(Scaled(30, s), Scaled(24, s));
    TFrameBevel* vline = AllocFrameBevel(face->CreateChildFrame(), nullptr);
    vline->SetSides(kBevelLeft);
    vline->SetPosition(Scaled(350, s), Scaled(190, s));
    vline->SetSize(2, Scaled(40, s));
    TFrameBevel* hline = AllocFrameBevel(face->CreateChildFrame(), nullptr);
    hline->SetSides(kBevelTop);
    hline->SetPosition(Scaled(358, s), Scaled(200, s));
    hline->SetSize(Scaled(36, s), 2);

    // Cross-fades and glides end; the marquees stand 300 ms in.
    Tick(300);
    Tick(300);
    Ref<TSysBitmap> out = SurfaceBitmap();
    root = nullptr;
    SetDefaultControlStyles(DefaultWinControlStyles());
    return out;
  }
};

}  // namespace

TEST_F(CheckControlsGoldenTest, EveryStateInBothLooksAt100And150Percent) {
  TStyleEnvironment env;
  for (int32_t percent : {100, 150}) {
    for (const char* look : {"styled", "classic"}) {
      env.Set(std::string(look) == "classic");
      Ref<TSysBitmap> sheet = Draw(percent / 100.0);
      test::CheckGoldenSheet(sheet.get(),
                             std::string("check_controls_") + look + "_" + std::to_string(percent) + ".png");
    }
  }
}
