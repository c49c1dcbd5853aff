#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "Kav/KavViewer/KavShowSlides.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxUTF8.h"
#include "tests/KavLib2/KavClasses/ShowFixture.h"
#include "tests/KavLib2/KavObjects/ShowFolderTestUtil.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

// Two slides (ends 3000 and 6000 ms), each one box over the whole slide in
// a colour of its own; the second comes in with a 500 ms dissolve.
std::string TwoSlideProject() {
  auto box = [](const std::string& colour) {
    return test::Obj("box", "Box",
                     "Size=1920,1080\nFillMode=HGradient\nColor1=" + colour + "\nColor2=" + colour + "\n" +
                         test::KeyPoint("Time=0\nPosition=0,0\nScaleX=100\nScaleY=100\n"));
  };
  return "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\nopt_repeat=repeat\r\n"
         "object TheEffect:AnEffect\r\ntime=1000\r\n"
         "object dissolve:Effect\r\nchecked=1\r\nstdidx=2\r\nend\r\nend\r\n"
         "[Times]\r\nopt_slidescount=2\r\nopt_synchpos1=3000\r\nopt_synchpos2=6000\r\n"
         "[Slide1]\r\n" + box("200,30,30") + "object TheEffect:AnEffect\r\nref=dissolve\r\ntime=500\r\nend\r\n" +
         "[Slide2]\r\n" + box("30,30,200") + "object TheEffect:AnEffect\r\nref=dissolve\r\ntime=500\r\nend\r\n";
}

struct TWindowFixture : test::THostFixture {
  Ref<TKavSource> Source;
  Ref<TLoaderTiming> Timing = MakeRef<TLoaderTiming>();
  Ref<TShowSlideWindow> Window;
  std::vector<std::vector<Ref<TPreparedSlide>>> Windows;
  int Prepared = 0;

  explicit TWindowFixture(const std::string& project = TwoSlideProject(),
                          const std::function<void(test::TShowFolder&)>& files = {}) {
    if (files) files(Folder);
    InstallShowServices();
    InstallShowSlides();  // again, should another test have taken the factories out
    Host.reset();  // the window's producer makes the show's host
    TKavSourceSetup setup;
    setup.RandomSeed = 5;
    Source = MakeRef<TKavSource>(Files.get(), test::ProjectIni(project).get(), setup);
    Window = MakeRef<TShowSlideWindow>(Source.get(), Timing.get(), 3);
    Window->OnWindow = [this](TPreparedSlide* const* slides, int32_t count) {
      std::vector<Ref<TPreparedSlide>> w;
      for (int32_t i = 0; i < count; ++i) w.emplace_back(slides[i]);
      Windows.push_back(std::move(w));
    };
    Window->OnSlidePrepared = [this](TPreparedSlide*) { ++Prepared; };
    Window->SetAspectRatio(TSize{1920, 1080}, 1.0, 100, 100);
  }
  ~TWindowFixture() { Window = nullptr; }

  void At(double t) {
    Timing->Time = t;
    Window->AdvanceSlideWindow(t);
  }
  // The slide of the last window that holds `t`.
  TPreparedSlide* SlideAt(double t) {
    if (Windows.empty()) return nullptr;
    for (auto& s : Windows.back())
      if (s->Times.Begin <= t && t < s->Times.End) return s.get();
    return nullptr;
  }
};

TEST(ShowSlides, WindowFollowsTheShowTimeWithTimesAndTransitions) {
  TWindowFixture f;
  EXPECT_EQ(f.Window->GetVisibleRect(), (TRect{0, 0, 1920, 1080}));
  f.At(1000);
  ASSERT_FALSE(f.Windows.empty());
  EXPECT_EQ(f.Prepared, f.Window->WindowCount());
  TPreparedSlide* first = f.SlideAt(1000);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->Index, 0);
  EXPECT_DOUBLE_EQ(first->Times.End, 3000);
  EXPECT_DOUBLE_EQ(first->GetTime(), 1000);
  ASSERT_NE(first->Object(), nullptr);
  // The window is made in one advance; the next one at a time within it
  // finds nothing to do and says so (the loader then looks less often).
  EXPECT_FALSE(f.Window->WindowSettled());
  f.At(1500);
  EXPECT_TRUE(f.Window->WindowSettled());

  // Into the second slide's dissolve: the window moved, the incoming slide
  // has its transition at the right progress.
  f.At(3200);
  TPreparedSlide* second = f.SlideAt(3200);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(second->Index, 1);
  EXPECT_DOUBLE_EQ(second->Times.Begin, 3000);
  EXPECT_DOUBLE_EQ(second->Times.EffectTime, 500);
  second->SetTime(3200);
  ASSERT_NE(second->Transition(), nullptr);
  EXPECT_NEAR(second->TransitionProgress(), 0.4, 1e-9);
  second->SetTime(5000);
  EXPECT_DOUBLE_EQ(second->TransitionProgress(), 1.0);

  // The next loop: same slide again, shifted by the show's length.
  f.At(6000 + 1000);
  EXPECT_FALSE(f.Window->WindowSettled());  // slides left, others were made
  TPreparedSlide* again = f.SlideAt(7000);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Index, 2);
  EXPECT_DOUBLE_EQ(again->Times.Begin, 6000);
}

