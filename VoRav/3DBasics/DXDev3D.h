// The abstract 3D classes realised on the software Direct3D-9-subset device:
// the engine (system object, capabilities, device creation on the GUI
// thread), the renderer of one draw device, the resource wrappers and the
// device store that reaches every wrapper of a device when it is torn down.
//
// Threads and locks. Every device call runs under one process-wide
// re-entrant lock (Device3DLock). Devices are created and released on the
// GUI thread: when another thread asks for a renderer, the request is
// posted to the GUI thread through the installed gate and the caller gets
// a pending renderer (state 1) which the GUI thread completes. Window work
// (placements, topmost, the device's child window) goes through the window
// gate and is never waited for while the device lock is held.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "VoRav/3DBasics/Dev3DCore.h"
#include "platform/d3d/SwDevice.h"

namespace kav {

class TDevStore;
class T3DEngine9;
class T3DRenderer9;
class T3DTexture9;

// ---- Module settings and gates ----

// The process-wide device lock.
std::recursive_mutex& Device3DLock();

// Where the engine gets its Direct3D system object from (the program
// installs one with the SDL sink; tests one with the offscreen sink). The
// default makes a system object whose frames go nowhere.
using TDirect3DFactory = std::function<Ref<TSwDirect3D>()>;
void SetDirect3DFactory(TDirect3DFactory factory);
// Makes CreateEngine9 the engine factory of Engine3D.
void RegisterDirect3DEngine();
// The engine factory: a new engine over a new system object, or null.
Ref<T3DEngine> CreateEngine9();

// The GUI-thread gate: whether the caller is on the GUI thread, and posting
// work to it (never waiting). The default answers "on the GUI thread" and
// runs posted work at once; the window layer installs its application event
// list.
struct T3DGuiGate {
  std::function<bool()> OnGuiThread;
  std::function<void(std::function<void()>)> Post;
};
void Set3DGuiGate(T3DGuiGate gate);
bool On3DGuiThread();
void PostTo3DGui(std::function<void()> work);

// Window operations of the 3D layer. Defaults do nothing; a device's child
// window defaults to the device's own window. Frames are always presented
// into the device's own window at the device rectangle's position: a child
// window is a rectangle of its parent, so that is where the child shows.
struct T3DWindowOps {
  // Show commands: 4 show without activating, 5 show.
  std::function<void(uint64_t window, const TRect& rect, int show)> SetPlacement;
  std::function<void(uint64_t window, bool topmost)> SetTopmost;
  // A child window of `parent` for a windowed device (its paint and mouse
  // messages reach `device`), or 0 for none. Called on the GUI thread.
  std::function<uint64_t(TDrawDevice* device, uint64_t parent)> CreatePanel;
  std::function<void(uint64_t panel, const TRect& rect, bool show)> MovePanel;
  // Called on any thread: from its return on the panel no longer reaches its
  // device; the window itself goes on the GUI thread.
  std::function<void(uint64_t panel)> DestroyPanel;
  // Whether the workstation is locked (the devices are not used then).
  std::function<bool()> WorkstationLocked;
};
void Set3DWindowOps(T3DWindowOps ops);
// Where a windowed device's panel lies in its window's client area.
TRect PanelRectOf(const TDrawDevice* device);
const T3DWindowOps& Get3DWindowOps();

// Marshalled mode (device creation and release on the GUI thread): on.
void Set3DMarshalled(bool on);
// Exclusive full-screen devices allowed (set once at start-up).
void Set3DExclusiveAllowed(bool on);
bool Get3DExclusiveAllowed();

// Presentation pacing: the clock and sleep the renderer uses (tests install
// a clock of their own). Defaults: SysLockTime and SysLockSleep.
struct T3DPacingClock {
  std::function<int64_t()> Now;
  std::function<void(uint32_t)> Sleep;
};
void Set3DPacingClock(T3DPacingClock clock);
// The milliseconds to sleep before presenting at `now` when the previous
// frame went out at `slot` (fractional milliseconds, 0 for none yet), for a
// refresh rate in Hz (0 counts as 60); `slot` becomes this frame's time.
// Frames go out on a grid of the refresh period (up to a millisecond
// early); a late frame goes out at once and the grid starts again from it.
uint32_t PresentSleepMs(uint32_t refresh_rate, int64_t now, double& slot);

// Maps a device result to a result code (logging failures); a lost device
// sets `lost`.
uint8_t Map3DResult(TSwResult r, bool* lost = nullptr);

// ---- Objects kept in the draw device's object list ----

// The rectangle the device window is to occupy and whether the next device
// for it must be windowed.
class TRectangleWrapper : public TRefObject {
 public:
  TRect Rect;
  bool NoExclusiveNextTime = false;
};

// The child window a windowed device presents into.
class TWinPanel : public TRefObject {
 public:
  TWinPanel(TDrawDevice* device, uint64_t parent);
  // The panel's own window (the parent when no child window was made).
  uint64_t Window() const { return window_; }
  uint64_t Parent() const { return parent_; }
  // Where frames go: the parent window, at PresentOrigin.
  uint64_t PresentWindow() const { return parent_; }
  // Moves the panel; shown only when the rectangle is not empty.
  void Place(const TRect& rect);
  // The panel's position in the parent's client area.
  TPoint PresentOrigin() const;

