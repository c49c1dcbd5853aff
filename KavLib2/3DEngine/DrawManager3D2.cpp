#include "KavLib2/3DEngine/DrawManager3D2.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "KavLib2/3DEngine/ColorGradeGenerator.h"
#include "KavLib2/3DEngine/DrawShaders.h"
#include "KavLib2/3DEngine/DrawVideo3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageHook.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {
// Pooled texture tiles of each size kept for the next pictures.
constexpr int32_t kKeptFreeTiles = 4;
}  // namespace

namespace {
TDrawTransitionHook g_transition_hook = nullptr;

uint32_t AlphaByte(float opacity) { return uint32_t(std::clamp(std::lround(opacity * 2.55), 0L, 255L)); }

T3DPoint Add(const T3DPoint& a, const T3DPoint& b) { return T3DPoint{a.x + b.x, a.y + b.y, a.z + b.z}; }
T3DPoint Scale(const T3DPoint& a, float s) { return T3DPoint{a.x * s, a.y * s, a.z * s}; }

uint32_t ScaleAlpha(uint32_t c, float opacity) {
  if (opacity >= 100) return c;
  const uint32_t a = uint32_t(std::lround((c >> 24) * opacity * 0.01));
  return (c & 0x00FFFFFFu) | std::min<uint32_t>(a, 255) << 24;
}

uint32_t Average(uint32_t a, uint32_t b) {
  uint32_t r = 0;
  for (int s = 0; s < 32; s += 8) r |= (((a >> s) & 0xFF) + ((b >> s) & 0xFF)) / 2 << s;
  return r;
}

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }
}  // namespace

void SetDrawTransitionHook(TDrawTransitionHook hook) { g_transition_hook = hook; }

// Departure: the drawer lock is the 3D layer's release lock, so device
// release and re-creation (and IsReady) hold it too and a texture being
// prepared never loses its renderer midway.
std::recursive_mutex& DrawerLock() { return Device3DReleaseLock(); }

std::u16string MultiTextureKey(int32_t level, int32_t columns, int32_t rows, bool alpha, bool grid) {
  std::string k = "MultiTexID: ";
  for (int32_t v : {level, columns, rows}) {
    k += std::to_string(v);
    k += ':';
  }
  k += alpha ? "True:" : "False:";
  k += grid ? "True" : "False";
  return Ascii(k);
}

T3DDrawer::T3DDrawer() : screen_(MakeRef<T3DScreen>()) {}

void T3DDrawer::Dispose() {
  // Frames still held by the video layer keep their shells. They are given
  // back outside the drawer's lock: a frame's monitor always comes first
  // (drawing a frame and the decoder filling one take the lock inside it).
  std::vector<Ref<T3DYUV>> frames;
  {
    std::lock_guard<std::recursive_mutex> g(DrawerLock());
    for (T3DYUV* y : yuv_images_)
      if (RefTryAddRef(y)) frames.push_back(Ref<T3DYUV>::Adopt(y));
    yuv_images_.clear();
  }
  for (const Ref<T3DYUV>& y : frames) y->GiveBack();
  frames.clear();
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  shader_stack_.clear();
  shaders_.clear();
  LayerTarget = nullptr;
  TransitionState = nullptr;
  target_pool_ = nullptr;
  half_pool_ = nullptr;
  box_aa_ = nullptr;
  shared_textures_.clear();
  texture_manager_ = nullptr;
  screen_ = nullptr;
  TDeviceDrawer::Dispose();
}

// ---- Frame ----

void T3DDrawer::UpdateLayout() {
  const int32_t w = screen_->Width(), h = screen_->Height();
  DeviceRect = TRect{0, 0, w, h};
  Camera = T3DPoint{w * 0.5f, h * 0.5f, float(-h)};
  if (!target_pool_) target_pool_ = MakeRef<TRenderTargetManager>(true);
  if (!half_pool_) half_pool_ = MakeRef<TRenderTargetManager>(true);
  target_pool_->SetSize(TSize{w, h});
  half_pool_->SetSize(TSize{w / 2, h / 2});
  last_device_rect_ = DeviceRect;
}

void T3DDrawer::BeginFrame() {
  if (texture_manager_) {
    // Departure: the tile pool is trimmed here. No draw of the last frame
    // is pending: pooled tiles beyond a few of
    // each size go. The pool is refilled from the device as pictures come.
    std::lock_guard<std::recursive_mutex> g(DrawerLock());
    PruneSharedTextures();
    texture_manager_->TrimFreeTiles(kKeptFreeTiles);
  }
  UpdateLayout();
  screen_->BeginScene();
  shader_stack_.clear();
  FrameRect = GetOutputRect();
  if (HasContentSize) SetContentSize(ContentSize);
}

bool T3DDrawer::EndFrame() { return screen_->EndScene(!NoPresent); }

bool T3DDrawer::IsReady() {
  // The slide loader asks too: the screen's renderer is read under the lock
  // its release and re-creation hold.
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  return screen_->DeviceReady();
}

void T3DDrawer::SetDrawDevice(TDrawDevice* device) {
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  screen_->SetDrawDevice(device);
  if (shaders_.empty())
    for (const std::string& name : DrawShaderNames())
      shaders_.push_back(MakeRef<TShader>(screen_.get(), LoadShaderCode(name), 0));
  UpdateLayout();
}