// A slide stands still from its last keyframe on, and from the opening of
// a visible window, counted in show time, in the next loop too; one without
// motion stands still throughout.
TEST(ShowSlides, SlidesStandStillFromTheirLastChange) {
  std::string project = TwoSlideProject();
  const std::string moving = "[Slide1]\r\n" +
                             test::Obj("mover", "Box", "Size=100,100\n" + test::KeyPoint("Time=0\nPosition=0,0\n") +
                                                           test::KeyPoint("Time=1000\nPosition=40,0\n")) +
                             test::Obj("late", "Box", "Size=100,100\nDeltaTime1=2000\n");
  project.replace(project.find("[Slide1]\r\n"), std::string("[Slide1]\r\n").size(), moving);
  TWindowFixture f(project);
  f.At(100);
  TPreparedSlide* first = f.SlideAt(100);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(first->StillFrom(100));
  EXPECT_EQ(first->NextChange(999, true), 999);
  EXPECT_EQ(first->NextChange(1000, true), 2000);
  EXPECT_TRUE(std::isinf(first->NextChange(1000, false)));
  EXPECT_TRUE(first->StillFrom(2000));
  EXPECT_TRUE(first->StillFrom(2500));
  TPreparedSlide* second = f.SlideAt(3100);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(second->StillFrom(3000));
  f.At(6100);
  TPreparedSlide* again = f.SlideAt(6100);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(again->Index, 2);
  EXPECT_FALSE(again->StillFrom(6500));
  EXPECT_EQ(again->NextChange(7000, true), 8000);
  EXPECT_TRUE(again->StillFrom(8000));
}

// The slide the window hands out draws as the producer's own slide of that
// time does, prepared through the drawer the engine gives it.
TEST(ShowSlides, FrameAtATimeShowsTheSlide) {
  TWindowFixture f;
  f.At(4000);
  TPreparedSlide* slide = f.SlideAt(4000);
  ASSERT_NE(slide, nullptr);
  slide->SetTime(4000);
  TFrameDumper dumper(480, 270);
  slide->PrepareOn(dumper.Drawer());
  const auto px = test::RenderSlideWith(dumper, slide->Object(), "show_slides_window.png");

  auto producer = MakeRef<TSlideProducer>(f.Source.get(), nullptr, TKavSlideHost::TEffectResourceFill(), false);
  producer->CurrentTiming = MakeRef<TTiming>(4000);
  producer->SetAspectRatio(TSize{1920, 1080}, false, 100, 100);
  Ref<TDrawContainer> direct = producer->ProduceSlide(1);
  ASSERT_NE(direct->Slide, nullptr);
  direct->SetTime(4000);
  const auto expected = test::RenderSlide(direct->Slide.get(), "show_slides_direct.png");
  ASSERT_EQ(px.size(), expected.size());
  EXPECT_EQ(px, expected);
  // The second slide's blue box fills the frame.
  const uint32_t mid = test::PixelAt(px, 240, 135);
  EXPECT_NEAR(int(mid & 0xFF), 200, 6);
  EXPECT_NEAR(int((mid >> 16) & 0xFF), 30, 6);
  slide->ReleaseDeviceResources();
  slide->ReleaseDeviceResources();  // twice is harmless
}

// A clip object that names no size of its own, on a slide the window hands
// out, draws its clip's frame at its frame size (scaled by its key).
// A clip that starts later (its visible window opens at 1500 ms) leaves the
// slide still until then; while shown it changes every frame, the clock
// running or standing.
TEST(ShowSlides, AClipThatStartsLaterChangesTheSlideFromItsStart) {
  const std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n"
      "[Slide1]\r\n" +
      test::Obj("clip", "Video", "Size=800,450\nFileName=later.mp4\nDeltaTime1=1500\n");
  TWindowFixture f(project);
  f.At(400);
  TPreparedSlide* slide = f.SlideAt(400);
  ASSERT_NE(slide, nullptr);
  EXPECT_EQ(slide->NextChange(400, true), 1500);
  EXPECT_TRUE(std::isinf(slide->NextChange(400, false)));
  EXPECT_EQ(slide->NextChange(2000, true), 2000);
  EXPECT_EQ(slide->NextChange(2000, false), 2000);
}

