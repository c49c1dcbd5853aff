// Colour grading of pictures: the lookup an object keeps per keyframe (made
// from the keyframe's colour-filter chain, over the picture's own colour
// lookup when it has one) and the grading state drawn between the two
// current keyframes.
#pragma once

#include <map>

#include "KavLib2/3DEngine/ColorGradeGenerator.h"
#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavClasses/KavObjectFilter.h"

namespace kav {

class TKavObjectProps;

// A colour transform that runs a colour-filter chain over the pixels.
class TFilterChainTransform : public TColorTransform {
 public:
  explicit TFilterChainTransform(TObjectFilter* chain) : TColorTransform(nullptr, nullptr), chain_(chain) {}
  void TransformPixels(TBitmap* bitmap) override;

 protected:
  void Dispose() override;

 private:
  Ref<TObjectFilter> chain_;
};

class TColorGradeWrapper : public TRefObject {
 public:
  explicit TColorGradeWrapper(TObjectFilter* chain);
  // Another chain object, or the same one changed since (its revision
  // text), marks the holder dirty.
  void SetChain(TObjectFilter* chain);
  // Kind 3 (grading that mixes channels, or a forced one) wants a volume
  // texture, any other kind a ramp; the texture is made again when missing
  // or of the other kind, and a dirty holder fills it from the source
  // lookup (optional, a 32 x 1024 volume) and the chain.
  void UpdateLut(T3DScreen* screen, int32_t kind, TSysBitmap* lookup);
  TCustomColorGradeTexture* Texture() const noexcept { return texture_.get(); }
  bool Dirty() const noexcept { return dirty_; }

 protected:
  void Dispose() override;

 private:
  Ref<TCustomColorGradeTexture> texture_;
  Ref<TObjectFilter> chain_;
  TByteString key_;
  bool dirty_ = true;
};

// The grading state of an object between its two current colour keyframes:
// holders per keyframe index, made as the keyframes need them.
class TColorGradeState {
 public:
  // Fills the image record's grading fields for the record's current
  // keyframes; `forced` (the picture's own colour lookup, or nil) grades
  // even without filters. Nothing without a screen.
  void Apply(TKavObjectProps* props, T3DScreen* screen, TSysBitmap* forced, TImageDrawParams& params);
  void Clear() { holders_.clear(); }

 private:
  TColorGradeWrapper* Holder(int32_t index, TObjectFilter* chain);
  std::map<int32_t, Ref<TColorGradeWrapper>> holders_;
};

// The identity volume run through `transform` (32 x 1024, 4 bytes a pixel);
// nil without a transform.
Ref<TSysBitmap> MakeColorLookup(TColorTransform* transform);

}  // namespace kav
