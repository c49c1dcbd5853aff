// A tile controller that records what its tiles receive, for the filter and
// tile tests.
#pragma once

#include <vector>

#include "KavLib2/3DEngine/Transitions/EffTiles.h"

namespace kav::transtest {

class TRecTile : public TEffTile {
 public:
  using TEffTile::TEffTile;
  std::vector<TEffVertex> Tris;  // three per triangle
  int32_t Begins = 0, Ends = 0;
  void Begin(int32_t, int32_t) override { ++Begins; }
  void AddTriangles(const TEffVertex* v, int32_t n) override { Tris.insert(Tris.end(), v, v + n); }
  void AddColourTriangles(const TEffVertex*, int32_t, uint32_t) override {}
  void AddTexturedTriangles(const TEffTexVertex*, int32_t) override {}
  void AddShadedTriangles(const TEffShadedVertex*, int32_t) override {}
  void AddDepthTriangles(const TEffDepthVertex*, int32_t) override {}
  void End() override { ++Ends; }
  double Area() const {
    double a = 0;
    for (size_t i = 0; i + 2 < Tris.size(); i += 3) {
      const TEffVertex &p = Tris[i], &q = Tris[i + 1], &r = Tris[i + 2];
      a += std::abs((q.X - p.X) * (r.Y - p.Y) - (r.X - p.X) * (q.Y - p.Y)) * 0.5;
    }
    return a;
  }
};

class TRecController : public TEffController {
 public:
  std::vector<TRecTile*> Made;
  TRect GetRect() override { return GetBounds(); }
  TRecTile* Tile(int32_t c, int32_t r) { return static_cast<TRecTile*>(GetTile(c, r)); }
  // Total area drawn over every tile made so far.
  double Area() const {
    double a = 0;
    for (auto* t : Made) a += t->Area();
    return a;
  }

 protected:
  Ref<TEffTile> CreateTile(const TRect& b, int32_t c, int32_t r) override {
    auto t = MakeRef<TRecTile>(this, b, c, r);
    Made.push_back(t.get());
    return t;
  }
};

// A controller over a uniform grid of the rectangle.
inline Ref<TRecController> MakeGrid(const TRect& r, int32_t cols, int32_t rows) {
  auto c = MakeRef<TRecController>();
  std::vector<float> xs, ys;
  for (int32_t i = 0; i <= cols; ++i) xs.push_back(float(r.Left) + float(r.Width()) * float(i) / float(cols));
  for (int32_t i = 0; i <= rows; ++i) ys.push_back(float(r.Top) + float(r.Height()) * float(i) / float(rows));
  c->Setup(xs.data(), cols, ys.data(), rows);
  return c;
}

}  // namespace kav::transtest