 protected:
  void Dispose() override;

 private:
  uint64_t parent_;
  uint64_t window_;
  TRect rect_;
};

// Everything created on one device; its disposal tears the device down.
class TDevStore : public TRefObject {
 public:
  TDevStore(T3DEngine9* engine, TDrawDevice* device);

  TDrawDevice* DrawDevice() const { return device_; }
  TSwDevice* Device() const { return dev_.get(); }
  void SetDevice(Ref<TSwDevice> dev) { dev_ = std::move(dev); }

  // Lists of wrappers (not owned) that the teardown reaches once each.
  std::vector<T3DRenderer9*> Renderers;
  std::vector<TBaseTexture*> Textures;
  std::vector<T3DVertexList*> VertexLists;
  std::vector<T3DShader*> Shaders;
  template <class T>
  static void Unlist(std::vector<T*>& list, T* item) {
    for (size_t i = list.size(); i-- > 0;)
      if (list[i] == item) { list.erase(list.begin() + std::ptrdiff_t(i)); return; }
  }

 protected:
  void Dispose() override;

 private:
  template <class T, class F>
  void TearDown(std::vector<T*>& list, F forget);
  TDrawDevice* device_;
  Ref<T3DEngine9> engine_;
  Ref<TSwDevice> dev_;
};

// ---- The engine ----

// A create-renderer request posted to the GUI thread. The renderer is not
// held: its disposal clears the field (under the device lock), so a
// renderer dropped before the GUI thread gets to it is never created.
class TInitData : public TRefObject {
 public:
  Ref<TDrawDevice> Device;
  T3DRenderer9* Renderer = nullptr;
  TDisplayModeInfo Mode;
};

class T3DEngine9 : public T3DEngine {
 public:
  explicit T3DEngine9(Ref<TSwDirect3D> d3d);

  uint32_t AdapterForRect(const TRect& rect) override;
  // The software device answers its capabilities directly, so no cache of
  // TCapsWrapper records is kept.
  uint32_t GetCapValue(const std::string& name, uint32_t adapter) override;
  std::string GetCapText(const std::string& name, uint32_t adapter) override;
  bool GetDisplayMode(TDisplayModeInfo& mode, uint32_t adapter) override;
  Ref<T3DRenderer> CreateRenderer(TDrawDevice* device, const TDisplayModeInfo& mode) override;
  bool CheckDevice() override;
  int32_t ShaderLevel(uint32_t adapter) override;

  TSwDirect3D* Direct3D() const { return d3d_.get(); }
  uint8_t LastResult() const { return last_result_; }

  // Creates the device or swap chain of `renderer` (device lock, GUI
  // thread). False when creation failed (the renderer is then lost and its
  // release callback has run).
  bool InternalCreateRenderer(TDrawDevice* device, const TDisplayModeInfo& mode, T3DRenderer9* renderer);

