// Shadow pictures: the generator that draws one from its description, and
// the cached shadow an object keeps with the parameters it was made with.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "VoRav/Graphics/Effects2D/DropShadow.h"
#include "VoRav/Graphics/Effects2D/ShadowParams.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class TFileAccessor;

// One generator serves a whole show; drawing is serialised, because the
// slide loader and the image-task worker may both ask it for shadows.
class TShadowGenerator : public TRefObject {
 public:
  explicit TShadowGenerator(const TResampleProgress& progress = {});

  // Draws the shadow picture the record describes: the shape (the alpha of
  // the picture `ImageName` opened through `accessor`, or a rectangle or
  // gradient for "N\A") on a working bitmap kept within 700000 pixels and
  // 10000 a side by halving, blurred and shaped by the contour. Raises
  // Exception for a size that is not a positive finite number or too large.
  Ref<TImage> DrawShadow(const TShadowParams& params, TFileAccessor* accessor);
  TShadowProducer* Producer() const noexcept { return producer_.get(); }

 protected:
  void Dispose() override;

 private:
  std::mutex lock_;
  Ref<TShadowProducer> producer_;
};

// Draws the shadow picture of a "Shadow: " key (what the image producer of a
// slide host calls for such a name).
Ref<TImage> DrawShadowFromKey(TShadowGenerator* generator, std::u16string_view key, TFileAccessor* accessor);

class TShadow : public TRefObject {
 public:
  // The shadow of an object showing `image`: its alpha is the shape when the
  // picture is "A8R8G8B8", `name` is not empty and RectOnly is clear, else a
  // rectangle; the key's blur is the record's times `scale`. The picture is
  // loaded through `accessor` under the key (the image cache shares it).
  static Ref<TShadow> CreateForImage(TImage* image, const std::u16string& name, const TShadowParams& params,
                                     TFileAccessor* accessor, double scale);
  // A rectangle shadow made at about 40000 pixels whatever the object's
  // size (the record is normalised) and stretched when drawn.
  static Ref<TShadow> Create(const TShadowParams& params, TFileAccessor* accessor);

  // The same two in two steps, for work handed to another thread: the key
  // of the shadow picture, then the shadow over the picture loaded under
  // that key (nil picture: a shadow without one).
  static std::u16string ImageShadowKey(TImage* image, const std::u16string& name, const TShadowParams& params,
                                       double scale);
  static std::u16string RectShadowKey(const TShadowParams& params);
  static Ref<TShadow> FromImageShadow(Ref<TImage> picture, const TShadowParams& params);
  static Ref<TShadow> FromRectShadow(Ref<TImage> picture, const TShadowParams& params);

  // Whether this shadow can serve `params` (normalised first when this
  // shadow is).
  bool SameParams(const TShadowParams& params) const;

  const TShadowParams& Params() const noexcept { return params_; }
  bool Normalised() const noexcept { return normalised_; }
  TImage* Image() const noexcept { return image_.get(); }
  // Percentage multiplier of the offset distance, set by the owner.
  float DistancePercent = 100.0f;

 protected:
  void Dispose() override;

 private:
  TShadowParams params_;
  bool normalised_ = false;
  Ref<TImage> image_;
};

// Where the shadow quad of a shadow lands: the origin and the two axes of
// the quad and the texture size the drawer maps onto it.
struct TShadowQuad {
  TVector3 Origin;
  TVector3 AxisX;
  TVector3 AxisY;
  float TextureWidth = 0.0f;
  float TextureHeight = 0.0f;
};

// Places the shadow of an object whose quad is `origin` + `axis_x`,
// `axis_y` (texture size `texture_width` x `texture_height`): offset by
// `distance` (times the shadow's percentage) at `angle` degrees, along the
// object's axes when TurnOffset is set, centred on the object and scaled by
// the working reduction and the mip level. Empty when the opacity is not
// above 0 or the shadow has no picture.
std::optional<TShadowQuad> PlaceShadow(const TShadow& shadow, const TVector3& origin, float opacity, double angle,
                                       float distance, const TVector3& axis_x, const TVector3& axis_y,
                                       float texture_width, float texture_height);

}  // namespace kav
