#include "KavLib2/KavObjects/KavShadowDraw.h"

#include "KavLib2/KavObjects/KavObjectHost.h"
#include "KavLib2/KavObjects/KavSlide.h"

namespace kav {

bool TQueuedImage::Ask(TKavObject* object, TKavObjectHost* host, const std::u16string& source,
                       const std::u16string& key) {
  if (!host || !object) return false;
  TKavSlide* slide = object->GetSlide();
  {
    // Noted before the task is queued: the worker may finish it at once.
    std::lock_guard<std::mutex> hold(lock_);
    if (asked_ == key) return true;
    asked_ = key;
    slide_ = slide;
  }
  if (host->QueueImageTask(object, source, key, TImageTaskCallback::Bind<&TQueuedImage::Done>(this))) return true;
  std::lock_guard<std::mutex> hold(lock_);
  asked_.clear();
  return false;
}

void TQueuedImage::Forget() {
  std::lock_guard<std::mutex> hold(lock_);
  asked_.clear();
  Drop();
}

bool TQueuedImage::Waiting() {
  std::lock_guard<std::mutex> hold(lock_);
  return !asked_.empty();
}

void TQueuedImage::Done(TImageTask* task) {
  TKavSlide* slide = nullptr;
  {
    std::lock_guard<std::mutex> hold(lock_);
    // A task replaced by a later ask is not this picture any more.
    if (task->Params != asked_) return;
    Keep(Ref<TImage>(dynamic_cast<TImage*>(task->Result1.get())));
    asked_.clear();
    slide = slide_;
  }
  if (!slide) return;
  slide->NoteDelivery();
  if (slide->OnRedraw) slide->OnRedraw(slide);
}

bool TQueuedPicture::Take(Ref<TImage>& picture) {
  std::lock_guard<std::mutex> hold(lock_);
  picture = std::move(ready_);
  const bool arrived = arrived_;
  arrived_ = false;
  return arrived;
}

bool TQueuedShadow::Ask(TKavObject* object, TKavObjectHost* host, const std::u16string& source,
                        const std::u16string& key, const TShadowParams& params, bool normalised) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    params_ = params;
    normalised_ = normalised;
  }
  return TQueuedImage::Ask(object, host, source, key);
}

Ref<TShadow> TQueuedShadow::Take() {
  std::lock_guard<std::mutex> hold(lock_);
  return std::move(ready_);
}

void TQueuedShadow::Keep(Ref<TImage> picture) {
  ready_ = normalised_ ? TShadow::FromRectShadow(std::move(picture), params_)
                       : TShadow::FromImageShadow(std::move(picture), params_);
}

TShadowParams SolidShadowParams(const TFloatRect& rect, float blur, int32_t contour) {
  TShadowParams p;
  p.Rect = rect;
  p.Blur = blur;
  p.FillAlpha = 0;
  p.StartAlpha = 255;
  p.EndAlpha = 255;
  p.Gradient = 8;
  p.Contour = contour;
  return p;
}

void RenderShadow(TShadow* shadow, TDeviceDrawer* drawer, const TVector3& origin, TColor32 color, float opacity,
                  double angle, float distance, const TVector3& axis_x, const TVector3& axis_y, TSize texture_size) {
  if (!shadow || !drawer) return;
  const auto quad = PlaceShadow(*shadow, origin, opacity, angle, distance, axis_x, axis_y, float(texture_size.cx),
                                float(texture_size.cy));
  if (!quad) return;
  TImageDrawParams params = DefaultImageDrawParams();
  params.Opacity = opacity;
  params.Colorize = true;
  params.Color = color;
  // The placed axes span one shadow pixel; the drawer's quad spans the
  // whole picture.
  TImage* image = shadow->Image();
  drawer->DrawImage(image, quad->Origin, params, ScaleVector3(quad->AxisY, float(image->Height())),
                    ScaleVector3(quad->AxisX, float(image->Width())),
                    TSize{int32_t(quad->TextureWidth), int32_t(quad->TextureHeight)});
}

void PrepareShadow(TShadow* shadow, TDeviceDrawer* drawer) {
  if (shadow && shadow->Image() && drawer) drawer->PrepareImage(shadow->Image(), DefaultImageDrawParams());
}

void FreeShadowTextures(TShadow* shadow, TDeviceDrawer* drawer) {
  if (shadow && shadow->Image() && drawer) drawer->FreeOwnerTextures(shadow->Image());
}

}  // namespace kav
