#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <string>

#include "KavLib2/3DEngine/Transitions/OverturnEffects.h"
#include "KavLib2/3DEngine/Transitions/SlideFilters.h"
#include "KavLib2/3DEngine/Transitions/TransitionKinds.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

std::atomic<TCustomTransitionHook> g_custom_hook{nullptr};

// Parameters of a description, 0 where the description has none.
int32_t IParam(const TKavEffect* e, size_t i) { return i < e->Ints.size() ? e->Ints[i] : 0; }
float FParam(const TKavEffect* e, size_t i) { return i < e->Floats.size() ? e->Floats[i] : 0.0f; }
bool BParam(const TKavEffect* e, size_t i) { return i < e->Flags.size() && e->Flags[i] != 0; }

// The index in `order` of the first flag set, or -1.
int32_t FirstFlag(const TKavEffect* e, std::initializer_list<int32_t> order) {
  int32_t k = 0;
  for (int32_t f : order) {
    if (BParam(e, size_t(f))) return k;
    ++k;
  }
  return -1;
}

// A level 0..255 to the nearest integer, halves to even as every rounding of
// the project; NaN gives 0.
uint32_t RoundedByte(float v) {
  if (!(v > 0)) return 0;
  return uint32_t(std::min(std::nearbyint(v), 255.0f));
}

uint32_t PremulWhite(float opacity) {
  const uint32_t a = RoundedByte(opacity);
  return a * 0x01010101u;
}

}  // namespace

void SetCustomTransitionHook(TCustomTransitionHook hook) { g_custom_hook.store(hook); }

uint32_t MakeGrayColor(float value) {
  const uint32_t v = RoundedByte(value);
  return 0xFF000000u | v << 16 | v << 8 | v;
}

void TKavFilter::Dispose() {
  Effect = nullptr;
  Filter = nullptr;
  TDrawFilterParams::Dispose();
}

// ---- Factory ----

Ref<TDrawFilter> CreateTransitionFilter(TSize size, const TKavEffect* e, TDrawItem* from, bool content_size) {
  if (!e) return nullptr;
  const float w = float(size.cx), h = float(size.cy);
  switch (e->Kind) {
    case kEffectHourhand: {
      if (BParam(e, 6)) return MakeClockFilter(BParam(e, 1));
      static constexpr int32_t kDirs[] = {8, 1, 5, 4, 2, 7, 3, 6};
      const int32_t k = FirstFlag(e, {2, 3, 4, 5, 7, 8, 9, 10});
      if (k < 0) return nullptr;
      return MakeBroomFilter(kDirs[k] + (BParam(e, 1) ? 8 : 0), (w + h) * 0.5f * FParam(e, 0));
    }
    case kEffectShapes: {
      const float ox = float(IParam(e, 0)) * 0.01f, oy = float(IParam(e, 1)) * 0.01f;
      const int32_t k = FirstFlag(e, {2, 3, 4});
      if (k < 0) return nullptr;
      return MakeShapeFilter(k, ox, oy, BParam(e, 0));
    }
    case kEffectGates: {
      switch (FirstFlag(e, {0, 1, 2, 3, 4, 5, 6, 7})) {
        case 0: return MakeLinesFilter(false, 0.5f, 0.5f, true);
        case 1: return MakeLinesFilter(true, 0.5f, 0.5f, true);
        case 2: return MakeDiagFilter(8, 1);
        case 3: return MakeDiagFilter(8, 3);
        case 4: return MakeLinesFilter(false, 0.5f, 0.5f, false);
        case 5: return MakeLinesFilter(true, 0.5f, 0.5f, false);
        case 6: return MakeDiagFilter(8, 2);
        case 7: return MakeDiagFilter(8, 4);
        default: return nullptr;
      }
    }
    case kEffectPage: {
      switch (FirstFlag(e, {0, 1, 2, 3, 4, 5, 6, 7})) {
        case 0: return MakeDiagFilter(10, 2);
        case 1: return MakeLinesFilter(true, 0, 1, false);
        case 2: return MakeDiagFilter(10, 3);
        case 3: return MakeLinesFilter(false, 1, 0, false);
        case 4: return MakeLinesFilter(false, 0, 0, false);
        case 5: return MakeDiagFilter(10, 4);
        case 6: return MakeLinesFilter(true, 0, 0, false);
        case 7: return MakeDiagFilter(10, 1);
        default: return nullptr;
      }
    }
    case kEffectMosaic: {
      const int32_t spread = IParam(e, 2);
      return MakeRandomFilter(IParam(e, 0), IParam(e, 1), uint32_t(IParam(e, 3)),
                              spread < 100 ? float(spread) : 1000.0f);
    }
    case kEffectPush:
    case kEffectSlide:
    case kEffectFlip:
    case kEffectSwap: {
      static constexpr int32_t kDirs[] = {2, 4, 1, 3};
      const int32_t k = FirstFlag(e, {0, 1, 2, 3});
      if (k < 0) return nullptr;
      const int32_t d = kDirs[k];
      if (e->Kind == kEffectPush) return MakeMoveFilter(true, d);
      if (e->Kind == kEffectSlide) return MakeMoveFilter(false, d);
      if (e->Kind == kEffectFlip) return MakeOverturnFilter(d, FParam(e, 0), BParam(e, 4), BParam(e, 5));
      return MakeTwoSlidesFilter(d, FParam(e, 0), FParam(e, 1), FParam(e, 2));
    }
    case kEffectCurling: {
      const int32_t family = (BParam(e, 2) || BParam(e, 4) || BParam(e, 7) || BParam(e, 9)) ? 15 : 14;
      int32_t c;
      if (BParam(e, 2))
        c = 3;
      else if (BParam(e, 3) || BParam(e, 4))
        c = 4;
      else if (BParam(e, 5))
        c = 3;
      else if (!BParam(e, 6) && (BParam(e, 7) || BParam(e, 8)))
        c = 2;
      else
        c = 1;
      TRollParams p;
      p.Family = family;
      p.Direction = (BParam(e, 1) ? 4 : 0) + c;
      p.FullTurn = IParam(e, 0) == 1;
      p.RadiusPixels = int32_t(std::nearbyint(w * FParam(e, 0)));
      p.BackColoured = BParam(e, 10);
      const uint32_t col = uint32_t(IParam(e, 1));
      p.Colour[0] = uint8_t(col & 0xFF);
      p.Colour[1] = uint8_t(col >> 8 & 0xFF);
      p.Colour[2] = uint8_t(col >> 16 & 0xFF);
      p.Perspective = BParam(e, 11);
      p.DepthScale = FParam(e, 1);
      return MakeRollFilter(p);
    }
    case kEffectCustom: {
      const TCustomTransitionHook hook = g_custom_hook.load();
      if (hook) return hook(from, e->CustomSection.get(), content_size);
      return MakeRef<TAlphaFilter>();
    }
    default:
      return MakeRef<TAlphaFilter>();
  }
}

Ref<TDrawFilter> CreateTransitionForRect(const TRect& rect, const TKavEffect* effect, TDrawItem* from,
                                         bool content_size, float edge_fraction, float duration) {
  if (!effect) return nullptr;
  Ref<TDrawFilter> f =
      CreateTransitionFilter(TSize{rect.Width(), rect.Height()}, effect, from, content_size);
  if (f) f->Init(rect, duration, float(rect.Width()) * edge_fraction);
  return f;
}

