#include "VoRav/Graphics/vxImageLib.h"

#include <cstring>
#include <set>
#include <string_view>

#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

namespace {

struct TLibEntry {
  std::u16string Name;
  TImageLibEntries Entries;
  std::set<std::string> Extensions;  // upper case, UTF-8
  Ref<TImageLib> Lib;                // bound on first use
  bool BindFailed = false;
};

std::vector<TLibEntry>& LibTable() {
  static std::vector<TLibEntry> table;
  return table;
}

std::string UpperExtension(std::u16string_view ext) { return UTF8Encode(WideUpperCase(ext)); }

// One picture the library holds open; closed with the last reference.
class TImageLibPicture : public TRefObject {
 public:
  TImageLibPicture(TImageLib* lib, const TImageLibInfo& info) : lib_(lib), info_(info) {}
  TImageLibInfo& Info() noexcept { return info_; }
  TImageLib* Lib() const noexcept { return lib_.get(); }

 protected:
  void Dispose() override {
    lib_->Entries.CloseImage(info_);
    lib_ = nullptr;
    TRefObject::Dispose();
  }

 private:
  Ref<TImageLib> lib_;
  TImageLibInfo info_;
};

// Level 0 of a library picture: its rows, with the picture kept open.
class TImageLibBitmap : public TSysBitmap {
 public:
  TImageLibBitmap(TImageLibPicture* picture, TPixelFormat* format)
      : TSysBitmap(TSize{picture->Info().Width, picture->Info().Height},
                   std::vector<uint8_t*>(picture->Info().Rows, picture->Info().Rows + picture->Info().Height),
                   format),
        picture_(picture) {}

 protected:
  void Dispose() override {
    picture_ = nullptr;
    TSysBitmap::Dispose();
  }

 private:
  Ref<TImageLibPicture> picture_;
};

TImageLibStreamSource* Source(void* block) { return static_cast<TImageLibStreamSource*>(block); }

int64_t CallbackGetSize(void* block) {
  try {
    const int64_t size = Source(block)->Stream->GetSize();
    return size < 0 ? size : size - Source(block)->Start;
  } catch (const std::exception&) {
    return -1;
  }
}

void CallbackSetSize(void* block, int64_t size) {
  try {
    Source(block)->Stream->SetSize(Source(block)->Start + size);
  } catch (const std::exception&) {
  }
}

int32_t CallbackRead(void* block, void* buffer, int32_t count, int64_t position) {
  TImageLibStreamSource* s = Source(block);
  if (count < 0 || position < 0) return -1;
  try {
    if (s->Stream->SetPosition(s->Start + position) != s->Start + position) return 0;
    return int32_t(s->Stream->Read(std::span<uint8_t>(static_cast<uint8_t*>(buffer), size_t(count)), count));
  } catch (const std::exception&) {
    return -1;
  }
}

int32_t CallbackWrite(void* block, const void* buffer, int32_t count, int64_t position) {
  TImageLibStreamSource* s = Source(block);
  if (count < 0 || position < 0) return -1;
  try {
    if (s->Stream->SetPosition(s->Start + position) != s->Start + position) return 0;
    return int32_t(
        s->Stream->Write(std::span<const uint8_t>(static_cast<const uint8_t*>(buffer), size_t(count)), count));
  } catch (const std::exception&) {
    return -1;
  }
}

}  // namespace

TImageLibStreamCallbacks MakeImageLibStreamCallbacks(TImageLibStreamSource& source) {
  TImageLibStreamCallbacks r;
  r.Stream = &source;
  r.GetSize = &CallbackGetSize;
  r.SetSize = &CallbackSetSize;
  r.Read = &CallbackRead;
  r.Write = &CallbackWrite;
  return r;
}

Ref<TImageLib> BindImageLibEntries(const TImageLibEntries& p) {
  if (!p.OpenImage || !p.OpenImageFile || !p.ReadImage || !p.CloseImage) return nullptr;
  return MakeRef<TImageLib>(p);
}

