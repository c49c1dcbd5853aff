// Test-only: every transition configuration the factory can make, two
// distinct test slides, and a contact sheet of a kind's configurations.
#pragma once

#include <string>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav::transsheet {

// A slide that draws its picture over the view (0, 0, W, H).
class TSlideItem : public TDrawItem {
 public:
  TSlideItem(Ref<TImage> image, int32_t w, int32_t h, bool opaque)
      : image_(std::move(image)), w_(w), h_(h), opaque_(opaque) {}
  void Draw(TDeviceDrawer* d) override;
  // An opaque picture over the whole view, when the view is the slide's.
  bool Opaque(TDeviceDrawer* d) override;
  // false: the slide does not say it is opaque (to compare pictures).
  bool Hint = true;

 private:
  Ref<TImage> image_;
  int32_t w_, h_;
  bool opaque_;
};

// The outgoing slide (smooth gradients) and the incoming one (a bold
// pattern), as pixels and as slides.
uint32_t SlideA(int32_t x, int32_t y, int32_t w, int32_t h);
uint32_t SlideB(int32_t x, int32_t y, int32_t w, int32_t h);
Ref<TSlideItem> MakeSlide(bool incoming, int32_t w, int32_t h);

// A description of a kind with the given flags set.
Ref<TKavEffect> Effect(int32_t kind, std::vector<int32_t> flags, std::vector<int32_t> ints = {},
                       std::vector<float> floats = {});

struct TConfig {
  std::string Kind;  // the kind's project name
  std::string Name;  // unique per configuration
  Ref<TKavEffect> Effect;
  bool Moving = false;  // the content moves: no per-pixel monotony
};
std::vector<TConfig> AllConfigs();

// Parameters of a transition of `duration` ms with the soft-edge fraction.
Ref<TKavFilter> Params(Ref<TKavEffect> e, double duration = 1000, float edge = 0.1f);

// Draws a sheet into the current frame: one row per configuration, one
// column per progress, each cell w x h at (column * w, row * h).
void DrawSheet(TDeviceDrawer* d, const std::vector<TConfig>& configs, const std::vector<double>& progress,
               int32_t w, int32_t h, TDrawItem* from, TDrawItem* to);

}  // namespace kav::transsheet
