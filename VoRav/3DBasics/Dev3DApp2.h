// The 3D screen: the drawing context of one draw device, and the
// device-independent owners of device resources on it (textures, colouring
// textures, shaders and the triangle batch).
//
// The screen owns the renderer, follows the device's rectangle and
// full-screen flag, and recovers from device loss: the device store's
// teardown tells the screen and every resource owner, which drop their
// device objects; the next frame re-creates the renderer and owners
// re-create their objects on next use.
//
// One thread drives a screen (the engine thread). A renderer may be released
// from inside one of its own calls, or from the GUI thread when a pending
// creation fails: the screen then marks the release and completes it at the
// next point where it does not use the renderer, so no caller ever finds the
// renderer gone in the middle of an operation.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "VoRav/3DBasics/Dev3DCore.h"
#include "VoRav/vxGeometry.h"

namespace kav {

class T3DScreen;
class TCustomTexture;
class TVertexBuffer;

using T3DPoint = TVector3;

// An entry of the render-target stack: the surface to restore and its
// origin.
class TRenderTargetWrapper : public TRefObject {
 public:
  int32_t OriginX = 0, OriginY = 0;
  Ref<T3DSurface> Surface;
};

// Lives in the draw device's object list; when the device goes, it makes the
// screen forget the device.
class TDeviceKilledMessenger : public TRefObject {
 public:
  explicit TDeviceKilledMessenger(T3DScreen* screen) : screen_(screen) {}
  void ForgetScreen() { screen_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  T3DScreen* screen_;
};

// The state GetViewState and SetViewState copy.
struct T3DViewState {
  TRect Viewport;
  float MinZ = 0, MaxZ = 1;
  TRect ScreenRect;
  TRect CameraRect;
  float CamOriginX = 0, CamOriginY = 0, RatioW = 1, RatioH = 1, ScreenW = 0, ScreenH = 0;
};

// One quad of the screen: corners in device pixels (q0 top left, q1 top
// right, q2 bottom left, q3 bottom right as the picture lies), up to four
// textures with the pixel rectangle each shows, and a colour per corner.
struct TScreenQuad {
  T3DPoint Corner[4];
  TCustomTexture* Textures[4] = {};
  int32_t TextureCount = 0;
  TFloatRect Source[4];
  uint32_t Colors[4] = {0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF};
};

class T3DScreen : public TRefObject {
 public:
  T3DScreen();

  // ---- Device ----
  void SetDrawDevice(TDrawDevice* device);
  TDrawDevice* DrawDevice() const { return device_; }
  T3DRenderer* Renderer() const { return renderer_.get(); }
  // True when the screen has a renderer whose creation is not pending.
  bool DeviceReady();
  uint32_t Adapter() const { return adapter_; }
  // Releases every device resource of the screen's resource list (owners
  // re-create on next use).
  void ReleaseDeviceResources();
  // Ends the use of the device: resources and renderer released (the next
  // scene starts again).
  void Close();
  // Called after the renderer was released.
  T3DNotifyEvent OnRendererLost;

  // ---- Frame ----
  void BeginScene();
  // Ends the scene and, with `present`, shows it; false when not ready.
  bool EndScene(bool present);
  void Clear(uint32_t color, bool with_depth);
  void FillRect(uint32_t color, const TRect& rect);
  // Cuts later draws and clears to `rect` in pixels of the current target
  // (null: no cut); pending batched triangles are drawn first. False when
  // nothing is cut (no device, or one without a scissor test).
  bool SetScissor(const TRect* rect);

  // ---- Viewport, camera, render targets ----
  void SetViewport(const TRect& rect, float min_z, float max_z);
  void SetViewportOnly(const TRect& rect, float min_z, float max_z);
  void SetCamera(double screen_h, double screen_w, double target_h, double target_w, double origin_y,
                 double origin_x);
  void PushRenderTarget(TCustomTexture* texture, int32_t x, int32_t y);
  void PopRenderTarget() { PushRenderTarget(nullptr, 0, 0); }
  void SetRenderTarget(TCustomTexture* texture) { PushRenderTarget(texture, 0, 0); }
  int32_t TargetDepth() const { return int32_t(stack_.size()); }
  T3DViewState GetViewState() const;
  void SetViewState(const T3DViewState& s);
  const TRect& Viewport() const { return viewport_; }
  const TRect& ScreenRect() const { return screen_rect_; }
  const TRect& DeviceRect() const { return device_rect_; }
  int32_t Width() const { return device_rect_.Width(); }
  int32_t Height() const { return device_rect_.Height(); }
  // Camera inputs kept for the first frame.
  float CamOriginX = 0, CamOriginY = 0, ScaleX = 1, ScaleY = 1;

