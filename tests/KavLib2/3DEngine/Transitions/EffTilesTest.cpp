#include <gtest/gtest.h>

#include <random>

#include "KavLib2/3DEngine/Transitions/DrawFilter.h"
#include "tests/KavLib2/3DEngine/Transitions/RecordingTiles.h"

namespace kav {
namespace {

using transtest::MakeGrid;

void Draw(TEffTile* t, std::vector<TEffVertex> v) {
  t->Begin(1, 0);
  t->AddTriangles(v.data(), int32_t(v.size()));
  t->End();
}

TEST(EffTiles, TriangleInsideOneCellReachesOnlyThatTileUnchanged) {
  auto c = MakeGrid(TRect{0, 0, 200, 200}, 2, 2);
  Draw(c->GetMultiTile(), {{110, 10, 255}, {190, 20, 100}, {150, 90, 0}});
  ASSERT_EQ(c->Made.size(), 1u);
  EXPECT_EQ(c->Made[0]->Col, 1);
  EXPECT_EQ(c->Made[0]->Row, 0);
  EXPECT_EQ(c->Made[0]->Bounds, (TRect{100, 0, 200, 100}));
  ASSERT_EQ(c->Made[0]->Tris.size(), 3u);
  EXPECT_FLOAT_EQ(c->Made[0]->Area(), 0.5f * std::abs(80.f * 80.f - 40.f * 10.f));
}

TEST(EffTiles, CrossingTriangleSplitsIntoPiecesSharingTheLineWithInterpolatedOpacity) {
  auto c = MakeGrid(TRect{0, 0, 200, 100}, 2, 1);
  Draw(c->GetMultiTile(), {{50, 10, 0}, {150, 10, 200}, {50, 90, 0}});
  ASSERT_EQ(c->Made.size(), 2u);
  EXPECT_NEAR(c->Area(), 0.5 * 100 * 80, 1e-3);
  for (auto* t : c->Made) {
    for (const auto& v : t->Tris) {
      EXPECT_GE(v.X, float(t->Bounds.Left));
      EXPECT_LE(v.X, float(t->Bounds.Right));
      // The opacity is linear in x along the cut: 2 per unit from x = 50.
      if (v.X == 100) {
        EXPECT_NEAR(v.A, 100, 1e-3);
      }
    }
  }
}

TEST(EffTiles, VertexOnGridLineGivesNoDegeneratePieceToTheOtherCell) {
  auto c = MakeGrid(TRect{0, 0, 200, 100}, 2, 1);
  // Touches the line x = 100 only at one vertex, then along an edge.
  Draw(c->GetMultiTile(), {{20, 10, 255}, {100, 50, 255}, {20, 90, 255}});
  Draw(c->GetMultiTile(), {{100, 10, 255}, {100, 90, 255}, {180, 50, 255}});
  for (auto* t : c->Made) {
    EXPECT_EQ(t->Tris.size() % 3, 0u);
    EXPECT_GT(t->Area(), 0.0);
  }
  EXPECT_NEAR(c->Area(), 2 * 0.5 * 80 * 80, 1e-3);
}

TEST(EffTiles, OneCellGridPassesTrianglesThroughAndOutsidePartsAreClipped) {
  auto c = MakeGrid(TRect{0, 0, 100, 100}, 1, 1);
  Draw(c->GetMultiTile(), {{10, 10, 1}, {90, 10, 2}, {10, 90, 3}});
  ASSERT_EQ(c->Made[0]->Tris.size(), 3u);
  EXPECT_EQ(c->Made[0]->Tris[1].A, 2);
  // Half outside the grid: only the inside half arrives.
  c->Made[0]->Tris.clear();
  Draw(c->GetMultiTile(), {{-100, 0, 255}, {100, 0, 255}, {-100, 100, 255}});
  EXPECT_NEAR(c->Area(), 0.5 * 100 * 50, 1e-3);
}

TEST(EffTiles, RandomTrianglesKeepTheirAreaInsideTheGrid) {
  auto c = MakeGrid(TRect{0, 0, 300, 200}, 5, 4);
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> ux(0, 300), uy(0, 200);
  double want = 0;
  auto* m = c->GetMultiTile();
  m->Begin(1, 0);
  for (int i = 0; i < 200; ++i) {
    TEffVertex v[3] = {{ux(rng), uy(rng), 255}, {ux(rng), uy(rng), 255}, {ux(rng), uy(rng), 255}};
    want += std::abs((v[1].X - v[0].X) * (v[2].Y - v[0].Y) - (v[2].X - v[0].X) * (v[1].Y - v[0].Y)) * 0.5;
    m->AddTriangles(v, 3);
  }
  m->End();
  EXPECT_NEAR(c->Area(), want, want * 1e-4);
  for (auto* t : c->Made)
    for (const auto& v : t->Tris) {
      EXPECT_GE(v.X, t->Bounds.Left - 0.01f);
      EXPECT_LE(v.X, t->Bounds.Right + 0.01f);
      EXPECT_GE(v.Y, t->Bounds.Top - 0.01f);
      EXPECT_LE(v.Y, t->Bounds.Bottom + 0.01f);
    }
}

TEST(EffTiles, EmptyGridDrawsNothingAndBoundsAreEmpty) {
  auto c = MakeRef<transtest::TRecController>();
  float z[1] = {0};
  c->Setup(z, 0, z, 0);
  EXPECT_TRUE(c->GetBounds().IsEmpty());
  Draw(c->GetMultiTile(), {{0, 0, 255}, {10, 0, 255}, {0, 10, 255}});
  EXPECT_TRUE(c->Made.empty());
}

// ---- Filter base ----

class TRingRecorder : public TCommonFilter {
 public:
  TRingRecorder() : TCommonFilter(0.5f, 0.5f) {}
  struct TRing {
    int32_t Index;
    float Inner, Outer, InnerA, OuterA;
  };
  std::vector<TRing> Rings;

