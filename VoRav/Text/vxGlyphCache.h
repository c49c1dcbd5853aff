// Glyph and font caches: vector text that draws without the fonts it was
// made with. A glyph cache holds the outline and metrics of the glyphs of
// one font key; a cached vector text lists, line by line, which glyph of
// which font stands where. Both have stream forms that shows carry.
//
// The global font cache, FontCache(), is shared by every thread: it and its
// glyph caches take their own locks, and glyph data handed out stays valid
// while held.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/vxStream.h"

namespace kav {

// Limits on what a glyph stream may declare; past them the stream is
// refused before anything is allocated.
constexpr int32_t kMaxCachedGlyphs = 1 << 16;
constexpr int32_t kMaxFontKeyLength = 1024;
constexpr int32_t kMaxGlyphPoints = 1 << 18;
constexpr int32_t kMaxCachedLines = 1 << 16;
constexpr int32_t kMaxLineGlyphs = 1 << 20;

class TGlyphData : public TRefObject {
 public:
  TGlyphRecord Record;
  std::vector<TPathPoint> Points;
};

struct TGlyphPointer {
  uint16_t GlyphIndex = 0;
  std::u16string FontKey;
  int32_t PenX = 0;
  float Size = 0;
  // Where shaping moved the glyph (not part of the stream form: a text read
  // from a stream has none).
  int32_t OffsetX = 0;
  int32_t OffsetY = 0;
};

struct TGlyphLine {
  std::vector<TGlyphPointer> Glyphs;
};

class TGlyphCache : public TRefObject {
 public:
  explicit TGlyphCache(std::u16string key = {}) : key_(std::move(key)) {}

  std::u16string FontKey();
  int32_t Count();
  // Clears the cache and reads a glyph cache stream from the current
  // position; the key becomes the stream's. Glyphs read have no advance,
  // height or pen position. Raises EStreamReadError for a short stream or
  // counts past the limits (the cache is then left empty).
  void LoadFromStream(TStream* stream);
  // Writes the stream form.
  void SaveToStream(TStream* stream);
  // The glyph with that index (and its position), or null and -1.
  Ref<TGlyphData> FindGlyph(uint16_t glyph_index, int32_t& index);
  // Appends a glyph with the record's metrics and a copy of the points; a
  // record of another key fails an assertion.
  Ref<TGlyphData> AddGlyph(const TGlyphRecord& record, const TPointArray& points, int32_t& index);
  // A different key clears the glyphs.
  void SetFontName(const std::u16string& key);

 protected:
  void Dispose() override;

 private:
  std::mutex lock_;
  std::vector<Ref<TGlyphData>> glyphs_;
  std::u16string key_;
};

class TFontCache : public TRefObject {
 public:
  Ref<TGlyphCache> Find(const std::u16string& key, int32_t& index);
  void AddCache(TGlyphCache* cache);
  // A new cache for the key (index = the count before adding); the existing
  // one when another thread added it meanwhile.
  Ref<TGlyphCache> AddNamed(const std::u16string& key, int32_t& index);
  int32_t Count();

 protected:
  void Dispose() override;

 private:
  std::mutex lock_;
  std::vector<Ref<TGlyphCache>> caches_;
};

// The program's font cache (made on first use, kept for the whole run).
TFontCache* FontCache();

class TCachedVectorText : public TVectorText {
 public:
  TCachedVectorText() = default;
  TCachedVectorText(int32_t line_count, const TFontMetricsRec& metrics);

  std::vector<TGlyphLine>& Lines() noexcept { return lines_; }
  void GetLineBounds(int32_t line, TLineBounds& out) override;
  int32_t GetGlyphCount(int32_t line) override;
  // The cached outline scaled by the pointer's size over the cached size;
  // nothing for a glyph without data.
  void OutlineGlyph(int32_t line, int32_t glyph, TPointArray& target) override;
  void GetGlyphInfo(int32_t line, int32_t glyph, TGlyphRecord& out) override;

 private:
  friend void LoadCachedVectorText(Ref<TCachedVectorText>&, TStream*, void (*)(void*, const std::u16string&), void*);
  Ref<TGlyphData> Data(int32_t line, int32_t glyph);
  std::vector<TGlyphLine> lines_;
};

// A cached vector text built from live fonts through the installed
// vectorizer; the global font cache grows as a side effect. Null without a
// vectorizer.
Ref<TCachedVectorText> BuildCachedVectorText(const TFontDesc& font, const std::vector<std::u16string>& lines);
// Writes the stream form; `text` must be a cached vector text (assertion).
void SaveCachedVectorText(TVectorText* text, TStream* stream);
// Reads a cached vector text from the start of `stream`; for each glyph read
// calls `resolve`(data, font key) when set. Raises EStreamReadError for a
// short stream or counts past the limits.
void LoadCachedVectorText(Ref<TCachedVectorText>& text, TStream* stream,
                          void (*resolve)(void* data, const std::u16string& key), void* data);

}  // namespace kav