void T3DDrawer::Close() {
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  LogLine(u"T3DDrawer.Close");
  screen_->Close();
}

void T3DDrawer::SetContentSize(TSize size) {
  ContentSize = size;
  HasContentSize = true;
  const TRect out = GetOutputRect();
  if (out.IsEmpty()) return;
  const int32_t left = int32_t(std::nearbyint((out.Left + out.Right - size.cx) / 2.0));
  const int32_t top = int32_t(std::nearbyint((out.Top + out.Bottom - size.cy) / 2.0));
  FrameRect = TRect{left, top, left + size.cx, top + size.cy};
}

void T3DDrawer::FlushQuad() {
  if (IsReady()) screen_->Renderer()->DrawColorQuad();
}

void T3DDrawer::Clear(TColor32 color, uint32_t flags) { screen_->Clear(color, (flags & 2) != 0); }
void T3DDrawer::FillRect(TColor32 color, const TRect& rect) { screen_->FillRect(color, rect); }

int32_t T3DDrawer::ShaderLevel() {
  T3DEngine* e = Engine3D();
  return e ? e->ShaderLevel(screen_->Adapter()) : 0;
}

TShader* T3DDrawer::Shader(const std::string& name) const {
  const auto& names = DrawShaderNames();
  for (size_t i = 0; i < names.size() && i < shaders_.size(); ++i)
    if (names[i] == name) return shaders_[i].get();
  return nullptr;
}

void T3DDrawer::SetShader(TShader* shader) {
  if (shader)
    shader_stack_.push_back(shader);
  else if (!shader_stack_.empty())
    shader_stack_.pop_back();
  if (!IsReady()) return;
  screen_->Batch()->Flush();
  TShader* top = shader_stack_.empty() ? nullptr : shader_stack_.back();
  screen_->Renderer()->SetShader(top ? top->DeviceShader() : nullptr);
}

// ---- Coordinates ----

// The view is applied here, on the positions, rather than through the
// screen's camera: the camera keeps mapping device pixels one to one.
T3DPoint T3DDrawer::ToDeviceVector(const T3DPoint& v) const {
  const TFloatRect view = GetViewRect();
  const TRect& f = FrameRect.IsEmpty() ? DeviceRect : FrameRect;
  const float vw = view.Right - view.Left, vh = view.Bottom - view.Top;
  if (vw <= 0 || vh <= 0 || f.IsEmpty()) return v;
  const float sx = f.Width() / vw, sy = f.Height() / vh;
  return T3DPoint{v.x * sx, v.y * sy, v.z * sy};
}

T3DPoint T3DDrawer::ToDevice(const T3DPoint& p) const {
  const TFloatRect view = GetViewRect();
  const TRect& f = FrameRect.IsEmpty() ? DeviceRect : FrameRect;
  const T3DPoint q{p.x + Offset.x, p.y + Offset.y, p.z};
  const float vw = view.Right - view.Left, vh = view.Bottom - view.Top;
  if (vw <= 0 || vh <= 0 || f.IsEmpty()) return q;
  const float sx = f.Width() / vw, sy = f.Height() / vh;
  return T3DPoint{f.Left + (q.x - view.Left) * sx, f.Top + (q.y - view.Top) * sy, q.z * sy};
}

void T3DDrawer::RecordBounds(const T3DPoint* corners, int32_t count) {
  if (!InBlurLayer) return;
  for (int32_t i = 0; i < count; ++i) {
    const T3DPoint p = screen_->ProjectToPlane(corners[i]);
    DrawnBounds.Left = std::max(0, std::min(DrawnBounds.Left, int32_t(std::lround(p.x))));
    DrawnBounds.Top = std::max(0, std::min(DrawnBounds.Top, int32_t(std::lround(p.y))));
    DrawnBounds.Right = std::min(DeviceRect.Right, std::max(DrawnBounds.Right, int32_t(std::ceil(p.x))));
    DrawnBounds.Bottom = std::min(DeviceRect.Bottom, std::max(DrawnBounds.Bottom, int32_t(std::ceil(p.y))));
  }
}

// ---- Quads ----

void T3DDrawer::DrawQuadTextures(TCustomTexture* const* textures, const TFloatRect* sources, int32_t count,
                                 const T3DPoint corner[4], uint32_t color) {
  TScreenQuad q;
  for (int i = 0; i < 4; ++i) q.Corner[i] = corner[i];
  for (int32_t i = 0; i < count; ++i) {
    q.Textures[i] = textures[i];
    q.Source[i] = sources[i];
  }
  q.TextureCount = count;
  for (auto& c : q.Colors) c = color;
  screen_->DrawQuad(q);
}

void T3DDrawer::DrawTextureRect(TCustomTexture* texture, const TFloatRect& source, const TFloatRect& dest,
                                uint8_t alpha) {
  const T3DPoint c[4] = {{dest.Left, dest.Top, 0}, {dest.Right, dest.Top, 0}, {dest.Left, dest.Bottom, 0},
                         {dest.Right, dest.Bottom, 0}};
  TCustomTexture* t[1] = {texture};
  DrawQuadTextures(t, &source, 1, c, uint32_t(alpha) * 0x01010101u);
}