// ---- Tiles over the effecter's target ----

class TD3DTriTile : public TEffTile {
 public:
  TD3DTriTile(TEffController* owner, const TRect& bounds, int32_t col, int32_t row, TCustomD3DEffecter* effecter)
      : TEffTile(owner, bounds, col, row), effecter_(effecter) {}

  void Begin(int32_t, int32_t) override {
    KAV_ASSERT(!open_);
    open_ = true;
    textured_.clear();
    depth_.clear();
    plain_.clear();
  }
  // Vertices on the rectangle's left and top edges stay where they are: the
  // rasterizer covers edge pixels exactly, no outward nudge is needed.
  // A triangle whose three corners round to opacity 0 is transparent black
  // at every pixel, which the premultiplied blend leaves unchanged: it is
  // not drawn (the unswept part of the rotating wipes, half the frame on
  // average).
  void AddTriangles(const TEffVertex* v, int32_t n) override {
    for (int32_t i = 0; i + 2 < n; i += 3) {
      if (PremulWhite(v[i].A) == 0 && PremulWhite(v[i + 1].A) == 0 && PremulWhite(v[i + 2].A) == 0) continue;
      for (int32_t k = i; k < i + 3; ++k)
        textured_.push_back(Textured(v[k].X, v[k].Y, 0, v[k].X, v[k].Y, v[k].A));
    }
  }
  void AddColourTriangles(const TEffVertex* v, int32_t n, uint32_t color) override {
    const uint32_t c = T3DScreen::PremultiplyColor(color);
    for (int32_t i = 0; i < n; ++i) plain_.push_back(Plain(v[i].X, v[i].Y, c));
  }
  // Moved and turned pictures are shaded by their level (grey), not made
  // transparent.
  void AddTexturedTriangles(const TEffTexVertex* v, int32_t n) override {
    for (int32_t i = 0; i < n; ++i)
      textured_.push_back(TPending{v[i].X, v[i].Y, 0, v[i].U, v[i].V, MakeGrayColor(v[i].A)});
  }
  void AddShadedTriangles(const TEffShadedVertex* v, int32_t n) override {
    for (int32_t i = 0; i < n; ++i)
      plain_.push_back(TPending{v[i].X, v[i].Y, v[i].Z, 0, 0, T3DScreen::PremultiplyColor(v[i].Color)});
  }
  // A triangle lying flat in the picture plane at its own place and at
  // full level shows the picture 1:1: filtering at the pixel centres gives
  // the texels themselves, so it joins the flat pictures (nearest-pixel
  // sampling, far cheaper to shade). Flat and wound pieces of one batch
  // never overlap, so drawing the flat ones first changes no pixel.
  void AddDepthTriangles(const TEffDepthVertex* v, int32_t n) override {
    for (int32_t i = 0; i + 2 < n; i += 3) {
      bool flat = true;
      for (int32_t k = i; k < i + 3 && flat; ++k)
        flat = v[k].Z == 0 && v[k].U == v[k].X && v[k].V == v[k].Y && MakeGrayColor(v[k].A) == 0xFFFFFFFFu;
      auto& to = flat ? textured_ : depth_;
      for (int32_t k = i; k < i + 3; ++k)
        to.push_back(TPending{v[k].X, v[k].Y, v[k].Z, v[k].U, v[k].V, MakeGrayColor(v[k].A)});
    }
  }
  void End() override {
    KAV_ASSERT(open_);
    open_ = false;
    if (effecter_->Deferring()) {
      effecter_->Defer(TTriBatch{Ref<TEffTile>(this), std::move(plain_), std::move(textured_), std::move(depth_)});
      return;
    }
    Draw(plain_, textured_, depth_);
  }

  // Draws one batch's triangles: the plain ones, then the pictures.
  void Draw(const std::vector<TTriPoint>& plain, const std::vector<TTriPoint>& textured,
            const std::vector<TTriPoint>& depth) {
    T3DScreen* s = effecter_->Screen();
    if (!s || !s->DeviceReady()) return;
    TVertexBuffer* b = s->Batch();
    if (!plain.empty()) Flush(b, plain, nullptr);
    TRenderTargetTexture* t = effecter_->Source();
    if (!t) return;
    const uint8_t filter = t->Filter;
    if (!textured.empty()) {
      // Flat pictures are drawn 1:1 or moved: nearest-pixel sampling keeps
      // them exact and never reads the cleared area beyond the rendered
      // picture, so no edge padding is needed.
      t->Filter = k3DFilterPoint;
      Flush(b, textured, t);
    }
    if (!depth.empty()) {
      // Turned and wound pictures are scaled: filtered, their edges fade
      // into the cleared border by at most a pixel.
      t->Filter = k3DFilterLinear;
      Flush(b, depth, t);
    }
    t->Filter = filter;
  }

 private:
  using TPending = TTriPoint;
  TPending Textured(float x, float y, float z, float u, float v, float a) const {
    return TPending{x, y, z, u, v, PremulWhite(a)};
  }
  static TPending Plain(float x, float y, uint32_t c) { return TPending{x, y, 0, 0, 0, c}; }

  void Flush(TVertexBuffer* b, const std::vector<TPending>& pts, TCustomTexture* tex) {
    if (pts.empty()) return;
    T3DScreen* s = effecter_->Screen();
    TCustomTexture* const texs[1] = {tex};
    b->BeginBatch(texs, tex ? 1 : 0);
    const int32_t tris = int32_t(pts.size() / 3);
    b->Reserve(tris);
    const TRect& e = effecter_->EffectRect;
    T3DVertex v[3];
    for (int32_t i = 0; i < tris; ++i) {
      for (int k = 0; k < 3; ++k) {
        const TPending& p = pts[size_t(i) * 3 + size_t(k)];
        const T3DPoint n = s->ScreenToNdc(T3DPoint{p.X, p.Y, p.Z});
        v[k] = T3DVertex{};
        v[k].X = n.x;
        v[k].Y = n.y;
        v[k].Z = n.z;
        v[k].Diffuse = p.Color;
        if (tex) tex->SetTexCoord(0, v[k], p.U - float(e.Left), p.V - float(e.Top));
      }
      b->AddTriangle(v[0], v[1], v[2]);
    }
    b->Flush();
  }

  TCustomD3DEffecter* effecter_;
  bool open_ = false;
  std::vector<TPending> textured_, depth_, plain_;
};

class TD3DTriController : public TEffController {
 public:
  explicit TD3DTriController(TCustomD3DEffecter* effecter) : effecter_(effecter) {}
  TRect GetRect() override { return effecter_->EffectRect; }
  void Lay(const TRect& r) {
    const float xs[2] = {float(r.Left), float(r.Right)}, ys[2] = {float(r.Top), float(r.Bottom)};
    Setup(xs, 1, ys, 1);
  }

 protected:
  Ref<TEffTile> CreateTile(const TRect& b, int32_t col, int32_t row) override {
    return MakeRef<TD3DTriTile>(this, b, col, row, effecter_);
  }

 private:
  TCustomD3DEffecter* effecter_;
};

// ---- Effecter ----

