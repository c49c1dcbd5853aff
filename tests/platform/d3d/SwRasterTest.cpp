// Coverage, interpolation, perspective and clipping of the rasteriser.
#include "SwTestRig.h"

#include <cmath>
#include <random>

namespace kav {
namespace {

using swtest::TRig;
using swtest::TTV;

uint32_t Checker(uint32_t x, uint32_t y) { return ((x + y) & 1) ? 0xFFFFFFFFu : 0xFF000000u; }
uint32_t Ramp(uint32_t x, uint32_t y) { return 0xFF000000u | (x * 7 + y * 13) << 16 | (x * 31 % 256) << 8 | (y * 17 % 256); }

TEST(SwRaster, OneToOneQuadReproducesTexelsWithBilinearFiltering) {
  for (bool fast : {false, true}) {
    TRig rig(40, 24);
    rig.Dev->SetFastPaths(fast);
    Ref<TSwTexture> tex = rig.Texture(40, 24, Ramp);
    rig.TextureStage(tex.get(), false, TSwFilter::Linear);
    rig.Dev->BeginScene();
    rig.Quad(-0.5f, -0.5f, 39.5f, 23.5f, 0xFFFFFFFF);
    rig.Dev->EndScene();
    for (uint32_t y = 0; y < 24; ++y)
      for (uint32_t x = 0; x < 40; ++x) ASSERT_EQ(rig.Pixel(int(x), int(y)), Ramp(x, y)) << x << "," << y << " fast=" << fast;
  }
}

TEST(SwRaster, CameraMatricesWithHalfPixelOffsetMapTexelsOntoPixels) {
  // World, view and projection as a caller maps a full-target quad in
  // normalised units with the pixel offset (0.5, 0.5) folded into the world matrix.
  const float W = 32, H = 16, px = 0.5f, py = 0.5f, n = 0.01f, f = 1000000.0f;
  TRig rig(32, 16);
  TSwMatrix world, view, proj;
  world.m[2][0] = world.m[3][0] = -2 * px / W;
  world.m[2][1] = world.m[3][1] = 2 * py / H;
  world.m[3][2] = 1;
  view.m[3][2] = 0;
  proj.m[0][0] = 1;
  proj.m[1][1] = 1;
  proj.m[2][2] = f / (f - n);
  proj.m[2][3] = 1;
  proj.m[3][2] = -n * f / (f - n);
  proj.m[3][3] = 0;
  rig.Dev->SetTransform(TSwTransform::World, world);
  rig.Dev->SetTransform(TSwTransform::View, view);
  rig.Dev->SetTransform(TSwTransform::Projection, proj);
  Ref<TSwTexture> tex = rig.Texture(32, 16, Ramp);
  rig.TextureStage(tex.get(), false, TSwFilter::Linear);
  struct V { float x, y, z, u, v; } q[4] = {{-1, 1, 0, 0, 0}, {1, 1, 0, 1, 0}, {-1, -1, 0, 0, 1}, {1, -1, 0, 1, 1}};
  rig.Dev->SetFVF(SwFvfXYZ | SwFvfTex(1));
  rig.Dev->BeginScene();
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(V)), TSwResult::Ok);
  rig.Dev->EndScene();
  for (uint32_t y = 0; y < 16; ++y)
    for (uint32_t x = 0; x < 32; ++x) ASSERT_EQ(rig.Pixel(int(x), int(y)), Ramp(x, y)) << x << "," << y;
}

