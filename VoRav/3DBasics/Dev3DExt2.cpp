#include "VoRav/3DBasics/Dev3DExt2.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "VoRav/3DBasics/TileBitmap.h"
#include "VoRav/3DBasics/TileFill.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/SysLock.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {
// Departure: six flat and tall sizes follow the usual nine, so that a picture
// a few rows high (a long line of text) is not held in tiles of 256 rows: the
// last strip of any picture takes tiles of at most about twice its rows.
const TSize kTileSizes[] = {{512, 512}, {512, 256}, {256, 512}, {256, 256}, {256, 128}, {128, 256}, {256, 64},
                            {64, 256},  {64, 64},   {512, 128}, {128, 512}, {512, 64},  {64, 512},  {512, 32},
                            {32, 512}};
}  // namespace

// ---- TTextureTile ----

TTextureTile::TTextureTile(TTileManager* manager, T3DScreen* screen, TSize size)
    : TCustomTexture(screen), manager_(manager) {
  SetKind(k3DTexColorAlpha);
  SetSize(size);
}

void TTextureTile::Fill(TSysBitmap* level0) {
  TBitmap* src = Owner ? Owner->Source() : nullptr;
  if (!src || level0->BytesPerPixel() != 4 || src->Width() < 1 || src->Height() < 1) return;
  const int32_t w = std::min(UsedWidth, level0->Width()), h = std::min(UsedHeight, level0->Height());
  // Only the tile's columns of each row are read (TileFillPlain is the
  // pixel-by-pixel form it is tested against).
  TileFill(src, OriginX - Owner->SourceLeft(), OriginY - Owner->SourceTop(), w, h, level0);
  Dirty = false;
}

void TTextureTile::Dispose() {
  if (manager_) {
    auto& all = manager_->all_;
    all.erase(std::remove(all.begin(), all.end(), this), all.end());
    manager_ = nullptr;
  }
  TCustomTexture::Dispose();
}

void TTextureTile::Refresh() {
  // A tile taken from the pool shows another picture: fill it again.
  if (Dirty && texture_) Upload();
}

bool TTextureTile::Preload() {
  Refresh();
  const bool first = !Resident;
  const bool ok = TCustomTexture::Preload();
  if (ok && first) {
    Resident = true;
    SysLockSleep(1);
    CallLoadCallback(this);
  }
  // Dirty is cleared by Fill alone: a tile its source could not fill stays
  // dirty (and is not drawn) rather than count as filled.
  return ok;
}

// ---- TTileManager ----

TTileManager::TTileManager(TTextureManager6* owner, TSize size) : owner_(owner), size_(size) {}

Ref<TTextureTile> TTileManager::Give() {
  if (!free_.empty()) {
    Ref<TTextureTile> t = std::move(free_.back());
    free_.pop_back();
    return t;
  }
  if (!owner_ || !owner_->Screen()) return nullptr;
  auto t = MakeRef<TTextureTile>(this, owner_->Screen(), size_);
  // A size whose texture the device refuses cannot serve.
  if (owner_->Screen()->DeviceReady() && !t->GetTexture()) return nullptr;
  all_.push_back(t.get());
  return t;
}

void TTileManager::Take(TTextureTile* tile) {
  tile->Owner = nullptr;
  tile->Dirty = true;
  tile->Resident = false;
  free_.push_back(Ref<TTextureTile>(tile));
}

void TTileManager::TrimFree(int32_t keep) {
  if (keep < 0) keep = 0;
  while (int32_t(free_.size()) > keep) free_.pop_back();
}

void TTileManager::Dispose() {
  for (TTextureTile* t : all_) t->manager_ = nullptr;
  all_.clear();
  free_.clear();
  TRefObject::Dispose();
}

// ---- TTextureManager6 ----

TTextureManager6::TTextureManager6(T3DScreen* screen) : screen_(screen) {
  KAV_ASSERT(screen_);
  for (const TSize& s : kTileSizes) managers_.push_back(MakeRef<TTileManager>(this, s));
}

int32_t TTextureManager6::SizeCount() const {
  int32_t n = 0;
  for (auto& m : managers_) n += m != nullptr;
  return n;
}

