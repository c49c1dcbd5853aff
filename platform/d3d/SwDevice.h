// The software 3D device: resources, pipeline state, scenes, clearing,
// drawing, surface copies, presentation, and device loss.
//
// Any thread may call the device; each call takes the device's own lock, so
// calls from several threads (the callers already serialise them with their
// device lock) are safe. Resource locks (texture, surface, vertex buffer)
// do not need the device lock. Drawing splits large draws into horizontal
// bands rasterised by the shared worker pool; the call returns when every
// pixel is written.
//
// Device loss: while lost (InjectLoss) TestCooperativeLevel, Present, Reset,
// GetRenderTargetData and every Create call report DeviceLost; once the loss
// ends (EndLoss) they report DeviceNotReset until Reset succeeds. State
// calls, clears and draws succeed and do nothing meanwhile, as on Direct3D 9.
// Reset fails with InvalidCall while default-pool resources (render targets,
// default-pool textures and surfaces, additional swap chains) still exist.
#pragma once

#include <array>
#include <atomic>
#include <mutex>

#include "platform/d3d/SwDirect3D.h"
#include "platform/d3d/SwShader.h"
#include "platform/d3d/SwSwapChain.h"
#include "platform/d3d/SwTexture.h"
#include "platform/d3d/SwVertexBuffer.h"
#include "platform/d3d/raster/SwDraw.h"

namespace kav {

struct TSwPixelState;

class TSwDevice : public TRefObject {
 public:
  TSwDevice(Ref<TSwDirect3D> d3d, uint32_t adapter, TSwWindow focus);

  // ---- Device ----
  TSwResult TestCooperativeLevel() const;
  TSwResult Reset(TSwPresentParams& params);
  TSwResult GetSwapChain(uint32_t index, Ref<TSwSwapChain>& out) const;
  TSwResult CreateAdditionalSwapChain(TSwPresentParams& params, Ref<TSwSwapChain>& out);
  TSwResult GetBackBuffer(uint32_t chain, uint32_t index, Ref<TSwSurface>& out) const;
  TSwResult Present(const TSwRect* src, const TSwRect* dst, TSwWindow window);
  TSwResult BeginScene();
  TSwResult EndScene();
  uint32_t Adapter() const { return adapter_; }
  TSwDirect3D* Direct3D() const { return d3d_.get(); }

  // ---- Resources (all allocations start zeroed) ----
  TSwResult CreateTexture(uint32_t width, uint32_t height, uint32_t levels, uint32_t usage, TSwFormat format,
                          TSwPool pool, Ref<TSwTexture>& out);
  TSwResult CreateVolumeTexture(uint32_t width, uint32_t height, uint32_t depth, uint32_t levels, uint32_t usage,
                                TSwFormat format, TSwPool pool, Ref<TSwVolumeTexture>& out);
  TSwResult CreateOffscreenPlainSurface(uint32_t width, uint32_t height, TSwFormat format, TSwPool pool,
                                        Ref<TSwSurface>& out);
  TSwResult CreateVertexBuffer(uint32_t length, uint32_t usage, uint32_t fvf, TSwPool pool,
                               Ref<TSwVertexBuffer>& out);
  // `blob` in the format of SwShader.h; InvalidCall for a malformed blob,
  // NotAvailable for an unknown kernel or when the adapter reports no pixel
  // shaders.
  TSwResult CreatePixelShader(const void* blob, size_t size, Ref<TSwPixelShader>& out);

  // ---- Copies ----
  // Copies a render target into a system-memory surface of the same size and
  // format.
  TSwResult GetRenderTargetData(TSwSurface* render_target, TSwSurface* dest);
  // Nearest-pixel copy between rectangles (null: whole surface) into a
  // render-target surface, converting formats; filters are accepted and
  // all copy by nearest pixel.
  TSwResult StretchRect(TSwSurface* src, const TSwRect* src_rect, TSwSurface* dst, const TSwRect* dst_rect,
                        TSwFilter filter);