// ---- Images ----

TMultiTexture6* T3DDrawer::FindMultiTexture(TImage* image, const TImageDrawParams& params, bool create, bool fill,
                                            bool* from_rows) {
  if (from_rows) *from_rows = false;
  if (!image || image->Width() <= 0 || image->Height() <= 0) return nullptr;
  // The level asked for, within the levels the picture has.
  int32_t level = std::max(0, params.MipLevel);
  while (level > 0 && ((image->Width() >> level) < 1 || (image->Height() >> level) < 1)) --level;
  std::u16string key =
      MultiTextureKey(level, params.GridColumns, params.GridRows, params.AlphaFlag, params.GridFlag);
  // A part of the picture gets a multi-texture of its own (the key alone
  // would let two parts share one).
  const TFloatRect& sr = params.SourceRect;
  const bool part = sr.Right > sr.Left && sr.Bottom > sr.Top &&
                    !(sr.Left <= 0 && sr.Top <= 0 && sr.Right >= image->Width() && sr.Bottom >= image->Height());
  const double scale = std::ldexp(1.0, level);
  TRect rect;
  if (part) {
    rect = TRect{int32_t(std::floor(sr.Left / scale)), int32_t(std::floor(sr.Top / scale)),
                 int32_t(std::ceil(sr.Right / scale)), int32_t(std::ceil(sr.Bottom / scale))};
    key += Ascii(RectText3D(rect));
  }
  if (!texture_manager_) {
    if (!create) return nullptr;
    texture_manager_ = MakeRef<TTextureManager6>(screen_.get());
  }
  TTextureStore2* store = OwnTextureStore(image);
  if (store)
    for (auto& w : store->Items)
      if (w->Key == key) return w->Texture.get();
  if (!create) return nullptr;
  TBitmapStore* picture = image->Store();
  // Departure: an image whose store another image drew from already takes the same tiles, not a set of its own.
  PruneSharedTextures();
  for (const TSharedTexture& s : shared_textures_)
    if (s.Store == picture && s.Key == key) {
      ListInImageStore(image, store, key, s.Texture);
      return s.Texture.get();
    }
  Ref<TLevelRowReader> rows;
  if (fill && !part && !params.GridFlag && picture->CanProduceAgain()) rows = picture->OpenLevelRows(level);
  Ref<TMultiTexture6> mt;
  if (rows) {
    // Departure: filled here from a band of decoded rows at a time, with no source bitmap, so the whole level is never
    // in memory beside the textures. Filled before it is listed: a read that fails leaves nothing behind, as a failed
    // decode of the whole level did.
    mt = MakeRef<TMultiTexture6>(texture_manager_.get());
    mt->FilterFlag = params.FilterFlag;
    mt->PrepareFromRows(picture, level, rows.get(), params.AlphaFlag);
    if (from_rows) *from_rows = true;
  } else {
    Ref<TBitmap> bmp = picture->GetMipLevel(level, StdFormats().A8R8G8B8);
    if (!bmp || bmp->Width() < 1 || bmp->Height() < 1) return nullptr;
    TRect full{0, 0, bmp->Width(), bmp->Height()};
    if (part) {
      rect.Right = std::min(rect.Right, full.Right);
      rect.Bottom = std::min(rect.Bottom, full.Bottom);
      rect.Left = std::max(rect.Left, 0);
      rect.Top = std::max(rect.Top, 0);
      if (rect.IsEmpty()) return nullptr;
    } else {
      rect = full;
    }
    mt = MakeRef<TMultiTexture6>(texture_manager_.get());
    mt->Assign(bmp.get(), false, params.GridFlag, params.AlphaFlag, params.GridColumns, params.GridRows, rect);
    mt->SetSourceOrigin(picture, level);
  }
  ListInImageStore(image, store, key, mt);
  shared_textures_.push_back(TSharedTexture{picture, key, mt});
  return mt.get();
}

void T3DDrawer::ListInImageStore(TImage* image, TTextureStore2*& store, const std::u16string& key,
                                 const Ref<TMultiTexture6>& texture) {
  // The image's own list of tiles, made on its first, goes with the image.
  if (!store) {
    store = new TTextureStore2();
    store->Owner = texture_manager_.get();
    image->GetNotifyList()->Add(store);
  }
  auto w = MakeRef<TTextureWrapper>();
  w->Key = key;
  w->Texture = texture;
  store->Items.push_back(w);
}

void T3DDrawer::PruneSharedTextures() {
  // An entry whose multi-texture only this list holds goes: every image that
  // drew from it let it go (and its store may be gone, its address reused).
  std::erase_if(shared_textures_, [this](const TSharedTexture& s) {
    return s.Texture->RefCount() <= 1 || s.Texture->Manager() != texture_manager_.get();
  });
}

