// Slide objects: the base classes of everything visible on a slide, the
// object factory and the tree they form.
//
// A slide is a tree of objects whose root is the slide. Each object holds
// its property record (KavObjectProps.h: its keys, keyframes and child
// records), evaluates it at the show time, lays itself out in the slide's 3D
// space (a world frame: origin and three axes), decides whether it is
// visible and facing the viewer, draws itself through the device drawer and
// answers mouse hit tests. The concrete kinds (boxes, images, texts,
// buttons, viewports, masks, video) derive from TKavObject.
//
// Threads: built, loaded and laid out on the slide-loader thread, then drawn
// on the engine thread; never both at once.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavClasses/KavKeyFields.h"
#include "KavLib2/KavClasses/KavObjectProps.h"
#include "KavLib2/KavObjects/KavObjectHost.h"
#include "VoRav/Graphics/vxColor.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class TKavObject;
class TKavSlide;

// FitMode, PosMode and CenterMode values.
enum : uint8_t { kFitNone = 0, kFitPlaceInto = 1, kFitCover = 2 };
enum : uint8_t { kModeAbsolute = 0, kModePercent = 1 };

// The largest perspective enlargement the resolution survey asks pictures
// for: an object close to the camera would otherwise ask for bitmaps
// without bound.
inline constexpr double kMaxPerspectiveFactor = 4.0;

// Base of the slide objects: the property record and its current values.
class TKavParams : public TDrawItem {
 public:
  TKavObjectProps* Props() const noexcept { return props_.get(); }

  float Opacity() const noexcept { return Value(kKeyOpacity); }
  TFloatPoint Pos() const noexcept { return FloatPoint(Value(kKeyPosX), Value(kKeyPosY)); }
  float PosZ() const noexcept { return Value(kKeyPosZ); }
  float ScaleX() const noexcept { return Value(kKeyScaleX); }
  float ScaleY() const noexcept { return Value(kKeyScaleY); }
  float Angle() const noexcept { return Value(kKeyAngle); }
  float AngleX() const noexcept { return Value(kKeyAngleX); }
  float AngleY() const noexcept { return Value(kKeyAngleY); }
  TFloatPoint Center() const noexcept { return FloatPoint(Value(kKeyCenterX), Value(kKeyCenterY)); }
  float Blur() const noexcept { return Value(kKeyBlur); }
  float FrameS() const noexcept { return Value(kKeyFrameS); }
  float FrameX() const noexcept { return Value(kKeyFrameX); }
  float FrameY() const noexcept { return Value(kKeyFrameY); }

  // The effective opacity (percent).
  virtual float ScaledValue() { return Opacity(); }
  virtual void Calculate(bool recursive) = 0;
  // The show time (ms) of a time origin: 0 slide begin, 1 end of the
  // incoming transition, 2 begin of the outgoing one, 3 slide end.
  virtual double OriginTime(int32_t origin) = 0;

 protected:
  float Value(int32_t param) const noexcept { return props_ ? props_->Value(param) : 0.0f; }
  Ref<TKavObjectProps> props_;
};

// An object's world frame: origin, two edge vectors and the depth axis.
struct TKavFrame {
  TFrame3D Frame;
  bool Valid = false;
};

// What prepares and releases the pictures of objects ahead of drawing (the
// drawer's texture uploads, for one). Ready answers whether it can work now.
class TKavResourceVisitor {
 public:
  virtual ~TKavResourceVisitor() = default;
  virtual bool Ready() = 0;
  virtual void Prepare(TImage* image, const TImageDrawParams& params) = 0;
  virtual void Release(TImage* image) = 0;
};

// The visitor of a device drawer: uploads and frees the drawer's textures.
class TDrawerResourceVisitor : public TKavResourceVisitor {
 public:
  explicit TDrawerResourceVisitor(TDeviceDrawer* drawer) : drawer_(drawer) {}
  bool Ready() override { return drawer_ && drawer_->IsReady(); }
  void Prepare(TImage* image, const TImageDrawParams& params) override {
    if (image) drawer_->PrepareImage(image, params);
  }
  void Release(TImage* image) override {
    if (image) drawer_->FreeOwnerTextures(image);
  }

 private:
  TDeviceDrawer* drawer_;
};

// The filter of HitTestChildren: false rejects an object.
using THitFilter = TDelegate<bool(TKavObject* object)>;

class TKavObject : public TKavParams {
 public:
  // Links the record and the object both ways (asserts that the record has
  // no object yet), appends the object to the parent's children and sets the
  // defaults. Use Create, which also calls SetDefaults.
  TKavObject(TKavObject* parent, TKavObjectProps* props);
  template <class T>
  static Ref<T> Create(TKavObject* parent, TKavObjectProps* props) {
    Ref<T> object = MakeRef<T>(parent, props);
    object->SetDefaults();
    return object;
  }

