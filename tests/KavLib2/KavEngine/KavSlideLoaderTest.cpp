#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxTime.h"

using namespace kav;

namespace {

Ref<TIniFile> Options(const std::string& main) {
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes("[Main]\r\n" + main);
  return ini;
}

Ref<TKavSource> Source(const std::string& main, int slides = 6) {
  std::string text = "[Main]\r\n" + main + "[Times]\r\nopt_slidescount=" + std::to_string(slides) + "\r\n";
  for (int i = 1; i <= slides; ++i) text += "opt_synchpos" + std::to_string(i) + "=" + std::to_string(i * 1000) + "\r\n";
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes(text);
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  TKavSourceSetup setup;
  setup.RandomSeed = 3;
  setup.ProgramFile = u"/opt/kav/player";
  return MakeRef<TKavSource>(accessor.get(), ini.get(), setup);
}

class TStubSlide : public TPreparedSlide {
 public:
  explicit TStubSlide(int32_t index) {
    Index = index;
    Times.Begin = index * 1000.0;
    Times.End = Times.EndPlusNext = (index + 1) * 1000.0;
  }
  TDrawItem* Object() override { return nullptr; }
  double GetTime() override { return 0; }
  void SetTime(double) override {}
};

// Keeps the slides around the time: the slide at the time and the ones
// after it, up to the window count; a new window when the first changes.
class TStubProducer : public TSlideWindowProducer {
 public:
  TStubProducer(TLoaderTiming* timing, int32_t count) : timing_(timing), count_(count) {}
  int32_t WindowCount() const override { return count_; }
  void AdvanceSlideWindow(double time) override {
    ++advances;
    const int32_t first = time < 0 ? 0 : int32_t(time / 1000.0);
    if (first == first_) return;
    first_ = first;
    std::vector<Ref<TStubSlide>> keep;
    std::vector<TPreparedSlide*> raw;
    for (int32_t i = 0; i < count_; ++i) {
      keep.push_back(MakeRef<TStubSlide>(first + i));
      raw.push_back(keep.back().get());
    }
    if (OnWindow) OnWindow(raw.data(), int32_t(raw.size()));
  }
  void SetAspectRatio(TSize size, double scale, double x, double y) override {
    aspect_size = size;
    aspect_scale = scale;
    aspect_xy = x + y;
  }
  TRect GetVisibleRect() override { return TRect{10, 20, 110, 220}; }

  std::atomic<int> advances{0};
  TSize aspect_size;
  double aspect_scale = 0, aspect_xy = 0;
  TLoaderTiming* timing_;

 private:
  int32_t count_;
  int32_t first_ = -1;
};

class TParams : public TSlideShowParams {
 protected:
  void Step() override {}
};

// Receives the windows on the test thread.
class TTarget : public TRefObject {
 public:
  Ref<TThreadEventList> List = MakeRef<TThreadEventList>();
  std::mutex lock;
  std::vector<std::vector<int32_t>> windows;
  TTarget() { List->SetHandler(TThreadEventHandler::Bind<&TTarget::Handle>(this)); }
  void Handle(TThreadEventList*, uint32_t code, bool& handled, TRefObject* param) {
    handled = true;
    EXPECT_EQ(code, kEngineSlides);
    auto* data = dynamic_cast<TSlideData*>(param);
    ASSERT_NE(data, nullptr);
    std::vector<int32_t> w;
    for (int32_t i = 0; i < data->Count; ++i) w.push_back(data->Slides[i]->Index);
    std::lock_guard<std::mutex> g(lock);
    windows.push_back(w);
  }
  size_t Count() {
    std::lock_guard<std::mutex> g(lock);
    return windows.size();
  }
  // Drains the queue until `n` windows arrived (or a few seconds passed).
  bool WaitFor(size_t n) {
    for (int i = 0; i < 500 && Count() < n; ++i) {
      List->ProcessMessages();
      SleepMs(5);
    }
    return Count() >= n;
  }
};

struct TFactoryScope {
  Ref<TStubProducer> made;
  TFactoryScope() {
    SetSlideWindowFactory([this](TKavSource*, TLoaderTiming* timing, int32_t count, int32_t, int32_t) {
      made = MakeRef<TStubProducer>(timing, count);
      return Ref<TSlideWindowProducer>(made);
    });
  }
  ~TFactoryScope() { SetSlideWindowFactory(nullptr); }
};

}  // namespace

TEST(SlideShowParams, WindowOptionsAndModes) {
  const TSize screen = GetScreenSize();
  {
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=1\r\nopt_scr_width=300\r\nprojectname=Trip\r\n").get());
    EXPECT_EQ(p.Width, screen.cx);
    EXPECT_EQ(p.Height, screen.cy);
    EXPECT_EQ(p.WindowMode(), kWindowFullScreen);
    EXPECT_EQ(p.Caption, u"Trip");
    EXPECT_FALSE(p.Bordered);
  }
  {
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=3\r\nopt_scr_width=300\r\nopt_scr_height=200\r\n").get());
    EXPECT_EQ(p.Width, 300);
    EXPECT_EQ(p.Height, 200);
    EXPECT_EQ(p.WindowMode(), kWindowBorderless);
    EXPECT_EQ(p.Caption, u"KavShow");
  }
  {
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=2\r\nopt_scr_width=300\r\n").get());
    EXPECT_EQ(p.Width, screen.cx);
    EXPECT_EQ(p.WindowMode(), kWindowBorderless);
  }
  {
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=0\r\nprojectname=Trip\r\nopt_scr_caption=Holiday\r\n").get());
    EXPECT_TRUE(p.Bordered);
    EXPECT_EQ(p.WindowMode(), kWindowBordered);
    EXPECT_EQ(p.Caption, u"Holiday");
    EXPECT_EQ(p.Width, 640);
    EXPECT_EQ(p.Height, 480);
  }
  {
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=0\r\nprojectname=Trip\r\nopt_withoutborder=1\r\n"
                                "opt_scr_caption=Holiday\r\n").get());
    EXPECT_FALSE(p.Bordered);
    EXPECT_EQ(p.WindowMode(), kWindowBorderless);
    EXPECT_EQ(p.Caption, u"Trip");
  }
}