TEST(ShowSlides, AVideoObjectWithoutASizeShowsItsFrame) {
  const std::string clip = testclips::MakeClip(testclips::ClipDesc("slide_clip.mp4"));
  ASSERT_FALSE(clip.empty());
  const auto ref = testclips::DecodeReference(clip, 64, 48);
  ASSERT_GT(ref.Frames(), 12);
  const std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n"
      "[Slide1]\r\n" +
      test::Obj("clip", "Video",
                "FileName=clip.mp4\nWaitForConvert=1\n" + test::KeyPoint("Time=0\nPosition=0,0\nScaleX=50\nScaleY=50\n"));
  TWindowFixture f(project, [&](test::TShowFolder& folder) { std::filesystem::copy_file(clip, folder.Dir / "clip.mp4"); });
  f.At(400);
  TPreparedSlide* slide = f.SlideAt(400);
  ASSERT_NE(slide, nullptr);
  slide->SetTime(400);
  TFrameDumper dumper(480, 270);
  slide->PrepareOn(dumper.Drawer());
  const auto px = test::RenderSlideWith(dumper, slide->Object(), "show_slides_video.png");
  // Fitted into the 1920 x 1080 slide at half its height: 720 x 540, so
  // 180 x 135 in the middle of the dumped frame (edges left out).
  double sum = 0;
  int count = 0;
  for (int y = 71; y < 199; ++y)
    for (int x = 153; x < 327; ++x) {
      const uint32_t c = test::PixelAt(px, x, y);
      const double luma = 16 + 0.257 * ((c >> 16) & 255) + 0.504 * ((c >> 8) & 255) + 0.098 * (c & 255);
      sum += std::abs(luma - ref.Frame(10)[int((y + 0.5 - 67.5) * 48 / 135) * 64 + int((x + 0.5 - 150) * 64 / 180)]);
      ++count;
    }
  EXPECT_LT(sum / count, 8.0);
  slide->ReleaseDeviceResources();
}

// Clip objects whose clip does not open (a missing file, a damaged one), on
// a slide the window hands out: each draws the grey placeholder naming the
// problem and the file over its rectangle, prepared like a picture.
TEST(ShowSlides, VideoObjectsWhoseClipDidNotOpenDrawThePlaceholder) {
  auto video = [](const std::string& name, const std::string& file, int x) {
    return test::Obj(name, "Video",
                     "Size=800,450\nFileName=" + file + "\n" +
                         test::KeyPoint("Time=0\nPosition=" + std::to_string(x) + ",0\nScaleX=40\nScaleY=40\n"));
  };
  // At 40 % of the slide's size, centred a quarter of the slide's width
  // left and right of its centre: 96..864 and 1056..1824 across, 324..756
  // down.
  const std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n"
      "[Slide1]\r\n" + video("gone", "gone.mp4", -50) + video("broken", "broken.mp4", 50);
  TWindowFixture f(project, [](test::TShowFolder& folder) {
    static const char kBytes[] = "\x13\x99 garbage\x00\x7f not a clip at all, only bytes";
    folder.WriteText("broken.mp4", std::string(kBytes, sizeof kBytes - 1));
  });
  f.At(400);
  TPreparedSlide* slide = f.SlideAt(400);
  ASSERT_NE(slide, nullptr);
  slide->SetTime(400);
  TFrameDumper dumper(480, 270);
  slide->PrepareOn(dumper.Drawer());
  const auto px = test::RenderSlideWith(dumper, slide->Object(), "show_slides_video_placeholders.png");
  // Share of grey pixels in a rectangle of slide units (the frame is a
  // quarter of the slide's size).
  auto grey = [&](int x0, int y0, int x1, int y1) {
    int n = 0, all = 0;
    for (int y = y0 / 4; y < y1 / 4; ++y)
      for (int x = x0 / 4; x < x1 / 4; ++x, ++all) {
        const uint32_t c = test::PixelAt(px, x, y);
        const int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
        n += r > 80 && r < 245 && std::abs(r - g) < 8 && std::abs(r - b) < 8;
      }
    return all ? double(n) / all : 0.0;
  };
  EXPECT_GT(grey(110, 340, 850, 740), 0.5);
  EXPECT_GT(grey(1070, 340, 1810, 740), 0.5);
  EXPECT_LT(grey(0, 0, 1920, 290), 0.01);  // the slide around them stays as it was
  slide->ReleaseDeviceResources();
}

