// Hostile vertex data, concurrent use of devices and the worker pool.
#include "SwTestRig.h"

#include <atomic>
#include <cmath>
#include <limits>
#include <thread>

#include "platform/d3d/raster/SwWorkerPool.h"

namespace kav {
namespace {

using swtest::TRig;
using swtest::TTV;

TEST(SwRobustness, NonFiniteAndHugeVerticesDrawNothingWrongAndNeverCrash) {
  const float inf = std::numeric_limits<float>::infinity(), nan = std::nanf("");
  const float bad[] = {nan, inf, -inf, 3e38f, -3e38f, 1e20f};
  for (bool fast : {true, false}) {
    TRig rig(32, 32);
    rig.Dev->SetFastPaths(fast);
    Ref<TSwTexture> tex = rig.Texture(8, 8, [](uint32_t x, uint32_t y) { return 0xFF000000u | x << 4 | y << 12; });
    rig.TextureStage(tex.get(), true, TSwFilter::Linear, TSwAddress::Wrap);
    rig.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
    rig.Dev->SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
    rig.Dev->BeginScene();
    for (float b : bad) {
      // Bad positions, pre-transformed and through the matrices.
      TTV tri[3] = {{b, 0, 0, 1, 0xFFFFFFFF, 0, 0}, {31, 0, 0, 1, 0xFFFFFFFF, 1, 0}, {0, 31, 0, b, 0xFFFFFFFF, 0, 1}};
      rig.Dev->SetFVF(swtest::kTTVFvf);
      EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, tri, sizeof(TTV)), TSwResult::Ok);
      struct V { float x, y, z, u, v; } xyz[3] = {{b, b, 0.5f, 0, 0}, {1, 0, 0.5f, 1, 0}, {0, 1, b, 0, 1}};
      rig.Dev->SetFVF(SwFvfXYZ | SwFvfTex(1));
      EXPECT_EQ(rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, xyz, sizeof(V)), TSwResult::Ok);
      // Bad texture coordinates on a rectangle and on a rotated triangle.
      rig.Quad(-0.5f, -0.5f, 31.5f, 31.5f, 0x80FFFFFF, b, 0, 1, b);
      TTV rot[3] = {{16, 0, 0, 1, 0xFFFFFFFF, b, 0}, {31, 16, 0, 1, 0xFFFFFFFF, 1, b}, {0, 20, 0, 1, 0xFFFFFFFF, 0, 1}};
      rig.Dev->SetFVF(swtest::kTTVFvf);
      rig.Dev->DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, rot, sizeof(TTV));
      // Points and lines.
      rig.Dev->DrawPrimitiveUP(TSwPrimitive::PointList, 3, tri, sizeof(TTV));
      rig.Dev->DrawPrimitiveUP(TSwPrimitive::LineStrip, 2, tri, sizeof(TTV));
    }
    rig.Dev->EndScene();
  }
}

TEST(SwRobustness, DevicesDrawFromSeveralThreadsAtOnce) {
  // Four threads: two devices drawing large blended quads (the worker pool
  // is shared, so one of them often runs inline), one thread creating,
  // filling and dropping textures on the first device, one presenting it.
  TRig a(256, 256), b(256, 256);
  Ref<TSwTexture> ta = a.Texture(64, 64, [](uint32_t x, uint32_t y) { return 0x80000000u | x << 8 | y; });
  Ref<TSwTexture> tb = b.Texture(64, 64, [](uint32_t x, uint32_t y) { return 0xFF000000u | x << 16 | y; });
  a.TextureStage(ta.get(), true);
  b.TextureStage(tb.get(), true);
  a.Blend(TSwBlend::SrcAlpha, TSwBlend::InvSrcAlpha);
  std::atomic<bool> stop{false};
  auto drawer = [&](TRig* rig) {
    for (int i = 0; i < 40; ++i) {
      rig->Dev->BeginScene();
      rig->Quad(-3.3f, 1.7f, 250.1f, 255.5f, 0xC0FFFFFF, 0, 0, 1, 1);
      rig->Dev->EndScene();
    }
  };
  std::thread t1(drawer, &a), t2(drawer, &b);
  std::thread t3([&] {
    while (!stop) {
      Ref<TSwTexture> t = a.Texture(32, 32, [](uint32_t x, uint32_t) { return x; });
      t = nullptr;
    }
  });
  std::thread t4([&] {
    while (!stop) EXPECT_EQ(a.Dev->Present(nullptr, nullptr, 0), TSwResult::Ok);
  });
  t1.join();
  t2.join();
  stop = true;
  t3.join();
  t4.join();
  // The last frames are whole: a serial redraw gives the same picture.
  std::vector<uint32_t> before = b.Snapshot();
  b.Dev->SetRasterThreads(1);
  b.Dev->BeginScene();
  b.Quad(-3.3f, 1.7f, 250.1f, 255.5f, 0xC0FFFFFF, 0, 0, 1, 1);
  b.Dev->EndScene();
  EXPECT_EQ(swtest::MaxChannelDiff(before, b.Snapshot()), 0);
}

TEST(SwWorkerPool, RunsEveryIndexOnceAndLetsABusyCallerRunAlone) {
  TSwWorkerPool pool(3);
  EXPECT_EQ(pool.MaxThreads(), 4);
  std::vector<std::atomic<int>> hits(1000);
  std::function<void(int)> job = [&](int i) { hits[size_t(i)].fetch_add(1); };
  pool.Run(1000, 4, job);
  for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  // Two callers at once: both jobs complete, every index once.
  std::vector<std::atomic<int>> other(500);
  std::function<void(int)> slow = [&](int i) {
    other[size_t(i)].fetch_add(1);
    std::this_thread::yield();
  };
  std::thread t([&] { pool.Run(500, 4, slow); });
  pool.Run(1000, 4, job);
  t.join();
  for (auto& h : hits) ASSERT_EQ(h.load(), 2);
  for (auto& h : other) ASSERT_EQ(h.load(), 1);
  pool.Run(0, 4, job);  // nothing to do
}

TEST(SwWorkerPool, BackToBackJobsWithPrimesFromAnotherThreadRunEveryIndexOnce) {
  // Workers watching for the next job, primes racing the jobs, jobs of one
  // index (no helper), and a pool destroyed while its workers watch.
  for (int round = 0; round < 3; ++round) {
    TSwWorkerPool pool(3);
    std::atomic<bool> priming{true};
    std::thread primer([&] {
      while (priming.load()) {
        pool.Prime(4);
        std::this_thread::yield();
      }
    });
    std::vector<std::atomic<int>> hits(64);
    std::function<void(int)> job = [&](int i) { hits[size_t(i)].fetch_add(1); };
    const int jobs = 2000;
    for (int k = 0; k < jobs; ++k) {
      if (k % 100 == 0) pool.Prime(2 + k % 3);
      pool.Run(1 + k % 64, 2 + k % 3, job);
    }
    priming = false;
    primer.join();
    std::vector<int> want(64, 0);
    for (int k = 0; k < jobs; ++k)
      for (int i = 0; i < 1 + k % 64; ++i) ++want[size_t(i)];
    for (size_t i = 0; i < hits.size(); ++i) ASSERT_EQ(hits[i].load(), want[i]) << i;
    pool.Prime(4);  // destroyed with its workers watching
  }
}

}  // namespace
}  // namespace kav
