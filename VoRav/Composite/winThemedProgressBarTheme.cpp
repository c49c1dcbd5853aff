#include "VoRav/Composite/winThemedProgressBarTheme.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Composite/winThemedPartDraw.h"
#include "VoRav/Composite/winUxTheme.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav {

namespace {

enum : int32_t { kPartBar = 1, kPartChunk = 3, kPartFill = 5, kPartTransparentBar = 11 };

TProgressBarTheme* WinProgressBarTheme(TControlStyles* styles) {
  Ref<TWinProgressBarTheme> t = MakeRef<TWinProgressBarTheme>(styles);
  return t.get();  // the style set keeps it
}

TThemedElementDetails Progress(int32_t part, int32_t state) { return TThemedElementDetails{teProgress, part, state}; }

TRect Clip(const TRect& r, const TRect& to) {
  return TRect{std::max(r.Left, to.Left), std::max(r.Top, to.Top), std::min(r.Right, to.Right),
               std::min(r.Bottom, to.Bottom)};
}

}  // namespace

void RecolorProgressChunk(TSysBitmap* bitmap, const TRect& rect, uint8_t kind) {
  if (kind < 1 || kind > 3 || !bitmap) return;
  const TRect r = Clip(rect, TRect{0, 0, bitmap->Width(), bitmap->Height()});
  const int32_t bpp = bitmap->BytesPerPixel();
  if (r.IsEmpty() || bpp < 3) return;
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) {
      uint8_t* p = bitmap->PixelAddress(x, y);  // blue, green, red (, alpha)
      const int32_t l = std::min(255, int32_t(std::lround(0.3 * p[2] + 0.59 * p[1] + 0.11 * p[0])));
      const uint8_t v = uint8_t(l);
      p[2] = kind == 3 ? 0 : v;
      p[1] = kind == 2 ? v : 0;
      p[0] = kind == 3 ? v : 0;
    }
}

TRect TWinProgressBarDrawer::FillArea() {
  const TRect whole{0, 0, width_, height_};
  TRect content = whole;
  const int32_t part = TransparentBar && ThemeIsPartDefined(Progress(kPartTransparentBar, 1)) ? kPartTransparentBar
                                                                                            : kPartBar;
  // The bar part's state 0 is its only state.
  if (ThemeCallEntry(Progress(part, 0), nullptr, whole, content) != uxtheme::S_OK) content = whole;
  return content;
}

int32_t TWinProgressBarDrawer::CurrentExtent() {
  if (!styled_ || marquee_) return TStdDrawer::CurrentExtent();
  const TRect fill = FillArea();
  const float v = std::clamp(animator_->GetValue(), 0.0f, 1.0f);
  return int32_t(std::lround(fill.Width() * v));
}

Ref<TImage> TWinProgressBarDrawer::GetPicture() {
  const bool styled = ThemeServices()->ThemesEnabled();
  if (styled != styled_) {
    styled_ = styled;
    DropPicture(true);
  }
  if (!styled_) return TStdDrawer::GetPicture();
  if (picture_) return picture_;
  if (width_ < 1 || height_ < 1) return nullptr;
  // Each drawer keeps a 32-bit bitmap of its own size (not one shared by the
  // painter), since its picture wraps that bitmap.
  if (!bitmap_ || bitmap_->Width() != width_ || bitmap_->Height() != height_)
    bitmap_ = CreateSysBitmap(width_, height_, StdFormats().A8R8G8B8);
  if (!bitmap_) return nullptr;
  DrawInto(bitmap_.get());
  picture_ = ImageFromBitmap(bitmap_.get(), false, u"");
  return picture_;
}

void TWinProgressBarDrawer::DrawInto(TSysBitmap* bitmap) {
  if (!styled_) {
    TStdDrawer::DrawInto(bitmap);
    return;
  }
  TControlStyles* s = painter_->Styles();
  const TRect whole{0, 0, width_, height_};
  const int32_t bar = TransparentBar && ThemeIsPartDefined(Progress(kPartTransparentBar, 1)) ? kPartTransparentBar
                                                                                           : kPartBar;
  DrawThemedPartInto(bitmap, Progress(bar, 0), s->FaceColor, whole);
  const TRect area = FillArea();
  last_extent_ = CurrentExtent();
  if (area.IsEmpty()) return;
  TRect fill;
  if (marquee_) {
    // The marquee: a block of five segment steps ending at the position.
    const TProgressGeometry g = ProgressGeometry(width_, height_, kind_);
    const int32_t right = area.Left + animator_->GetMarqueePosition();
    fill = Clip(TRect{right - 5 * std::max(g.Step(), 1), area.Top, right, area.Bottom}, area);
  } else {
    fill = TRect{area.Left, area.Top, area.Left + last_extent_, area.Bottom};
  }
  if (fill.IsEmpty()) return;
  if (ThemeIsPartDefined(Progress(kPartFill, kind_ + 1))) {
    ThemeDrawBackground(Progress(kPartFill, kind_ + 1), bitmap, fill, &fill);
    return;
  }
  int32_t chunk = 0, space = 0;
  ThemeGetInt(Progress(kPartChunk, 1), uxtheme::TMT_PROGRESSCHUNKSIZE, chunk);
  ThemeGetInt(Progress(kPartChunk, 1), uxtheme::TMT_PROGRESSSPACESIZE, space);
  // A theme with no chunk size and no space would divide by zero: the fill
  // is then one chunk.
  if (chunk < 1 && space < 1) chunk = fill.Width();
  chunk = std::max(chunk, 1);
  space = std::max(space, 0);
  const int32_t count = int32_t(std::ceil(double(fill.Width()) / double(chunk + space)));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t left = fill.Left + i * (chunk + space);
    const TRect r{left, fill.Top, left + chunk, fill.Bottom};
    const TRect c = Clip(r, fill);
    if (c.IsEmpty()) continue;
    ThemeDrawBackground(Progress(kPartChunk, 1), bitmap, r, &c);
    RecolorProgressChunk(bitmap, c, kind_);
  }
}

Ref<TProgressBarDrawer> TWinProgressBarTheme::CreateDrawer() {
  return MakeRef<TWinProgressBarDrawer>(this, MakeRef<TStdProgressAnimator>());
}

void InitWinThemedProgressBarTheme() {
  if (LoadUxTheme()) AllocProgressBarTheme = WinProgressBarTheme;
  FreeUxTheme();
}

}  // namespace kav
