// The platform-neutral 3D classes through which the rest of the system draws:
// the draw device (the window drawn on), the process-wide 3D engine, one
// renderer per draw device, and the device resources a renderer creates
// (textures, volume textures, surfaces, vertex lists, shaders). The Direct3D
// classes of DXDev3D realise them on the software device; nothing above this
// layer calls the device directly.
//
// Resources belong to the device of the renderer that created them. When
// that device is torn down, each resource's release callback runs once; the
// resource is then an empty shell that draws nothing, and its owner
// re-creates it on next use.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/SysObj2.h"
#include "VoRav/vxDelegate.h"
#include "VoRav/wpTypes.h"

namespace kav {

class T3DRenderer;
class T3DSurface;
class TBaseTexture;
class T3DVertexList;
class T3DShader;
class T3DTexture;
class TVolumeTexture;

// Result codes kept by renderers, resources and the engine after every
// device call.
enum : uint8_t { k3DOk = 0, k3DInvalidCall = 1, k3DOutOfVideoMemory = 2, k3DFailed = 3 };

// Device states of a renderer.
enum : uint8_t { k3DStateUsable = 0, k3DStatePending = 1, k3DStateLost = 2 };

// Texture kinds.
enum : uint8_t {
  k3DTexColorAlpha = 0,       // A8R8G8B8, managed
  k3DTexTarget = 1,           // render target without alpha (X8R8G8B8)
  k3DTexTargetAlpha = 2,      // render target with alpha (A8R8G8B8)
  k3DTexLuminance = 3,        // L8, managed
  k3DTexColor16 = 4,          // R5G6B5, managed
};
inline bool Is3DTargetKind(uint8_t kind) { return kind == k3DTexTarget || kind == k3DTexTargetAlpha; }

// Called by a device's resource store when the device is torn down; the
// argument is the resource (or renderer) being released.
using T3DReleaseEvent = TDelegate<void(TRefObject*)>;
using T3DNotifyEvent = TDelegate<void(TRefObject*)>;

// The process-wide lock under which device objects are released and made
// again (a lost device's store torn down, a screen's renderer dropped or
// re-created, resources let go for a full-screen switch) and under which
// the draw manager prepares textures on another thread (it is the drawer
// lock), so no thread uses a renderer or texture another thread frees.
// Re-entrant; always taken before the device lock.
std::recursive_mutex& Device3DReleaseLock();

// The display mode handed to the engine when a renderer is created.
struct TDisplayModeInfo {
  TRect Monitor;          // the adapter's monitor rectangle
  uint32_t RefreshRate = 0;
  uint32_t Format = 0;    // a device format code
  uint32_t Adapter = 0;   // set by the caller
};

// The generic vertex record the screen's batch and the draw manager fill.
struct T3DVertex {
  float X = 0, Y = 0, Z = 0;
  float Tex[8][2] = {};
  uint32_t Diffuse = 0;   // ARGB
  uint32_t Specular = 0;  // ARGB
  float NX = 0, NY = 0, NZ = 0;
};
static_assert(sizeof(T3DVertex) == 96);

struct T3DMatrix {
  float m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};
};

// The surface a renderer draws on.
class TDrawDevice : public TRefObject {
 public:
  explicit TDrawDevice(uint64_t window);

  // Stores the new bounds, origin offset and full-screen flag and passes
  // them to every renderer of the device, but only when something changed
  // (two empty rectangles count as equal).
  virtual void SetBounds(const TRect& rect, TPoint offset, bool full_screen);
  // Whether the device may draw now (the form device answers whether its
  // window is in front).
  virtual bool CanDraw() { return true; }

  // The bounds moved so that their top-left corner is the origin offset.
  TRect GetOffsetRect() const;
  const TRect& Bounds() const { return bounds_; }
  TPoint Offset() const { return offset_; }
  bool FullScreen() const { return full_screen_; }
  uint64_t Window() const { return window_; }

  // Called when the device's picture must be redrawn (nothing when unset).
  T3DNotifyEvent OnRepaint;
  void Repaint();

  // The renderers drawing on this device. Renderers add and remove
  // themselves; the list is guarded, so any thread may read it.
  void AddRenderer(T3DRenderer* r);
  void RemoveRenderer(T3DRenderer* r);
  int32_t RendererCount() const;

  // Objects the device owns for the 3D layer (resource store, child window,
  // window rectangle), found by class. AddObject takes over one reference;
  // RemoveObject hands it back to the caller (false when absent).
  void AddObject(TRefObject* obj);
  bool RemoveObject(TRefObject* obj);
  template <class T>
  T* FindObject() const {
    for (TRefObject* o : objects_)
      if (auto* t = dynamic_cast<T*>(o)) return t;
    return nullptr;
  }

