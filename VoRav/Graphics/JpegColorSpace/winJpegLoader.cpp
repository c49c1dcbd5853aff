#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"

#include <algorithm>
#include <mutex>

#include "VoRav/Graphics/JpegColorSpace/vxJpegICCExtractor.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

void CheckGoOn(const TProgressHandler& handler, float fraction) {
  if (handler && !handler(fraction)) throw EAbort("Loading stopped");
}

using TStoreLock = TLockScope<TSafeCriticalSection>;

// A level decoded a band of rows at a time. The progress handler hears
// libjpeg's progress and may stop the load between bands.
class TJpegLevelRows : public TLevelRowReader {
 public:
  TJpegLevelRows(Ref<TJPEGData> data, int32_t level, const TProgressHandler& progress, TJpegBitmapStore* store)
      : decoder_(OpenDecoder(std::move(data), level, store)), progress_(progress), store_(store) {
    decoder_.SetProgress(&Report, this);
  }
  TSize Size() const override { return TSize{decoder_.Width(), decoder_.Height()}; }
  void ReadRows(uint8_t* const* rows, int32_t count) override {
    try {
      decoder_.Read(rows, count);
    } catch (const EJPEG&) {
      store_->SayUndecodable();
      throw;
    }
    if (decoder_.RowsRead() >= decoder_.Height())
      store_->SayDamaged(decoder_.Warning(), decoder_.WarningIsEndOfData());
    CheckGoOn(progress_, float(decoder_.RowsRead()) / float(std::max(decoder_.Height(), 1)));
  }

 private:
  // libjpeg may refuse the data already when it starts its output.
  static TJpegRowDecoder OpenDecoder(Ref<TJPEGData> data, int32_t level, TJpegBitmapStore* store) {
    try {
      return TJpegRowDecoder(std::move(data), uint8_t(level), true);
    } catch (const EJPEG&) {
      store->SayUndecodable();
      throw;
    }
  }
  static void Report(void* context, int percent) noexcept {
    auto* self = static_cast<TJpegLevelRows*>(context);
    try {
      // Inside libjpeg the answer cannot stop it; a stop is honoured after the band.
      if (self->progress_) self->progress_(float(percent) * 0.01f);
    } catch (...) {
    }
  }
  TJpegRowDecoder decoder_;
  TProgressHandler progress_;
  Ref<TJpegBitmapStore> store_;
};

}  // namespace

TJpegBitmapStore::TJpegBitmapStore(const std::u16string& name, const TImageParamsCallback& params_callback,
                                   TJpegImage* image)
    : TSysBitmapStore(name, params_callback, GetPixelFormat(), image->GetSize()), image_(image) {
  image_->OnProgress = TJpegProgressEvent::Bind<&TJpegBitmapStore::ImageProgress>(this);
}

TPixelFormat* TJpegBitmapStore::GetPixelFormat() { return StdFormats().R8G8B8; }

void TJpegBitmapStore::Dispose() {
  if (image_) image_->OnProgress = {};
  image_ = nullptr;
  TSysBitmapStore::Dispose();
}

void TJpegBitmapStore::ImageProgress(TRefObject*, uint8_t, uint8_t percent, bool, const TRect&,
                                     const std::u16string&) {
  // Called from inside libjpeg: the answer cannot stop it there; a stop is
  // honoured when the level is done.
  if (on_progress_) on_progress_(float(percent) * 0.01f);
}

void TJpegBitmapStore::SetSourceOpener(TStreamOpener opener) {
  TStoreLock hold(StoreLock());
  opener_ = std::move(opener);
}

bool TJpegBitmapStore::HoldsSource() {
  TStoreLock hold(StoreLock());
  return image_ && image_->Image && image_->Image->Data;
}

