// Producing a typical slide: a full-screen 24-megapixel JPEG, three smaller
// pictures, two texts with shadows and a button, from a project folder,
// laid out and with every picture's level made as drawing would need it.
// Cold: a new show source each time (no picture cached); warm: the same
// source again. Beside them, decoding the large JPEG alone at the level the
// slide draws it from, and giving the heap's free pages back once a slide is
// made (what the engine's loader does after each prepared slide), with the
// slide made before it let go and the new one held.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <fstream>

#include "BenchMedia.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "KavLib2/KavProcess/KavMemoryPolicy.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/JpegColorSpace/vxImageLoaders.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/vxUTF8.h"

using namespace kav;

namespace {

std::string Obj(const std::string& name, const std::string& kind, const std::string& body) {
  return "object " + name + ":" + kind + "\r\nGUID={" + name + "}\r\n" + body + "end\r\n";
}

std::string Key(const std::string& body) { return "object k:KeyPoint\r\nTime=0\r\n" + body + "end\r\n"; }

// The show folder: pictures, a button theme and the project text.
const std::filesystem::path& ShowFolder() {
  static const std::filesystem::path dir = [] {
    const auto d = std::filesystem::temp_directory_path() / "kav-bench-slide";
    std::filesystem::create_directories(d / "buttons" / "aqua");
    const std::string big = bench::MakePhotoJpeg(6000, 4000, "kav-bench-24mp");
    const std::string small = bench::MakePhotoJpeg(1200, 800, "kav-bench-1mp");
    if (!big.empty()) std::filesystem::copy_file(big, d / "big.jpg", std::filesystem::copy_options::overwrite_existing);
    for (const char* n : {"a.jpg", "b.jpg", "c.jpg"})
      if (!small.empty()) std::filesystem::copy_file(small, d / n, std::filesystem::copy_options::overwrite_existing);
    std::string parts;
    for (const char* p : {"LeftTop=skin.bmp,0,0,8,5", "Top=skin.bmp,8,0,22,5", "RightTop=skin.bmp,22,0,30,5",
                          "Right=skin.bmp,22,5,30,15", "RightBottom=skin.bmp,22,15,30,20",
                          "Bottom=skin.bmp,8,15,22,20", "LeftBottom=skin.bmp,0,15,8,20", "Left=skin.bmp,0,5,8,15",
                          "Center=skin.bmp,10,5,22,15"})
      parts += std::string(p) + "\r\n";
    std::ofstream(d / "buttons" / "aqua" / "btn.ini")
        << "[NormalState]\r\n" + parts + "[HoverState]\r\n" + parts + "[ClickState]\r\n" + parts;
    std::string slide = "[Slide1]\r\n" + Obj("big", "Image", "ImageName=big.jpg\r\n");
    const char* pos[3] = {"-60,-50", "0,-50", "60,-50"};
    const char* names[3] = {"a.jpg", "b.jpg", "c.jpg"};
    for (int i = 0; i < 3; ++i)
      slide += Obj(std::string("p") + char('0' + i), "Image",
                   std::string("ImageName=") + names[i] + "\r\nShadowEnable=1\r\n" +
                       Key(std::string("Position=") + pos[i] + "\r\nScaleX=25\r\nScaleY=25\r\n"));
    slide += Obj("t1", "Text", "Text=\"A title over the picture\"\r\n" + Key("Position=0,40\r\nScaleX=10\r\nScaleY=10\r\n"));
    slide += Obj("t2", "Text", "Text=\"Slide <%SlideIndex%> of <%SlidesCount%>\"\r\n" +
                                   Key("Position=0,70\r\nScaleX=6\r\nScaleY=6\r\n"));
    slide += Obj("btn", "Button", "Theme=aqua\r\nAction=nextslide\r\n" + Obj("cap", "Text", "Text=\"Next\"\r\n" + Key("")) +
                                      Key("Position=80,80\r\nScaleX=8\r\nScaleY=8\r\n"));
    std::ofstream(d / "Project.kav") << "[Main]\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\nPathToButtons=buttons/\r\n"
                                        "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=5000\r\n" + slide;
    return d;
  }();
  return dir;
}

void WriteSkin() {
  const auto p = ShowFolder() / "buttons" / "aqua" / "skin.bmp";
  if (std::filesystem::exists(p)) return;
  std::ofstream out(p, std::ios::binary);
  // A 30 x 20 24-bit BMP (rows of 90 bytes, a multiple of 4 plus 2: padded).
  auto put = [&](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.put(char(v >> (8 * i)));
  };
  const uint32_t row = 92, data = row * 20;
  out.put('B');
  out.put('M');
  put(54 + data, 4);
  put(0, 4);
  put(54, 4);
  put(40, 4);
  put(30, 4);
  put(20, 4);
  put(1, 2);
  put(24, 2);
  put(0, 4);
  put(data, 4);
  put(2835, 4);
  put(2835, 4);
  put(0, 4);
  put(0, 4);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 30; ++x) put(0x2050C8, 3);
    put(0, 2);
  }
}