 protected:
  void Dispose() override;

 private:
  friend class T3DRenderer;
  std::vector<T3DRenderer*> renderers_;  // not owned
  bool full_screen_ = false;
  TRect bounds_;
  TPoint offset_;
  uint64_t window_;
  std::vector<TRefObject*> objects_;      // owned
};

// One per process, reached through Engine3D.
class T3DEngine : public TRefObject {
 public:
  // The adapter whose monitor overlaps `rect` most (the first of equals; 0
  // when none does).
  virtual uint32_t AdapterForRect(const TRect& rect) = 0;
  // Capability values by case-insensitive name ("PixelShaderVersion",
  // "MaxTexWidth", "MaxTexHeight", "MaxAnisotropy", "Raster", "Vendor");
  // 0 for an unknown name or adapter.
  virtual uint32_t GetCapValue(const std::string& name, uint32_t adapter) = 0;
  virtual std::string GetCapText(const std::string& name, uint32_t adapter) = 0;
  // Fills the monitor rectangle, refresh rate and format of the adapter.
  virtual bool GetDisplayMode(TDisplayModeInfo& mode, uint32_t adapter) = 0;
  // A renderer for the device, or null when no device could be created. May
  // answer a pending renderer (state 1) that another thread completes.
  virtual Ref<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayModeInfo& mode) = 0;
  // False while the devices cannot be used (workstation locked, device lost
  // and not resettable).
  virtual bool CheckDevice() { return true; }
  // 0 no pixel shaders, 1 filters and video, 2 also layers.
  virtual int32_t ShaderLevel(uint32_t adapter) = 0;
};

// Blend modes of later textured draws (SetOption).
enum : uint8_t { k3DBlendNormal = 0, k3DBlendMax = 1, k3DBlendSeparateAlpha = 2 };

// Flags of DrawTextured.
enum : uint32_t { k3DDrawTextures = 1, k3DDrawModulateColor = 2, k3DDrawModulateAlpha = 4, k3DDrawLighting = 8 };

// Primitive kinds of vertex lists.
enum : uint8_t {
  k3DPointList = 0, k3DLineList, k3DLineStrip, k3DTriangleList, k3DTriangleStrip, k3DTriangleFan
};

// Component flags of vertex lists.
enum : uint32_t { k3DVertexDiffuse = 1, k3DVertexNormal = 2, k3DVertexSpecular = 4 };

// Draws on one draw device. Every call may be made from any thread; the
// realisation serialises device work with its device lock.
class T3DRenderer : public TRefObject {
 public:
  explicit T3DRenderer(TDrawDevice* device);

  // The draw device, or null once the device has gone.
  TDrawDevice* DrawDevice() const;
  uint8_t State() const { return state_.load(std::memory_order_relaxed); }
  void SetState(uint8_t s) { state_.store(s, std::memory_order_relaxed); }
  uint8_t LastResult() const { return last_result_.load(std::memory_order_relaxed); }

  // Called by the device's resource store when the device is torn down.
  T3DReleaseEvent OnRelease;

  virtual void SetBounds() = 0;
  virtual bool BeginScene() = 0;
  virtual bool EndScene() = 0;
  // Shows the frame: `count` pairs of source and destination rectangles.
  virtual bool Present(const TRect* src, int32_t count, const TRect* dst) = 0;
  // Flags 1 target, 2 depth; count 0 clears the whole target.
  virtual bool Clear(uint32_t flags, uint32_t color, float z, int32_t count, const TRect* rects) = 0;
  virtual bool DrawColorQuad() = 0;
  virtual bool SetRenderTarget(T3DSurface* surface) = 0;
  virtual T3DSurface* GetRenderTarget() = 0;
  virtual bool GetBackBuffer(Ref<T3DSurface>& out) = 0;
  virtual bool SetViewport(const TRect& rect, float min_z, float max_z) = 0;
  // Cuts later draws and clears to `rect` in pixels of the current target
  // (null: no cut) until the next call; false (nothing cut) when the device
  // has no scissor test.
  virtual bool SetScissor(const TRect* /*rect*/) { return false; }
  // Draws the vertex list with `textures` bound to stages 0.. (flags above).
  virtual bool DrawTextured(T3DVertexList* list, T3DTexture* const* textures, int32_t count, uint32_t flags) = 0;
  virtual bool SetTexture(uint32_t stage, TBaseTexture* texture) = 0;
  virtual Ref<T3DTexture> CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mip) = 0;
  virtual Ref<TVolumeTexture> CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) = 0;
  virtual Ref<T3DVertexList> CreateVertexList(int32_t count, uint32_t flags, int32_t tex_sets) = 0;
  virtual bool StretchRect(int32_t count, T3DSurface* src, const TRect* src_rects, T3DSurface* dst,
                           const TRect* dst_rects) = 0;
  virtual bool SetOption(uint8_t blend_mode) = 0;
  // kind 0 world, 1 view, 2 projection.
  virtual bool SetTransform(const T3DMatrix& m, int32_t kind) = 0;
  // true: no culling; false: cull counter-clockwise faces.
  virtual bool SetCullMode(bool none) = 0;
  virtual void PixelOffset(float& x, float& y) = 0;
  // kind 0 pixel, 1 vertex.
  virtual Ref<T3DShader> CreateShader(const std::string& code, int32_t kind) = 0;
  virtual bool SetShader(T3DShader* shader) = 0;
  virtual bool SetShaderConstants(bool pixel, uint32_t first, const float* values, uint32_t count) = 0;

  // Internal: the draw device forgets this renderer (device disposed).
  void DetachDevice();

 protected:
  void Dispose() override;
  // Written by renderer calls under the device lock, read by the drawer and
  // the slide loader under the drawer's lock: atomic, the two locks differ.
  std::atomic<uint8_t> state_{k3DStateUsable};
  std::atomic<uint8_t> last_result_{k3DOk};

 private:
  friend class TDrawDevice;
  TDrawDevice* device_;
};

