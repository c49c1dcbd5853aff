// The GL device against the software device: the same calls on both, the
// pictures compared (headless EGL; skipped where no OpenGL 3.3 exists).
#include <gtest/gtest.h>

#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/d3d/SwDevice.h"
#include "platform/d3d/SwFormat.h"
#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/egl/GlEglContext.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "tests/platform/d3d/SwTestRig.h"

namespace kav {
namespace {

using swtest::kWindow;
using swtest::Quad;

// One device on the shared rig: the software device, or the GL device
// with a GL backend.
struct TSide : swtest::TRig {
  TSide(Ref<TSwBackendFactory> backend, uint32_t w, uint32_t h) : TRig(w, h, WithBackend(std::move(backend))) {}
  static TSwConfig WithBackend(Ref<TSwBackendFactory> backend) {
    TSwConfig cfg;
    cfg.Backend = std::move(backend);
    return cfg;
  }
  std::vector<uint32_t> Frame() {
    EXPECT_EQ(Dev->Present(nullptr, nullptr, 0), TSwResult::Ok);
    TSwOffscreenSink::TFrame f;
    EXPECT_TRUE(Sink->LastFrame(kWindow, f));
    return f.Pixels;
  }
};

Ref<TGlSystem> Gl() {
  std::string error;
  Ref<TGlSystem> s = HeadlessGlSystem(&error);
  if (!s) std::fprintf(stderr, "no headless OpenGL: %s\n", error.c_str());
  return s;
}

template <class F>
void Both(uint32_t w, uint32_t h, F draw, std::vector<uint32_t>& sw, std::vector<uint32_t>& glf) {
  TSide a(nullptr, w, h);
  draw(*a.Dev);
  sw = a.Frame();
  TSide b(Gl(), w, h);
  draw(*b.Dev);
  glf = b.Frame();
  // KAV_GL_TEST_DUMP=DIR writes both pictures of each comparison.
  if (const char* dir = std::getenv("KAV_GL_TEST_DUMP")) {
    static int n = 0;
    const std::string base = std::string(dir) + "/" + std::to_string(n++);
    a.Sink->WritePng(kWindow, base + "-sw.png");
    b.Sink->WritePng(kWindow, base + "-gl.png");
  }
}

Ref<TSwTexture> Pattern(TSwDevice& d, uint32_t w, uint32_t h, TSwFormat fmt) {
  return swtest::MakeTexture(
      d, w, h,
      [&](uint32_t x, uint32_t y) {
        return 0x80000000u | (x * 255 / w) << 16 | (y * 255 / h) << 8 | ((x ^ y) & 1 ? 0xFF : 0x20);
      },
      fmt);
}

TEST(GlDevice, ClearsAndDrawsColouredQuadsAsTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  std::vector<uint32_t> sw, glf;
  Both(
      64, 48,
      [](TSwDevice& d) {
        d.Clear(0, nullptr, SwClearTarget, 0xFF102030, 0, 0);
        d.BeginScene();
        d.SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
        d.SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse));
        d.SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::SelectArg1));
        d.SetTextureStageState(0, TSwStageState::AlphaArg1, uint32_t(TSwTextureArg::Diffuse));
        Quad(d, 4, 4, 30, 20, 0xFFFF0000);
        d.SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
        d.SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
        d.SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
        Quad(d, 10, 10, 50, 40, 0x8000FF00);
        TSwRect r{40, 2, 60, 8};
        d.Clear(1, &r, SwClearTarget, 0xFFFFFFFF, 0, 0);
        d.EndScene();
      },
      sw, glf);
  EXPECT_EQ(sw.size(), size_t(64 * 48));
  EXPECT_LE(swtest::MaxChannelDiff(sw, glf), 1);
  EXPECT_EQ(glf[5 * 64 + 5], 0xFFFF0000u);
  EXPECT_EQ(glf[0], 0xFF102030u);
}

