#include "KavLib2/KavVideo/KavVideo.h"

#include <gtest/gtest.h>

#include <cmath>

#include "KavLib2/KavClasses/KavProjectLookups.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "tests/KavLib2/3DEngine/DrawerRig.h"
#include "tests/KavLib2/KavObjects/ObjectsTestUtil.h"
#include "tests/platform/media/MediaTestClips.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "tests/KavLib2/KavObjects/ShowFolderTestUtil.h"
#include "tests/VoRav/LogCapture.h"

namespace kav {
namespace {

struct TVideoTestHost : test::TTestHost, TKavVideoHost {
  Ref<TFileAccessor> Disk = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  Ref<TExtractorList> Clips = MakeRef<TExtractorList>(Disk.get());
  TExtractorList* VideoClips() override { return Clips.get(); }
  double DisplayRate() override { return 25.0; }
  TIniFile* Project() override { return ProjectDoc.get(); }
  Ref<TIniFile> ProjectDoc;
};

// A 64 x 48 slide holding one video object over all of it.
struct TVideoSlide {
  Ref<TIniFile> Doc;
  Ref<TKavObjectProps> Props = MakeRef<TKavObjectProps>();
  Ref<TVideoTestHost> Host = MakeRef<TVideoTestHost>();
  Ref<TKavSlide> Slide;

  explicit TVideoSlide(const std::string& keys, const std::string& project = "", double begin = 0,
                       const std::string& size = "Size=100,100\n") {
    if (!project.empty()) Host->ProjectDoc = test::Doc(project);
    RegisterKavObjectFactories();
    RegisterVideoSources();
    RegisterKavVideoObject();
    Doc = test::Doc(test::Obj("root", "Frame", test::Obj("v", "Video", size + keys)));
    Props->Read(Doc->FindObject(u"root"), TSlideLengths{6000, 0, 0});
    Slide = MakeRef<TKavSlide>(Host.get(), Props.get());
    Slide->SetSize(FloatPoint(64, 48));
    Slide->OriginPoint = Vector3(32, 24, 0);
    Slide->SlideBegin = begin;
    Slide->EffectIn = 0;
    Slide->NextEffectBegin = begin + 6000;
    Slide->EffectOut = 0;
    Slide->Load(Props.get(), false);
    Slide->SetTime(true, 0);
  }
  ~TVideoSlide() {
    Slide = nullptr;
    Props = nullptr;
  }
  TKavVideo* Video() const { return dynamic_cast<TKavVideo*>(Slide->GetChild(0)); }
};

TEST(KavVideoObject, KeysDefaultsAndTheClipsLength) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("object.mp4"));
  ASSERT_FALSE(clip.empty());
  TVideoSlide s("FileName=" + clip + "\nDuration=-1\nStartVideoTime=5000\nFPSMultiplier=2\nDeinterlaceType=BobOdd\n"
                "ChromaEnable=1\nChromakey=#00FF00\nChromaDelta=0.1\n");
  TKavVideo* v = s.Video();
  ASSERT_TRUE(v);
  ASSERT_TRUE(v->Holder());
  EXPECT_EQ(v->Holder()->State(), TExtractorWrapper::kOpened);
  EXPECT_DOUBLE_EQ(v->Duration, 2000);      // -1: the clip's length
  EXPECT_DOUBLE_EQ(v->StartVideoTime, 0);   // past the clip: its start
  EXPECT_DOUBLE_EQ(v->FPSMultiplier, 2);
  EXPECT_EQ(v->DeinterlaceType, 3);
  EXPECT_EQ(v->ImageIndex, -2147483647);
  EXPECT_TRUE(v->AntialiasedBorder);
  EXPECT_DOUBLE_EQ(v->PositionMs(500), 1000);
  EXPECT_DOUBLE_EQ(v->PositionMs(5000), 2000);  // the end is held
  TVideoDrawParams p = v->DrawParams(10, 390);
  EXPECT_TRUE(p.ChromaKey);
  EXPECT_LT(p.KeyU, 0.5f);  // green has low chroma
  EXPECT_LT(p.KeyV, 0.5f);
  EXPECT_EQ(p.DeinterlaceMode, 2);  // bob odd, first half of frame 10's time
  EXPECT_FLOAT_EQ(p.SourceRect.Right - p.SourceRect.Left, 64);
  EXPECT_EQ(s.Host->Clips->Count(), 1);
  // The setters keep the values inside the clip.
  v->SetDuration(99999);
  EXPECT_DOUBLE_EQ(v->Duration, 2000);
  v->SetDuration(1500);
  EXPECT_DOUBLE_EQ(v->Duration, 1500);
  v->SetStartVideoTime(-5);
  EXPECT_DOUBLE_EQ(v->StartVideoTime, 0);
  v->SetStartVideoTime(700);
  EXPECT_DOUBLE_EQ(v->StartVideoTime, 700);
  // Refitting: by file name, or by image index but never the "none" index.
  v->Changed = 0;
  RefitVideoObjects(s.Slide.get(), u"other.mp4", -2147483647);
  EXPECT_EQ(v->Changed, 0);
  RefitVideoObjects(s.Slide.get(), std::u16string(clip.begin(), clip.end()), 5);
  EXPECT_EQ(v->Changed, 1);
  v->SetFileName(u"/no/such/clip.mp4");
  EXPECT_EQ(v->Holder()->State(), TExtractorWrapper::kNotOpened);
  EXPECT_EQ(s.Host->Clips->Count(), 1);  // the old holder went with its last user
}

