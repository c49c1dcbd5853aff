#include "VoRav/Composite/vxThemedProgressBarTheme.h"

#include <algorithm>

#include "VoRav/Composite/vxFrameControls.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

TProgressBarTheme* NoProgressBarTheme(TControlStyles*) { KAV_ASSERT_FAIL("AllocProgressBarTheme undefined"); }

}  // namespace

TProgressBarThemeFactory AllocProgressBarTheme = NoProgressBarTheme;

void ResetProgressBarThemeFactory() { AllocProgressBarTheme = NoProgressBarTheme; }

TProgressBarTheme* ProgressBarThemeOf(TControlStyles* styles) {
  if (!styles) styles = DefaultControlStyles();
  KAV_ASSERT(styles != nullptr);
  if (TProgressBarTheme* t = styles->FindTheme<TProgressBarTheme>()) return t;
  return AllocProgressBarTheme(styles);
}

// --- TProgressBarDrawer ---

TProgressBarDrawer::TProgressBarDrawer(TProgressBarTheme* painter, Ref<TProgressAnimator> animator)
    : painter_(painter), animator_(std::move(animator)) {}

void TProgressBarDrawer::Dispose() {
  picture_ = nullptr;
  bitmap_ = nullptr;
  animator_ = nullptr;
  TRefObject::Dispose();
}

void TProgressBarDrawer::DropPicture(bool bitmap) {
  picture_ = nullptr;
  if (bitmap) bitmap_ = nullptr;
}

// --- TProgressBarTheme ---

void TProgressBarTheme::AddDrawer(TProgressBarDrawer* drawer) {
  KAV_ASSERT(drawer != nullptr);
  drawers_.push_back(drawer);
}

void TProgressBarTheme::RemoveDrawer(TProgressBarDrawer* drawer) {
  auto it = std::find(drawers_.begin(), drawers_.end(), drawer);
  KAV_ASSERT(it != drawers_.end());
  drawers_.erase(it);
}

void TProgressBarTheme::Dispose() {
  KAV_ASSERT(drawers_.empty());
  TFrameControlTheme::Dispose();
}

}  // namespace kav
