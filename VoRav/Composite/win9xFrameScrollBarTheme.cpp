#include "VoRav/Composite/win9xFrameScrollBarTheme.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Composite/vxThemedControlUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmapUtils.h"
#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

const char16_t* const kPartNames[6] = {u"sbFirstButton", u"sbSecondButton", u"sbThumb",
                                       u"sbUpperTrack",  u"sbLowerTrack",   u"sbSizeBox"};

struct TStateWord {
  const char16_t* Word;
  uint32_t State;
};
// The order a key is searched in.
const TStateWord kStateWords[5] = {
    {u"Disabled", kSbWordDisabled}, {u"Normal", kSbWordNormal}, {u"Pressed", kSbWordPressed},
    {u"Hot", kSbWordHot},           {u"Focused", kSbWordFocused}};

// The metrics are the fixed sizes times the style set's scale (the sizes
// themselves at 100%), so bars grow with the screen resolution.
int32_t Metric(int32_t pixels, double scale) {
  return std::max(1, int32_t(std::lround(pixels * (scale > 0 ? scale : 1.0))));
}

TColor32 Opaque(TColor32 c) { return ColorSetAlpha(c, 255); }

// The arrow triangle of a box: the toolkit's cached glyph at 100%, else the
// same shape drawn at the scale (the glyph's shape is made for a 13-pixel
// box and outgrows larger ones).
Ref<TImage> ArrowPicture(int32_t w, int32_t h, TColor32 color, int32_t direction, double scale) {
  if (std::abs(scale - 1.0) < 1e-6) return Ref<TImage>(GetArrowGlyph(w, h, color, direction));
  const float s = float(scale), bw = float(w) / s, bh = float(h) / s;
  TPathPoint p[4];
  switch (direction % 4) {
    case 0:
      p[0] = {bw / 2, 4, kPathMove};
      p[1] = {bw / 2 - (bh - 9), bh - 5, kPathLine};
      p[2] = {bw / 2 + (bh - 9), bh - 5, kPathLine};
      break;
    case 1:
      p[0] = {bw / 2, bh - 4, kPathMove};
      p[1] = {bw / 2 - (bh - 9), 5, kPathLine};
      p[2] = {bw / 2 + (bh - 9), 5, kPathLine};
      break;
    case 2:
      p[0] = {4, bh / 2, kPathMove};
      p[1] = {bw - 5, bh / 2 - (bw - 9), kPathLine};
      p[2] = {bw - 5, bh / 2 + (bw - 9), kPathLine};
      break;
    default:
      p[0] = {bw - 4, bh / 2, kPathMove};
      p[1] = {5, bh / 2 - (bw - 9), kPathLine};
      p[2] = {5, bh / 2 + (bw - 9), kPathLine};
      break;
  }
  for (int i = 0; i < 3; ++i) p[i].x *= s, p[i].y *= s;
  p[3] = {0, 0, kPathClose};
  Ref<TRasterHelper> r = MakeRef<TRasterHelper>();
  r->SetFillColor(color);
  r->BeginPaintClear(w, h);
  r->SetClipRect(TRect{0, 0, w, h});
  r->DrawPath(p, false);
  Ref<TDirectBitmap> b = r->EndPaint();
  return ImageFromBitmap(b.get(), false, u"");
}

}  // namespace

bool ParseScrollBarPartKey(const std::u16string& key, TScrollBarPartKey& out) {
  if (key.empty() || (key[0] != u'H' && key[0] != u'V')) return false;
  out.Orientation = key[0] == u'H' ? kSbHorizontal : kSbVertical;
  out.Part = -1;
  for (int32_t i = 0; i < 6 && out.Part < 0; ++i)
    if (key.find(kPartNames[i]) != std::u16string::npos) out.Part = i;
  if (out.Part < 0) return false;
  out.State = kSbWordNormal;
  for (const TStateWord& w : kStateWords)
    if (key.find(w.Word) != std::u16string::npos) {
      out.State = w.State;
      break;
    }
  return true;
}

int32_t TWin9xFrameScrollBarTheme::ButtonLength(uint8_t orientation) {
  KAV_ASSERT(orientation <= kSbVertical);
  return Metric(17, orientation == kSbHorizontal ? Styles()->ScaleX : Styles()->ScaleY);
}

int32_t TWin9xFrameScrollBarTheme::Thickness(uint8_t orientation) {
  KAV_ASSERT(orientation <= kSbVertical);
  return Metric(17, orientation == kSbHorizontal ? Styles()->ScaleY : Styles()->ScaleX);
}

TSize TWin9xFrameScrollBarTheme::GetDefaultSize(uint8_t orientation) {
  KAV_ASSERT(orientation <= kSbVertical);
  if (orientation == kSbHorizontal) return TSize{Metric(121, Styles()->ScaleX), Thickness(orientation)};
  return TSize{Thickness(orientation), Metric(121, Styles()->ScaleY)};
}

TRect TWin9xFrameScrollBarTheme::GetButtonRect(TSize size, uint8_t orientation, int32_t index) {
  KAV_ASSERT(orientation <= kSbVertical);
  const int32_t b = ButtonLength(orientation);
  if (orientation == kSbHorizontal)
    return index == 0 ? TRect{0, 0, b, size.cy} : TRect{size.cx - b, 0, size.cx, size.cy};
  return index == 0 ? TRect{0, 0, size.cx, b} : TRect{0, size.cy - b, size.cx, size.cy};
}