TEST(KavVideoObject, SharedClipsFromTracksKeepRunningAcrossSlides) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("shared.mp4"));
  ASSERT_FALSE(clip.empty());
  const std::string project = "[Times]\nopt_slidescount=3\nopt_synchpos1=3000\nopt_synchpos2=4000\n[Tracks]\n"
                              "object c1:VideoClip\nClipGUID={AB}\nFileName=" + clip +
                              "\nStartKAVTime=500\nFPSMultiplier=1\nStartSlideIdx=1\nDuration=1800\nend\n";
  // The object is on a slide that begins at 4000 ms; the clip's base slide
  // begins at 3000 ms, so the clip started 1000 ms before this slide.
  TVideoSlide s("ClipGUID={ab}\nFileName=/ignored.mp4\nDuration=1200\n", project, 4000);
  TKavVideo* v = s.Video();
  ASSERT_TRUE(v->Clip());
  EXPECT_DOUBLE_EQ(v->Clip()->BaseTime, 3000);
  EXPECT_EQ(v->FileName, std::u16string(clip.begin(), clip.end()));
  EXPECT_DOUBLE_EQ(v->Duration, 1200);  // the object's own
  EXPECT_DOUBLE_EQ(v->PositionMs(100), 600);  // 100 - (500 - 1000)
  // A changed value goes back into the clip's entry.
  v->SetDuration(900);
  TIniList* tracks = s.Host->ProjectDoc->FindSection(u"Tracks");
  EXPECT_DOUBLE_EQ(IniGetFloat(FindVideoClipByGUID(tracks, u"{AB}")->FindKey(u"Duration"), 0), 900);
  // An unknown GUID is cleared and the object's own keys apply.
  TVideoSlide own("ClipGUID={ZZ}\nFileName=" + clip + "\n", project);
  EXPECT_FALSE(own.Video()->Clip());
  EXPECT_TRUE(own.Video()->ClipGUID.empty());
}

bool IsPlaceholderGrey(uint32_t c) {
  const int r = (c >> 16) & 255, g = (c >> 8) & 255, b = c & 255;
  return r > 80 && r < 240 && std::abs(r - g) < 8 && std::abs(r - b) < 8;
}

