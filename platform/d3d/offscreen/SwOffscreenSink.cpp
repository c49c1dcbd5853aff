#include "platform/d3d/offscreen/SwOffscreenSink.h"

#include <png.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/d3d/raster/SwBands.inl"

namespace kav {

void TSwOffscreenSink::SetClientSize(TSwWindow window, uint32_t width, uint32_t height) {
  std::lock_guard<std::mutex> g(lock_);
  TFrame& f = frames_[window];
  f.Width = width;
  f.Height = height;
  f.Pixels.assign(size_t(width) * height, 0xFF000000u);
}

bool TSwOffscreenSink::ClientSize(TSwWindow window, uint32_t& width, uint32_t& height) {
  std::lock_guard<std::mutex> g(lock_);
  auto it = frames_.find(window);
  if (it == frames_.end()) return false;
  width = it->second.Width;
  height = it->second.Height;
  return true;
}

bool TSwOffscreenSink::Present(TSwWindow window, const TSwFrameView& frame, int32_t x, int32_t y) {
  std::lock_guard<std::mutex> g(lock_);
  TFrame& f = frames_[window];
  uint32_t need_w = uint32_t(std::max<int64_t>(f.Width, int64_t(x) + frame.Width));
  uint32_t need_h = uint32_t(std::max<int64_t>(f.Height, int64_t(y) + frame.Height));
  if (need_w != f.Width || need_h != f.Height) {
    std::vector<uint32_t> grown(size_t(need_w) * need_h, 0xFF000000u);
    for (uint32_t r = 0; r < f.Height; ++r)
      std::copy_n(f.Pixels.begin() + int64_t(r) * f.Width, f.Width, grown.begin() + int64_t(r) * need_w);
    f.Pixels.swap(grown);
    f.Width = need_w;
    f.Height = need_h;
  }
  // Rows above and columns left of the sink's origin are dropped; the rest
  // is one plain loop per row (vectorised by the compiler), in bands over
  // the device's raster threads: a full-screen copy is bound by memory,
  // which one thread does not saturate.
  const int32_t c0 = std::max(0, -x), r0 = std::max(0, -y), n = frame.Width - c0;
  SwForBands(r0, frame.Height, int64_t(std::max(n, 0)) * (frame.Height - r0), frame.Threads,
             [&](int32_t b0, int32_t b1) {
               for (int32_t r = b0; r < b1; ++r) {
                 const uint32_t* s = reinterpret_cast<const uint32_t*>(frame.Bits + int64_t(r) * frame.Pitch) + c0;
                 uint32_t* d = f.Pixels.data() + int64_t(y + r) * f.Width + (int64_t(x) + c0);
                 for (int32_t c = 0; c < n; ++c) d[c] = s[c] | 0xFF000000u;
               }
             });
  ++f.Presents;
  return true;
}

bool TSwOffscreenSink::LastFrame(TSwWindow window, TFrame& out) const {
  std::lock_guard<std::mutex> g(lock_);
  auto it = frames_.find(window);
  if (it == frames_.end()) return false;
  out = it->second;
  return true;
}

bool TSwOffscreenSink::WritePng(TSwWindow window, const std::string& path) const {
  TFrame f;
  if (!LastFrame(window, f) || f.Width == 0 || f.Height == 0) return false;
  return SwWritePngFile(path, f.Pixels.data(), f.Width, f.Height);
}

bool SwWritePngFile(const std::string& path, const uint32_t* pixels, uint32_t width, uint32_t height) {
  FILE* fp = std::fopen(path.c_str(), "wb");
  if (!fp) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(size_t(width) * 3);
  bool ok = false;
  if (png && info && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, fp);
    png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (uint32_t y = 0; y < height; ++y) {
      const uint32_t* s = pixels + size_t(y) * width;
      for (uint32_t x = 0; x < width; ++x) {
        row[3 * x] = uint8_t(s[x] >> 16);
        row[3 * x + 1] = uint8_t(s[x] >> 8);
        row[3 * x + 2] = uint8_t(s[x]);
      }
      png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    ok = true;
  }
  png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
  ok = (std::fclose(fp) == 0) && ok;
  return ok;
}

}  // namespace kav
