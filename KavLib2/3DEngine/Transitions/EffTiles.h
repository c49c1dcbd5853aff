// Effect tiles: a picture handed to a transition filter is held as a grid of
// tiles. Filters describe what to draw as triangles in picture coordinates;
// the multi-tile cuts each triangle at the grid lines (the separators) so
// that every cell's tile receives exactly the pieces inside it.
//
//   TEffTile* t = controller->GetMultiTile();
//   t->Begin(1, 0);
//   t->AddTriangles(vertices, 6);   // three vertices per triangle
//   t->End();                       // the pieces go to the cells' tiles
#pragma once

#include <cstdint>
#include <vector>

#include "VoRav/SysObj2.h"
#include "VoRav/wpTypes.h"

namespace kav {

// A vertex of a filter: picture position and opacity (0..255).
struct TEffVertex {
  float X = 0, Y = 0, A = 0;
};

// A vertex that places the picture content of (U, V) at (X, Y).
struct TEffTexVertex {
  float X = 0, Y = 0, U = 0, V = 0, A = 255;
};

// A vertex with a colour of its own (ARGB, straight alpha), at depth Z.
struct TEffShadedVertex {
  float X = 0, Y = 0;
  uint32_t Color = 0xFFFFFFFF;
  float Z = 0;
};

// A textured vertex placed in depth: Z is its level (0 the picture plane,
// positive further away).
struct TEffDepthVertex {
  float X = 0, Y = 0, Z = 0, U = 0, V = 0, A = 255;
};

class TEffController;

class TEffTile : public TRefObject {
 public:
  TEffTile(TEffController* owner, const TRect& bounds, int32_t col, int32_t row)
      : Owner(owner), Bounds(bounds), Col(col), Row(row) {}

  TEffController* Owner;
  TRect Bounds;
  int32_t Col, Row;

  // Starts a batch; `batch` 1 draws from the first picture, 0 the second.
  virtual void Begin(int32_t batch, int32_t blend) = 0;
  // Three vertices per triangle; `count` is the number of vertices.
  virtual void AddTriangles(const TEffVertex* v, int32_t count) = 0;
  // Triangles in one plain colour (ARGB).
  virtual void AddColourTriangles(const TEffVertex* v, int32_t count, uint32_t color) = 0;
  virtual void AddTexturedTriangles(const TEffTexVertex* v, int32_t count) = 0;
  virtual void AddShadedTriangles(const TEffShadedVertex* v, int32_t count) = 0;
  virtual void AddDepthTriangles(const TEffDepthVertex* v, int32_t count) = 0;
  // Draws what the batch collected.
  virtual void End() = 0;
};

// Cuts polygons along one axis (x) into cells between grid lines.
class TXSeparator : public TRefObject {
 public:
  struct TCell {
    std::vector<TEffVertex> Points;
    int32_t PointCount = 0;
    std::vector<int32_t> StripEnds;  // cumulative point counts, one per piece
    int32_t StripCount = 0;
  };

  // `coords` holds cells + 1 grid coordinates in increasing order.
  TXSeparator(const float* coords, int32_t cells, bool along_y = false);

  // Cuts the closed polygon points[first..last] into the cells.
  void Cut(const TEffVertex* points, int32_t first, int32_t last);
  void Reset();
  int32_t CellCount() const { return n_; }
  const TCell& Cell(int32_t i) const { return cells_[size_t(i)]; }

 private:
  float Axis(const TEffVertex& p) const { return along_y_ ? p.Y : p.X; }
  int32_t ZoneOf(const TEffVertex& p);
  void WalkTo(const TEffVertex& p, int32_t zone, bool add);
  void AddAt(const TEffVertex& p, int32_t zone);
  void Append(int32_t cell, const TEffVertex& p);

  std::vector<float> bounds_;  // -3.4E38, the grid, +3.4E38
  int32_t n_;
  bool along_y_;
  std::vector<TCell> cells_;
  int32_t c_ = 0;
  TEffVertex cur_;
  int32_t zone_ = 0;
  int32_t walked_ = 0;
};

// Cuts along y into rows, then each row along x into its cells.
class T2DSeparator : public TRefObject {
 public:
  T2DSeparator(const float* xs, int32_t cols, const float* ys, int32_t rows);
  // Cuts the triangles (three vertices each) into the cells.
  void Build(const TEffVertex* points, int32_t count);
  const TXSeparator::TCell& GetCell(int32_t col, int32_t row) const { return rows_[size_t(row)]->Cell(col); }
  void ResetAll();
  int32_t Cols() const { return cols_; }
  int32_t Rows() const { return rows_sep_->CellCount(); }

 private:
  Ref<TXSeparator> rows_sep_;
  std::vector<Ref<TXSeparator>> rows_;
  int32_t cols_;
};

class TMultiTile;

class TEffController : public TRefObject {
 public:
  // Lays the grid: cols + 1 x coordinates, rows + 1 y coordinates; every
  // tile is released.
  void Setup(const float* xs, int32_t cols, const float* ys, int32_t rows);
  TRect GetBounds() const;
  TEffTile* GetTile(int32_t col, int32_t row);
  TEffTile* GetMultiTile();
  int32_t Cols() const { return cols_; }
  int32_t Rows() const { return rows_; }
  const std::vector<float>& XCoords() const { return xs_; }
  const std::vector<float>& YCoords() const { return ys_; }
  // The picture's rectangle.
  virtual TRect GetRect() = 0;

 protected:
  virtual Ref<TEffTile> CreateTile(const TRect& bounds, int32_t col, int32_t row) = 0;
  void Cleanup();
  void Dispose() override;

 private:
  std::vector<float> xs_, ys_;
  int32_t cols_ = 0, rows_ = 0;
  std::vector<Ref<TEffTile>> tiles_;
  Ref<TMultiTile> multi_;
};

// The tile standing for the whole grid: cuts what it gets into the cells.
class TMultiTile : public TEffTile {
 public:
  explicit TMultiTile(TEffController* controller);
  void Begin(int32_t batch, int32_t blend) override;
  void AddTriangles(const TEffVertex* v, int32_t count) override;
  void AddColourTriangles(const TEffVertex*, int32_t, uint32_t) override;
  void AddTexturedTriangles(const TEffTexVertex*, int32_t) override;
  void AddShadedTriangles(const TEffShadedVertex*, int32_t) override;
  void AddDepthTriangles(const TEffDepthVertex*, int32_t) override;
  void End() override;

 private:
  Ref<T2DSeparator> separator_;
  int32_t batch_ = 1, blend_ = 0;
};

}  // namespace kav