TSize TTextureManager6::ChooseTileSize(int32_t w, int32_t h) const {
  int64_t best_cover = 0, best_waste = 0;
  TSize best;
  for (auto& m : managers_) {
    if (!m) continue;  // dropped
    const TSize s = m->TileSize();
    const int64_t cover = int64_t(std::min(w, s.cx)) * std::min(h, s.cy);
    const int64_t waste = int64_t(s.cx) * s.cy - cover;
    if (cover > best_cover || (cover == best_cover && cover > 0 && waste < best_waste)) {
      best_cover = cover;
      best_waste = waste;
      best = s;
    }
  }
  return best_cover < 1 ? TSize{} : best;
}

Ref<TTextureTile> TTextureManager6::AllocateTile(int32_t w, int32_t h) {
  for (;;) {
    const TSize s = ChooseTileSize(w, h);
    if (s.cx == 0) return nullptr;
    for (auto& m : managers_) {
      if (!m || m->TileSize() != s) continue;
      Ref<TTextureTile> t = m->Give();
      if (t) {
        t->UsedWidth = std::min(w, s.cx);
        t->UsedHeight = std::min(h, s.cy);
        return t;
      }
      m->ForgetOwner();
      m = nullptr;  // this size is dropped; choose again
      break;
    }
  }
}

void TTextureManager6::TrimFreeTiles(int32_t keep) {
  for (auto& m : managers_)
    if (m) m->TrimFree(keep);
}

int32_t TTextureManager6::FreeTileCount() const {
  int32_t n = 0;
  for (auto& m : managers_)
    if (m) n += m->FreeCount();
  return n;
}

int32_t TTextureManager6::Register(TMultiTexture6* m) {
  multi_.push_back(m);
  return int32_t(multi_.size()) - 1;
}

void TTextureManager6::Unregister(TMultiTexture6* m, int32_t index) {
  KAV_ASSERT(index >= 0 && index < int32_t(multi_.size()) && multi_[size_t(index)] == m);
  multi_[size_t(index)] = multi_.back();
  multi_[size_t(index)]->SetIndex(index);
  multi_.pop_back();
}

void TTextureManager6::Dispose() {
  // Multi-textures still alive (held by image stores) forget the manager;
  // their tiles go with the tile managers.
  for (TMultiTexture6* m : multi_) {
    m->ReleaseTiles();
    m->ForgetManager();
  }
  multi_.clear();
  for (auto& m : managers_)
    if (m) m->ForgetOwner();
  managers_.clear();
  TRefObject::Dispose();
}

// ---- TMultiTexture6 ----

TMultiTexture6::TMultiTexture6(TTextureManager6* manager) : manager_(manager) {
  KAV_ASSERT(manager_);
  index_ = manager_->Register(this);
}

void TMultiTexture6::Dispose() {
  // The last reference may go on any thread (an image freed by the engine
  // while the slide loader prepares others): the manager's list and the
  // tile pools are changed under the lock texture preparation holds.
  std::lock_guard<std::recursive_mutex> release(Device3DReleaseLock());
  ReleaseTiles();
  source_ = nullptr;
  origin_ = nullptr;
  if (manager_) manager_->Unregister(this, index_);
  manager_ = nullptr;
  TRefObject::Dispose();
}

void TMultiTexture6::Assign(TBitmap* bitmap, bool owns, bool grid, bool alpha, int32_t columns, int32_t rows,
                            const TRect& rect) {
  KAV_ASSERT(bitmap);
  KAV_ASSERT(!rect.IsEmpty() && rect.Left >= 0 && rect.Top >= 0 && rect.Right <= bitmap->Width() &&
             rect.Bottom <= bitmap->Height());
  Ref<TBitmap> hold = owns ? Ref<TBitmap>::Adopt(bitmap) : Ref<TBitmap>(bitmap);
  ReleaseTiles();
  source_ = nullptr;
  origin_ = nullptr;
  source_width_ = source_height_ = 0;
  AlphaFlag = alpha;
  grid_ = grid;
  columns_ = columns;
  rows_ = rows;
  rect_ = rect;
  MakeSource(hold.get());
  if (source_) {
    source_width_ = source_->Width();
    source_height_ = source_->Height();
  }
}

