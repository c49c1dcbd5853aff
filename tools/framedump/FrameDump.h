// Test-only frame dumps: a window on the offscreen sink with a drawer bound
// to it; frames are drawn by a callback or from a small scene description
// and written as PNG files. They are drawn by the device new system objects
// take (SwDefaultBackend), or by the headless GL device when the
// environment says KAV_TEST_DEVICE=gl.
//
// Scene description, one command per line ("#" starts a comment; colours
// are AARRGGBB in hexadecimal):
//   size W H                      window size (first; default 640 360)
//   level N                       shader level 0, 1 or 2 (before drawing)
//   clear COLOR
//   box X Y W H A B GRADIENT [OPACITY [EDGEMASK]]
//   frame X Y W H TX TY COLOR
//   line X1 Y1 X2 Y2 COLOR
//   pattern X Y W H [OPACITY [ANGLE]]   a generated test picture
//   picture FILE X Y W H [OPACITY]      a picture file
//   layer VALUE ... end            the commands between drawn as one item
//                                   with that layer value (blur > 0,
//                                   sharpening < 0)
//   mask ... with ... end          the first group masks the second
#pragma once

#include <functional>
#include <cstdint>
#include <string>
#include <vector>

#include "KavLib2/3DEngine/DrawManager3D2.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"

namespace kav {

class TFrameDumper {
 public:
  // A window of the size on its own system object at the shader level,
  // drawing on `raster_threads` threads (0: every hardware thread).
  TFrameDumper(int32_t width, int32_t height, int32_t shader_level = 2, int32_t raster_threads = 0);
  ~TFrameDumper();
  TFrameDumper(const TFrameDumper&) = delete;
  TFrameDumper& operator=(const TFrameDumper&) = delete;

  T3DDrawer* Drawer() const { return drawer_.get(); }
  // Renders one frame drawn by `draw`; false when the frame failed.
  bool RenderFrame(const std::function<void(TDeviceDrawer*)>& draw);
  bool WritePng(const std::string& path) const;
  // The last frame's pixels (A8R8G8B8).
  TSwOffscreenSink::TFrame LastFrame() const;

 private:
  Ref<TSwOffscreenSink> sink_;
  Ref<TDrawDevice> device_;
  Ref<T3DDrawer> drawer_;
};

// Reads a PNG of 24 or 32 bits into opaque 0xFFRRGGBB pixels, rows top
// first (reference frames); false when it cannot be read.
bool ReadPngPixels(const std::string& path, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels);

// Renders a scene description into `png_path`. False with `error` set for a
// bad line (its number and the reason) or a failed frame.
bool DumpScene(const std::string& scene, const std::string& png_path, std::string& error);

}  // namespace kav