TCustomD3DEffecter::TCustomD3DEffecter(T3DScreen* screen, TRenderTargetManager* shared_pool)
    : screen_(screen), pool_(shared_pool) {
  KAV_ASSERT(screen);
  controller_ = MakeRef<TD3DTriController>(this);
}

void TCustomD3DEffecter::Dispose() {
  ReleaseTargets();
  controller_ = nullptr;
  pool_ = nullptr;
  screen_ = nullptr;
  TRefObject::Dispose();
}

void TCustomD3DEffecter::Run(const TRect& rect) {
  if (rect == EffectRect && controller_->Cols() == 1) return;
  EffectRect = rect;
  controller_->Lay(rect);
}

void TCustomD3DEffecter::AcquireTargets(bool two) {
  if (!pool_) return;
  if (!target0_) target0_ = pool_->Acquire(screen_.get());
  if (two && !target1_) target1_ = pool_->Acquire(screen_.get());
}

void TCustomD3DEffecter::ReleaseTargets() {
  if (pool_) {
    pool_->Release(target0_.get());
    pool_->Release(target1_.get());
  }
  target0_ = nullptr;
  target1_ = nullptr;
  swapped_ = false;
}

TRenderTargetTexture* TCustomD3DEffecter::GetTarget(int32_t index) const {
  KAV_ASSERT(index == 0 || index == 1);
  return index == 0 ? target0_.get() : target1_.get();
}

TEffController* TCustomD3DEffecter::Controller() const { return controller_.get(); }

void TCustomD3DEffecter::BeginDeferred() {
  deferred_.clear();
  deferring_ = true;
}

void TCustomD3DEffecter::EndDeferred() { deferring_ = false; }

void TCustomD3DEffecter::Defer(TTriBatch batch) { deferred_.push_back(std::move(batch)); }

bool TCustomD3DEffecter::DeferredSource(TRect& out) const {
  TRenderTargetTexture* t = Current();
  // Clamped addressing reads the edge texels past the edges, never the far
  // side of the texture.
  if (!t || t->AddressU != k3DAddressClamp || t->AddressV != k3DAddressClamp) return false;
  const TSize ts = t->TextureSize();
  float x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
  for (const TTriBatch& b : deferred_)
    for (const auto* pts : {&b.Textured, &b.Depth})
      for (const TTriPoint& p : *pts) {
        x0 = std::min(x0, p.U);
        y0 = std::min(y0, p.V);
        x1 = std::max(x1, p.U);
        y1 = std::max(y1, p.V);
      }
  if (!(x0 <= x1 && y0 <= y1)) {
    out = TRect{};  // nothing samples the picture
    return true;
  }
  if (!(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1))) return false;
  // Texture coordinates inside a triangle lie between its corners' (before
  // rounding); a filtered sample reads one texel either side. Two texels of
  // margin hold both.
  const double ox = EffectRect.Left, oy = EffectRect.Top;
  const auto cut = [](double v, int32_t hi) { return int32_t(std::clamp(v, 0.0, double(hi))); };
  out = TRect{cut(std::floor(double(x0) - ox) - 2, ts.cx), cut(std::floor(double(y0) - oy) - 2, ts.cy),
              cut(std::ceil(double(x1) - ox) + 2, ts.cx), cut(std::ceil(double(y1) - oy) + 2, ts.cy)};
  return true;
}