TEST(GlDevice, SamplesTexturesOfEveryFormatAsTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  for (TSwFormat fmt : {TSwFormat::A8R8G8B8, TSwFormat::X8R8G8B8, TSwFormat::R5G6B5, TSwFormat::A1R5G5B5,
                        TSwFormat::X1R5G5B5, TSwFormat::A8, TSwFormat::L8}) {
    for (TSwFilter filter : {TSwFilter::Point, TSwFilter::Linear}) {
      std::vector<uint32_t> sw, glf;
      Both(
          48, 40,
          [&](TSwDevice& d) {
            d.Clear(0, nullptr, SwClearTarget, 0xFF404040, 0, 0);
            Ref<TSwTexture> t = Pattern(d, 16, 8, fmt);
            d.BeginScene();
            d.SetTexture(0, t.get());
            d.SetSamplerState(0, TSwSamplerState::MinFilter, uint32_t(filter));
            d.SetSamplerState(0, TSwSamplerState::MagFilter, uint32_t(filter));
            d.SetSamplerState(0, TSwSamplerState::AddressU, uint32_t(TSwAddress::Clamp));
            d.SetSamplerState(0, TSwSamplerState::AddressV, uint32_t(TSwAddress::Clamp));
            d.SetTextureStageState(0, TSwStageState::ColorArg2, uint32_t(TSwTextureArg::Diffuse));
            d.SetTextureStageState(0, TSwStageState::AlphaOp, uint32_t(TSwTextureOp::Modulate));
            d.SetTextureStageState(0, TSwStageState::AlphaArg2, uint32_t(TSwTextureArg::Diffuse));
            d.SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
            d.SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
            d.SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
            Quad(d, 3, 2, 3 + 40, 2 + 33, 0xFFFFC0FF);
            d.EndScene();
          },
          sw, glf);
      EXPECT_LE(swtest::MaxChannelDiff(sw, glf), 2) << SwFormatName(fmt) << " filter " << int(filter);
    }
  }
}

TEST(GlDevice, ViewportsCutClearsAndDrawsAndPlaceTransformedVertices) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  struct TXyzc {
    float x, y, z;
    uint32_t color;
  };
  std::vector<uint32_t> sw, glf;
  Both(
      64, 48,
      [](TSwDevice& d) {
        d.Clear(0, nullptr, SwClearTarget, 0xFF000000, 0, 0);
        d.SetViewport(TSwViewport{8, 6, 40, 30, 0, 1});
        d.Clear(0, nullptr, SwClearTarget, 0xFF202080, 0, 0);
        d.BeginScene();
        d.SetRenderState(TSwRenderState::CullMode, uint32_t(TSwCull::None));
        d.SetTextureStageState(0, TSwStageState::ColorOp, uint32_t(TSwTextureOp::SelectArg1));
        d.SetTextureStageState(0, TSwStageState::ColorArg1, uint32_t(TSwTextureArg::Diffuse));
        // A quad past the viewport's right edge, cut there.
        Quad(d, 30, 10, 70, 30, 0xFFFFFF00);
        // Vertices through world, view and projection into the viewport:
        // clip space -1..1 covers it.
        const TXyzc tri[3] = {{-1, -1, 0.5f, 0xFFFF0000}, {0, 1, 0.5f, 0xFF00FF00}, {1, -1, 0.5f, 0xFF0000FF}};
        d.SetFVF(SwFvfXYZ | SwFvfDiffuse);
        EXPECT_EQ(d.DrawPrimitiveUP(TSwPrimitive::TriangleList, 1, tri, sizeof(TXyzc)), TSwResult::Ok);
        d.EndScene();
      },
      sw, glf);
  EXPECT_LE(swtest::MaxChannelDiff(sw, glf), 2);
  EXPECT_EQ(glf[2 * 64 + 2], 0xFF000000u);    // outside the viewport
  EXPECT_EQ(glf[20 * 64 + 60], 0xFF000000u);  // the quad cut at the viewport
  EXPECT_EQ(glf[20 * 64 + 46], 0xFFFFFF00u);
}