// A clip that is missing, and one that is not a clip at all, each draw the
// grey placeholder over the object's rectangle (prepared through the
// drawer's resource visitor like a picture), and each say so once in the log.
TEST(KavVideoObject, AClipThatDidNotOpenDrawsThePlaceholder) {
  test::TShowFolder dir;
  const std::string damaged = (dir.Dir / "damaged.mp4").string();
  static const char kBytes[] = "\x13\x99garbage\x00\x7f not a clip at all";
  dir.WriteText("damaged.mp4", std::string(kBytes, sizeof kBytes - 1));
  struct TCase {
    std::string file;
    uint8_t state;
    const char16_t* line;
  };
  InstallTextServices();  // the placeholder's lines are written on it
  for (const TCase& c : {TCase{"/no/such/clip.mp4", TExtractorWrapper::kNotOpened, u"Video clip not found: "},
                         TCase{damaged, TExtractorWrapper::kNoSource, u"Video clip not decoded"}}) {
    SCOPED_TRACE(c.file);
    test::TLogCapture log;
    TVideoSlide s("FileName=" + c.file + "\n");
    TKavVideo* v = s.Video();
    EXPECT_EQ(v->Holder()->State(), c.state);
    ASSERT_TRUE(v->Placeholder());
    const auto lines = log.Take();
    drawtest::TDrawerRig rig(64, 48);
    rig.Frame([](TDeviceDrawer*) {});
    s.Slide->SetTime(true, 400);
    TDrawerResourceVisitor visitor(rig.Drawer.get());
    s.Slide->PrepareResources(&visitor);
    rig.Frame([&](TDeviceDrawer* d) { v->Draw(d); });
    v->AfterDraw(rig.Drawer.get());
    int grey = 0;
    for (int y = 4; y < 44; ++y)
      for (int x = 4; x < 60; ++x) grey += IsPlaceholderGrey(rig.At(x, y));
    rig.Dump(c.state == TExtractorWrapper::kNotOpened ? "video_placeholder_missing" : "video_placeholder_damaged");
    EXPECT_GT(grey, 56 * 40 / 2);
    s.Slide->ReleaseResources(&visitor);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find(c.line), std::u16string::npos);
  }
}

// BT.601 luma of a drawn pixel.
double Luma(uint32_t c) {
  return 16 + (0.257 * ((c >> 16) & 255) + 0.504 * ((c >> 8) & 255) + 0.098 * (c & 255));
}

// Mean luma difference between the drawn picture and frame `n` of the clip
// (the object's quad, shrunk by `inset` pixels on every side, maps the whole
// frame; pixels near its edges are left out); huge when the object covers
// no pixels.
double DrawnFrameError(TVideoSlide& s, const drawtest::TDrawerRig& rig, const testclips::TReference& ref, int n,
                       float inset = 0) {
  TVector3 c[4];
  s.Video()->GetCornerPoints(c, 4, -inset);
  double sum = 0;
  int count = 0;
  for (int y = int(c[0].y) + 3; y < int(c[3].y) - 3; ++y)
    for (int x = int(c[0].x) + 3; x < int(c[1].x) - 3; ++x) {
      const int sx = int((x + 0.5 - c[0].x) * 64 / (c[1].x - c[0].x));
      const int sy = int((y + 0.5 - c[0].y) * 48 / (c[3].y - c[0].y));
      sum += std::abs(Luma(rig.At(x, y)) - ref.Frame(n)[sy * 64 + sx]);
      ++count;
    }
  return count ? sum / count : 1e9;
}

TEST(KavVideoObject, DrawnAtAShowTimeThroughTheDrawManager) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("drawn.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  TVideoSlide s("FileName=" + clip + "\nWaitForConvert=1\n");
  drawtest::TDrawerRig rig(64, 48);
  rig.Frame([](TDeviceDrawer*) {});
  for (int frame : {10, 30, 5}) {
    s.Slide->SetTime(true, frame * 40.0);
    rig.Frame([&](TDeviceDrawer* d) { s.Video()->Draw(d); });
    s.Video()->AfterDraw(rig.Drawer.get());
    if (frame == 30) rig.Dump("video_object_frame30");
    // The drawn picture is closest to the clip's frame at that time.
    const double here = DrawnFrameError(s, rig, ref, frame);
    EXPECT_LT(here, 6.0) << frame;
    EXPECT_LT(here, DrawnFrameError(s, rig, ref, frame + 8)) << frame;
    EXPECT_LT(here, DrawnFrameError(s, rig, ref, frame - 4)) << frame;
  }
}