// The image's texture store of this drawer. The cache is kept per drawer
// and not per image alone: the multi-textures of one drawer hold tiles of its
// own screen, which another drawer (another device) cannot draw with. Stores
// whose drawer is gone are dropped on the way.
TTextureStore2* T3DDrawer::OwnTextureStore(TImage* image) {
  TList* list = image->GetNotifyList();
  TTextureStore2* own = nullptr;
  for (int32_t i = list->Count(); i-- > 0;) {
    auto* s = dynamic_cast<TTextureStore2*>(static_cast<TRefObject*>(list->Get(i)));
    if (!s) continue;
    // Entries whose manager is gone draw nothing; a manager made later at
    // the same address does not make them valid again.
    std::erase_if(s->Items, [](const Ref<TTextureWrapper>& w) { return !w->Texture || !w->Texture->Manager(); });
    if (s->Items.empty() && s->Owner != texture_manager_.get()) {
      list->Delete(i);
      s->Free();
    } else if (s->Owner == texture_manager_.get() && !own) {
      own = s;
    }
  }
  return own;
}

void T3DDrawer::PrepareImage(TImage* image, const TImageDrawParams& params) {
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  TMultiTexture6* mt = FindMultiTexture(image, params, true, true);
  if (!mt) return;
  mt->FilterFlag = params.FilterFlag;
  mt->Prepare();
  // Departure: the tiles hold the picture now; the decoded level is let go (and
  // decoded again should a tile ever need filling anew).
  mt->ReleaseSource();
  // Departure: so does the compressed file where the store can read it again.
  if (!mt->HoldsSource() && mt->Filled()) image->Store()->TrimSource();
}

void T3DDrawer::FreeOwnerTextures(TImage* image) {
  if (!image) return;
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  TList* list = image->GetNotifyList();
  for (int32_t i = list->Count(); i-- > 0;)
    if (auto* s = dynamic_cast<TTextureStore2*>(static_cast<TRefObject*>(list->Get(i)))) {
      list->Delete(i);
      s->Free();
    }
  PruneSharedTextures();
}

void T3DDrawer::DrawImage(TImage* image, const T3DPoint& origin, const TImageDrawParams& params,
                          const T3DPoint& y_axis, const T3DPoint& x_axis, TSize /*texture_size*/) {
  if (!image || !IsReady()) return;
  const T3DPoint p0 = ToDevice(origin);
  const T3DPoint xv = ToDeviceVector(x_axis), yv = ToDeviceVector(y_axis);
  T3DPoint c[4] = {p0, Add(p0, xv), Add(p0, yv), Add(Add(p0, xv), yv)};
  if (params.AsRect) {
    c[1] = T3DPoint{p0.x + xv.x, p0.y, p0.z};
    c[2] = T3DPoint{p0.x, p0.y + yv.y, p0.z};
    c[3] = T3DPoint{p0.x + xv.x, p0.y + yv.y, p0.z};
  }
  RecordBounds(c, 4);
  const uint32_t alpha = AlphaByte(params.Opacity);
  if (alpha == 0) return;
  TShader* grade = nullptr;
  if (params.GradeMode == 1 || params.GradeMode == 2) {
    grade = Shader(params.GradeMode == 1 ? "color_grading" : "color_grade_linear");
    if (!grade || !grade->DeviceShader()) grade = nullptr;
  }
  if (grade) {
    SetShader(grade);
    T3DRenderer* r = screen_->Renderer();
    r->SetTexture(1, params.GradeLut1 ? params.GradeLut1->GetTexture() : nullptr);
    r->SetTexture(2, params.GradeLut2 ? params.GradeLut2->GetTexture() : nullptr);
    // Without its lookup a grade would sample nothing: it is left at 0.
    const bool have = params.GradeMode == 1 ? params.GradeLut1 != nullptr : params.GradeLut2 != nullptr;
    const float t[4] = {have ? params.GradeMix : 0.0f, 0, 0, 0};
    r->SetShaderConstants(true, 0, t, 1);
  }
  // The notify list changes under the drawer lock (texture stores are
  // added and dropped from the loader thread), so it is read under it too.
  std::lock_guard<std::recursive_mutex> g(DrawerLock());
  // A texture of the image's own (a render target attached to it).
  TCustomTexture* own = nullptr;
  if (TList* list = image->GetNotifyList())
    for (int32_t i = 0; i < list->Count() && !own; ++i)
      own = dynamic_cast<TCustomTexture*>(static_cast<TRefObject*>(list->Get(i)));
  if (own && own->GetTexture()) {
    const TFloatRect& sr = params.SourceRect;
    const TFloatRect src = (sr.Right > sr.Left && sr.Bottom > sr.Top)
                               ? sr
                               : TFloatRect{0, 0, float(image->Width()), float(image->Height())};
    const bool saved = own->BlendFlag;
    own->BlendFlag = params.BlendFlag;
    TCustomTexture* t[1] = {own};
    DrawQuadTextures(t, &src, 1, c, params.BlendFlag ? alpha * 0x01010101u : (alpha << 24 | 0x00FFFFFFu));
    own->BlendFlag = saved;
  } else {
    TMultiTexture6* mt = nullptr;
    bool from_rows = false;
    try {
      // Departure: a multi-texture first made here (its prepared one gone with the image that held it) is filled
      // from bands of rows too where the store can read its level so: made whole it was beside the tiles at once.
      mt = FindMultiTexture(image, params, true, true, &from_rows);
    } catch (const Exception&) {
      // Departure: a picture whose level cannot be made (a broken file, or one gone or changed since its compressed
      // copy was let go) draws nothing instead of failing the frame.
      mt = nullptr;
    }
    if (mt) {
      mt->Alpha = uint8_t(alpha);
      mt->FilterFlag = params.FilterFlag;
      mt->BlendFlag = params.BlendFlag;
      mt->ColorFlag = params.Colorize;
      mt->Color = params.Colorize ? ScaleAlpha(params.Color, params.Opacity) : 0xFFFFFFFFu;
      mt->LodBias = params.MipBias;
      mt->Draw(c);
      // A picture drawn before it was prepared (or prepared while the
      // device was not ready) lets go of its decoded level here, and of its
      // compressed file once its tiles hold it (filled from rows they do).
      if (from_rows ? mt->Filled() : mt->HoldsSource() && mt->ReleaseSource()) image->Store()->TrimSource();
    }
  }
  if (grade) {
    SetShader(nullptr);
    screen_->Renderer()->SetTexture(1, nullptr);
    screen_->Renderer()->SetTexture(2, nullptr);
  }
}