class T3DSurface : public TRefObject {
 public:
  virtual bool CopyToBitmap(TBitmap* bitmap) = 0;
  virtual TSize GetSize() = 0;
  virtual TPixelFormat* GetPixelFormat() = 0;
  // A bitmap over the locked rectangle, or null.
  virtual Ref<TSysBitmap> Lock(const TRect& rect, bool read_only) = 0;
  // Unlocks and drops the bitmap (the variable is cleared).
  virtual bool Unlock(Ref<TSysBitmap>& bitmap) = 0;
};

class TBaseTexture : public TRefObject {
 public:
  T3DReleaseEvent OnRelease;
  virtual uint32_t LevelCount() = 0;
};

// Address modes and filters of a texture, applied when it is drawn.
enum : uint8_t { k3DAddressWrap = 0, k3DAddressClamp = 1, k3DAddressMirror = 2 };
enum : uint8_t { k3DFilterPoint = 0, k3DFilterLinear = 1 };

class T3DTexture : public TBaseTexture {
 public:
  uint8_t Kind = 0;
  bool Premultiplied = false;

  virtual Ref<T3DSurface> GetSurface(uint32_t level) = 0;
  virtual void PreLoad() = 0;
  void SetAddressMode(uint8_t u, uint8_t v) { address_u_ = u; address_v_ = v; }
  void GetAddressMode(uint8_t& u, uint8_t& v) const { u = address_u_; v = address_v_; }
  void SetFilter(uint8_t f) { filter_ = f; }
  uint8_t GetFilter() const { return filter_; }
  void SetAnisotropic(bool on) { anisotropic_ = on; }
  bool Anisotropic() const { return anisotropic_; }
  void SetValue(float lod_bias) { lod_bias_ = lod_bias; }
  float LodBias() const { return lod_bias_; }

 private:
  uint8_t address_u_ = k3DAddressClamp, address_v_ = k3DAddressClamp;
  uint8_t filter_ = k3DFilterLinear;
  bool anisotropic_ = false;
  float lod_bias_ = 0;
};

// A volume as a bitmap: rows of slice z follow those of slice z - 1.
class TVolumeTexture : public TBaseTexture {
 public:
  struct TBox {
    int32_t Left = 0, Top = 0, Right = 0, Bottom = 0, Front = 0, Back = 0;
  };
  virtual Ref<TSysBitmap> LockBox(uint32_t level, const TBox* box) = 0;
  virtual bool UnlockBox(uint32_t level, Ref<TSysBitmap>& bitmap) = 0;
};

class T3DVertexList : public TRefObject {
 public:
  T3DReleaseEvent OnRelease;
  virtual bool SetLayout(uint8_t primitive, uint32_t start, uint32_t count) = 0;
  // Writes vertices[0 .. count) to vertices first .. first + count - 1.
  virtual bool Write(const T3DVertex* vertices, uint32_t first, uint32_t count) = 0;
};

class T3DShader : public TRefObject {
 public:
  T3DReleaseEvent OnRelease;
};

// Whether two rectangles are equal, any two empty rectangles counting as
// equal.
bool Same3DRect(const TRect& a, const TRect& b);
// "(left, top, right, bottom)" for log lines.
std::string RectText3D(const TRect& r);

}  // namespace kav
