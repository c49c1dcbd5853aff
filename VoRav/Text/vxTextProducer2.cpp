#include "VoRav/Text/vxTextProducer2.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxImageHook.h"

namespace kav {
namespace {

float SafeScale(float scale) {
  // A scale that is not a positive number draws at 1.
  return std::isfinite(scale) && scale > 0 ? scale : 1.0f;
}

int32_t ClampToInt(double v) {
  if (!(v > INT_MIN)) return INT_MIN;
  if (!(v < INT_MAX)) return INT_MAX;
  return int32_t(v);
}

}  // namespace

void LineBoundsOfGlyphs(const std::vector<TGlyphRecord>& glyphs, const TFontMetricsRec& fallback, TLineBounds& out) {
  out = TLineBounds();
  if (glyphs.empty()) {
    out.Ascent = fallback.Ascent;
    out.Descent = fallback.Descent;
    out.Height = out.Ascent + out.Descent;
    return;
  }
  int64_t min_x = INT64_MAX, max_x = INT64_MIN, min_pen = INT64_MAX, max_end = INT64_MIN;
  for (const TGlyphRecord& g : glyphs) {
    const int64_t pen = g.PenX, a = pen + g.A, b = a + g.B, c = b + g.C;
    min_x = std::min({min_x, pen, a, b, c});
    max_x = std::max({max_x, pen, a, b, c});
    min_pen = std::min(min_pen, pen);
    max_end = std::max(max_end, c);
    out.Ascent = std::max(out.Ascent, g.Ascent);
    out.Descent = std::max(out.Descent, g.Descent);
  }
  out.Advance = ClampToInt(double(max_end - min_pen));
  out.InkLeft = ClampToInt(double(min_x - min_pen));
  out.RightRemainder = ClampToInt(double(max_end - max_x));
  out.InkWidth = out.Advance - out.InkLeft - out.RightRemainder;
  out.Height = out.Ascent + out.Descent;
}

TSimpleVectorText::TSimpleVectorText(TVectorizer* vectorizer, const TFontDesc& font,
                                     const std::vector<std::u16string>& lines)
    : vectorizer_(vectorizer) {
  vectorizer_->GetTextMetrics(font, metrics_);
  for (const std::u16string& line : lines) lines_.push_back(vectorizer_->CreateTextElement(font, line));
  line_count_ = int32_t(lines_.size());
}

int32_t TSimpleVectorText::GetGlyphCount(int32_t line) {
  return line >= 0 && line < line_count_ ? lines_[size_t(line)]->GlyphCount() : 0;
}

void TSimpleVectorText::GetGlyphInfo(int32_t line, int32_t glyph, TGlyphRecord& out) {
  out = TGlyphRecord();
  if (line >= 0 && line < line_count_) lines_[size_t(line)]->GetGlyph(glyph, out);
}

void TSimpleVectorText::OutlineGlyph(int32_t line, int32_t glyph, TPointArray& target) {
  TGlyphRecord g;
  GetGlyphInfo(line, glyph, g);
  vectorizer_->GetGlyphOutline(g, target);
}

void TSimpleVectorText::GetLineBounds(int32_t line, TLineBounds& out) {
  std::vector<TGlyphRecord> glyphs(size_t(GetGlyphCount(line)));
  for (size_t i = 0; i < glyphs.size(); ++i) GetGlyphInfo(line, int32_t(i), glyphs[i]);
  LineBoundsOfGlyphs(glyphs, metrics_, out);
}

Ref<TVectorText> NewSimpleVectorText(const TFontDesc& font, const std::vector<std::u16string>& lines) {
  Ref<TVectorizer> v = CreateVectorizer();
  if (!v) return {};
  return MakeRef<TSimpleVectorText>(v.get(), font, lines);
}

void TTextProducer::Dispose() {
  source_ = nullptr;
  text_ = nullptr;
  raster_ = nullptr;
  TRefObject::Dispose();
}

void TTextProducer::SetSource(TVectorText* text, bool owns) {
  source_ = owns && text ? Ref<TVectorText>(text) : Ref<TVectorText>();
  text_ = text;
}

float TTextProducer::LineHeight(float scale) {
  if (!text_) return 0;
  return float(text_->FontMetrics().Ascent + text_->FontMetrics().Descent) * scale;
}

void TTextProducer::LayoutLines(TLayout& l, float line_spacing, float scale) {
  const int32_t n = text_ ? text_->LineCount() : 0;
  l.bounds.assign(size_t(n), TLineBounds());
  l.rects.assign(size_t(n), TRect());
  l.y.assign(size_t(n), 0);
  const TFontMetricsRec& m = text_ ? text_->FontMetrics() : TFontMetricsRec();
  const float ascent = float(m.Ascent) * scale, descent = float(m.Descent) * scale;
  const float height = float(m.Ascent + m.Descent) * scale;
  // Lines of a smaller ascent than the font's still get the font's.
  l.max_ascent = ascent;
  l.max_descent = descent;
  float y = 0;
  for (int32_t i = 0; i < n; ++i) {
    TLineBounds& b = l.bounds[size_t(i)];
    text_->GetLineBounds(i, b);
    TRect& r = l.rects[size_t(i)];
    r.Top = ClampToInt(std::floor(-double(ascent)));
    r.Right = ClampToInt(std::ceil(double(b.Advance) * scale));
    r.Bottom = ClampToInt(std::ceil(double(descent)));
    l.text_width = std::max(l.text_width, float(r.Right - r.Left));
    if (i > 0) y += height * line_spacing / 200.0f;
    l.y[size_t(i)] = y;
    y += height;
    l.left_overhang = std::max(l.left_overhang, -float(b.InkLeft) * scale);
    l.right_overhang = std::max(l.right_overhang, -float(b.RightRemainder) * scale);
    l.max_ascent = std::max(l.max_ascent, float(b.Ascent) * scale);
    l.max_descent = std::max(l.max_descent, float(b.Descent) * scale);
  }
  l.total_height = y;
}

TSize TTextProducer::PixelSize(const TLayout& l, float scale) {
  const TFontMetricsRec& m = text_ ? text_->FontMetrics() : TFontMetricsRec();
  const double w = std::ceil(l.left_overhang) + std::nearbyint(l.text_width) + std::ceil(l.right_overhang) + 2;
  const double h = std::ceil(l.max_ascent - float(m.Ascent) * scale) + std::nearbyint(l.total_height) +
                   std::ceil(l.max_descent - float(m.Descent) * scale) + 2;
  TSize s{std::max(1, ClampToInt(w)), std::max(1, ClampToInt(h))};
  // Capped at the bitmap limits: a text too large is cut, not refused.
  s.cx = int32_t(std::min<int64_t>(s.cx, kMaxBitmapPixels));
  if (!BitmapSizeAllowed(s.cx, s.cy, 4)) s.cy = int32_t(std::max<int64_t>(1, kMaxBitmapPixels / s.cx));
  return s;
}

void TTextProducer::GetPixelSize(TSize& out, float line_spacing, float scale) {
  scale = SafeScale(scale);
  TLayout l;
  LayoutLines(l, line_spacing, scale);
  out = PixelSize(l, scale);
}

void TTextProducer::GetBoundsRect(TRect& out, float line_spacing, float scale) {
  scale = SafeScale(scale);
  TLayout l;
  LayoutLines(l, line_spacing, scale);
  const TFontMetricsRec& m = text_ ? text_->FontMetrics() : TFontMetricsRec();
  out.Left = ClampToInt(std::ceil(l.left_overhang));
  out.Top = ClampToInt(std::ceil(l.max_ascent - float(m.Ascent) * scale));
  out.Right = out.Left + std::max(1, ClampToInt(l.text_width));
  out.Bottom = out.Top + std::max(1, ClampToInt(std::nearbyint(l.total_height)));
}

TFloatPoint TTextProducer::MapPoint(TFloatPoint p) {
  return TFloatPoint{p.x * scale_ + glyph_x_, p.y * scale_ + glyph_y_};
}

Ref<TImage> TTextProducer::Produce(TColor32 color, TColor32 background, const std::u16string& name, TPoint origin,
                                   bool strike_out, bool underline, float scale) {
  if (!text_) return {};
  scale = SafeScale(scale);
  TLayout l;
  LayoutLines(l, line_spacing_, scale);
  if (!raster_) raster_ = MakeRef<TRasterHelper>();
  raster_->SetFillColor(color);
  raster_->SetPointTransform(TRasterHelper::TPointTransform::Bind<&TTextProducer::MapPoint>(this));
  scale_ = scale;
  const TSize size = PixelSize(l, scale);
  raster_->BeginPaintClear(size.cx, size.cy);
  const TFontMetricsRec& m = text_->FontMetrics();
  // The text body starts past the left overhang and the extra ascent; each
  // line's baseline lies the font's ascent below the top of its line box.
  const float body_x = std::ceil(l.left_overhang) + 1 + float(origin.X);
  const float body_y = std::ceil(l.max_ascent - float(m.Ascent) * scale) + 1 + float(origin.Y) + float(m.Ascent) * scale;
  TPointArray path;
  for (int32_t i = 0; i < text_->LineCount(); ++i) {
    const TRect& r = l.rects[size_t(i)];
    float line_x = body_x;
    if (alignment_ == 1) line_x += l.text_width / 2 - float(r.Left + r.Right) / 2;
    else if (alignment_ == 2) line_x += l.text_width - float(r.Right);
    const float line_y = body_y + l.y[size_t(i)];
    const int32_t glyphs = text_->GetGlyphCount(i);
    for (int32_t g = 0; g < glyphs; ++g) {
      TGlyphRecord info;
      text_->GetGlyphInfo(i, g, info);
      path.Clear();
      text_->OutlineGlyph(i, g, path);
      if (path.Empty()) continue;
      glyph_x_ = line_x + float(info.PenX + info.OffsetX) * scale;
      glyph_y_ = line_y + float(info.OffsetY) * scale;
      raster_->DrawPath(path, false);
    }
    const TLineBounds& b = l.bounds[size_t(i)];
    auto bar = [&](float position, float thickness) {
      const float right = std::nearbyint(float(b.InkWidth + b.RightRemainder));
      const float top = std::nearbyint(-position), bottom = std::nearbyint(-position + thickness);
      const TFloatPoint quad[4] = {{0, top}, {right, top}, {right, bottom}, {0, bottom}};
      glyph_x_ = line_x;
      glyph_y_ = line_y;
      raster_->FillOutline(quad, false);
    };
    if (underline) bar(m.UnderlinePosition, m.UnderlineThickness);
    if (strike_out) bar(m.StrikeOutPosition, m.StrikeOutThickness);
    if (abort_ && abort_()) break;
  }
  Ref<TDirectBitmap> bmp = raster_->EndPaint();
  if (!ColorEqual(background, kTransparentColor, true)) {
    for (int32_t y = 0; y < bmp->Height(); ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(bmp->Row(y));
      for (int32_t x = 0; x < bmp->Width(); ++x) {
        const uint32_t a = row[x] >> 24;
        if (a == 255) continue;
        if (a == 0) {
          row[x] = background;
        } else {
          TColor32 d = background;
          BlendColorOver(d, row[x]);
          row[x] = d;
        }
      }
    }
  }
  TImageFromBitmapProc hook = ImageFromBitmapHook();
  return hook ? hook(bmp.get(), false, name) : Ref<TImage>();
}

Ref<TImage> TTextProducer::ProduceText(TColor32 color, TColor32 background, float scale) {
  return Produce(color, background, u"", TPoint{}, false, false, scale);
}

}  // namespace kav