 private:
  void CreateEngineDevice();
  void ResetEngineDevice();

  Ref<TSwDirect3D> d3d_;
  uint8_t last_result_ = k3DOk;
  Ref<TSwDevice> engine_device_;
  TSwPresentParams engine_params_;
};

// ---- Resource wrappers ----

// Render-target and back-buffer surfaces (T3DSurfaceRT) are this class with
// the render-target flag set; they are read through a system-memory copy.
class T3DSurface9 : public T3DSurface {
 public:
  T3DSurface9(Ref<TSwSurface> surface, Ref<TSwDevice> device, T3DTexture9* owner, bool render_target);

  bool CopyToBitmap(TBitmap* bitmap) override;
  TSize GetSize() override;
  TPixelFormat* GetPixelFormat() override;
  Ref<TSysBitmap> Lock(const TRect& rect, bool read_only) override;
  bool Unlock(Ref<TSysBitmap>& bitmap) override;

  TSwSurface* Surface() const { return surface_.get(); }
  bool IsRenderTarget() const { return render_target_; }
  // The texture the surface belongs to (null for a back buffer or once the
  // texture is gone).
  T3DTexture9* Owner() const { return owner_; }
  void ForgetOwner() { owner_ = nullptr; }
  uint8_t LastResult() const { return last_result_; }

 private:
  Ref<TSwSurface> surface_;
  Ref<TSwDevice> device_;
  T3DTexture9* owner_;
  bool render_target_;
  uint8_t last_result_ = k3DOk;
};

// The pixel format of a device format ("A8R8G8B8", "B5G6R5"-style names of
// the imaging library); null for formats the 3D layer does not use.
TPixelFormat* PixelFormatOf3D(TSwFormat f);

class T3DTexture9 : public T3DTexture {
 public:
  T3DTexture9(Ref<TSwTexture> texture, TDevStore* store, Ref<TSwDevice> device);
  uint32_t LevelCount() override;
  Ref<T3DSurface> GetSurface(uint32_t level) override;
  void PreLoad() override;
  TSwTexture* Texture() const { return texture_.get(); }
  TDevStore* Store() const { return store_; }
  void DropStore() { store_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  Ref<TSwTexture> texture_;
  TDevStore* store_;
  Ref<TSwDevice> device_;
  std::vector<Ref<T3DSurface9>> surfaces_;
};

class TVolumeTexture9 : public TVolumeTexture {
 public:
  TVolumeTexture9(Ref<TSwVolumeTexture> texture, TDevStore* store);
  uint32_t LevelCount() override;
  Ref<TSysBitmap> LockBox(uint32_t level, const TBox* box) override;
  bool UnlockBox(uint32_t level, Ref<TSysBitmap>& bitmap) override;
  TSwVolumeTexture* Texture() const { return texture_.get(); }
  void DropStore() { store_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  Ref<TSwVolumeTexture> texture_;
  TDevStore* store_;
};

class T3DVertexList9 : public T3DVertexList {
 public:
  T3DVertexList9(Ref<TSwVertexBuffer> buffer, TDevStore* store, uint32_t flags, int32_t tex_sets);
  bool SetLayout(uint8_t primitive, uint32_t start, uint32_t count) override;
  bool Write(const T3DVertex* vertices, uint32_t first, uint32_t count) override;

  TSwVertexBuffer* Buffer() const { return buffer_.get(); }
  uint32_t Fvf() const { return fvf_; }
  uint32_t Stride() const { return stride_; }
  uint8_t Primitive() const { return primitive_; }
  uint32_t Start() const { return start_; }
  uint32_t Count() const { return count_; }
  void DropStore() { store_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  Ref<TSwVertexBuffer> buffer_;
  TDevStore* store_;
  uint32_t fvf_ = SwFvfXYZ, stride_ = 12;
  int32_t off_diffuse_ = -1, off_specular_ = -1, off_normal_ = -1, off_tex_ = 0;
  int32_t tex_sets_ = 0;
  uint8_t primitive_ = k3DTriangleList;
  uint32_t start_ = 0, count_ = 0;
};

class T3DShader9 : public T3DShader {
 public:
  T3DShader9(Ref<TSwPixelShader> shader, TDevStore* store);
  TSwPixelShader* Shader() const { return shader_.get(); }
  void DropStore() { store_ = nullptr; }

