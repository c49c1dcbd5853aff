#include "VoRav/Graphics/vxImageRegistry.h"

#include <array>
#include <span>
#include <string_view>
#include <vector>
#include <algorithm>

#include "VoRav/vxCaseFolding.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxStreamUtils.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

struct TLoaderEntry {
  TImageLoaderProc Loader;
  std::vector<std::u16string> Extensions;
};

std::vector<TLoaderEntry>& Registry() {
  static std::vector<TLoaderEntry> table;
  return table;
}

// The picture kinds the loaders read, told by their first bytes, each with
// the extensions that name it (its loaders' own; the first is the one the
// data is offered under when the name says another kind).
struct TPictureSignature {
  std::string_view Head;
  std::array<std::u16string_view, 5> Extensions;
};
constexpr TPictureSignature kPictureSignatures[] = {
    {{"\xFF\xD8\xFF", 3}, {u".jpg", u".jpeg", u".jpe", u".jfif"}},
    {{"\x89PNG\r\n\x1A\n", 8}, {u".png"}},
    {"GIF8", {u".gif", u".gif_first_frame", u".gif|framesatlas"}},
    {"BM", {u".bmp", u".dib"}},
    {"VXGF", {u".vxgfx", u".bmp", u".dib", u".png", u".gif|framesatlas"}},
};

}  // namespace

std::u16string NormalizeExtensionMask(std::u16string_view mask) {
  size_t i = 0;
  while (i < mask.size() && mask[i] < 33) ++i;
  if (i < mask.size() && mask[i] == u'*') ++i;
  std::u16string ext(mask.substr(i));
  if (ext.empty() || ext[0] != u'.') ext.insert(ext.begin(), u'.');
  return ext;
}

void RegisterImageLoader(TImageLoaderProc loader, const std::vector<std::u16string>& extensions) {
  KAV_ASSERT(loader != nullptr);
  std::vector<TLoaderEntry>& table = Registry();
  if (table.size() == table.capacity()) table.reserve(table.empty() ? 8 : table.size() * 2);
  TLoaderEntry entry{loader, {}};
  for (const std::u16string& mask : extensions) entry.Extensions.push_back(NormalizeExtensionMask(mask));
  table.push_back(std::move(entry));
}

bool LoaderAcceptsExtension(int32_t index, std::u16string_view extension) {
  const std::vector<TLoaderEntry>& table = Registry();
  if (index < 0 || size_t(index) >= table.size()) return false;
  for (const std::u16string& ext : table[size_t(index)].Extensions)
    if (CaseFoldEquals(ext, extension)) return true;
  return false;
}

int32_t ImageLoaderCount() { return int32_t(Registry().size()); }

std::u16string ImageNameExtension(std::u16string_view name) {
  for (size_t i = name.size(); i-- > 0;) {
    const char16_t c = name[i];
    if (c == u'.') return std::u16string(name.substr(i));
    if (c == u'\\' || c == u'/' || c == u':') break;
  }
  return {};
}

std::u16string PictureDataExtension(TStream* stream, std::u16string_view name) {
  std::u16string ext = ImageNameExtension(name);
  // Without an extension every loader is asked anyway.
  if (ext.empty() || !stream) return ext;
  std::vector<uint8_t> head;
  try {
    head = StreamBytesAt(stream, stream->GetPosition(), 8);
  } catch (const Exception&) {
    return ext;
  }
  const std::string_view h(reinterpret_cast<const char*>(head.data()), head.size());
  for (const TPictureSignature& kind : kPictureSignatures) {
    if (!h.starts_with(kind.Head)) continue;
    for (std::u16string_view own : kind.Extensions)
      if (!own.empty() && CaseFoldEquals(own, ext)) return ext;
    // Departure: the data's kind decides, not the name (a PNG saved as
    // ".jpg" or ".BMP" is read as the PNG it is).
    return std::u16string(kind.Extensions[0]);
  }
  return ext;
}

Ref<TBitmapStore> LoadBitmapStore(TStream* stream, const std::u16string& name, bool owns_stream,
                                  const TImageParamsCallback& params_callback) {
  // The registry's own reference keeps the stream alive across the trials;
  // the caller's, when handed over, is given to each loader in turn.
  Ref<TStream> hold(stream);
  Ref<TStream> callers = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  if (!stream) return nullptr;
  const std::u16string ext = PictureDataExtension(stream, name);
  const std::vector<TLoaderEntry>& table = Registry();
  const int64_t start = stream->GetPosition();
  for (size_t i = 0; i < table.size(); ++i) {
    if (!ext.empty() && !LoaderAcceptsExtension(int32_t(i), ext)) continue;
    if (owns_stream) RefAddRef(stream);  // the loader's to take over
    try {
      Ref<TBitmapStore> store = table[i].Loader(stream, name, owns_stream, params_callback);
      if (store) return store;
    } catch (const EAbort&) {
      throw;  // a stop asked for by the progress handler is no refusal
    } catch (const std::exception&) {
      // A loader that raises declines, like one that answers null; the next
      // one starts where this one did.
      try {
        stream->SetPosition(start);
      } catch (const std::exception&) {
        return nullptr;  // a stream that cannot go back serves no other loader
      }
    }
  }
  return nullptr;
}

void UnregisterImageLoader(TImageLoaderProc loader) {
  std::erase_if(Registry(), [loader](const TLoaderEntry& e) { return e.Loader == loader; });
}