// A played show's picture takes its shadow from the host's image-task
// worker, which the window started; the worker ends with the window.
TEST(ShowSlides, PictureShadowsArriveThroughTheImageTaskQueue) {
  const std::string pic = test::Obj("pic", "Image",
                                    "ImageName=disc.bmp\nShadowEnable=1\nShadowSize=10\n" +
                                        test::KeyPoint("Time=0\nPosition=0,0\nScaleX=100\nScaleY=100\n"));
  const std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n"
      "[Times]\r\nopt_slidescount=1\r\nopt_synchpos1=3000\r\n[Slide1]\r\n" + pic;
  TWindowFixture f(project, [](test::TShowFolder& folder) {
    folder.Write("disc.bmp", test::Bmp32(64, 64, [](int32_t x, int32_t y) {
                   return std::hypot(x - 31.5, y - 31.5) < 28 ? 0xFF00FF00u : 0u;
                 }));
  });
  TKavSlideHost* host = f.Window->Producer()->Host();
  ASSERT_NE(host, nullptr);
  ASSERT_NE(host->TaskQueue, nullptr);
  EXPECT_FALSE(host->TaskQueue->Stopped());
  f.At(1000);
  TPreparedSlide* slide = f.SlideAt(1000);
  ASSERT_NE(slide, nullptr);
  auto* kav_slide = dynamic_cast<TKavSlide*>(slide->Object());
  ASSERT_NE(kav_slide, nullptr);
  TKavImage* image = nullptr;
  for (int32_t i = 0; i < kav_slide->ChildCount() && !image; ++i) image = dynamic_cast<TKavImage*>(kav_slide->GetChild(i));
  ASSERT_NE(image, nullptr);
  bool arrived = false;
  for (int i = 0; i < 6000 && !arrived; ++i) {  // 30 s at least: a loaded machine
    slide->SetTime(1000);
    arrived = image->Shadow() && image->Shadow()->Image();
    if (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(arrived);
  // Closing the window stops the worker before the host goes.
  Ref<TImageTaskQueue> queue = host->TaskQueue;
  f.Window = nullptr;
  EXPECT_TRUE(queue->Stopped());
}

// ---- Decodes per photo ------------------------------------------------------------

// The levels each picture of the counting loader made from its source, by
// name, in order.
struct TDecodeLog {
  std::mutex Lock;
  std::map<std::u16string, std::vector<int32_t>> Levels;
};
TDecodeLog& Decodes() {
  static TDecodeLog log;
  return log;
}

// A picture whose file holds "width height": like the JPEG loader's, its
// levels 0 to 3 come from the source at that size (each one a "decode").
class TCountingStore : public TSysBitmapStore {
 public:
  TCountingStore(const std::u16string& name, const TImageParamsCallback& cb, TSize size)
      : TSysBitmapStore(name, cb, StdFormats().R8G8B8, size), name_(name), size_(size) {}

 protected:
  void LoadMipLevel(int32_t level, TLevelBitmap& out) override {
    if (level > 3) return;
    {
      std::lock_guard<std::mutex> hold(Decodes().Lock);
      Decodes().Levels[name_].push_back(level);
    }
    const int32_t k = 1 << level;
    out.Bitmap = CreateSysBitmap((size_.cx + k - 1) / k, (size_.cy + k - 1) / k, StdFormats().R8G8B8);
    out.Owned = true;
    out.Level = level;
  }

 private:
  std::u16string name_;
  TSize size_;
};

Ref<TBitmapStore> LoadCounting(TStream* stream, const std::u16string& name, bool owns_stream,
                               const TImageParamsCallback& cb) {
  Ref<TStream> taken = owns_stream ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  std::array<uint8_t, 32> text{};
  const int64_t got = stream->Read(text, 31);
  int w = 0, h = 0;
  if (got <= 0 || std::sscanf(reinterpret_cast<const char*>(text.data()), "%d %d", &w, &h) != 2 || w < 1 || h < 1)
    return nullptr;
  return MakeRef<TCountingStore>(name, cb, TSize{w, h});
}

// Five slides of 3 s, each one photo of 4000 x 2400 filling the slide's
// height: drawn at 1800 x 1080, from level 1 (2000 x 1200).
std::string PhotoShow() {
  std::string project =
      "[Main]\r\nKavVersion=8.0.1\r\nopt_scr_width=1920\r\nopt_scr_height=1080\r\n[Times]\r\nopt_slidescount=5\r\n";
  for (int i = 1; i <= 5; ++i) project += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 3000) + "\r\n";
  for (int i = 1; i <= 5; ++i)
    project += "[Slide" + std::to_string(i) + "]\r\nobject big:Image\r\nGUID={big}\r\nImageName=photo" +
               std::to_string(i) + ".cnt\r\nend\r\n";
  return project;
}

// Played through the window as the engine plays it (each slide prepared on
// the drawer when it is made, then drawn at its times), every photo is made
// from its source once, at the level it is drawn from; and the window is
// handed on as soon as the slide of the time is made, before the ones after
// it.
TEST(ShowSlides, EachPhotoIsDecodedOnceAtTheLevelItIsDrawn) {
  RegisterImageLoader(&LoadCounting, {u".cnt"});
  {
    std::lock_guard<std::mutex> hold(Decodes().Lock);
    Decodes().Levels.clear();
  }
  {
    TWindowFixture f(PhotoShow(), [](test::TShowFolder& folder) {
      for (int i = 1; i <= 5; ++i) folder.WriteText("photo" + std::to_string(i) + ".cnt", "4000 2400");
    });
    TFrameDumper dumper(480, 270);
    std::vector<size_t> window_sizes;
    std::vector<int32_t> shown;  // the indices of the last window handed on when a slide is prepared
    f.Window->OnSlidePrepared = [&](TPreparedSlide* slide) {
      shown.clear();
      if (!f.Windows.empty())
        for (auto& s : f.Windows.back()) shown.push_back(s->Index);
      slide->PreloadOn(dumper.Drawer(), 0);
      window_sizes.push_back(f.Windows.size());
    };
    f.At(0);
    ASSERT_FALSE(f.Windows.empty());
    // The first window holds the first slide alone, handed on before the
    // second slide was made.
    EXPECT_EQ(f.Windows.front().size(), 1u);
    EXPECT_EQ(f.Windows.front().front()->Index, 0);
    ASSERT_EQ(window_sizes.size(), 3u);
    EXPECT_EQ(window_sizes[0], 0u);
    EXPECT_EQ(window_sizes[1], 1u);
    EXPECT_EQ(f.Windows.back().size(), 3u);
    for (double t : {100.0, 3100.0, 6100.0, 9100.0, 12100.0}) {
      f.At(t);
      TPreparedSlide* slide = f.SlideAt(t);
      ASSERT_NE(slide, nullptr) << t;
      slide->SetTime(t);
      slide->PrepareOn(dumper.Drawer());
      test::RenderSlideWith(dumper, slide->Object());
      auto* kav_slide = dynamic_cast<TKavSlide*>(slide->Object());
      ASSERT_NE(kav_slide, nullptr);
      auto* image = kav_slide->ChildCount() > 0 ? dynamic_cast<TKavImage*>(kav_slide->GetChild(0)) : nullptr;
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->MipLevel(), 1) << t;
      // The slide that left the window was handed back before the next one
      // was made: its picture and textures are gone first.
      if (t == 3100.0) {
        EXPECT_EQ(shown, (std::vector<int32_t>{1, 2}));
      }
    }
    for (auto& w : f.Windows)
      for (auto& s : w) s->ReleaseDeviceResources();
  }
  UnregisterImageLoader(&LoadCounting);
  std::lock_guard<std::mutex> hold(Decodes().Lock);
  ASSERT_EQ(Decodes().Levels.size(), 5u);
  for (auto& [name, levels] : Decodes().Levels) EXPECT_EQ(levels, std::vector<int32_t>{1}) << UTF8Encode(name);
}

TEST(ShowSlides, HostOffersClipsAndTheProject) {
  TWindowFixture f;
  auto* clips = dynamic_cast<TKavVideoHost*>(f.Window->Producer()->Host());
  ASSERT_NE(clips, nullptr);
  ASSERT_NE(clips->VideoClips(), nullptr);
  EXPECT_EQ(clips->VideoClips(), clips->VideoClips());
  EXPECT_EQ(clips->Project(), f.Source->Ini());
  // A name the show does not have is no dialog, never a crash.
  EXPECT_EQ(f.Window->CreateCustomDialog(u"nothing"), nullptr);
}

TEST(ShowSlides, InstalledFactoryFeedsTheLoader) {
  TWindowFixture f;
  auto loader = MakeRef<TKavSlideLoader>(f.Source.get(), 3, 0, 0, false);
  loader->Width = 1920;
  loader->Height = 1200;
  loader->SetAspect(1.0);
  // The 16:9 design inside 16:10: letterboxed.
  EXPECT_EQ(loader->GetVisibleRect(), (TRect{0, 60, 1920, 1140}));
}

}  // namespace
}  // namespace kav