TRect TWin9xFrameScrollBarTheme::GetTrackRect(TSize size, uint8_t orientation) {
  KAV_ASSERT(orientation <= kSbVertical);
  const int32_t b = ButtonLength(orientation);
  // A bar shorter than its two buttons has an empty track, not a reversed one.
  if (orientation == kSbHorizontal) return TRect{b, 0, std::max(b, size.cx - b), size.cy};
  return TRect{0, b, size.cx, std::max(b, size.cy - b)};
}

int32_t TWin9xFrameScrollBarTheme::GetThumbLength(const TRect& track, uint8_t orientation, float page) {
  KAV_ASSERT(orientation <= kSbVertical);
  const int32_t length = std::max(0, orientation == kSbHorizontal ? track.Width() : track.Height());
  const int32_t thumb = std::max(int32_t(std::lround(double(length) * page)), ButtonLength(orientation));
  // The shortest thumb is bounded by the track: a longer one would cover the
  // buttons and leave a negative free length.
  return std::min(thumb, length);
}

bool TWin9xFrameScrollBarTheme::GetTransitionTime(int32_t, uint32_t, uint32_t& milliseconds, uint32_t) {
  milliseconds = 0;
  return false;
}

std::u16string TWin9xFrameScrollBarTheme::GetPartName(int32_t part, uint32_t state, uint8_t orientation) {
  KAV_ASSERT(orientation <= kSbVertical);
  std::u16string key(1, orientation == kSbHorizontal ? u'H' : u'V');
  if (part >= 0 && part < 6) key += kPartNames[part];
  if (state & kSbDisabled)
    key += u"Disabled";
  else if (state & kSbPressed)
    key += part == kSbThumb || (state & kSbHot) ? u"Pressed" : u"Hot";
  else if (state & kSbHot)
    key += u"Hot";
  else if (state & kSbBarHot)
    key += u"Focused";
  else
    key += u"Normal";
  return key;
}

Ref<TImage> TWin9xFrameScrollBarTheme::DrawPart(const std::u16string& key, TSize size, TPoint& offset) {
  offset = TPoint{0, 0};
  if (size.cx < 1 || size.cy < 1) return nullptr;
  TScrollBarPartKey parsed;
  KAV_ASSERT(ParseScrollBarPartKey(key, parsed));
  return DrawClassicPart(parsed, size);
}

Ref<TImage> TWin9xFrameScrollBarTheme::DrawClassicPart(const TScrollBarPartKey& key, TSize size) {
  Ref<TSysBitmap> b = CreateSysBitmap(size.cx, size.cy, StdFormats().R8G8B8);
  if (!b) return nullptr;
  TControlStyles* st = Styles();
  const TColor32 face = Opaque(st->FaceColor), frame = Opaque(st->FrameColor), light = Opaque(st->LightColor),
                 hilight = Opaque(st->HilightColor), shadow = Opaque(st->ShadowColor),
                 dark = Opaque(st->DarkShadowColor);
  const TRGBTriple t = st->NormalFont.Color1;
  const TColor32 text = ColorRGBA(t.r, t.g, t.b, 255);
  const TColor32 track = Opaque(ColorAverage(face, hilight));
  const bool disabled = key.State == kSbWordDisabled, pressed = key.State == kSbWordPressed;
  const TRect all{0, 0, size.cx, size.cy};
  switch (key.Part) {
    case kSbFirstButton:
    case kSbSecondButton: {
      if (pressed)
        DrawClassicRaisedFrame(b.get(), shadow, face, face, face, shadow);
      else
        DrawClassicRaisedFrame(b.get(), light, hilight, face, shadow, dark);
      const TRect box{2, 2, size.cx - 2, size.cy - 2};
      if (box.Width() < 1 || box.Height() < 1) break;
      const int32_t direction = key.Orientation == kSbVertical ? (key.Part == kSbFirstButton ? 0 : 1)
                                                               : (key.Part == kSbFirstButton ? 2 : 3);
      const double scale = key.Orientation == kSbHorizontal ? st->ScaleY : st->ScaleX;
      Ref<TImage> arrow = ArrowPicture(box.Width(), box.Height(), disabled ? shadow : text, direction, scale);
      Ref<TBitmap> glyph = arrow ? arrow->GetBitmap() : nullptr;
      if (TSysBitmap* g = AsSysBitmap(glyph.get())) {
        const int32_t shift = pressed ? 1 : 0;
        const TPoint at{box.Left + shift, box.Top + shift};
        const TRect dest{at.X, at.Y, std::min(box.Right, at.X + g->Width()), std::min(box.Bottom, at.Y + g->Height())};
        BlendImageOnto24(b.get(), g, dest, TPoint{0, 0});
      }
      break;
    }
    case kSbThumb:
      if (disabled)
        b->FillRect(all, track);
      else
        DrawClassicRaisedFrame(b.get(), light, hilight, face, shadow, dark);
      break;
    case kSbUpperTrack:
    case kSbLowerTrack: b->FillRect(all, pressed ? frame : track); break;
    default: break;  // the size box is returned undrawn
  }
  return ImageFromBitmap(b.get(), false, u"");
}

}  // namespace kav