  // ---- Tree ----
  int32_t ChildCount() const noexcept { return int32_t(children_.size()); }
  TKavObject* GetChild(int32_t index) const noexcept;
  int32_t IndexInParent() const noexcept;
  TKavObject* Parent() const noexcept { return parent_; }
  // Walks the parents to the root, which must be a slide (assertion).
  virtual TKavSlide* GetSlide();
  // The slide host, asked through the parents; nil without one.
  virtual TKavObjectHost* ParentQuery();
  // The host's object callback's answer for this object; false without one.
  bool AskHost();

  // ---- Loading ----
  // Reads the object's keys (LoadFromIni), then builds the children.
  virtual void Load(TKavObjectProps* props, bool reload);
  // Creates or reloads one object per child record: a record that already
  // has an object keeps it (and its pictures) and reloads it; a record whose
  // kind has no class gets none.
  virtual void BuildChildren(bool reload);
  // The keys every object reads.
  virtual void LoadFromIni(TKavObjectProps* props, bool reload);
  virtual void SetDefaults() {}
  virtual bool ForceColorGrade() { return false; }

  // ---- Time and layout ----
  void SetTime(bool recursive, double time) {
    UpdateAtTime(recursive, time);
    Calculate(recursive);
  }
  // Evaluates the record at the time and updates the visibility window.
  virtual void UpdateAtTime(bool recursive, double time);
  void Calculate(bool recursive) override;
  double OriginTime(int32_t origin) override;
  float ScaledValue() override;
  // The size the object is laid out in (the parent's) and its world frame.
  virtual TFloatPoint CopySize();
  virtual TKavFrame CopyTransform();
  // The size fitted into the parent: the object's own size, or the part of
  // it that is to fill the fit (a text's body without its margins).
  virtual TFloatPoint FitSize() { return size_; }
  // The fit the layout applies: FitMode unless the object overrides it.
  virtual uint8_t LayoutFitMode() { return FitMode; }
  // The 3 x 3 matrix of rotations and scales, the parent's included.
  const std::array<float, 9>& WorldMatrix() const noexcept { return matrix_; }

  // ---- Drawing ----
  bool NeedsDraw() override;
  float LayerValue() override;
  void AfterDraw(TDeviceDrawer* drawer) override;
  void Draw(TDeviceDrawer* drawer) override;
  virtual void DrawSelf(TDeviceDrawer* /*drawer*/) {}
  // Stores the drawn state, clears the flags; with recursive the children too.
  virtual void CommitState(bool recursive);

  // ---- Resources ----
  // With a ready visitor: the object's own pictures (in the kinds that have
  // them), then the children's.
  virtual void PrepareResources(TKavResourceVisitor* visitor);
  virtual void PrepareResourcesAt(TKavResourceVisitor* visitor, int32_t a, int32_t b);
  virtual void ReleaseResources(TKavResourceVisitor* visitor);

  // ---- Mouse ----
  // The topmost object under the screen point (children last to first, then
  // this one) that the filter accepts, with the point in its local frame.
  virtual TKavObject* HitTestChildren(TFloatPoint& local, const THitFilter& filter, float x, float y);
  TKavObject* HitTest(TFloatPoint& local, bool deep, float x, float y);
  virtual bool HitTestSelf(float x, float y, TFloatPoint& local);
  virtual void SetFlag(bool value) { pressed_ = value; }
  bool Pressed() const noexcept { return pressed_; }

  // ---- Geometry ----
  // The four world corners of the local rectangle ((x0, y0), (x0 + w, y0),
  // (x0 + w, y0 + h), (x0, y0 + h)), each moved outward by `inflate` along
  // both edge directions. Asserts room for 4 points.
  void GetCornerPoints(TVector3* points, int32_t count, float inflate) const;
  // The local rectangle shrunk by `inset` on every side, as its world origin
  // and the world vectors to its right and lower edges.
  void InsetAxes(float inset, TVector3& origin, TVector3& x_axis, TVector3& y_axis) const;
  // Fills the band `width` wide along the inside of the local rectangle in
  // `color` (the border drawn around a picture or a clip's frame).
  void DrawInsideBorder(TDeviceDrawer* drawer, float width, TColor32 color, float opacity, bool antialias) const;
  const TKavFrame& WorldFrame() const noexcept { return frame_; }
  TFloatPoint LocalOrigin() const noexcept { return local_origin_; }
  TFloatPoint Size() const noexcept { return size_; }
  void SetSize(TFloatPoint size);
  TFloatPoint SizeScale() const noexcept { return size_scale_; }
  // Whether the facing rules show the object (HideMode against the side
  // it turns to the camera).
  bool FacingShown();

