#include <gtest/gtest.h>

#include "../KavClasses/ShowFixture.h"
#include "KavLib2/KavObjects/KavButton.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "KavLib2/KavObjects/KavSlideProducer.h"
#include "ShowFolderTestUtil.h"

namespace kav {
namespace {

using test::ProjectIni;
using test::ShowProject;

// A producer over the four-slide test show on a show folder.
struct TProducerFixture : test::THostFixture {
  Ref<TKavSource> Source;
  Ref<TSlideProducer> Producer;
  // `left_out`: a text taken out of the project.
  explicit TProducerFixture(const std::string& extra_main = "", const std::string& sections = "",
                            const std::string& left_out = "") {
    RegisterKavObjectFactories();
    Host.reset();  // the producer makes the show's one host
    TKavSourceSetup setup;
    setup.RandomSeed = 7;
    std::string project = ShowProject(extra_main) + sections;
    if (const size_t at = left_out.empty() ? std::string::npos : project.find(left_out); at != std::string::npos)
      project.erase(at, left_out.size());
    Source = MakeRef<TKavSource>(Files.get(), ProjectIni(project).get(), setup);
    Producer = MakeRef<TSlideProducer>(Source.get(), nullptr, TKavSlideHost::TEffectResourceFill(), false);
    Producer->CurrentTiming = MakeRef<TTiming>(0);
  }
};

TEST(SlideProducer, VisibleSize) {
  TProducerFixture f("opt_scr_fullfixedsize=0\r\n");
  // 16:9 design into 16:10: fit inside, letterboxed.
  f.Producer->SetAspectRatio(TSize{1920, 1200}, false, 100, 100);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx, 1920);
  EXPECT_EQ(f.Producer->GetVisibleSize().cy, 1080);
  EXPECT_EQ(f.Producer->GetVisibleRect().Top, 60);
  // Cover fills the output and spills over the sides.
  f.Producer->SetAspectRatio(TSize{1920, 1200}, true, 100, 100);
  EXPECT_TRUE(f.Producer->IsCover());
  EXPECT_EQ(f.Producer->GetVisibleSize().cy, 1200);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx, 2133);  // odd, but wider than the output
  EXPECT_EQ(f.Producer->GetVisibleRect().Left, 0);
  // 4:3 into 1366 x 768: an even width.
  f.Producer->SetScreenSize(1024, 768);
  f.Producer->SetAspectRatio(TSize{1366, 768}, false, 100, 100);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx % 2, 0);
  EXPECT_EQ(f.Producer->GetVisibleSize().cy, 768);
  // A design size of 0 takes the output's shape instead of dividing by 0;
  // an empty output gives nothing visible in cover mode.
  f.Producer->SetScreenSize(0, 0);
  f.Producer->SetAspectRatio(TSize{800, 600}, true, 100, 100);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx, 800);
  f.Producer->SetAspectRatio(TSize{0, 0}, true, 100, 100);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx, 0);
  EXPECT_EQ(f.Producer->GetVisibleRect().Right, 0);
}

TEST(SlideProducer, OlderProjectsTakeTheirRatio) {
  TProducerFixture f("MinorVersion=12\r\nopt_scr_ratio=1.5\r\n");
  f.Producer->SetAspectRatio(TSize{1600, 900}, false, 100, 100);
  EXPECT_DOUBLE_EQ(f.Producer->Aspect(), 1.5);
  EXPECT_EQ(f.Producer->GetVisibleSize().cx, 1350);
}