TEST(GlDevice, RendersIntoTargetsAndReadsThemBack) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  std::vector<uint32_t> sw, glf;
  std::vector<uint32_t> read_sw, read_gl;
  auto draw = [](TSwDevice& d, std::vector<uint32_t>& read) {
    Ref<TSwTexture> rt;
    ASSERT_EQ(d.CreateTexture(32, 32, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
              TSwResult::Ok);
    Ref<TSwSurface> rts, back, sys;
    rt->GetSurfaceLevel(0, rts);
    d.GetRenderTarget(0, back);
    d.SetRenderTarget(0, rts.get());
    d.Clear(0, nullptr, SwClearTarget, 0x80FF8000, 0, 0);
    TSwRect inner{8, 8, 24, 24};
    d.Clear(1, &inner, SwClearTarget, 0xFF0000FF, 0, 0);
    ASSERT_EQ(d.CreateOffscreenPlainSurface(32, 32, TSwFormat::A8R8G8B8, TSwPool::SystemMem, sys), TSwResult::Ok);
    ASSERT_EQ(d.GetRenderTargetData(rts.get(), sys.get()), TSwResult::Ok);
    TSwLockedRect lr;
    ASSERT_EQ(sys->LockRect(lr, nullptr, SwLockReadOnly), TSwResult::Ok);
    for (int y = 0; y < 32; ++y)
      for (int x = 0; x < 32; ++x) read.push_back(reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.Bits) + y * lr.Pitch)[x]);
    sys->UnlockRect();
    d.SetRenderTarget(0, back.get());
    d.Clear(0, nullptr, SwClearTarget, 0xFF000000, 0, 0);
    d.BeginScene();
    d.SetTexture(0, rt.get());
    d.SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
    d.SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::One));
    d.SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
    Quad(d, 0, 0, 32, 32, 0xFFFFFFFF);
    d.EndScene();
    TSwRect from{0, 0, 16, 16}, to{32, 0, 64, 32};
    ASSERT_EQ(d.StretchRect(rts.get(), &from, back.get(), &to, TSwFilter::Point), TSwResult::Ok);
  };
  bool second = false;
  Both(
      64, 32,
      [&](TSwDevice& d) {
        draw(d, second ? read_gl : read_sw);
        second = true;
      },
      sw, glf);
  EXPECT_LE(swtest::MaxChannelDiff(sw, glf), 1);
  EXPECT_EQ(read_sw, read_gl);
  ASSERT_EQ(read_gl.size(), size_t(32 * 32));
  EXPECT_EQ(read_gl[0], 0x80FF8000u);
  EXPECT_EQ(read_gl[10 * 32 + 10], 0xFF0000FFu);
}

// A caption's tile: a line of text over its first 44 rows.
uint32_t TextTile(uint32_t x, uint32_t y) { return swtest::TextPixel(x, y); }

TEST(GlDevice, ADrawnTextureIsKeptPackedAndStillDrawsLocksAndCopiesAsTheSoftwareDevice) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  TSide sw(nullptr, 512, 64), gl(Gl(), 512, 64);
  struct TRun {
    TSide* Side;
    Ref<TSwTexture> Text, Copied;
    std::vector<uint32_t> Drawn, Relocked, Copy;
    bool CopiedPacked = false;
  } runs[2] = {{&sw, {}, {}, {}, {}, {}, false}, {&gl, {}, {}, {}, {}, {}, false}};
  auto draw = [](TSide& s, TSwTexture* t) {
    s.Dev->Clear(0, nullptr, SwClearTarget, 0xFF202040, 0, 0);
    s.Dev->BeginScene();
    s.TextureStage(t, false, TSwFilter::Point);
    s.Dev->SetRenderState(TSwRenderState::AlphaBlendEnable, 1);
    s.Dev->SetRenderState(TSwRenderState::SrcBlend, uint32_t(TSwBlend::SrcAlpha));
    s.Dev->SetRenderState(TSwRenderState::DestBlend, uint32_t(TSwBlend::InvSrcAlpha));
    s.Quad(-0.5f, -0.5f, 511.5f, 63.5f, 0xFFFFFFFF);  // texel on pixel
    s.Dev->EndScene();
    return s.Frame();
  };
  for (TRun& r : runs) {
    TSide& s = *r.Side;
    r.Text = s.Texture(512, 64, TextTile);
    r.Drawn = draw(s, r.Text.get());
    r.Drawn = draw(s, r.Text.get());  // drawn again from the driver's copy
    // A lock of a few pixels of the packed texture: they change, the rest
    // is as it was.
    TSwLockedRect lr;
    const TSwRect box{200, 8, 240, 24};
    ASSERT_EQ(r.Text->LockRect(0, lr, &box, 0), TSwResult::Ok);
    for (int y = 0; y < box.Height(); ++y)
      std::fill_n(reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.Bits) + y * lr.Pitch), box.Width(),
                  0xFFFF0000u);
    ASSERT_EQ(r.Text->UnlockRect(0), TSwResult::Ok);
    r.Relocked = draw(s, r.Text.get());
    // A copy out of a packed texture's level.
    r.Copied = s.Texture(512, 64, TextTile);
    draw(s, r.Copied.get());
    r.CopiedPacked = r.Copied->Level(0)->Packed();
    Ref<TSwSurface> level, back;
    r.Copied->GetSurfaceLevel(0, level);
    s.Dev->GetRenderTarget(0, back);
    s.Dev->Clear(0, nullptr, SwClearTarget, 0xFF000000, 0, 0);
    ASSERT_EQ(s.Dev->StretchRect(level.get(), nullptr, back.get(), nullptr, TSwFilter::Point), TSwResult::Ok);
    r.Copy = s.Frame();
  }
  // The GL device packed what it had handed to the driver; the software
  // device, which draws from it, did not.
  EXPECT_FALSE(runs[0].CopiedPacked);
  EXPECT_TRUE(runs[1].CopiedPacked);
  EXPECT_FALSE(runs[1].Text->Level(0)->Packed());  // locked soon after: kept as it is
  EXPECT_LE(swtest::MaxChannelDiff(runs[0].Drawn, runs[1].Drawn), 1);
  EXPECT_LE(swtest::MaxChannelDiff(runs[0].Relocked, runs[1].Relocked), 1);
  EXPECT_LE(swtest::MaxChannelDiff(runs[0].Copy, runs[1].Copy), 1);
  EXPECT_EQ(runs[1].Relocked[16 * 512 + 220], 0xFFFF0000u);
  EXPECT_EQ(runs[1].Relocked[16 * 512 + 100], runs[1].Drawn[16 * 512 + 100]);
  EXPECT_NE(runs[1].Drawn[16 * 512 + 220], 0xFFFF0000u);
}