  // ---- Coordinates ----
  // Device pixels to the normalised coordinates the camera expects.
  T3DPoint ScreenToNdc(const T3DPoint& p) const;
  // The camera's eye (centre of the screen at a distance of its height).
  T3DPoint CameraPosition() const;
  // Where the ray from the camera through screen point `p` meets the plane
  // through `origin` spanned by `e1` and `e2`.
  T3DPoint IntersectScreenRayWithPlane(const T3DPoint& p, const T3DPoint& origin, const T3DPoint& e1,
                                       const T3DPoint& e2) const;
  // The projection of `p` from the camera onto z = 0.
  T3DPoint ProjectToPlane(const T3DPoint& p) const;
  static uint32_t PremultiplyColor(uint32_t color);

  // ---- Quads ----
  // A quad as two triangles, one draw call.
  void DrawQuad(const TScreenQuad& q);
  // An antialiased quad: `grid` holds 16 vertices row by row (the inner four
  // 5, 6, 9, 10 are the quad's corners), `mask` the feathered edges (1 left,
  // 2 top, 4 right, 8 bottom). The outer ring fades to transparent.
  void DrawQuadAA(const TScreenQuad& q, const T3DPoint grid[16], uint32_t mask);
  // The 16 grid vertices for the quad's corners: feathered edges moved one
  // pixel outward, the others coinciding with the inner vertices. Clears
  // the mask when a corner's edges are too short or nearly parallel.
  void BuildQuadGrid(const T3DPoint corner[4], T3DPoint grid[16], uint32_t& mask) const;
  // The texture over the quad in premultiplied white at its opacity.
  void DrawTexture(TCustomTexture* texture, const T3DPoint corner[4], const TFloatRect& source);
  TVertexBuffer* Batch() const { return batch_.get(); }

  // ---- Resource list (owners register themselves) ----
  // The list is guarded: the slide loader makes textures (under the drawer
  // lock) while the engine thread draws.
  void AddResource(TRefObject* r);
  void RemoveResource(TRefObject* r);
  // The resources now listed, each held by a reference (those being freed
  // are left out), in list order.
  std::vector<Ref<TRefObject>> Resources() const;

  // Internal: the messenger's device went away.
  void ForgetDevice();

 protected:
  void Dispose() override;

 private:
  void Reinit();
  // Drops a released renderer; only on the drawing thread unless `any_thread`.
  void CompleteRelease(bool any_thread = false);
  void OnRendererRelease(TRefObject* sender);
  TRect DeviceRectFor(TDrawDevice* device, bool full) const;
  void ApplyCamera();

  Ref<T3DRenderer> renderer_;
  std::atomic<bool> release_pending_{false};
  // The thread of the last scene: the one that completes a release.
  std::atomic<std::thread::id> scene_thread_{};
  TDrawDevice* device_ = nullptr;
  TRect viewport_;
  float min_z_ = 0, max_z_ = 1;
  TRect screen_rect_;
  TRect camera_rect_;
  TRect device_rect_;
  double inv_w_ = 0, inv_h_ = 0;
  bool full_screen_ = false;
  uint32_t adapter_ = 0;
  uint64_t window_ = 0;
  int32_t origin_x_ = 0, origin_y_ = 0;
  std::vector<Ref<TRenderTargetWrapper>> stack_;
  mutable std::mutex resources_lock_;
  std::vector<TRefObject*> resources_;
  TDeviceKilledMessenger* messenger_ = nullptr;
  // Inputs of the last SetCamera.
  double cam_origin_x_ = 0, cam_origin_y_ = 0, ratio_w_ = 1, ratio_h_ = 1, cam_screen_w_ = 0, cam_screen_h_ = 0;
  bool ready_prev_ = false;
  bool failure_logged_ = false;
  Ref<TVertexBuffer> batch_;
};

// The triangle batch of a screen.
class TVertexBuffer : public TRefObject {
 public:
  explicit TVertexBuffer(T3DScreen* screen);