 protected:
  void Dispose() override;

 private:
  Ref<TSwPixelShader> shader_;
  TDevStore* store_;
};

// ---- The renderer ----

class T3DRenderer9 : public T3DRenderer {
 public:
  explicit T3DRenderer9(TDrawDevice* device);

  void SetBounds() override;
  bool BeginScene() override;
  bool EndScene() override;
  bool Present(const TRect* src, int32_t count, const TRect* dst) override;
  bool Clear(uint32_t flags, uint32_t color, float z, int32_t count, const TRect* rects) override;
  bool DrawColorQuad() override;
  bool SetRenderTarget(T3DSurface* surface) override;
  T3DSurface* GetRenderTarget() override { return target_.get(); }
  bool GetBackBuffer(Ref<T3DSurface>& out) override;
  bool SetViewport(const TRect& rect, float min_z, float max_z) override;
  bool SetScissor(const TRect* rect) override;
  bool DrawTextured(T3DVertexList* list, T3DTexture* const* textures, int32_t count, uint32_t flags) override;
  bool SetTexture(uint32_t stage, TBaseTexture* texture) override;
  Ref<T3DTexture> CreateTexture(uint8_t kind, int32_t width, int32_t height, bool mip) override;
  Ref<TVolumeTexture> CreateVolumeTexture(int32_t width, int32_t height, int32_t depth) override;
  Ref<T3DVertexList> CreateVertexList(int32_t count, uint32_t flags, int32_t tex_sets) override;
  bool StretchRect(int32_t count, T3DSurface* src, const TRect* src_rects, T3DSurface* dst,
                   const TRect* dst_rects) override;
  bool SetOption(uint8_t blend_mode) override;
  bool SetTransform(const T3DMatrix& m, int32_t kind) override;
  bool SetCullMode(bool none) override;
  void PixelOffset(float& x, float& y) override { x = 0.5f; y = 0.5f; }
  Ref<T3DShader> CreateShader(const std::string& code, int32_t kind) override;
  bool SetShader(T3DShader* shader) override;
  bool SetShaderConstants(bool pixel, uint32_t first, const float* values, uint32_t count) override;

  // A system-memory copy of a render-target surface, or null.
  Ref<T3DSurface9> ReadRenderTarget(T3DSurface9* surface);

  // Whether the device this renderer uses can run pixel shaders.
  bool CanRunShaders();
  TDevStore* Store() const { return store_; }
  bool Exclusive() const { return exclusive_; }
  uint32_t RefreshRate() const { return refresh_rate_; }

 protected:
  void Dispose() override;

 private:
  friend class T3DEngine9;
  friend class TDevStore;
  struct TCall;
  void CheckResult();
  bool Keep(TSwResult r);
  bool DrawInParts(TSwDevice* d, TSwPrimitive kind, uint32_t start, uint32_t count);

  Ref<TSwSwapChain> chain_;
  bool exclusive_ = false;
  uint32_t max_anisotropy_ = 1;
  uint32_t max_primitives_ = 0;  // of one draw call (the adapter's caps); 0: not known
  Ref<T3DSurface> target_;
  Ref<T3DSurface9> back_buffer_;
  uint8_t blend_mode_ = k3DBlendNormal;
  bool aniso_available_ = false, lod_bias_available_ = false, l8_available_ = false;
  Ref<TSwVertexBuffer> quad_;
  TDevStore* store_ = nullptr;
  uint32_t refresh_rate_ = 60;
  Ref<TInitData> request_;
  bool in_front_ = false;
  bool full_screen_ = false;
  bool lost_flag_ = false;
  uint64_t panel_window_ = 0;
  TPoint present_origin_;
};

}  // namespace kav
