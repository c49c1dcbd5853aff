#include "VoRav/Composite/winXPFrameScrollBarTheme.h"

#include "VoRav/Graphics/SysBitmapAlphaUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Win32/winAPI0.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Theme parts of the class "scrollbar".
enum : int32_t {
  kPartArrow = 1,
  kPartThumbH = 2,
  kPartThumbV = 3,
  kPartLowerTrackH = 4,
  kPartUpperTrackH = 5,
  kPartLowerTrackV = 6,
  kPartUpperTrackV = 7,
  kPartGripperH = 8,
  kPartGripperV = 9,
  kPartSizeBox = 10,
};

int32_t BaseState(uint32_t word) {
  switch (word) {
    case kSbWordHot: return 1;
    case kSbWordPressed: return 2;
    case kSbWordDisabled: return 3;
    default: return 0;  // Normal and Focused
  }
}

}  // namespace

TThemedElementDetails ScrollBarElementDetails(const TScrollBarPartKey& key, bool hover) {
  const bool h = key.Orientation == kSbHorizontal;
  const int32_t base = BaseState(key.State);
  const bool hovering = hover && key.State == kSbWordFocused && key.Part != kSbSizeBox;
  TThemedElementDetails d{teScrollBar, 0, 0};
  switch (key.Part) {
    case kSbFirstButton:
      d.Part = kPartArrow;
      d.State = hovering ? (h ? 19 : 17) : (h ? 9 : 1) + base;
      break;
    case kSbSecondButton:
      d.Part = kPartArrow;
      d.State = hovering ? (h ? 20 : 18) : (h ? 13 : 5) + base;
      break;
    case kSbThumb: d.Part = h ? kPartThumbH : kPartThumbV; break;
    case kSbUpperTrack: d.Part = h ? kPartUpperTrackH : kPartUpperTrackV; break;
    case kSbLowerTrack: d.Part = h ? kPartLowerTrackH : kPartLowerTrackV; break;
    default:
      d.Part = kPartSizeBox;
      d.State = h ? 1 : 2;
      return d;
  }
  if (d.Part != kPartArrow) d.State = hovering ? 5 : 1 + base;
  return d;
}

bool TWinXPFrameScrollBarTheme::StylesOn() { return ThemeServices()->ThemesEnabled(); }

bool TWinXPFrameScrollBarTheme::GetTransitionTime(int32_t part, uint32_t old_state, uint32_t& milliseconds,
                                                  uint32_t new_state) {
  if (!StylesOn()) return TWin9xFrameScrollBarTheme::GetTransitionTime(part, old_state, milliseconds, new_state);
  milliseconds = (new_state & ~old_state) != 0 ? 100 : 500;
  if ((old_state ^ new_state) & kSbPressed) milliseconds = 50;
  return true;
}

void TWinXPFrameScrollBarTheme::Render(TSysBitmap* bitmap, const TThemedElementDetails& details, bool thumb,
                                       uint8_t orientation) {
  const TRect all{0, 0, bitmap->Width(), bitmap->Height()};
  ThemeDrawBackground(details, bitmap, all, nullptr);
  if (!thumb) return;
  // The gripper thresholds are the 17-pixel metrics at the style set's scale.
  const int32_t length = ButtonLength(orientation), thickness = Thickness(orientation);
  if (orientation == kSbHorizontal && all.Width() > length && all.Height() >= thickness)
    ThemeDrawBackground(TThemedElementDetails{teScrollBar, kPartGripperH, details.State}, bitmap, all, nullptr);
  else if (orientation == kSbVertical && all.Width() >= thickness && all.Height() > length)
    ThemeDrawBackground(TThemedElementDetails{teScrollBar, kPartGripperV, details.State}, bitmap, all, nullptr);
}

Ref<TImage> TWinXPFrameScrollBarTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  if (!StylesOn()) return TWin9xFrameScrollBarTheme::DrawPart(key, size, offset);
  offset = TPoint{0, 0};
  if (size.cx < 1 || size.cy < 1) return nullptr;
  TScrollBarPartKey parsed;
  KAV_ASSERT(ParseScrollBarPartKey(key, parsed));
  const bool hover = GetOSVersionInfo().MajorVersion >= 6;
  TThemedElementDetails details = ScrollBarElementDetails(parsed, hover);
  bool thumb = parsed.Part == kSbThumb;
  if (thumb && parsed.State == kSbWordDisabled) {
    TScrollBarPartKey track = parsed;
    track.Part = kSbLowerTrack;
    details = ScrollBarElementDetails(track, hover);
    thumb = false;
  }
  Ref<TSysBitmap> b32 = CreateSysBitmap(size.cx, size.cy, StdFormats().A8R8G8B8);
  if (!b32) return nullptr;
  b32->FillRect(TRect{0, 0, size.cx, size.cy}, 0);
  Render(b32.get(), details, thumb, parsed.Orientation);
  const TColor32 face = ColorSetAlpha(Styles()->FaceColor, 255);
  if (!PrepareAlphaForDisplay(b32.get(), face)) {
    // No usable alpha: the drawing on white tells coverage from colour.
    Ref<TSysBitmap> b24 = CreateSysBitmap(size.cx, size.cy, StdFormats().R8G8B8);
    if (!b24) return nullptr;
    b24->FillRect(TRect{0, 0, size.cx, size.cy}, 0xFFFFFFFFu);
    Render(b24.get(), details, thumb, parsed.Orientation);
    AlphaFromTwoBackgrounds(b32.get(), b24.get(), size.cx, face, size.cy);
  }
  return ImageFromBitmap(b32.get(), false, u"");
}

}  // namespace kav