void RegisterImageLib(const std::u16string& library_name, const TImageLibEntries& entries,
                      const std::vector<std::u16string>& extensions) {
  std::vector<TLibEntry>& table = LibTable();
  if (table.size() == table.capacity()) table.reserve(table.empty() ? 4 : table.size() * 2);
  // The loader goes through the whole table, so it is registered once per
  // extension: only for extensions no earlier library claims.
  std::vector<std::u16string> fresh;
  TLibEntry e{library_name, entries, {}, nullptr, false};
  for (const std::u16string& mask : extensions) {
    const std::u16string ext = NormalizeExtensionMask(mask);
    const std::string key = UpperExtension(ext);
    bool claimed = false;
    for (const TLibEntry& other : table) claimed = claimed || other.Extensions.count(key) != 0;
    if (!claimed && !e.Extensions.count(key)) fresh.push_back(ext);
    e.Extensions.insert(key);
  }
  table.push_back(std::move(e));
  if (!fresh.empty()) RegisterImageLoader(&LoadImageLibImage, fresh);
}

void RegisterPngImageLib() {
  static const bool registered = [] {
    RegisterImageLib(u"vxPngLib.dll", PngImageLibEntries(), {u".png"});
    return true;
  }();
  (void)registered;
}

Ref<TBitmapStore> LoadImageLibImage(TStream* stream, const std::u16string& name, bool owns_stream,
                                    const TImageParamsCallback& params_callback) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  if (!stream) return nullptr;
  // Departure: the extension the data says, as the registry chose it (a PNG
  // named ".jpg" reaches this loader and is taken).
  const std::string ext = UpperExtension(PictureDataExtension(stream, name));
  const int64_t start = stream->GetPosition();
  TImageLibStreamSource source{stream, start};
  const TImageLibStreamCallbacks callbacks = MakeImageLibStreamCallbacks(source);
  for (TLibEntry& e : LibTable()) {
    if (e.BindFailed || (!ext.empty() && !e.Extensions.count(ext))) continue;
    if (!e.Lib && !(e.Lib = BindImageLibEntries(e.Entries))) {
      e.BindFailed = true;
      continue;
    }
    TImageLibInfo info;
    if (!e.Lib->Entries.OpenImage(info, callbacks)) continue;
    if (info.BitsPerPixel != 24 && info.BitsPerPixel != 32) {
      e.Lib->Entries.CloseImage(info);
      continue;
    }
    // Damage the library decoded past is told to the show's author (once
    // per picture: the same words are not said again).
    if (info.Warning[0] != 0) {
      const std::string_view warning(info.Warning, strnlen(info.Warning, sizeof info.Warning));
      ReportShowProblem(TShowProblemKind::File, name,
                        u"the picture's data is damaged (" +
                            SystemUTF8ToWide(warning) +
                            u"): it may not show as it should; copy or export the picture again");
    }
    return MakeRef<TImageLibStore>(name, params_callback, e.Lib.get(), info);
  }
  try {
    stream->SetPosition(start);
  } catch (const std::exception&) {
  }
  return nullptr;
}

// --- TImageLibStore ---

TImageLibStore::TImageLibStore(const std::u16string& name, const TImageParamsCallback& params_callback,
                               TImageLib* lib, const TImageLibInfo& info)
    : TSysBitmapStore(name, params_callback, info.BitsPerPixel == 32 ? StdFormats().A8R8G8B8 : StdFormats().R8G8B8,
                      TSize{info.Width, info.Height}),
      picture_(Ref<TRefObject>::Adopt(new TImageLibPicture(lib, info))) {}

void TImageLibStore::LoadMipLevel(int32_t level, TLevelBitmap& out) {
  if (level != 0) return;
  auto* picture = static_cast<TImageLibPicture*>(picture_.get());
  TImageLibInfo& info = picture->Info();
  if (!info.Rows && !picture->Lib()->Entries.ReadImage(info)) throw EAbort("The picture could not be read");
  if (!info.Rows) throw EAbort("The picture could not be read");
  TPixelFormat* format = info.BitsPerPixel == 32 ? StdFormats().A8R8G8B8 : StdFormats().R8G8B8;
  out.Bitmap = Ref<TBitmap>::Adopt(new TImageLibBitmap(picture, format));
  out.Owned = true;
  out.Level = 0;
}

void TImageLibStore::Dispose() {
  picture_ = nullptr;
  TSysBitmapStore::Dispose();
}

}  // namespace kav
