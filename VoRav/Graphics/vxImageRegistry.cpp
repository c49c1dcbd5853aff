#include "VoRav/Graphics/vxImageRegistry.h"

#include <array>

#include "VoRav/vxCaseFolding.h"
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

constexpr std::array<uint8_t, 8> kPngSignature = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A};

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

bool StreamHasPngSignature(TStream* stream) {
  std::array<uint8_t, 8> head{};
  const int64_t got = stream->Read(head, 8);
  if (got > 0) stream->SetPosition(stream->GetPosition() - got);
  return got == 8 && head == kPngSignature;
}

Ref<TBitmapStore> LoadBitmapStore(TStream* stream, const std::u16string& name, bool owns_stream,
                                  const TImageParamsCallback& params_callback) {
  // The registry's own reference keeps the stream alive across the trials;
  // the caller's, when handed over, is given to each loader in turn.
  Ref<TStream> hold(stream);
  Ref<TStream> callers = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  if (!stream) return nullptr;
  std::u16string ext = ImageNameExtension(name);
  if (ext == u".bmp" && StreamHasPngSignature(stream)) ext = u".png";
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

}  // namespace kav