// ---- Boxes, frames, lines ----

void T3DDrawer::FillBox(const T3DPoint& position, TFloatPoint size, const TBoxParams& box, const T3DPoint& x_edge,
                        const T3DPoint& y_edge) {
  if (!(box.Opacity > 0) || !IsReady()) return;
  const T3DPoint p0 = ToDevice(position);
  const T3DPoint xv = ToDeviceVector(Scale(x_edge, size.x)), yv = ToDeviceVector(Scale(y_edge, size.y));
  const T3DPoint c[4] = {p0, Add(p0, xv), Add(p0, yv), Add(Add(p0, xv), yv)};
  RecordBounds(c, 4);
  const uint32_t a = ScaleAlpha(box.ColorA, box.Opacity), b = ScaleAlpha(box.ColorB, box.Opacity);
  const uint32_t m = Average(a, b);
  // Corner colours by gradient code (0 A, 1 B, 2 their mean), listed from
  // the bottom-right corner: bottom right, bottom left, top right, top left.
  // Read in that order the first colour starts where the shadow gradients
  // of the same codes start: left for 6, top for 5, top left for 0, top
  // right for 1. (Read from the top left, as the plain table suggests, every
  // box and background gradient came out mirrored, colour 1 at the right or
  // the bottom.) A code outside the table (show data) fills with the first
  // colour instead of failing the frame.
  static const uint8_t kTable[9][4] = {{1, 2, 2, 0}, {2, 1, 0, 2}, {0, 2, 2, 1}, {2, 0, 1, 2}, {0, 0, 1, 1},
                                       {1, 1, 0, 0}, {1, 0, 1, 0}, {0, 1, 0, 1}, {0, 0, 0, 0}};
  const uint32_t pick[3] = {a, b, m};
  const uint8_t* row = kTable[box.Gradient <= 8 ? box.Gradient : 8];
  uint32_t colors[4];  // quad order: top left, top right, bottom left, bottom right
  for (int i = 0; i < 4; ++i) colors[i] = pick[row[3 - i]];
  // A graded fill goes through the picture road, whose shaders grade the
  // texture's colours: the fill is painted into a picture (one pixel for a
  // solid one, 64 x 64 for a gradient) stretched over the quad. Its edges
  // are not antialiased.
  if ((box.GradeMode == 1 || box.GradeMode == 2) && box.GradeMix != 0 && (box.GradeLut1 || box.GradeLut2)) {
    const uint32_t own[3] = {box.ColorA, box.ColorB, Average(box.ColorA, box.ColorB)};
    uint32_t corner[4];
    for (int i = 0; i < 4; ++i) corner[i] = own[row[3 - i]];
    const bool flat = corner[0] == corner[1] && corner[0] == corner[2] && corner[0] == corner[3];
    const int32_t n = flat ? 1 : 64;
    Ref<TSysBitmap> fill = CreateSysBitmap(n, n, StdFormats().A8R8G8B8);
    if (fill) {
      for (int32_t y = 0; y < n; ++y)
        for (int32_t x = 0; x < n; ++x) {
          const float u = (float(x) + 0.5f) / float(n), v = (float(y) + 0.5f) / float(n);
          uint32_t px = 0;
          for (int shift = 0; shift < 32; shift += 8) {
            auto ch = [&](int i) { return float((corner[i] >> shift) & 255u); };
            const float top = ch(0) + (ch(1) - ch(0)) * u, bottom = ch(2) + (ch(3) - ch(2)) * u;
            px |= uint32_t(std::lround(std::clamp(top + (bottom - top) * v, 0.0f, 255.0f))) << shift;
          }
          fill->FillRect(TRect{x, y, x + 1, y + 1}, px);
        }
      Ref<TImage> picture = ImageFromBitmapHook()(fill.release(), true, u"");
      if (picture) {
        TImageDrawParams p = DefaultImageDrawParams();
        p.Opacity = box.Opacity;
        p.FilterFlag = true;
        p.GradeMode = box.GradeMode;
        p.GradeMix = box.GradeMix;
        p.GradeLut1 = box.GradeLut1;
        p.GradeLut2 = box.GradeLut2;
        DrawImage(picture.get(), position, p, Scale(y_edge, size.y), Scale(x_edge, size.x), TSize{n, n});
        FreeOwnerTextures(picture.get());
        return;
      }
    }
  }
  const uint32_t mask = (box.EdgeLeft ? 1u : 0u) | (box.EdgeTop ? 2u : 0u) | (box.EdgeRight ? 4u : 0u) |
                        (box.EdgeBottom ? 8u : 0u);
  if (mask == 0) {
    TScreenQuad q;
    for (int i = 0; i < 4; ++i) {
      q.Corner[i] = c[i];
      q.Colors[i] = colors[i];
    }
    screen_->DrawQuad(q);
    return;
  }
  if (!box_aa_) box_aa_ = MakeRef<TBoxAntialiaser>(screen_.get());
  box_aa_->DrawBox(p0, xv, mask, colors, yv);
}

