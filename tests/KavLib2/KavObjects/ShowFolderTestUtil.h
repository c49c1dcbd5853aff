// A show folder made at test time (pictures written as BMP files), the real
// slide host over it, slides built from project text on that host, and
// frame dumps of slides through the draw manager.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "KavLib2/KavObjects/KavSlide.h"
#include "KavLib2/KavObjects/KavSlideHost.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "ObjectsTestUtil.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/vxUTF8.h"
#include "platform/d3d/offscreen/SwOffscreenSink.h"
#include "tools/framedump/FrameDump.h"

namespace kav::test {

inline void PutLE(std::vector<uint8_t>& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}

// A 32-bit BMP with an alpha mask (top-down rows), pixels 0xAARRGGBB.
inline std::vector<uint8_t> Bmp32(int32_t w, int32_t h, const std::function<uint32_t(int32_t, int32_t)>& px) {
  std::vector<uint8_t> info;
  PutLE(info, 108, 4);
  PutLE(info, uint32_t(w), 4);
  PutLE(info, uint32_t(-h), 4);
  PutLE(info, 1, 2);
  PutLE(info, 32, 2);
  PutLE(info, 3, 4);  // bit fields
  PutLE(info, uint32_t(w * h * 4), 4);
  PutLE(info, 2835, 4);
  PutLE(info, 2835, 4);
  PutLE(info, 0, 4);
  PutLE(info, 0, 4);
  PutLE(info, 0x00FF0000u, 4);
  PutLE(info, 0x0000FF00u, 4);
  PutLE(info, 0x000000FFu, 4);
  PutLE(info, 0xFF000000u, 4);
  info.resize(108, 0);
  std::vector<uint8_t> file = {'B', 'M'};
  PutLE(file, uint32_t(14 + info.size() + size_t(w) * size_t(h) * 4), 4);
  PutLE(file, 0, 4);
  PutLE(file, uint32_t(14 + info.size()), 4);
  file.insert(file.end(), info.begin(), info.end());
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) PutLE(file, px(x, y), 4);
  return file;
}

struct TShowFolder {
  std::filesystem::path Dir;
  TShowFolder() {
    static std::atomic<int> n{0};
    Dir = std::filesystem::temp_directory_path() /
          ("kav_objects_" + std::to_string(getpid()) + "_" + std::to_string(n++));
    std::filesystem::create_directories(Dir);
  }
  ~TShowFolder() {
    std::error_code ec;
    std::filesystem::remove_all(Dir, ec);
  }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::filesystem::create_directories((Dir / name).parent_path());
    std::ofstream f(Dir / name, std::ios::binary);
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }
  void WriteText(const std::string& name, const std::string& text) const {
    Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::u16string Wide() const { return UTF8Decode(Dir.string()) + u"/"; }
};

// A button theme `buttons/<theme>/btn.ini` with its 30 x 20 skin of one
// colour (0xAARRGGBB) for all three looks, and `params` (lines of the
// description's TextParams object: "Color=...", "BtnOffset=..."); nothing
// extra without them.
inline void WriteButtonTheme(const TShowFolder& f, const std::string& theme, uint32_t colour,
                             const std::string& params = "") {
  const std::string parts =
      "LeftTop=skin.bmp,0,0,8,5\r\nTop=skin.bmp,8,0,22,5\r\nRightTop=skin.bmp,22,0,30,5\r\n"
      "Right=skin.bmp,22,5,30,15\r\nRightBottom=skin.bmp,22,15,30,20\r\nBottom=skin.bmp,8,15,22,20\r\n"
      "LeftBottom=skin.bmp,0,15,8,20\r\nLeft=skin.bmp,0,5,8,15\r\nCenter=skin.bmp,10,5,22,15\r\n";
  std::string text = "[NormalState]\r\n" + parts + "[HoverState]\r\n" + parts + "[ClickState]\r\n" + parts;
  if (!params.empty()) text += "object TextParams:Params\r\n" + params + "end\r\n";
  f.WriteText("buttons/" + theme + "/btn.ini", text);
  f.Write("buttons/" + theme + "/skin.bmp", Bmp32(30, 20, [colour](int32_t, int32_t) { return colour; }));
}

