// Path text in the notation of SVG path data, Bezier evaluation and the
// flattening of curves into line segments for the rasterizer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "VoRav/VectorGraphics/vxRasterizerTypes.h"
#include "VoRav/vxGeometry.h"

namespace kav {

// Most points a parsed path may hold; a longer text is refused.
constexpr int32_t kMaxParsedPathPoints = 1 << 17;

// Parses path text into `path` (cleared first): commands M m L l H h V v C c
// S s Q q T t Z z, numbers as maximal runs of "+-.0-9Ee", characters 0..32 as
// separators, one comma allowed after each number. Answers true for a text
// parsed to its end (an empty text included). On an error the path is left
// empty, false is answered and `error_pos` (when given) receives the byte
// position where the parse stopped. Numbers that do not convert or are not
// finite, and texts that would give more than kMaxParsedPathPoints points,
// are errors.
bool ParsePathText(std::string_view text, TPointArray& path, size_t* error_pos = nullptr);

// (1 - t)^2 p0 + 2t(1 - t) p1 + t^2 p2, as t^2 (p0 - 2 p1 + p2) - 2t (p0 - p1) + p0.
double QuadraticBezier(double t, double p0, double p1, double p2);
// (1 - t)^3 p0 + 3t(1 - t)^2 p1 + 3t^2(1 - t) p2 + t^3 p3 in Horner form.
double CubicBezier(double t, double p0, double p1, double p2, double p3);
float CubicBezierSingle(float t, float p0, float p1, float p2, float p3);

// Deepest subdivision a flattening goes to: 2^16 segments per curve.
constexpr int32_t kMaxFlattenDepth = 17;

// What a flattening works with: the curve's points (P[0] start, P[1] and
// P[2] control points of a cubic or P[1] the control point of a quadratic,
// the last one the end), the line routine that receives the segments, the
// flatness test and a budget of further splits shared by every curve of a
// path. A piece is split only while the budget lasts, so a hostile path
// ends up with straight pieces instead of unbounded work.
struct TFlattenContext {
  TFloatPoint P[4];
  // Adds a line from the current point to (x, y).
  void (*AddLine)(void* data, float x, float y) = nullptr;
  // True when the piece from `a` to `b`, whose middle point is `m`, may be
  // drawn as one line.
  bool (*IsFlat)(void* data, TFloatPoint a, TFloatPoint b, TFloatPoint m) = nullptr;
  void* Data = nullptr;
  int64_t SplitBudget = 0;
};

// Add the curve between the parameters t0 and t1 (start and end being the
// curve's points there) as lines: each call lowers `depth` by one; while it
// stays above 0 (and at most kMaxFlattenDepth - 1 levels deep), t1 > t0, the
// budget lasts and the piece is not flat, the piece is halved at
// (t0 + t1) / 2 and both halves are flattened in order; a flat piece adds a
// line to `end`.
void FlattenQuadratic(TFlattenContext& context, TFloatPoint start, TFloatPoint end, int32_t depth, double t1,
                      double t0);
void FlattenCubic(TFlattenContext& context, TFloatPoint start, TFloatPoint end, int32_t depth, double t1,
                  double t0);

// Fuzz entry point: the bytes as path text, parsed and, when it parses,
// drawn filled and stroked into a small bitmap. Aborts when a parsed path
// breaks the command rules the rasterizer relies on.
int FuzzSvgPath(const uint8_t* data, size_t size);

}  // namespace kav
