// Texts as image stores: the store of a "Text: " key renders the text with
// the text producer. Glyphs come from the show's own glyph caches
// ("VectTextCache: <font key>") and the layout from the show's cached vector
// text ("VectTxt2: ..."); a text the show carries no layout for is built
// from the installed fonts.
#pragma once

#include <string>

#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Text/vxGlyphCache.h"
#include "VoRav/Text/vxTextDescriptors.h"
#include "VoRav/vxRectUtils.h"

namespace kav {

// The accessor through which a text's glyph caches are opened.
class TFileAccessorCacheReader : public TRefObject {
 public:
  explicit TFileAccessorCacheReader(TFileAccessor* accessor) : accessor_(accessor) {}
  TFileAccessor* Accessor() const noexcept { return accessor_.get(); }

 private:
  Ref<TFileAccessor> accessor_;
};

class TTextBitmapStore : public TSysBitmapStore {
 public:
  // The store of a "Text: " key, its text read through `accessor` (or built
  // from installed fonts). Raises EStreamReadError for a damaged or hostile
  // cached text. Level 0 is "A8R8G8B8": white text with its coverage as
  // alpha.
  static Ref<TTextBitmapStore> Create(const std::u16string& key, TFileAccessor* accessor,
                                      const TImageParamsCallback& params_callback = {});

  // The bitmap's size; a scale of 0 takes the stored one.
  void GetPixelSize(TSize& out, float scale = 0);
  // The text body's rectangle; a scale of 0 takes the stored one.
  void GetBoundsRect(TRect& out, float scale);
  float LineHeight();
  const TTextParams& Params() const noexcept { return params_; }
  // Departure: the text renders the same pixels whenever asked, so once the
  // device's tiles hold a large picture (a long line's is up to 64 MiB) it is
  // let go; a small one is kept, since rendering it again costs more than it.
  bool CanProduceAgain() const noexcept override {
    return int64_t(TBitmapStore::params_.Width) * TBitmapStore::params_.Height >= kLetGoTextPixels;
  }
  static constexpr int64_t kLetGoTextPixels = int64_t(1) << 22;
  TCachedVectorText* Text() const noexcept { return text_.get(); }

  // Loads the glyph cache of `font_key` from the accessor into the global
  // font cache unless it is there already.
  static void FindVectTextCache(void* reader, const std::u16string& font_key);

 protected:
  TTextBitmapStore(const std::u16string& key, const TImageParamsCallback& params_callback, TSize size,
                   Ref<TCachedVectorText> text, const TTextParams& params);
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override;
  // Level 0 rendered a part at a time (see TTextProducer::OpenParts), for a
  // store with no level filter whose text can be painted so.
  Ref<TLevelRowReader> MakeLevelRows(int32_t level) override;
  void Dispose() override;

 private:
  Ref<TCachedVectorText> text_;
  TTextParams params_;
  TRectList update_rects_;
};

// The em, in pixels, at which a text is laid out from the installed fonts:
// placement's whole-pixel advances are then within 1/4096 of an em of the
// shaper's, so the letters of a text drawn at any size stand where the
// shaper places them at that size.
inline constexpr int32_t kVectorTextLayoutEm = 2048;
// A line's characters times its em stay below this (advances are 32-bit).
inline constexpr int64_t kVectorTextAdvanceBudget = int64_t(1) << 28;

// The layout of a "VectTxt2: " key built from the installed fonts, at
// kVectorTextLayoutEm (smaller for lines longer than the advance budget
// allows, never below the GUI font's size).
Ref<TCachedVectorText> BuildVectText(const std::u16string& vect_key);

// Installs what the text layer provides to the layers below it at start-up:
// the vectorizer over the platform fonts and the renderer of the "Image not
// found" placeholder.
void InstallTextServices();
// The placeholder renderer: the lines in the default font, centred.
Ref<TBitmapStore> RenderNotFoundLines(const std::vector<std::u16string>& lines, TColor32 text, TColor32 background,
                                      double value);

}  // namespace kav