  // ---- State ----
  TSwResult SetRenderTarget(uint32_t index, TSwSurface* surface);  // also resets the viewport
  TSwResult GetRenderTarget(uint32_t index, Ref<TSwSurface>& out) const;
  TSwResult SetViewport(const TSwViewport& vp);                    // must lie inside the target
  // The rectangle draws and clears are cut to while ScissorTestEnable is
  // set; it must lie inside the target, and setting the target resets it to
  // the whole target.
  TSwResult SetScissorRect(const TSwRect& rect);
  TSwResult GetScissorRect(TSwRect& rect) const;
  TSwResult GetViewport(TSwViewport& vp) const;
  TSwResult SetTransform(TSwTransform which, const TSwMatrix& m);
  TSwResult GetTransform(TSwTransform which, TSwMatrix& m) const;
  TSwResult SetRenderState(TSwRenderState state, uint32_t value);
  uint32_t GetRenderState(TSwRenderState state) const;
  TSwResult SetTextureStageState(uint32_t stage, TSwStageState state, uint32_t value);
  TSwResult SetSamplerState(uint32_t sampler, TSwSamplerState state, uint32_t value);
  TSwResult SetTexture(uint32_t stage, TSwBaseTexture* texture);
  TSwResult SetFVF(uint32_t fvf);
  TSwResult SetStreamSource(uint32_t stream, TSwVertexBuffer* vb, uint32_t offset, uint32_t stride);
  TSwResult SetPixelShader(TSwPixelShader* shader);
  TSwResult SetPixelShaderConstantF(uint32_t first, const float* values, uint32_t count);

  // ---- Drawing ----
  // Clears `count` rectangles (0: the whole viewport) of the render target,
  // cut to the viewport. Depth or stencil flags are invalid calls: the device
  // has no depth buffer.
  TSwResult Clear(uint32_t count, const TSwRect* rects, uint32_t flags, uint32_t color, float z, uint32_t stencil);
  // Draws from stream 0 with the current vertex format. InvalidCall outside
  // a scene, without a stream or format, or past the buffer's end.
  TSwResult DrawPrimitive(TSwPrimitive type, uint32_t start, uint32_t count);
  TSwResult DrawPrimitiveUP(TSwPrimitive type, uint32_t count, const void* data, uint32_t stride);

  // ---- Test and tuning hooks ----
  void InjectLoss();
  void EndLoss();
  // Threads a draw may use (1 = on the calling thread only); 0: all.
  void SetRasterThreads(int32_t threads);
  // false: every draw takes the reference path (to compare the fast paths).
  void SetFastPaths(bool on);

  // Internal: creates the implicit swap chain (TSwDirect3D::CreateDevice).
  TSwResult InitSwapChain(TSwPresentParams& params);
  // Internal: presentation of a chain (TSwSwapChain::Present).
  TSwResult PresentChain(TSwSwapChain& chain, const TSwRect* src, const TSwRect* dst, TSwWindow window);

 protected:
  void Dispose() override;

 private:
  friend class TSwDeviceBackend;
  enum class TLoss : uint8_t { None, Lost, NotReset };
  struct TState {
    std::array<uint32_t, size_t(TSwRenderState::Count)> Render{};
    uint32_t Stage[kSwMaxStages][size_t(TSwStageState::Count)] = {};
    uint32_t Sampler[kSwMaxStages][size_t(TSwSamplerState::Count)] = {};
    Ref<TSwBaseTexture> Textures[kSwMaxStages];
    TSwMatrix Transforms[3];
    TSwViewport Viewport;
    TSwRect Scissor;
    uint32_t Fvf = 0;
    Ref<TSwVertexBuffer> Stream;
    uint32_t StreamOffset = 0, StreamStride = 0;
    Ref<TSwPixelShader> Shader;
    float Constants[kSwPixelConstants][4] = {};
    Ref<TSwSurface> Target;
  };

  TSwResult CreateChain(TSwPresentParams& params, TSwWindow fallback, bool counted, Ref<TSwSwapChain>& out);
  void ResetState();
  bool LostNow() const { return loss_.load() != TLoss::None; }
  TSwResult LostResult() const {
    return loss_.load() == TLoss::Lost ? TSwResult::DeviceLost : TSwResult::DeviceNotReset;
  }
  void BuildPixelState(TSwPixelState& ps) const;
  // The viewport within the target, cut to the scissor rectangle when the
  // scissor test is on: what draws and clears may touch.
  TSwRect DrawClip() const;
  TSwResult Draw(TSwPrimitive type, uint32_t count, const uint8_t* data, uint32_t stride, uint32_t available);

  Ref<TSwDirect3D> d3d_;
  uint32_t adapter_;
  TSwWindow focus_;
  Ref<TSwVideoMemory> memory_;
  Ref<TSwDefaultPoolCounter> counter_;
  Ref<TSwSwapChain> chain_;
  mutable std::recursive_mutex lock_;
  std::atomic<TLoss> loss_{TLoss::None};
  bool in_scene_ = false;
  TState st_;
  TSwDrawScratch scratch_;
  int32_t threads_ = 0;
  bool fast_paths_ = true;
  Ref<TSwDeviceBackend> backend_;  // null: the software rasteriser draws
};

}  // namespace kav