 protected:
  void Layout() override { MaxRadius = 100 + EdgeWidth; }
  void DrawShape(int32_t index, float inner, float outer, float ia, float oa) override {
    Rings.push_back({index, inner, outer, ia, oa});
  }
};

TEST(DrawFilter, TimeIsClampedAndZeroDurationKeepsProgressAtZero) {
  TAlphaFilter* f = new TAlphaFilter;
  Ref<TAlphaFilter> hold = Ref<TAlphaFilter>::Adopt(f);
  f->Init(TRect{0, 0, 10, 10}, 1000, 0);
  f->SetTime(-5);
  EXPECT_EQ(f->Time, 0);
  f->SetTime(1001);
  EXPECT_EQ(f->Time, 1000);
  f->SetTime(500);
  EXPECT_DOUBLE_EQ(f->Progress(), 0.5);
  f->Init(TRect{0, 0, 10, 10}, 0, 0);
  f->SetTime(300);
  EXPECT_EQ(f->InvDuration, 0);
  EXPECT_EQ(f->Progress(), 0);
}

TEST(DrawFilter, EasingTableFollowsTheCurveWithTheMiddleOnTheLowerBranch) {
  EXPECT_FLOAT_EQ(EasingX()[0], 0);
  EXPECT_NEAR(EasingX()[14], 255, 1e-3);
  EXPECT_LT(EasingX()[7], 127.5f);
  EXPECT_NEAR(EasingY()[7], 127.0019f, 1e-3);
  EXPECT_NEAR(EasingY()[14], 255, 1e-3);
  for (int i = 1; i < 15; ++i) EXPECT_GT(EasingY()[i], EasingY()[i - 1]);
}

TEST(DrawFilter, CrossFadeCoversTheDrawRectAtProgressOpacity) {
  auto f = MakeRef<TAlphaFilter>();
  f->Init(TRect{0, 0, 100, 50}, 1000, 0);
  f->DrawRect = TRect{0, 0, 100, 50};
  f->SetTime(500);
  auto c = MakeGrid(TRect{0, 0, 100, 50}, 2, 2);
  f->DrawFrame(c.get());
  EXPECT_NEAR(c->Area(), 5000, 1e-2);
  for (auto* t : c->Made)
    for (auto& v : t->Tris) EXPECT_FLOAT_EQ(v.A, 127.5f);
  f->DrawFrame(nullptr);  // no controller: nothing, no crash
}

TEST(DrawFilter, SoftEdgeCoreRingsAndOpacities) {
  auto f = MakeRef<TRingRecorder>();
  f->Init(TRect{0, 0, 200, 200}, 1000, 40);
  // R = 0.5 * 140 = 70, inner 30: a core, then rings fading 255 -> 0.
  f->DrawSoftEdge(70, 30);
  ASSERT_GE(f->Rings.size(), 2u);
  EXPECT_EQ(f->Rings[0].Index, -1);
  EXPECT_EQ(f->Rings[0].Outer, 30);
  EXPECT_EQ(f->Rings[1].Inner, 30);
  EXPECT_EQ(f->Rings[1].InnerA, 255);
  EXPECT_NEAR(f->Rings.back().Outer, 70, 1e-3);
  EXPECT_NEAR(f->Rings.back().OuterA, 0, 1e-3);
  for (size_t i = 2; i < f->Rings.size(); ++i) {
    EXPECT_EQ(f->Rings[i].Inner, f->Rings[i - 1].Outer);  // rings meet
    EXPECT_EQ(f->Rings[i].InnerA, f->Rings[i - 1].OuterA);
  }
  // Starting inside the origin: the first ring begins at 0 below full.
  f->Rings.clear();
  f->DrawSoftEdge(10, -30);
  ASSERT_FALSE(f->Rings.empty());
  EXPECT_EQ(f->Rings[0].Index, 0);
  EXPECT_EQ(f->Rings[0].Inner, 0);
  EXPECT_NEAR(f->Rings[0].InnerA, 255 - Ease255(30 * 255.0f / 40), 1e-3);
  // No edge: the core plus one zero-width ring; nothing at all at 0.
  f->Rings.clear();
  f->DrawSoftEdge(50, 50);
  ASSERT_EQ(f->Rings.size(), 2u);
  EXPECT_EQ(f->Rings[0].Index, -1);
  f->Rings.clear();
  f->DrawSoftEdge(0, -40);
  EXPECT_TRUE(f->Rings.empty());
}

}  // namespace
}  // namespace kav