TEST(KavVideoObject, WithoutASizeOfItsOwnTheObjectTakesTheClipsFrameSize) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("unsized.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  TVideoSlide s("FileName=" + clip + "\nWaitForConvert=1\n", "", 0, "");
  TKavVideo* v = s.Video();
  ASSERT_TRUE(v);
  EXPECT_FLOAT_EQ(v->Size().x, 64);
  EXPECT_FLOAT_EQ(v->Size().y, 48);
  // A border widens it on every side.
  v->Border.EnableBorder = true;
  v->Border.BorderWidth = 4;
  v->Calculate(false);
  EXPECT_GT(v->Size().x, 64);
  EXPECT_GT(v->Size().y, 48);
  v->Border.EnableBorder = false;
  v->Calculate(false);
  // Drawn over the slide, it shows the clip's frame.
  drawtest::TDrawerRig rig(64, 48);
  rig.Frame([](TDeviceDrawer*) {});
  s.Slide->SetTime(true, 400);
  rig.Frame([&](TDeviceDrawer* d) { v->Draw(d); });
  v->AfterDraw(rig.Drawer.get());
  rig.Dump("video_object_unsized");
  EXPECT_LT(DrawnFrameError(s, rig, ref, 10), 6.0);
}

bool IsRed(uint32_t c) { return ((c >> 16) & 255) > 220 && ((c >> 8) & 255) < 40 && (c & 255) < 40; }

TEST(KavVideoObject, ABorderIsDrawnInsideTheObjectAroundTheFrame) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("bordered.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  for (bool enabled : {true, false}) {
    SCOPED_TRACE(enabled);
    // 12.5% of the frame's height: 6 of its 48 pixels.
    TVideoSlide s("FileName=" + clip + "\nWaitForConvert=1\nEnableBorder=" + (enabled ? "1" : "0") +
                  "\nBorderWidth=12.5\nBorderColor=#FF0000\nAntialiasedBorder=0\n");
    TKavVideo* v = s.Video();
    ASSERT_TRUE(v);
    // A "Size" key makes the object 100 high instead of the bordered
    // frame's 60: the band grows with it.
    ASSERT_FLOAT_EQ(v->Size().y, 100);
    EXPECT_FLOAT_EQ(v->DrawnBorderWidth(), enabled ? 10.0f : 0.0f);
    drawtest::TDrawerRig rig(64, 48);
    rig.Frame([](TDeviceDrawer*) {});
    s.Slide->SetTime(true, 400);
    rig.Frame([&](TDeviceDrawer* d) { v->Draw(d); });
    v->AfterDraw(rig.Drawer.get());
    rig.Dump(enabled ? "video_object_border" : "video_object_no_border");
    TVector3 c[4];
    v->GetCornerPoints(c, 4, 0);
    const int x0 = int(std::lround(c[0].x)), y0 = int(std::lround(c[0].y));
    const int x1 = int(std::lround(c[2].x)), y1 = int(std::lround(c[2].y));
    ASSERT_GT(x0, 0);  // room on the sides to see that nothing is drawn outside
    const float border = v->DrawnBorderWidth() * (c[2].y - c[0].y) / v->Size().y;  // on screen
    EXPECT_NEAR(border, enabled ? 4.8f : 0.0f, 0.01f);
    // Every pixel of the band four pixels deep along the object's edges is
    // in the border colour; without a border the frame reaches the edges
    // (the band shows the frame stretched over the whole object).
    int red = 0, band = 0;
    double error = 0;
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (x < x0 + 4 || x >= x1 - 4 || y < y0 + 4 || y >= y1 - 4) {
          ++band;
          red += IsRed(rig.At(x, y));
          const int sx = (x - x0) * 64 / (x1 - x0), sy = (y - y0) * 48 / (y1 - y0);
          error += std::abs(Luma(rig.At(x, y)) - ref.Frame(10)[sy * 64 + sx]);
        }
    if (enabled) {
      EXPECT_EQ(red, band);
    } else {
      EXPECT_LT(error / band, 12.0);
    }
    // Nothing is drawn beside the object.
    for (int y = 0; y < 48; ++y) {
      EXPECT_FALSE(IsRed(rig.At(x0 - 1, y))) << y;
      EXPECT_FALSE(IsRed(rig.At(x1, y))) << y;
    }
    // The whole frame is shown inside the band, not cut by it.
    EXPECT_LT(DrawnFrameError(s, rig, ref, 10, border), 6.0);
    if (enabled) {
      EXPECT_GT(DrawnFrameError(s, rig, ref, 10, 0), 6.0);
    }
  }
}

}  // namespace
}  // namespace kav
