// System-loaded styles, the system-colour brush, the window focus helper
// and the toolkit's start-up values.
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winFrameEdit.h"
#include "VoRav/Composite/winFrameForms.h"
#include "VoRav/Composite/winTabsThemes.h"
#include "VoRav/Composite/winXPFrameScrollBarTheme.h"

#include "VoRav/Win32/Text/winFontUtils.h"

namespace kav {

namespace {

constexpr uint32_t kQueryUIState = 0x129;  // WM_QUERYUISTATE
constexpr win::LRESULT kHideFocus = 1;     // UISF_HIDEFOCUS

TColor32 SysColor(int32_t index) { return ColorFromColorRef(win::GetSysColor(index), 255); }

TRGBTriple Triple(int32_t index) { return ColorToRGBTriple(win::GetSysColor(index)); }

}  // namespace

int32_t CaretBlinkTime = 530;
int32_t KeyRepeatDelay = 500;
int32_t KeyRepeatInterval = 33;

TColor32 TSysColorBrush::GetColor() { return SysColor(index_); }

TWinControlStyles::TWinControlStyles() {
  FaceBrush = MakeRef<TSysColorBrush>(win::COLOR_BTNFACE);
  LoadSystemColors();
}

void TWinControlStyles::LoadSystemColors() {
  int32_t dx = 0, dy = 0;
  win::GetScreenDpi(dx, dy);
  if (dx > 0 && dy > 0) {
    ScaleX = dx / 96.0;
    ScaleY = dy / 96.0;
  }
  const TFontDesc gui = GetDefaultGuiFont();
  NormalFont = gui;
  NormalFont.Color1 = Triple(win::COLOR_WINDOWTEXT);
  NormalFont.Color2 = Triple(win::COLOR_WINDOW);
  WindowColor = SysColor(win::COLOR_WINDOW);
  InfoBackground = SysColor(win::COLOR_INFOBK);
  SelectionFont = gui;
  SelectionFont.Color1 = Triple(win::COLOR_HIGHLIGHTTEXT);
  SelectionFont.Color2 = Triple(win::COLOR_HIGHLIGHT);
  HighlightColor = SysColor(win::COLOR_HIGHLIGHT);
  ControlFont = gui;
  ControlFont.Color2 = Triple(win::COLOR_BTNFACE);
  ControlFont.Mode = 0;  // background painted
  FaceColor = SysColor(win::COLOR_BTNFACE);
  FrameColor = SysColor(win::COLOR_WINDOWFRAME);
  LightColor = SysColor(win::COLOR_3DLIGHT);
  HilightColor = SysColor(win::COLOR_3DHILIGHT);
  ShadowColor = SysColor(win::COLOR_3DSHADOW);
  DarkShadowColor = SysColor(win::COLOR_3DDKSHADOW);
  MixedFace = ColorLerp(FaceColor, WindowColor, 176);
  MakeDottedPattern();
  HScrollArrow = TSize{win::GetSystemMetrics(win::SM_CXHSCROLL), win::GetSystemMetrics(win::SM_CYHSCROLL)};
  VScrollArrow = TSize{win::GetSystemMetrics(win::SM_CXVSCROLL), win::GetSystemMetrics(win::SM_CYVSCROLL)};
  VThumb = win::GetSystemMetrics(win::SM_CYVTHUMB);
  HThumb = win::GetSystemMetrics(win::SM_CXHTHUMB);
}

TWinFocusHelper::TWinFocusHelper(TWinHandleFocusRoot* root) : root_(root) {
  if (root_) root_->SetUIStateCallback(TDelegate<void()>::Bind<&TWinFocusHelper::UIStateChanged>(this));
}

void TWinFocusHelper::Dispose() {
  // The root must not call into a helper that is gone.
  if (root_) root_->SetUIStateCallback(nullptr);
  root_ = nullptr;
  TFocusHelper::Dispose();
}

bool TWinFocusHelper::ShowFocusRect() {
  const win::HWND h = root_ ? root_->RootWindow() : 0;
  if (h == 0) return true;
  return (win::SendMessage(h, kQueryUIState, 0, 0) & kHideFocus) == 0;
}

void TWinFocusHelper::UIStateChanged() { Raise(1); }

int32_t KeyRepeatDelayFromSetting(int32_t setting) { return setting * 750 / 3 + 250; }

int32_t KeyRepeatIntervalFromSetting(int32_t speed) { return (31 - speed) * 12 + 32; }

namespace {

bool WindowLayerQuery(uint32_t action, int32_t* value) { return win::SystemParametersInfo(action, 0, value, 0); }

TFocusHelperFactory g_previous_factory = nullptr;
bool g_hook_installed = false;
Ref<TWinControlStyles> g_default_styles;

Ref<TFocusHelper> WinFocusHelperFactory(TFocusRoot* root) {
  if (auto* win_root = dynamic_cast<TWinHandleFocusRoot*>(root)) return MakeRef<TWinFocusHelper>(win_root);
  return g_previous_factory ? g_previous_factory(root) : MakePlainFocusHelper(root);
}

}  // namespace

void ReadKeyboardTiming(TSystemParamQuery query) {
  if (!query) query = &WindowLayerQuery;
  CaretBlinkTime = int32_t(win::GetCaretBlinkTime());
  int32_t v = 0;
  if (query(win::SPI_GETKEYBOARDDELAY, &v)) KeyRepeatDelay = KeyRepeatDelayFromSetting(v);
  if (query(win::SPI_GETKEYBOARDSPEED, &v)) KeyRepeatInterval = KeyRepeatIntervalFromSetting(v);
}

void InitWinFrameControls() {
  if (!g_hook_installed) {
    g_previous_factory = SetFocusHelperFactory(&WinFocusHelperFactory);
    g_hook_installed = true;
  }
  if (!g_default_styles) {
    g_default_styles = MakeRef<TWinControlStyles>();
    MakeRef<TWinXPFrameScrollBarTheme>(g_default_styles.get());  // kept by the styles
    AttachWinFrameEditTheme(g_default_styles.get());
  }
  InitWinTabsTheme();
  ReadKeyboardTiming();
  // A theme change reloads the default styles' system colours.
  ReloadDefaultStyleColors = [] {
    if (g_default_styles) g_default_styles->LoadSystemColors();
  };
}

void FinalizeWinFrameControls() {
  FinalizeThemedTabControl();
  ReloadDefaultStyleColors = nullptr;
  g_default_styles = nullptr;
  if (g_hook_installed) {
    SetFocusHelperFactory(g_previous_factory);
    g_previous_factory = nullptr;
    g_hook_installed = false;
  }
}

TWinControlStyles* DefaultWinControlStyles() { return g_default_styles.get(); }

}  // namespace kav