TEST(SlideProducer, SlidesInLoopsAndBeforeTheShow) {
  TProducerFixture f;
  f.Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
  Ref<TDrawContainer> c = f.Producer->ProduceSlide(5);
  ASSERT_NE(c->Slide, nullptr);
  EXPECT_EQ(c->Slide->SlideIndex, 1);
  EXPECT_DOUBLE_EQ(c->LoopOffset, f.Source->Duration());
  EXPECT_EQ(c->Slide->SlideBegin, 3000);
  EXPECT_EQ(c->Slide->Size().x, 1280);
  ASSERT_NE(c->Filter, nullptr);
  ASSERT_NE(c->Filter->Effect, nullptr);
  EXPECT_GT(c->Filter->Duration, 0);
  // The container moves its slide by the loop, the transition by its begin.
  c->SetTime(f.Source->Duration() + 4000);
  EXPECT_DOUBLE_EQ(c->Slide->SlideTime(), 1000);
  EXPECT_DOUBLE_EQ(c->Filter->Time, f.Source->Duration() + 4000 - c->SlideTiming.Begin);
  Ref<TDrawContainer> before = f.Producer->ProduceSlide(-1);
  ASSERT_NE(before->Slide, nullptr);
  EXPECT_EQ(before->Slide->SlideBegin, kBeforeShowBegin);
}

// A slide's objects last until the transition out of it (the next slide's)
// has ended; the time origin after its incoming transition is its own.
TEST(SlideProducer, SlidesLastThroughTheTransitionOutOfThem) {
  TProducerFixture f;
  f.Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
  for (int32_t i : {0, 1, 5}) {
    Ref<TDrawContainer> c = f.Producer->ProduceSlide(i);
    ASSERT_NE(c->Slide, nullptr);
    const TSlideTiming& t = c->SlideTiming;
    EXPECT_DOUBLE_EQ(c->Slide->OriginTime(1) + c->LoopOffset, t.Begin + t.EffectTime) << i;
    EXPECT_DOUBLE_EQ(c->Slide->OriginTime(2) + c->LoopOffset, t.End) << i;
    EXPECT_DOUBLE_EQ(c->Slide->OriginTime(3) + c->LoopOffset, t.EndPlusNext) << i;
  }
  // The second slide comes in by 2000 ms and goes out by 1000 ms.
  Ref<TDrawContainer> second = f.Producer->ProduceSlide(1);
  EXPECT_EQ(second->SlideTiming.EffectTime, 2000);
  EXPECT_EQ(second->SlideTiming.NextEffectTime, 1000);
  EXPECT_EQ(second->Slide->OriginTime(3), 6000);
}

TEST(SlideProducer, DialogsAndEffectSlides) {
  TProducerFixture f("opt_customdialogscount=99999999\r\ncustom_dialog1=About\r\ncustom_dialog2=Menu\r\n",
                     "[dialog_1_]\r\nhelp=0\r\n[dialog_2_]\r\nhelp=1\r\nDialogPause=0\r\n"
                     "[fx]\r\nCustomEffBg=2\r\n");
  f.Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
  Ref<TKavDialog> menu = f.Producer->CreateCustomDialog(u"Menu");
  ASSERT_NE(menu, nullptr);
  EXPECT_FALSE(menu->DialogPause);
  Ref<TKavDialog> help = f.Producer->CreateCustomDialog(u"help");
  ASSERT_NE(help, nullptr);
  EXPECT_EQ(help->Name, u"help");
  EXPECT_EQ(f.Producer->CreateCustomDialog(u"Nothing"), nullptr);
  // An effect slide of the custom section: 2000 ms when CustomEffTime is
  // missing.
  Ref<TKavSlide> fx = f.Producer->CreateSlide(f.Source->Ini()->FindSection(u"fx"));
  ASSERT_NE(fx, nullptr);
  EXPECT_EQ(fx->OriginTime(3) - fx->OriginTime(0), 2000);
  // The hook: a filter playing the section on a slide of the producer.
  RegisterSlideEffectHook();
  ASSERT_EQ(SlideEffectHook(), &CreateSlideEffectFilter);
  Ref<TDrawContainer> c = f.Producer->ProduceSlide(0);
  Ref<TRealSlideFilter> filter = SlideEffectHook()(c->Slide.get(), f.Source->Ini()->FindSection(u"fx"));
  ASSERT_NE(filter, nullptr);
  EXPECT_EQ(filter->CustomEffBg, 2);
  EXPECT_TRUE(filter->EffectSlide->EffectBufferSlide);
  // Driven as a transition filter: progress, the two slides (CustomEffBg 2
  // takes the incoming one's background), the frame item.
  TSlideEffFilter* as_filter = filter.get();
  as_filter->SetProgress(0.5);
  EXPECT_DOUBLE_EQ(filter->EffectSlide->SlideTime(), 1000);
  Ref<TDrawContainer> next = f.Producer->ProduceSlide(1);
  next->Slide->SetBackStyle(2);
  next->Slide->SetBackColor1(0x123456);
  as_filter->SetItems(c->Slide.get(), next->Slide.get());
  EXPECT_EQ(filter->EffectSlide->Background().Style, 2);
  EXPECT_EQ(filter->EffectSlide->Background().Color1, 0x123456u);
  EXPECT_EQ(as_filter->FrameItem(), filter->EffectSlide.get());
  as_filter->Bind(nullptr);
  as_filter->FrameDone();
  EXPECT_EQ(SlideEffectHook()(c->Slide.get(), nullptr), nullptr);
  GetSharedSlideProducer(nullptr, nullptr);
}