TEST(SwRaster, SharedEdgesCoverEveryPixelExactlyOnce) {
  // A jittered grid of triangles, drawn additively with one unit of blue:
  // every pixel of the covered rectangle must read exactly 1.
  TRig rig(64, 48);
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0, 1, 0);
  rig.Blend(TSwBlend::One, TSwBlend::One);
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  std::mt19937 rng(42);
  std::uniform_real_distribution<float> jitter(-2.3f, 2.3f);
  const int N = 6;
  float gx[N + 1][N + 1], gy[N + 1][N + 1];
  for (int j = 0; j <= N; ++j)
    for (int i = 0; i <= N; ++i) {
      bool edge_x = i == 0 || i == N, edge_y = j == 0 || j == N;
      gx[j][i] = 3.5f + i * 9.0f + (edge_x ? 0 : jitter(rng));
      gy[j][i] = 2.25f + j * 7.0f + (edge_y ? 0 : jitter(rng));
    }
  std::vector<TTV> tris;
  auto vtx = [&](int i, int j) { return TTV{gx[j][i], gy[j][i], 0, 1, 0x00000001u, 0, 0}; };
  for (int j = 0; j < N; ++j)
    for (int i = 0; i < N; ++i) {
      bool flip = (i + j) & 1;  // both diagonal directions and both windings
      if (flip) tris.insert(tris.end(), {vtx(i, j), vtx(i + 1, j), vtx(i, j + 1), vtx(i + 1, j), vtx(i + 1, j + 1), vtx(i, j + 1)});
      else tris.insert(tris.end(), {vtx(i, j), vtx(i + 1, j + 1), vtx(i + 1, j), vtx(i, j), vtx(i, j + 1), vtx(i + 1, j + 1)});
    }
  rig.Dev->SetTexture(0, nullptr);
  rig.Dev->SetFVF(swtest::kTTVFvf);
  rig.Dev->BeginScene();
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, uint32_t(tris.size() / 3), tris.data(), sizeof(TTV)),
            TSwResult::Ok);
  rig.Dev->EndScene();
  // Pixel centres x in [4, 57], y in [3, 44] lie inside [3.5, 57.5) x [2.25, 44.25).
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      bool inside = x >= 4 && x <= 57 && y >= 3 && y <= 44;
      ASSERT_EQ(rig.Pixel(x, y) & 0xFF, inside ? 1u : 0u) << x << "," << y << " " << std::hex << rig.Pixel(x, y);
    }
}

TEST(SwRaster, CullingStripsAndFansKeepTheirWinding) {
  TRig rig(16, 16);
  rig.Dev->SetTexture(0, nullptr);
  rig.Dev->SetFVF(swtest::kTTVFvf);
  rig.Dev->BeginScene();
  // Clockwise on screen: drawn under the default culling of counter-clockwise faces.
  TTV cw[3] = {{0, 0, 0, 1, 0xFFFF0000, 0, 0}, {8, 0, 0, 1, 0xFFFF0000, 0, 0}, {0, 8, 0, 1, 0xFFFF0000, 0, 0}};
  TTV ccw[3] = {cw[0], cw[2], cw[1]};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, ccw, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(1, 1), 0u);
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, cw, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(1, 1), 0xFFFF0000u);
  // A strip's second triangle and a fan's triangles keep the first one's winding.
  TTV strip[4] = {{8, 8, 0, 1, 0xFF00FF00, 0, 0}, {16, 8, 0, 1, 0xFF00FF00, 0, 0},
                  {8, 16, 0, 1, 0xFF00FF00, 0, 0}, {16, 16, 0, 1, 0xFF00FF00, 0, 0}};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, strip, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(9, 9), 0xFF00FF00u);
  EXPECT_EQ(rig.Pixel(15, 15), 0xFF00FF00u);
  TTV fan[4] = {{0, 8, 0, 1, 0xFF0000FF, 0, 0}, {8, 8, 0, 1, 0xFF0000FF, 0, 0},
                {8, 16, 0, 1, 0xFF0000FF, 0, 0}, {0, 16, 0, 1, 0xFF0000FF, 0, 0}};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleFan, 2, fan, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(6, 9), 0xFF0000FFu);
  EXPECT_EQ(rig.Pixel(1, 15), 0xFF0000FFu);
  // Points and lines draw single pixels.
  TTV pt = {3, 12, 0, 1, 0xFFFFFF00, 0, 0};
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::PointList, 1, &pt, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(3, 12), 0xFFFFFF00u);
  TTV line[2] = {{10, 2, 0, 1, 0xFF808080, 0, 0}, {14, 2, 0, 1, 0xFF808080, 0, 0}};
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::LineList, 1, line, sizeof(TTV));
  EXPECT_EQ(rig.Pixel(10, 2), 0xFF808080u);
  EXPECT_EQ(rig.Pixel(13, 2), 0xFF808080u);
  EXPECT_EQ(rig.Pixel(14, 2), 0u);
  rig.Dev->EndScene();
}