Ref<TJPEGData> TJpegBitmapStore::SourceData() {
  Ref<TJPEGData> data = image_ ? image_->Image : nullptr;
  if (!data || data->Data || !opener_) return data;
  Ref<TStream> stream = opener_();
  if (!stream) throw EStreamReadError("The picture's file cannot be opened again");
  auto fresh = MakeRef<TJpegImage>();
  fresh->LoadFromStream(stream.get());
  const TJPEGData* now = fresh->Image.get();
  // A file that changed since it was loaded is not decoded in its place.
  if (!now || !now->Data || now->Width != data->Width || now->Height != data->Height ||
      now->Grayscale != data->Grayscale || now->Cmyk != data->Cmyk || now->Arithmetic != data->Arithmetic)
    throw EStreamReadError("The picture's file changed since it was loaded");
  image_->Image = fresh->Image;
  return image_->Image;
}

void TJpegBitmapStore::DropSource() {
  // Departure: the compressed bytes are let go once the textures hold the picture and read again through the opener,
  // so a prepared slide does not keep its file in memory too.
  if (!opener_ || !image_ || !image_->Image || !image_->Image->Data) return;
  // The facts stay; the bytes go (a reader under way holds the old record).
  auto facts = MakeRef<TJPEGData>();
  const TJPEGData& old = *image_->Image;
  facts->Width = old.Width;
  facts->Height = old.Height;
  facts->Grayscale = old.Grayscale;
  facts->Cmyk = old.Cmyk;
  facts->Arithmetic = old.Arithmetic;
  image_->Image = facts;
}

void TJpegBitmapStore::SayDamaged(const std::string& warning, bool end_of_data) {
  if (warning.empty() || damage_said_.exchange(true)) return;
  ReportShowProblem(TShowProblemKind::File, Params().Name,
                    end_of_data ? std::u16string(kPictureCutShort)
                                : u"the picture's data is damaged (libjpeg: " + SystemUTF8ToWide(warning) +
                                      u"): parts of it may show garbled or grey; copy or export the picture again");
}

void TJpegBitmapStore::SayUndecodable() {
  SetUndecodable();
  if (damage_said_.exchange(true)) return;
  ReportShowProblem(TShowProblemKind::File, Params().Name, DamagedPictureReason(u"JPEG"));
}

Ref<TLevelRowReader> TJpegBitmapStore::MakeLevelRows(int32_t level) {
  if (level < 0 || level > 3 || !image_ || HasLevelFilter()) return nullptr;
  Ref<TJPEGData> data = SourceData();
  if (!data || data->Grayscale || data->Cmyk) return nullptr;
  return MakeRef<TJpegLevelRows>(data, level, on_progress_, this);
}