// A show whose [Times] has no slide count (or whose slides all end at 0)
// has every slide at time 0: its window stays on one slide however often it
// is asked, so that slide, and the captions it is still rendering, is kept.
TEST(SlideCache, AShowWithoutLengthKeepsItsWindowOnOneSlide) {
  for (const char* left_out :
       {"opt_slidescount=4\r\n", "opt_synchpos1=3000\r\nopt_synchpos2=5000\r\nopt_synchpos3=5500\r\nopt_synchpos4=9000\r\n"}) {
    SCOPED_TRACE(left_out);
    TProducerFixture f("", "", left_out);
    f.Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
    Ref<TSlideCache> cache = MakeRef<TSlideCache>(f.Producer.get(), 2, false);
    // Each frame fills the window; a window that walks on would fill for
    // ever, so each is given a few steps.
    const auto frame = [&cache](double t) {
      for (int step = 0; step < 8 && AdvanceSlideWindow(cache.get(), t); ++step) {
      }
    };
    for (double t : {0.0, 40.0, 80.0, 120.0, 5000.0, 60000.0}) frame(t);
    ASSERT_GE(cache->Count(), 1);
    // The slide shown is the window's first: the last slide, or the first
    // when nothing is counted.
    const Ref<TDrawContainer> shown(cache->Get(0));
    EXPECT_EQ(shown->Index, std::max(f.Source->SlideCount() - 1, 0));
    EXPECT_EQ(cache->Count(), 1);
    for (double t : {60040.0, 60080.0, 60120.0}) {
      frame(t);
      ASSERT_GE(cache->Count(), 1);
      EXPECT_EQ(cache->Get(0), shown.get());
    }
  }
}

