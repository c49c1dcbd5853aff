#include <gtest/gtest.h>

#include "../Graphics/FuzzSeeds.h"
#include "VoRav/Text/vxGlyphCache.h"
#include "VoRav/Text/vxGlyphCacheFuzz.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

TGlyphRecord Record(const std::u16string& key, uint16_t index, float size) {
  TGlyphRecord r;
  r.FontKey = key;
  r.GlyphIndex = index;
  r.FontSize = size;
  r.A = 1;
  r.B = 6;
  r.C = 2;
  r.Ascent = 10;
  r.Descent = 3;
  return r;
}

TPointArray Square() {
  TPointArray p;
  p.Add(0, -8, kPathMove);
  p.Add(6, -8, kPathLine);
  p.Add(6, 0, kPathLine);
  p.Add(0, 0, kPathLine);
  return p;
}

TEST(GlyphCache, StreamRoundTripReplacesTheGlyphs) {
  Ref<TGlyphCache> c = MakeRef<TGlyphCache>(u"Test Face:Bold");
  int32_t index;
  c->AddGlyph(Record(u"Test Face:Bold", 7, 12), Square(), index);
  EXPECT_EQ(index, 0);
  c->AddGlyph(Record(u"Test Face:Bold", 9, 12), TPointArray(), index);
  Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
  c->SaveToStream(s.get());
  Ref<TGlyphCache> d = MakeRef<TGlyphCache>(u"Other");
  d->AddGlyph(Record(u"Other", 1, 5), Square(), index);
  s->SetPosition(0);
  d->LoadFromStream(s.get());
  EXPECT_EQ(d->FontKey(), u"Test Face:Bold");
  EXPECT_EQ(d->Count(), 2);
  EXPECT_FALSE(d->FindGlyph(1, index));
  EXPECT_EQ(index, -1);
  Ref<TGlyphData> g = d->FindGlyph(7, index);
  ASSERT_TRUE(g);
  EXPECT_EQ(index, 0);
  EXPECT_EQ(g->Points, Square().Points());
  EXPECT_EQ(g->Record.B, 6);
  EXPECT_EQ(g->Record.Advance, 0);  // not in the stream
  d->SetFontName(u"Test Face:Bold");
  EXPECT_EQ(d->Count(), 2);
  d->SetFontName(u"New");
  EXPECT_EQ(d->Count(), 0);
}

TEST(GlyphCache, HostileCountsAreRefusedBeforeAllocating) {
  Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteInteger(0x7FFFFFFF);  // glyphs
  s->WriteInteger(4);
  s->SetPosition(0);
  Ref<TGlyphCache> c = MakeRef<TGlyphCache>();
  EXPECT_THROW(c->LoadFromStream(s.get()), EStreamReadError);
  s->Clear();
  s->WriteInteger(1);
  s->WriteInteger(-5);  // key length
  s->SetPosition(0);
  EXPECT_THROW(c->LoadFromStream(s.get()), EStreamReadError);
  s->Clear();
  for (int32_t v : {1, 0}) s->WriteInteger(v);
  s->WriteWord(3);
  for (int i = 0; i < 6; ++i) s->WriteInteger(0);
  s->WriteInteger(1 << 30);  // points
  s->SetPosition(0);
  EXPECT_THROW(c->LoadFromStream(s.get()), EStreamReadError);
  EXPECT_EQ(c->Count(), 0);
  Ref<TCachedVectorText> t;
  s->Clear();
  s->WriteInteger(1 << 30);  // lines
  EXPECT_THROW(LoadCachedVectorText(t, s.get(), nullptr, nullptr), EStreamReadError);
}

TEST(GlyphCache, CachedTextRoundTripAndScaledOutlines) {
  const std::u16string key = u"Cache Test Face:";
  int32_t index;
  Ref<TGlyphCache> cache = FontCache()->AddNamed(key, index);
  if (!cache->FindGlyph(5, index)) cache->AddGlyph(Record(key, 5, 10), Square(), index);
  TFontMetricsRec m;
  m.Ascent = 10;
  m.Descent = 3;
  m.UnderlinePosition = -2;
  Ref<TCachedVectorText> t = MakeRef<TCachedVectorText>(2, m);
  t->Lines()[0].Glyphs.push_back({5, key, 0, 10});
  t->Lines()[0].Glyphs.push_back({5, key, 9, 20});
  t->Lines()[1].Glyphs.push_back({6, u"Missing:", 0, 10});
  Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
  SaveCachedVectorText(t.get(), s.get());
  Ref<TCachedVectorText> back;
  std::vector<std::u16string> resolved;
  LoadCachedVectorText(back, s.get(),
                       [](void* list, const std::u16string& k) {
                         static_cast<std::vector<std::u16string>*>(list)->push_back(k);
                       },
                       &resolved);
  ASSERT_EQ(back->LineCount(), 2);
  EXPECT_EQ(resolved, (std::vector<std::u16string>{key, key, u"Missing:"}));
  EXPECT_EQ(back->FontMetrics().UnderlinePosition, -2.0f);
  ASSERT_EQ(back->GetGlyphCount(0), 2);
  TGlyphRecord info;
  back->GetGlyphInfo(0, 1, info);
  EXPECT_EQ(info.PenX, 9);
  EXPECT_EQ(info.FontSize, 20.0f);
  EXPECT_EQ(info.GlyphIndex, 5);
  // At twice the cached size every coordinate doubles.
  TPointArray p;
  back->OutlineGlyph(0, 1, p);
  ASSERT_EQ(p.Count(), 4);
  EXPECT_EQ(p[1].x, 12.0f);
  EXPECT_EQ(p[1].y, -16.0f);
  // A glyph without data draws nothing and does not count in the bounds; a
  // line with none takes the text's ascent and descent.
  p.Clear();
  back->OutlineGlyph(1, 0, p);
  EXPECT_TRUE(p.Empty());
  TLineBounds b;
  back->GetLineBounds(1, b);
  EXPECT_EQ(b.Ascent, 10);
  EXPECT_EQ(b.Advance, 0);
  back->GetLineBounds(0, b);
  EXPECT_EQ(b.Advance, 18);  // second glyph: pen 9 + A 1 + B 6 + C 2
  EXPECT_EQ(b.InkLeft, 0);   // the pen itself counts among the extremes
}

TEST(GlyphCache, FuzzSeedsRunCleanly) { EXPECT_GE(test::RunFuzzSeeds("glyphcache", &FuzzGlyphCache), 3); }

}  // namespace
}  // namespace kav
