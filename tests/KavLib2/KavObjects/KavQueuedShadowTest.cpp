// Shadows and texts made by the slide host's image-task queue: pictures hand
// their shadows to the worker and take them on a later layout, texts are
// rendered by the worker and make their shadows at once, a
// box with a shadow has its re-making queued and draws the old one
// meanwhile, a slide standing at one time takes and draws what arrives
// after its layout, and objects or hosts that go with tasks on their way
// are safe.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "KavLib2/KavObjects/KavBox.h"
#include "KavLib2/KavObjects/KavImage.h"
#include "ShowFolderTestUtil.h"

namespace kav {
namespace {

using test::Obj;

// A slide on a real host over a folder with a 64 x 64 disc picture; the
// host's image-task queue is started before the slide is built when asked.
struct TQueuedSlide : test::THostFixture {
  Ref<TKavObjectProps> Props = MakeRef<TKavObjectProps>();
  Ref<TIniFile> Doc;
  Ref<TKavSlide> Slide;
  std::atomic<int> Redraws{0};
  TSlideLengths Timing{6000, 1000, 500};

  // With `hold`, the queue's monitor stays locked (the worker takes
  // nothing) until Release.
  TQueuedSlide(bool queue, const std::string& children, bool hold = false) {
    Folder.Write("disc.bmp", test::Bmp32(64, 64, [](int32_t x, int32_t y) {
                   return std::hypot(x - 31.5, y - 31.5) < 28 ? 0xFF00FF00u : 0u;
                 }));
    if (queue) {
      EXPECT_TRUE(Host->StartImageTasks());
      if (hold) Host->TaskQueue->Lock();
    }
    Load(children);
  }
  void Release() { Host->TaskQueue->Leave(); }
  void Load(const std::string& children) {
    Doc = test::Doc(Obj("root", "Frame", children));
    if (!Slide) {
      Slide = test::LoadTestSlide(Host.get(), Props.get(), Doc.get(), Timing);
      Slide->OnRedraw = TDelegate<void(TKavSlide*)>::Bind<&TQueuedSlide::Redraw>(this);
    } else {
      Props->Read(Doc->FindObject(u"root"), Timing);
      Slide->Load(Props.get(), true);
    }
  }
  void Redraw(TKavSlide*) { ++Redraws; }
  // Lays the slide out until `done` holds (30 s at least).
  template <typename F>
  bool LayOutUntil(F done) {
    for (int i = 0; i < 6000; ++i) {  // 30 s at least: a loaded machine
      Slide->SetTime(true, 0);
      if (done()) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }
};

const std::string kDisc = "ImageName=disc.bmp\nShadowEnable=1\nShadowSize=10\n";

TEST(QueuedShadows, PicturesTakeTheirShadowFromTheWorkerTextsMakeTheirsAtOnce) {
  TQueuedSlide queued(true, Obj("pic", "Image", kDisc) +
                                Obj("t", "Text", "Text=\"Hi\"\nShadowEnable=1\n"),
                      true);
  auto* pic = dynamic_cast<TKavImage*>(queued.Slide->GetChild(0));
  auto* text = dynamic_cast<TKavImage*>(queued.Slide->GetChild(1));
  ASSERT_NE(pic, nullptr);
  ASSERT_NE(text, nullptr);
  // The picture's shadow and the text's rendering are on their way.
  EXPECT_EQ(pic->Shadow(), nullptr);
  EXPECT_EQ(text->Picture(), nullptr);
  EXPECT_EQ(queued.Host->TaskQueue->Count(), 2);
  queued.Slide->SetTime(true, 0);  // asked again: still one task each
  EXPECT_EQ(queued.Host->TaskQueue->Count(), 2);
  EXPECT_EQ(pic->Shadow(), nullptr);
  queued.Release();
  ASSERT_TRUE(queued.LayOutUntil([&] { return pic->Shadow() != nullptr && text->Shadow() != nullptr; }));
  ASSERT_NE(pic->Shadow()->Image(), nullptr);
  // The text's shadow was made at once from its delivered rendering.
  EXPECT_NE(text->Shadow()->Image(), nullptr);
  EXPECT_EQ(queued.Host->TaskQueue->Count(), 0);
  EXPECT_GE(queued.Redraws.load(), 1);

  // The same shadow as one made at once on a host without a queue.
  TQueuedSlide direct(false, Obj("pic", "Image", kDisc));
  auto* same = dynamic_cast<TKavImage*>(direct.Slide->GetChild(0));
  ASSERT_NE(same->Shadow(), nullptr);
  ASSERT_NE(same->Shadow()->Image(), nullptr);
  EXPECT_TRUE(same->Shadow()->SameParams(pic->Shadow()->Params()));
  EXPECT_EQ(same->Shadow()->Image()->Width(), pic->Shadow()->Image()->Width());
  EXPECT_EQ(same->Shadow()->Image()->Height(), pic->Shadow()->Image()->Height());
  EXPECT_FALSE(same->Shadow()->Normalised());
  EXPECT_FALSE(pic->Shadow()->Normalised());

  // Laid out again with nothing changed: the shadow is kept, nothing asked.
  TShadow* kept = pic->Shadow();
  const int redraws = queued.Redraws.load();
  queued.Slide->SetTime(true, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  queued.Slide->SetTime(true, 0);
  EXPECT_EQ(pic->Shadow(), kept);
  EXPECT_EQ(queued.Redraws.load(), redraws);
}

// A text rendered by the worker matches one rendered at once; a changed text
// draws its old rendering until the new one arrives.
TEST(QueuedShadows, TextsAreRenderedByTheWorker) {
  const std::string hi = Obj("t", "Text", "Text=\"Hi\"\n");
  TQueuedSlide queued(true, hi, true);
  auto* text = dynamic_cast<TKavImage*>(queued.Slide->GetChild(0));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Picture(), nullptr);
  EXPECT_EQ(queued.Host->TaskQueue->Count(), 1);
  queued.Release();
  ASSERT_TRUE(queued.LayOutUntil([&] { return text->Picture() != nullptr; }));
  EXPECT_GE(queued.Redraws.load(), 1);
  TQueuedSlide direct(false, hi);
  TImage* made = dynamic_cast<TKavImage*>(direct.Slide->GetChild(0))->Picture();
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(text->Picture()->Width(), made->Width());
  EXPECT_EQ(text->Picture()->Height(), made->Height());
  EXPECT_EQ(text->ShapeKey(), dynamic_cast<TKavImage*>(direct.Slide->GetChild(0))->ShapeKey());
  // Fitted by the body of the rendering it draws: the same size on the slide.
  queued.Slide->SetTime(true, 0);
  TKavObject* made_text = direct.Slide->GetChild(0);
  EXPECT_LT(text->FitSize().y, float(text->Picture()->Height()));
  EXPECT_FLOAT_EQ(text->FitSize().y, made_text->FitSize().y);
  EXPECT_FLOAT_EQ(text->SizeScale().y, made_text->SizeScale().y);

  const Ref<TImage> old(text->Picture());
  const std::u16string old_key = text->ShapeKey();
  queued.Host->TaskQueue->Lock();
  queued.Load(Obj("t", "Text", "Text=\"Hi there, a longer line\"\n"));
  ASSERT_EQ(queued.Slide->GetChild(0), text);
  queued.Slide->SetTime(true, 0);
  EXPECT_EQ(text->Picture(), old.get());  // still drawn meanwhile
  EXPECT_EQ(queued.Host->TaskQueue->Count(), 1);
  queued.Release();
  ASSERT_TRUE(queued.LayOutUntil([&] { return text->ShapeKey() != old_key && text->Picture() != old.get(); }));
  EXPECT_GT(text->Picture()->Width(), old->Width() * 2);
}

// The engine lays a slide out (SetSlideTime) and draws it when it needs
// drawing, on every frame; a slide whose time stands still (a show without
// length, a pause, the held end) is laid out and drawn again only when
// something changed. What the worker delivers after its first layout (a
// caption's rendering, a picture's shadow, a box's new shadow, which the box
// takes as it draws) makes it need drawing, and the next frame at the same
// time takes it and draws it: nothing stays away for good.
TEST(QueuedShadows, ASlideStandingAtOneTimeTakesWhatArrivesAfterItsLayout) {
  const std::string box = "Size=400,200\nFitMode=None\nShadowEnable=1\nShadowSize=";
  struct TCase {
    const char* Name;
    std::string Children;
    std::string Changed;  // loaded after the first frame (the box's new shadow)
  };
  for (const TCase& c : {TCase{"a caption", Obj("t", "Text", "Text=\"Hi\"\n"), ""},
                         TCase{"a picture's shadow", Obj("pic", "Image", kDisc), ""},
                         TCase{"a box's new shadow", Obj("box", "Box", box + "8\n"), Obj("box", "Box", box + "40\n")}}) {
    SCOPED_TRACE(c.Name);
    TQueuedSlide queued(true, c.Children, true);
    TKavObject* o = queued.Slide->GetChild(0);
    auto* image = dynamic_cast<TKavImage*>(o);
    auto* rect = dynamic_cast<TKavBox*>(o);
    test::TRecordingDrawer drawer;
    const auto frame = [&] {
      queued.Slide->SetSlideTime(0);
      if (queued.Slide->NeedsDraw()) drawer.Render(queued.Slide.get());
    };
    // The first frames, with the worker held.
    frame();
    if (!c.Changed.empty()) {
      queued.Load(c.Changed);
      frame();
    }
    frame();
    EXPECT_FALSE(queued.Slide->NeedsDraw());
    if (image) {
      EXPECT_FALSE(image->Picture() && image->Shadow());  // one is on its way
    } else {
      ASSERT_NE(rect, nullptr);
      ASSERT_NE(rect->Shadow(), nullptr);
      EXPECT_FLOAT_EQ(rect->Shadow()->Params().Blur, 8);  // the old one, drawn meanwhile
    }
    // Made now, after the layout; a task that left the queue was delivered.
    queued.Release();
    bool done = false;
    for (int i = 0; i < 6000 && !done; ++i) {  // 30 s at least: a loaded machine
      done = queued.Host->TaskQueue->Count() == 0;
      if (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_TRUE(done);
    EXPECT_TRUE(queued.Slide->NeedsDraw());
    const int images = drawer.Images;
    frame();
    if (image) {
      ASSERT_NE(image->Picture(), nullptr);
      EXPECT_GT(image->Picture()->Width(), 1);
      ASSERT_NE(image->Shadow(), nullptr);
      EXPECT_NE(image->Shadow()->Image(), nullptr);
      // Drawn with it: the picture and its shadow.
      EXPECT_EQ(drawer.Images - images, 2);
    } else {
      ASSERT_NE(rect->Shadow(), nullptr);
      EXPECT_FLOAT_EQ(rect->Shadow()->Params().Blur, 40);
      EXPECT_EQ(drawer.Images - images, 1);
    }
    frame();
    EXPECT_FALSE(queued.Slide->NeedsDraw());
  }
}

TEST(QueuedShadows, ABoxKeepsDrawingItsOldShadowWhileTheNewOneIsMade) {
  const std::string before = "Size=400,200\nFitMode=None\nShadowEnable=1\nShadowSize=8\n";
  const std::string after = "Size=400,200\nFitMode=None\nShadowEnable=1\nShadowSize=40\n";
  TQueuedSlide s(true, Obj("box", "Box", before));
  auto* box = dynamic_cast<TKavBox*>(s.Slide->GetChild(0));
  ASSERT_NE(box, nullptr);
  test::TRecordingDrawer drawer;
  drawer.Render(s.Slide.get());
  // The first shadow is made at once.
  ASSERT_NE(box->Shadow(), nullptr);
  const TShadowParams first = box->Shadow()->Params();
  EXPECT_EQ(drawer.Images, 1);

  s.Load(Obj("box", "Box", after));
  ASSERT_EQ(s.Slide->GetChild(0), box);
  drawer.Render(s.Slide.get());
  EXPECT_EQ(drawer.Images, 2);  // the old shadow, still drawn
  bool arrived = false;
  for (int i = 0; i < 6000 && !arrived; ++i) {  // 30 s at least: a loaded machine
    drawer.Render(s.Slide.get());
    arrived = box->Shadow() && !box->Shadow()->SameParams(first);
    if (!arrived) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(arrived);
  EXPECT_TRUE(box->Shadow()->Normalised());
  EXPECT_NE(box->Shadow()->Image(), nullptr);
  EXPECT_FLOAT_EQ(box->Shadow()->Params().Blur, 40);
  EXPECT_GE(s.Redraws.load(), 1);
}

TEST(QueuedShadows, ObjectsAndHostsThatGoWithTasksOnTheirWayAreSafe) {
  std::string many;
  for (int i = 0; i < 12; ++i)
    many += Obj("p" + std::to_string(i), "Image", "ImageName=disc.bmp\nShadowEnable=1\nShadowSize=" +
                                                      std::to_string(4 + i) + "\n");
  {
    TQueuedSlide s(true, many);
    s.Slide.reset();  // the objects go while their shadows are being made
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  {
    TQueuedSlide s(true, many);
    s.Host.reset();  // the slide keeps the host; it stops its worker when it goes
    s.Slide.reset();
  }
  // A host without a queue makes every shadow at once.
  TQueuedSlide direct(false, many);
  for (int i = 0; i < 12; ++i) EXPECT_NE(dynamic_cast<TKavImage*>(direct.Slide->GetChild(i))->Shadow(), nullptr);
}

}  // namespace
}  // namespace kav