void T3DDrawer::DrawFrame(const TBoxParams& box, const T3DPoint& origin, bool antialias, TColor32 color_a,
                          TColor32 color_b, TFloatPoint size, TFloatPoint thickness) {
  if (!(thickness.x > 0) || !(thickness.y > 0)) return;
  TBoxParams b = DefaultBoxParams();
  b.ColorA = color_a;
  b.ColorB = color_b;
  b.Opacity = box.Opacity;
  b.Gradient = box.Gradient;
  const T3DPoint ex{1, 0, 0}, ey{0, 1, 0};
  auto strip = [&](float x, float y, float w, float h, bool l, bool t, bool r, bool bo) {
    TBoxParams s = b;
    s.EdgeLeft = antialias && l;
    s.EdgeTop = antialias && t;
    s.EdgeRight = antialias && r;
    s.EdgeBottom = antialias && bo;
    FillBox(T3DPoint{origin.x + x, origin.y + y, origin.z}, TFloatPoint{w, h}, s, ex, ey);
  };
  strip(0, 0, thickness.x, size.y, true, true, false, true);
  strip(size.x - thickness.x, 0, thickness.x, size.y, false, true, true, true);
  if (size.x - 2 * thickness.x > 0) {
    strip(thickness.x, 0, size.x - 2 * thickness.x, thickness.y, false, true, false, false);
    strip(thickness.x, size.y - thickness.y, size.x - 2 * thickness.x, thickness.y, false, false, false, true);
  }
}

void T3DDrawer::DrawLine(const T3DPoint& a, const T3DPoint& b, TColor32 color) {
  if (!IsReady()) return;
  const T3DPoint p = ToDevice(a), q = ToDevice(b);
  const float dx = q.x - p.x, dy = q.y - p.y;
  const float len = std::sqrt(dx * dx + dy * dy);
  if (len <= 0) return;
  // One pixel wide: half a pixel to each side of the line.
  const float nx = -dy / len * 0.5f, ny = dx / len * 0.5f;
  TScreenQuad quad;
  quad.Corner[0] = T3DPoint{p.x + nx, p.y + ny, p.z};
  quad.Corner[1] = T3DPoint{q.x + nx, q.y + ny, q.z};
  quad.Corner[2] = T3DPoint{p.x - nx, p.y - ny, p.z};
  quad.Corner[3] = T3DPoint{q.x - nx, q.y - ny, q.z};
  for (auto& c : quad.Colors) c = color;
  RecordBounds(quad.Corner, 4);
  screen_->DrawQuad(quad);
}

// ---- Offscreen targets, layers, blur, masks ----

Ref<TRenderTargetTexture> T3DDrawer::BeginOffscreen() {
  Ref<TRenderTargetTexture> t = target_pool_ ? target_pool_->Acquire(screen_.get()) : nullptr;
  if (!t) return nullptr;
  // Drawn into with premultiplied blending; drawn out of as premultiplied.
  t->SetPremultiplied(true);
  screen_->PushRenderTarget(t.get(), 0, 0);
  screen_->FillRect(0, TRect{0, 0, t->ImageSize().cx, t->ImageSize().cy});
  return t;
}

void T3DDrawer::EndOffscreen(TRenderTargetTexture* target, bool blend, uint8_t alpha) {
  if (!target) return;
  screen_->PopRenderTarget();
  const bool saved = target->BlendFlag;
  target->BlendFlag = blend;
  const TSize s = target->ImageSize();
  DrawTextureRect(target, TFloatRect{0, 0, float(s.cx), float(s.cy)}, TFloatRect{0, 0, float(s.cx), float(s.cy)}, alpha);
  target->BlendFlag = saved;
  target_pool_->Release(target);
}

bool T3DDrawer::Render(TDrawItem* item) {
  if (!item) return InheritedRender(item);
  const float v = item->LayerValue();
  // An outermost item needs its frame: layers open only inside one.
  if (RenderDepth() == 0 || InBlurLayer || (v < 0.00001f && v >= 0) || (v < 0 && LayerTarget))
    return InheritedRender(item);
  const float fw = float(FrameRect.Width());
  const float s = (FrameRect.IsEmpty() || !(ViewSize.x > 0)) ? 1.0f : ViewSize.x / fw;
  if (v > 0) {
    if (ShaderLevel() == 0) return InheritedRender(item);  // no blur programs: drawn plainly
    InBlurLayer = true;
    DrawnBounds = TRect{INT_MAX, INT_MAX, INT_MIN, INT_MIN};
    BlurItem(item, double(v) / 1000.0 * s);
    InBlurLayer = false;
    return true;
  }
  BeginLayer();
  const bool r = InheritedRender(item);
  EndLayer(-v / 100.0f * s);
  return r;
}

