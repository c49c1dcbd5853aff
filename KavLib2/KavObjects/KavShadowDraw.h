// Drawing the shadows of slide objects through the device drawer.
#pragma once

#include <mutex>
#include <string>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavClasses/KavImageTasks.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

namespace kav {

class TKavObject;
class TKavObjectHost;
class TKavSlide;

// A picture made for an object by the host's image-task queue. The object
// asks with the picture's key; the worker loads it and the callback (on the
// worker's thread) keeps the result here and calls the slide's redraw
// callback; the object takes it on its next layout (departure: the callback
// does not store it into the object itself, which the loader and the drawer
// read on their threads without a lock). The object cancels its tasks
// before it goes (TKavObject::Dispose), so no callback outlives it.
class TQueuedImage {
 public:
  virtual ~TQueuedImage() = default;
  // Queues the key for the object unless that key is already on its way;
  // false when the host has no queue (the picture is to be made at once).
  bool Ask(TKavObject* object, TKavObjectHost* host, const std::u16string& source, const std::u16string& key);
  // Forgets what was asked and delivered (after the object's tasks were
  // cancelled).
  void Forget();
  // Whether a key is on its way.
  bool Waiting();

 protected:
  // Keeps the delivered picture (under the lock).
  virtual void Keep(Ref<TImage> picture) = 0;
  // Drops what was delivered (under the lock).
  virtual void Drop() = 0;
  std::mutex lock_;

 private:
  void Done(TImageTask* task);

  std::u16string asked_;
  TKavSlide* slide_ = nullptr;
};

// A picture as it is delivered (texts rendered by the worker).
class TQueuedPicture : public TQueuedImage {
 public:
  // Whether a result arrived; `picture` gets it (nil when the worker made
  // none).
  bool Take(Ref<TImage>& picture);

 protected:
  void Keep(Ref<TImage> picture) override {
    ready_ = std::move(picture);
    arrived_ = true;
  }
  void Drop() override {
    ready_.reset();
    arrived_ = false;
  }

 private:
  Ref<TImage> ready_;
  bool arrived_ = false;
};

// An object's shadow: the delivered shadow picture with the shadow record.
class TQueuedShadow : public TQueuedImage {
 public:
  // `normalised`: a rectangle shadow (TShadow::FromRectShadow), else a
  // picture's (FromImageShadow).
  bool Ask(TKavObject* object, TKavObjectHost* host, const std::u16string& source, const std::u16string& key,
           const TShadowParams& params, bool normalised);
  // The delivered shadow, taken out; nil when none arrived.
  Ref<TShadow> Take();

 protected:
  void Keep(Ref<TImage> picture) override;
  void Drop() override { ready_.reset(); }

 private:
  TShadowParams params_;
  bool normalised_ = false;
  Ref<TShadow> ready_;
};

// An object's solid shadow record: the rectangle (shadow pixels), the blur
// size and the contour of the spread index; no margins, opaque shape.
TShadowParams SolidShadowParams(const TFloatRect& rect, float blur, int32_t contour);

// Draws the shadow of an object whose quad is `origin` + `axis_x`,
// `axis_y` (see PlaceShadow: whole edges for a normalised shadow, one
// shadow-rectangle pixel otherwise) in `color` at `opacity` percent; nothing when
// the opacity is not above 0 or the shadow has no picture.
void RenderShadow(TShadow* shadow, TDeviceDrawer* drawer, const TVector3& origin, TColor32 color, float opacity,
                  double angle, float distance, const TVector3& axis_x, const TVector3& axis_y, TSize texture_size);
// Uploads the shadow picture's textures ahead of drawing.
void PrepareShadow(TShadow* shadow, TDeviceDrawer* drawer);
// Drops the textures the drawer keeps for the shadow picture.
void FreeShadowTextures(TShadow* shadow, TDeviceDrawer* drawer);

}  // namespace kav
