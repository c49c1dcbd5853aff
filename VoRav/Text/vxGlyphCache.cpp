#include "VoRav/Text/vxGlyphCache.h"

#include <cmath>

#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {
namespace {

// Refuses a declared count past its limit or past what the stream can still
// hold at `unit` bytes each (when the size is known).
void CheckCount(TStream* s, int64_t count, int64_t limit, int64_t unit) {
  if (count < 0 || count > limit) throw EStreamReadError("glyph stream: count out of range");
  const int64_t remaining = s->GetRemaining();
  if (remaining >= 0 && count * unit > remaining) throw EStreamReadError("glyph stream: count past the end");
}

std::u16string ReadKey(TStream* s) {
  const int32_t len = s->ReadInteger();
  CheckCount(s, len, kMaxFontKeyLength, 2);
  std::u16string key(size_t(len), u'\0');
  for (char16_t& c : key) c = char16_t(s->ReadWord());
  return key;
}

void WriteKey(TStream* s, const std::u16string& key) {
  s->WriteInteger(int32_t(key.size()));
  for (char16_t c : key) s->WriteWord(c);
}

}  // namespace

std::u16string TGlyphCache::FontKey() {
  std::lock_guard<std::mutex> hold(lock_);
  return key_;
}

int32_t TGlyphCache::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  return int32_t(glyphs_.size());
}

void TGlyphCache::Dispose() {
  glyphs_.clear();
  TRefObject::Dispose();
}

void TGlyphCache::LoadFromStream(TStream* s) {
  std::vector<Ref<TGlyphData>> glyphs;
  {
    std::lock_guard<std::mutex> hold(lock_);
    glyphs_.clear();
  }
  const int32_t count = s->ReadInteger();
  CheckCount(s, count, kMaxCachedGlyphs, 2 + 24 + 4);
  std::u16string key = ReadKey(s);
  glyphs.reserve(size_t(count));
  for (int32_t i = 0; i < count; ++i) {
    Ref<TGlyphData> g = MakeRef<TGlyphData>();
    TGlyphRecord& r = g->Record;
    r.FontKey = key;
    r.GlyphIndex = s->ReadWord();
    r.A = s->ReadInteger();
    r.B = s->ReadInteger();
    r.C = s->ReadInteger();
    r.Ascent = s->ReadInteger();
    r.Descent = s->ReadInteger();
    r.FontSize = s->ReadSingle();
    const int32_t points = s->ReadInteger();
    CheckCount(s, points, kMaxGlyphPoints, 12);
    g->Points.resize(size_t(points));
    for (TPathPoint& p : g->Points) {
      p.x = s->ReadSingle();
      p.y = s->ReadSingle();
    }
    for (TPathPoint& p : g->Points) p.Command = s->ReadInteger();
    glyphs.push_back(std::move(g));
  }
  std::lock_guard<std::mutex> hold(lock_);
  key_ = std::move(key);
  glyphs_ = std::move(glyphs);
}

void TGlyphCache::SaveToStream(TStream* s) {
  std::lock_guard<std::mutex> hold(lock_);
  s->WriteInteger(int32_t(glyphs_.size()));
  WriteKey(s, key_);
  for (const Ref<TGlyphData>& g : glyphs_) {
    const TGlyphRecord& r = g->Record;
    s->WriteWord(r.GlyphIndex);
    for (int32_t v : {r.A, r.B, r.C, r.Ascent, r.Descent}) s->WriteInteger(v);
    s->WriteSingle(r.FontSize);
    s->WriteInteger(int32_t(g->Points.size()));
    for (const TPathPoint& p : g->Points) {
      s->WriteSingle(p.x);
      s->WriteSingle(p.y);
    }
    for (const TPathPoint& p : g->Points) s->WriteInteger(p.Command);
  }
}

Ref<TGlyphData> TGlyphCache::FindGlyph(uint16_t glyph_index, int32_t& index) {
  std::lock_guard<std::mutex> hold(lock_);
  for (size_t i = 0; i < glyphs_.size(); ++i)
    if (glyphs_[i]->Record.GlyphIndex == glyph_index) {
      index = int32_t(i);
      return glyphs_[i];
    }
  index = -1;
  return {};
}

