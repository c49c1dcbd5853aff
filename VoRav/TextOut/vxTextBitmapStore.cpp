#include "VoRav/TextOut/vxTextBitmapStore.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextVectorizer.h"
#include "VoRav/wpThreads2.h"

namespace kav {

Ref<TCachedVectorText> BuildVectText(const std::u16string& vect_key) {
  std::vector<std::u16string> lines;
  std::u16string face;
  uint8_t style = 0;
  ParseVectTxtKey(StripMarkupTags(vect_key), lines, face, style);
  TFontDesc font = GetDefaultGuiFont();
  font.FaceName = face;
  font.Style = style;
  // Departure: laid out at a large em (kVectorTextLayoutEm pixels), not at
  // the GUI font's size: placement gives whole-pixel advances, and rounded
  // at 11 pixels and drawn ten times larger they stepped the letters
  // unevenly ("Firs t"). A line so long that its advances could leave the
  // 32-bit range at that em is laid out smaller, never below the GUI size.
  size_t longest = 1;
  for (const std::u16string& line : lines) longest = std::max(longest, line.size());
  const double em = std::clamp(double(kVectorTextAdvanceBudget) / double(longest), 0.0, double(kVectorTextLayoutEm));
  font.Size = std::max(font.Size, float(std::floor(em) * 72.0 / ptext::kScreenPixelsPerInch));
  return BuildCachedVectorText(font, lines);
}

void TTextBitmapStore::FindVectTextCache(void* reader, const std::u16string& font_key) {
  int32_t index;
  if (FontCache()->Find(font_key, index)) return;
  auto* r = static_cast<TFileAccessorCacheReader*>(reader);
  Ref<TStream> s = r->Accessor()->OpenFile(u"VectTextCache: " + font_key);
  if (!s) return;
  Ref<TGlyphCache> cache = MakeRef<TGlyphCache>(font_key);
  cache->LoadFromStream(s.get());
  // Another thread may have added the key meanwhile; the first one stays.
  if (!FontCache()->Find(font_key, index)) FontCache()->AddCache(cache.get());
}

Ref<TTextBitmapStore> TTextBitmapStore::Create(const std::u16string& key, TFileAccessor* accessor,
                                               const TImageParamsCallback& params_callback) {
  const std::u16string vect_key = VectTxtKeyFromTextKey(key);
  TTextParams params;
  std::vector<std::u16string> lines;
  ParseTextParamsKey(StripMarkupTags(key), lines, params);
  Ref<TCachedVectorText> text;
  // A thread asked to stop makes an empty text at once (its caller drops it).
  const bool stopping = CurrentThreadStopRequested();
  Ref<TStream> stream = accessor && !stopping ? accessor->OpenFile(vect_key) : Ref<TStream>();
  if (stopping) {
    text = MakeRef<TCachedVectorText>();
  } else if (stream) {
    Ref<TFileAccessorCacheReader> reader = MakeRef<TFileAccessorCacheReader>(accessor);
    LoadCachedVectorText(text, stream.get(), &TTextBitmapStore::FindVectTextCache, reader.get());
  } else {
    // Built from the installed fonts and used as built: the stream form has
    // no field for the offsets shaping gives marks, so a round trip through
    // it would drop them.
    text = BuildVectText(vect_key);
    if (!text) text = MakeRef<TCachedVectorText>();
  }
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text.get(), false);
  TSize size;
  p->GetPixelSize(size, float(params.LineSpacing), float(params.Scale));
  return Ref<TTextBitmapStore>::Adopt(new TTextBitmapStore(key, params_callback, size, text, params));
}

TTextBitmapStore::TTextBitmapStore(const std::u16string& key, const TImageParamsCallback& params_callback, TSize size,
                                   Ref<TCachedVectorText> text, const TTextParams& params)
    : TSysBitmapStore(key, params_callback, PixelFormatByName("A8R8G8B8"), size),
      text_(std::move(text)),
      params_(params) {}

void TTextBitmapStore::Dispose() {
  text_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TTextBitmapStore::GetPixelSize(TSize& out, float scale) {
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text_.get(), false);
  p->GetPixelSize(out, float(params_.LineSpacing), scale == 0 ? float(params_.Scale) : scale);
}

