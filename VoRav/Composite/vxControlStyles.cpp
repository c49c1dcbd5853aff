// The style set, brushes, control-theme base and the focus helper.
#include "VoRav/Composite/vxControlStyles.h"

#include <algorithm>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Win32/Text/winFontUtils.h"

namespace kav {

void TFrameBrush::Paint(TBrushCanvas* canvas, const TRect& rect) {
  if (canvas) canvas->FillRect(rect, GetColor());
}

void TFrameBrush::PaintClipped(TBrushCanvas* canvas, const TRect& rect, const TRect& clip) {
  const TRect r{std::max(rect.Left, clip.Left), std::max(rect.Top, clip.Top), std::min(rect.Right, clip.Right),
                std::min(rect.Bottom, clip.Bottom)};
  if (r.IsEmpty() || !canvas) return;
  canvas->FillRect(r, GetColor());
}

TControlStyles::TControlStyles() {
  NormalFont = GetDefaultGuiFont();
  SelectionFont = NormalFont;
  ControlFont = NormalFont;
  MakeDottedPattern();
}

void TControlStyles::Dispose() {
  FaceBrush = nullptr;
  DottedPattern = nullptr;
  // The list drops its references to the attached themes.
  if (themes_) themes_->FreeAllDetached();
  themes_.reset();
  TRefObject::Dispose();
}

TList* TControlStyles::AttachedThemes() {
  if (!themes_) themes_ = std::make_unique<TList>();
  return themes_.get();
}

void TControlStyles::MakeDottedPattern() {
  Ref<TSysBitmap> b = CreateSysBitmap(32, 32, StdFormats().A8R8G8B8);
  const TColor32 on = ColorSetAlpha(FrameColor, 255);
  for (int32_t y = 0; y < 32; ++y) {
    uint8_t* row = b->Row(y);
    for (int32_t x = 0; x < 32; ++x) {
      const TColor32 c = (x + y) % 2 == 0 ? kTransparentColor : on;
      row[x * 4] = ColorBlue(c);
      row[x * 4 + 1] = ColorGreen(c);
      row[x * 4 + 2] = ColorRed(c);
      row[x * 4 + 3] = ColorAlpha(c);
    }
  }
  DottedPattern = std::move(b);
}

void TControlStyles::Assign(TControlStyles* source) {
  if (!source || source == this) return;
  FaceBrush = source->FaceBrush;
  ScaleX = source->ScaleX;
  ScaleY = source->ScaleY;
  NormalFont = source->NormalFont;
  WindowColor = source->WindowColor;
  BorderColor = source->BorderColor;
  InfoBackground = source->InfoBackground;
  SelectionFont = source->SelectionFont;
  HighlightColor = source->HighlightColor;
  ControlFont = source->ControlFont;
  FaceColor = source->FaceColor;
  FrameColor = source->FrameColor;
  LightColor = source->LightColor;
  HilightColor = source->HilightColor;
  ShadowColor = source->ShadowColor;
  DarkShadowColor = source->DarkShadowColor;
  MixedFace = source->MixedFace;
  DottedPattern = nullptr;
  if (source->DottedPattern) {
    Ref<TBitmap> copy = source->DottedPattern->CreateCopy();
    DottedPattern = Ref<TSysBitmap>(AsSysBitmap(copy.get()));
  }
}

TFrameControlTheme::TFrameControlTheme(TControlStyles* styles) : styles_(styles) {
  if (!styles) return;
  RefAddRef(this);
  styles->AttachedThemes()->Add(this);
}

void TFocusHelper::AddListener(TListener listener) {
  if (listener) listeners_.push_back(listener);
}

void TFocusHelper::RemoveListener(TListener listener) {
  auto it = std::find(listeners_.begin(), listeners_.end(), listener);
  if (it != listeners_.end()) listeners_.erase(it);
}

void TFocusHelper::Raise(int32_t code) {
  Ref<TFocusHelper> keep(this);
  // A copy, so that listeners may come and go while it runs.
  const std::vector<TListener> now = listeners_;
  for (const TListener& l : now)
    if (std::find(listeners_.begin(), listeners_.end(), l) != listeners_.end()) l(this, code);
}

namespace {
TFocusHelperFactory g_focus_factory = &MakePlainFocusHelper;
}  // namespace

Ref<TFocusHelper> MakePlainFocusHelper(TFocusRoot* /*root*/) { return MakeRef<TFocusHelper>(); }

TFocusHelperFactory SetFocusHelperFactory(TFocusHelperFactory factory) {
  TFocusHelperFactory old = g_focus_factory;
  g_focus_factory = factory ? factory : &MakePlainFocusHelper;
  return old;
}

TFocusHelper* AttachFocusHelper(TFocusRoot* root) {
  if (!root) return nullptr;
  TList& list = root->AttachedObjects();
  int32_t i = -1;
  if (list.FindInstanceOf<TFocusHelper>(i)) return static_cast<TFocusHelper*>(static_cast<TRefObject*>(list.Get(i)));
  Ref<TFocusHelper> helper = g_focus_factory(root);
  if (!helper) return nullptr;
  TFocusHelper* raw = helper.get();
  list.Add(helper.release());
  return raw;
}

}  // namespace kav