TEST(SlideCache, WindowAroundTheTime) {
  TProducerFixture f;
  f.Producer->SetAspectRatio(TSize{1280, 720}, false, 100, 100);
  Ref<TSlideCache> cache = MakeRef<TSlideCache>(f.Producer.get(), 2, false);
  int adds = 0;
  struct TCount {
    int* n;
    void Add(TSlideCache*, TDrawContainer*) { ++*n; }
  } counter{&adds};
  cache->OnAdd = TSlideCache::TOnAdd::Bind<&TCount::Add>(&counter);
  while (AdvanceSlideWindow(cache.get(), 100)) {
  }
  ASSERT_EQ(cache->Count(), 2);
  // Inside the transition into the first slide: the time before the show
  // and the first slide.
  EXPECT_EQ(cache->Get(0)->Index, -1);
  EXPECT_EQ(cache->Get(1)->Index, 0);
  EXPECT_EQ(adds, 2);
  // Later in the show the outgoing slides are dropped.
  while (AdvanceSlideWindow(cache.get(), 5200)) {
  }
  ASSERT_GE(cache->Count(), 1);
  EXPECT_GE(cache->Get(0)->Index, 1);
  EXPECT_LE(cache->Count(), 2);
  EXPECT_GT(adds, 2);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A show of one slide with every object kind: a picture with a shadow and a
// border, a sprite sheet, a text, a button with its caption, a gradient box
// and a masked viewport, over a gradient background; produced and drawn.
TEST(SlideProducer, TestShowDrawn) {
  auto obj = [](const std::string& n, const std::string& k, const std::string& b) { return test::Obj(n, k, b); };
  const std::string slide =
      "[Slide1]\r\nbstyle=3\r\nbcolorstyle=1\r\nbcolor1=8421504\r\nbcolor2=16777215\r\n" +
      obj("pic", "Image",
          "ImageName=pic.bmp\nEnableBorder=1\nBorderWidth=5\nShadowEnable=1\nShadowDistance=30\n"
          "ShadowOpacity=80\nShadowSize=10\n" + test::KeyPoint("Time=0\nPosition=-50,-40\nScaleX=40\nScaleY=40\n")) +
      obj("box", "Box", "Size=300,150\nFillMode=HGradient\nColor1=255,255,0\nColor2=0,160,0\n" +
                            test::KeyPoint("Time=0\nPosition=50,-50\nScaleX=25\nScaleY=25\nAngle=15\n")) +
      obj("txt", "Text", "Text=\"Slide <%SlideIndex%>\"\nTextColor=20,20,120\n" +
                             test::KeyPoint("Time=0\nPosition=0,60\nScaleX=12\nScaleY=12\n")) +
      obj("btn", "Button", "Theme=aqua\nAction=nextslide\n" +
                               obj("cap", "Text", "Text=\"Next\"\n" + test::KeyPoint("Time=0\n")) +
                               test::KeyPoint("Time=0\nPosition=60,40\nScaleX=10\nScaleY=10\n")) +
      obj("vp", "Viewport", "Size=400,400\n" + test::KeyPoint("Time=0\nPosition=-60,50\nScaleX=30\nScaleY=30\n") +
                                obj("st", "MaskStencil", "") + obj("ct", "MaskContent", ""));
  // The project's button folder.
  TProducerFixture g("PathToButtons=buttons/\r\n", slide);
  g.Folder.Write("pic.bmp", test::Bmp32(320, 200, [](int32_t x, int32_t y) {
    return 0xFF000000u | uint32_t(x * 255 / 320) << 16 | uint32_t(y * 255 / 200) << 8 | 0x80u;
  }));
  test::WriteButtonTheme(g.Folder, "aqua", 0xFF2050C0u, "  Color=255,255,255\r\n  BtnOffset=70\r\n");
  g.Producer->SetAspectRatio(TSize{1920, 1080}, false, 100, 100);
  Ref<TDrawContainer> c = g.Producer->ProduceSlide(0);
  ASSERT_NE(c->Slide, nullptr);
  ASSERT_EQ(c->Slide->ChildCount(), 5);
  c->SetTime(100);
  const auto px = test::RenderSlide(c->Slide.get(), "show_every_kind.png");
  // The vertical gradient runs from colour 1 (grey) at the top to white at
  // the bottom.
  EXPECT_NEAR(int(test::PixelAt(px, 2, 2) & 0xFF), 0x80, 4);
  EXPECT_GT(test::PixelAt(px, 2, 267) & 0xFF, 0xF0u);
  // The picture's shadow falls right of and below its border (white).
  EXPECT_EQ(test::PixelAt(px, 120, 30) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_LT(test::PixelAt(px, 206, 138) & 0xFF, 0x90u);
  // The text's look colour, the picture's middle.
  auto* button = dynamic_cast<TKavButton*>(c->Slide->GetChild(3));
  ASSERT_NE(button, nullptr);
  EXPECT_EQ(button->Theme(), u"aqua");
  ASSERT_NE(button->Caption, nullptr);
  EXPECT_GT(button->ButtonWidth(), button->ButtonHeight());
}

}  // namespace
}  // namespace kav