struct TShow {
  Ref<TKavSource> Source;
  Ref<TSlideProducer> Producer;
  TShow() {
    const std::u16string folder = UTF8Decode(ShowFolder().string()) + u"/";
    auto files = MakeRef<TFileAccessor>(MakeRef<TMappedFileSource>(folder).get());
    auto ini = MakeRef<TIniFile>();
    std::ifstream in(ShowFolder() / "Project.kav", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ini->LoadFromBytes(text);
    Source = MakeRef<TKavSource>(files.get(), ini.get());
    Producer = MakeRef<TSlideProducer>(Source.get(), nullptr, TKavSlideHost::TEffectResourceFill(), false);
    Producer->CurrentTiming = MakeRef<TTiming>(0);
    Producer->SetAspectRatio(TSize{1920, 1080}, false, 100, 100);
  }
};

// Every picture's level as the slide draws it.
void MakeLevels(TKavObject* o) {
  if (auto* image = dynamic_cast<TKavImage*>(o); image && image->Picture())
    benchmark::DoNotOptimize(image->Picture()->Store()->GetMipLevel(image->MipLevel()).get());
  for (int32_t i = 0; i < o->ChildCount(); ++i) MakeLevels(o->GetChild(i));
}

bool Ready(benchmark::State& state) {
  if (access(bench::kCjpeg.c_str(), X_OK) != 0 || !std::filesystem::exists(ShowFolder() / "big.jpg")) {
    state.SkipWithError("cjpeg (libjpeg-turbo-progs) is not installed");
    return false;
  }
  RegisterImageLoaders();
  InstallTextServices();
  RegisterKavObjectFactories();
  WriteSkin();
  return true;
}

void ProduceOnce(TShow& show) {
  Ref<TDrawContainer> c = show.Producer->ProduceSlide(0);
  c->SetTime(100);
  MakeLevels(c->Slide.get());
}

void BM_SlideProductionCold(benchmark::State& state) {
  if (!Ready(state)) return;
  for (auto _ : state) {
    TShow show;
    ProduceOnce(show);
  }
}

void BM_SlideProductionWarm(benchmark::State& state) {
  if (!Ready(state)) return;
  TShow show;
  Ref<TDrawContainer> keep = show.Producer->ProduceSlide(0);  // holds the pictures in the cache
  keep->SetTime(100);
  MakeLevels(keep->Slide.get());
  for (auto _ : state) ProduceOnce(show);
}

// The large picture alone, decoded at the level the slide uses.
void BM_SlideBigJpegDecodeOnly(benchmark::State& state) {
  if (!Ready(state)) return;
  TShow show;
  Ref<TDrawContainer> c = show.Producer->ProduceSlide(0);
  c->SetTime(100);
  const int32_t level = dynamic_cast<TKavImage*>(c->Slide->GetChild(0))->MipLevel();
  state.counters["level"] = level;
  for (auto _ : state) {
    TShow fresh;
    Ref<TImage> p = LoadImageHandle(fresh.Source->Accessor(), u"big.jpg");
    benchmark::DoNotOptimize(p->Store()->GetMipLevel(level).get());
  }
}

void BM_SlideTrimHeapAfterProduction(benchmark::State& state) {
  if (!Ready(state)) return;
  auto held = std::make_unique<TShow>();
  ProduceOnce(*held);
  for (auto _ : state) {
    state.PauseTiming();
    auto next = std::make_unique<TShow>();
    Ref<TDrawContainer> c = next->Producer->ProduceSlide(0);
    c->SetTime(100);
    MakeLevels(c->Slide.get());
    held = std::move(next);
    state.ResumeTiming();
    benchmark::DoNotOptimize(TrimHeap());
  }
}

BENCHMARK(BM_SlideBigJpegDecodeOnly)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SlideProductionCold)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_SlideProductionWarm)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_SlideTrimHeapAfterProduction)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
