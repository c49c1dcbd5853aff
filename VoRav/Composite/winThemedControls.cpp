#include "VoRav/Composite/winThemedControls.h"

#include "VoRav/Composite/vxFormServices.h"
#include "VoRav/Composite/vxFrameBevel.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/vxThemedBevel.h"
#include "VoRav/Composite/vxThemedButton.h"
#include "VoRav/Composite/vxThemedButtonTheme.h"
#include "VoRav/Composite/vxThemedCheckBox.h"
#include "VoRav/Composite/vxThemedFrameScrollBar.h"
#include "VoRav/Composite/vxThemedProgressBar.h"
#include "VoRav/Composite/vxThemedProgressBarStdTheme.h"
#include "VoRav/Composite/vxThemedRadioButton.h"
#include "VoRav/Composite/vxThemedSpeedButton.h"
#include "VoRav/Composite/winClipbrd.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winDialogHost.h"
#include "VoRav/Composite/winFrameFormTree.h"
#include "VoRav/Composite/winFrames.h"
#include "VoRav/Composite/winThemedBevelTheme.h"
#include "VoRav/Composite/winThemedButtonTheme.h"
#include "VoRav/Composite/winThemedCheckBoxTheme.h"
#include "VoRav/Composite/winThemedProgressBarTheme.h"
#include "VoRav/Composite/winThemedRadioButtonTheme.h"
#include "VoRav/Composite/winThemedSpeedButtonTheme.h"
#include "VoRav/Composite/winThemes2.h"

namespace kav {

namespace {

// The painter factories as they were before the start, put back at the end.
struct TSavedFactories {
  TButtonThemeFactory Button = nullptr;
  TSpeedButtonThemeFactory SpeedButton = nullptr;
  TCheckBoxThemeFactory CheckBox = nullptr;
  TRadioButtonThemeFactory RadioButton = nullptr;
  TProgressBarThemeFactory ProgressBar = nullptr;
  TBevelThemeFactory Bevel = nullptr;
};
TSavedFactories g_saved;

}  // namespace

void InitializeThemedControls() {
  g_saved = {AllocButtonTheme,  AllocSpeedButtonTheme, AllocCheckBoxTheme,
             AllocRadioButtonTheme, AllocProgressBarTheme, AllocBevelTheme};
  SubscribeRootRegistry();
  InitWinFrameControls();
  SetDefaultControlStyles(DefaultWinControlStyles());
  InitThemedFrameScrollBar();
  InitWinClipboard();
  InitEditContextMenu();
  // Each control: classic painter factory, control allocator, then the
  // visual-style painter that takes the factory over.
  InitButtonTheme();
  InitSpeedButtonTheme();
  InitWinXPButtonTheme();
  InitWinXPSpeedButtonTheme();
  InitThemedButton();
  InitThemedSpeedButton();
  InitThemedCheckBoxTheme();
  InitThemedRadioButtonTheme();
  InitThemedCheckBox();
  InitThemedRadioButton();
  InitWinThemedCheckBoxTheme();
  InitWinThemedRadioButtonTheme();
  InitThemedProgressBarStdTheme();
  InitThemedProgressBar();
  InitWinThemedProgressBarTheme();
  InitFrameBevel();
  InitThemedBevel();
  InitWinThemedBevelTheme();
  InitializeFrameForms();
  InitializeDialogHost();
}

void FinalizeThemedControls() {
  FinalizeDialogHost();
  EmptyPendingReleaseList();
  FinalizeFrameForms();
  FinalizeThemedFrameScrollBar();
  FinalizeEditContextMenu();
  FinalizeWinClipboard();
  FinalizeWinFrameControls();
  InitStdFrameControlHooks();  // the allocators back to their defaults
  InitFrameBevel();
  AllocButtonTheme = g_saved.Button;
  AllocSpeedButtonTheme = g_saved.SpeedButton;
  AllocCheckBoxTheme = g_saved.CheckBox;
  AllocRadioButtonTheme = g_saved.RadioButton;
  AllocProgressBarTheme = g_saved.ProgressBar;
  AllocBevelTheme = g_saved.Bevel;
  SetDefaultControlStyles(nullptr);
  UnsubscribeRootRegistry();
  FinalizeFrameControls();
  FinalizeThemeServices();
}

}  // namespace kav
