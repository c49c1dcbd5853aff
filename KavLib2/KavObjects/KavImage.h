// Image objects: a picture of the show (photo or graphic), a sprite sheet or
// GIF frames atlas played as an animation, or a picture the slide host
// produces on demand (effect buffers, masks). The base of texts and
// buttons, which replace the picture by a produced one.
//
// The picture is resolved by a text key through the host's file accessor,
// fitted into the object with optional border and crop, drawn from the mip
// level its on-screen size needs, and may cast a drop shadow.
#pragma once

#include "KavLib2/KavObjects/KavColorGrade.h"
#include "KavLib2/KavClasses/KavImageAnimation.h"
#include "KavLib2/KavClasses/KavPictureFit.h"
#include "KavLib2/KavObjects/KavObjects.h"
#include "KavLib2/KavObjects/KavShadowDraw.h"
#include "VoRav/Graphics/Effects2D/ShadowGenerator.h"

namespace kav {

// ImageIndex when none is set.
inline constexpr int32_t kNoImageIndex = -2147483647;

enum : uint8_t { kFilterNearest = 0, kFilterBilinear = 1, kFilterDefault = 2 };

class TKavImage : public TKavObject {
 public:
  using TKavObject::TKavObject;

  // ---- Keys ----
  uint8_t ReplaceWithEffectBuffer = 0;
  int32_t ImageIndex = kNoImageIndex;
  const std::u16string& ImageName() const noexcept { return image_name_; }
  bool RestoreAlpha() const noexcept { return restore_alpha_; }
  bool Antialiased() const noexcept { return antialiased_; }
  uint8_t Filtering() const noexcept { return filtering_; }
  float MipLodBias() const noexcept { return mip_lod_bias_; }
  const TBorderParams& Border() const noexcept { return border_; }
  const TImageAnimationParams& Animation() const noexcept { return anim_; }
  // Each setter marks the object changed only on a real change; a new name,
  // RestoreAlpha or animation switch drops the resolved picture (the old one
  // stays in use until the new one is loaded).
  void SetImageName(const std::u16string& name);
  void SetRestoreAlpha(bool v);
  void SetAntialiased(bool v);
  void SetFiltering(uint8_t v);
  void SetMipLodBias(float v);
  void SetBorder(const TBorderParams& border);
  void SetAnimation(const TImageAnimationParams& anim);

  // ---- State ----
  TImage* Picture() const noexcept { return picture_ ? picture_.get() : old_picture_.get(); }
  TShadow* Shadow() const noexcept { return shadow_.get(); }
  int32_t MipLevel() const noexcept { return mip_level_; }
  int32_t FrameIndex() const noexcept { return frame_index_; }
  // The part of the picture shown (picture pixels) and the border width (in
  // object units).
  const TFloatRect& FitRect() const noexcept { return fit_rect_; }
  float BorderWidth() const noexcept { return border_width_; }
  // The key the picture is asked for by.
  std::u16string PictureKey();
  // The texture rectangle of an animation frame (picture pixels).
  TFloatRect FrameRect(int32_t frame);

  // ---- Object operations ----
  void SetDefaults() override;
  void LoadFromIni(TKavObjectProps* props, bool reload) override;
  void Calculate(bool recursive) override;
  void DrawSelf(TDeviceDrawer* drawer) override;
  bool NeedsDraw() override;
  bool PlaysByItself() const override;
  uint8_t LayoutFitMode() override;
  // True when the picture is drawn through its colour lookup (its own
  // colour profile differs from the display's).
  bool ForceColorGrade() override { return color_transform_ != nullptr; }
  TColorTransform* ColorTransform() const noexcept { return color_transform_.get(); }
  void CommitState(bool recursive) override;
  void PrepareResources(TKavResourceVisitor* visitor) override;
  void ReleaseResources(TKavResourceVisitor* visitor) override;

  // The record the drawer gets for the picture.
  virtual TImageDrawParams GetDrawParams();
  // Loads the picture when none is held.
  virtual void ResolveImage();
  // The opacity the picture is drawn at.
  virtual float DrawOpacity() { return ScaledValue(); }
  // Makes or keeps the drop shadow of the picture; nil without one.
  virtual TShadow* UpdateShadow();
  // The blur scale of the shadow.
  virtual double ShadowBlurScale();
  // The key of the picture whose alpha shapes the shadow.
  virtual std::u16string ShapeKey() { return PictureKey(); }

 protected:
  void Dispose() override;
  // Drops the picture so that the next layout resolves it again; the old
  // one is kept for drawing until then.
  void DropPicture();
  // Takes a produced or loaded picture as the object's own.
  void TakePicture(Ref<TImage> picture);
  // Draws the shadow under a quad spanned by the corner points.
  void DrawShadow(TDeviceDrawer* drawer, const TVector3* corners, float opacity);
  // Border and crop from the picture's size.
  void ApplyFit();
  // Whether the picture is the placeholder of one that cannot be shown.
  bool ShowsPlaceholder() const;
  // Sets FitMode so that the object is sized by its height.
  void FitByHeight();

  Ref<TImage> picture_;
  Ref<TImage> old_picture_;
  Ref<TShadow> shadow_;
  TQueuedShadow queued_shadow_;                 // made by the host's image-task queue
  Ref<TColorTransform> color_transform_;        // picture profile -> display
  Ref<TSysBitmap> color_lookup_;                // that conversion as a lookup volume
  TColorGradeState grade_;                      // lookups per colour keyframe
  T3DScreen* screen_ = nullptr;                 // of the drawer that drew last
  bool resolved_ = false;
  bool resolved_anew_ = false;
  bool restore_alpha_ = false;
  bool antialiased_ = true;
  uint8_t filtering_ = kFilterDefault;
  float mip_lod_bias_ = -0.5f;
  int32_t mip_level_ = 0;
  int32_t frame_index_ = 0;
  int32_t drawn_frame_ = 0;
  int32_t prepared_level_ = -1;
  std::u16string image_name_;
  TBorderParams border_;
  TImageAnimationParams anim_;
  TFloatRect fit_rect_;
  float border_width_ = 0;
  TSize picture_size_{0, 0};
};


}  // namespace kav
