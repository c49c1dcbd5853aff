#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "KavLib2/KavViewer/KavFileSource.h"
#include "EngineStubs.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxTime.h"

using namespace kav;
using namespace kav::enginetest;

namespace {

Ref<TIniFile> Options(const std::string& main) {
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes("[Main]\r\n" + main);
  return ini;
}

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
    p.ReadWindowOptions(Options("opt_scr_full=0\r\nprojectname=Trip\r\nopt_withoutborder=0\r\n"
                                "opt_scr_caption=Holiday\r\n").get());
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
  {
    // A window without the key has no border, and so keeps the project name.
    auto p_ref = MakeRef<TParams>();
    auto& p = *p_ref;
    p.ReadWindowOptions(Options("opt_scr_full=0\r\nprojectname=Trip\r\nopt_scr_caption=Holiday\r\n").get());
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
  auto source = Source("opt_scr_full=0\r\nopt_withoutborder=0\r\nopt_scr_width=320\r\nopt_scr_height=240\r\n");
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