namespace {

// The pixels two triangles of a picture lying flat (no depth) at full
// opacity set to opaque colours: the triangles split one axis-aligned
// rectangle along a diagonal, the texture positions follow the device
// positions axis by axis, and every texel the sample of a pixel reads lies in
// the opaque picture, which fills the target from its origin to `size`.
// Sampling is clamped: positions before the origin read its edge. Empty when
// that is not shown. With `shift`, nearest-pixel sampling that reads, for
// every pixel of the answer, the texel at the pixel plus `shift` (in target
// pixels) sets it; else `shift` is left alone and *copyable false.
TRect OpaquePair(const TTriPoint* a, const TTriPoint* b, bool filtered, TSize size, float ox, float oy,
                 TPoint* shift = nullptr, bool* copyable = nullptr) {
  const TTriPoint* v[6] = {&a[0], &a[1], &a[2], &b[0], &b[1], &b[2]};
  for (const TTriPoint* p : v)
    if (p->Color >> 24 != 255 || p->Z != 0) return TRect{};
  float x0 = v[0]->X, x1 = x0, y0 = v[0]->Y, y1 = y0;
  for (const TTriPoint* p : v) {
    x0 = std::min(x0, p->X);
    x1 = std::max(x1, p->X);
    y0 = std::min(y0, p->Y);
    y1 = std::max(y1, p->Y);
  }
  if (!(x0 < x1 && y0 < y1)) return TRect{};
  // Corners 0 (x0, y0), 1 (x1, y0), 2 (x1, y1), 3 (x0, y1): each triangle
  // holds three distinct corners, and the corners they lack are opposite.
  float u[2] = {NAN, NAN}, w[2] = {NAN, NAN};  // texture x at x0, x1; y at y0, y1
  int lack[2];
  for (int i = 0; i < 2; ++i) {
    int mask = 0;
    for (int k = 0; k < 3; ++k) {
      const TTriPoint& p = *v[i * 3 + k];
      const bool l = p.X == x0, r = p.X == x1, t = p.Y == y0, bt = p.Y == y1;
      if (!(l || r) || !(t || bt)) return TRect{};
      const int c = t ? (l ? 0 : 1) : (r ? 2 : 3);
      if (mask & 1 << c) return TRect{};
      mask |= 1 << c;
      // The same texture position along each side.
      float& su = u[r ? 1 : 0];
      float& sw = w[bt ? 1 : 0];
      if ((!std::isnan(su) && su != p.U) || (!std::isnan(sw) && sw != p.V)) return TRect{};
      su = p.U;
      sw = p.V;
    }
    lack[i] = std::countr_zero(unsigned(~mask & 15));
  }
  if ((lack[0] + 2) % 4 != lack[1]) return TRect{};
  // Pixels whose centres lie inside by a margin no rounding on the way to
  // the device reaches; then those whose samples stay in the picture.
  // Texture positions along a side are affine in the device position.
  // Filtered samples read the texel after the one before the position, so
  // the position may come to half a texel of the picture's end.
  const float reach = filtered ? 0.52f : 0.02f;
  auto span = [&](float d0, float d1, float t0, float t1, float origin, int32_t end, int32_t& first, int32_t& last) {
    first = int32_t(std::clamp(std::ceil(double(d0) - 0.49), -1e9, 1e9));
    last = int32_t(std::clamp(std::floor(double(d1) - 0.51), -1e9, 1e9));
    const double slope = (double(t1) - t0) / (double(d1) - d0);
    auto at = [&](int32_t c) { return double(t0) + (c + 0.5 - d0) * slope - origin; };
    for (int n = 0; n < 4 && first <= last; ++n) {
      if (at(first) > end - reach)
        ++first;
      else if (at(last) > end - reach)
        --last;
      else
        return;
    }
    last = first - 1;
  };
  int32_t c0, c1, r0, r1;
  span(x0, x1, u[0], u[1], ox, size.cx, c0, c1);
  span(y0, y1, w[0], w[1], oy, size.cy, r0, r1);
  if (c0 > c1 || r0 > r1) return TRect{};
  if (copyable) *copyable = false;
  if (shift && copyable && !filtered) {
    // The texel index is the floor of the position: when it steps by one
    // per pixel from the first pixel to the last, both well inside a texel,
    // it does so at every pixel between (the position is affine).
    auto offset = [&](float d0, float d1, float t0, float t1, float origin, int32_t first, int32_t last, int32_t& k) {
      const double slope = (double(t1) - t0) / (double(d1) - d0);
      const double p0 = double(t0) + (first + 0.5 - d0) * slope - origin;
      const double p1 = double(t0) + (last + 0.5 - d0) * slope - origin;
      const double f0 = p0 - std::floor(p0), f1 = p1 - std::floor(p1);
      // Before the origin clamped sampling repeats the edge texel: no copy.
      if (!(p0 >= 0) || !(f0 > 0.01 && f0 < 0.99 && f1 > 0.01 && f1 < 0.99)) return false;
      if (std::floor(p1) - std::floor(p0) != double(last - first)) return false;
      k = int32_t(std::floor(p0)) - first;
      return true;
    };
    TPoint k;
    if (offset(x0, x1, u[0], u[1], ox, c0, c1, k.X) && offset(y0, y1, w[0], w[1], oy, r0, r1, k.Y)) {
      *shift = k;
      *copyable = true;
    }
  }
  return TRect{c0, r0, c1 + 1, r1 + 1};
}

TRect Meet(const TRect& a, const TRect& b) {
  return TRect{std::max(a.Left, b.Left), std::max(a.Top, b.Top), std::min(a.Right, b.Right),
               std::min(a.Bottom, b.Bottom)};
}

// Extends `p` by `q` when `q` continues it across a whole side (right or
// bottom); false, leaving `p` alone, otherwise.
bool JoinAlongSide(TRect& p, const TRect& q) {
  if (p.Top == q.Top && p.Bottom == q.Bottom && p.Right == q.Left)
    p.Right = q.Right;
  else if (p.Left == q.Left && p.Right == q.Right && p.Bottom == q.Top)
    p.Bottom = q.Bottom;
  else
    return false;
  return true;
}

// What is left of `a` outside `b`: up to four rectangles.
std::vector<TRect> SubtractRect(const TRect& a, const TRect& b) {
  if (a.IsEmpty()) return {};
  const TRect i = Meet(a, b);
  if (i.IsEmpty()) return {a};
  std::vector<TRect> out;
  if (a.Top < i.Top) out.push_back(TRect{a.Left, a.Top, a.Right, i.Top});
  if (i.Bottom < a.Bottom) out.push_back(TRect{a.Left, i.Bottom, a.Right, a.Bottom});
  if (a.Left < i.Left) out.push_back(TRect{a.Left, i.Top, i.Left, i.Bottom});
  if (i.Right < a.Right) out.push_back(TRect{i.Right, i.Top, a.Right, i.Bottom});
  return out;
}

// The join of JoinAlongSides. Each rectangle is filed under four sides: its
// right and left sides under the key (kind, top, bottom, x) of that
// vertical line, its bottom and top under the key (kind, left, right, y) of
// that horizontal line. A key's "ends" are the rectangles whose right
// (bottom) side lies there, its "starts" those whose left (top) side does:
// a start continues an end. Each list is a pairing heap of indices (in one
// pool) with lazy removal: an entry counts while its rectangle is in the
// list and still filed under that key. A rectangle only grows to the right
// or down, so it never comes back to a key it left.
//
// The scan (Run) keeps: of the rectangles before `next`, only `hot` (the
// last one that grew) and the ones that `hot` continues may have a partner
// (a rectangle continuing them); the others are settled, since a partner
// can only come from a rectangle that grew. So the first rectangle with a
// partner is the first of those, or else the first one from `next` on that
// has one: the order of joins of the plain loop that restarts from the
// first pair after every join, in linear time (n log n for the heaps).
class TSideJoiner {
  static constexpr uint32_t kNil = UINT32_MAX;
  struct TKey {
    int32_t V[6];
    friend bool operator==(const TKey&, const TKey&) = default;
  };
  struct TNode {
    TKey Key;
    uint32_t Heap[2] = {kNil, kNil};  // ends, starts
  };
  struct TEntry {
    uint32_t Rect, Child, Next;
  };
  // The working memory, kept by each thread from one join to the next (a
  // mosaic joins tens of thousands of blocks a few times a frame, and fresh
  // pages cost as much as the join); given back after a join far smaller.
  struct TScratch {
    std::vector<uint8_t> alive;
    std::vector<uint32_t> filed, link, tail, pairs;
    std::vector<uint64_t> slots;
    std::vector<TNode> nodes;
    std::vector<TEntry> entries;
  };
  static TScratch& Scratch() {
    thread_local TScratch scratch;
    return scratch;
  }

 public:
  TSideJoiner(std::vector<TRect> rects, const std::vector<TPoint>* kinds)
      : rects_(std::move(rects)), kinds_(kinds && kinds->size() == rects_.size() ? kinds : nullptr) {
    const size_t n = rects_.size();
    if (slots_.capacity() > 64 + n * 128) slots_ = {}, nodes_ = {}, entries_ = {}, filed_ = {};
    nodes_.clear();
    entries_.clear();
    alive_.assign(n, 1);
    filed_.assign(n * 4, kNil);
    link_.assign(n, kNil);
    tail_.resize(n);
    for (size_t i = 0; i < n; ++i) tail_[i] = uint32_t(i);
    // Lines are told apart in steps of the narrowest and the lowest
    // rectangle: a grid's neighbouring lines come out one step apart.
    int64_t w = INT64_MAX, h = INT64_MAX;
    for (const TRect& r : rects_)
      if (!r.IsEmpty()) w = std::min(w, int64_t(r.Right) - r.Left), h = std::min(h, int64_t(r.Bottom) - r.Top);
    per_step_[0] = w == INT64_MAX ? 1.0 : 1.0 / double(w);
    per_step_[1] = h == INT64_MAX ? 1.0 : 1.0 / double(h);
    size_t slots = 64;
    while (slots < n * 8) slots *= 2;
    slots_.assign(slots, kEmpty);
    nodes_.reserve(n * 3);
    entries_.reserve(n * 5);
    for (size_t i = 0; i < n; ++i)
      if (!rects_[i].IsEmpty())
        for (int role = 0; role < 4; ++role) File(uint32_t(i), role);
  }

  TSideJoin Run() {
    const uint32_t n = uint32_t(rects_.size());
    uint32_t next = 0;
    uint32_t hot = kNil;
    for (;;) {
      uint32_t at = kNil;
      if (hot != kNil) {
        // The ones before `next` that the last grown rectangle continues:
        // the ends on the lines of its left and top sides.
        const uint32_t before = std::min(Least(filed_[size_t(hot) * 4 + 1], 0), Least(filed_[size_t(hot) * 4 + 3], 2));
        if (before < next) at = before;
        if (hot < at && Partner(hot) != kNil) at = hot;
        if (at == kNil) hot = kNil;  // everything before `next` is settled
      }
      if (at == kNil) {
        while (next < n && !alive_[next]) ++next;
        if (next >= n) break;
        if (Partner(next) == kNil) {
          ++next;
          continue;
        }
        at = next;
      }
      Join(at, Partner(at));
      hot = at;
    }
    TSideJoin out;
    out.Starts.push_back(0);
    for (uint32_t i = 0; i < n; ++i) {
      if (!alive_[i]) continue;
      out.Rects.push_back(rects_[i]);
      for (uint32_t k = i; k != kNil; k = link_[k]) out.Members.push_back(k);
      out.Starts.push_back(uint32_t(out.Members.size()));
    }
    return out;
  }