Ref<TImage> LoadImage(TStream* stream, const std::u16string& name, bool owns_stream) {
  Ref<TBitmapStore> store = LoadBitmapStore(stream, name, owns_stream, TImageParamsCallback());
  return store ? MakeRef<TImage>(store.get()) : nullptr;
}

Ref<TImage> LoadImageFromFile(const std::u16string& name) {
  try {
    Ref<TStream> stream = ReadFile(name);
    if (!stream) return nullptr;
    return LoadImage(stream.get(), name, false);
  } catch (const std::exception&) {
    return nullptr;
  }
}

namespace {

enum class TPictureKind { Other, Jpeg, Png };

TPictureKind KindOfData(const uint8_t* head, int64_t got) {
  if (got >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return TPictureKind::Jpeg;
  if (got >= 8 && head[0] == 0x89 && head[1] == 'P' && head[2] == 'N' && head[3] == 'G') return TPictureKind::Png;
  return TPictureKind::Other;
}

// The stream's first bytes and its last `tail` bytes (fewer for a short
// stream); the position is kept. False when it cannot be read.
bool HeadAndTail(TStream* stream, uint8_t (&head)[8], int64_t& got, std::vector<uint8_t>& tail, int64_t tail_size) {
  try {
    const int64_t at = stream->GetPosition();
    const int64_t size = stream->GetSize();
    stream->SetPosition(0);
    got = stream->Read(std::span<uint8_t>(head, 8), 8);
    tail.assign(size_t(std::clamp<int64_t>(size, 0, tail_size)), 0);
    stream->SetPosition(size - int64_t(tail.size()));
    const int64_t tail_got = stream->Read(std::span<uint8_t>(tail.data(), tail.size()), int64_t(tail.size()));
    tail.resize(size_t(std::max<int64_t>(tail_got, 0)));
    stream->SetPosition(at);
    return true;
  } catch (const Exception&) {
    return false;
  }
}

// The picture formats of cameras and the web that no loader reads, by
// their first bytes: HEIC (and AVIF) in an ISO media box "ftyp", WebP in a
// RIFF container, TIFF by its byte-order mark. Empty for anything else.
std::u16string_view UnreadFormat(TStream* stream) {
  std::vector<uint8_t> head;
  try {
    head = StreamBytesAt(stream, 0, 16);
  } catch (const Exception&) {
    return {};
  }
  const std::string_view h(reinterpret_cast<const char*>(head.data()), head.size());
  if (h.size() >= 12 && h.substr(0, 4) == "RIFF" && h.substr(8, 4) == "WEBP") return u"WebP";
  const std::string_view tiff_intel("II*\0", 4), tiff_motorola("MM\0*", 4);
  if (h.size() >= 4 && (h.substr(0, 4) == tiff_intel || h.substr(0, 4) == tiff_motorola)) return u"TIFF";
  if (h.size() >= 12 && h.substr(4, 4) == "ftyp") {
    const std::string_view brand = h.substr(8, 4);
    if (brand == "avif" || brand == "avis") return u"AVIF";
    if (brand == "heic" || brand == "heix" || brand == "hevc" || brand == "hevx" || brand == "heim" ||
        brand == "heis" || brand == "mif1" || brand == "msf1")
      return u"HEIC";
  }
  return {};
}

}  // namespace

std::u16string PictureCutShortReason(TStream* stream) {
  uint8_t head[8] = {};
  int64_t got = 0;
  std::vector<uint8_t> tail;
  if (!HeadAndTail(stream, head, got, tail, 1024)) return {};
  const TPictureKind kind = KindOfData(head, got);
  if (kind == TPictureKind::Other) return {};
  const std::string_view t(reinterpret_cast<const char*>(tail.data()), tail.size());
  // A JPEG may carry a little after its end marker; a PNG's end chunk is
  // its last 12 bytes.
  if (kind == TPictureKind::Jpeg)
    return t.find(std::string_view("\xFF\xD9", 2)) == std::string_view::npos ? kPictureCutShort : u"";
  return t.substr(t.size() > 64 ? t.size() - 64 : 0).find("IEND") == std::string_view::npos ? kPngCutShort : u"";
}

std::u16string UndecodablePictureReason(TStream* stream) {
  if (std::u16string cut = PictureCutShortReason(stream); !cut.empty()) return cut;
  uint8_t head[8] = {};
  int64_t got = 0;
  std::vector<uint8_t> tail;
  if (!HeadAndTail(stream, head, got, tail, 0)) got = 0;
  const TPictureKind kind = KindOfData(head, got);
  if (kind == TPictureKind::Other) {
    if (const std::u16string_view format = UnreadFormat(stream); !format.empty())
      return (format[0] == u'A' ? u"an " : u"a ") + std::u16string(format) +
             u" picture, which the player does not read (it shows " + std::u16string(kReadPictureFormats) +
             u"): convert it to JPEG or PNG";
    return u"not a picture: no decoder accepts its data";
  }
  return DamagedPictureReason(kind == TPictureKind::Jpeg ? u"JPEG" : u"PNG");
}

std::u16string DamagedPictureReason(std::u16string_view kind) {
  return u"a damaged " + std::u16string(kind) +
         u" picture: its data does not decode (changed or cut short?); copy or export it again";
}

}  // namespace kav
