#include "tools/transitionsheet/TransitionConfigs.h"

#include <algorithm>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"

namespace kav::transsheet {

void TSlideItem::Draw(TDeviceDrawer* d) {
  TImageDrawParams p;
  p.FilterFlag = false;
  d->DrawImage(image_.get(), T3DPoint{0, 0, 0}, p, T3DPoint{0, float(h_), 0}, T3DPoint{float(w_), 0, 0},
               TSize{w_, h_});
}

bool TSlideItem::Opaque(TDeviceDrawer* d) {
  const TFloatRect v = d->GetViewRect();
  return Hint && opaque_ && v.Left == 0 && v.Top == 0 && v.Right == float(w_) && v.Bottom == float(h_) &&
         !d->OffsetActive;
}

uint32_t SlideA(int32_t x, int32_t y, int32_t w, int32_t h) {
  return 0xFF000000u | uint32_t(x * 255 / std::max(1, w - 1)) << 16 | uint32_t(y * 255 / std::max(1, h - 1)) << 8 |
         40u;
}

uint32_t SlideB(int32_t x, int32_t y, int32_t w, int32_t h) {
  const bool check = ((x * 8 / std::max(1, w)) + (y * 4 / std::max(1, h))) % 2 == 0;
  return check ? 0xFFF0E020u : 0xFF2040C0u;
}

Ref<TSlideItem> MakeSlide(bool incoming, int32_t w, int32_t h) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  bool opaque = true;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t c = incoming ? SlideB(x, y, w, h) : SlideA(x, y, w, h);
      reinterpret_cast<uint32_t*>(b->Row(y))[x] = c;
      opaque = opaque && c >> 24 == 255;
    }
  return MakeRef<TSlideItem>(ImageFromBitmap(b.get(), false, u"slide"), w, h, opaque);
}

Ref<TKavEffect> Effect(int32_t kind, std::vector<int32_t> flags, std::vector<int32_t> ints,
                       std::vector<float> floats) {
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

std::vector<TConfig> AllConfigs() {
  std::vector<TConfig> v;
  auto add = [&](const char* kind, std::string n, Ref<TKavEffect> e, bool moving = false) {
    v.push_back({kind, std::move(n), e, moving});
  };
  add("dissolve", "dissolve", Effect(1, {}));
  for (int32_t ccw = 0; ccw < 2; ++ccw) {
    add("hourhand", "clock_" + std::to_string(ccw), Effect(2, ccw ? std::vector<int32_t>{6, 1} : std::vector<int32_t>{6}));
    for (int32_t f : {2, 3, 4, 5, 7, 8, 9, 10}) {
      std::vector<int32_t> fl{f};
      if (ccw) fl.push_back(1);
      add("hourhand", "broom" + std::to_string(f) + "_" + std::to_string(ccw), Effect(2, fl, {}, {0.1f}));
    }
  }
  for (int32_t f : {2, 3, 4})
    for (int32_t rev = 0; rev < 2; ++rev)
      for (auto o : std::vector<std::pair<int32_t, int32_t>>{{50, 50}, {0, 0}, {130, 40}, {-20, 150}}) {
        std::vector<int32_t> fl{f};
        if (rev) fl.push_back(0);
        add("shapes",
            "shape" + std::to_string(f) + "_" + std::to_string(rev) + "_" + std::to_string(o.first) + "_" +
                std::to_string(o.second),
            Effect(3, fl, {o.first, o.second}));
      }
  for (int32_t f = 0; f < 8; ++f) add("gates", "gates" + std::to_string(f), Effect(4, {f}));
  for (int32_t f = 0; f < 8; ++f) add("page", "page" + std::to_string(f), Effect(5, {f}));
  add("mosaic", "mosaic", Effect(6, {}, {8, 6, 5, 1234}));
  add("mosaic", "mosaic_wide", Effect(6, {}, {3, 2, 150, 99}));
  add("mosaic", "mosaic_bad", Effect(6, {}, {0, -4, -10, 5}));
  for (int32_t f = 0; f < 4; ++f) add("push", "push" + std::to_string(f), Effect(7, {f}), true);
  for (int32_t f = 0; f < 4; ++f) add("slide", "slide" + std::to_string(f), Effect(8, {f}), true);
  for (int32_t f = 0; f < 10; ++f)
    for (int32_t back = 0; back < 2; ++back) {
      if (f == 1) continue;
      std::vector<int32_t> fl{f};
      if (back) fl.push_back(1);
      add("curling", "curling" + std::to_string(f) + "_" + std::to_string(back),
          Effect(9, fl, {0, 0x204080}, {0.1f, 0.5f}), true);
    }
  for (int32_t f : {0, 2, 3, 4}) {
    add("curling", "curling_depth" + std::to_string(f), Effect(9, {f, 11}, {0, 0x204080}, {0.1f, 0.5f}), true);
    add("curling", "curling_full" + std::to_string(f), Effect(9, {f, 1, 10}, {1, 0x204080}, {0.15f, 0.5f}), true);
  }
  for (int32_t f = 0; f < 4; ++f) add("flip", "flip" + std::to_string(f), Effect(10, {f}, {}, {0.5f}), true);
  for (int32_t f = 0; f < 4; ++f)
    add("swap", "swap" + std::to_string(f), Effect(11, {f}, {}, {0.5f, 0.5f, 0.5f}), true);
  add("custom", "custom", Effect(12, {}));
  return v;
}

Ref<TKavFilter> Params(Ref<TKavEffect> e, double duration, float edge) {
  auto p = MakeRef<TKavFilter>();
  p->Effect = std::move(e);
  p->Duration = duration;
  p->EdgeFraction = edge;
  return p;
}

void DrawSheet(TDeviceDrawer* d, const std::vector<TConfig>& configs, const std::vector<double>& progress, int32_t w,
               int32_t h, TDrawItem* from, TDrawItem* to) {
  d->Clear(0xFF404040, 0);
  // The slides are made for the cells' inner size (the cells are framed by
  // a two-pixel border).
  d->ViewRect = TFloatRect{0, 0, float(w - 4), float(h - 4)};
  d->ViewSize = TFloatPoint{float(w - 4), float(h - 4)};
  for (size_t r = 0; r < configs.size(); ++r)
    for (size_t c = 0; c < progress.size(); ++c) {
      // Each cell is a frame rectangle of its own, with a filter of its own.
      const TRect cell{int32_t(c) * w + 2, int32_t(r) * h + 2, int32_t(c + 1) * w - 2, int32_t(r + 1) * h - 2};
      d->OutputRect = cell;
      d->FrameRect = cell;
      auto p = Params(configs[r].Effect);
      p->Time = progress[c] * p->Duration;
      d->DrawTransition(from, to, p.get());
    }
}

}  // namespace kav::transsheet