TEST(SlideShowParams, DamagedWindowSizesStayUsable) {
  auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
  p.ReadWindowOptions(Options("opt_scr_full=0\r\nopt_scr_width=0\r\nopt_scr_height=-40\r\n").get());
  EXPECT_EQ(p.Width, 640);
  EXPECT_EQ(p.Height, 480);
  p.ReadWindowOptions(Options("opt_scr_full=0\r\nopt_scr_width=2000000000\r\nopt_scr_height=x\r\n").get());
  EXPECT_EQ(p.Width, 32767);
  EXPECT_EQ(p.Height, 480);
  auto q_ref = MakeRef<TParams>();
    auto& q = *q_ref;
  q.ReadWindowOptions(nullptr);  // no options: the defaults
  EXPECT_EQ(q.WindowMode(), kWindowFullScreen);
}

TEST(SlideData, HoldsUpToThreeSlides) {
  auto s = MakeRef<TStubSlide>(4);
  TPreparedSlide* raw[3] = {s.get(), s.get(), s.get()};
  auto empty = MakeRef<TSlideData>(raw, 0);
  EXPECT_EQ(empty->Count, 0);
  auto full = MakeRef<TSlideData>(raw, 3);
  EXPECT_EQ(full->Count, 3);
  EXPECT_EQ(full->Slides[2]->Index, 4);
}

TEST(SlideLoader, KeepsItsWindowAroundTheTimeAndSendsIt) {
  TFactoryScope factory;
  auto source = Source("opt_scr_full=0\r\nopt_scr_width=320\r\nopt_scr_height=240\r\n");
  auto loader = MakeRef<TKavSlideLoader>(source.get(), 3, 0, 0, false);
  ASSERT_TRUE(factory.made);
  EXPECT_EQ(loader->WindowCount(), 3);
  EXPECT_EQ(loader->Width, 320);
  EXPECT_EQ(loader->WindowMode(), kWindowBordered);
  loader->SetAspect(1.5);
  EXPECT_EQ(factory.made->aspect_size, (TSize{320, 240}));
  EXPECT_EQ(factory.made->aspect_scale, 1.5);
  EXPECT_EQ(factory.made->aspect_xy, 200.0);
  EXPECT_EQ(loader->GetVisibleRect(), (TRect{10, 20, 110, 220}));

  TTarget target;
  loader->SetTarget(target.List.get());
  loader->Timing()->Time = 500;
  ASSERT_TRUE(loader->Start());
  ASSERT_TRUE(target.WaitFor(1));
  loader->Timing()->Time = 2500;
  ASSERT_TRUE(target.WaitFor(2));
  // Stopping while a delivery may be waiting: keep draining until it ended.
  loader->Terminate();
  while (loader->Running()) {
    target.List->ProcessMessages();
    SleepMs(3);
  }
  loader->Stop();
  std::lock_guard<std::mutex> g(target.lock);
  EXPECT_EQ(target.windows[0], (std::vector<int32_t>{0, 1, 2}));
  EXPECT_EQ(target.windows[1], (std::vector<int32_t>{2, 3, 4}));
}

TEST(SlideLoader, DirectDeliveryRunsInTheLoaderThread) {
  TFactoryScope factory;
  auto source = Source("");
  auto loader = MakeRef<TKavSlideLoader>(source.get(), 2, 0, 0, true);
  TTarget target;
  loader->SetTarget(target.List.get());
  loader->DeliverDirectly = true;
  loader->Timing()->Time = 1200;
  ASSERT_TRUE(loader->Start());
  for (int i = 0; i < 500 && target.Count() < 1; ++i) SleepMs(5);  // no draining here
  loader->Stop();
  ASSERT_EQ(target.Count(), 1u);
  EXPECT_EQ(target.windows[0], (std::vector<int32_t>{1, 2}));
  EXPECT_EQ(loader->WindowMode(), kWindowFullScreen);
}

TEST(SlideLoader, WithoutSlideProductionItRunsAndPreparesNothing) {
  auto source = Source("opt_scr_full=3\r\nopt_scr_width=200\r\nopt_scr_height=100\r\n");
  auto loader = MakeRef<TKavSlideLoader>(source.get(), 3, 0, 0, false);
  EXPECT_EQ(loader->WindowCount(), 0);
  EXPECT_EQ(loader->GetVisibleRect(), (TRect{0, 0, 200, 100}));
  TTarget target;
  loader->SetTarget(target.List.get());
  ASSERT_TRUE(loader->Start());
  SleepMs(30);
  loader->Stop();
  target.List->ProcessMessages();
  EXPECT_EQ(target.Count(), 0u);
}
