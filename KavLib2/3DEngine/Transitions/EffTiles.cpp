#include "KavLib2/3DEngine/Transitions/EffTiles.h"

#include <algorithm>
#include <cmath>

#include "VoRav/wpExceptions.h"

namespace kav {

namespace {
constexpr float kFar = 3.4E38f;
}

// ---- TXSeparator ----

TXSeparator::TXSeparator(const float* coords, int32_t cells, bool along_y) : n_(cells), along_y_(along_y) {
  KAV_ASSERT(cells >= 1);
  bounds_.reserve(size_t(cells) + 3);
  bounds_.push_back(-kFar);
  for (int32_t i = 0; i <= cells; ++i) bounds_.push_back(coords[i]);
  bounds_.push_back(kFar);
  cells_.resize(size_t(cells));
  for (TCell& c : cells_) {
    c.Points.resize(32);
    c.StripEnds.resize(8);
  }
}

void TXSeparator::Reset() {
  for (TCell& c : cells_) {
    c.PointCount = 0;
    c.StripCount = 0;
  }
}

void TXSeparator::Append(int32_t cell, const TEffVertex& p) {
  if (cell < 0 || cell >= n_) return;
  TCell& c = cells_[size_t(cell)];
  if (c.PointCount == int32_t(c.Points.size())) c.Points.resize(c.Points.size() * 2);
  c.Points[size_t(c.PointCount++)] = p;
}

void TXSeparator::AddAt(const TEffVertex& p, int32_t zone) {
  if (zone % 2 == 0) {
    Append(zone / 2 - 1, p);
  } else {
    // On a grid line: both neighbouring cells share the point.
    const int32_t line = (zone - 1) / 2;
    Append(line - 1, p);
    Append(line, p);
  }
  ++walked_;
}

int32_t TXSeparator::ZoneOf(const TEffVertex& p) {
  const float v = Axis(p);
  while (c_ >= 0 && v < bounds_[size_t(c_) + 1]) --c_;
  while (c_ < n_ && v > bounds_[size_t(c_) + 2]) ++c_;
  if (v == bounds_[size_t(c_) + 1]) return 2 * c_ + 1;
  if (v == bounds_[size_t(c_) + 2]) return 2 * c_ + 3;
  return 2 * c_ + 2;
}

void TXSeparator::WalkTo(const TEffVertex& p, int32_t zone, bool add) {
  if (walked_ > 0 && zone != zone_) {
    // The two points in increasing order along the axis give the slopes.
    const bool up = zone > zone_;
    const TEffVertex& lo = up ? cur_ : p;
    const TEffVertex& hi = up ? p : cur_;
    const float span = Axis(hi) - Axis(lo);
    const float so = span != 0 ? ((along_y_ ? hi.X - lo.X : hi.Y - lo.Y) / span) : 0.0f;
    const float sa = span != 0 ? (hi.A - lo.A) / span : 0.0f;
    const int32_t step = up ? 1 : -1;
    for (int32_t z = zone_ + step; z != zone; z += step) {
      if (z % 2 == 0) continue;
      const float g = bounds_[size_t((z - 1) / 2) + 1];
      const float d = g - Axis(lo);
      TEffVertex q;
      if (along_y_) {
        q.Y = g;
        q.X = lo.X + so * d;
      } else {
        q.X = g;
        q.Y = lo.Y + so * d;
      }
      q.A = lo.A + sa * d;
      AddAt(q, z);
    }
  }
  if (add) {
    AddAt(p, zone);
    cur_ = p;
    zone_ = zone;
  }
}

void TXSeparator::Cut(const TEffVertex* points, int32_t first, int32_t last) {
  if (last < first) return;
  c_ = n_ / 2;
  walked_ = 0;
  int32_t first_zone = 0;
  for (int32_t i = first; i <= last; ++i) {
    const int32_t z = ZoneOf(points[i]);
    if (i == first) first_zone = z;
    WalkTo(points[i], z, true);
  }
  // The closing edge back to the first point.
  WalkTo(points[first], first_zone, false);
  for (TCell& c : cells_) {
    const int32_t start = c.StripCount > 0 ? c.StripEnds[size_t(c.StripCount) - 1] : 0;
    if (c.PointCount == start) continue;
    // A cell that only touched the polygon at a point or along an edge
    // would get a piece of fewer than three points: it is dropped, since it
    // covers nothing and cannot be drawn as a fan.
    if (c.PointCount - start < 3) {
      c.PointCount = start;
      continue;
    }
    if (c.StripCount == int32_t(c.StripEnds.size())) c.StripEnds.resize(c.StripEnds.size() * 2);
    c.StripEnds[size_t(c.StripCount++)] = c.PointCount;
  }
}

// ---- T2DSeparator ----

T2DSeparator::T2DSeparator(const float* xs, int32_t cols, const float* ys, int32_t rows) : cols_(cols) {
  rows_sep_ = MakeRef<TXSeparator>(ys, rows, true);
  for (int32_t r = 0; r < rows; ++r) rows_.push_back(MakeRef<TXSeparator>(xs, cols, false));
}

void T2DSeparator::Build(const TEffVertex* points, int32_t count) {
  for (int32_t i = 0; i + 2 < count; i += 3) rows_sep_->Cut(points, i, i + 2);
  for (int32_t r = 0; r < rows_sep_->CellCount(); ++r) {
    const TXSeparator::TCell& row = rows_sep_->Cell(r);
    int32_t start = 0;
    for (int32_t s = 0; s < row.StripCount; ++s) {
      const int32_t end = row.StripEnds[size_t(s)];
      rows_[size_t(r)]->Cut(row.Points.data(), start, end - 1);
      start = end;
    }
  }
  rows_sep_->Reset();
}

void T2DSeparator::ResetAll() {
  rows_sep_->Reset();
  for (auto& r : rows_) r->Reset();
}

// ---- TEffController ----

void TEffController::Setup(const float* xs, int32_t cols, const float* ys, int32_t rows) {
  Cleanup();
  cols_ = std::max(0, cols);
  rows_ = std::max(0, rows);
  xs_.assign(xs, xs + (cols_ + 1));
  ys_.assign(ys, ys + (rows_ + 1));
  tiles_.assign(size_t(cols_) * size_t(rows_), nullptr);
}

TRect TEffController::GetBounds() const {
  if (cols_ == 0 || rows_ == 0) return TRect{};
  return TRect{int32_t(std::lround(xs_.front())), int32_t(std::lround(ys_.front())), int32_t(std::lround(xs_.back())),
               int32_t(std::lround(ys_.back()))};
}

TEffTile* TEffController::GetTile(int32_t col, int32_t row) {
  KAV_ASSERT(col >= 0 && col < cols_ && row >= 0 && row < rows_);
  Ref<TEffTile>& t = tiles_[size_t(row) * size_t(cols_) + size_t(col)];
  if (!t) {
    const TRect b{int32_t(std::lround(xs_[size_t(col)])), int32_t(std::lround(ys_[size_t(row)])),
                  int32_t(std::lround(xs_[size_t(col) + 1])), int32_t(std::lround(ys_[size_t(row) + 1]))};
    t = CreateTile(b, col, row);
  }
  return t.get();
}

TEffTile* TEffController::GetMultiTile() {
  if (!multi_) multi_ = MakeRef<TMultiTile>(this);
  return multi_.get();
}

void TEffController::Cleanup() {
  tiles_.assign(tiles_.size(), nullptr);
  multi_ = nullptr;
}

void TEffController::Dispose() {
  Cleanup();
  tiles_.clear();
  TRefObject::Dispose();
}

// ---- TMultiTile ----

TMultiTile::TMultiTile(TEffController* controller) : TEffTile(controller, controller->GetBounds(), 0, 0) {
  // An empty grid has no cells to cut into: everything given is dropped.
  if (controller->Cols() > 0 && controller->Rows() > 0)
    separator_ = MakeRef<T2DSeparator>(controller->XCoords().data(), controller->Cols(), controller->YCoords().data(),
                                       controller->Rows());
}

void TMultiTile::Begin(int32_t batch, int32_t blend) {
  batch_ = batch;
  blend_ = blend;
  if (separator_) separator_->ResetAll();
}

void TMultiTile::AddTriangles(const TEffVertex* v, int32_t count) {
  if (separator_ && v && count >= 3) separator_->Build(v, count);
}

void TMultiTile::AddColourTriangles(const TEffVertex*, int32_t, uint32_t) { KAV_ASSERT_FAIL("Not Supported Yet"); }
void TMultiTile::AddTexturedTriangles(const TEffTexVertex*, int32_t) { KAV_ASSERT_FAIL("Not Supported Yet"); }
void TMultiTile::AddShadedTriangles(const TEffShadedVertex*, int32_t) { KAV_ASSERT_FAIL("Not Supported Yet"); }
void TMultiTile::AddDepthTriangles(const TEffDepthVertex*, int32_t) { KAV_ASSERT_FAIL("Not Supported Yet"); }

void TMultiTile::End() {
  if (!separator_) return;
  std::vector<TEffVertex> fan;
  for (int32_t r = 0; r < separator_->Rows(); ++r) {
    for (int32_t c = 0; c < separator_->Cols(); ++c) {
      const TXSeparator::TCell& cell = separator_->GetCell(c, r);
      if (cell.StripCount == 0) continue;  // nothing falls in this cell
      TEffTile* tile = Owner->GetTile(c, r);
      // The cell tiles get the batch the multi-tile was begun with.
      tile->Begin(batch_, blend_);
      int32_t start = 0;
      for (int32_t s = 0; s < cell.StripCount; ++s) {
        const int32_t end = cell.StripEnds[size_t(s)];
        // The piece as a fan around its first point.
        fan.clear();
        for (int32_t i = start + 2; i < end; ++i) {
          fan.push_back(cell.Points[size_t(start)]);
          fan.push_back(cell.Points[size_t(i) - 1]);
          fan.push_back(cell.Points[size_t(i)]);
        }
        if (!fan.empty()) tile->AddTriangles(fan.data(), int32_t(fan.size()));
        start = end;
      }
      tile->End();
    }
  }
  separator_->ResetAll();
}

}  // namespace kav
