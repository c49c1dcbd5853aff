#include "tests/tools/glcompare/GlCompare.h"

#include <cmath>
#include <cstdlib>

#include "platform/d3d/offscreen/SwOffscreenSink.h"

namespace kav::glcompare {

Ref<TGlSystem> Gl() {
  static bool told = false;
  std::string error;
  Ref<TGlSystem> s = HeadlessGlSystem(&error);
  if (!s && !told) {
    told = true;
    std::fprintf(stderr, "no headless OpenGL 3.3: %s\n", error.c_str());
  }
  return s;
}

TUseDevice::TUseDevice(bool gl) { SwSetDefaultBackend(gl ? Ref<TSwBackendFactory>(Gl()) : nullptr); }
TUseDevice::~TUseDevice() { SwSetDefaultBackend(nullptr); }

TPair DrawBoth(int32_t w, int32_t h, const std::function<void(TDeviceDrawer*)>& draw, int32_t level) {
  TPair p;
  p.Width = w;
  p.Height = h;
  for (bool gl : {false, true}) {
    TUseDevice use(gl);
    TFrameDumper d(w, h, level);
    EXPECT_TRUE(d.RenderFrame(draw));
    (gl ? p.Gl : p.Sw) = d.LastFrame().Pixels;
  }
  return p;
}

TDiff Compare(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b, int32_t w, int32_t x0, int32_t y0,
              int32_t x1, int32_t y1) {
  TDiff d;
  uint64_t sum[3] = {};
  size_t n = 0;
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) {
      const size_t i = size_t(y) * size_t(w) + size_t(x);
      if (i >= a.size() || i >= b.size()) continue;
      ++n;
      for (int c = 0; c < 3; ++c) {
        const int v = std::abs(int((a[i] >> (16 - 8 * c)) & 255) - int((b[i] >> (16 - 8 * c)) & 255));
        sum[c] += uint64_t(v);
        d.Far[c] += v > 8;
        d.Max = std::max(d.Max, v);
      }
    }
  for (int c = 0; c < 3; ++c) d.Mean[c] = n ? double(sum[c]) / double(n) : 0;
  return d;
}

namespace {

void Dump(const TPair& p, const std::string& name) {
  const char* dir = std::getenv("KAV_GL_COMPARE_DUMP");
  if (!dir) return;
  const std::string base = std::string(dir) + "/" + name;
  SwWritePngFile(base + "-sw.png", p.Sw.data(), uint32_t(p.Width), uint32_t(p.Height));
  SwWritePngFile(base + "-gl.png", p.Gl.data(), uint32_t(p.Width), uint32_t(p.Height));
  std::vector<uint32_t> diff(p.Sw.size());
  for (size_t i = 0; i < diff.size() && i < p.Gl.size(); ++i) {
    int m = 0;
    for (int s = 0; s < 24; s += 8) m = std::max(m, std::abs(int((p.Sw[i] >> s) & 255) - int((p.Gl[i] >> s) & 255)));
    const uint32_t v = uint32_t(std::min(255, m * 16));
    diff[i] = 0xFF000000u | v << 16 | v << 8 | v;
  }
  SwWritePngFile(base + "-diff.png", diff.data(), uint32_t(p.Width), uint32_t(p.Height));
}

}  // namespace

void ExpectAlikeIn(const TPair& p, const std::string& name, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  ASSERT_EQ(p.Sw.size(), size_t(p.Width) * size_t(p.Height)) << name;
  ASSERT_EQ(p.Gl.size(), p.Sw.size()) << name;
  const TDiff d = Compare(p.Sw, p.Gl, p.Width, x0, y0, x1, y1);
  const size_t pixels = size_t(x1 - x0) * size_t(y1 - y0);
  bool ok = true;
  for (int c = 0; c < 3; ++c) {
    EXPECT_LE(d.Mean[c], 1.0) << name << " channel " << "RGB"[c];
    EXPECT_LE(d.Far[c] * 1000, pixels) << name << " channel " << "RGB"[c] << ": " << d.Far[c] << " of " << pixels
                                       << " pixels more than 8 apart";
    ok = ok && d.Mean[c] <= 1.0 && d.Far[c] * 1000 <= pixels;
  }
  if (!ok || std::getenv("KAV_GL_COMPARE_DUMP_ALL")) Dump(p, name);
}

void ExpectAlike(const TPair& p, const std::string& name) { ExpectAlikeIn(p, name, 0, 0, p.Width, p.Height); }

}  // namespace kav::glcompare