// A perspective camera looking down +z: eye at the origin, 90 degree field.
TSwMatrix Perspective(float aspect, float n, float f) {
  TSwMatrix p;
  p.m[0][0] = 1.0f / aspect;
  p.m[1][1] = 1.0f;
  p.m[2][2] = f / (f - n);
  p.m[2][3] = 1.0f;
  p.m[3][2] = -n * f / (f - n);
  p.m[3][3] = 0.0f;
  return p;
}

struct TXV { float x, y, z, u, v; };

// The texture coordinate the ray through pixel (px, py) meets on the plane
// through P0 spanned by E1 (u axis) and E2 (v axis), in double precision.
bool RayUV(double px, double py, double W, double H, const double* P0, const double* E1, const double* E2,
           double& u, double& v) {
  double dx = ((px - W / 2) / (W / 2)) * (W / H), dy = -(py - H / 2) / (H / 2), dz = 1.0;
  // Solve P0 + u E1 + v E2 = t D.
  double m[3][3] = {{E1[0], E2[0], -dx}, {E1[1], E2[1], -dy}, {E1[2], E2[2], -dz}};
  double b[3] = {-P0[0], -P0[1], -P0[2]};
  double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) - m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
               m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
  if (std::fabs(det) < 1e-12) return false;
  auto solve = [&](int c) {
    double a[3][3];
    for (int r = 0; r < 3; ++r)
      for (int k = 0; k < 3; ++k) a[r][k] = k == c ? b[r] : m[r][k];
    return (a[0][0] * (a[1][1] * a[2][2] - a[1][2] * a[2][1]) - a[0][1] * (a[1][0] * a[2][2] - a[1][2] * a[2][0]) +
            a[0][2] * (a[1][0] * a[2][1] - a[1][1] * a[2][0])) / det;
  };
  u = solve(0);
  v = solve(1);
  return solve(2) > 0;
}

// Draws a quad P0, P0+E1, P0+E2, P0+E1+E2 with a point-sampled 8x8
// checkerboard and checks every pixel against the analytic mapping (pixels
// within a hair of a cell border or of the quad's outline are skipped).
void CheckPerspectiveQuad(const double* P0, const double* E1, const double* E2, int W, int H) {
  TRig rig{uint32_t(W), uint32_t(H)};
  rig.Dev->SetTransform(TSwTransform::Projection, Perspective(float(W) / float(H), 0.1f, 100.0f));
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  Ref<TSwTexture> tex = rig.Texture(8, 8, Checker);
  rig.TextureStage(tex.get(), false, TSwFilter::Point);
  auto at = [&](double a, double b) {
    return TXV{float(P0[0] + a * E1[0] + b * E2[0]), float(P0[1] + a * E1[1] + b * E2[1]),
               float(P0[2] + a * E1[2] + b * E2[2]), float(a), float(b)};
  };
  TXV q[4] = {at(0, 0), at(1, 0), at(0, 1), at(1, 1)};
  rig.Dev->Clear(0, nullptr, SwClearTarget, 0xFF0000FFu, 1, 0);
  rig.Dev->SetFVF(SwFvfXYZ | SwFvfTex(1));
  rig.Dev->BeginScene();
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(TXV)), TSwResult::Ok);
  rig.Dev->EndScene();
  int checked = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      double u = 0, v = 0;
      bool hit = RayUV(x, y, W, H, P0, E1, E2, u, v);
      uint32_t got = rig.Pixel(x, y);
      const double e = 0.02;
      bool inside = hit && u > e && u < 1 - e && v > e && v < 1 - e;
      bool outside = !hit || u < -e || u > 1 + e || v < -e || v > 1 + e;
      if (outside) {
        ASSERT_EQ(got, 0xFF0000FFu) << x << "," << y;
        continue;
      }
      if (!inside) continue;
      double cu = u * 8, cv = v * 8;
      if (std::fabs(cu - std::nearbyint(cu)) < 0.05 || std::fabs(cv - std::nearbyint(cv)) < 0.05) continue;
      ASSERT_EQ(got, Checker(uint32_t(cu), uint32_t(cv))) << x << "," << y << " u=" << u << " v=" << v;
      ++checked;
    }
  EXPECT_GT(checked, W * H / 20);
}

