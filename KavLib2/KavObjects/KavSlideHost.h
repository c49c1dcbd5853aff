// The slide host: what all slides of a show share. It holds the show's file
// accessor, the producers that make pictures on demand (buttons, texts,
// shadows, masks, effect buffers), the holders of the video clips' frame
// extractors and the callbacks into the show engine. Objects ask for
// pictures by text keys through the accessor; the host's resource producer,
// registered on the accessor's source, answers the keys that are not files.
//
// Also here: the image-information hook that finds a slide's main picture.
//
// Threads: producers run on the thread that opens the file (the slide
// loader); the keep-alive callback lets long productions yield. The video
// clips of a show are offered by the video layer's host (SetSlideHostFactory).
#pragma once

#include <atomic>
#include <string>

#include "KavLib2/KavClasses/KavImageTasks.h"
#include "KavLib2/KavObjects/KavObjectHost.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxDelegate.h"

namespace kav {

class TButtonProducer;
class TButtonProducerHost;
class TCallbackHandle;
class TColorProfile;
class TColorTransform;
class TFileSource;
class TIniList;
class TKavSlideHost;
class TMaskGenerator;
class TShadowGenerator;
class TSysBitmap;
class TTextProducer;
class T3DScreen;

// Key prefixes the resource producer answers besides "Button: " and
// "Shadow: " (whose producers define theirs).
inline constexpr std::u16string_view kTextKeyPrefix = u"Text: ";
inline constexpr std::u16string_view kSizedTextKeyPrefix = u"TextWithSize:";
inline constexpr std::u16string_view kMaskKeyPrefix = u"Mask: ";
inline constexpr std::u16string_view kPresetMaskKeyPrefix = u"PresetedMask:";
inline constexpr std::u16string_view kSlideEffectBufferWord = u"SlideEffectBuffer";
inline constexpr std::u16string_view kEffectResourceWord = u"EffectResource";

class TKavSlideHost : public TKavObjectHost {
 public:
  // Callback 1: a section of the project by name (nil when none).
  using TSectionQuery = TDelegate<TIniList*(const std::u16string& name)>;
  // Callback 2: the camera position.
  using TCameraQuery = TDelegate<TVector3()>;
  // Callback 3: the size of a slide-effect buffer.
  using TEffectBufferQuery = TDelegate<TSize()>;
  // The optional callback: fills an effect-resource bitmap (number n, the
  // bitmap of the effect-buffer size); false leaves it empty.
  using TEffectResourceFill = TDelegate<bool(int32_t n, TSysBitmap* bitmap)>;

  // Asserts the three required callbacks; registers the resource producer
  // on the accessor's source and makes the producers.
  TKavSlideHost(TFileAccessor* accessor, const TEffectResourceFill& fill, TRefObject* fill_owner, bool owns_fill_owner,
                const TSectionQuery& section_query, const TCameraQuery& camera_query,
                const TEffectBufferQuery& buffer_query, const std::u16string& theme_folder);

  // ---- What objects ask ----
  TVector3 CameraPosition() override { return camera_query_(); }
  TColor32 TransformColor(TColor32 color) override;
  bool AskObject(TKavObject* object) override { return ObjectCallback && ObjectCallback(object); }
  void CancelImageTasks(TKavObject* object) override;
  bool QueueImageTask(TKavObject* object, std::u16string source, std::u16string key,
                      TImageTaskCallback callback) override;
  // Makes the image-task queue with this host's worker (loading each task's
  // picture key through the accessor) unless there is one; false when the
  // worker cannot start (the queue is dropped then).
  bool StartImageTasks();
  TFileAccessor* Accessor() override { return accessor_.get(); }
  int32_t DefaultMaskValue() override { return MaskValue; }

  TIniList* FindSection(const std::u16string& name) { return section_query_(name); }
  TSize EffectBufferSize() { return buffer_query_(); }
  const std::u16string& ThemeFolder() const noexcept { return theme_folder_; }
  TTextProducer* TextProducer() const noexcept { return text_producer_.get(); }
  TShadowGenerator* ShadowGenerator() const noexcept { return shadow_generator_.get(); }
  TMaskGenerator* MaskGenerator() const noexcept { return mask_generator_.get(); }

