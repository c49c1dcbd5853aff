#include "KavLib2/KavObjects/KavSlideHost.h"

#include <algorithm>
#include <atomic>

#include "KavLib2/3DEngine/MaskGenerator.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

Ref<TKavSlideHost> PlainHost(TFileAccessor* accessor, const TKavSlideHost::TEffectResourceFill& fill,
                             const TKavSlideHost::TSectionQuery& section_query,
                             const TKavSlideHost::TCameraQuery& camera_query,
                             const TKavSlideHost::TEffectBufferQuery& buffer_query, const std::u16string& theme_folder) {
  return MakeRef<TKavSlideHost>(accessor, fill, nullptr, false, section_query, camera_query, buffer_query,
                                theme_folder);
}

std::atomic<TSlideHostFactory> g_host_factory{PlainHost};

// A bitmap named by a placeholder text, of at least 1 x 1.
Ref<TImage> PlaceholderImage(int32_t width, int32_t height, const std::u16string& name) {
  Ref<TSysBitmap> b = CreateSysBitmap(std::max(width, 1), std::max(height, 1), StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, b->Width(), b->Height()}, 0);
  return ImageFromBitmap(b.release(), true, name);
}

// The number after an effect-buffer word: "Word" n ", " w ", " h.
bool ParseBufferNumber(std::u16string_view rest, int32_t& n) {
  const std::u16string_view digits = rest.substr(0, rest.find(u','));
  if (digits.empty()) return false;
  n = StrToIntDef(digits, INT32_MIN);
  return n != INT32_MIN;
}

}  // namespace

TSlideHostFactory SetSlideHostFactory(TSlideHostFactory factory) noexcept {
  return g_host_factory.exchange(factory ? factory : PlainHost);
}

Ref<TKavSlideHost> CreateSlideHost(TFileAccessor* accessor, const TKavSlideHost::TEffectResourceFill& fill,
                                   const TKavSlideHost::TSectionQuery& section_query,
                                   const TKavSlideHost::TCameraQuery& camera_query,
                                   const TKavSlideHost::TEffectBufferQuery& buffer_query,
                                   const std::u16string& theme_folder) {
  return g_host_factory.load()(accessor, fill, section_query, camera_query, buffer_query, theme_folder);
}

// ---- Host ------------------------------------------------------------------------

TKavSlideHost::TKavSlideHost(TFileAccessor* accessor, const TEffectResourceFill& fill, TRefObject* fill_owner,
                             bool owns_fill_owner, const TSectionQuery& section_query,
                             const TCameraQuery& camera_query, const TEffectBufferQuery& buffer_query,
                             const std::u16string& theme_folder)
    : accessor_(accessor),
      fill_(fill),
      section_query_(section_query),
      camera_query_(camera_query),
      buffer_query_(buffer_query),
      theme_folder_(theme_folder) {
  KAV_ASSERT(section_query_ && camera_query_ && buffer_query_);
  KAV_ASSERT(accessor != nullptr);
  if (owns_fill_owner && fill_owner) fill_owner_ = Ref<TRefObject>::Adopt(fill_owner);
  registration_ = accessor->Source()->AddCallback(TOpenImageCallback::Bind<&TKavSlideHost::Open>(this), nullptr);
  const TResampleProgress progress = TResampleProgress::Bind<&TKavSlideHost::Progress>(this);
  buttons_ = MakeRef<TButtonProducerHost>(TSkinLoader::Bind<&TKavSlideHost::SkinLoad>(this), progress);
  shadow_generator_ = MakeRef<TShadowGenerator>(progress);
  mask_generator_ = MakeRef<TMaskGenerator>();
  mask_generator_->OnProgress = TDelegate<void(TMaskGenerator*, bool&)>::Bind<&TKavSlideHost::MaskProgress>(this);
  // The show's glyph caches are found by their own keys ("VectTextCache:
  // ..."), so the show's "ExeGUID" is not made a font key here.
  text_producer_ = MakeRef<TTextProducer>();
  text_producer_->SetAbortCallback(TTextProducer::TAbortProc::Bind<&TKavSlideHost::TextAbort>(this));
}

void TKavSlideHost::Dispose() {
  registration_.reset();  // no more productions through this host
  buttons_.reset();
  shadow_generator_.reset();
  mask_generator_.reset();
  text_producer_.reset();
  if (TaskQueue) {
    StopImageTasks(TaskQueue.get());
    TaskQueue.reset();
  }
  fill_owner_.reset();
  accessor_.reset();
  TKavObjectHost::Dispose();
}

TColor32 TKavSlideHost::TransformColor(TColor32 color) {
  if (ColorManagementOff.load()) return color;
  uint32_t out = color;
  kav::TransformColor(OutputProfile.get(), out, color);
  return out;
}

void TKavSlideHost::CancelImageTasks(TKavObject* object) {
  if (TaskQueue && object) CancelImageTask(TaskQueue.get(), ObjectTaskKey(object));
}

bool TKavSlideHost::KeepAlive() { return CallLoadCallback(this); }

void TKavSlideHost::Progress(void*, bool& cancel) {
  if (!KeepAlive()) cancel = true;
}

void TKavSlideHost::MaskProgress(TMaskGenerator*, bool& stop) {
  if (!KeepAlive()) stop = true;
}

