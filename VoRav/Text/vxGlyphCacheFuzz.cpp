// Fuzz entry point of the glyph cache and cached vector text streams, which
// shows carry and which are read as hostile input.
#include <cstdio>
#include <cstdlib>
#include <span>

#include "VoRav/Text/vxGlyphCache.h"
#include "VoRav/Text/vxGlyphCacheFuzz.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FuzzGlyphCache: %s\n", what);
  std::abort();
}

Ref<TMemoryStream> StreamOf(std::span<const uint8_t> bytes) {
  Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
  s->WriteBytes(bytes);
  s->SetPosition(0);
  return s;
}

std::vector<uint8_t> BytesOf(TMemoryStream* s) {
  std::vector<uint8_t> out(size_t(s->GetSize()));
  s->SetPosition(0);
  s->Read(out, int64_t(out.size()));
  return out;
}

}  // namespace

int FuzzGlyphCache(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  // As a glyph cache: what loads saves and loads again to the same bytes.
  {
    Ref<TGlyphCache> cache = MakeRef<TGlyphCache>(u"seed");
    bool loaded = true;
    try {
      cache->LoadFromStream(StreamOf(bytes).get());
    } catch (const EStreamReadError&) {
      loaded = false;
    }
    Require(loaded || cache->Count() == 0, "a refused stream left glyphs behind");
    if (loaded) {
      Require(cache->Count() <= kMaxCachedGlyphs, "more glyphs than the cap");
      Ref<TMemoryStream> saved = MakeRef<TMemoryStream>();
      cache->SaveToStream(saved.get());
      Ref<TGlyphCache> again = MakeRef<TGlyphCache>();
      saved->SetPosition(0);
      again->LoadFromStream(saved.get());
      Ref<TMemoryStream> resaved = MakeRef<TMemoryStream>();
      again->SaveToStream(resaved.get());
      Require(BytesOf(saved.get()) == BytesOf(resaved.get()), "glyph cache round trip differs");
    }
  }
  // As a cached vector text.
  {
    Ref<TCachedVectorText> text;
    int keys = 0;
    try {
      LoadCachedVectorText(text, StreamOf(bytes).get(),
                           [](void* counter, const std::u16string& key) {
                             Require(key.size() <= size_t(kMaxFontKeyLength), "key longer than the cap");
                             ++*static_cast<int*>(counter);
                           },
                           &keys);
    } catch (const EStreamReadError&) {
      return 0;
    }
    Require(text && text->LineCount() <= kMaxCachedLines, "more lines than the cap");
    Ref<TMemoryStream> saved = MakeRef<TMemoryStream>();
    SaveCachedVectorText(text.get(), saved.get());
    Ref<TCachedVectorText> again;
    LoadCachedVectorText(again, saved.get(), nullptr, nullptr);
    Require(again->LineCount() == text->LineCount(), "cached text round trip lost lines");
    for (int32_t i = 0; i < text->LineCount(); ++i)
      Require(again->GetGlyphCount(i) == text->GetGlyphCount(i), "cached text round trip lost glyphs");
  }
  return 0;
}

}  // namespace kav
