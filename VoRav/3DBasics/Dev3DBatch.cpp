// The screen's triangle batch and its quads (plain and antialiased).
#include <cmath>

#include "VoRav/3DBasics/Dev3DApp2.h"

namespace kav {

namespace {
// Coordinate sets the batch's device list carries (video draws three planes).
constexpr int32_t kBatchTexSets = 4;
constexpr int32_t kMaxBatchTextures = 4;
}  // namespace

TVertexBuffer::TVertexBuffer(T3DScreen* screen) : screen_(screen) {
  KAV_ASSERT(screen_);
  screen_->AddResource(this);
}

void TVertexBuffer::Dispose() {
  if (screen_) screen_->RemoveResource(this);
  screen_ = nullptr;
  list_ = nullptr;
  TRefObject::Dispose();
}

// A lost device's store is torn down by the thread that found the loss,
// which may be the slide loader making a texture while the engine thread
// fills this batch: only the flag is set there.
void TVertexBuffer::OnListRelease(TRefObject*) { list_released_.store(true); }

void TVertexBuffer::TakeListRelease() {
  if (list_released_.exchange(false)) Release();
}

void TVertexBuffer::Release() {
  list_ = nullptr;
  cpu_.clear();
  cpu_.shrink_to_fit();
  capacity_ = 0;
  count_ = 0;
}

void TVertexBuffer::Reset() {
  TakeListRelease();
  count_ = 0;
  textures_.clear();
  AlphaModulate = false;
  ColorModulate = false;
  open_ = true;
}

void TVertexBuffer::BeginBatch(TCustomTexture* const* textures, int32_t count) {
  Flush();
  KAV_ASSERT(count >= 0 && count <= kMaxBatchTextures);
  if (count == 1 && textures[0]->Opacity < 255) AlphaModulate = true;
  textures_.assign(textures, textures + count);
}

void TVertexBuffer::Reserve(int32_t triangles) {
  Flush();
  TakeListRelease();
  if (list_ && capacity_ >= triangles) return;
  list_ = nullptr;
  capacity_ = 0;
  if (!screen_ || !screen_->DeviceReady()) {
    // Without a device the triangles are still collected (and dropped).
    cpu_.resize(size_t(triangles) * 3);
    capacity_ = triangles;
    return;
  }
  list_ = screen_->Renderer()->CreateVertexList(triangles * 3, k3DVertexDiffuse, kBatchTexSets);
  if (list_) list_->OnRelease = T3DReleaseEvent::Bind<&TVertexBuffer::OnListRelease>(this);
  cpu_.resize(size_t(triangles) * 3);
  capacity_ = triangles;
}

void TVertexBuffer::AddTriangle(const T3DVertex& a, const T3DVertex& b, const T3DVertex& c) {
  KAV_ASSERT(count_ < capacity_);
  T3DVertex* v = &cpu_[size_t(count_) * 3];
  v[0] = a;
  v[1] = b;
  v[2] = c;
  ++count_;
}

void TVertexBuffer::Flush() {
  TakeListRelease();
  if (count_ == 0) return;
  const int32_t n = count_;
  count_ = 0;
  if (!screen_ || !screen_->DeviceReady() || !list_) return;
  T3DTexture* dev[kMaxBatchTextures] = {};
  bool premul = false;
  for (size_t i = 0; i < textures_.size(); ++i) {
    TCustomTexture* t = textures_[i];
    T3DTexture* d = t->GetTexture();
    if (!d) return;  // a texture that cannot be made draws nothing
    d->SetAddressMode(t->AddressU, t->AddressV);
    d->SetFilter(t->Filter);
    d->SetAnisotropic(t->Mip());
    d->SetValue(t->LodBias);
    d->Premultiplied = t->Premultiplied() || t->BlendFlag;
    premul = premul || d->Premultiplied;
    dev[i] = d;
  }
  if (!list_ || !list_->Write(cpu_.data(), 0, uint32_t(n) * 3)) return;
  list_->SetLayout(k3DTriangleList, 0, uint32_t(n));
  uint32_t flags;
  if (textures_.empty())
    flags = k3DDrawModulateColor | k3DDrawModulateAlpha;
  else if (premul || ColorModulate)
    flags = k3DDrawTextures | k3DDrawModulateColor | k3DDrawModulateAlpha;
  else if (textures_.size() == 1 && AlphaModulate)
    flags = k3DDrawTextures | k3DDrawModulateAlpha;
  else
    flags = k3DDrawTextures;
  screen_->Renderer()->DrawTextured(list_.get(), dev, int32_t(textures_.size()), flags);
  ++Draws;
}

// ---- Quads ----

namespace {

T3DVertex QuadVertex(const T3DScreen& s, const TScreenQuad& q, const T3DPoint& p, float su, float sv, uint32_t color) {
  T3DVertex v;
  T3DPoint n = s.ScreenToNdc(p);
  v.X = n.x;
  v.Y = n.y;
  v.Z = n.z;
  v.Diffuse = color;
  for (int32_t i = 0; i < q.TextureCount; ++i) {
    const TFloatRect& r = q.Source[i];
    q.Textures[i]->SetTexCoord(i, v, r.Left + su * (r.Right - r.Left), r.Top + sv * (r.Bottom - r.Top));
  }
  return v;
}

}  // namespace

void T3DScreen::DrawQuad(const TScreenQuad& q) {
  if (!DeviceReady()) return;
  // Up to four textures (the video planes take three).
  batch_->BeginBatch(q.Textures, q.TextureCount);
  // A vertex colour other than white tints the textures (shadows drawn in
  // their colour).
  bool tint = false;
  for (uint32_t c : q.Colors) tint = tint || (c & 0x00FFFFFFu) != 0x00FFFFFFu;
  const bool modulate = batch_->ColorModulate;
  batch_->ColorModulate = modulate || tint;
  batch_->Reserve(2);
  const T3DVertex v0 = QuadVertex(*this, q, q.Corner[0], 0, 0, q.Colors[0]);
  const T3DVertex v1 = QuadVertex(*this, q, q.Corner[1], 1, 0, q.Colors[1]);
  const T3DVertex v2 = QuadVertex(*this, q, q.Corner[2], 0, 1, q.Colors[2]);
  const T3DVertex v3 = QuadVertex(*this, q, q.Corner[3], 1, 1, q.Colors[3]);
  batch_->AddTriangle(v0, v1, v2);
  batch_->AddTriangle(v2, v1, v3);
  batch_->Flush();
  batch_->ColorModulate = modulate;
}

void T3DScreen::DrawTexture(TCustomTexture* texture, const T3DPoint corner[4], const TFloatRect& source) {
  KAV_ASSERT(texture);
  if (texture->Opacity == 0) return;
  TScreenQuad q;
  for (int i = 0; i < 4; ++i) q.Corner[i] = corner[i];
  q.Textures[0] = texture;
  q.TextureCount = 1;
  q.Source[0] = source;
  const uint32_t o = texture->Opacity;
  const uint32_t c = o << 24 | o << 16 | o << 8 | o;
  for (auto& col : q.Colors) col = c;
  DrawQuad(q);
}

void T3DScreen::DrawQuadAA(const TScreenQuad& q, const T3DPoint grid[16], uint32_t mask) {
  if (!DeviceReady()) return;
  // Texture coordinates of every grid vertex from its place in the frame of
  // the inner quad (screen positions).
  const T3DPoint o = ProjectToPlane(grid[5]), px = ProjectToPlane(grid[6]), py = ProjectToPlane(grid[9]);
  const double ax = px.x - o.x, ay = px.y - o.y, bx = py.x - o.x, by = py.y - o.y;
  const double det = ax * by - ay * bx;
  T3DVertex v[16];
  for (int i = 0; i < 16; ++i) {
    const T3DPoint p = ProjectToPlane(grid[i]);
    double s = 0, t = 0;
    if (std::fabs(det) > 1e-12) {
      const double dx = p.x - o.x, dy = p.y - o.y;
      s = (dx * by - dy * bx) / det;
      t = (ax * dy - ay * dx) / det;
    }
    const int row = i / 4, col = i % 4;
    const int quadrant = (row >= 2 ? 2 : 0) + (col >= 2 ? 1 : 0);
    uint32_t color = q.Colors[quadrant];
    const bool inner = i == 5 || i == 6 || i == 9 || i == 10;
    if (!inner) color &= 0x00FFFFFFu;
    v[i] = QuadVertex(*this, q, grid[i], float(s), float(t), color);
  }
  // Cells by their top-left vertex.
  std::vector<int> cells{5};
  const int bits = ((mask & 1) != 0) + ((mask & 2) != 0) + ((mask & 4) != 0) + ((mask & 8) != 0);
  const int edge_cell[4] = {4, 1, 6, 9};  // left, top, right, bottom
  if (bits == 1) {
    for (int e = 0; e < 4; ++e)
      if (mask & (1u << e)) cells.push_back(edge_cell[e]);
  } else if (bits >= 2) {
    for (int e = 0; e < 4; ++e)
      if (mask & (1u << e)) cells.push_back(edge_cell[e]);
    if (mask & (1 | 2)) cells.push_back(0);
    if (mask & (2 | 4)) cells.push_back(2);
    if (mask & (1 | 8)) cells.push_back(8);
    if (mask & (4 | 8)) cells.push_back(10);
  }
  batch_->ColorModulate = true;
  batch_->BeginBatch(q.Textures, q.TextureCount);
  batch_->Reserve(int32_t(cells.size()) * 2);
  for (int c : cells) {
    batch_->AddTriangle(v[c], v[c + 1], v[c + 4]);
    batch_->AddTriangle(v[c + 4], v[c + 1], v[c + 5]);
  }
  batch_->Flush();
  batch_->ColorModulate = false;
}

void T3DScreen::BuildQuadGrid(const T3DPoint corner[4], T3DPoint grid[16], uint32_t& mask) const {
  // Inner vertices and their screen positions.
  const int inner[4] = {5, 6, 9, 10};
  T3DPoint s[4];
  for (int i = 0; i < 4; ++i) {
    grid[inner[i]] = corner[i];
    s[i] = ProjectToPlane(corner[i]);
  }
  // Corner checks: edges at each corner too short or nearly parallel.
  const int nb[4][2] = {{1, 2}, {0, 3}, {0, 3}, {1, 2}};
  for (int i = 0; i < 4 && mask; ++i) {
    const double ax = s[nb[i][0]].x - s[i].x, ay = s[nb[i][0]].y - s[i].y;
    const double bx = s[nb[i][1]].x - s[i].x, by = s[nb[i][1]].y - s[i].y;
    const double la = ax * ax + ay * ay, lb = bx * bx + by * by;
    if (la <= 0.01 || lb <= 0.01 || (ax * bx + ay * by) / std::sqrt(la * lb) > 0.9) mask = 0;
  }
  // Edges around the quad: top 0->1, right 1->3, bottom 3->2, left 2->0.
  struct TLine {
    double px, py, dx, dy;
  };
  const int ring[4] = {0, 1, 3, 2};
  double area = 0;
  for (int k = 0; k < 4; ++k) {
    const T3DPoint& a = s[ring[k]];
    const T3DPoint& b = s[ring[(k + 1) % 4]];
    area += double(a.x) * b.y - double(b.x) * a.y;
  }
  const double side = area >= 0 ? 1.0 : -1.0;
  // Edge lines indexed left, top, right, bottom (the mask's bit order).
  const int from[4] = {2, 0, 1, 3}, to[4] = {0, 1, 3, 2};
  TLine line[4];
  double nx[4], ny[4];
  for (int e = 0; e < 4; ++e) {
    const T3DPoint& a = s[from[e]];
    const T3DPoint& b = s[to[e]];
    double dx = b.x - a.x, dy = b.y - a.y;
    const double len = std::sqrt(dx * dx + dy * dy);
    nx[e] = len > 0 ? side * dy / len : 0;
    ny[e] = len > 0 ? -side * dx / len : 0;
    const bool moved = (mask >> e) & 1;
    line[e] = TLine{a.x + (moved ? nx[e] : 0), a.y + (moved ? ny[e] : 0), dx, dy};
  }
  auto meet = [&](int e1, int e2, const T3DPoint& fallback) {
    const TLine& l1 = line[e1];
    const TLine& l2 = line[e2];
    const double den = l1.dx * l2.dy - l1.dy * l2.dx;
    if (std::fabs(den) < 1e-9) return fallback;
    const double t = ((l2.px - l1.px) * l2.dy - (l2.py - l1.py) * l2.dx) / den;
    return T3DPoint{float(l1.px + t * l1.dx), float(l1.py + t * l1.dy), 0};
  };
  const T3DPoint plane_o = corner[0];
  const T3DPoint e1{corner[1].x - corner[0].x, corner[1].y - corner[0].y, corner[1].z - corner[0].z};
  const T3DPoint e2{corner[2].x - corner[0].x, corner[2].y - corner[0].y, corner[2].z - corner[0].z};
  auto place = [&](int index, const T3DPoint& screen) {
    grid[index] = IntersectScreenRayWithPlane(screen, plane_o, e1, e2);
  };
  // Per corner: its horizontal edge (top or bottom), vertical edge (left or
  // right), and the grid indices of the vertex above/below, beside and
  // diagonal.
  struct TCornerPlan {
    int c, h, v, beside_h, beside_v, diag;
  };
  const TCornerPlan plan[4] = {{0, 1, 0, 1, 4, 0}, {1, 1, 2, 2, 7, 3}, {2, 3, 0, 13, 8, 12}, {3, 3, 2, 14, 11, 15}};
  for (const TCornerPlan& p : plan) {
    const T3DPoint& c = s[p.c];
    const bool fh = (mask >> p.h) & 1, fv = (mask >> p.v) & 1;
    const int inner_index = inner[p.c];
    if (fh)
      place(p.beside_h, T3DPoint{float(c.x + nx[p.h]), float(c.y + ny[p.h]), 0});
    else
      grid[p.beside_h] = grid[inner_index];
    if (fv)
      place(p.beside_v, T3DPoint{float(c.x + nx[p.v]), float(c.y + ny[p.v]), 0});
    else
      grid[p.beside_v] = grid[inner_index];
    if (fh || fv)
      place(p.diag, meet(p.h, p.v, c));
    else
      grid[p.diag] = grid[inner_index];
  }
}

}  // namespace kav