// The callbacks the slide producer would give the host.
struct TTestCallbacks {
  TVector3 Camera{960, 540, -935.3074360871938};  // 60 degrees over 1080 pixels
  TSize Buffer{320, 180};
  int Fills = 0;
  TIniList* Section(const std::u16string&) { return nullptr; }
  TVector3 CameraAt() { return Camera; }
  TSize BufferSize() { return Buffer; }
  bool Fill(int32_t n, TSysBitmap* b) {
    ++Fills;
    b->FillRect(TRect{0, 0, b->Width(), b->Height()}, 0xFF000000u | uint32_t(n));
    return true;
  }
};

// A slide host on a show folder.
struct THostFixture {
  TShowFolder Folder;
  TTestCallbacks Calls;
  Ref<TMappedFileSource> Source = MakeRef<TMappedFileSource>(Folder.Wide());
  Ref<TFileAccessor> Files = MakeRef<TFileAccessor>(Source.get());
  Ref<TKavSlideHost> Host;
  explicit THostFixture(std::u16string theme_folder = u"buttons/") {
    RegisterImageLoaders();
    InstallTextServices();
    Host = MakeRef<TKavSlideHost>(
        Files.get(), TKavSlideHost::TEffectResourceFill::Bind<&TTestCallbacks::Fill>(&Calls), nullptr, false,
        TKavSlideHost::TSectionQuery::Bind<&TTestCallbacks::Section>(&Calls),
        TKavSlideHost::TCameraQuery::Bind<&TTestCallbacks::CameraAt>(&Calls),
        TKavSlideHost::TEffectBufferQuery::Bind<&TTestCallbacks::BufferSize>(&Calls), theme_folder);
    Host->EffectBufferWidth = 320;
    Host->EffectBufferHeight = 180;
  }
};

// A 1920 x 1080 slide of 6000 ms on a real host whose root holds `children`.
struct THostSlide : THostFixture {
  Ref<TIniFile> Doc;
  Ref<TKavObjectProps> Props = MakeRef<TKavObjectProps>();
  Ref<TKavSlide> Slide;
  TSlideLengths Timing{6000, 1000, 500};

  explicit THostSlide(const std::function<void(TShowFolder&)>& files, std::string_view children) {
    files(Folder);
    Doc = test::Doc(Obj("root", "Frame", children));
    Slide = LoadTestSlide(Host.get(), Props.get(), Doc.get(), Timing);
  }
  TKavObject* At(int32_t i) const { return Slide->GetChild(i); }
};

// Where frame dumps go: $KAV_DUMP_DIR, else a folder in the temporary
// directory.
inline std::string SlideDumpPath(const std::string& name) {
  const char* dir = std::getenv("KAV_DUMP_DIR");
  std::filesystem::path p = dir ? dir : (std::filesystem::temp_directory_path() / "kav_objects");
  std::filesystem::create_directories(p);
  return (p / name).string();
}

// Renders the item at 1920 x 1080 scaled into a 480 x 270 frame over white
// and answers the pixels (0xAARRGGBB); writes the PNG when `name` is given.
// Pictures keep the textures of the device that drew them: a slide drawn
// more than once is drawn through one dumper.
inline std::vector<uint32_t> RenderSlideWith(TFrameDumper& dumper, TDrawItem* item, const std::string& name = {}) {
  T3DDrawer* drawer = dumper.Drawer();
  drawer->SetView(TFloatRect{0, 0, 1920, 1080}, FloatPoint(1920, 1080), true, Vector3(960, 540, -935.3074360871938f));
  dumper.RenderFrame([&](TDeviceDrawer* d) {
    d->Clear(0xFFFFFFFFu, 1);
    d->Render(item);
  });
  if (!name.empty()) dumper.WritePng(SlideDumpPath(name));
  return dumper.LastFrame().Pixels;
}

inline std::vector<uint32_t> RenderSlide(TDrawItem* item, const std::string& name = {}) {
  TFrameDumper dumper(480, 270);
  return RenderSlideWith(dumper, item, name);
}

inline uint32_t PixelAt(const std::vector<uint32_t>& px, int32_t x, int32_t y) {
  return px.at(size_t(y) * 480 + size_t(x));
}

}  // namespace kav::test
