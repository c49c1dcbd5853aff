#include "VoRav/Text/vxTextProducer2.h"

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "VoRav/Graphics/vxBitmap.h"
#include "VoRav/Graphics/vxImageHook.h"
#include "VoRav/wpThreads2.h"

namespace kav {
namespace {

float SafeScale(float scale) {
  // A scale that is not a positive number draws at 1.
  return std::isfinite(scale) && scale > 0 ? scale : 1.0f;
}

// Glyph masks kept per producer, in bytes of coverage; past it the cache
// starts again empty.
constexpr size_t kMaxGlyphMaskBytes = size_t(32) << 20;
// A glyph larger than this many pixels is drawn directly.
constexpr int64_t kMaxGlyphMaskPixels = int64_t(1) << 20;

uint64_t HashGlyph(const TPointArray& path, float scale, float fx, float fy) {
  // Eight bytes at a time: a glyph's points are hashed on every use.
  uint64_t h = 1469598103934665603ull;
  auto mix = [&h](uint64_t v) {
    h = (h ^ v) * 0x9E3779B97F4A7C15ull;
    h ^= h >> 29;
  };
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(path.Data());
  const size_t size = size_t(path.Count()) * sizeof(TPathPoint);
  size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    uint64_t v;
    std::memcpy(&v, bytes + i, 8);
    mix(v);
  }
  for (; i < size; ++i) mix(bytes[i]);
  uint32_t s, x, y;
  std::memcpy(&s, &scale, 4);
  std::memcpy(&x, &fx, 4);
  std::memcpy(&y, &fy, 4);
  mix((uint64_t(s) << 32) | x);
  mix(y);
  return h;
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
  // The vectorizer is asked once per font key, size and glyph index (on
  // which alone its outline depends) rather than on every call, and the
  // points are copied afterwards: a paragraph repeats its glyphs hundreds of
  // times. Sizes are told apart by their bits.
  const uint32_t size_bits = std::bit_cast<uint32_t>(g.FontSize);
  auto font = std::find_if(outlines_.begin(), outlines_.end(), [&](const TFontOutlines& f) {
    return std::bit_cast<uint32_t>(f.FontSize) == size_bits && f.FontKey == g.FontKey;
  });
  if (font == outlines_.end()) {
    outlines_.push_back(TFontOutlines{g.FontKey, g.FontSize, {}});
    font = outlines_.end() - 1;
  }
  auto known = font->Glyphs.find(g.GlyphIndex);
  if (known == font->Glyphs.end()) {
    TPointArray read;
    vectorizer_->GetGlyphOutline(g, read);
    known = font->Glyphs.emplace(g.GlyphIndex, read.Points()).first;
  }
  for (const TPathPoint& p : known->second) target.Add(p.x, p.y, p.Command);
}

void TSimpleVectorText::GetLineBounds(int32_t line, TLineBounds& out) {
  std::vector<TGlyphRecord> glyphs(size_t(GetGlyphCount(line)));
  for (size_t i = 0; i < glyphs.size(); ++i) {
    // A thread asked to stop gives the line up: its caller looks at the same flag.
    if (i % kStopCheckGlyphs == 0 && CurrentThreadStopRequested()) {
      glyphs.resize(i);
      break;
    }
    GetGlyphInfo(line, int32_t(i), glyphs[i]);
  }
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
  mask_raster_ = nullptr;
  masks_.clear();
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
    // A worker asked to stop gives the layout up (each line looks too): what
    // is made of it is dropped.
    if (CurrentThreadStopRequested()) {
      l.given_up = true;
      break;
    }
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

TFloatPoint TTextProducer::MapPartPoint(TFloatPoint p) {
  // Whole pixels off a position inside the 2^24 range: exact, so a part's
  // edges lie where the whole picture's do.
  const TFloatPoint q = MapPoint(p);
  return TFloatPoint{q.x - float(part_x_), q.y - float(part_y_)};
}

namespace {

// Pixels of coverage 0 take the background, the others are blended over it
// (a transparent background leaves the bitmap as drawn).
void PaintBackground(TDirectBitmap* bmp, TColor32 background) {
  if (ColorEqual(background, kTransparentColor, true)) return;
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

bool Overlaps(const TRect& a, const TRect& b) {
  return !a.IsEmpty() && a.Left < b.Right && b.Left < a.Right && a.Top < b.Bottom && b.Top < a.Bottom;
}

}  // namespace

void TTextProducer::LinePosition(const TLayout& l, int32_t line, TPoint origin, float& x, float& y) const {
  const TFontMetricsRec& m = text_->FontMetrics();
  // The text body starts past the left overhang and the extra ascent; each
  // line's baseline lies the font's ascent below the top of its line box.
  const float body_x = std::ceil(l.left_overhang) + 1 + float(origin.X);
  const float body_y = std::ceil(l.max_ascent - float(m.Ascent) * scale_) + 1 + float(origin.Y) + float(m.Ascent) * scale_;
  const TRect& r = l.rects[size_t(line)];
  x = body_x;
  if (alignment_ == 1) x += l.text_width / 2 - float(r.Left + r.Right) / 2;
  else if (alignment_ == 2) x += l.text_width - float(r.Right);
  y = body_y + l.y[size_t(line)];
}

template <class Skip, class Visit>
bool TTextProducer::VisitGlyphs(int32_t line, float x, float y, size_t& index, TPointArray& path, Skip skip,
                                Visit visit) {
  const int32_t glyphs = text_->GetGlyphCount(line);
  for (int32_t g = 0; g < glyphs; ++g, ++index) {
    // A worker asked to stop gives the picture up (nothing is shown of it).
    if (g % kStopCheckGlyphs == 0 && CurrentThreadStopRequested()) return false;
    if (skip(index)) continue;
    TGlyphRecord info;
    text_->GetGlyphInfo(line, g, info);
    path.Clear();
    text_->OutlineGlyph(line, g, path);
    if (!path.Empty()) {
      glyph_x_ = x + float(info.PenX + info.OffsetX) * scale_;
      glyph_y_ = y + float(info.OffsetY) * scale_;
    }
    if (!visit(static_cast<const TPointArray&>(path))) return false;
  }
  return true;
}

bool TTextProducer::DrawLines(const TLayout& l, TPoint origin, TColor32 color, bool strike_out, bool underline,
                              const TRect* part) {
  const TFontMetricsRec& m = text_->FontMetrics();
  TPointArray path;
  size_t index = 0;  // of the glyph in drawing order
  // A part skips the glyphs that ink none of its pixels.
  const auto skip = [&](size_t k) { return part && k < parts_->Inks.size() && !Overlaps(parts_->Inks[k], *part); };
  const auto draw = [&](const TPointArray& outline) {
    if (!outline.Empty() && (!glyph_masks_ || !DrawCachedGlyph(outline, color))) raster_->DrawPath(outline, false);
    return true;
  };
  for (int32_t i = 0; i < text_->LineCount(); ++i) {
    float line_x, line_y;
    LinePosition(l, i, origin, line_x, line_y);
    if (!VisitGlyphs(i, line_x, line_y, index, path, skip, draw)) return false;
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
  return true;
}

Ref<TImage> TTextProducer::Produce(TColor32 color, TColor32 background, const std::u16string& name, TPoint origin,
                                   bool strike_out, bool underline, float scale) {
  if (!text_) return {};
  scale = SafeScale(scale);
  TLayout l;
  LayoutLines(l, line_spacing_, scale);
  if (l.given_up) return {};
  if (!raster_) raster_ = MakeRef<TRasterHelper>();
  raster_->SetFillColor(color);
  raster_->SetPointTransform(TRasterHelper::TPointTransform::Bind<&TTextProducer::MapPoint>(this));
  scale_ = scale;
  const TSize size = PixelSize(l, scale);
  raster_->BeginPaintClear(size.cx, size.cy);
  const bool drawn = DrawLines(l, origin, color, strike_out, underline, nullptr);
  Ref<TDirectBitmap> bmp = raster_->EndPaint();
  if (!drawn) return {};
  PaintBackground(bmp.get(), background);
  TImageFromBitmapProc hook = ImageFromBitmapHook();
  return hook ? hook(bmp.get(), false, name) : Ref<TImage>();
}

bool TTextProducer::OpenParts(TColor32 color, TColor32 background, bool strike_out, bool underline, float scale,
                              TSize& size) {
  parts_.reset();
  if (!text_ || !glyph_masks_) return false;
  scale = SafeScale(scale);
  auto parts = std::make_unique<TParts>();
  LayoutLines(parts->Layout, line_spacing_, scale);
  if (parts->Layout.given_up) return false;
  scale_ = scale;
  parts->Color = color;
  parts->Background = background;
  parts->StrikeOut = strike_out;
  parts->Underline = underline;
  parts->Scale = scale;
  parts->Size = PixelSize(parts->Layout, scale);
  // Each glyph's pixels, placed as DrawLines places it: where its mask lands.
  TPointArray path;
  size_t index = 0;
  const auto ink = [&](const TPointArray& outline) {
    if (outline.Empty()) {
      parts->Inks.push_back(TRect{});
      return true;
    }
    if (!(std::fabs(glyph_x_) < 16777216.0f) || !(std::fabs(glyph_y_) < 16777216.0f)) return false;
    const float gx = std::floor(glyph_x_), gy = std::floor(glyph_y_);
    TGlyphMask m;
    if (!MaskBounds(outline, glyph_x_ - gx, glyph_y_ - gy, m)) return false;
    const int32_t left = int32_t(gx) + m.Left, top = int32_t(gy) + m.Top;
    parts->Inks.push_back(TRect{left, top, left + m.Width, top + m.Height});
    return true;
  };
  for (int32_t i = 0; i < text_->LineCount(); ++i) {
    float line_x, line_y;
    LinePosition(parts->Layout, i, TPoint{}, line_x, line_y);
    if (!VisitGlyphs(i, line_x, line_y, index, path, [](size_t) { return false; }, ink)) return false;
  }
  size = parts->Size;
  parts_ = std::move(parts);
  return true;
}

bool TTextProducer::PaintPart(const TRect& rect, uint8_t* const* rows) {
  if (!parts_ || !text_ || rect.IsEmpty() || CurrentThreadStopRequested()) return false;
  if (!raster_) raster_ = MakeRef<TRasterHelper>();
  raster_->SetFillColor(parts_->Color);
  raster_->SetPointTransform(TRasterHelper::TPointTransform::Bind<&TTextProducer::MapPartPoint>(this));
  scale_ = parts_->Scale;
  part_x_ = rect.Left;
  part_y_ = rect.Top;
  raster_->BeginPaintClear(rect.Width(), rect.Height());
  const bool drawn =
      DrawLines(parts_->Layout, TPoint{}, parts_->Color, parts_->StrikeOut, parts_->Underline, &rect);
  Ref<TDirectBitmap> bmp = raster_->EndPaint();
  part_x_ = part_y_ = 0;
  if (!drawn) return false;
  PaintBackground(bmp.get(), parts_->Background);
  for (int32_t y = 0; y < rect.Height(); ++y) std::memcpy(rows[y], bmp->Row(y), size_t(rect.Width()) * 4);
  return true;
}

bool TTextProducer::MaskBounds(const TPointArray& path, float fx, float fy, TGlyphMask& m) const {
  float min_x = INFINITY, min_y = INFINITY, max_x = -INFINITY, max_y = -INFINITY;
  for (int32_t i = 0; i < path.Count(); ++i) {
    if (path[i].Command == kPathClose) continue;
    const float x = path[i].x * scale_ + fx, y = path[i].y * scale_ + fy;
    min_x = std::min(min_x, x), max_x = std::max(max_x, x);
    min_y = std::min(min_y, y), max_y = std::max(max_y, y);
  }
  if (!(min_x >= -1e6f && max_x <= 1e6f && min_y >= -1e6f && max_y <= 1e6f)) return false;
  m.Left = int32_t(std::floor(min_x)) - 1;
  m.Top = int32_t(std::floor(min_y)) - 1;
  m.Width = int32_t(std::floor(max_x)) - m.Left + 2;
  m.Height = int32_t(std::floor(max_y)) - m.Top + 2;
  return int64_t(m.Width) * m.Height <= kMaxGlyphMaskPixels;
}

// Equal glyphs recur all over a text: each is rasterised once per scale and
// fraction of a pixel of its position into a mask, which is then blended at
// every place the glyph appears, as the painter blends a coverage span.
// Points are mapped relative to the whole-pixel position, so a crossing that
// lies on a rounding tie may land one sub-pixel off the directly drawn glyph
// at a far position (a coverage step of 1/16 on that pixel at most).
bool TTextProducer::DrawCachedGlyph(const TPointArray& path, TColor32 color) {
  TDirectBitmap* target = raster_->Target();
  if (!target || !(std::fabs(glyph_x_) < 16777216.0f) || !(std::fabs(glyph_y_) < 16777216.0f)) return false;
  const float gx = std::floor(glyph_x_), gy = std::floor(glyph_y_);
  const float fx = glyph_x_ - gx, fy = glyph_y_ - gy;
  const uint64_t key = HashGlyph(path, scale_, fx, fy);
  std::vector<TGlyphMask>& bucket = masks_[key];
  const TGlyphMask* mask = nullptr;
  for (const TGlyphMask& m : bucket)
    if (m.Scale == scale_ && m.FracX == fx && m.FracY == fy && m.Path.size() == size_t(path.Count()) &&
        std::equal(m.Path.begin(), m.Path.end(), path.Data())) {
      mask = &m;
      break;
    }
  if (!mask) {
    TGlyphMask m;
    if (!MaskBounds(path, fx, fy, m)) return false;
    m.Path.assign(path.Data(), path.Data() + path.Count());
    m.Scale = scale_;
    m.FracX = fx;
    m.FracY = fy;
    if (!mask_raster_) mask_raster_ = MakeRef<TRasterHelper>();
    mask_raster_->SetFillColor(0xFFFFFFFFu);
    mask_raster_->SetPointTransform(TRasterHelper::TPointTransform::Bind<&TTextProducer::MapPoint>(this));
    mask_raster_->BeginPaintClear(m.Width, m.Height);
    glyph_x_ = fx - float(m.Left);
    glyph_y_ = fy - float(m.Top);
    mask_raster_->DrawPath(path, false);
    glyph_x_ = gx + fx;
    glyph_y_ = gy + fy;
    Ref<TDirectBitmap> b = mask_raster_->EndPaint();
    m.Alpha.resize(size_t(m.Width) * size_t(m.Height));
    m.Inked.assign(size_t(m.Height), {0, 0});
    for (int32_t y = 0; y < m.Height; ++y) {
      const uint8_t* row = b->Row(y);
      uint8_t* out = m.Alpha.data() + size_t(y) * size_t(m.Width);
      int32_t first = m.Width, last = 0;
      for (int32_t x = 0; x < m.Width; ++x) {
        out[x] = row[size_t(x) * 4 + 3];
        if (out[x] != 0) first = std::min(first, x), last = x + 1;
      }
      if (first < last) m.Inked[size_t(y)] = {first, last};
    }
    if (mask_bytes_ + m.Alpha.size() > kMaxGlyphMaskBytes) {
      masks_.clear();
      mask_bytes_ = 0;
    }
    mask_bytes_ += m.Alpha.size() + m.Path.size() * sizeof(TPathPoint) + m.Inked.size() * 8;
    std::vector<TGlyphMask>& slot = masks_[key];
    slot.push_back(std::move(m));
    mask = &slot.back();
  }
  // White painted with coverage c (1..256) has alpha c - 1, so the coverage
  // comes back exactly; coverage 1 gives alpha 0 with any colour, as does
  // an untouched pixel. The colour for each mask alpha is made once per
  // colour.
  if (!mask_colors_valid_ || mask_color_ != color) {
    const uint32_t alpha = ColorAlpha(color);
    for (uint32_t a = 0; a < 256; ++a) {
      const uint32_t c = a + 1;
      mask_colors_[a] = c < 256 ? ColorSetAlpha(color, uint8_t((alpha * c) >> 8)) : color;
    }
    mask_color_ = color;
    mask_colors_valid_ = true;
  }
  const int32_t left = int32_t(gx) + mask->Left - part_x_, top = int32_t(gy) + mask->Top - part_y_;
  const int32_t x0 = std::max(0, -left), x1 = std::min(mask->Width, target->Width() - left);
  const int32_t y0 = std::max(0, -top), y1 = std::min(mask->Height, target->Height() - top);
  [[maybe_unused]] const bool opaque = ColorAlpha(color) == 255;
  for (int32_t y = y0; y < y1; ++y) {
    const uint8_t* in = mask->Alpha.data() + size_t(y) * size_t(mask->Width);
    uint8_t* line = target->Row(top + y) + size_t(left) * 4;
    auto blend_one = [&](int32_t x) {
      if (in[x] == 0) return;
      const TColor32 s = mask_colors_[in[x]];
      if ((s >> 24) == 0) return;
      TColor32 px;
      std::memcpy(&px, line + size_t(x) * 4, 4);
      // Onto an empty pixel the colour is written as it is.
      px = (px >> 24) == 0 ? s : BlendPixelOver(px, s);
      std::memcpy(line + size_t(x) * 4, &px, 4);
    };
    const auto [ink_first, ink_last] = mask->Inked[size_t(y)];
    const int32_t from = std::max(x0, ink_first), to = std::min(x1, ink_last);
    int32_t x = from;
#if defined(__SSE2__)
    if (opaque) {
      // An opaque colour with coverage c gets alpha c - 1, the mask's own
      // alpha, so four pixels that are still empty take the colour with the
      // mask as alpha (those of mask alpha 0 stay as they are).
      const __m128i rgb = _mm_set1_epi32(int32_t(color & 0x00FFFFFFu)), zero = _mm_setzero_si128();
      for (; x + 4 <= to; x += 4) {
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(line + size_t(x) * 4));
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(_mm_srli_epi32(d, 24), zero)) != 0xFFFF) {
          for (int32_t k = x; k < x + 4; ++k) blend_one(k);
          continue;
        }
        uint32_t m4;
        std::memcpy(&m4, in + x, 4);
        const __m128i a = _mm_unpacklo_epi16(_mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(m4)), zero), zero);
        const __m128i keep = _mm_cmpeq_epi32(a, zero);
        const __m128i s = _mm_or_si128(rgb, _mm_slli_epi32(a, 24));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(line + size_t(x) * 4),
                         _mm_or_si128(_mm_and_si128(keep, d), _mm_andnot_si128(keep, s)));
      }
    }
#endif
    for (; x < to; ++x) blend_one(x);
  }
  return true;
}

Ref<TImage> TTextProducer::ProduceText(TColor32 color, TColor32 background, float scale) {
  return Produce(color, background, u"", TPoint{}, false, false, scale);
}

}  // namespace kav
