// Fuzz entry point of the path text parser and the rasterizer behind it.
#include <cstdlib>
#include <cstdio>
#include <string_view>

#include "VoRav/VectorGraphics/vxRasterizerUtils.h"
#include "VoRav/VectorGraphics/vxSvgUtils.h"

namespace kav {

namespace {
void Require(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "FuzzSvgPath: %s\n", what);
  std::abort();
}
}  // namespace

int FuzzSvgPath(const uint8_t* data, size_t size) {
  const TFuzzPathSplits splits;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  TPointArray path;
  size_t error_pos = 0;
  if (!ParsePathText(text, path, &error_pos)) {
    Require(path.Empty(), "a refused text left points behind");
    Require(error_pos <= size, "error position past the text");
    return 0;
  }
  Require(path.Count() <= kMaxParsedPathPoints, "more points than the cap");
  Require(path.Empty() || path[0].Command == kPathMove, "a parsed path that does not start with a move");
  Ref<TRasterHelper> helper = MakeRef<TRasterHelper>();
  // A small area: the fill's work grows with the rows times the edges that
  // cross them, and the paths of a few bytes can hold thousands of edges.
  helper->BeginPaintClear(32, 32);
  helper->SetFillColor(0xFFFFFFFFu);
  Require(helper->DrawPath(path, false), "a parsed path the painter refuses");
  Require(helper->DrawPath(path, true), "a parsed path the painter refuses (even-odd)");
  helper->SetStrokeMode(2);
  helper->SetStrokeWidth(3);
  Require(helper->DrawPath(path, false), "a parsed path the painter refuses (stroke)");
  helper->EndPaint();
  return 0;
}

}  // namespace kav
