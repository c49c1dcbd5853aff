// The root of a slide's object tree, as far as its objects need it: the
// host, the slide's time points, its size and origin in the 3D space and the
// field-of-view depth factor. Backgrounds, loading from the show's sections
// and mouse processing build on this class.
#pragma once

#include "KavLib2/KavObjects/KavObjects.h"

namespace kav {

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
  bool Live = false;

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

 protected:
  void Dispose() override;

 private:
  Ref<TKavObjectHost> host_;
  float depth_factor_ = float(kTan30);
  double slide_time_ = 0;
};

}  // namespace kav
