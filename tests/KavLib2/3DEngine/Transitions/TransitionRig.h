// Shared set-up of the transition tests: a drawer on an offscreen window,
// two distinct test slides, and every transition configuration the factory
// can make.
#pragma once

#include <string>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "tests/KavLib2/3DEngine/DrawerRig.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav::transtest {

using namespace transsheet;

struct TTransitionRig : drawtest::TDrawerRig {
  int32_t W, H;
  Ref<TSlideItem> From = MakeSlide(false, W, H), To = MakeSlide(true, W, H);

  TTransitionRig(int32_t w, int32_t h) : TDrawerRig(w, h), W(w), H(h) {
    InstallTransitions();
  }
  ~TTransitionRig() { SetDrawTransitionHook(nullptr); }

  // One frame of the transition at `time` of `duration` ms.
  std::vector<uint32_t> At(TKavFilter* params, double time, uint32_t background = 0xFF000000) {
    params->Time = time;
    Frame([&](TDeviceDrawer* d) { d->DrawTransition(From.get(), To.get(), params); }, background);
    return Last.Pixels;
  }
  std::vector<uint32_t> Plain(TDrawItem* item) {
    Frame([&](TDeviceDrawer* d) { d->Render(item); });
    return Last.Pixels;
  }
};

inline int ChannelDistance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
  return d;
}

}  // namespace kav::transtest