void TMultiTexture6::MakeSource(TBitmap* bitmap) {
  source_ = nullptr;
  // Tiles read 32-bit pixels.
  Ref<TBitmap> src(bitmap);
  if (src->PixelFormat() != StdFormats().A8R8G8B8) src = src->CreateSimilar(StdFormats().A8R8G8B8, nullptr);
  if (!src) return;
  if (grid_) {
    source_ = MakeRef<TTileBitmap>(src.get(), columns_, rows_, false);
  } else {
    Ref<TSysBitmap> sys(dynamic_cast<TSysBitmap*>(src.get()));
    if (!sys) {
      Ref<TBitmap> s2 = src->CreateSimilar(StdFormats().A8R8G8B8, &TSysBitmap::kClass);
      sys = Ref<TSysBitmap>(dynamic_cast<TSysBitmap*>(s2.get()));
    }
    if (!sys) return;
    if (rect_ == TRect{0, 0, sys->Width(), sys->Height()})
      source_ = sys;
    else
      source_ = MakeRef<TCropBitmap>(rect_, true, Ref<TSysBitmap>(sys).release());
  }
}

void TMultiTexture6::SetSourceOrigin(TBitmapStore* store, int32_t level) {
  origin_ = store && store->CanProduceAgain() ? Ref<TBitmapStore>(store) : nullptr;
  origin_level_ = level;
}

TBitmap* TMultiTexture6::Source() {
  if (!source_ && origin_) {
    Ref<TBitmap> level;
    try {
      level = origin_->GetMipLevel(origin_level_, StdFormats().A8R8G8B8);
    } catch (const Exception&) {
      // A level that cannot be made again (its file gone or changed) leaves
      // the tile unfilled; this runs while the tile's texture is locked.
      return nullptr;
    }
    if (level && level->Width() >= rect_.Right && level->Height() >= rect_.Bottom) MakeSource(level.get());
  }
  return source_.get();
}

bool TMultiTexture6::ReleaseSource() {
  if (!source_ || !origin_ || tiles_.empty()) return false;
  // A tile holds the picture once its texture is filled from this source
  // (a tile taken from the pool is dirty until then).
  for (auto& t : tiles_) {
    if (!t->GetTexture()) return false;
    t->Refresh();
    if (t->Dirty) return false;
  }
  source_ = nullptr;
  origin_->ReleaseLevel(origin_level_);
  return true;
}

bool TMultiTexture6::Filled() {
  if (tiles_.empty()) return false;
  for (auto& t : tiles_)
    if (!t->GetTexture() || t->Dirty) return false;
  return true;
}

void TMultiTexture6::AllocateTiles() {
  if (!tiles_.empty() || source_width_ < 1 || source_height_ < 1 || !manager_) return;
  const int32_t sw = source_width_, sh = source_height_;
  for (int32_t y = 0; y < sh;) {
    int32_t shown_h = 0;
    for (int32_t x = 0; x < sw;) {
      Ref<TTextureTile> t = manager_->AllocateTile(sw - x + 2, sh - y + 2);
      if (!t || t->UsedWidth <= 2 || t->UsedHeight <= 2) return;  // nothing can cover it: draw what there is
      t->Owner = this;
      t->OriginX = x - 1;
      t->OriginY = y - 1;
      t->Dirty = true;
      x += t->UsedWidth - 2;
      shown_h = shown_h == 0 ? t->UsedHeight - 2 : std::min(shown_h, t->UsedHeight - 2);
      tiles_.push_back(t);
    }
    y += shown_h;
  }
}

void TMultiTexture6::SetupTile(TTextureTile* t) {
  t->Filter = FilterFlag ? k3DFilterLinear : k3DFilterPoint;
  t->SetPremultiplied(BlendFlag);
  t->Opacity = Alpha;
  t->LodBias = LodBias;
}

void TMultiTexture6::Prepare() {
  AllocateTiles();
  for (auto& t : tiles_) {
    SetupTile(t.get());
    t->Preload();
  }
}