 private:

  // Line `dir` 0 (a vertical line at `line`, sides `a` to `b` its top and
  // bottom) or 1 (a horizontal one, `a` and `b` left and right).
  TKey Key(int32_t dir, uint32_t rect, int32_t a, int32_t b, int32_t line) const {
    const TPoint kind = kinds_ ? (*kinds_)[rect] : TPoint{};
    return TKey{{dir, kind.X, kind.Y, a, b, line}};
  }
  // Role 0 right side, 1 left, 2 bottom, 3 top.
  TKey KeyOf(uint32_t i, int role) const {
    const TRect& r = rects_[i];
    switch (role) {
      case 0: return Key(0, i, r.Top, r.Bottom, r.Right);
      case 1: return Key(0, i, r.Top, r.Bottom, r.Left);
      case 2: return Key(1, i, r.Left, r.Right, r.Bottom);
      default: return Key(1, i, r.Left, r.Right, r.Top);
    }
  }
  static uint64_t Pack(int32_t hi, int32_t lo) { return uint64_t(uint32_t(hi)) << 32 | uint32_t(lo); }
  // The slot a key starts at: lines 8 steps apart and all else spread at
  // random, lines nearer than that side by side. Neighbours in a grid
  // (lines a cell apart, the same top and bottom or left and right) share a
  // cache line, while one family's keys fill no longer run than 8 slots.
  // The parts are multiplied side by side and mixed once: the hash is on
  // the join's critical path, several times per rectangle.
  uint64_t Hash(const TKey& k) const {
    // The line in steps, rounded down (by a product: a division would cost
    // more than the rest of the hash; the rounding only has to be the same
    // for the same line).
    const int64_t q = int64_t(std::floor(double(k.V[5]) * per_step_[k.V[0] & 1]));
    uint64_t h = Pack(k.V[1], k.V[2]) * 0x9E3779B97F4A7C15ull + Pack(k.V[3], k.V[4]) * 0xC2B2AE3D27D4EB4Full +
                 Pack(k.V[0], int32_t(uint64_t(q) >> 3)) * 0x165667B19E3779F9ull;
    h = (h ^ (h >> 29)) * 0xBF58476D1CE4E5B9ull;
    h ^= h >> 32;
    return h << 3 | (uint64_t(q) & 7);
  }
  static size_t Start(uint64_t hash, size_t mask) { return size_t(hash & mask); }
  // A slot holds a node id (low half) and a tag of its key's hash (high
  // half), so a probe reads the node only when the tags match.
  static constexpr uint64_t kEmpty = kNil;
  static uint64_t Tag(uint64_t hash) { return ((hash >> 32) ^ (hash & 7)) << 32; }
  static uint64_t Slot(uint64_t hash, uint32_t id) { return Tag(hash) | id; }
  uint32_t FindOrAdd(const TKey& k) {
    if ((nodes_.size() + 1) * 2 > slots_.size()) {
      std::vector<uint64_t> old(slots_.size() * 2, kEmpty);
      slots_.swap(old);
      const size_t mask = slots_.size() - 1;
      for (uint64_t slot : old) {
        if (slot == kEmpty) continue;
        size_t s = Start(Hash(nodes_[uint32_t(slot)].Key), mask);
        while (slots_[s] != kEmpty) s = (s + 1) & mask;
        slots_[s] = slot;
      }
    }
    const uint64_t h = Hash(k), tag = Tag(h);
    const size_t mask = slots_.size() - 1;
    size_t s = Start(h, mask);
    for (; slots_[s] != kEmpty; s = (s + 1) & mask)
      if ((slots_[s] & ~uint64_t(UINT32_MAX)) == tag && nodes_[uint32_t(slots_[s])].Key == k)
        return uint32_t(slots_[s]);
    const uint32_t id = uint32_t(nodes_.size());
    slots_[s] = Slot(h, id);
    nodes_.push_back(TNode{k});
    return id;
  }

  uint32_t Meld(uint32_t a, uint32_t b) {
    if (a == kNil) return b;
    if (b == kNil) return a;
    if (entries_[b].Rect < entries_[a].Rect) std::swap(a, b);
    entries_[b].Next = entries_[a].Child;
    entries_[a].Child = b;
    return a;
  }
  // The heap without its root: the children melded in pairs from the
  // left, then the pairs from the right.
  uint32_t Pop(uint32_t root) {
    pairs_.clear();
    for (uint32_t c = entries_[root].Child; c != kNil;) {
      const uint32_t a = c, b = entries_[a].Next;
      entries_[a].Next = kNil;
      if (b == kNil) {
        pairs_.push_back(a);
        break;
      }
      c = entries_[b].Next;
      entries_[b].Next = kNil;
      pairs_.push_back(Meld(a, b));
    }
    uint32_t r = kNil;
    for (size_t k = pairs_.size(); k-- > 0;) r = Meld(pairs_[k], r);
    return r;
  }
  // Files `i` under its key for `role`: the node `known` when given (the
  // key's own), else the key's, found or made.
  void File(uint32_t i, int role, uint32_t known = kNil) {
    const uint32_t node = known != kNil ? known : FindOrAdd(KeyOf(i, role));
    filed_[size_t(i) * 4 + size_t(role)] = node;
    entries_.push_back(TEntry{i, kNil, kNil});
    uint32_t& root = nodes_[node].Heap[role & 1];
    root = Meld(root, uint32_t(entries_.size() - 1));
  }
  // The first rectangle of `node`'s list for `role` (kNil: none).
  uint32_t Least(uint32_t node, int role) {
    if (node == kNil) return kNil;
    for (;;) {
      const uint32_t root = nodes_[node].Heap[role & 1];
      if (root == kNil) return kNil;
      const uint32_t r = entries_[root].Rect;
      if (alive_[r] && filed_[size_t(r) * 4 + size_t(role)] == node) return r;
      nodes_[node].Heap[role & 1] = Pop(root);
    }
  }
  // The first rectangle that continues `i` to its right or below: the
  // starts on the lines of its right and bottom sides.
  uint32_t Partner(uint32_t i) {
    if (rects_[i].IsEmpty()) return kNil;
    return std::min(Least(filed_[size_t(i) * 4], 1), Least(filed_[size_t(i) * 4 + 2], 3));
  }
  void Join(uint32_t i, uint32_t j) {
    TKey before[4];
    for (int role = 0; role < 4; ++role) before[role] = KeyOf(i, role);
    [[maybe_unused]] const bool joined = JoinAlongSide(rects_[i], rects_[j]);
    KAV_ASSERT(joined);
    alive_[j] = 0;
    for (int role = 0; role < 4; ++role) {
      const TKey now = KeyOf(i, role);
      if (now == before[role]) continue;
      // The side `i` took from `j` lies under j's key (no search).
      File(i, role, now == KeyOf(j, role) ? filed_[size_t(j) * 4 + size_t(role)] : kNil);
    }
    link_[tail_[i]] = j;
    tail_[i] = tail_[j];
  }

