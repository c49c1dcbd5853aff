#include <gtest/gtest.h>

#include "VoRav/Application2/winWndAPI.h"
#include "tests/platform/window/WinTestUtil.h"

using namespace kav;
using namespace kav::win;

namespace {

// A subclass that logs its name and calls on.
struct TLayer {
  const char* name;
  std::vector<std::string>* log;
  TWndProc previous;
  LRESULT Proc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
    if (m == WM_USER) log->push_back(name);
    return CallWindowProc(previous, h, m, w, l);
  }
  TWndProc Handler() { return TWndProc::Bind<&TLayer::Proc>(this); }
};

class WndAPITest : public WindowTest {};

}  // namespace

TEST_F(WndAPITest, SubclassChainsCallOnInOrderAndUnwind) {
  HWND h = MakeTop();
  std::vector<std::string> log;
  recorder.Hook = [&](HWND, uint32_t m, WPARAM, LPARAM, LRESULT&) {
    if (m == WM_USER) log.push_back("base");
    return false;
  };
  const int32_t thunks = ThunkCount();
  TLayer a{"a", &log, {}}, b{"b", &log, {}};
  a.previous = SubclassWindow(h, a.Handler());
  b.previous = SubclassWindow(h, b.Handler());
  SendMessage(h, WM_USER, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "a", "base"}));
  UnsubclassWindow(h, b.Handler(), b.previous);
  UnsubclassWindow(h, a.Handler(), a.previous);
  log.clear();
  SendMessage(h, WM_USER, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"base"}));
  EXPECT_EQ(ThunkCount(), thunks);
}

TEST_F(WndAPITest, LeavingFromUnderAnotherSubclassKeepsItsChainUntilTheWindowGoes) {
  HWND h = MakeTop();
  std::vector<std::string> log;
  recorder.Hook = [&](HWND, uint32_t m, WPARAM, LPARAM, LRESULT&) {
    if (m == WM_USER || m == WM_NCDESTROY) log.push_back(m == WM_USER ? "base" : "base-ncdestroy");
    return false;
  };
  const int32_t thunks = ThunkCount();
  TLayer a{"a", &log, {}}, b{"b", &log, {}};
  a.previous = SubclassWindow(h, a.Handler());
  b.previous = SubclassWindow(h, b.Handler());
  UnsubclassWindow(h, a.Handler(), a.previous);  // b still sits in front of a
  SendMessage(h, WM_USER, 0, 0);
  EXPECT_EQ(log, (std::vector<std::string>{"b", "base"}));  // a no longer runs, base still does
  EXPECT_EQ(ThunkCount(), thunks + 2);
  log.clear();
  DestroyWindow(h);
  EXPECT_EQ(log, (std::vector<std::string>{"base-ncdestroy"}));
  EXPECT_EQ(ThunkCount(), thunks + 1);  // the passing entry went with the window
  UnsubclassWindow(h, b.Handler(), b.previous);  // a gone window: only frees
  EXPECT_EQ(ThunkCount(), thunks);
}

TEST_F(WndAPITest, AFreedBindingAnswersWithTheDefaultProcedure) {
  HWND h = MakeTop();
  struct TObj {
    int calls = 0;
    LRESULT Proc(HWND, uint32_t, WPARAM, LPARAM) { return ++calls; }
  } obj;
  TMethodThunk t = MakeMethodThunk(TWndProc::Bind<&TObj::Proc>(&obj));
  SetWindowProc(h, ThunkProc(t));
  EXPECT_EQ(SendMessage(h, WM_USER, 0, 0), 1);
  FreeThunk(t);
  EXPECT_EQ(t, 0u);
  EXPECT_EQ(SendMessage(h, WM_GETTEXTLENGTH, 0, 0), 3);  // "top", from the default procedure
  EXPECT_EQ(obj.calls, 1);
}

TEST_F(WndAPITest, GateShowStatesBoundsAndBuffers) {
  TWndAPI* api = WndAPI();
  HWND h = MakeTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE, {40, 50, 340, 350});
  HWND c = MakeChild(h, {10, 20, 60, 80});
  TRect r;
  ASSERT_TRUE(api->GetWindowBounds(c, r));
  EXPECT_EQ(r, (TRect{10, 20, 60, 80}));
  EXPECT_FALSE(api->ShowWindowState(h, 12, true));
  EXPECT_FALSE(api->ShowWindowState(h, -1, false));
  api->ShowWindowState(h, 2, true);  // minimise
  ASSERT_TRUE(api->GetWindowBounds(h, r));
  EXPECT_EQ(r, (TRect{40, 50, 340, 350}));
  api->ShowWindowState(h, 3, true);
  EXPECT_FALSE(IsIconic(h));
  ASSERT_TRUE(api->ShowWindowState(h, 11, false));  // only the show command: nothing moves
  ASSERT_TRUE(api->GetWindowBounds(h, r));
  EXPECT_EQ(r, (TRect{40, 50, 340, 350}));
  EXPECT_TRUE(IsWindowVisible(h));

  EXPECT_EQ(api->WideStrToBuffer(u""), nullptr);
  char16_t* b = api->WideStrToBuffer(u"abc");
  std::u16string s;
  api->BufferToWideStr(b, -1, s);
  EXPECT_EQ(s, u"abc");
  api->BufferToWideStr(b, 2, s);
  EXPECT_EQ(s, u"ab");
  api->FreeBuffer(b);
  api->BufferToWideStr(nullptr, 5, s);
  EXPECT_EQ(s, u"");
}

TEST_F(WndAPITest, SubclassingAGoneWindowIsRefused) {
  HWND h = MakeTop();
  DestroyWindow(h);
  struct TObj {
    LRESULT Proc(HWND, uint32_t, WPARAM, LPARAM) { return 0; }
  } obj;
  EXPECT_THROW(SubclassWindow(h, TWndProc::Bind<&TObj::Proc>(&obj)), EAbort);
  EXPECT_THROW(UnsubclassWindow(h, TWndProc::Bind<&TObj::Proc>(&obj), {}), EAbort);
}
