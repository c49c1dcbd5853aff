#include "VoRav/Win32/Text/winFontUtils.h"

#include <algorithm>
#include <cmath>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageHook.h"

namespace kav {

ptext::PFont CreateFontFromDesc(std::u16string_view face, int32_t ppi, uint8_t style, float size) {
  ptext::TLogFont log;
  // A face longer than the record holds is cut to fit (it used to fail an
  // assertion and draw nothing).
  log.FaceName = std::u16string(face.substr(0, kMaxFaceNameLength));
  const double h = std::nearbyint(double(ppi) * double(size) / 72.0);
  log.Height = std::isfinite(h) ? -int32_t(std::clamp(h, -4096.0, 4096.0)) : 0;
  log.Weight = (style & fsBold) ? 700 : 0;
  log.Italic = style & fsItalic;
  log.Underline = style & fsUnderline;
  log.StrikeOut = style & fsStrikeOut;
  return ptext::CreateFont(log);
}

ptext::PFont CreateFontHandle(const TFontDesc& font) {
  return CreateFontFromDesc(font.FaceName, ptext::kScreenPixelsPerInch, font.Style, font.Size);
}

TFontDesc LogFontToFontDesc(const ptext::TLogFont& log, int32_t ppi) {
  TFontDesc d;
  d.FaceName = log.FaceName;
  d.Size = ppi > 0 ? float(-double(log.Height) * 72.0 / ppi) : 0.0f;
  d.Style = uint8_t((log.Weight >= 700 ? fsBold : 0) | (log.Italic ? fsItalic : 0) |
                    (log.Underline ? fsUnderline : 0) | (log.StrikeOut ? fsStrikeOut : 0));
  return d;
}

TFontDesc GetDefaultGuiFont() {
  // There is no system message font to ask: the face of Windows XP and later
  // stands in for it, in the classic button colours.
  TFontDesc d;
  FontDescSetAll(d, u"Tahoma", 8.25f, 0, TRGBTriple{0, 0, 0}, TRGBTriple{0xF0, 0xF0, 0xF0}, false);
  return d;
}

TTextMetrics GetTextMetricsOf(ptext::TPFont* font) {
  const ptext::TTextMetricsRec m = ptext::GetTextMetrics(font);
  return {m.Ascent, m.Descent, m.Height};
}

int32_t TextExtentWithOverhangs(ptext::TPFont* font, std::u16string_view text, int32_t start, int32_t& trailing,
                                int32_t& leading, int32_t count) {
  trailing = leading = 0;
  if (start < 0 || start >= int32_t(text.size()) || count < 1) return 0;
  const int32_t n = std::min<int32_t>(count, int32_t(text.size()) - start);
  const std::u16string_view range = text.substr(size_t(start), size_t(n));
  int32_t width = ptext::GetTextExtent(font, range);
  char32_t first = range.front(), last = range.back();
  if (range.size() >= 2 && first >= 0xD800 && first < 0xDC00)
    first = 0x10000 + ((first - 0xD800) << 10) + (range[1] - 0xDC00);
  if (range.size() >= 2 && last >= 0xDC00 && last < 0xE000 && range[range.size() - 2] >= 0xD800 &&
      range[range.size() - 2] < 0xDC00)
    last = 0x10000 + ((range[range.size() - 2] - 0xD800) << 10) + (last - 0xDC00);
  leading = ptext::GetCharABCWidths(font, first).A;
  trailing = ptext::GetCharABCWidths(font, last).C;
  if (leading < 0) width -= leading;
  if (trailing < 0) width -= trailing;
  return width;
}

void GetTextExtentMetrics(ptext::TPFont* font, std::u16string_view text, int32_t start, TTextExtentMetrics& out,
                          int32_t count) {
  out = TTextExtentMetrics();
  out.Width = TextExtentWithOverhangs(font, text, start, out.Trailing, out.Leading, count);
  const TTextMetrics m = GetTextMetricsOf(font);
  out.Height = m.Height;
  out.Ascent = m.Ascent;
  out.Descent = m.Descent;
  out.Inner = out.Width - out.Leading - out.Trailing;
}

int32_t TFontUtils::TextWidth(const TFontDesc& font, std::u16string_view text, int32_t count, int32_t start) {
  int32_t trailing = 0, leading = 0;
  const int32_t w = TextExtent(font, text, trailing, leading, count, start);
  return w - (leading < 0 ? -leading : 0) - (trailing < 0 ? -trailing : 0);
}

void TWinFontUtils::GetFontMetrics(const TFontDesc& font, TTextMetrics& out) {
  out = GetTextMetricsOf(CreateFontHandle(font).get());
}

void TWinFontUtils::GetUnderline(const TFontDesc& font, int32_t& position, int32_t& thickness) {
  ptext::TOutlineMetricsRec om;
  ptext::GetOutlineTextMetrics(CreateFontHandle(font).get(), om);
  position = om.UnderscorePosition;
  thickness = om.UnderscoreSize;
}

int32_t TWinFontUtils::TextExtent(const TFontDesc& font, std::u16string_view text, int32_t& trailing,
                                  int32_t& leading, int32_t count, int32_t start) {
  return TextExtentWithOverhangs(CreateFontHandle(font).get(), text, start, trailing, leading, count);
}

void TextBoundsRect(const TFontDesc& font, std::u16string_view text, TRect& out, int32_t count, int32_t start) {
  ptext::PFont f = CreateFontHandle(font);
  TTextExtentMetrics em;
  GetTextExtentMetrics(f.get(), text, start, em, count);
  out = TRect();
  out.Bottom = em.Height;
  const bool lines = font.Style & (fsUnderline | fsStrikeOut);
  if (FontDescIsTransparent(font) && !lines) {
    out.Left = em.Leading;
    out.Right = em.Leading + em.Inner;
  } else {
    out.Left = std::min(em.Leading, 0);
    out.Right = std::max(em.Leading + em.Inner, em.Leading + em.Inner + em.Trailing);
  }
  out.Right += 1;
  if (font.Style & fsUnderline) {
    int32_t pos = 0, thick = 0;
    FontUtils()->GetUnderline(font, pos, thick);
    out.Bottom = std::max(out.Bottom, em.Ascent - pos + thick);
  }
}

namespace {

uint32_t Color32(TRGBTriple c) { return 0xFF000000u | (uint32_t(c.r) << 16) | (uint32_t(c.g) << 8) | c.b; }

}  // namespace

Ref<TImage> TWinFontUtils::RenderText(const TFontDesc& font, std::u16string_view text, TPoint& origin, int32_t count,
                                      int32_t start) {
  origin = TPoint();
  start = std::max(start, 0);
  const int32_t n = std::min<int32_t>(int32_t(text.size()) - start, count);
  if (n <= 0) return {};
  TRect rect;
  TextBoundsRect(font, text, rect, n, start);
  const int32_t w = std::max(1, rect.Right - rect.Left), h = std::max(1, rect.Bottom - rect.Top);
  if (!BitmapSizeAllowed(w, h, 4)) return {};
  uint32_t back = Color32(font.Color2);
  const uint32_t fore = Color32(font.Color1);
  const bool transparent = FontDescIsTransparent(font);
  if (transparent) {
    bool close = font.Mode == 2;
    for (int k = 0; k < 3; ++k) {
      const int d = int((back >> (8 * k)) & 0xFF) - int((fore >> (8 * k)) & 0xFF);
      if (std::abs(d) < 16) close = true;
    }
    if (close) {
      // The inverted extreme of the text colour, so text and background
      // differ enough to recover the alpha.
      back = 0xFF000000u;
      for (int k = 0; k < 3; ++k)
        if (((fore >> (8 * k)) & 0xFF) < 128) back |= 0xFFu << (8 * k);
    }
  }
  Ref<TDirectBitmap> bmp = MakeRef<TDirectBitmap>(w, h, PixelFormatByName("A8R8G8B8"));
  bmp->FillRect(TRect{0, 0, w, h}, back);
  ptext::PFont pf = CreateFontHandle(font);
  const std::u16string_view range = text.substr(size_t(start), size_t(n));
  ptext::TPlacement p;
  ptext::GetCharacterPlacement(pf.get(), range, ptext::gcpReorder, p);
  const ptext::TTextTarget target{bmp->Row(0), w, h, bmp->Stride()};
  const int32_t ascent = ptext::GetTextMetrics(pf.get()).Ascent;
  ptext::ExtTextOutGlyphs(target, pf.get(), -rect.Left, -rect.Top + ascent, 0, 0, w, h, p.Glyphs.data(), p.Dx.data(),
                          p.OffsetX.data(), p.OffsetY.data(), p.GlyphCount, fore);
  if (transparent) {
    // Colour and alpha back from the mix of text colour and background.
    for (int32_t y = 0; y < h; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(bmp->Row(y));
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t px = row[x] | 0xFF000000u;
        if (px == back) {
          row[x] = 0;
          continue;
        }
        if (px == fore) {
          row[x] = fore;
          continue;
        }
        int a = 0;
        for (int k = 0; k < 3; ++k) {
          const int p8 = int((px >> (8 * k)) & 0xFF), b8 = int((back >> (8 * k)) & 0xFF);
          int cand = 0;
          if (p8 > b8) cand = int(std::nearbyint((p8 - b8) * 255.0 / (255 - b8)));
          else if (p8 < b8) cand = int(std::nearbyint((b8 - p8) * 255.0 / b8));
          a = std::max(a, cand);
        }
        uint32_t out = uint32_t(std::min(a, 255)) << 24;
        if (a > 0) {
          for (int k = 0; k < 3; ++k) {
            const int p8 = int((px >> (8 * k)) & 0xFF), b8 = int((back >> (8 * k)) & 0xFF);
            const int c = std::clamp(int(std::nearbyint((p8 - b8) * 255.0 / a + b8)), 0, 255);
            out |= uint32_t(c) << (8 * k);
          }
        }
        row[x] = out;
      }
    }
  }
  origin = TPoint{rect.Left, rect.Top};
  TImageFromBitmapProc hook = ImageFromBitmapHook();
  if (!hook) return {};
  return hook(bmp.get(), false, u"");
}

TFontUtils* FontUtils() {
  static Ref<TFontUtils> instance = MakeRef<TWinFontUtils>();
  return instance.get();
}

}  // namespace kav
