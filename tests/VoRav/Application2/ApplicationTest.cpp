#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpThreads2.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

std::vector<std::string> g_shown;
void CaptureDisplay(const std::string& text, const char* caption) { g_shown.push_back(std::string(caption) + "|" + text); }

class ApplicationTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    g_shown.clear();
    previous_display = SetErrorDisplay(&CaptureDisplay);
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
  }
  void TearDown() override {
    if (app && !app->Finalized()) app->Finalize();
    app = nullptr;
    SetErrorDisplay(previous_display);
    WindowTest::TearDown();
  }
  Ref<TVxApplication> app;
  ErrorDisplayProc previous_display = nullptr;
};

struct TEvents {
  std::vector<uint32_t> ids;
  std::vector<TRefObject*> senders;
  std::vector<uint32_t> threads;
  void On(TRefObject* sender, uint32_t id, void*) {
    ids.push_back(id);
    senders.push_back(sender);
    threads.push_back(CurrentThreadId());
  }
  void Throw(TRefObject*, uint32_t, void*) { throw EConvertError("bad value"); }
};

}  // namespace

TEST_F(ApplicationTest, OneApplicationWithItsHiddenWindow) {
  EXPECT_EQ(Application(), app.get());
  EXPECT_EQ(VxApplication(), app.get());
  EXPECT_EQ(WinApplication(), app.get());
  HWND h = app->GetHandle();
  ASSERT_TRUE(IsWindow(h));
  EXPECT_FALSE(IsWindowVisible(h));
  EXPECT_EQ(GetClassName(h), u"TVxApplication");
  EXPECT_EQ(static_cast<uint32_t>(GetWindowLong(h, GWL_EXSTYLE)), WS_EX_TOOLWINDOW);
  app->SetTitle(u"Show");
  EXPECT_EQ(GetWindowText(h), u"Show");
  EXPECT_THROW(CreateApplication(), EAbort);
}

TEST_F(ApplicationTest, WorkerTerminatesTheLoopThenEventZeroThenFinalize) {
  TEvents events;
  const uint32_t id = app->AddHandlerNewId(TEventListHandler::Bind<&TEvents::On>(&events));
  EXPECT_EQ(id, 1u);
  app->AddHandler(0, TEventListHandler::Bind<&TEvents::On>(&events));
  std::thread worker([&] {
    app->PostEvent(id, nullptr);
    app->SendEvent(id, nullptr);
    app->Terminate();
  });
  const uint32_t start = GetElapsedMs();
  app->Run();
  worker.join();
  EXPECT_LT(ElapsedSinceMs(start), 5000u);
  EXPECT_TRUE(app->Terminated());
  EXPECT_TRUE(app->Finalized());
  EXPECT_EQ(events.ids, (std::vector<uint32_t>{id, id, 0}));
  EXPECT_EQ(events.senders[0], app->EventList());
  EXPECT_EQ(events.senders[2], app.get());
  for (uint32_t t : events.threads) EXPECT_EQ(t, MainThreadId());
  EXPECT_FALSE(IsWindow(app->GetHandle()));
  // After Finalize the list is closed: posts are dropped.
  app->PostEvent(id, nullptr);
  EXPECT_EQ(events.ids.size(), 3u);
}

TEST_F(ApplicationTest, AnExceptionInAHandlerIsShownAndTheLoopGoesOn) {
  TEvents events;
  const uint32_t bad = app->AddHandlerNewId(TEventListHandler::Bind<&TEvents::Throw>(&events));
  const uint32_t good = app->AddHandlerNewId(TEventListHandler::Bind<&TEvents::On>(&events));
  HWND other = MakeTop();
  SetCapture(other);
  recorder.Log.clear();
  app->PostEvent(bad, nullptr);
  app->PostEvent(good, nullptr);
  app->Terminate();
  app->Run();
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].rfind("Application Error|", 0), 0u);
  EXPECT_NE(g_shown[0].find("bad value"), std::string::npos);
  EXPECT_EQ(recorder.Messages({WM_CANCELMODE}).size(), 1u);
  EXPECT_EQ(events.ids, (std::vector<uint32_t>{good}));
}

TEST_F(ApplicationTest, ProcessMessagesStopsAtQuitAndLeavesTheRest) {
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW);
  PostMessage(h, WM_USER, 0, 0);
  std::thread([&] { app->Terminate(); }).join();  // a thread message, in order
  PostMessage(h, WM_USER + 1, 0, 0);
  recorder.Log.clear();
  app->ProcessMessages();
  EXPECT_TRUE(app->Terminated());
  EXPECT_EQ(recorder.Messages({WM_USER, WM_USER + 1}), (std::vector<uint32_t>{WM_USER}));
  EXPECT_EQ(QueuedMessageCount(), 1);
  app->Run();  // ends at its first test of Terminated, taking nothing
  EXPECT_EQ(QueuedMessageCount(), 1);
  EXPECT_EQ(recorder.Messages({WM_USER + 1}).size(), 0u);
}

TEST_F(ApplicationTest, FinalizeWaitsForRunningObjectsAndRunsTheirEvents) {
  TEvents events;
  const uint32_t id = app->AddHandlerNewId(TEventListHandler::Bind<&TEvents::On>(&events));
  Ref<TRefObject> worker_object = MakeRef<TRefObject>();
  app->AddRunningObject(worker_object.get());
  EXPECT_EQ(app->RunningObjectCount(), 1);
  std::thread worker([&] {
    SleepMs(30);
    app->PostEvent(id, nullptr);
    SleepMs(30);
    app->RemoveRunningObject(worker_object.get());
  });
  app->Terminate();
  const uint32_t start = GetElapsedMs();
  app->Run();
  worker.join();
  EXPECT_LT(ElapsedSinceMs(start), 5000u);
  EXPECT_EQ(events.ids, std::vector<uint32_t>{id});
  EXPECT_EQ(app->RunningObjectCount(), 0);
  EXPECT_THROW(app->RemoveRunningObject(worker_object.get()), EAbort);
}

TEST_F(ApplicationTest, RunningObjectsLeftAfterTheTimeOutEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Ref<TRefObject> stuck = MakeRef<TRefObject>();
        app->AddRunningObject(stuck.get());
        app->FinalizeTimeoutMs = 50;
        app->ExitCode = 7;
        app->Terminate();
        app->Run();
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(ApplicationTest, ReleasingAnUnfinalizedApplicationIsRefused) {
  EXPECT_THROW(RefRelease(app.release()), EAbort);
  EXPECT_EQ(Application(), nullptr);
  Ref<TVxApplication> next = Ref<TVxApplication>::Adopt(CreateApplication());  // possible again
  next->Initialize();
  next->Finalize();
}