  std::vector<TRect> rects_;
  const std::vector<TPoint>* kinds_;
  double per_step_[2] = {1, 1};  // 1 / step of vertical lines (x), of horizontal ones (y)
  TScratch& scratch_ = Scratch();
  std::vector<uint8_t>& alive_ = scratch_.alive;
  std::vector<uint32_t>& filed_ = scratch_.filed;  // per rectangle and role, the key's node
  std::vector<uint32_t>& link_ = scratch_.link;  // the rectangles each took in, in order
  std::vector<uint32_t>& tail_ = scratch_.tail;
  std::vector<uint64_t>& slots_ = scratch_.slots;  // open addressing
  std::vector<TNode>& nodes_ = scratch_.nodes;
  std::vector<TEntry>& entries_ = scratch_.entries;
  std::vector<uint32_t>& pairs_ = scratch_.pairs;
};

}  // namespace

TSideJoin JoinAlongSides(std::vector<TRect> rects, const std::vector<TPoint>* kinds) {
  return TSideJoiner(std::move(rects), kinds).Run();
}

void TCustomD3DEffecter::DrawDeferred(const TRect& area) {
  // What later batches cover with opaque pixels of the target's picture,
  // an earlier one leaves out (a page curl's back over its front): drawn
  // in the pieces of its area around the largest such rectangle.
  std::vector<TRect> covers(deferred_.size());
  if (screen_->TargetDepth() == 1)
    for (size_t i = 0; i + 1 < deferred_.size(); ++i) {
      int64_t best = 0;
      for (const TRect& c : DeferredCovers(i + 1, rendered_opaque_)) {
        const TRect m = Meet(c, area);
        const int64_t a = m.IsEmpty() ? 0 : int64_t(m.Width()) * m.Height();
        if (a > best) best = a, covers[i] = m;
      }
    }
  std::vector<TCopy> copies(deferred_.size());
  if (screen_->TargetDepth() == 1)
    for (size_t i = 0; i < deferred_.size(); ++i) copies[i] = CopyOf(deferred_[i], area);
  std::vector<TTriBatch> batches = std::move(deferred_);
  deferred_.clear();
  for (size_t i = 0; i < batches.size(); ++i) {
    TTriBatch& b = batches[i];
    auto* tile = static_cast<TD3DTriTile*>(b.Tile.get());
    std::vector<TRect> pieces{area};
    for (const TRect& hole : {covers[i], copies[i].Pixels}) {
      if (hole.IsEmpty()) continue;
      std::vector<TRect> rest;
      for (const TRect& r : pieces)
        for (const TRect& q : SubtractRect(r, hole)) rest.push_back(q);
      pieces = std::move(rest);
    }
    const bool cut = pieces.size() != 1 || !(pieces[0] == area);
    if (!cut || (!pieces.empty() && !screen_->SetScissor(&pieces[0]))) {
      tile->Draw(b.Plain, b.Textured, b.Depth);
      continue;
    }
    for (size_t k = 0; k < pieces.size(); ++k) {
      if (k > 0) screen_->SetScissor(&pieces[k]);
      tile->Draw(b.Plain, b.Textured, b.Depth);
    }
    screen_->SetScissor(nullptr);
    // Departure: hidden pixels are left out and flat 1:1 parts drawn as one
    // rectangle (the same pixels). Where a later batch covers it the
    // rectangle is left out too.
    for (const TRect& r : SubtractRect(copies[i].Pixels, covers[i])) CopyFromTarget(TCopy{r, copies[i].Shift}, tile);
  }
}

// A flat part of a batch that shows the opaque picture pixel for pixel
// (shifted by whole pixels) is drawn as one rectangle rather than as many
// triangles (the span road): the blend of an opaque texel gives the texel
// itself, however many draws reach it. The rectangle is
// the largest one the batch's pairs of triangles fill that way, and no
// other triangle of the batch reaches it, so what the batch draws there is
// that copy whatever the order.
TCustomD3DEffecter::TCopy TCustomD3DEffecter::CopyOf(const TTriBatch& b, const TRect& area) const {
  struct TPart {
    TCopy Copy;
    std::vector<size_t> Tris;  // first points of the triangles filling it
  };
  const TSize opaque = rendered_opaque_;
  // One rectangle of two triangles takes the device's rectangle road anyway.
  if (opaque.cx <= 0 || opaque.cy <= 0 || b.Textured.size() <= 6) return TCopy{};
  const float ox = float(EffectRect.Left), oy = float(EffectRect.Top);
  std::vector<TPart> parts;
  for (size_t i = 0; i + 6 <= b.Textured.size();) {
    TPart part;
    bool copyable = false;
    part.Copy.Pixels = OpaquePair(&b.Textured[i], &b.Textured[i + 3], false, opaque, ox, oy, &part.Copy.Shift,
                                  &copyable);
    if (part.Copy.Pixels.IsEmpty() || !copyable) {
      i += 3;
      continue;
    }
    part.Tris = {i, i + 3};
    parts.push_back(std::move(part));
    i += 6;
  }
  // Parts of one shift sharing a whole side join (a grid of blocks).
  {
    std::vector<TRect> rects(parts.size());
    std::vector<TPoint> shifts(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) rects[i] = parts[i].Copy.Pixels, shifts[i] = parts[i].Copy.Shift;
    const TSideJoin joined = JoinAlongSides(std::move(rects), &shifts);
    std::vector<TPart> whole(joined.Rects.size());
    for (size_t k = 0; k < whole.size(); ++k) {
      whole[k].Copy = TCopy{joined.Rects[k], shifts[joined.Members[joined.Starts[k]]]};
      for (uint32_t m = joined.Starts[k]; m < joined.Starts[k + 1]; ++m) {
        const std::vector<size_t>& tris = parts[joined.Members[m]].Tris;
        whole[k].Tris.insert(whole[k].Tris.end(), tris.begin(), tris.end());
      }
    }
    parts = std::move(whole);
  }
  const TPart* best = nullptr;
  int64_t best_area = 64 * 64;  // smaller parts are not worth a copy of their own
  for (const TPart& p : parts) {
    const TRect m = Meet(p.Copy.Pixels, area);
    const int64_t a = m.IsEmpty() ? 0 : int64_t(m.Width()) * m.Height();
    if (a >= best_area) best = &p, best_area = a;
  }
  if (!best) return TCopy{};
  TCopy c = best->Copy;
  c.Pixels = Meet(c.Pixels, area);
  // Every other triangle of the batch must keep off the rectangle: pixels
  // whose centres may lie in its bounds (by a margin no rounding reaches).
  std::vector<bool> filling(b.Textured.size() / 3 + 1, false);
  for (size_t t : best->Tris) filling[t / 3] = true;
  auto clear_of = [&](const std::vector<TTriPoint>& pts, bool own) {
    for (size_t i = 0; i + 3 <= pts.size(); i += 3) {
      if (own && filling[i / 3]) continue;
      float x0 = pts[i].X, x1 = x0, y0 = pts[i].Y, y1 = y0;
      for (size_t k = i; k < i + 3; ++k) {
        if (pts[k].Z != 0) return false;  // placed through the camera: bounds not known here
        x0 = std::min(x0, pts[k].X);
        x1 = std::max(x1, pts[k].X);
        y0 = std::min(y0, pts[k].Y);
        y1 = std::max(y1, pts[k].Y);
      }
      const TRect r{int32_t(std::clamp(std::ceil(double(x0) - 0.51), -1e9, 1e9)),
                    int32_t(std::clamp(std::ceil(double(y0) - 0.51), -1e9, 1e9)),
                    int32_t(std::clamp(std::floor(double(x1) - 0.49), -1e9, 1e9)) + 1,
                    int32_t(std::clamp(std::floor(double(y1) - 0.49), -1e9, 1e9)) + 1};
      if (!Meet(r, c.Pixels).IsEmpty()) return false;
    }
    return true;
  };
  if (!clear_of(b.Plain, false) || !clear_of(b.Textured, true) || !clear_of(b.Depth, false)) return TCopy{};
  return c;
}