Ref<TGlyphData> TGlyphCache::AddGlyph(const TGlyphRecord& record, const TPointArray& points, int32_t& index) {
  std::lock_guard<std::mutex> hold(lock_);
  KAV_ASSERT_MSG(record.FontKey == key_, "TGlyphCache.AddGlyph: another font key");
  Ref<TGlyphData> g = MakeRef<TGlyphData>();
  g->Record = record;
  g->Points = points.Points();
  index = int32_t(glyphs_.size());
  glyphs_.push_back(g);
  return g;
}

void TGlyphCache::SetFontName(const std::u16string& key) {
  std::lock_guard<std::mutex> hold(lock_);
  if (key == key_) return;
  key_ = key;
  glyphs_.clear();
}

Ref<TGlyphCache> TFontCache::Find(const std::u16string& key, int32_t& index) {
  std::lock_guard<std::mutex> hold(lock_);
  for (size_t i = 0; i < caches_.size(); ++i)
    if (caches_[i]->FontKey() == key) {
      index = int32_t(i);
      return caches_[i];
    }
  index = -1;
  return {};
}

void TFontCache::AddCache(TGlyphCache* cache) {
  std::lock_guard<std::mutex> hold(lock_);
  caches_.push_back(Ref<TGlyphCache>(cache));
}

Ref<TGlyphCache> TFontCache::AddNamed(const std::u16string& key, int32_t& index) {
  std::lock_guard<std::mutex> hold(lock_);
  for (size_t i = 0; i < caches_.size(); ++i)
    if (caches_[i]->FontKey() == key) {
      index = int32_t(i);
      return caches_[i];
    }
  index = int32_t(caches_.size());
  caches_.push_back(MakeRef<TGlyphCache>(key));
  return caches_.back();
}

int32_t TFontCache::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  return int32_t(caches_.size());
}

void TFontCache::Dispose() {
  caches_.clear();
  TRefObject::Dispose();
}

TFontCache* FontCache() {
  static Ref<TFontCache> cache = MakeRef<TFontCache>();
  return cache.get();
}

TCachedVectorText::TCachedVectorText(int32_t line_count, const TFontMetricsRec& metrics) {
  line_count_ = line_count;
  metrics_ = metrics;
  lines_.resize(size_t(std::max(0, line_count)));
}

int32_t TCachedVectorText::GetGlyphCount(int32_t line) {
  return line >= 0 && line < int32_t(lines_.size()) ? int32_t(lines_[size_t(line)].Glyphs.size()) : 0;
}

Ref<TGlyphData> TCachedVectorText::Data(int32_t line, int32_t glyph) {
  if (glyph < 0 || glyph >= GetGlyphCount(line)) return {};
  const TGlyphPointer& p = lines_[size_t(line)].Glyphs[size_t(glyph)];
  int32_t index;
  Ref<TGlyphCache> cache = FontCache()->Find(p.FontKey, index);
  return cache ? cache->FindGlyph(p.GlyphIndex, index) : Ref<TGlyphData>();
}

void TCachedVectorText::GetGlyphInfo(int32_t line, int32_t glyph, TGlyphRecord& out) {
  out = TGlyphRecord();
  Ref<TGlyphData> d = Data(line, glyph);
  if (!d) return;
  const TGlyphPointer& p = lines_[size_t(line)].Glyphs[size_t(glyph)];
  out = d->Record;
  out.GlyphIndex = p.GlyphIndex;
  out.FontKey = p.FontKey;
  out.FontSize = p.Size;
  out.PenX = p.PenX;
  out.OffsetX = p.OffsetX;
  out.OffsetY = p.OffsetY;
}

void TCachedVectorText::OutlineGlyph(int32_t line, int32_t glyph, TPointArray& target) {
  Ref<TGlyphData> d = Data(line, glyph);
  if (!d) return;
  const float size = lines_[size_t(line)].Glyphs[size_t(glyph)].Size;
  const float cached = d->Record.FontSize;
  // A cached size of 0 (or not a number) cannot be scaled from: nothing is drawn.
  if (!(cached > 0) || !std::isfinite(cached) || !std::isfinite(size)) return;
  const float k = size / cached;
  for (const TPathPoint& p : d->Points) target.Add(p.x * k, p.y * k, p.Command);
}

void TCachedVectorText::GetLineBounds(int32_t line, TLineBounds& out) {
  std::vector<TGlyphRecord> glyphs;
  for (int32_t g = 0; g < GetGlyphCount(line); ++g) {
    // A thread asked to stop gives the line up: its caller looks at the same flag.
    if (g % kStopCheckGlyphs == 0 && CurrentThreadStopRequested()) break;
    if (!Data(line, g)) continue;  // glyphs without data do not count
    glyphs.emplace_back();
    GetGlyphInfo(line, g, glyphs.back());
  }
  LineBoundsOfGlyphs(glyphs, metrics_, out);
}

