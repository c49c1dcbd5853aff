#include <gtest/gtest.h>

#include <thread>

#include "VoRav/Application2/vxMouseCursor.h"
#include "VoRav/Application2/winApplication.h"
#include "VoRav/Application2/winMouseCursor.h"
#include "VoRav/Application2/winSessionInformation.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmap.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

class SystemQueriesTest : public WindowTest {
 protected:
  void TearDown() override {
    ClearMouseCursors();
    FreeSessionManager();
    WindowTest::TearDown();
  }
};

}  // namespace

TEST_F(SystemQueriesTest, TheSessionIsNeverLockedAndTheManagerIsMadeOnTheGuiThread) {
  FreeSessionManager();
  std::thread([] { EXPECT_FALSE(IsSessionLocked()); }).join();
  EXPECT_EQ(SessionManager(), nullptr);  // not made off the GUI thread
  EXPECT_FALSE(IsSessionLocked());
  ASSERT_NE(SessionManager(), nullptr);
  EXPECT_FALSE(SessionManager()->Registered());
  std::thread([] { EXPECT_FALSE(IsSessionLocked()); }).join();
}

TEST_F(SystemQueriesTest, SessionNotificationsFollowLockAndUnlockUntilTheLoopEnds) {
  EXPECT_THROW(MakeRef<TSessionManager>(true), EAbort);  // no application yet
  Ref<TVxApplication> app = Ref<TVxApplication>::Adopt(CreateApplication());
  app->Initialize();
  Ref<TSessionManager> m = MakeRef<TSessionManager>(true);
  EXPECT_TRUE(m->Registered());
  SendMessage(app->GetHandle(), WM_WTSSESSION_CHANGE, WTS_SESSION_LOCK, 0);
  EXPECT_TRUE(m->Locked());
  SendMessage(app->GetHandle(), WM_WTSSESSION_CHANGE, WTS_SESSION_UNLOCK, 0);
  EXPECT_FALSE(m->Locked());
  app->Terminate();
  app->Run();  // event 0 unregisters
  EXPECT_FALSE(m->Registered());
  m = nullptr;
  app = nullptr;
}

TEST_F(SystemQueriesTest, CompositionAndShellItemsAreNotImplemented) {
  bool enabled = true;
  EXPECT_EQ(IsDwmCompositionEnabled(enabled), E_NOTIMPL_RESULT);
  EXPECT_TRUE(enabled);
  void* item = &enabled;
  EXPECT_EQ(SHCreateItemFromParsingName(u"/tmp", &item), E_NOTIMPL_RESULT);
  EXPECT_EQ(item, nullptr);
  int32_t x = 0, y = 0;
  ScreenPixelsPerInch(x, y);
  EXPECT_EQ(x, 96);
  EXPECT_EQ(y, 96);
}

TEST_F(SystemQueriesTest, FormCursorsByIdWithUnknownIdsAsTheArrow) {
  EXPECT_EQ(FormCursorHandle(5), static_cast<HCURSOR>(IDC_ARROW));
  EXPECT_EQ(FormCursorHandle(-24), static_cast<HCURSOR>(IDC_ARROW));
  EXPECT_EQ(FormCursorHandle(-1), 0u);
  EXPECT_EQ(FormCursorHandle(-21), static_cast<HCURSOR>(IDC_HAND));
  EXPECT_EQ(FormCursorHandle(-9), static_cast<HCURSOR>(IDC_SIZEWE));
  EXPECT_EQ(FormCursorHandle(-14), static_cast<HCURSOR>(IDC_ARROW));  // program cursor not linked in
  RegisterCursorResource(107, IDC_CROSS);
  EXPECT_EQ(FormCursorHandle(-14), static_cast<HCURSOR>(IDC_CROSS));
  SetFormCursor(-1);
  EXPECT_EQ(backend->CursorShape(), 0u);
  SetFormCursor(-4);
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_IBEAM));
}

TEST_F(SystemQueriesTest, ToolkitCursorsFromBitmapsAndResourceNames) {
  EXPECT_EQ(ToolkitCursorHandle(3), static_cast<HCURSOR>(IDC_IBEAM));
  EXPECT_EQ(ToolkitCursorHandle(999), static_cast<HCURSOR>(IDC_ARROW));
  EXPECT_EQ(ToolkitCursorHandle(1000), 0u);
  Ref<TBitmap> bmp = NewBitmap(16, 16, PixelFormatByName("A8R8G8B8"));
  ASSERT_TRUE(bmp);
  ASSERT_NE(CreateCursorFromBitmapProc, nullptr);
  int32_t ids[20];
  for (int32_t& id : ids) id = CreateCursorFromBitmapProc(bmp.get(), TPoint{3, 4});
  EXPECT_EQ(ids[0], 1000);
  EXPECT_EQ(ids[19], 1019);  // the table grew past 16
  EXPECT_TRUE(SetMouseCursor(ids[5]));
  EXPECT_EQ(backend->CursorShape(), ToolkitCursorHandle(ids[5]));
  EXPECT_TRUE(SetMouseCursor(ids[5]));  // already current
  EXPECT_FALSE(SetMouseCursor(-1));
  RegisterCursorResource(135, IDC_HAND);
  int32_t named = LoadCursorByName(u"@135");
  EXPECT_EQ(named, 1020);
  EXPECT_EQ(LoadCursorByName(u"@135"), named);  // cached
  EXPECT_EQ(LoadCursorByName(u"@"), 0);
  EXPECT_EQ(LoadCursorByName(u"@12x"), 0);
  EXPECT_EQ(LoadCursorByName(u"pointer.cur"), 0);
  EXPECT_EQ(CreateCursorFromBitmap(nullptr, TPoint{}), 0);
  ClearMouseCursors();
  EXPECT_EQ(backend->CursorShape(), static_cast<HCURSOR>(IDC_ARROW));  // the destroyed one is gone
}

TEST_F(SystemQueriesTest, RefreshCursorAsksTheWindowUnderTheMouse) {
  HWND h = MakeTop();
  TPoint o{4, 4};
  ClientToScreen(h, &o);
  SetCursorPos(o.X, o.Y);
  recorder.Log.clear();
  RefreshCursor();
  EXPECT_EQ(recorder.Messages({WM_NCHITTEST, WM_SETCURSOR}), (std::vector<uint32_t>{WM_NCHITTEST, WM_SETCURSOR}));
  EXPECT_EQ(LoWord16(recorder.Log[1].lParam), HTCLIENT);
}

TEST_F(SystemQueriesTest, RegionsAndRectangleLists) {
  TRectList rects;
  EXPECT_EQ(RectsToRegion(rects, TRect{}), nullptr);
  rects.Add(TRect{0, 0, 10, 10});
  rects.Add(TRect{5, 5, 15, 15});
  Ref<TRegion> r = RectsToRegion(rects, TRect{0, 0, 15, 15});
  TRectList back;
  TRect bounds;
  ASSERT_TRUE(RegionToRects(r.get(), bounds, back));
  EXPECT_EQ(bounds, (TRect{0, 0, 15, 15}));
  int64_t area = 0;
  for (const TRect& x : back.Items) area += int64_t(x.Width()) * x.Height();
  EXPECT_EQ(area, 100 + 100 - 25);  // kept disjoint
  EXPECT_FALSE(RegionToRects(nullptr, bounds, back));
}