  // ---- Resolution survey ----
  // The three survey values of the tree go back to 0, 0, 1000000.
  void SurveyReset();
  // Takes the current layout of the tree into the survey.
  void SurveyState();
  // Sets the required resolution of the tree from the survey; answers
  // whether anything changed.
  bool ApplyRequiredResolution(bool changed);
  TFloatPoint RequiredResolution() const noexcept { return required_; }
  void SetRequiredResolution(TFloatPoint r) noexcept { required_ = r; }

  // Appends every keyframe time of the tree that the list lacks.
  void CollectKeyFrames(std::vector<double>& times) const;
  // The time (ms from the slide's start) of the next change the clock alone
  // brings to the tree at or after `time`: `time` itself when it changes
  // then (between two keyframes of a group, under a modifier, something that
  // plays by itself inside its visible window), else the earliest of a
  // visible window's start or end and a group's first keyframe ahead;
  // infinity when it stays as it is. With the clock standing (`clock_runs`
  // false) only what plays by itself or runs a modifier at `time` counts.
  double NextChange(double time, bool clock_runs = true) const;
  // Whether the tree stays as it is from `time` on by the clock alone.
  bool StillFrom(double time) const;
  // The object changes with the clock between keyframes (a video, an
  // animated picture).
  virtual bool PlaysByItself() const { return false; }

  // ---- Keys ----
  bool TranspForClick = false;
  std::u16string Action;
  bool ShadowEnable() const noexcept { return shadow_enable_; }
  float ShadowDistance() const noexcept { return shadow_distance_; }
  double ShadowAngle() const noexcept { return shadow_angle_; }
  void SetShadowEnable(bool v);
  void SetShadowDistance(float v);
  void SetShadowAngle(double v);
  float ShadowSize = 16.0f;
  TColor32 ShadowColor = 0x90000000u;
  float ShadowOpacity = 59.0f;
  int32_t ShadowSpreadIndex = 0;
  bool Shadow3D = false;
  bool HideFacing = false;  // HideMode bit 1
  bool HideAway = false;    // HideMode bit 0
  bool ChildInvis = false;
  bool Splitter = false;
  uint8_t FitMode = kFitPlaceInto;
  uint8_t PosMode = kModePercent;
  uint8_t CenterMode = kModePercent;
  TColor32 DrawnShadowColor() const noexcept { return drawn_shadow_color_; }
  const TByteString& RawValue() const noexcept { return raw_value_; }

  bool Visible() const noexcept { return visible_; }
  bool Hidden() const noexcept { return hidden_; }

 protected:
  void Dispose() override;
  // NextChange below the slide; `window_end` is where a visible window
  // without DeltaTime2 ends (ms from the slide's start).
  double NextChangeIn(double time, bool clock_runs, double window_end) const;

  std::vector<Ref<TKavObject>> children_;
  TKavObject* parent_ = nullptr;
  TByteString raw_value_;
  bool shadow_enable_ = false;
  float shadow_distance_ = 1.5f;
  double shadow_angle_ = 45.0;
  TColor32 drawn_shadow_color_ = 0x90000000u;

  // Layout.
  TFloatPoint size_;
  TFloatPoint size_scale_;
  std::array<float, 9> matrix_{1, 0, 0, 0, 1, 0, 0, 0, 1};
  TKavFrame frame_;
  TFloatPoint local_origin_;
  bool visible_ = false;
  bool hidden_ = false;
  bool pressed_ = false;
  TFloatPoint required_;

  // The state last drawn.
  float drawn_opacity_ = -1.0f;
  float drawn_blur_ = -1.0f;

  // Survey: largest on-screen width and height, nearest depth.
  double survey_width_ = 0, survey_height_ = 0, survey_depth_ = 1000000;
};

// The object factory: a new object of the kind for the parent and record,
// or nil for a kind without class. Units put their hook in front of the
// chain at start-up and keep the previous one for the kinds they do not make.
using TKavObjectFactory = Ref<TKavObject> (*)(int32_t kind, TKavObject* parent, TKavObjectProps* props);
TKavObjectFactory KavObjectFactory() noexcept;
TKavObjectFactory SetKavObjectFactory(TKavObjectFactory factory) noexcept;
// The chain's first hook: kinds 1-3 boxes (4-7 are made by the picture and
// text kinds once they are registered in front of it).
Ref<TKavObject> CreateKavObject(int32_t kind, TKavObject* parent, TKavObjectProps* props);
// Installs the factory chain of this library once: the base hook, then the
// viewport and mask hook in front of it.
void RegisterKavObjectFactories();

// tan(30 degrees): the slide's field of view.
inline constexpr double kTan30 = 0.57735026918962576451;

}  // namespace kav
