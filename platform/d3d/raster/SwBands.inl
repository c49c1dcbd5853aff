// Band splitting shared by the rasteriser and the fast paths.
#pragma once

#include <algorithm>
#include <functional>

#include "platform/d3d/raster/SwWorkerPool.h"

namespace kav {

// Below this many pixels a draw is not worth waking workers for.
constexpr int64_t kSwInlinePixels = 24 * 1024;
// Pixels that make the work of one thread of a draw shared out in bands.
constexpr int64_t kSwPixelsPerThread = 96 * 1024;

template <class F>
void SwForBands(int32_t y0, int32_t y1, int64_t pixels, int32_t threads, F&& band) {
  int32_t rows = y1 - y0;
  if (rows <= 0) return;
  TSwWorkerPool& pool = TSwWorkerPool::Shared();
  // One thread per so many pixels: a draw of a tenth of the screen is not
  // worth eight threads waking up for it.
  threads = int32_t(std::min<int64_t>({int64_t(threads), int64_t(pool.MaxThreads()), 1 + pixels / kSwPixelsPerThread}));
  if (threads <= 1 || pixels < kSwInlinePixels || rows < 16) {
    band(y0, y1);
    return;
  }
  // Many bands per thread even out uneven rows and a worker the system has
  // paused: the others take the bands it has not started, and what it
  // holds is one small band.
  int32_t count = std::min(threads * 16, rows / 8);
  int32_t height = (rows + count - 1) / count;
  count = (rows + height - 1) / height;
  std::function<void(int)> job = [&](int i) {
    int32_t b0 = y0 + i * height;
    band(b0, std::min(y1, b0 + height));
  };
  pool.Run(count, threads, job);
}

}  // namespace kav