  // The button producer of a theme folder (made, unloaded, on first use).
  TButtonProducer* GetButtonProducer(const std::u16string& theme);
  // The picture theme folder + `theme` through the accessor.
  Ref<TImage> GetButtonFile(const std::u16string& theme);
  // The show's keep-alive: false when the loading callback asks to stop.
  bool KeepAlive();

  // The resource producer: the picture of a produced key, or nil for a name
  // it does not know (then the accessor goes on to the file).
  Ref<TImage> ProduceResource(const std::u16string& name);
  // Whether `key` is one of the names the resource producer makes.
  static bool IsProducedKey(std::u16string_view key);

  // Set by the creator.
  int32_t SlideCount = 0;          // the show's slides (<%SlidesCount%>)
  int32_t EffectBufferWidth = 0;   // part of the effect-buffer keys
  int32_t EffectBufferHeight = 0;
  int32_t MaskValue = 0;           // the viewports' default mask value
  Ref<TImageTaskQueue> TaskQueue;  // stopped and released with the host
  TDelegate<bool(TKavObject*)> ObjectCallback;
  Ref<TColorProfile> OutputProfile;  // nil: the current display profile
  // The screen the colour-grade lookups live on (nil: none made).
  T3DScreen* Screen = nullptr;

 protected:
  void Dispose() override;

 private:
  Ref<TImage> Open(void* data, TFileSource* source, const std::u16string& name);
  Ref<TImage> SkinLoad(const std::u16string& path);
  void Progress(void* sender, bool& cancel);
  void MaskProgress(TMaskGenerator* generator, bool& stop);
  bool TextAbort();
  void RunImageTasks(TImageTaskQueue* queue);

  Ref<TFileAccessor> accessor_;
  TEffectResourceFill fill_;
  Ref<TRefObject> fill_owner_;
  TSectionQuery section_query_;
  TCameraQuery camera_query_;
  TEffectBufferQuery buffer_query_;
  std::u16string theme_folder_;
  Ref<TCallbackHandle> registration_;
  // Set in Dispose before the registration is withdrawn: productions through
  // this host stop and answer nil.
  std::atomic<bool> going_{false};
  Ref<TButtonProducerHost> buttons_;
  Ref<TShadowGenerator> shadow_generator_;
  Ref<TMaskGenerator> mask_generator_;
  Ref<TTextProducer> text_producer_;
};

// Makes the slide host of a show. The video layer, which sits above this
// library, installs a factory whose host also offers the show's clips; the
// default makes a plain TKavSlideHost.
using TSlideHostFactory = Ref<TKavSlideHost> (*)(TFileAccessor* accessor,
                                                 const TKavSlideHost::TEffectResourceFill& fill,
                                                 const TKavSlideHost::TSectionQuery& section_query,
                                                 const TKavSlideHost::TCameraQuery& camera_query,
                                                 const TKavSlideHost::TEffectBufferQuery& buffer_query,
                                                 const std::u16string& theme_folder);
TSlideHostFactory SetSlideHostFactory(TSlideHostFactory factory) noexcept;
Ref<TKavSlideHost> CreateSlideHost(TFileAccessor* accessor, const TKavSlideHost::TEffectResourceFill& fill,
                                   const TKavSlideHost::TSectionQuery& section_query,
                                   const TKavSlideHost::TCameraQuery& camera_query,
                                   const TKavSlideHost::TEffectBufferQuery& buffer_query,
                                   const std::u16string& theme_folder);

// The key of an object's queued picture tasks.
std::u16string ObjectTaskKey(const TKavObject* object);

// The slide's main picture: the first image object (depth first) whose
// ImageIndex is set, with its name and, when loaded, its picture size.
TKavObject* QueryObjectImageInfo(TKavObject* object, std::u16string* name, TSize* size);

}  // namespace kav
