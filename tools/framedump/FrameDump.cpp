#include "tools/framedump/FrameDump.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <vector>

#include "VoRav/3DBasics/DXDev3D.h"
#include "VoRav/3DBasics/Dev3DEngineAccess.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "platform/d3d/gl/GlDevice.h"
#include "platform/d3d/gl/egl/GlEglContext.h"
#include "platform/png/vxPngLib.h"
#include "VoRav/Graphics/vxImageRegistry.h"

namespace kav {

namespace {
constexpr uint64_t kDumpWindow = 1;

class TCallbackItem : public TDrawItem {
 public:
  TCallbackItem(std::function<void(TDeviceDrawer*)> fn, float layer) : fn_(std::move(fn)), layer_(layer) {}
  void Draw(TDeviceDrawer* d) override { fn_(d); }
  float LayerValue() override { return layer_; }

 private:
  std::function<void(TDeviceDrawer*)> fn_;
  float layer_;
};
}  // namespace

TFrameDumper::TFrameDumper(int32_t width, int32_t height, int32_t shader_level, int32_t raster_threads)
    : sink_(MakeRef<TSwOffscreenSink>()) {
  TSwConfig cfg;
  cfg.Sink = sink_;
  // KAV_TEST_DEVICE=gl draws with the GL device (headless), so the golden
  // frames of every test that renders through here can be checked on it.
  if (const char* dev = std::getenv("KAV_TEST_DEVICE"); dev && std::string(dev) == "gl" && !cfg.Backend) {
    std::string error;
    cfg.Backend = HeadlessGlSystem(&error);
    if (!cfg.Backend) std::fprintf(stderr, "KAV_TEST_DEVICE=gl: no headless OpenGL (%s)\n", error.c_str());
  }
  cfg.RasterThreads = std::max(raster_threads, 0);
  cfg.Shaders = shader_level <= 0 ? TSwShaderProfile::Level0
                                  : shader_level == 1 ? TSwShaderProfile::Level1 : TSwShaderProfile::Level2;
  cfg.Monitors[0].Bounds = TSwRect{0, 0, std::max(width, 1), std::max(height, 1)};
  Ref<TSwDirect3D> d3d = MakeRef<TSwDirect3D>(cfg);
  SetDirect3DFactory([d3d] { return d3d; });
  Set3DPacingClock(T3DPacingClock{[] { return int64_t(0); }, [](uint32_t) {}});
  RegisterDirect3DEngine();
  FreeEngine3D();
  sink_->SetClientSize(kDumpWindow, uint32_t(width), uint32_t(height));
  device_ = MakeRef<TDrawDevice>(kDumpWindow);
  device_->SetBounds(TRect{0, 0, width, height}, TPoint{}, false);
  drawer_ = MakeRef<T3DDrawer>();
  drawer_->SetDrawDevice(device_.get());
}

TFrameDumper::~TFrameDumper() {
  drawer_ = nullptr;
  device_ = nullptr;
  FreeEngine3D();
  Set3DPacingClock(T3DPacingClock{});
  SetDirect3DFactory(nullptr);
}

bool TFrameDumper::RenderFrame(const std::function<void(TDeviceDrawer*)>& draw) {
  auto item = MakeRef<TCallbackItem>(draw, 0.0f);
  return drawer_->Render(item.get());
}

bool TFrameDumper::WritePng(const std::string& path) const { return sink_->WritePng(kDumpWindow, path); }

TSwOffscreenSink::TFrame TFrameDumper::LastFrame() const {
  TSwOffscreenSink::TFrame f;
  sink_->LastFrame(kDumpWindow, f);
  return f;
}

// ---- Scenes ----

namespace {

using TDrawFn = std::function<void(TDeviceDrawer*)>;

struct TGroup {
  float Layer = 0;
  bool Mask = false;
  std::vector<TDrawFn> Commands;
  std::vector<TDrawFn> Masked;  // for mask groups: the content after "with"
  bool InWith = false;
};

bool ParseColor(const std::string& s, uint32_t& c) {
  if (s.empty() || s.size() > 8) return false;
  char* end = nullptr;
  c = uint32_t(std::strtoul(s.c_str(), &end, 16));
  return *end == 0;
}

Ref<TImage> PatternImage(int32_t w, int32_t h) {
  auto b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const bool check = ((x / 16) + (y / 16)) & 1;
      reinterpret_cast<uint32_t*>(b->Row(y))[x] = 0xFF000000u | uint32_t(x * 255 / std::max(1, w - 1)) << 16 |
                                                   uint32_t(y * 255 / std::max(1, h - 1)) << 8 | (check ? 0xC0u : 0x40u);
    }
  return ImageFromBitmap(b.get(), false, u"pattern");
}

}  // namespace