void TMultiTexture6::PrepareFromRows(TBitmapStore* store, int32_t level, TLevelRowReader* rows, bool alpha) {
  KAV_ASSERT(store && rows);
  const TSize size = rows->Size();
  KAV_ASSERT(size.cx > 0 && size.cy > 0);
  ReleaseTiles();
  EndBand();
  AlphaFlag = alpha;
  grid_ = false;
  columns_ = rows_ = 0;
  rect_ = TRect{0, 0, size.cx, size.cy};
  source_width_ = size.cx;
  source_height_ = size.cy;
  SetSourceOrigin(store, level);
  AllocateTiles();
  if (tiles_.empty()) return;
  if (rows->ReadsRects()) {
    PrepareFromRects(rows);
    return;
  }
  // A row of tiles covers at most its tallest tile's rows: the band holds
  // that many, in row buffers handed round as the band moves down.
  int32_t capacity = 1;
  for (auto& t : tiles_) capacity = std::max(capacity, t->UsedHeight);
  capacity = std::min(capacity, size.cy);
  const size_t stride = size_t(size.cx) * 4;
  // Left unset: every row is written by the reader before a tile reads it.
  const std::unique_ptr<uint8_t[]> memory(new uint8_t[stride * size_t(capacity)]);
  std::vector<uint8_t*> ring(static_cast<size_t>(capacity));
  for (size_t i = 0; i < ring.size(); ++i) ring[i] = memory.get() + i * stride;
  int32_t top = 0, held = 0;  // source rows [top, top + held) are in ring[0, held)
  try {
    for (size_t i = 0; i < tiles_.size();) {
      // Tiles of one row share their top; together they need the source
      // rows [first, bottom).
      const int32_t oy = tiles_[i]->OriginY;
      size_t j = i;
      int32_t bottom = 0;
      for (; j < tiles_.size() && tiles_[j]->OriginY == oy; ++j) bottom = std::max(bottom, oy + tiles_[j]->UsedHeight);
      const int32_t first = std::clamp(oy, 0, size.cy - 1);
      bottom = std::clamp(bottom, first + 1, size.cy);
      // Rows above the band go; their buffers move to the back.
      const int32_t drop = std::clamp(first - top, 0, held);
      std::rotate(ring.begin(), ring.begin() + drop, ring.end());
      top += drop;
      held -= drop;
      while (top + held < first) {  // rows no tile shows (none in practice) are read past
        rows->ReadRows(ring.data(), 1);
        ++top;
      }
      const int32_t more = bottom - (top + held);
      KAV_ASSERT(held + std::max(more, 0) <= capacity);
      if (more > 0) {
        rows->ReadRows(ring.data() + held, more);
        held += more;
      }
      source_ = MakeRef<TSysBitmap>(TSize{size.cx, held}, std::vector<uint8_t*>(ring.begin(), ring.begin() + held),
                                    StdFormats().A8R8G8B8);
      source_top_ = top;
      for (; i < j; ++i) {
        SetupTile(tiles_[i].get());
        tiles_[i]->Preload();
      }
    }
  } catch (...) {
    EndBand();
    ReleaseTiles();
    throw;
  }
  // A tile filled later (device loss, a texture not made now) reads the
  // level from the store.
  EndBand();
}

void TMultiTexture6::PrepareFromRects(TLevelRowReader* rows) {
  const TSize size = rows->Size();
  std::vector<uint8_t> memory;
  std::vector<uint8_t*> lines;
  try {
    for (size_t i = 0; i < tiles_.size();) {
      // Neighbouring tiles of one row, until they span kRectColumns, need the
      // source rectangle [left, right) x [top, bottom) (their borders
      // included; beyond the level TileFill repeats the edge, as it does
      // for the whole level).
      const int32_t oy = tiles_[i]->OriginY;
      const int32_t left = std::clamp(tiles_[i]->OriginX, 0, size.cx - 1);
      int32_t right = 0, bottom = 0;
      size_t j = i;
      while (j < tiles_.size() && tiles_[j]->OriginY == oy && right - left < kRectColumns) {
        right = std::max(right, tiles_[j]->OriginX + tiles_[j]->UsedWidth);
        bottom = std::max(bottom, oy + tiles_[j]->UsedHeight);
        ++j;
      }
      const int32_t top = std::clamp(oy, 0, size.cy - 1);
      const TRect r{left, top, std::clamp(right, left + 1, size.cx), std::clamp(bottom, top + 1, size.cy)};
      const size_t stride = size_t(r.Width()) * 4;
      source_ = nullptr;  // it shows the rows about to be moved
      memory.resize(stride * size_t(r.Height()));
      lines.resize(size_t(r.Height()));
      for (size_t k = 0; k < lines.size(); ++k) lines[k] = memory.data() + k * stride;
      rows->ReadRect(r, lines.data());
      source_ = MakeRef<TSysBitmap>(TSize{r.Width(), r.Height()}, lines, StdFormats().A8R8G8B8);
      source_left_ = r.Left;
      source_top_ = r.Top;
      for (; i < j; ++i) {
        SetupTile(tiles_[i].get());
        tiles_[i]->Preload();
      }
    }
  } catch (...) {
    EndBand();
    ReleaseTiles();
    throw;
  }
  EndBand();
}