Ref<TDibBitmap> TJpegBitmapStore::DecodeLevel(int32_t level, bool four_bytes) {
  Ref<TFastDIB> dib;
  std::string warning;
  bool end_of_data = false;
  {
    TStoreLock hold(StoreLock());
    SourceData();
    try {
      dib = image_->Decode(uint8_t(level), four_bytes);
    } catch (const EJPEG&) {
      SayUndecodable();
      throw;
    }
    warning = image_->DecodeWarning;
    end_of_data = image_->DecodeWarningEndOfData;
  }
  SayDamaged(warning, end_of_data);
  if (dib->BitCount() == 8) {
    const int32_t w = dib->Width(), h = dib->RowCount();
    auto wide = MakeRef<TFastDIB>();
    wide->SetSize(w, h, 24);
    for (int32_t row = 0; row < h; ++row) {
      CheckGoOn(on_progress_, 0.5f + float(row) * (0.5f / float(h)));
      const uint8_t* src = dib->Row(row);
      uint8_t* dst = wide->Row(row);
      for (int32_t x = 0; x < w; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
    }
    dib = wide;
  }
  return NewDibBitmapOn(dib.get(), false);
}

void TJpegBitmapStore::GetMipLevel(int32_t level, TPixelFormat* format, TLevelBitmap& out,
                                   const TBitmapClass* cls) {
  // Departure: a colour level asked for as A8R8G8B8 is decoded to 32 bits (same pixels, alpha 255), not to 24 bits
  // and copied, which kept both copies of every shown photo and cost a conversion.
  four_bytes_ = format == StdFormats().A8R8G8B8 && (!cls || TDibBitmap::kClass.InheritsFrom(cls));
  struct TReset {
    bool& flag;
    ~TReset() { flag = false; }
  } reset{four_bytes_};
  TSysBitmapStore::GetMipLevel(level, format, out, cls);
}

void TJpegBitmapStore::LoadMipLevel(int32_t level, TLevelBitmap& out) {
  if (level < 0 || level > 3) return;
  out.Bitmap = DecodeLevel(level, four_bytes_);
  out.Owned = true;
  out.Level = level;
  CheckGoOn(on_progress_, 1.0f);
}

Ref<TColorProfile> GetJpegColorProfile(TStream* stream, const std::u16string& name) {
  std::vector<uint8_t> bytes;
  ExtractJpegIccProfile(stream, bytes);
  return ColorProfileFromBytes(bytes, name);
}

Ref<TBitmapStore> LoadJpegImage(TStream* stream, const std::u16string& name, bool owns_stream,
                                const TImageParamsCallback& params_callback) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  const int64_t start = stream->GetPosition();
  auto image = MakeRef<TJpegImage>();
  bool ok = false;
  try {
    image->LoadFromStream(stream);
    ok = true;
  } catch (const Exception&) {
  }
  const TSize size = image->GetSize();
  if (ok && (size.cx <= 0 || size.cy <= 0)) ok = false;
  if (ok && !image->Image->Arithmetic &&
      int64_t(size.cx) * size.cy > image->Image->Data->GetSize() * kJpegMaxPixelsPerByte)
    ok = false;
  if (!ok) {
    stream->SetPosition(start);
    return nullptr;
  }
  auto store = MakeRef<TJpegBitmapStore>(name, params_callback, image.get());
  const int64_t here = stream->GetPosition();
  stream->SetPosition(start);
  try {
    Ref<TColorProfile> profile = GetJpegColorProfile(stream, name);
    store->SetColorProfile(profile.get());
  } catch (const Exception&) {
    // A stream that fails while the profile is searched leaves the picture
    // without one.
  }
  stream->SetPosition(here);
  return store;
}

void RegisterJpegLoader() {
  static std::once_flag once;
  std::call_once(once, [] { RegisterImageLoader(&LoadJpegImage, {u".jpg", u".jpeg", u".jpe", u".jfif"}); });
}

int FuzzJpeg(const uint8_t* data, size_t size) {
  const TFuzzBitmapLimits limits;
  auto s = MakeRef<TMemoryStream>();
  if (size) s->Write(std::span<const uint8_t>(data, size), int64_t(size));
  s->SetPosition(0);
  Ref<TBitmapStore> store = LoadJpegImage(s.get(), u"f.jpg", false, {});
  if (!store) return 0;
  for (int32_t level = 3; level >= 0; --level) {
    // Only small levels: the fuzzer's time goes to the parsing.
    if (int64_t(store->Width() >> level) * (store->Height() >> level) > (1 << 20)) continue;
    try {
      // The level a band of rows at a time first (a made level gives no reader).
      if (Ref<TLevelRowReader> rows = store->OpenLevelRows(level)) {
        const TSize size = rows->Size();
        std::vector<uint8_t> band(size_t(size.cx) * 4 * 16);
        std::vector<uint8_t*> pointers(16);
        for (size_t i = 0; i < pointers.size(); ++i) pointers[i] = band.data() + i * size_t(size.cx) * 4;
        for (int32_t y = 0; y < size.cy; y += 16) rows->ReadRows(pointers.data(), std::min(16, size.cy - y));
      }
    } catch (const EJPEG&) {
    } catch (const EOutOfMemory&) {
    }
    try {
      Ref<TBitmap> b = store->GetMipLevel(level);
      KAV_ASSERT(b->Width() == (store->Width() + (1 << level) - 1) >> level);
    } catch (const EJPEG&) {
      // A picture libjpeg cannot decode fails cleanly.
    } catch (const EOutOfMemory&) {
      // So does a level above the bitmap limits in force (the header alone
      // does not refuse a picture that smaller levels can still show).
    }
  }
  return 0;
}

}  // namespace kav
