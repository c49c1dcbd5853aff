// Shared set-up of the 3D layer tests: an engine over a software system
// object presenting to an offscreen sink, a fake GUI queue and clock.
#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"

namespace kav::dxtest {

constexpr uint64_t kWindow = 11;

struct TDxRig {
  Ref<TSwOffscreenSink> Sink = MakeRef<TSwOffscreenSink>();
  Ref<TSwDirect3D> D3D;
  Ref<TDrawDevice> Device;
  // The fake GUI thread: posted work waits here until RunGui.
  static inline bool OffGui = false;
  static inline std::deque<std::function<void()>> Queue;
  static inline int64_t Clock = 1000;
  static inline std::vector<uint32_t> Sleeps;

  explicit TDxRig(int32_t w = 64, int32_t h = 48, TSwConfig cfg = TSwConfig()) {
    cfg.Sink = Sink;
    if (cfg.Monitors.size() == 1) cfg.Monitors[0].Bounds = TSwRect{0, 0, 640, 480};
    D3D = MakeRef<TSwDirect3D>(cfg);
    Ref<TSwDirect3D> d3d = D3D;
    SetDirect3DFactory([d3d] { return d3d; });
    OffGui = false;
    Queue.clear();
    Sleeps.clear();
    Set3DGuiGate(T3DGuiGate{[] { return !OffGui; }, [](std::function<void()> f) { Queue.push_back(std::move(f)); }});
    Set3DPacingClock(T3DPacingClock{[] { return Clock; }, [](uint32_t ms) { Sleeps.push_back(ms); Clock += ms; }});
    Set3DExclusiveAllowed(false);
    RegisterDirect3DEngine();
    FreeEngine3D();
    Device = MakeRef<TDrawDevice>(kWindow);
    Sink->SetClientSize(kWindow, uint32_t(w), uint32_t(h));
    Device->SetBounds(TRect{0, 0, w, h}, TPoint{}, false);
  }
  ~TDxRig() {
    Device = nullptr;
    RunGui();
    FreeEngine3D();
    RunGui();
    Set3DGuiGate(T3DGuiGate{});
    Set3DPacingClock(T3DPacingClock{});
    Set3DWindowOps(T3DWindowOps{});
    SetDirect3DFactory(nullptr);
  }
  static void RunGui() {
    const bool off = OffGui;
    OffGui = false;
    while (!Queue.empty()) {
      auto f = std::move(Queue.front());
      Queue.pop_front();
      f();
    }
    OffGui = off;
  }
  Ref<T3DRenderer> NewRenderer() {
    T3DEngine* e = Engine3D();
    TDisplayModeInfo mode;
    EXPECT_TRUE(e->GetDisplayMode(mode, 0));
    return e->CreateRenderer(Device.get(), mode);
  }
  // The window's last frame, fetched once for many reads.
  TSwOffscreenSink::TFrame Frame() {
    TSwOffscreenSink::TFrame f;
    Sink->LastFrame(kWindow, f);
    return f;
  }
  uint32_t Pixel(int32_t x, int32_t y) {
    TSwOffscreenSink::TFrame f;
    if (!Sink->LastFrame(kWindow, f)) return 0xDEADBEEF;
    return f.Pixels[size_t(y) * f.Width + size_t(x)];
  }
};

}  // namespace kav::dxtest