void TMultiTexture6::EndBand() {
  source_ = nullptr;
  source_left_ = source_top_ = 0;
}

void TMultiTexture6::Draw(const T3DPoint corner[4]) {
  AllocateTiles();
  if (!manager_ || tiles_.empty()) return;
  T3DScreen* screen = manager_->Screen();
  const double sw = source_width_, sh = source_height_;
  auto at = [&](double s, double t) {
    // Bilinear position in the destination parallelogram.
    T3DPoint p;
    p.x = float((1 - t) * ((1 - s) * corner[0].x + s * corner[1].x) + t * ((1 - s) * corner[2].x + s * corner[3].x));
    p.y = float((1 - t) * ((1 - s) * corner[0].y + s * corner[1].y) + t * ((1 - s) * corner[2].y + s * corner[3].y));
    p.z = float((1 - t) * ((1 - s) * corner[0].z + s * corner[1].z) + t * ((1 - s) * corner[2].z + s * corner[3].z));
    return p;
  };
  uint32_t color;
  if (ColorFlag)
    color = Color;
  else if (BlendFlag)
    color = uint32_t(Alpha) * 0x01010101u;
  else
    color = uint32_t(Alpha) << 24 | 0x00FFFFFFu;
  for (auto& tp : tiles_) {
    TTextureTile* t = tp.get();
    SetupTile(t);
    t->Refresh();
    // Departure: a tile whose texture could not be filled (its picture cannot be made again) is left out rather than
    // drawn with what its texture held (GetTexture makes and fills a texture not made yet).
    if (t->Dirty && t->GetTexture() && t->Dirty) continue;
    const double x0 = t->OriginX + 1, y0 = t->OriginY + 1;
    const double x1 = x0 + t->UsedWidth - 2, y1 = y0 + t->UsedHeight - 2;
    TScreenQuad q;
    q.Corner[0] = at(x0 / sw, y0 / sh);
    q.Corner[1] = at(x1 / sw, y0 / sh);
    q.Corner[2] = at(x0 / sw, y1 / sh);
    q.Corner[3] = at(x1 / sw, y1 / sh);
    q.Textures[0] = t;
    q.TextureCount = 1;
    q.Source[0] = TFloatRect{1, 1, float(t->UsedWidth - 1), float(t->UsedHeight - 1)};
    for (auto& c : q.Colors) c = color;
    screen->DrawQuad(q);
  }
}

void TMultiTexture6::ReleaseTiles() {
  for (auto& t : tiles_) {
    if (TTileManager* m = t->Manager())
      m->Take(t.get());
  }
  tiles_.clear();
}

// ---- TBoxAntialiaser ----

void TBoxAntialiaser::DrawBox(const T3DPoint& position, const T3DPoint& x_edge, uint32_t mask,
                              const uint32_t colors[4], const T3DPoint& y_edge) {
  // The feathering needs no texture: the vertex colours are the box (a white
  // texture would multiply them by one), so there is no TBoxAntiTexture.
  T3DPoint c[4] = {position,
                   {position.x + x_edge.x, position.y + x_edge.y, position.z + x_edge.z},
                   {position.x + y_edge.x, position.y + y_edge.y, position.z + y_edge.z},
                   {position.x + x_edge.x + y_edge.x, position.y + x_edge.y + y_edge.y,
                    position.z + x_edge.z + y_edge.z}};
  T3DPoint grid[16];
  uint32_t m = mask;
  screen_->BuildQuadGrid(c, grid, m);
  TScreenQuad q;
  for (int i = 0; i < 4; ++i) q.Colors[i] = colors[i];
  screen_->DrawQuadAA(q, grid, m);
}

}  // namespace kav
