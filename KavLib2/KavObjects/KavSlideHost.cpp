#include "KavLib2/KavObjects/KavSlideHost.h"

#include <algorithm>
#include <atomic>

#include "KavLib2/3DEngine/MaskGenerator.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavClasses/KavValueParsers.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"
#include "VoRav/wpThreads2.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/SysBitmapUtils.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Text/vxTextProducer2.h"
#include "VoRav/Win32/Text/winFontUtils.h"
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

// Sides of a sized text picture: within the bitmap limits.
constexpr int32_t kMaxSizedTextSide = 16384;

// "TextWithSize:" w ":" h ":" text: the text's lines laid out in the GUI
// font, centred, scaled to fit w x h and drawn in white (tinted when drawn,
// like "Text: " pictures) into a transparent w x h picture. Nil when the
// size is not usable or nothing can be laid out.
Ref<TImage> ProduceSizedText(std::u16string_view key) {
  int32_t w = 0, h = 0;
  std::u16string text;
  ParseTextWithSize(key, w, h, text);
  if (w < 1 || h < 1 || w > kMaxSizedTextSide || h > kMaxSizedTextSide || int64_t(w) * h > kMaxBitmapPixels)
    return nullptr;
  std::vector<std::u16string> lines;
  for (size_t start = 0;;) {
    const size_t end = text.find(u'\n', start);
    std::u16string line = text.substr(start, end == std::u16string::npos ? std::u16string::npos : end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    lines.push_back(std::move(line));
    if (end == std::u16string::npos || lines.size() >= 1000) break;
    start = end + 1;
  }
  Ref<TVectorText> vector = NewSimpleVectorText(GetDefaultGuiFont(), lines);
  if (!vector) return nullptr;
  Ref<TTextProducer> producer = MakeRef<TTextProducer>();
  producer->SetSource(vector.get(), false);
  producer->SetAlignment(1);
  // The text body measured at a large scale (fixed margins and pixel
  // rounding weigh little there), then drawn at the scale that fits it.
  constexpr float kMeasureScale = 16.0f;
  TRect body{};
  producer->GetBoundsRect(body, 0, kMeasureScale);
  if (body.Width() < 1 || body.Height() < 1) return nullptr;
  const float scale = std::min(float(w) / float(body.Width()), float(h) / float(body.Height())) * kMeasureScale;
  if (!(scale > 0)) return nullptr;
  Ref<TImage> drawn = producer->ProduceText(0xFFFFFFFFu, 0x00FFFFFFu, scale);
  if (!drawn) return nullptr;
  Ref<TBitmap> level = drawn->Store()->GetMipLevel(0, StdFormats().A8R8G8B8);
  if (!level) return nullptr;
  producer->GetBoundsRect(body, 0, scale);
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, 0);
  const int32_t x = (w - body.Width()) / 2, y = (h - body.Height()) / 2;
  b->CopyRect(TRect{x, y, x + body.Width(), y + body.Height()}, level.get(), 0, TPoint{body.Left, body.Top});
  return ImageFromBitmap(b.release(), true, std::u16string(key));
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
  // Departure from the listed order: the worker produces through the host,
  // so it is stopped before the producers go, not after them.
  if (TaskQueue) {
    StopImageTasks(TaskQueue.get());
    TaskQueue.reset();
  }
  // No more productions through this host. The image cache asks every
  // producer registered on the source, so a thread of another host of the
  // same show (the host of a show reopened at another size, whose worker
  // loads while the old slides are still held) may be producing through this
  // one right now: its work is cut short (the progress callbacks answer
  // "stop") and waited for before the producers go.
  going_ = true;
  if (registration_) registration_->Withdraw();
  registration_.reset();
  buttons_.reset();
  shadow_generator_.reset();
  mask_generator_.reset();
  text_producer_.reset();
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

bool TKavSlideHost::QueueImageTask(TKavObject* object, std::u16string source, std::u16string key,
                                   TImageTaskCallback callback) {
  if (!TaskQueue || TaskQueue->Stopped() || !object) return false;
  AddImageTask(TaskQueue.get(), ObjectTaskKey(object), std::move(source), 0, std::move(key), callback);
  return true;
}

bool TKavSlideHost::StartImageTasks() {
  if (TaskQueue) return true;
  Ref<TImageTaskQueue> queue = MakeRef<TImageTaskQueue>();
  if (!queue->StartWorker(TImageTaskQueue::TWorker::Bind<&TKavSlideHost::RunImageTasks>(this))) return false;
  TaskQueue = std::move(queue);
  return true;
}

void TKavSlideHost::RunImageTasks(TImageTaskQueue* queue) {
  while (Ref<TImageTask> task = queue->TakeTask()) {
    if (!task->Cancelled()) {
      try {
        task->Result1 = LoadImageHandle(accessor_.get(), task->Params);
      } catch (const Exception&) {
        task->Result1.reset();  // delivered without a picture: the object keeps none
      }
    }
    queue->FinishTask(task.get(), true);
  }
}

bool TKavSlideHost::KeepAlive() { return CallLoadCallback(this); }

void TKavSlideHost::Progress(void*, bool& cancel) {
  if (going_.load() || !KeepAlive()) cancel = true;
}

void TKavSlideHost::MaskProgress(TMaskGenerator*, bool& stop) {
  if (going_.load() || !KeepAlive()) stop = true;
}

bool TKavSlideHost::TextAbort() { return going_.load() || !KeepAlive(); }

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

Ref<TImage> TKavSlideHost::Open(void*, TFileSource*, const std::u16string& name) {
  Ref<TImage> image;
  try {
    image = ProduceResource(name);
  } catch (...) {
    if (!going_.load() && !CurrentThreadStopRequested()) throw;
  }
  // A production cut short because this host is going, or because the
  // thread making it was asked to stop, is no picture: the next producer on
  // the source (or the file) answers instead.
  if (going_.load() || CurrentThreadStopRequested()) {
    if (IsProducedKey(name)) NoteProductionCutShort();
    return nullptr;
  }
  return image;
}

bool TKavSlideHost::IsProducedKey(std::u16string_view key) {
  for (std::u16string_view prefix : {kButtonKeyPrefix, kShadowKeyPrefix, kTextKeyPrefix, kSizedTextKeyPrefix,
                                     kMaskKeyPrefix, kPresetMaskKeyPrefix, kSlideEffectBufferWord,
                                     kEffectResourceWord})
    if (key.starts_with(prefix)) return true;
  return false;
}

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
    try {
      if (Ref<TImage> sized = ProduceSizedText(key)) return sized;
    } catch (const Exception& e) {
      LogLine(u"Sized text cannot be produced: " + UTF8Decode(e.Message()));
    }
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
