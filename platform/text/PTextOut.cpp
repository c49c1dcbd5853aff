// Glyph runs drawn with FreeType's anti-aliased glyph images.
#include <algorithm>

#include "platform/text/PTextFaces.h"

namespace kav::ptext {
namespace {

struct TClip {
  int32_t l, t, r, b;
};

void Blend(const TTextTarget& t, const TClip& c, int32_t x, int32_t y, uint32_t color, uint32_t cov) {
  if (x < c.l || x >= c.r || y < c.t || y >= c.b || cov == 0) return;
  uint8_t* p = t.Bits + int64_t(y) * t.Stride + int64_t(x) * 4;
  const uint32_t src[3] = {color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF};
  for (int k = 0; k < 3; ++k) p[k] = uint8_t((p[k] * (255 - cov) + src[k] * cov + 127) / 255);
  p[3] = uint8_t(p[3] + ((255 - p[3]) * cov + 127) / 255);
}

void FillRect(const TTextTarget& t, const TClip& c, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint32_t color) {
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) Blend(t, c, x, y, color, 255);
}

}  // namespace

void ExtTextOutGlyphs(const TTextTarget& target, TPFont* font, int32_t x, int32_t y, int32_t clip_left,
                      int32_t clip_top, int32_t clip_right, int32_t clip_bottom, const uint16_t* glyphs,
                      const int32_t* dx, const int32_t* offset_x, const int32_t* offset_y, int32_t count,
                      uint32_t color) {
  if (!target.Bits || target.Width <= 0 || target.Height <= 0 || count <= 0 || !glyphs || !dx) return;
  const TClip clip{std::max(0, clip_left), std::max(0, clip_top), std::min(target.Width, clip_right),
                   std::min(target.Height, clip_bottom)};
  if (clip.l >= clip.r || clip.t >= clip.b) return;
  TFaceEntry* f = font->Face();
  int32_t pen = x;
  {
    std::lock_guard<std::mutex> hold(f->lock);
    f->SetSize(font->Em());
    for (int32_t i = 0; i < count; ++i) {
      const int32_t gx = pen + (offset_x ? offset_x[i] : 0);
      const int32_t gy = y + (offset_y ? offset_y[i] : 0);
      pen += dx[i];
      if (FT_Load_Glyph(f->ft, glyphs[i], FT_LOAD_NO_HINTING | FT_LOAD_NO_BITMAP) != 0) continue;
      if (FT_Render_Glyph(f->ft->glyph, FT_RENDER_MODE_NORMAL) != 0) continue;
      const FT_Bitmap& bm = f->ft->glyph->bitmap;
      if (bm.pixel_mode != FT_PIXEL_MODE_GRAY) continue;
      const int32_t left = gx + f->ft->glyph->bitmap_left, top = gy - f->ft->glyph->bitmap_top;
      for (unsigned row = 0; row < bm.rows; ++row) {
        const uint8_t* src = bm.buffer + int64_t(row) * bm.pitch;
        for (unsigned col = 0; col < bm.width; ++col) Blend(target, clip, left + int32_t(col), top + int32_t(row), color, src[col]);
      }
    }
  }
  const TLogFont& req = font->Request();
  if (req.Underline || req.StrikeOut) {
    TOutlineMetricsRec om;
    GetOutlineTextMetrics(font, om);
    if (req.Underline) FillRect(target, clip, x, y - om.UnderscorePosition, pen, y - om.UnderscorePosition + om.UnderscoreSize, color);
    if (req.StrikeOut) FillRect(target, clip, x, y - om.StrikeoutPosition, pen, y - om.StrikeoutPosition + om.StrikeoutSize, color);
  }
}

}  // namespace kav::ptext