void TCustomD3DEffecter::CopyFromTarget(const TCopy& c, TEffTile* tile) {
  // One rectangle with whole-pixel corners, each pixel's nearest texel
  // being its own shifted: the rectangle road of the device, in bands.
  const float l = float(c.Pixels.Left), t = float(c.Pixels.Top), r = float(c.Pixels.Right), b = float(c.Pixels.Bottom);
  const float du = float(c.Shift.X + EffectRect.Left), dv = float(c.Shift.Y + EffectRect.Top);
  auto at = [&](float x, float y) { return TTriPoint{x, y, 0, x + du, y + dv, 0xFFFFFFFFu}; };
  const std::vector<TTriPoint> quad{at(l, t), at(r, t), at(l, b), at(r, t), at(r, b), at(l, b)};
  static_cast<TD3DTriTile*>(tile)->Draw({}, quad, {});
}

std::vector<TRect> TCustomD3DEffecter::DeferredCovers(size_t first, TSize opaque) const {
  std::vector<TRect> boxes;
  if (opaque.cx <= 0 || opaque.cy <= 0) return boxes;
  const float ox = float(EffectRect.Left), oy = float(EffectRect.Top);
  for (size_t k = first; k < deferred_.size(); ++k)
    for (const auto* pts : {&deferred_[k].Textured, &deferred_[k].Depth})
      for (size_t i = 0; i + 6 <= pts->size();) {
        const TRect r = OpaquePair(&(*pts)[i], &(*pts)[i + 3], pts == &deferred_[k].Depth, opaque, ox, oy);
        if (r.IsEmpty()) {
          i += 3;
          continue;
        }
        boxes.push_back(r);
        i += 6;
      }
  // Boxes sharing a whole side join (a strip cut into pieces).
  return JoinAlongSides(std::move(boxes)).Rects;
}

void TCustomD3DEffecter::RenderToTarget(T3DDrawer* drawer, TDrawItem* item, const TRect* sampled) {
  TRenderTargetTexture* t = Current();
  if (!t || !screen_->DeviceReady()) return;
  t->SetPremultiplied(true);
  // An opaque item over the frame hides the clear under it: the frame lies
  // at the target's origin.
  TRect hidden;
  if (item && EffectRect == drawer->FrameRect && item->Opaque(drawer))
    hidden = TRect{0, 0, EffectRect.Width(), EffectRect.Height()};
  rendered_opaque_ = TSize{hidden.Width(), hidden.Height()};
  screen_->PushRenderTarget(t, EffectRect.Left, EffectRect.Top);
  // Only what the filter samples needs the picture: the target's other
  // pixels are left as they are, never read.
  const bool cut = sampled && screen_->SetScissor(sampled);
  // Only the effect rectangle is ever sampled: the rest of the (larger,
  // power-of-two) target is left as it is.
  // Departure: the clear lies where the picture lies, at the target's
  // origin; cleared at the effect rectangle's place, an offset frame kept
  // old pixels in a strip at the target's left and top.
  const TSize s = t->ImageSize();
  TRect clear{0, 0, std::min(EffectRect.Width(), s.cx), std::min(EffectRect.Height(), s.cy)};
  if (cut) clear = Meet(clear, *sampled);
  // Departure: the clear is left out where an opaque item covers it, and
  // outside what the filter samples (the same pixels are drawn).
  for (const TRect& r : SubtractRect(clear, hidden)) screen_->FillRect(0, r);
  if (item && !(cut && sampled->IsEmpty())) drawer->Render(item);
  if (cut) screen_->SetScissor(nullptr);
  screen_->PopRenderTarget();
}

// ---- The draw manager's transition frame ----