void T3DDrawer::RestoreView() {
  screen_->SetViewState(SavedView);
}

void T3DDrawer::BeginLayer() {
  if (ShaderLevel() < 2 || !IsReady() || LayerTarget) return;
  SavedView = screen_->GetViewState();
  LayerViewport = screen_->Viewport();
  LayerTarget = BeginOffscreen();
  if (LayerTarget) RestoreView();
}

void T3DDrawer::EndLayer(float amount) {
  if (ShaderLevel() < 2 || !LayerTarget) return;
  Ref<TRenderTargetTexture> t = std::move(LayerTarget);
  if (IsReady()) {
    screen_->PopRenderTarget();
    RestoreView();
    TShader* sh = Shader("unsharp");
    SetShader(sh);
    const TSize ts = t->TextureSize();
    const float c[3][4] = {{1.0f / ts.cx, 1.0f / ts.cy, 0, 0}, {0, 0, 0, 0}, {amount / 100.0f, 0, 0, 0}};
    screen_->Renderer()->SetShaderConstants(true, 0, &c[0][0], 3);
    const TSize s = t->ImageSize();
    DrawTextureRect(t.get(), TFloatRect{0, 0, float(s.cx), float(s.cy)}, TFloatRect{0, 0, float(s.cx), float(s.cy)});
    SetShader(nullptr);
    RestoreView();
  }
  target_pool_->Release(t.get());
}

void T3DDrawer::BlurPass(TCustomTexture* src, const TFloatRect& src_rect, TCustomTexture* dst, const TRect& dst_rect,
                         bool horizontal, double strength, double step) {
  if (dst) {
    screen_->PushRenderTarget(dst, 0, 0);
    screen_->FillRect(0, dst_rect);
  }
  SetShader(Shader(horizontal ? "gauss_blur_h7" : "gauss_blur_v7"));
  const double f = strength;
  const TSize ts = src->TextureSize();
  const float c[2][4] = {{float(0.065722 * f), float(0.108356 * f), float(0.17865 * f), float(0.294544 * f + 1 - f)},
                         {float(step / (horizontal ? ts.cx : ts.cy)), 0, 0, 0}};
  screen_->Renderer()->SetShaderConstants(true, 0, &c[0][0], 2);
  DrawTextureRect(src, src_rect,
                  TFloatRect{float(dst_rect.Left), float(dst_rect.Top), float(dst_rect.Right), float(dst_rect.Bottom)});
  SetShader(nullptr);
  if (dst) screen_->PopRenderTarget();
}

void T3DDrawer::BlurItem(TDrawItem* item, double r) {
  LastBlur = TBlurTrace{};
  SavedView = screen_->GetViewState();
  Ref<TRenderTargetTexture> t = BeginOffscreen();
  if (!t) return;
  RestoreView();
  InheritedRender(item);
  screen_->PopRenderTarget();
  RestoreView();
  // Nothing drawn: nothing to blur.
  if (DrawnBounds.IsEmpty()) {
    target_pool_->Release(t.get());
    return;
  }
  // The passes cover what was drawn grown by the blur's reach (three taps
  // of every pass's step), so the blurred picture is not cut at the item's
  // edge.
  const int32_t reach = int32_t(std::ceil(3.0 * 2.0 * std::max(r, 1.0))) + 2;
  const TRect b{std::max(DeviceRect.Left, DrawnBounds.Left - reach), std::max(DeviceRect.Top, DrawnBounds.Top - reach),
                std::min(DeviceRect.Right, DrawnBounds.Right + reach),
                std::min(DeviceRect.Bottom, DrawnBounds.Bottom + reach)};
  const TFloatRect full{float(b.Left), float(b.Top), float(b.Right), float(b.Bottom)};
  const TRect half_rect{b.Left / 2, b.Top / 2, (b.Right + 1) / 2, (b.Bottom + 1) / 2};
  const TFloatRect half{float(half_rect.Left), float(half_rect.Top), float(half_rect.Right), float(half_rect.Bottom)};
  Ref<TRenderTargetTexture> h = half_pool_->Acquire(screen_.get());
  if (!h) {
    target_pool_->Release(t.get());
    return;
  }
  h->SetPremultiplied(true);
  if (r >= 0.00001 && r < 1) {
    // Below one pixel: the picture mixed with its half-size copy.
    const double alpha = (r - 0.00001) / 0.99999;
    screen_->PushRenderTarget(h.get(), 0, 0);
    screen_->FillRect(0, half_rect);
    DrawTextureRect(t.get(), full, half);
    screen_->PopRenderTarget();
    RestoreView();
    SetShader(Shader("gauss_mix"));
    const float c[4] = {float(alpha), 0, 0, 0};
    screen_->Renderer()->SetShaderConstants(true, 0, c, 1);
    TCustomTexture* tx[2] = {t.get(), h.get()};
    const TFloatRect src[2] = {full, half};
    const T3DPoint q[4] = {{full.Left, full.Top, 0}, {full.Right, full.Top, 0}, {full.Left, full.Bottom, 0},
                           {full.Right, full.Bottom, 0}};
    DrawQuadTextures(tx, src, 2, q, 0xFFFFFFFF);
    SetShader(nullptr);
    LastBlur.Mixed = true;
    LastBlur.MixAlpha = alpha;
  } else {
    int32_t n = 0;
    double f = 0;
    if (r > 7) {
      const double q = std::log2(r / 7);
      n = int32_t(std::trunc(q));
      f = q - n;
      if (f > 0)
        ++n;
      else
        f += 1;
    } else if (r > 1) {
      f = (r - 1) / 6;
    }
    // n full pairs, then the last pair of strength f: the step doubles
    // each pair.
    double step = 1;
    int32_t pairs = 0;
    for (int32_t i = 0; i < n; ++i, step *= 2, ++pairs) {
      BlurPass(t.get(), full, h.get(), half_rect, true, 1, step);
      BlurPass(h.get(), half, t.get(), b, false, 1, step);
    }
    BlurPass(t.get(), full, h.get(), half_rect, true, f, step);
    RestoreView();
    BlurPass(h.get(), half, nullptr, b, false, f, step);
    LastBlur.FullPairs = pairs;
    LastBlur.LastStrength = f;
    LastBlur.LastStep = step;
  }
  half_pool_->Release(h.get());
  target_pool_->Release(t.get());
}