TEST(GlDevice, APackedTextureIsHandedToANewContextWhole) {
  Ref<TGlSystem> sys = Gl();
  if (!sys) GTEST_SKIP() << "no OpenGL 3.3 here";
  TSide gl(sys, 512, 64);
  Ref<TSwTexture> text = gl.Texture(512, 64, TextTile);
  auto draw = [&] {
    gl.Dev->Clear(0, nullptr, SwClearTarget, 0xFF202040, 0, 0);
    gl.Dev->BeginScene();
    gl.TextureStage(text.get(), false, TSwFilter::Point);
    gl.Quad(-0.5f, -0.5f, 511.5f, 63.5f, 0xFFFFFFFF);
    gl.Dev->EndScene();
  };
  draw();
  const std::vector<uint32_t> before = gl.Frame();
  ASSERT_TRUE(text->Level(0)->Packed());
  sys->SimulateReset();
  draw();
  EXPECT_EQ(gl.Dev->Present(nullptr, nullptr, 0), TSwResult::DeviceLost);
  ASSERT_EQ(gl.Dev->TestCooperativeLevel(), TSwResult::DeviceNotReset);
  TSwPresentParams pp;
  pp.BackBufferWidth = 512;
  pp.BackBufferHeight = 64;
  pp.DeviceWindow = kWindow;
  ASSERT_EQ(gl.Dev->Reset(pp), TSwResult::Ok);
  draw();
  EXPECT_EQ(gl.Frame(), before);
  EXPECT_TRUE(text->Level(0)->Packed());  // packed again once the new context has it
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

TEST(GlDevice, SoftwareRenderersAreToldApart) {
  EXPECT_TRUE(GlRendererIsSoftware("llvmpipe (LLVM 15.0.6, 256 bits)"));
  EXPECT_TRUE(GlRendererIsSoftware("softpipe"));
  EXPECT_TRUE(GlRendererIsSoftware("Mesa X11 / Software Rasterizer"));
  EXPECT_FALSE(GlRendererIsSoftware("AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49)"));
  EXPECT_FALSE(GlRendererIsSoftware("Mesa Intel(R) UHD Graphics 620 (KBL GT2)"));
  // The renderer a context names before any device is made on it is the one
  // the device reports.
  std::string error;
  Ref<TGlContext> context = CreateGlEglContext(&error);
  if (!context) GTEST_SKIP() << "no headless OpenGL: " << error;
  const std::string renderer = GlContextRenderer(context.get());
  EXPECT_FALSE(renderer.empty());
  Ref<TGlSystem> sys = TGlSystem::Create(context, &error);
  ASSERT_TRUE(sys) << error;
  EXPECT_EQ(renderer, sys->Info().Renderer);
  EXPECT_EQ(GlContextRenderer(nullptr), "");
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// Render targets of the GL device live in GL only: their memory is counted
// against the adapter's budget (and the reset rule) but not allocated.
TEST(GlDevice, RenderTargetsAreCountedButNotHeldInMemory) {
  if (!Gl()) GTEST_SKIP() << "no OpenGL 3.3 here";
  for (bool gl : {false, true}) {
    TSide side(gl ? Ref<TSwBackendFactory>(Gl()) : nullptr, 32, 16);
    TSwVideoMemory* vm = side.D3D->VideoMemory(0);
    const uint64_t before = vm->Used();
    Ref<TSwTexture> rt, plain;
    ASSERT_EQ(side.Dev->CreateTexture(256, 128, 1, SwUsageRenderTarget, TSwFormat::A8R8G8B8, TSwPool::Default, rt),
              TSwResult::Ok);
    ASSERT_EQ(side.Dev->CreateTexture(16, 16, 1, 0, TSwFormat::A8R8G8B8, TSwPool::Managed, plain), TSwResult::Ok);
    EXPECT_GE(vm->Used() - before, uint64_t(256 * 128 * 4));
    EXPECT_EQ(rt->Level(0)->Bits() == nullptr, gl);
    EXPECT_NE(plain->Level(0)->Bits(), nullptr);
    Ref<TSwSurface> back;
    side.Dev->GetBackBuffer(0, 0, back);
    EXPECT_EQ(back->Bits() == nullptr, gl);
    {
      // Drawn into once, so the GL device keeps an object for it.
      Ref<TSwSurface> level;
      rt->GetSurfaceLevel(0, level);
      side.Dev->SetRenderTarget(0, level.get());
      side.Dev->Clear(0, nullptr, SwClearTarget, 0xFF102030, 0, 0);
      side.Dev->SetRenderTarget(0, back.get());
    }
    // A reset waits for the targets to go, as on the software device.
    TSwPresentParams pp;
    pp.BackBufferWidth = 32;
    pp.BackBufferHeight = 16;
    pp.DeviceWindow = kWindow;
    EXPECT_EQ(side.Dev->Reset(pp), TSwResult::InvalidCall);
    rt = nullptr;
    back = nullptr;
    EXPECT_EQ(side.Dev->Reset(pp), TSwResult::Ok);
  }
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// While one thread's scene holds the context, another thread's calls draw
// nothing: that frame's present fails (its picture is not shown), so the
// caller draws it again, and the next frame drawn whole is shown.
TEST(GlDevice, AFrameWithACallThatDrewNothingFailsToPresent) {
  Ref<TGlSystem> gl = Gl();
  if (!gl) GTEST_SKIP() << "no OpenGL 3.3 here";
  TSide a(gl, 32, 32), b(gl, 32, 32);
  std::mutex m;
  std::condition_variable cv;
  int step = 0;
  std::thread other([&] {
    a.Dev->BeginScene();
    a.Dev->Clear(0, nullptr, SwClearTarget, 0xFF0000FF, 0, 0);  // the context stays current here
    std::unique_lock<std::mutex> l(m);
    step = 1;
    cv.notify_all();
    cv.wait(l, [&] { return step == 2; });
    a.Dev->EndScene();
    a.Dev->Present(nullptr, nullptr, 0);
  });
  {
    std::unique_lock<std::mutex> l(m);
    cv.wait(l, [&] { return step == 1; });
  }
  b.Dev->Clear(0, nullptr, SwClearTarget, 0xFF00FF00, 0, 0);
  EXPECT_EQ(b.Dev->Present(nullptr, nullptr, 0), TSwResult::InvalidCall);
  {
    std::lock_guard<std::mutex> l(m);
    step = 2;
  }
  cv.notify_all();
  other.join();
  b.Dev->Clear(0, nullptr, SwClearTarget, 0xFF00FF00, 0, 0);
  const std::vector<uint32_t> f = b.Frame();
  ASSERT_EQ(f.size(), size_t(32 * 32));
  EXPECT_EQ(f[16 * 32 + 16], 0xFF00FF00u);
}

}  // namespace
}  // namespace kav
