// The 3D draw manager: the device drawer realised on a 3D screen. It draws
// images (through tiled textures kept per image), boxes with gradients and
// soft edges, frames, lines, video frames, layers (blur and sharpening),
// masked content and, through the transition hook, transitions.
//
// Threads and locks: drawing runs under the render lock (Render); the
// drawer lock guards device binding, closing and texture preparation, so
// the slide loader can prepare or drop an image's textures while the engine
// draws.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/3DEngine/vxYUVImage.h"
#include "VoRav/3DBasics/Dev3DApp2.h"
#include "VoRav/3DBasics/Dev3DExt2.h"
#include "VoRav/3DBasics/Dev3DRTPool.h"
#include "VoRav/Graphics/vxImage.h"

namespace kav {

class T3DDrawer;
class T3DYUV;

// Transitions are drawn by the transition layer, which installs this hook;
// without one a transition draws the "to" item plainly. The hook runs under
// the render lock with the drawer ready.
using TDrawTransitionHook = void (*)(T3DDrawer* drawer, TDrawItem* from, TDrawItem* to, TDrawFilterParams* params);
void SetDrawTransitionHook(TDrawTransitionHook hook);

// One multi-texture of an image, by key.
class TTextureWrapper : public TRefObject {
 public:
  std::u16string Key;
  Ref<TMultiTexture6> Texture;
};

// One drawer's textures of one image, kept in the image's notify list. An
// image drawn by several drawers (several screens) carries one store per
// drawer, told apart by the texture manager whose tiles its entries use.
class TTextureStore2 : public TRefObject {
 public:
  // Not owned: a store outliving its manager has entries with no manager,
  // which the next drawer to look at the image drops.
  TTextureManager6* Owner = nullptr;
  std::vector<Ref<TTextureWrapper>> Items;
};

// The key of an image's multi-texture for a level, grid and flags:
// "MultiTexID: <level>:<columns>:<rows>:<alpha>:<grid>".
std::u16string MultiTextureKey(int32_t level, int32_t columns, int32_t rows, bool alpha, bool grid);

class T3DDrawer : public TDeviceDrawer {
 public:
  T3DDrawer();

  // ---- TDeviceDrawer ----
  void BeginFrame() override;
  bool EndFrame() override;
  bool IsReady() override;
  bool UsesShaders() override { return RenderingSlides; }
  void SetDrawDevice(TDrawDevice* device) override;
  void Close() override;
  void PrepareImage(TImage* image, const TImageDrawParams& params) override;
  void FreeOwnerTextures(TImage* image) override;
  void SetContentSize(TSize size) override;
  void FlushQuad() override;
  void Clear(TColor32 color, uint32_t flags) override;
  void FillRect(TColor32 color, const TRect& rect) override;
  bool Render(TDrawItem* item) override;
  void DrawTransition(TDrawItem* from, TDrawItem* to, TDrawFilterParams* params) override;
  void DrawImage(TImage* image, const T3DPoint& origin, const TImageDrawParams& params, const T3DPoint& y_axis,
                 const T3DPoint& x_axis, TSize texture_size) override;
  void FillBox(const T3DPoint& position, TFloatPoint size, const TBoxParams& box, const T3DPoint& x_edge,
               const T3DPoint& y_edge) override;
  void DrawFrame(const TBoxParams& box, const T3DPoint& origin, bool antialias, TColor32 color_a, TColor32 color_b,
                 TFloatPoint size, TFloatPoint thickness) override;
  TYUVImage* CreateVideoTextures(int32_t width, int32_t height, bool rgba) override;
  void DrawVideo(TYUVImage* frame, const T3DPoint& origin, const TVideoDrawParams& params, const T3DPoint& y_axis,
                 const T3DPoint& x_axis) override;
  void DrawLine(const T3DPoint& a, const T3DPoint& b, TColor32 color) override;
  void DrawWithEffect(TDrawItem* content, TDrawItem* mask, TImage* image) override;
  void BeginLayer() override;
  void EndLayer(float amount) override;
  bool CaptureBackBuffer(TBitmap* bitmap) override;
  void SetView(const TFloatRect& view, TFloatPoint size, bool whole_screen, const T3DPoint& camera) override;