bool TKavSlideHost::TextAbort() { return !KeepAlive(); }

Ref<TImage> TKavSlideHost::SkinLoad(const std::u16string& path) {
  // Skin pictures are show files like any other; a missing one gives the
  // accessor's placeholder, which the button producer reports by size.
  return LoadImageHandle(accessor_.get(), path);
}

TButtonProducer* TKavSlideHost::GetButtonProducer(const std::u16string& theme) {
  return buttons_ ? buttons_->GetProducer(theme) : nullptr;
}

Ref<TImage> TKavSlideHost::GetButtonFile(const std::u16string& theme) {
  return LoadImageHandle(accessor_.get(), theme_folder_ + theme);
}

Ref<TImage> TKavSlideHost::Open(void*, TFileSource*, const std::u16string& name) { return ProduceResource(name); }

Ref<TImage> TKavSlideHost::ProduceResource(const std::u16string& name) {
  const std::u16string_view key(name);
  if (key.starts_with(kButtonKeyPrefix)) {
    std::u16string folder;
    int32_t state = 0, width = 0, hue = 0, saturation = 0, lightness = 0;
    ParseButtonKey(key, folder, state, width, hue, saturation, lightness);
    TButtonProducer* producer = GetButtonProducer(folder);
    if (!producer) return nullptr;
    return producer->RenderOrError(state, width, hue, saturation, lightness);
  }
  if (key.starts_with(kShadowKeyPrefix)) {
    if (!shadow_generator_) return nullptr;
    return DrawShadowFromKey(shadow_generator_.get(), key, accessor_.get());
  }
  if (key.starts_with(kTextKeyPrefix)) {
    try {
      Ref<TTextBitmapStore> store = TTextBitmapStore::Create(name, accessor_.get());
      TSize size;
      store->GetPixelSize(size);
      if (size.cx > 0 && size.cy > 0) return MakeRef<TImage>(store.get());
    } catch (const Exception& e) {
      LogLine(u"Text cannot be produced: " + UTF8Decode(e.Message()));
    }
    return PlaceholderImage(1, 1, u"Text Zaglushka");
  }
  if (key.starts_with(kSizedTextKeyPrefix)) {
    // The sized form belongs to the text producer's own keys, which the
    // text objects here do not ask for; it gets its named placeholder.
    return PlaceholderImage(1, 1, u"Sized Text Zaglushka");
  }
  if (key.starts_with(kMaskKeyPrefix)) {
    Ref<TImage> picture = LoadImageHandle(accessor_.get(), std::u16string(key.substr(kMaskKeyPrefix.size())));
    const int32_t w = picture->Width(), h = picture->Height();
    if (w < 1 || h < 1) return picture;
    // A copy: the cached level is shared with every other user of the picture.
    Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
    Ref<TBitmap> level = picture->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
    if (!level) return picture;
    b->CopyFrom(level.get());
    // A picture without transparency takes its brightness as its alpha.
    if (BitmapIsOpaque(b.get())) ExtractAlphaFromColor(b.get());
    return ImageFromBitmap(b.release(), true, name);
  }
  if (key.starts_with(kPresetMaskKeyPrefix)) {
    TMaskDescription d;
    TMaskGenerator::ParseMaskKey(key, d);
    Ref<TSysBitmap> b = mask_generator_ ? mask_generator_->Generate(d) : nullptr;
    if (!b) return PlaceholderImage(1, 1, name);
    return ImageFromBitmap(b.release(), true, name);
  }
  if (key.starts_with(kSlideEffectBufferWord)) {
    // A stand-in of the buffer's size; the real contents are a render
    // target filled while drawing.
    const TSize size = EffectBufferSize();
    if (!BitmapSizeAllowed(std::max(size.cx, 1), std::max(size.cy, 1), 4))
      return PlaceholderImage(1, 1, u"zaglushka for slide-effect buffer");
    return PlaceholderImage(size.cx, size.cy, u"zaglushka for slide-effect buffer");
  }
  if (key.starts_with(kEffectResourceWord)) {
    int32_t n = 0;
    if (!fill_ || !ParseBufferNumber(key.substr(kEffectResourceWord.size()), n)) return nullptr;
    const int32_t w = std::max(EffectBufferWidth, 1), h = std::max(EffectBufferHeight, 1);
    if (!BitmapSizeAllowed(w, h, 4)) return PlaceholderImage(1, 1, u"effect resource");
    Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
    b->FillRect(TRect{0, 0, w, h}, 0);
    fill_(n, b.get());
    return ImageFromBitmap(b.release(), true, u"effect resource");
  }
  return nullptr;
}

// ---- Main picture ------------------------------------------------------------------

TKavObject* QueryObjectImageInfo(TKavObject* object, std::u16string* name, TSize* size) {
  if (!object) return nullptr;
  if (typeid(*object) == typeid(TKavImage)) {
    TKavImage* image = static_cast<TKavImage*>(object);
    if (image->ImageIndex != kNoImageIndex) {
      if (name) *name = image->ImageName();
      if (size && image->Picture()) *size = TSize{image->Picture()->Width(), image->Picture()->Height()};
      return object;
    }
  }
  for (int32_t i = 0; i < object->ChildCount(); ++i)
    if (TKavObject* found = QueryObjectImageInfo(object->GetChild(i), name, size)) return found;
  return nullptr;
}

}  // namespace kav