Ref<TCachedVectorText> BuildCachedVectorText(const TFontDesc& font, const std::vector<std::u16string>& lines) {
  Ref<TVectorizer> v = CreateVectorizer();
  if (!v) return {};
  TFontMetricsRec metrics;
  v->GetTextMetrics(font, metrics);
  Ref<TCachedVectorText> text = MakeRef<TCachedVectorText>(int32_t(lines.size()), metrics);
  TPointArray points;
  for (size_t i = 0; i < lines.size(); ++i) {
    // A thread asked to stop gives the text up: its caller looks at the same flag.
    if (CurrentThreadStopRequested()) break;
    Ref<TTextElementEx> e = v->CreateTextElement(font, lines[i]);
    for (int32_t g = 0; g < e->GlyphCount(); ++g) {
      if (g % kStopCheckGlyphs == 0 && CurrentThreadStopRequested()) return text;
      TGlyphRecord r;
      e->GetGlyph(g, r);
      int32_t index;
      Ref<TGlyphCache> cache = FontCache()->AddNamed(r.FontKey, index);
      if (!cache->FindGlyph(r.GlyphIndex, index)) {
        points.Clear();
        v->GetGlyphOutline(r, points);
        TGlyphRecord stored = r;
        stored.PenX = 0;
        stored.OffsetX = stored.OffsetY = 0;
        cache->AddGlyph(stored, points, index);
      }
      text->Lines()[i].Glyphs.push_back({r.GlyphIndex, r.FontKey, r.PenX, r.FontSize, r.OffsetX, r.OffsetY});
    }
  }
  return text;
}

void SaveCachedVectorText(TVectorText* text, TStream* stream) {
  auto* cached = dynamic_cast<TCachedVectorText*>(text);
  KAV_ASSERT_MSG(cached != nullptr, "SaveCachedVectorText: not a cached vector text");
  const TFontMetricsRec& m = cached->FontMetrics();
  stream->WriteInteger(cached->LineCount());
  stream->WriteInteger(m.Ascent);
  stream->WriteInteger(m.Descent);
  for (float f : {m.UnderlinePosition, m.UnderlineThickness, m.StrikeOutPosition, m.StrikeOutThickness})
    stream->WriteSingle(f);
  for (const TGlyphLine& line : cached->Lines()) {
    stream->WriteInteger(int32_t(line.Glyphs.size()));
    for (const TGlyphPointer& p : line.Glyphs) {
      stream->WriteInteger(p.PenX);
      stream->WriteSingle(p.Size);
      stream->WriteWord(p.GlyphIndex);
      WriteKey(stream, p.FontKey);
    }
  }
}

void LoadCachedVectorText(Ref<TCachedVectorText>& text, TStream* s, void (*resolve)(void*, const std::u16string&),
                          void* data) {
  s->SetPosition(0);
  const int32_t count = s->ReadInteger();
  CheckCount(s, count, kMaxCachedLines, 4);
  TFontMetricsRec m;
  m.Ascent = s->ReadInteger();
  m.Descent = s->ReadInteger();
  m.UnderlinePosition = s->ReadSingle();
  m.UnderlineThickness = s->ReadSingle();
  m.StrikeOutPosition = s->ReadSingle();
  m.StrikeOutThickness = s->ReadSingle();
  Ref<TCachedVectorText> t = MakeRef<TCachedVectorText>(count, m);
  std::u16string last_key;
  for (int32_t i = 0; i < count; ++i) {
    const int32_t glyphs = s->ReadInteger();
    CheckCount(s, glyphs, kMaxLineGlyphs, 14);
    auto& line = t->lines_[size_t(i)].Glyphs;
    line.reserve(size_t(glyphs));
    for (int32_t g = 0; g < glyphs; ++g) {
      TGlyphPointer p;
      p.PenX = s->ReadInteger();
      p.Size = s->ReadSingle();
      p.GlyphIndex = s->ReadWord();
      p.FontKey = ReadKey(s);
      if (resolve) resolve(data, p.FontKey);
      line.push_back(std::move(p));
    }
  }
  text = std::move(t);
}

}  // namespace kav
