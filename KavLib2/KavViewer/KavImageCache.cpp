#include "KavLib2/KavViewer/KavImageCache.h"

#include <atomic>
#include <mutex>
#include <unordered_map>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxPaths.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpLoadCallBack.h"
#include "VoRav/wpStringUtils.h"

namespace kav {

// One cached picture: a name (upper-cased) of one file source.
class TImageHandle : public TRefObject {
 public:
  TImageHandle(std::u16string key, int32_t serial) : key_(std::move(key)), serial_(serial) {}

  const std::u16string& Key() const noexcept { return key_; }
  int32_t Serial() const noexcept { return serial_; }
  std::mutex& Lock() noexcept { return lock_; }
  Ref<TBitmapStore> store;
  bool loaded = false;

 protected:
  void Dispose() override;

 private:
  std::u16string key_;
  int32_t serial_;
  std::mutex lock_;
};

namespace {

struct TCache {
  // Every release of a handle's reference happens under this lock, so a
  // handle found in the table is never one whose count already reached 0.
  std::recursive_mutex lock;
  std::unordered_map<std::u16string, std::vector<TImageHandle*>> table;
  int32_t count = 0;
};

TCache& Cache() {
  static TCache* cache = new TCache;
  return *cache;
}

std::atomic<TNotFoundRenderer> g_renderer{nullptr};

void ReleaseHandle(TImageHandle* handle) {
  std::lock_guard<std::recursive_mutex> hold(Cache().lock);
  RefRelease(handle);
}

// The handle of (key, serial), made when missing; one new reference.
TImageHandle* AcquireHandle(const std::u16string& key, int32_t serial) {
  TCache& c = Cache();
  std::lock_guard<std::recursive_mutex> hold(c.lock);
  std::vector<TImageHandle*>& list = c.table[key];
  for (TImageHandle* h : list)
    if (h->Serial() == serial) {
      RefAddRef(h);
      return h;
    }
  auto* handle = new TImageHandle(key, serial);
  list.push_back(handle);
  ++c.count;
  return handle;
}

bool GoOn(void*, float) {
  CallLoadCallback(nullptr);
  return true;
}
const TProgressHandler kProgress = TProgressHandler::FromFunction(&GoOn, nullptr);

TLevelFilter OrientationFilter(void* source, TImageParams& params) {
  switch (static_cast<TFileSource*>(source)->OrientationCode(params.Name)) {
    case 3: return &RotateLevel180;
    case 6: std::swap(params.Width, params.Height); return &RotateLevel90CW;
    case 8: std::swap(params.Width, params.Height); return &RotateLevel90CCW;
    default: return nullptr;
  }
}

Ref<TBitmapStore> PlainRenderer(const std::vector<std::u16string>&, TColor32, TColor32 background, double) {
  Ref<TBitmap> bitmap = NewBitmap(256, 64, PixelFormatByName("A8R8G8B8"));
  if (auto* direct = dynamic_cast<TDirectBitmap*>(bitmap.get())) direct->FillRect({0, 0, 256, 64}, background);
  if (!bitmap) return nullptr;
  return MakeRef<TWrapperBitmapStore>(u"Image not found", TImageParamsCallback(), true, bitmap.release());
}

// An empty 1 x 1 picture, for a handle whose load was cut short.
Ref<TBitmapStore> BlankStore(const std::u16string& name) {
  Ref<TBitmap> blank = NewBitmap(1, 1, PixelFormatByName("A8R8G8B8"));
  if (auto* direct = dynamic_cast<TDirectBitmap*>(blank.get())) direct->FillRect({0, 0, 1, 1}, 0);
  return MakeRef<TWrapperBitmapStore>(name, TImageParamsCallback(), true, blank.release());
}

// Loads the picture of a handle that has none yet. False when the picture is
// one a producer makes and its making was cut short: the handle then holds
// an empty 1 x 1 picture and loads again when next asked for.
bool LoadInto(TImageHandle* handle, TFileAccessor* accessor, const std::u16string& name) {
  TFileSource* source = accessor->Source();
  TakeProductionCutShort();
  bool cut_short = false;
  for (const Ref<TCallbackHandle>& cb : source->Callbacks()) {
    // Through the handle: a registrant that goes meanwhile waits for the
    // call to return before it frees what the callback uses.
    Ref<TImage> image = cb->Call(source, name);
    if (image) {
      TakeProductionCutShort();
      handle->store = Ref<TBitmapStore>(image->Store());
      return true;
    }
    cut_short = TakeProductionCutShort() || cut_short;
  }
  if (cut_short) {
    // No file of that name is looked for nor reported missing: a shadow or a
    // text asked for while its host goes (at the end, say) is no missing file.
    handle->store = BlankStore(name);
    return false;
  }
  bool found = false;
  std::u16string why;
  try {
    Ref<TStream> stream = source->OpenLocked(name);
    if (stream && stream->GetSizeWithin(kMaxPictureFileSize) < 0) {
      // Departure: a file larger than any picture is refused before a decoder reads it whole.
      found = true;
      why = u"larger than " + SystemUTF8ToWide(std::to_string(kMaxPictureFileSize >> 20)) +
            u" MiB, more than any picture the player shows";
    } else if (stream) {
      found = true;
      const TImageParamsCallback orientation = source->HasOrientationHook()
                                                   ? TImageParamsCallback::FromFunction(&OrientationFilter, source)
                                                   : TImageParamsCallback();
      handle->store = LoadBitmapStore(stream.get(), name, false, orientation);
      if (!handle->store) {
        why = UndecodablePictureReason(stream.get());
      } else {
        // A store that keeps its compressed file may let it go once its
        // pictures are in textures and read it again from the show by the
        // same name (which the source keeps inside the show's folder).
        Ref<TFileSource> from(source);
        handle->store->SetSourceOpener([from, name]() { return from->OpenLocked(name); });
      }
    } else {
      why = u"no such file";
    }
  } catch (const EAbort&) {
    // The loading thread, or the program, is stopping (a large entry's
    // inflating gave up): no placeholder is kept, the picture loads again
    // when next asked for.
    handle->store = BlankStore(name);
    return false;
  } catch (const Exception& e) {
    handle->store = nullptr;
    why = u"cannot be read: " + SystemUTF8ToWide(e.Message());
  }
  if (!handle->store) {
    // Once per cached handle: the placeholder stands in from now on. The
    // show's author hears of it once (the same words as the show check, so
    // a problem found there is not said again).
    LogLine(u"The picture \"" + name + u"\" is shown as a placeholder: " + why);
    ReportShowProblem(TShowProblemKind::File, name, why, 0, !found);
    handle->store = Ref<TBitmapStore>(MakeNotFoundImage(name, found, false)->Store());
  }
  return true;
}

}  // namespace

void TImageHandle::Dispose() {
  TCache& c = Cache();
  std::lock_guard<std::recursive_mutex> hold(c.lock);
  auto it = c.table.find(key_);
  if (it != c.table.end()) {
    std::erase(it->second, this);
    if (it->second.empty()) c.table.erase(it);
  }
  --c.count;
  store = nullptr;
  TRefObject::Dispose();
}

TKavImageHandle::TKavImageHandle(TBitmapStore* store, TImageHandle* handle) : TImage(store), handle_(handle) {
  std::lock_guard<std::recursive_mutex> hold(Cache().lock);
  RefAddRef(handle_);
}

void TKavImageHandle::Dispose() {
  ReleaseHandle(handle_);
  handle_ = nullptr;
  TImage::Dispose();
}

Ref<TImage> LoadImageHandle(TFileAccessor* accessor, const std::u16string& name) {
  KAV_ASSERT(accessor != nullptr);
  TImageHandle* handle = AcquireHandle(WideUpperCase(name), accessor->Source()->Serial());
  // The handle's store, loaded on first use; a store that turned out not to
  // decode is replaced by the placeholder first.
  auto current_store = [&]() {
    std::lock_guard<std::mutex> hold(handle->Lock());
    if (!handle->loaded) {
      const bool settled = LoadInto(handle, accessor, name);
      // Set once, by the loading thread: other threads may already be
      // making levels of the store, which read the handler.
      handle->store->SetOnProgress(kProgress);
      handle->loaded = settled;
    } else if (handle->store->Undecodable()) {
      // Departure: a picture whose header was read but whose data does not decode when a level is made becomes the
      // placeholder too, as a file no decoder takes does (it would otherwise leave its object empty).
      LogLine(u"The picture \"" + name + u"\" is shown as a placeholder: its data does not decode");
      handle->store = Ref<TBitmapStore>(MakeNotFoundImage(name, true, false)->Store());
      handle->store->SetOnProgress(kProgress);
    }
    return handle->store;
  };
  Ref<TImage> result;
  try {
    Ref<TBitmapStore> store = current_store();
    if (accessor->MipLevel() > 0) {
      try {
        store->GetMipLevel(accessor->MipLevel());
      } catch (const Exception&) {
        // a level the picture cannot give is made when asked for again
      }
      if (store->Undecodable()) store = current_store();
    }
    result = MakeRef<TKavImageHandle>(store.get(), handle);
  } catch (...) {
    ReleaseHandle(handle);
    throw;
  }
  ReleaseHandle(handle);
  return result;
}

int32_t ImageHandleCount() {
  std::lock_guard<std::recursive_mutex> hold(Cache().lock);
  return Cache().count;
}

std::vector<std::u16string> NotFoundImageLines(const std::u16string& name, bool found, bool video) {
  const char16_t* problem = video ? (found ? u"Video load error:" : u"Video not found")
                                  : (found ? u"Image load error:" : u"Image not found");
  // Built by appending (concatenating a literal in front trips a false
  // -Wrestrict in optimised builds).
  auto padded = [](std::u16string_view text) {
    std::u16string line(1, u' ');
    line.append(text);
    line += u' ';
    return line;
  };
  return {padded(problem), padded(ExtractLastPathPart(name))};
}

void SetNotFoundRenderer(TNotFoundRenderer renderer) { g_renderer = renderer; }

Ref<TImage> MakeNotFoundImage(const std::u16string& name, bool found, bool video) {
  TNotFoundRenderer renderer = g_renderer.load();
  if (!renderer) renderer = &PlainRenderer;
  Ref<TBitmapStore> store =
      renderer(NotFoundImageLines(name, found, video), 0xFFE6E6E6u, 0xFF646464u, 0.5);
  if (!store) store = PlainRenderer({}, 0xFFE6E6E6u, 0xFF646464u, 0.5);
  KAV_ASSERT_MSG(store != nullptr, "no bitmap for the placeholder");
  store->SetPlaceholder();
  return MakeRef<TImage>(store.get());
}

}  // namespace kav