namespace {

// The effecter kept with a drawer, made anew when the drawer's pool or
// screen changed.
TCustomD3DEffecter* EffecterOf(T3DDrawer* d) {
  auto* e = static_cast<TCustomD3DEffecter*>(d->TransitionState.get());
  if (e && (e->Screen() != d->Screen() || !d->TargetPool())) e = nullptr;
  if (!e && d->Screen() && d->TargetPool()) {
    d->TransitionState = MakeRef<TCustomD3DEffecter>(d->Screen(), d->TargetPool());
    e = static_cast<TCustomD3DEffecter*>(d->TransitionState.get());
  }
  return e;
}

// Renders `item` into the effecter's target, then draws what `lay` laid
// out. The layout is made first and held, so that only the part of the
// picture it samples is rendered.
template <class F>
void RenderAndDraw(T3DDrawer* d, TCustomD3DEffecter* e, TDrawItem* item, F&& lay) {
  e->BeginDeferred();
  lay();
  e->EndDeferred();
  TRect sampled;
  const bool known = e->DeferredSource(sampled);
  e->RenderToTarget(d, item, known ? &sampled : nullptr);
  e->DrawDeferred(d->DeviceRect);
}

// Draws `under` plainly, except where the held layout sets every pixel to
// the opaque `item`'s own (then those pixels are left out, when what is
// left is one rectangle of the back buffer).
void DrawUnder(T3DDrawer* d, TCustomD3DEffecter* e, TDrawItem* item, TDrawItem* under, const TRect& vp) {
  T3DScreen* s = d->Screen();
  const TRect dev = d->DeviceRect;
  TRect keep;
  bool cut = false;
  if (item && s->TargetDepth() == 1 && dev.Left == 0 && dev.Top == 0 && e->EffectRect == d->FrameRect &&
      item->Opaque(d)) {
    int64_t least = int64_t(dev.Width()) * dev.Height();
    for (const TRect& box : e->DeferredCovers(0, TSize{e->EffectRect.Width(), e->EffectRect.Height()})) {
      const TRect c = Meet(Meet(box, vp), d->FrameRect);
      if (c.IsEmpty()) continue;
      const bool rows = c.Top <= 0 && c.Bottom >= dev.Bottom, cols = c.Left <= 0 && c.Right >= dev.Right;
      TRect k;
      if (rows && c.Left <= 0)
        k = TRect{c.Right, 0, dev.Right, dev.Bottom};
      else if (rows && c.Right >= dev.Right)
        k = TRect{0, 0, c.Left, dev.Bottom};
      else if (cols && c.Top <= 0)
        k = TRect{0, c.Bottom, dev.Right, dev.Bottom};
      else if (cols && c.Bottom >= dev.Bottom)
        k = TRect{0, 0, dev.Right, c.Top};
      else
        continue;
      const int64_t a = k.IsEmpty() ? 0 : int64_t(k.Width()) * k.Height();
      if (a < least) least = a, keep = k, cut = true;
    }
  }
  // Departure: the plain picture is cut to what the filter leaves visible
  // (the same pixels).
  cut = cut && s->SetScissor(&keep);
  if (!(cut && keep.IsEmpty())) d->Render(under);
  if (cut) s->SetScissor(nullptr);
}

// The filter drawn over `item`'s picture, over `under` drawn plainly
// first (when given).
void RunFilter(T3DDrawer* d, TCustomD3DEffecter* e, TDrawFilter* f, TDrawItem* item, TDrawItem* under = nullptr) {
  // The filter draws with the viewport on the effect rectangle: pieces in
  // perspective are clipped to it and recede toward its centre.
  T3DScreen* s = d->Screen();
  const TRect& dev = d->DeviceRect;
  const TRect vp{std::max(e->EffectRect.Left, dev.Left), std::max(e->EffectRect.Top, dev.Top),
                 std::min(e->EffectRect.Right, dev.Right), std::min(e->EffectRect.Bottom, dev.Bottom)};
  if (vp.IsEmpty()) {
    if (under) d->Render(under);
    e->RenderToTarget(d, item);
    return;
  }
  // The layout holds positions only; where they land on the device is
  // worked out as they are drawn, in the viewport set again below.
  // Departure: the filter lays out its frame before the pictures are drawn
  // (not after), so that what nothing shows is not drawn; same pixels.
  f->FrameFlag = 1;
  e->BeginDeferred();
  f->DrawFrame(e->Controller());
  e->EndDeferred();
  f->FrameFlag = 0;
  if (under) DrawUnder(d, e, item, under, vp);
  TRect sampled;
  const bool known = e->DeferredSource(sampled);
  e->RenderToTarget(d, item, known ? &sampled : nullptr);
  const T3DViewState saved = s->GetViewState();
  s->SetViewport(vp, 0, 1);
  e->DrawDeferred(vp);
  s->SetViewState(saved);
}

// Device pixels to the view units SetOffset takes.
TFloatPoint PixelsToView(T3DDrawer* d, float dx, float dy) {
  const TFloatRect v = d->GetViewRect();
  const TRect& f = d->FrameRect.IsEmpty() ? d->DeviceRect : d->FrameRect;
  if (f.IsEmpty() || !(v.Right > v.Left) || !(v.Bottom > v.Top)) return TFloatPoint{dx, dy};
  return TFloatPoint{dx * (v.Right - v.Left) / float(f.Width()), dy * (v.Bottom - v.Top) / float(f.Height())};
}

void DrawSlideDriven(T3DDrawer* d, TCustomD3DEffecter* e, TSlideEffFilter* f, TDrawItem* from, TDrawItem* to) {
  d->RenderingSlides = true;
  e->AcquireTargets(true);
  d->EffectItem = from;
  e->RenderToTarget(d, from);
  e->SwapTargets();
  d->EffectItem = to;
  e->RenderToTarget(d, to);
  d->EffectItem = nullptr;
  d->RenderingSlides = false;
  f->SetProgress(f->Progress());
  f->SetItems(from, to);
  d->Clear(0xFF000000, 0);
  f->Bind(e);
  const TRect o = d->GetOutputRect();
  d->SetOffset(PixelsToView(d, float(o.Left), float(o.Top)));
  if (TDrawItem* item = f->FrameItem()) d->Render(item);
  d->SetOffset(TFloatPoint{0, 0});
  f->FrameDone();
}

}  // namespace

void DrawTransitionFrame(T3DDrawer* d, TDrawItem* from, TDrawItem* to, TDrawFilterParams* params) {
  auto* kf = dynamic_cast<TKavFilter*>(params);
  if (!d || !kf) return;
  if (!kf->Filter) {
    const float duration = std::isfinite(kf->Duration) ? float(kf->Duration) : 0.0f;
    kf->Filter = CreateTransitionForRect(d->FrameRect, kf->Effect.get(), from, d->HasContentSize, kf->EdgeFraction,
                                         duration);
    if (kf->Filter) kf->Filter->DrawRect = d->GetOutputRect();
  }
  TDrawFilter* f = kf->Filter.get();
  // Without a filter (no variant chosen) the cut is shown: the incoming
  // slide, rather than an empty frame.
  if (!f) {
    if (to) d->Render(to);
    return;
  }
  const double t = std::isfinite(kf->Time) ? kf->Time : 0.0;
  f->SetTime(float(t));
  // Outside the transition's time the slide on that side is drawn plainly
  // (rather than nothing at all from the moment the time reaches the
  // duration).
  // Departure: the last frame (the time at the duration) is the incoming
  // slide drawn plainly too, not the filter at progress 1: the filter's
  // pictures are sampled through its tiles, which in an output rectangle of
  // odd size can pick the neighbouring pixel in a column, and the last
  // frame must be the very picture the slide shows right after it.
  if (t < 0 || t > double(f->Duration) || (f->Duration > 0 && t >= double(f->Duration))) {
    TDrawItem* item = t < 0 ? from : to;
    if (item) d->Render(item);
    return;
  }
  TCustomD3DEffecter* e = EffecterOf(d);
  if (!e) return;
  e->OutputRect = d->GetOutputRect();
  e->Run(d->FrameRect.IsEmpty() ? d->DeviceRect : d->FrameRect);
  if (auto* sf = dynamic_cast<TSlideEffFilter*>(f)) {
    if (from && to) DrawSlideDriven(d, e, sf, from, to);
    e->ReleaseTargets();
    return;
  }
  e->AcquireTargets(false);
  const double p = f->Progress();
  const bool rev = f->Reverse;
  switch (TransitionDrawOrder(f)) {
    case kOrderOverturn:
      // Only the picture being turned is drawn.
      RunFilter(d, e, f, (p < 0.5) != rev ? from : to);
      break;
    case kOrderTwoSlides: {
      TDrawItem* first = (p < 0.5) != rev ? to : from;
      TDrawItem* second = first == to ? from : to;
      // The pair of calls starts afresh every frame, so a frame that drew
      // only one picture cannot swap the order of all later ones.
      static_cast<TTwoSlidesEffect*>(f)->CallCount = 0;
      RunFilter(d, e, f, first);
      RunFilter(d, e, f, second);
      break;
    }
    case kOrderPush: {
      // The outgoing picture goes through the effecter too, so its shifted
      // copy is clipped to the effect rectangle like the incoming one.
      auto* push = static_cast<TPushFilter*>(f);
      RenderAndDraw(d, e, rev ? to : from, [&] { push->DrawOutgoing(e->Controller()); });
      RunFilter(d, e, f, rev ? from : to);
      break;
    }
    default:
      RunFilter(d, e, f, rev ? from : to, rev ? to : from);
      break;
  }
  e->ReleaseTargets();
}

void InstallTransitions() { SetDrawTransitionHook(&DrawTransitionFrame); }

}  // namespace kav
