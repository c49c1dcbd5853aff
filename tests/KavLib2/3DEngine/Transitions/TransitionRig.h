// Shared set-up of the transition tests: a drawer on an offscreen window,
// two distinct test slides, and every transition configuration the factory
// can make.
#pragma once

#include <string>
#include <vector>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "tests/KavLib2/3DEngine/DrawerRig.h"

namespace kav::transtest {

// A slide that draws its picture over the whole view.
class TSlideItem : public TDrawItem {
 public:
  TSlideItem(Ref<TImage> image, int32_t w, int32_t h) : image_(std::move(image)), w_(w), h_(h) {}
  void Draw(TDeviceDrawer* d) override {
    TImageDrawParams p;
    p.FilterFlag = false;
    d->DrawImage(image_.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, float(h_), 0}, T3DPoint{float(w_), 0, 0},
                 TSize{w_, h_});
  }

 private:
  Ref<TImage> image_;
  int32_t w_, h_;
};

// The outgoing slide: smooth gradients; the incoming one: a bold pattern.
inline uint32_t SlideA(int32_t x, int32_t y, int32_t w, int32_t h) {
  return 0xFF000000u | uint32_t(x * 255 / std::max(1, w - 1)) << 16 | uint32_t(y * 255 / std::max(1, h - 1)) << 8 |
         40u;
}
inline uint32_t SlideB(int32_t x, int32_t y, int32_t w, int32_t h) {
  const bool check = ((x * 8 / std::max(1, w)) + (y * 4 / std::max(1, h))) % 2 == 0;
  return check ? 0xFFF0E020u : 0xFF2040C0u;
}

struct TTransitionRig : drawtest::TDrawerRig {
  int32_t W, H;
  Ref<TSlideItem> From, To;

  TTransitionRig(int32_t w, int32_t h) : TDrawerRig(w, h), W(w), H(h) {
    InstallTransitions();
    From = MakeRef<TSlideItem>(drawtest::MakeImage(w, h, [=](int32_t x, int32_t y) { return SlideA(x, y, w, h); }),
                               w, h);
    To = MakeRef<TSlideItem>(drawtest::MakeImage(w, h, [=](int32_t x, int32_t y) { return SlideB(x, y, w, h); }),
                             w, h);
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

// A description of a kind with the given flags set.
inline Ref<TKavEffect> Effect(int32_t kind, std::vector<int32_t> flags, std::vector<int32_t> ints = {},
                              std::vector<float> floats = {}) {
  auto e = MakeRef<TKavEffect>();
  e->Kind = kind;
  e->VariantCount = 1;
  e->Flags.assign(12, 0);
  for (int32_t f : flags) e->Flags[size_t(f)] = 1;
  ints.resize(4, 0);
  floats.resize(3, 0);
  e->Ints = ints;
  e->Floats = floats;
  return e;
}

struct TConfig {
  std::string Name;
  Ref<TKavEffect> Effect;
  bool Moving = false;  // content moves: no per-pixel monotony
};

// Every configuration of the factory's table.
inline std::vector<TConfig> AllConfigs() {
  std::vector<TConfig> v;
  auto add = [&](std::string n, Ref<TKavEffect> e, bool moving = false) { v.push_back({std::move(n), e, moving}); };
  add("dissolve", Effect(1, {}));
  for (int32_t ccw = 0; ccw < 2; ++ccw) {
    add("hourhand" + std::to_string(ccw), Effect(2, ccw ? std::vector<int32_t>{6, 1} : std::vector<int32_t>{6}));
    for (int32_t f : {2, 3, 4, 5, 7, 8, 9, 10}) {
      std::vector<int32_t> fl{f};
      if (ccw) fl.push_back(1);
      add("broom" + std::to_string(f) + "_" + std::to_string(ccw), Effect(2, fl, {}, {0.1f}));
    }
  }
  for (int32_t f : {2, 3, 4})
    for (int32_t rev = 0; rev < 2; ++rev)
      for (auto o : std::vector<std::pair<int32_t, int32_t>>{{50, 50}, {0, 0}, {130, 40}}) {
        std::vector<int32_t> fl{f};
        if (rev) fl.push_back(0);
        add("shape" + std::to_string(f) + "_" + std::to_string(rev) + "_" + std::to_string(o.first) + "_" +
                std::to_string(o.second),
            Effect(3, fl, {o.first, o.second}));
      }
  for (int32_t f = 0; f < 8; ++f) add("gates" + std::to_string(f), Effect(4, {f}));
  for (int32_t f = 0; f < 8; ++f) add("page" + std::to_string(f), Effect(5, {f}));
  add("mosaic", Effect(6, {}, {8, 6, 5, 1234}));
  add("mosaic_wide", Effect(6, {}, {3, 2, 150, 99}));
  for (int32_t f = 0; f < 4; ++f) add("push" + std::to_string(f), Effect(7, {f}), true);
  for (int32_t f = 0; f < 4; ++f) add("slide" + std::to_string(f), Effect(8, {f}), true);
  for (int32_t f = 0; f < 10; ++f)
    for (int32_t back = 0; back < 2; ++back) {
      if (f == 1) continue;
      std::vector<int32_t> fl{f};
      if (back) fl.push_back(1);
      add("curling" + std::to_string(f) + "_" + std::to_string(back), Effect(9, fl, {0, 0x204080}, {0.1f, 0.5f}),
          true);
    }
  for (int32_t f = 0; f < 4; ++f) add("flip" + std::to_string(f), Effect(10, {f}, {}, {0.5f}), true);
  for (int32_t f = 0; f < 4; ++f) add("swap" + std::to_string(f), Effect(11, {f}, {}, {0.5f, 0.5f, 0.5f}), true);
  add("custom", Effect(12, {}));
  return v;
}

inline Ref<TKavFilter> Params(Ref<TKavEffect> e, double duration = 1000, float edge = 0.1f) {
  auto p = MakeRef<TKavFilter>();
  p->Effect = std::move(e);
  p->Duration = duration;
  p->EdgeFraction = edge;
  return p;
}

inline int ChannelDistance(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 32; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
  return d;
}

}  // namespace kav::transtest
