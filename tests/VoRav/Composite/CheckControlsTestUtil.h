// The fixture of the check-box, radio-button, progress-bar and bevel tests:
// the system style set, the real allocators, the painter hooks put back
// after each test, and controls whose look (hot, pressed, disabled) can be
// set directly.
#pragma once

#include <cstdlib>
#include <string>

#include "VoRav/Composite/vxThemedBevel.h"
#include "VoRav/Composite/vxThemedCheckBox.h"
#include "VoRav/Composite/vxThemedProgressBar.h"
#include "VoRav/Composite/vxThemedProgressBarStdTheme.h"
#include "VoRav/Composite/vxThemedRadioButton.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winThemedBevelTheme.h"
#include "VoRav/Composite/winThemedCheckBoxTheme.h"
#include "VoRav/Composite/winThemedProgressBarTheme.h"
#include "VoRav/Composite/winThemedRadioButtonTheme.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"

namespace kav::test {

// Sets the control's hot and pressed flags (look 1 hot, 2 pressed, 3
// disabled, else normal) and asks for the picture.
template <class T>
class TLook : public T {
 public:
  using T::T;
  void Force(int32_t look) {
    if (look == 3) {
      this->SetEnabled(false);
      return;
    }
    this->hot_ = look == 1 || look == 2;
    this->pressed_ = look == 2;
    this->RefreshPicture();
  }
};
using TLookCheckBox = TLook<TThemedFrameCheckBox>;
using TLookRadioButton = TLook<TThemedFrameRadioButton>;
template <class T>
void Look(T* control, int32_t look) {
  control->Force(look);
}

// Turns the visual style off (classic) or on for the test's duration.
class TStyleEnvironment {
 public:
  TStyleEnvironment() {
    const char* v = std::getenv("KAV_VISUAL_STYLES");
    had_ = v != nullptr;
    if (v) saved_ = v;
  }
  ~TStyleEnvironment() {
    if (had_)
      setenv("KAV_VISUAL_STYLES", saved_.c_str(), 1);
    else
      unsetenv("KAV_VISUAL_STYLES");
  }
  void Set(bool classic) {
    if (classic)
      setenv("KAV_VISUAL_STYLES", "classic", 1);
    else
      unsetenv("KAV_VISUAL_STYLES");
  }

 private:
  bool had_ = false;
  std::string saved_;
};

class CheckControlsTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitWinFrameControls();
    SetDefaultControlStyles(DefaultWinControlStyles());
    saved_check_ = AllocCheckBoxTheme;
    saved_radio_ = AllocRadioButtonTheme;
    saved_progress_ = AllocProgressBarTheme;
    saved_bevel_ = AllocBevelTheme;
    InitThemedCheckBoxTheme();
    InitThemedRadioButtonTheme();
    InitThemedCheckBox();
    InitThemedRadioButton();
    InitThemedProgressBarStdTheme();
    InitThemedProgressBar();
    InitFrameBevel();
    InitThemedBevel();
  }
  void TearDown() override {
    root = nullptr;
    EmptyPendingReleaseList();
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    AllocCheckBoxTheme = saved_check_;
    AllocRadioButtonTheme = saved_radio_;
    AllocProgressBarTheme = saved_progress_;
    AllocBevelTheme = saved_bevel_;
    InitStdFrameControlHooks();
    InitFrameBevel();
    CompositeTest::TearDown();
  }
  // The visual-styles painters become the ones new style sets get.
  void InstallStyledPainters() {
    InitWinThemedCheckBoxTheme();
    InitWinThemedRadioButtonTheme();
    InitWinThemedProgressBarTheme();
    InitWinThemedBevelTheme();
  }
  void Tick(uint32_t ms) {
    backend->Advance(ms);
    Drain();
  }
  // Mouse input at root coordinates.
  void Mouse(uint8_t kind, int32_t x, int32_t y, int32_t button = kMouseLeft) {
    frame->MouseEvent(0, x, y, kind, kind == kMouseMove ? 0 : button);
  }
  void Click(int32_t x, int32_t y) {
    Mouse(kMouseMove, x, y);
    Mouse(kMouseDown, x, y);
    Mouse(kMouseUp, x, y);
  }
  void Key(uint16_t key) {
    TKeyData k;
    k.Kind = 1;
    k.Key = key;
    root->DispatchKey(&k);
  }
  // The surface painted now, as an opaque 32-bit bitmap.
  Ref<TSysBitmap> SurfaceBitmap() {
    return test::SurfaceBitmap(frame, frame->Surface()->Width(), frame->Surface()->Height());
  }

 private:
  TCheckBoxThemeFactory saved_check_ = nullptr;
  TRadioButtonThemeFactory saved_radio_ = nullptr;
  TProgressBarThemeFactory saved_progress_ = nullptr;
  TBevelThemeFactory saved_bevel_ = nullptr;
};

}  // namespace kav::test
