// A frame-control tree with the themed push and speed buttons installed,
// in the classic look or the program's visual style.
#pragma once

#include <cstdlib>

#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxThemedButton.h"
#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Composite/vxThemedSpeedButton.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winThemedButtonTheme.h"
#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Composite/winThemedSpeedButtonTheme.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Composite/winUxTheme.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

namespace kav::test {

class ThemedButtonFixture : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    FinalizeThemeServices();
    FinalizeUxTheme();
    unsetenv(uxtheme::kStyleVariable);
    InitWinFrameControls();
    SetDefaultControlStyles(DefaultWinControlStyles());
    // Module initialisation in start-up order: classic painters, then the
    // visual-styles painters, then the controls.
    InitButtonTheme();
    InitSpeedButtonTheme();
    InitWinXPButtonTheme();
    InitWinXPSpeedButtonTheme();
    InitThemedButton();
    InitThemedSpeedButton();
  }
  void TearDown() override {
    root = nullptr;
    EmptyPendingReleaseList();
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    InitStdFrameControlHooks();
    InitButtonTheme();
    InitSpeedButtonTheme();
    FinalizeThemedPartDraw();
    FinalizeThemedControlUtils();
    FinalizeThemeServices();
    FinalizeUxTheme();
    unsetenv(uxtheme::kStyleVariable);
    CompositeTest::TearDown();
  }
  // The classic look (visual styles off) or the program's visual style.
  static void UseClassic(bool classic) {
    if (classic)
      setenv(uxtheme::kStyleVariable, "classic", 1);
    else
      unsetenv(uxtheme::kStyleVariable);
  }
  TThemedFrameButton* Button(TFrameControl* parent, const std::u16string& caption, int32_t x = 10, int32_t y = 10) {
    auto* b = dynamic_cast<TThemedFrameButton*>(AllocFrameButton(parent->CreateChildFrame(), nullptr));
    b->SetName("button");
    b->SetPosition(x, y);
    if (!caption.empty()) b->GetCaption()->SetCaption(caption);
    return b;
  }
  TThemedSpeedButton* Speed(TFrameControl* parent, const std::u16string& caption, int32_t x = 10, int32_t y = 10) {
    auto* b = dynamic_cast<TThemedSpeedButton*>(_AllocFrameSpeedButton(parent->CreateChildFrame(), nullptr));
    b->SetName("speed");
    b->SetPosition(x, y);
    if (!caption.empty()) b->GetCaption()->SetCaption(caption);
    return b;
  }
  // Mouse at root coordinates.
  void Mouse(int32_t x, int32_t y, uint8_t kind, int32_t button = 0) { frame->MouseEvent(0, x, y, kind, button); }
  // Advances the fake clock and runs the refresh timers that came due.
  void Tick(uint32_t ms) {
    backend->Advance(ms);
    Drain();
  }
  uint32_t SurfacePixel(int32_t x, int32_t y) {
    frame->RecalcInvalidRegion();
    return frame->Surface()->PixelAt(x, y) & 0xFFFFFFu;
  }
};

}  // namespace kav::test