void T3DDrawer::DrawWithEffect(TDrawItem* content, TDrawItem* mask, TImage* image) {
  if (ShaderLevel() == 0 || !IsReady()) return;
  SavedView = screen_->GetViewState();
  Ref<TRenderTargetTexture> m = BeginOffscreen();
  if (!m) return;
  if (image) {
    // The optional picture lies under the mask over the frame.
    const TRect f = FrameRect.IsEmpty() ? DeviceRect : FrameRect;
    TImageDrawParams p = DefaultImageDrawParams();
    const TFloatPoint saved_offset = Offset;
    Offset = TFloatPoint{};
    const TFloatRect saved_view = ViewRect;
    ViewRect = TFloatRect{};
    DrawImage(image, T3DPoint{float(f.Left), float(f.Top), 0}, p, T3DPoint{0, float(f.Height()), 0},
              T3DPoint{float(f.Width()), 0, 0}, TSize{f.Width(), f.Height()});
    Offset = saved_offset;
    ViewRect = saved_view;
  }
  RestoreView();
  ++EffectPassDepth[1];
  if (mask) InheritedRender(mask);
  --EffectPassDepth[1];
  screen_->PopRenderTarget();
  Ref<TRenderTargetTexture> c = BeginOffscreen();
  if (c) {
    RestoreView();
    ++EffectPassDepth[0];
    if (content) InheritedRender(content);
    --EffectPassDepth[0];
    screen_->PopRenderTarget();
    RestoreView();
    screen_->Batch()->Flush();
    screen_->Renderer()->SetOption(k3DBlendSeparateAlpha);
    SetShader(Shader("premul3"));
    const TSize s = c->ImageSize();
    const TFloatRect r{0, 0, float(s.cx), float(s.cy)};
    TCustomTexture* tx[2] = {c.get(), m.get()};
    const TFloatRect src[2] = {r, r};
    const T3DPoint q[4] = {{0, 0, 0}, {r.Right, 0, 0}, {0, r.Bottom, 0}, {r.Right, r.Bottom, 0}};
    // The program un-premultiplies; the draw blends by source alpha.
    c->SetPremultiplied(false);
    m->SetPremultiplied(false);
    DrawQuadTextures(tx, src, 2, q, 0xFFFFFFFF);
    SetShader(nullptr);
    screen_->Renderer()->SetOption(k3DBlendNormal);
    target_pool_->Release(c.get());
  }
  target_pool_->Release(m.get());
  RestoreView();
}

// ---- Transitions, capture, view ----

void T3DDrawer::DrawTransition(TDrawItem* from, TDrawItem* to, TDrawFilterParams* params) {
  if (g_transition_hook) {
    g_transition_hook(this, from, to, params);
    return;
  }
  // No transition layer: the slide being shown.
  if (to) InheritedRender(to);
}

bool T3DDrawer::CaptureBackBuffer(TBitmap* bitmap) {
  if (!NoPresent) return true;
  T3DRenderer* r = screen_->Renderer();
  if (!r || !bitmap) return false;
  Ref<T3DSurface> bb;
  if (!r->GetBackBuffer(bb)) return false;
  return bb->CopyToBitmap(bitmap);
}

void T3DDrawer::SetView(const TFloatRect& view, TFloatPoint size, bool whole_screen, const T3DPoint& camera) {
  TDeviceDrawer::SetView(view, size, whole_screen, camera);
  if (screen_->TargetDepth() <= 1 && whole_screen && IsReady())
    screen_->SetViewport(TRect{0, 0, screen_->Width(), screen_->Height()}, 0, 1);
}

}  // namespace kav