  void BeginBatch(TCustomTexture* const* textures, int32_t count);
  void Reserve(int32_t triangles);
  void AddTriangle(const T3DVertex& a, const T3DVertex& b, const T3DVertex& c);
  void Flush();
  // Drops the device list and the CPU copies (device loss).
  void Release();
  void Reset();
  bool ColorModulate = false;
  bool AlphaModulate = false;
  int32_t Pending() const { return count_; }
  // Draw calls made (for tests and benchmarks).
  int64_t Draws = 0;

  void ForgetScreen() { screen_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  void OnListRelease(TRefObject*);
  void TakeListRelease();
  T3DScreen* screen_;
  Ref<T3DVertexList> list_;
  // Set when the device list went with a lost device, on whichever thread
  // found the loss; the drawing thread lets the batch go at its next use.
  std::atomic<bool> list_released_{false};
  int32_t capacity_ = 0;
  int32_t count_ = 0;
  std::vector<T3DVertex> cpu_;
  std::vector<TCustomTexture*> textures_;
  bool open_ = true;
};

// Owner of one device texture that must survive device loss.
class TCustomTexture : public TRefObject {
 public:
  explicit TCustomTexture(T3DScreen* screen);

  // The device texture, made (and uploaded) on first use; null while the
  // screen is not ready or creation failed.
  virtual T3DTexture* GetTexture();
  virtual void SetSize(TSize size);
  // Paints the image into the locked level 0.
  virtual void Fill(TSysBitmap* level0) = 0;
  virtual void Upload();
  virtual void ReleaseBuffers();
  virtual bool Preload();

  void SetKind(uint8_t kind);
  uint8_t Kind() const { return kind_; }
  void SetMip(bool mip);
  bool Mip() const { return mip_; }
  void SetPremultiplied(bool on);
  bool Premultiplied() const { return premultiplied_; }
  TSize ImageSize() const { return size_; }
  TSize TextureSize() const { return tex_size_; }
  // Pixel u, v into coordinate pair `index` of `vertex`.
  void SetTexCoord(int32_t index, T3DVertex& vertex, float u, float v) const;

  T3DScreen* Screen() const { return screen_; }
  void ForgetScreen() { screen_ = nullptr; }
  float LodBias = 0;
  uint8_t Filter = k3DFilterLinear;
  uint8_t AddressU = k3DAddressClamp, AddressV = k3DAddressClamp;
  uint8_t Opacity = 255;
  // Set while the colours are premultiplied for a draw (blend flag byte).
  bool BlendFlag = false;
  // Released together with the device texture.
  Ref<TRefObject> Companion;

 protected:
  void Dispose() override;
  Ref<T3DTexture> texture_;
  T3DScreen* screen_;

 private:
  void OnRelease(TRefObject*) { ReleaseBuffers(); }
  uint8_t kind_ = k3DTexColorAlpha;
  TSize size_;
  TSize tex_size_;
  double inv_w_ = 0, inv_h_ = 0;
  bool mip_ = false, mip_requested_ = false;
  bool premultiplied_ = false;
};

// Texture size of an image dimension: the next power of two, at least 32
// (0 below 1).
int32_t TextureDimension(int32_t image);

// Owner of a lookup texture (2D or volume) made on demand.
class TCustomColoringTexture : public TRefObject {
 public:
  explicit TCustomColoringTexture(T3DScreen* screen);
  virtual TBaseTexture* GetTexture() = 0;
  void ReleaseDeviceTexture(TRefObject* = nullptr) { texture_ = nullptr; }
  T3DScreen* Screen() const { return screen_; }
  void ForgetScreen() { screen_ = nullptr; }

 protected:
  void Dispose() override;
  T3DScreen* screen_;
  Ref<TBaseTexture> texture_;
};

// A shader the screen re-creates after device loss.
class TShader : public TRefObject {
 public:
  TShader(T3DScreen* screen, std::string code, int32_t kind);
  T3DShader* DeviceShader() const { return shader_.get(); }
  // Makes the device shader when missing and the screen is ready.
  void Recreate();
  void ReleaseDeviceShader(TRefObject* = nullptr) { shader_ = nullptr; }
  const std::string& Code() const { return code_; }
  void ForgetScreen() { screen_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  T3DScreen* screen_;
  std::string code_;
  int32_t kind_;
  Ref<T3DShader> shader_;
};

}  // namespace kav
