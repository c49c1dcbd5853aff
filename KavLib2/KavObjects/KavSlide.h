// The root of a slide's object tree, as far as its objects need it: the
// host, the slide's time points, its size and origin in the 3D space and the
// field-of-view depth factor. Backgrounds, loading from the show's sections
// and mouse processing build on this class.
#pragma once

#include <atomic>
#include <cmath>
#include <map>
#include <vector>

#include "KavLib2/KavClasses/KavObjectActions.h"
#include "KavLib2/KavObjects/KavObjects.h"

namespace kav {

class TIniList;

// A slide background: 0 one colour, 1 horizontal and 2 vertical gradient
// from colour 1 to colour 2, 3 a picture tiled around the centre.
struct TSlideBackground {
  uint8_t Style = 0;
  std::u16string ImageName;
  float Zoom = 100.0f;  // percent
  TColor32 Color1 = 0, Color2 = 0;  // as read
  TColor32 Drawn1 = 0, Drawn2 = 0;  // after the colour transform
};

class TKavSlide : public TKavObject {
 public:
  // Asserts a host; holds a reference to it.
  TKavSlide(TKavObjectHost* host, TKavObjectProps* props);

  TKavObjectHost* Host() const noexcept { return host_.get(); }

  // Time points (show time, ms) and transition lengths.
  double SlideBegin = 0;
  double NextEffectBegin = 0;
  double EffectIn = 0;
  double EffectOut = 0;
  // The slide's centre in the drawing space; children at position 0 sit on it.
  TVector3 OriginPoint;
  // The slide is rendered into an effect buffer; a live one is updated at
  // every SetTime and its images take "EffectResource" keys.
  bool EffectBufferSlide = false;
  // The slide's index in the show (0-based; -1 for effect slides).
  int32_t SlideIndex = 0;
  // What made the slide (the slide producer); not owned.
  TRefObject* OwnerObject = nullptr;
  bool Live = false;

  // ---- Loading ----
  // Reads the slide from its sections: time points from [Times] (unless
  // `no_times`), the transition lengths, the scale mode, the background and
  // the object tree (keyframe times rescaled by the scale mode).
  void LoadSlide(TIniList* main, TIniList* slide, TIniList* times, bool no_times, double effect_out, double effect_in,
                 int32_t index);
  // The background: the slide's own keys when its "bstyle" is set, else the
  // show's "opt_" keys of [Main].
  void LoadBackground(TIniList* main, TIniList* slide);
  const TSlideBackground& Background() const noexcept { return background_; }
  void SetBackColor1(TColor32 c);
  void SetBackColor2(TColor32 c);
  void SetBackStyle(uint8_t style);
  void SetBackImageName(const std::u16string& name);
  void SetBackZoom(float zoom);
  // The alternative background (dialogs), shown with a visibility factor.
  void SetBackground(const TSlideBackground& background, float factor);
  // The drawn size of the background picture (slide units); (0, 0) without.
  TFloatPoint BackgroundPictureSize();
  // The time factor of the scale mode (0: none).
  double ScaleFactor() const noexcept { return scale_factor_; }

  // ---- Set-up ----
  // Surveys every keyframe state once (the sizes pictures and texts are
  // needed at); runs before the first layout.
  void SetUpSlide();
  bool SetUpDone() const noexcept { return set_up_; }
  bool InSurvey() const noexcept { return in_survey_; }

  // ---- Drawing ----
  // Only the objects after the first splitter (a slide under a custom
  // transition draws its background group apart).
  bool ForegroundOnly = false;
  // The background group (the children before the first splitter) becomes
  // the list drawn with the own background (`own`) and/or the one drawn with
  // the alternative background (`alternative`); the other list is emptied.
  void SplitObjectLists(bool own, bool alternative);
  // Called after drawing, and when a queued picture arrives.
  TDelegate<void(TKavSlide*)> OnRedraw;
  // A picture the host's image-task worker made for one of the slide's
  // objects has arrived (any thread): the slide needs drawing, and its next
  // SetSlideTime lays it out (where the object takes the picture) even at
  // the time it already stands at, and it needs drawing until it is drawn.
  void NoteDelivery() noexcept { delivered_.store(true); }
  bool NeedsDraw() override;
  void CommitState(bool recursive) override;
  void Draw(TDeviceDrawer* drawer) override;
  // A solid or gradient background drawn over exactly the drawer's view
  // (no blur or sharpening layer, no offset): it covers the frame opaquely,
  // and what is drawn over it keeps it opaque.
  bool Opaque(TDeviceDrawer* drawer) override;
  void DrawBackground(TDeviceDrawer* drawer, const TVector3* corners, uint8_t opacity);
  void PrepareResources(TKavResourceVisitor* visitor) override;
  void ReleaseResources(TKavResourceVisitor* visitor) override;

  // ---- Mouse ----
  // Looks from the pointer: every button and text back to normal, then the
  // object hit (not TranspForClick) reacts to the event (0 move, 1 press,
  // 2 release; button 1 is the primary one). `action` gets the parsed action
  // of a click (a release over the object that was pressed).
  TKavObject* ProcessMouse(float x, float y, uint32_t state, bool enabled, int32_t event, int32_t button,
                           TObjectAction& action);

  // 100 for slides; dialogs scale their objects' opacity.
  virtual float GetScalePercent() { return 100.0f; }
  // tan 30 degrees / slide height x the camera distance (tan 30 degrees
  // without a camera in front of the slide).
  float DepthFactor() const noexcept { return depth_factor_; }
  // The slide time of the last UpdateAtTime (show time - slide begin).
  double SlideTime() const noexcept { return slide_time_; }

  TKavSlide* GetSlide() override { return this; }
  TKavObjectHost* ParentQuery() override { return host_.get(); }
  // 0 slide begin, 1 + incoming transition, 2 next transition's begin,
  // 3 + outgoing transition; another origin asserts.
  double OriginTime(int32_t origin) override;
  TFloatPoint CopySize() override { return Size(); }
  TKavFrame CopyTransform() override;
  bool HitTestSelf(float, float, TFloatPoint&) override { return false; }
  void UpdateAtTime(bool recursive, double time) override;
  void Calculate(bool recursive) override;
  // Skipped when the time is the last one, the slide is not live and
  // nothing needs drawing (a delivered picture needs it).
  void SetSlideTime(double time);

 protected:
  void Dispose() override;

 private:
  TImage* BackgroundPicture();
  void UpdateDrawnBackground();
  // The index of the first splitter (the child count without one).
  size_t GroupEnd() const;
  // Draws the alternative background in place of the own one.
  void DrawAlternativeBackground(TDeviceDrawer* drawer, const TVector3* corners, uint8_t opacity);

  Ref<TKavObjectHost> host_;
  TSlideBackground background_;
  TSlideBackground alt_background_;
  float alt_factor_ = 0;
  // The background group, drawn over the own and over the alternative
  // background; not owned (the children hold them).
  std::vector<TKavObject*> own_list_, alt_list_;
  std::map<std::u16string, Ref<TImage>> background_pictures_;
  TKavResourceVisitor* prepared_by_ = nullptr;
  double scale_factor_ = 0;
  bool set_up_ = false;
  bool in_survey_ = false;
  double last_time_ = NAN;
  std::atomic<bool> delivered_{false};  // NoteDelivery: not yet laid out
  bool redraw_ = false;                 // laid out after a delivery; CommitState: drawn
  float depth_factor_ = float(kTan30);
  double slide_time_ = 0;
};

}  // namespace kav