TEST(SwRaster, PerspectiveQuadsFollowTheAnalyticMapping) {
  // A floor-like quad tilted in depth.
  const double P0[3] = {-2, -1, 1.5}, E1[3] = {4, 0, 0}, E2[3] = {0, 0.5, 6};
  CheckPerspectiveQuad(P0, E1, E2, 96, 64);
  // A quad turned about the vertical axis (a page turning over).
  const double Q0[3] = {-1, -0.8, 2.2}, F1[3] = {1.6, 0, 1.2}, F2[3] = {0, 1.6, 0};
  CheckPerspectiveQuad(Q0, F1, F2, 80, 80);
}

TEST(SwRaster, QuadCrossingTheEyePlaneIsClippedAtTheNearPlane) {
  // The floor runs from behind the eye (z = -3) to far ahead: only the part
  // in front of the near plane may be drawn, below the horizon.
  const double P0[3] = {-4, -1, -3}, E1[3] = {8, 0, 0}, E2[3] = {0, 0, 23};
  CheckPerspectiveQuad(P0, E1, E2, 64, 48);
  // Huge coordinates far outside the screen (guard band) still draw the visible part.
  TRig rig(32, 32);
  rig.Dev->SetTexture(0, nullptr);
  rig.Dev->SetFVF(swtest::kTTVFvf);
  TTV big[3] = {{-1e7f, -1e7f, 0, 1, 0xFF00FF00, 0, 0}, {3e7f, -1e7f, 0, 1, 0xFF00FF00, 0, 0},
                {-1e7f, 3e7f, 0, 1, 0xFF00FF00, 0, 0}};
  rig.Dev->BeginScene();
  ASSERT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, big, sizeof(TTV)), TSwResult::Ok);
  rig.Dev->EndScene();
  EXPECT_EQ(rig.Pixel(0, 0), 0xFF00FF00u);
  EXPECT_EQ(rig.Pixel(31, 31), 0xFF00FF00u);
}

TEST(SwRaster, ColoursInterpolatePerspectiveCorrectly) {
  // A quad from z = 1 (left) to z = 3 (right) whose colour runs from black to
  // red: at the screen's centre column the ray meets the quad at parameter t
  // where the red channel must be t * 255.
  const int W = 64, H = 32;
  TRig rig(W, H);
  rig.Dev->SetTransform(TSwTransform::Projection, Perspective(float(W) / float(H), 0.1f, 100.0f));
  rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
  rig.Dev->SetTexture(0, nullptr);
  struct CV { float x, y, z; uint32_t c; } q[4] = {
      {-2, 1, 1, 0xFF000000}, {2, 1, 3, 0xFFFF0000}, {-2, -1, 1, 0xFF000000}, {2, -1, 3, 0xFFFF0000}};
  rig.Dev->SetFVF(SwFvfXYZ | SwFvfDiffuse);
  rig.Dev->BeginScene();
  rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleStrip, 2, q, sizeof(CV));
  rig.Dev->EndScene();
  for (int x = 4; x < W - 4; x += 5) {
    // Ray direction (dx, 1) in the x-z plane meets x = -2 + 4t, z = 1 + 2t.
    double dx = ((x - W / 2.0) / (W / 2.0)) * (double(W) / H);
    double t = (2 + dx) / (4 - 2 * dx);
    if (t < 0.01 || t > 0.99) continue;
    EXPECT_NEAR(swtest::Chan(rig.Pixel(x, H / 2), 16), t * 255, 1.0) << x;
  }
}

}  // namespace
}  // namespace kav