bool DumpScene(const std::string& scene, const std::string& png_path, std::string& error) {
  std::istringstream in(scene);
  std::string line;
  int32_t width = 640, height = 360, level = 2, number = 0;
  uint32_t background = 0xFF000000;
  std::vector<TGroup> stack(1);
  std::vector<Ref<TDrawItem>> keep;
  std::vector<Ref<TImage>> images;
  bool drawing = false;
  auto fail = [&](const std::string& why) {
    error = "line " + std::to_string(number) + ": " + why;
    return false;
  };
  auto add = [&](TDrawFn fn) {
    TGroup& g = stack.back();
    (g.InWith ? g.Masked : g.Commands).push_back(std::move(fn));
  };
  while (std::getline(in, line)) {
    ++number;
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream ls(line);
    std::string cmd;
    if (!(ls >> cmd)) continue;
    if (cmd == "size" || cmd == "level") {
      if (drawing) return fail(cmd + " must come before drawing");
      if (cmd == "size" && !(ls >> width >> height)) return fail("size needs W H");
      if (cmd == "level" && !(ls >> level)) return fail("level needs N");
      if (width < 1 || height < 1 || width > 8192 || height > 8192) return fail("size out of range");
      continue;
    }
    drawing = true;
    if (cmd == "clear") {
      std::string c;
      if (!(ls >> c) || !ParseColor(c, background)) return fail("clear needs a colour");
    } else if (cmd == "box") {
      float x, y, w, h, opacity = 100;
      std::string a, b;
      int grad, edges = 0;
      TBoxParams box;
      if (!(ls >> x >> y >> w >> h >> a >> b >> grad) || !ParseColor(a, box.ColorA) || !ParseColor(b, box.ColorB))
        return fail("box needs X Y W H A B GRADIENT");
      ls >> opacity >> edges;
      box.Gradient = uint8_t(std::clamp(grad, 0, 255));
      box.Opacity = opacity;
      box.EdgeLeft = edges & 1;
      box.EdgeTop = edges & 2;
      box.EdgeRight = edges & 4;
      box.EdgeBottom = edges & 8;
      add([=](TDeviceDrawer* d) {
        d->FillBox(T3DPoint{x, y, 0}, TFloatPoint{w, h}, box, T3DPoint{1, 0, 0}, T3DPoint{0, 1, 0});
      });
    } else if (cmd == "frame") {
      float x, y, w, h, tx, ty;
      std::string c;
      uint32_t color;
      if (!(ls >> x >> y >> w >> h >> tx >> ty >> c) || !ParseColor(c, color)) return fail("frame needs X Y W H TX TY COLOR");
      add([=](TDeviceDrawer* d) {
        d->DrawFrame(DefaultBoxParams(), T3DPoint{x, y, 0}, false, color, color, TFloatPoint{w, h}, TFloatPoint{tx, ty});
      });
    } else if (cmd == "line") {
      float x1, y1, x2, y2;
      std::string c;
      uint32_t color;
      if (!(ls >> x1 >> y1 >> x2 >> y2 >> c) || !ParseColor(c, color)) return fail("line needs X1 Y1 X2 Y2 COLOR");
      add([=](TDeviceDrawer* d) { d->DrawLine(T3DPoint{x1, y1, 0}, T3DPoint{x2, y2, 0}, color); });
    } else if (cmd == "pattern" || cmd == "picture") {
      std::string file;
      if (cmd == "picture" && !(ls >> file)) return fail("picture needs FILE");
      float x, y, w, h, opacity = 100, angle = 0;
      if (!(ls >> x >> y >> w >> h)) return fail(cmd + " needs X Y W H");
      ls >> opacity >> angle;
      if (!(w > 0 && h > 0 && w <= 16384 && h <= 16384)) return fail("picture size out of range");
      Ref<TImage> img;
      if (cmd == "pattern") {
        img = PatternImage(int32_t(w), int32_t(h));
      } else {
        static const bool registered = (RegisterImageLoaders(), true);
        (void)registered;
        try {
          img = LoadImageFromFile(std::u16string(file.begin(), file.end()));
        } catch (...) {
          img = nullptr;
        }
        if (!img) return fail("cannot load " + file);
      }
      images.push_back(img);
      TImage* ip = img.get();
      const double ca = std::cos(angle * M_PI / 180), sa = std::sin(angle * M_PI / 180);
      TImageDrawParams p;
      p.Opacity = opacity;
      add([=](TDeviceDrawer* d) {
        const T3DPoint xa{float(w * ca), float(w * sa), 0}, ya{float(-h * sa), float(h * ca), 0};
        const T3DPoint o{float(x + w / 2 - (xa.x + ya.x) / 2), float(y + h / 2 - (xa.y + ya.y) / 2), 0};
        d->DrawImage(ip, o, p, ya, xa, TSize{int32_t(w), int32_t(h)});
      });
    } else if (cmd == "layer") {
      TGroup g;
      if (!(ls >> g.Layer)) return fail("layer needs VALUE");
      stack.push_back(std::move(g));
    } else if (cmd == "mask") {
      TGroup g;
      g.Mask = true;
      stack.push_back(std::move(g));
    } else if (cmd == "with") {
      if (!stack.back().Mask || stack.back().InWith) return fail("with outside a mask");
      stack.back().InWith = true;
    } else if (cmd == "end") {
      if (stack.size() < 2) return fail("end without a group");
      TGroup g = std::move(stack.back());
      stack.pop_back();
      auto run = [](const std::vector<TDrawFn>& cmds) {
        return [cmds](TDeviceDrawer* d) {
          for (auto& c : cmds) c(d);
        };
      };
      if (g.Mask) {
        auto mask = MakeRef<TCallbackItem>(run(g.Commands), 0.0f);
        auto content = MakeRef<TCallbackItem>(run(g.Masked), 0.0f);
        keep.push_back(mask);
        keep.push_back(content);
        TDrawItem* m = mask.get();
        TDrawItem* c = content.get();
        add([m, c](TDeviceDrawer* d) { d->DrawWithEffect(c, m, nullptr); });
      } else {
        auto item = MakeRef<TCallbackItem>(run(g.Commands), g.Layer);
        keep.push_back(item);
        TDrawItem* it = item.get();
        add([it](TDeviceDrawer* d) { d->Render(it); });
      }
    } else {
      return fail("unknown command " + cmd);
    }
  }
  if (stack.size() != 1) return fail("a group is not ended");
  TFrameDumper dumper(width, height, level);
  const std::vector<TDrawFn> top = stack[0].Commands;
  const bool ok = dumper.RenderFrame([&](TDeviceDrawer* d) {
    d->Clear(background, 0);
    for (auto& c : top) c(d);
  });
  if (!ok) {
    error = "the frame could not be drawn";
    return false;
  }
  if (!dumper.WritePng(png_path)) {
    error = "cannot write " + png_path;
    return false;
  }
  return true;
}

bool ReadPngPixels(const std::string& path, int32_t& width, int32_t& height, std::vector<uint32_t>& pixels) {
  const TImageLibEntries& png = PngImageLibEntries();
  TImageLibInfo info;
  if (!png.OpenImageFile(info, path.c_str())) return false;
  const bool ok = png.ReadImage(info) && info.BitsPerPixel >= 24;
  if (ok) {
    width = info.Width;
    height = info.Height;
    pixels.resize(size_t(width) * size_t(height));
    const int32_t bpp = info.BitsPerPixel / 8;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = info.Rows[y] + x * bpp;
        pixels[size_t(y) * size_t(width) + size_t(x)] =
            0xFF000000u | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
      }
  }
  png.CloseImage(info);
  return ok;
}

}  // namespace kav