void TTextBitmapStore::GetBoundsRect(TRect& out, float scale) {
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text_.get(), false);
  p->GetBoundsRect(out, float(params_.LineSpacing), scale == 0 ? float(params_.Scale) : scale);
}

float TTextBitmapStore::LineHeight() {
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text_.get(), false);
  return p->LineHeight(float(params_.Scale));
}

void TTextBitmapStore::LoadMipLevel(int32_t level, TLevelBitmap& out) {
  if (level != 0) return;  // smaller levels are halved from level 0
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text_.get(), false);
  p->SetAlignment(params_.Alignment);
  p->SetLineSpacing(float(params_.LineSpacing));
  Ref<TImage> image = p->Produce(0xFFFFFFFFu, 0x00FFFFFFu, u"txtbitmapstore", TPoint{},
                                 params_.Style & fsStrikeOut, params_.Style & fsUnderline, float(params_.Scale));
  update_rects_.Clear();
  GetNotifyList()->Add(new TRectListWrapper(update_rects_));
  if (!image) return;
  out.Bitmap = image->Store()->GetMipLevel(0, PixelFormatByName("A8R8G8B8"));
  out.Owned = true;
  out.Level = 0;
}

namespace {

// Level 0 of a text store: each band of rows or rectangle asked for is
// rendered on its own, with the pixels of the whole picture there.
class TTextLevelRows : public TLevelRowReader {
 public:
  TTextLevelRows(Ref<TCachedVectorText> text, Ref<TTextProducer> producer, TSize size)
      : text_(std::move(text)), producer_(std::move(producer)), size_(size) {}
  TSize Size() const override { return size_; }
  void ReadRows(uint8_t* const* rows, int32_t count) override {
    const int32_t n = std::min(count, size_.cy - next_row_);
    if (n <= 0) return;
    ReadRect(TRect{0, next_row_, size_.cx, next_row_ + n}, rows);
    next_row_ += n;
  }
  bool ReadsRects() const override { return true; }
  void ReadRect(const TRect& rect, uint8_t* const* rows) override {
    KAV_ASSERT(!rect.IsEmpty() && rect.Left >= 0 && rect.Top >= 0 && rect.Right <= size_.cx &&
               rect.Bottom <= size_.cy);
    // The worker was asked to stop: the load is given up as a decoder's is.
    if (!producer_->PaintPart(rect, rows)) throw EAbort("Loading stopped");
  }

 private:
  Ref<TCachedVectorText> text_;  // the producer's source
  Ref<TTextProducer> producer_;
  TSize size_;
  int32_t next_row_ = 0;
};

}  // namespace

Ref<TLevelRowReader> TTextBitmapStore::MakeLevelRows(int32_t level) {
  if (level != 0 || HasLevelFilter() || !text_) return nullptr;
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(text_.get(), false);
  p->SetAlignment(params_.Alignment);
  p->SetLineSpacing(float(params_.LineSpacing));
  TSize size;
  // The same call as LoadMipLevel's Produce.
  if (!p->OpenParts(0xFFFFFFFFu, 0x00FFFFFFu, params_.Style & fsStrikeOut, params_.Style & fsUnderline,
                    float(params_.Scale), size))
    return nullptr;
  if (size != TSize{Width(), Height()}) return nullptr;
  return MakeRef<TTextLevelRows>(text_, p, size);
}

Ref<TBitmapStore> RenderNotFoundLines(const std::vector<std::u16string>& lines, TColor32 text, TColor32 background,
                                      double value) {
  // At the GUI font's 8.25 points and half scale the lines would be five
  // pixels high: the placeholder's font is 24 points.
  TFontDesc font = GetDefaultGuiFont();
  font.Size = 24;
  Ref<TVectorText> vt = NewSimpleVectorText(font, lines);
  if (!vt) return {};
  Ref<TTextProducer> p = MakeRef<TTextProducer>();
  p->SetSource(vt.get(), false);
  p->SetAlignment(1);
  Ref<TImage> image = p->ProduceText(text, background, float(value));
  if (!image) return {};
  return Ref<TBitmapStore>(image->Store());
}

void InstallTextServices() {
  InstallWinVectorizer();
  SetNotFoundRenderer(&RenderNotFoundLines);
}

}  // namespace kav