  // ---- Own operations ----
  T3DScreen* Screen() const { return screen_.get(); }
  TRenderTargetManager* TargetPool() const { return target_pool_.get(); }
  TRenderTargetManager* HalfTargetPool() const { return half_pool_.get(); }
  void UpdateLayout();
  // 0 no pixel shaders, 1 filters and video, 2 also layers.
  int32_t ShaderLevel();
  // Pushes a shader (null pops one) and sets the one now on top.
  void SetShader(TShader* shader);
  TShader* Shader(const std::string& name) const;
  // A pooled target made the render target and cleared to transparent.
  Ref<TRenderTargetTexture> BeginOffscreen();
  // Draws the target over its size with its blend flag set to `blend` for
  // this draw, at `alpha` (255: as it is), and gives it back to the pool.
  void EndOffscreen(TRenderTargetTexture* target, bool blend, uint8_t alpha = 255);
  // Draws a texture over device rectangle `dest` from `source` (its pixels),
  // in premultiplied white at `alpha`.
  void DrawTextureRect(TCustomTexture* texture, const TFloatRect& source, const TFloatRect& dest, uint8_t alpha = 255);

  // Device positions of the current frame from item positions: the offset
  // added and the view mapped onto the frame rectangle.
  T3DPoint ToDevice(const T3DPoint& p) const;
  T3DPoint ToDeviceVector(const T3DPoint& v) const;

  // ---- State ----
  TSize ContentSize;
  Ref<TRenderTargetTexture> LayerTarget;
  // Kept for the transition layer (its effecter), released with the drawer.
  Ref<TRefObject> TransitionState;
  TDrawItem* EffectItem = nullptr;
  bool InBlurLayer = false;
  int32_t EffectPassDepth[2] = {0, 0};
  bool RenderingSlides = false;
  TRect DrawnBounds;
  TRect LayerViewport;
  T3DViewState SavedView;
  // Blur passes run by the last blur (for tests): pairs, last strength, step.
  struct TBlurTrace {
    int32_t FullPairs = 0;
    double LastStrength = 0;
    double LastStep = 0;
    bool Mixed = false;
    double MixAlpha = 0;
  } LastBlur;

  // Internal: a frame image leaves the list.
  void RemoveYuv(T3DYUV* yuv);

 protected:
  void Dispose() override;

 private:
  bool InheritedRender(TDrawItem* item) { return TDeviceDrawer::Render(item); }
  void BlurItem(TDrawItem* item, double radius);
  void BlurPass(TCustomTexture* src, const TFloatRect& src_rect, TCustomTexture* dst, const TRect& dst_rect,
                bool horizontal, double strength, double step);
  void RecordBounds(const T3DPoint* corners, int32_t count);
  void RestoreView();
  // With `fill`, a multi-texture made here is filled too: from a band of
  // the level's rows at a time where the store can read the level so (the
  // level is then never whole in memory), else through Prepare;
  // `from_rows`, when given, tells whether it was made so.
  TMultiTexture6* FindMultiTexture(TImage* image, const TImageDrawParams& params, bool create, bool fill = false,
                                   bool* from_rows = nullptr);
  TTextureStore2* OwnTextureStore(TImage* image);
  // Lists `texture` under `key` in the image's store, made first if `store` is null.
  void ListInImageStore(TImage* image, TTextureStore2*& store, const std::u16string& key,
                        const Ref<TMultiTexture6>& texture);
  // Drops the shared multi-textures no image holds any more.
  void PruneSharedTextures();
  void DrawQuadTextures(TCustomTexture* const* textures, const TFloatRect* sources, int32_t count,
                        const T3DPoint corner[4], uint32_t color);

  Ref<T3DScreen> screen_;
  Ref<TRenderTargetManager> target_pool_, half_pool_;
  Ref<TTextureManager6> texture_manager_;
  // The multi-textures made here by picture store and key, so that two
  // images of one store (a slide made twice) draw from one set of tiles.
  struct TSharedTexture {
    TBitmapStore* Store;
    std::u16string Key;
    Ref<TMultiTexture6> Texture;
  };
  std::vector<TSharedTexture> shared_textures_;
  Ref<TBoxAntialiaser> box_aa_;
  std::vector<T3DYUV*> yuv_images_;
  std::vector<Ref<TShader>> shaders_;
  std::vector<TShader*> shader_stack_;
  TRect last_device_rect_;
};

// The process-wide drawer lock.
std::recursive_mutex& DrawerLock();

}  // namespace kav
