#include <gtest/gtest.h>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "platform/window/WinApi.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"
#include "tests/VoRav/LogCapture.h"

using namespace kav;
using namespace kav::test;

namespace {

class FramesTest : public CompositeTest {
 protected:
  // Paints everything once and forgets the counts.
  void Settle() {
    frame->RecalcInvalidRegion();
    frame->Surface()->PixelsWritten = 0;
  }
};

win::LPARAM Point(int x, int y) { return win::LPARAM((uint32_t(uint16_t(y)) << 16) | uint16_t(x)); }

}  // namespace

TEST(WinSurfaceTest, CellMarkingAndCollectedRuns) {
  Ref<TWinSurface> s = MakeRef<TWinSurface>();
  s->Resize(50, 30, false);
  EXPECT_EQ(s->CellColumns(), 7);
  EXPECT_EQ(s->CellRows(), 4);
  s->MarkRect(TRect{7, 7, 8, 8});  // one pixel: one cell
  EXPECT_EQ(s->MarkedCellCount(), 1);
  EXPECT_TRUE(s->CellMarked(0, 0));
  s->MarkRect(TRect{8, 8, 9, 9});  // the next cell
  EXPECT_TRUE(s->CellMarked(1, 1));
  EXPECT_EQ(s->MarkedCellCount(), 2);
  s->MarkRect(TRect{-20, -20, 0, 100});  // wholly outside: nothing
  s->MarkRect(TRect{45, 25, 90, 90});    // partly outside: the inside cells
  EXPECT_EQ(s->MarkedCellCount(), 4);
  EXPECT_TRUE(s->CellMarked(5, 3));
  EXPECT_TRUE(s->CellMarked(6, 3));
  const TRectList& rects = s->CollectRects();
  ASSERT_EQ(rects.Count(), 3);
  EXPECT_EQ(rects[0], (TRect{7, 7, 8, 8}));    // cut to the bounding invalid rectangle
  EXPECT_EQ(rects[2], (TRect{40, 24, 50, 30}));  // two cells, cut to the bounds (7, 7, 50, 30)
  EXPECT_EQ(s->MarkedCellCount(), 0);
  // Runs: neighbouring marked cells of one row make one rectangle.
  s->MarkRect(TRect{0, 0, 24, 4});
  s->MarkRect(TRect{40, 0, 41, 1});
  const TRectList& runs = s->CollectRects();
  ASSERT_EQ(runs.Count(), 2);
  EXPECT_EQ(runs[0], (TRect{0, 0, 24, 4}));
  EXPECT_EQ(runs[1], (TRect{40, 0, 41, 4}));  // cut to the bounds (0, 0, 41, 4)
}

TEST(WinSurfaceTest, FillsOnlyMarkedCellsAndBlends) {
  Ref<TWinSurface> s = MakeRef<TWinSurface>();
  s->Resize(32, 16, false);
  s->MarkRect(TRect{8, 0, 9, 1});
  s->FillRect(TRect{0, 0, 32, 16}, 0xFF204080);
  EXPECT_EQ(s->PixelsWritten, 64);
  EXPECT_EQ(s->PixelAt(8, 0), 0x204080u);
  EXPECT_EQ(s->PixelAt(15, 7), 0x204080u);
  EXPECT_EQ(s->PixelAt(7, 0), 0u);
  EXPECT_EQ(s->PixelAt(16, 0), 0u);
  s->FillRect(TRect{0, 0, 32, 16}, 0x00FFFFFF);  // alpha 0 draws nothing
  EXPECT_EQ(s->PixelsWritten, 64);
  s->FillRect(TRect{0, 0, 32, 16}, 0x80FFFFFF);  // half: c + ((s - c) * a >> 8)
  EXPECT_EQ(s->PixelAt(8, 0), 0x8F9FBFu);
  s->FillRect(TRect{0, 0, 32, 16}, 0x80000000);  // toward black, never below
  EXPECT_EQ(s->PixelAt(8, 0), 0x474F5Fu);
  // The origin moves and the clip cuts.
  s->Origin = TPoint{4, 0};
  s->SetClipRect(TRect{0, 0, 10, 16});
  s->PixelsWritten = 0;
  s->FillRect(TRect{0, 0, 100, 1}, 0xFF0000FF);
  EXPECT_EQ(s->PixelsWritten, 2);  // x 8 and 9
  EXPECT_EQ(s->PixelAt(9, 0), 0x0000FFu);
  EXPECT_EQ(s->PixelAt(10, 0), 0x474F5Fu);
}

TEST(WinSurfaceTest, BackBufferIsReusedWithinItsSlack) {
  Ref<TWinSurface> s = MakeRef<TWinSurface>();
  s->Resize(300, 200, false);
  TFastDIB* dib = s->Dib();
  s->MarkRect(TRect{0, 0, 1, 1});
  s->FillRect(TRect{0, 0, 1, 1}, 0xFF123456);
  EXPECT_TRUE(s->Resize(290, 150, true));  // shrinking a little keeps the bitmap
  EXPECT_EQ(s->Dib(), dib);
  EXPECT_TRUE(s->Resize(300, 200, true));  // and growing back into it too
  EXPECT_EQ(s->Dib(), dib);
  s->Resize(310, 200, true);               // growing past it reallocates...
  EXPECT_NE(s->Dib(), dib);
  EXPECT_EQ(s->Dib()->Width(), 310);
  EXPECT_EQ(s->PixelAt(0, 0), 0x123456u);  // ...keeping the content
  dib = s->Dib();
  s->Resize(209, 200, true);               // shrinking by 101 reallocates
  EXPECT_NE(s->Dib(), dib);
  s->Resize(0, -5, true);                  // sizes below 1 become 1
  EXPECT_EQ(s->Width(), 1);
  EXPECT_EQ(s->Height(), 1);
}

TEST_F(FramesTest, OnlyTheMarkedCellsAreRepainted) {
  TRootControl* r = MakeRoot(64, 32);
  // The root paints nothing itself; a background probe covers all of it.
  TPaintProbe* back = AddProbe(r, "back", 0, 0, 64, 32, 0xFF101010);
  TPaintProbe* a = AddProbe(back, "a", 8, 8, 16, 16, 0xFFFF0000);
  TPaintProbe* b = AddProbe(back, "b", 40, 8, 16, 16, 0xFF00FF00);
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  EXPECT_EQ(frame->UpdateRects().Bounds(), (TRect{0, 0, 64, 32}));
  EXPECT_EQ(frame->Surface()->PixelAt(9, 9), 0xFF0000u);
  EXPECT_EQ(frame->Surface()->PixelAt(41, 9), 0x00FF00u);
  EXPECT_EQ(frame->Surface()->PixelAt(30, 9), 0x101010u);
  Settle();
  EXPECT_FALSE(frame->RecalcInvalidRegion());  // nothing invalid

  // One cell of a: painted by the background and by a, b is left alone.
  back->Paints = a->Paints = b->Paints = 0;
  a->InvalidateRect(TRect{0, 0, 8, 8});
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  EXPECT_EQ(frame->Surface()->PixelsWritten, 2 * 64);
  EXPECT_EQ(a->Paints, 1);
  EXPECT_EQ(back->Paints, 1);
  EXPECT_EQ(b->Paints, 0);
  ASSERT_EQ(frame->UpdateRects().Count(), 1);
  EXPECT_EQ(frame->UpdateRects()[0], (TRect{8, 8, 16, 16}));
  // One pixel marks its cell, but only the pixel is painted and copied.
  Settle();
  a->InvalidateRect(TRect{1, 1, 2, 2});
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelsWritten, 2);
  ASSERT_EQ(frame->UpdateRects().Count(), 1);
  EXPECT_EQ(frame->UpdateRects()[0], (TRect{9, 9, 10, 10}));

  // Two separate areas: each cell painted once per frame that covers it.
  Settle();
  a->InvalidateRect(TRect{0, 0, 16, 16});  // 4 cells, under a and back
  b->InvalidateRect(TRect{15, 15, 16, 16});  // 1 cell, under b and back
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelsWritten, (4 * 2 + 1 * 2) * 64);
  EXPECT_EQ(frame->UpdateRects().Count(), 3);  // two rows of a, one of b
}

TEST_F(FramesTest, MovingHidingAndFreeingRepaintWhatLiesUnder) {
  TRootControl* r = MakeRoot(64, 32);
  TPaintProbe* back = AddProbe(r, "back", 0, 0, 64, 32, 0xFF101010);
  TPaintProbe* a = AddProbe(back, "a", 0, 0, 8, 8, 0xFFFF0000);
  Settle();
  a->SetPosition(16, 16);
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  DumpSurface("frames_moved", frame->Surface());
  EXPECT_EQ(frame->Surface()->PixelAt(0, 0), 0x101010u);    // old place: background again
  EXPECT_EQ(frame->Surface()->PixelAt(16, 16), 0xFF0000u);  // new place
  EXPECT_EQ(frame->Surface()->PixelsWritten, (1 + 2) * 64);
  // A hidden frame takes its picture away and gets the off-screen clip.
  Settle();
  a->Frame()->SetVisible(false);
  EXPECT_EQ(static_cast<TWinFrame*>(a->Frame())->VisibleRect(), (TRect{-30000, -30000, -29999, -29999}));
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(16, 16), 0x101010u);
  EXPECT_EQ(a->Paints, 2);
  a->Frame()->SetVisible(true);
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelAt(16, 16), 0xFF0000u);
  // Freeing it does the same.
  Settle();
  a->Free();
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  EXPECT_EQ(frame->Surface()->PixelAt(16, 16), 0x101010u);
  EXPECT_EQ(frame->Surface()->PixelsWritten, 64);
}

TEST_F(FramesTest, OverlappingSiblingsAndClippingFrames) {
  TRootControl* r = MakeRoot(64, 32);
  TPaintProbe* low = AddProbe(r, "low", 0, 0, 32, 32, 0xFF0000FF);
  TPaintProbe* high = AddProbe(r, "high", 16, 0, 32, 32, 0xFF00FF00);  // later: on top
  TPaintProbe* box = AddProbe(r, "box", 48, 0, 16, 16, 0xFF808080);
  TPaintProbe* spill = AddProbe(box, "spill", 8, 8, 30, 30, 0xFFFFFFFF);
  box->Frame()->SetBoundsRect(TRect{0, 0, 16, 16});
  box->Frame()->SetClip(true);
  frame->RecalcInvalidRegion();
  DumpSurface("frames_overlap", frame->Surface());
  EXPECT_EQ(frame->Surface()->PixelAt(20, 5), 0x00FF00u);
  EXPECT_EQ(frame->Surface()->PixelAt(60, 12), 0xFFFFFFu);  // inside the clip
  EXPECT_EQ(frame->Surface()->PixelAt(60, 20), 0u);         // outside: never painted
  frame->MouseEvent(0, 20, 5, kMouseMove, 0);
  EXPECT_EQ(high->MouseKinds.size(), 1u);
  EXPECT_TRUE(low->MouseKinds.empty());
  // Outside the clipping frame the child gets nothing; inside it does.
  frame->MouseEvent(0, 60, 20, kMouseMove, 0);
  EXPECT_TRUE(spill->MouseKinds.empty());
  frame->MouseEvent(0, 60, 12, kMouseMove, 0);
  ASSERT_EQ(spill->MousePoints.size(), 1u);
  EXPECT_EQ(spill->MousePoints[0], (TPoint{4, 4}));
}

TEST_F(FramesTest, MouseCaptureAndHoverAcrossFrames) {
  TRootControl* r = MakeRoot(100, 50);
  TPaintProbe* a = AddProbe(r, "a", 0, 0, 40, 40);
  TPaintProbe* b = AddProbe(r, "b", 50, 0, 40, 40);
  TPaintProbe* hidden = AddProbe(r, "hidden", 0, 0, 100, 50);
  hidden->Frame()->SetVisible(false);
  std::vector<bool> capture_changes;
  struct TCap {
    std::vector<bool>* log;
    void On(bool c) { log->push_back(c); }
  } cap{&capture_changes};
  frame->OnCaptureChanged = TDelegate<void(bool)>::Bind<&TCap::On>(&cap);
  a->Cursor = win::IDC_HAND;

  frame->MouseEvent(0, 10, 10, kMouseMove, 0);  // over a
  EXPECT_EQ(a->MouseKinds, (std::vector<uint8_t>{kMouseMove}));
  EXPECT_TRUE(hidden->MouseKinds.empty());      // a hidden frame takes no input
  frame->MouseEvent(0, 60, 10, kMouseMove, 0);  // a to b: a hears the exit once
  EXPECT_EQ(a->Leaves, 1);
  EXPECT_EQ(b->MouseKinds.size(), 1u);
  frame->MouseEvent(0, 70, 10, kMouseMove, 0);
  EXPECT_EQ(b->Leaves, 0);
  frame->MouseEvent(0, 95, 45, kMouseMove, 0);  // over the root only
  EXPECT_EQ(b->Leaves, 1);

  // Press on a: a captures; moving over b still goes to a, b hears nothing.
  frame->MouseEvent(0, 10, 10, kMouseDown, kMouseLeft);
  EXPECT_TRUE(frame->Captured());
  EXPECT_EQ(capture_changes, (std::vector<bool>{true}));
  a->MouseKinds.clear();
  b->MouseKinds.clear();
  frame->MouseEvent(0, 60, 10, kMouseMove, 0);
  EXPECT_EQ(a->MouseKinds, (std::vector<uint8_t>{kMouseMove}));
  EXPECT_EQ(a->MousePoints.back(), (TPoint{60, 10}));
  EXPECT_TRUE(b->MouseKinds.empty());
  EXPECT_EQ(frame->MouseData()->HitResult, 0);  // a is not under the point
  // Another button's release keeps the capture; the captured button's ends it.
  frame->MouseEvent(0, 60, 10, kMouseUp, kMouseRight);
  EXPECT_TRUE(frame->Captured());
  frame->MouseEvent(0, 60, 10, kMouseUp, kMouseLeft);
  EXPECT_FALSE(frame->Captured());
  EXPECT_EQ(capture_changes, (std::vector<bool>{true, false}));
  EXPECT_TRUE(b->MouseKinds.empty());
  frame->MouseEvent(0, 60, 10, kMouseMove, 0);
  EXPECT_EQ(b->MouseKinds.size(), 1u);

  // A hidden frame that holds the capture still gets the events.
  hidden->Frame()->SetVisible(true);
  frame->MouseEvent(0, 5, 45, kMouseDown, kMouseLeft);
  hidden->Frame()->SetVisible(false);
  hidden->MouseKinds.clear();
  frame->MouseEvent(0, 6, 45, kMouseMove, 0);
  EXPECT_EQ(hidden->MouseKinds.size(), 1u);
  // A release request lets go after the next event.
  frame->RequestReleaseCapture();
  frame->MouseEvent(0, 7, 45, kMouseMove, 0);
  EXPECT_FALSE(frame->Captured());

  // The capture holder freed: events go nowhere until the button is up.
  frame->MouseEvent(0, 10, 10, kMouseDown, kMouseLeft);
  a->Free();
  frame->MouseEvent(0, 60, 10, kMouseMove, 0);
  frame->MouseEvent(0, 60, 10, kMouseUp, kMouseLeft);
  EXPECT_FALSE(frame->Captured());
  // The mouse leaves the window: the hover frame hears it.
  frame->MouseEvent(0, 60, 10, kMouseMove, 0);
  int leaves = b->Leaves;
  frame->MouseLeaveWindow();
  EXPECT_EQ(b->Leaves, leaves + 1);
}

TEST_F(FramesTest, MouseMessagesAreDecodedAndNotReentered) {
  TRootControl* r = MakeRoot(100, 50);
  TPaintProbe* a = AddProbe(r, "a", 10, 10, 40, 20);
  a->Cursor = win::IDC_HAND;
  // A handler that feeds the frame a second message while the first runs.
  struct TNested : TEventHandler {
    TRootFrame* frame;
    bool answer = true;
    void HandleEvent(TRefObject*, int32_t, intptr_t) override {
      answer = frame->HandleMouseMessage(win::WM_MOUSEMOVE, 0, 0, TPoint{}, Point(1, 1));
    }
  };
  Ref<TNested> nested = MakeRef<TNested>();
  nested->frame = frame;
  a->Events()->AddHandler(kFrameEventMouse, nested.get());
  EXPECT_TRUE(frame->HandleMouseMessage(win::WM_LBUTTONDOWN, 0x0001, 0, TPoint{}, Point(15, 12)));
  EXPECT_FALSE(nested->answer);
  ASSERT_EQ(a->MouseKinds.size(), 1u);
  EXPECT_EQ(a->MouseKinds[0], kMouseDown);
  EXPECT_EQ(a->MousePoints[0], (TPoint{5, 2}));
  EXPECT_EQ(frame->MouseData()->Button, kMouseLeft);
  EXPECT_TRUE(frame->Captured());
  EXPECT_TRUE(frame->HandleMouseMessage(win::WM_LBUTTONUP, 0, 0, TPoint{}, Point(15, 12)));
  EXPECT_FALSE(frame->Captured());
  EXPECT_EQ(win::GetCursor(), win::LoadCursor(0, win::IDC_HAND));
  EXPECT_FALSE(frame->HandleMouseMessage(win::WM_KEYDOWN, 65, 0, TPoint{}, 0));
  // The wheel arrives in screen coordinates, less the client origin.
  a->Events()->RemoveHandler(kFrameEventMouse, nested.get());
  EXPECT_TRUE(frame->HandleMouseMessage(win::WM_MOUSEWHEEL, win::WPARAM(120) << 16, 0, TPoint{100, 200},
                                        Point(120, 215)));
  EXPECT_EQ(a->MouseKinds.back(), kFrameMouseWheel);
  EXPECT_EQ(a->MousePoints.back(), (TPoint{10, 5}));
  EXPECT_EQ(frame->MouseData()->WheelDelta, 1);
  // Without wheel acceptance the control is not hit by the wheel.
  a->SetAcceptsWheel(false);
  size_t before = a->MouseKinds.size();
  frame->HandleMouseMessage(win::WM_MOUSEWHEEL, win::WPARAM(120) << 16, 0, TPoint{100, 200}, Point(120, 215));
  EXPECT_EQ(a->MouseKinds.size(), before);
}

TEST_F(FramesTest, RootBoundsInvalidateOnlyTheExposedStrips) {
  TRootControl* r = MakeRoot(64, 32);
  TPaintProbe* back = AddProbe(r, "back", 0, 0, 200, 200, 0xFF101010);
  Settle();
  frame->SetBounds(0, 0, 80, 48);
  r->SetSize(80, 48);  // the root control paints nothing itself
  Settle();
  frame->SetBounds(0, 0, 96, 40);  // wider by 16, lower by 8
  frame->RecalcInvalidRegion();
  // The band right of the old width down to the smaller height: 2 x 5 cells.
  EXPECT_EQ(frame->Surface()->PixelsWritten, 16 * 40);
  EXPECT_EQ(frame->UpdateRects().Bounds(), (TRect{80, 0, 96, 40}));
  EXPECT_EQ(back->Paints, 3);
  // Theme changes reach every frame's handler.
  struct TThemed : TPaintProbe {
    using TPaintProbe::TPaintProbe;
    int themed = 0;
    void ThemeChanged() override { ++themed; }
  };
  auto* t = new TThemed(back->CreateChildFrame(), "t", 0);
  ThemeChangedAllRoots();
  EXPECT_EQ(t->themed, 1);
  EXPECT_EQ(RootFrames().size(), 1u);
  // Through the application window's system-colour and theme messages.
  SubscribeRootRegistry();
  win::SendMessage(app->GetHandle(), 21, 0, 0);
  win::SendMessage(app->GetHandle(), 794, 0, 0);
  EXPECT_EQ(t->themed, 3);
  UnsubscribeRootRegistry();
  win::SendMessage(app->GetHandle(), 21, 0, 0);
  EXPECT_EQ(t->themed, 3);
}

TEST_F(FramesTest, FrameHandlersAndAbsolutePositions) {
  TRootControl* r = MakeRoot(64, 32);
  TPaintProbe* a = AddProbe(r, "a", 5, 6, 8, 8);
  // A frame takes only a handler that names it, and drops only its own.
  TDrawFrame* spare = r->CreateChildFrame();
  EXPECT_THROW(spare->SetHandler(a), EAbort);
  // The root asks for its absolute position.
  TPoint p;
  EXPECT_THROW(a->Frame()->GetAbsolutePos(p), EAbort);
  struct TAbs {
    void Get(TPoint& p) { p = TPoint{100, 200}; }
  } abs;
  frame->OnGetAbsolutePos = TDelegate<void(TPoint&)>::Bind<&TAbs::Get>(&abs);
  a->Frame()->GetAbsolutePos(p);
  EXPECT_EQ(p, (TPoint{105, 206}));
  // Frames are found by id; a freed one is not.
  uint32_t id = static_cast<TWinFrame*>(a->Frame())->Id();
  EXPECT_EQ(frame->FindFrame(id), a->Frame());
  a->Free();
  EXPECT_EQ(frame->FindFrame(id), nullptr);
  // Inserting before a sibling and at the start.
  TDrawFrame* first = frame->InsertBefore(nullptr);
  TDrawFrame* mid = frame->InsertBefore(spare);
  EXPECT_EQ(frame->FirstChild(), first);
  EXPECT_EQ(mid->NextSibling(), spare);
  EXPECT_EQ(spare->PrevSibling(), mid);
}

namespace {
Ref<TBitmap> Bitmap(const char* format, int32_t w, int32_t h, std::initializer_list<uint32_t> argb) {
  Ref<TBitmap> b = NewBitmap(w, h, PixelFormatByName("A8R8G8B8"), {}, nullptr, &TSysBitmap::kClass);
  auto* sys = static_cast<TSysBitmap*>(b.get());
  auto it = argb.begin();
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) *reinterpret_cast<uint32_t*>(sys->PixelAddress(x, y)) = *it++;
  if (std::string(format) == "A8R8G8B8") return b;
  return b->CreateSimilar(PixelFormatByName(format), &TSysBitmap::kClass);
}
}  // namespace

TEST(WinSurfaceTest, BitmapsAndTilesInTheirThreeFormats) {
  Ref<TWinSurface> s = MakeRef<TWinSurface>();
  s->Resize(16, 8, false);
  s->MarkRect(TRect{0, 0, 16, 8});
  // A 2 x 1 opaque tile anchored at x = 1: the first tile starts at -1.
  Ref<TBitmap> tile = Bitmap("R8G8B8", 2, 1, {0xFFFF0000, 0xFF0000FF});
  s->FillTiled(TRect{0, 0, 5, 2}, tile.get(), TPoint{1, 0});
  EXPECT_EQ(s->PixelAt(0, 0), 0x0000FFu);
  EXPECT_EQ(s->PixelAt(1, 0), 0xFF0000u);
  EXPECT_EQ(s->PixelAt(2, 1), 0x0000FFu);
  EXPECT_EQ(s->PixelAt(4, 0), 0x0000FFu);
  EXPECT_EQ(s->PixelAt(5, 0), 0u);  // past the rectangle
  EXPECT_EQ(s->PixelsWritten, 10);
  // Straight alpha blends; alpha 0 leaves the pixel.
  s->FillRect(TRect{8, 0, 16, 8}, 0xFF404040);
  Ref<TBitmap> straight = Bitmap("A8R8G8B8", 2, 1, {0x80FFFFFF, 0x00FFFFFF});
  s->DrawBitmap(straight.get(), TRect{0, 0, 16, 8}, 8, 0);
  EXPECT_EQ(s->PixelAt(8, 0), 0x9F9F9Fu);  // 64 + (191 * 128 >> 8)
  EXPECT_EQ(s->PixelAt(9, 0), 0x404040u);
  // Premultiplied: opaque pixels are exact, others add over the dimmed surface.
  Ref<TBitmap> pre = Bitmap("A8r8g8b8", 2, 1, {0xFF112233, 0x80FFFFFF});
  s->DrawBitmap(pre.get(), TRect{0, 0, 16, 8}, 8, 1);
  EXPECT_EQ(s->PixelAt(8, 1), 0x112233u);
  EXPECT_EQ(s->PixelAt(9, 1), 0x9F9F9Fu);  // (64 * 127 + 127) / 255 + 127 (255 premultiplied by 128)
  // The limiting rectangle cuts the bitmap.
  s->PixelsWritten = 0;
  s->DrawBitmap(pre.get(), TRect{0, 0, 9, 8}, 8, 2);
  EXPECT_EQ(s->PixelsWritten, 1);
}

TEST(WinSurfaceTest, LayeredOutputMakesMagentaTransparent) {
  Ref<TWinSurface> s = MakeRef<TWinSurface>();
  s->Resize(16, 8, false);
  s->SetLayered(true);
  s->MarkRect(TRect{0, 0, 16, 8});
  s->FillRect(TRect{0, 0, 16, 8}, 0xFFFF00FF);
  s->FillRect(TRect{0, 0, 1, 1}, 0xFF123456);
  s->CollectRects();
  s->ConvertLayered();
  auto px = [&](int x, int y) { return reinterpret_cast<uint32_t*>(s->LayeredDib()->Row(y))[x]; };
  EXPECT_EQ(px(0, 0), 0xFF123456u);
  EXPECT_EQ(px(5, 5), 0u);
  // Only the collected rectangles are converted; a reallocation keeps both bitmaps.
  s->MarkRect(TRect{0, 0, 1, 1});
  s->FillRect(TRect{0, 0, 1, 1}, 0xFFFFFFFF);
  s->Resize(200, 8, true);
  EXPECT_EQ(s->LayeredDib()->Width(), 200);
  EXPECT_EQ(px(0, 0), 0xFF123456u);
  s->CollectRects();
  s->ConvertLayered();
  EXPECT_EQ(px(0, 0), 0xFFFFFFFFu);
}

TEST_F(FramesTest, PaintHookAndTheLogOfEachPass) {
  TRootControl* r = MakeRoot(32, 16);
  TPaintProbe* a = AddProbe(r, "a", 0, 0, 16, 16, 0xFFFF0000);
  struct THook {
    int calls = 0;
    TWinFrame* seen = nullptr;
    void Paint(TWinFrame* f, TDrawSurface* s) {
      ++calls;
      seen = f;
      s->FillRect(TRect{0, 0, 16, 16}, 0xFF0000FF);
    }
  } hook;
  auto* wf = static_cast<TWinFrame*>(a->Frame());
  wf->OnPaint = TFramePaintEvent::Bind<&THook::Paint>(&hook);
  TLogCapture log;
  EXPECT_TRUE(frame->RecalcInvalidRegion());
  EXPECT_EQ(hook.calls, 1);  // in place of the control's own Paint
  EXPECT_EQ(hook.seen, wf);
  EXPECT_EQ(a->Paints, 0);
  EXPECT_EQ(frame->Surface()->PixelAt(3, 3), 0x0000FFu);
  std::vector<std::u16string> lines = log.Take();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].rfind(u">>> rec update ", 0), 0u);
  EXPECT_EQ(lines[1].rfind(u">>> rec paint ", 0), 0u);
  EXPECT_EQ(lines[2].rfind(u">>> rec fix (2) ", 0), 0u);  // two rows of cells
  // A pass with nothing to do writes nothing.
  EXPECT_FALSE(frame->RecalcInvalidRegion());
  EXPECT_EQ(log.Count(), 0u);
}

namespace {
// A control that paints a caption on white.
class TCaption : public TFrameControl {
 public:
  TCaption(TDrawFrame* frame, std::u16string text) : TFrameControl(frame), text_(std::move(text)) {}
  void Paint(TDrawSurface* surface) override {
    surface->FillRect(TRect{0, 0, width_, height_}, 0xFFFFFFFF);
    TFontDesc font = DefaultTextFont();
    FontDescSetTransparent(font, true);
    Ref<TTextElement> e = frame_->CreateTextElement(text_, font);
    surface->DrawText(e.get(), TPoint{2, 2}, TRect{0, 0, width_, height_});
  }

 private:
  std::u16string text_;
};

int DarkPixels(TWinSurface* s, const TRect& r) {
  int n = 0;
  for (int32_t y = r.Top; y < r.Bottom; ++y)
    for (int32_t x = r.Left; x < r.Right; ++x) n += (s->PixelAt(x, y) & 0xFF) < 0x80;
  return n;
}
}  // namespace

TEST_F(FramesTest, TextIsMeasuredAndDrawnInsideTheMarkedCells) {
  TRootControl* r = MakeRoot(96, 24);
  AddProbe(r, "back", 0, 0, 96, 24, 0xFFFFFFFF);
  auto* caption = new TCaption(r->CreateChildFrame(), u"Hello");
  caption->SetSize(96, 24);
  const TFontDesc font = frame->Surface()->Wrapper()->Font();
  TTextSize size;
  caption->Frame()->MeasureText(u"Hello", font, size);
  EXPECT_GT(size.Width, 10);
  EXPECT_GT(size.Height, 5);
  EXPECT_GT(size.Ascent, 0);
  TTextSize twice;
  caption->Frame()->MeasureScaledText(u"Hello", font, 2.0, twice);
  EXPECT_EQ(frame->Surface()->Wrapper()->Font().Size, 20.0f);  // the context keeps the last font
  EXPECT_GT(twice.Width, size.Width * 3 / 2);
  frame->RecalcInvalidRegion();
  DumpSurface("frames_text", frame->Surface());
  TWinSurface* s = frame->Surface();
  EXPECT_GT(DarkPixels(s, TRect{0, 0, 96, 24}), 10);
  EXPECT_EQ(DarkPixels(s, TRect{size.Width + 4, 0, 96, 24}), 0);
  // Repainting one cell changes no pixel outside it.
  Settle();
  const TWinSurface* cs = s;
  std::vector<uint32_t> before;
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 96; ++x) before.push_back(cs->PixelAt(x, y));
  caption->InvalidateRect(TRect{0, 0, 8, 8});
  frame->RecalcInvalidRegion();
  EXPECT_EQ(frame->Surface()->PixelsWritten, 3 * 64);  // back, caption fill, caption text
  int changed_outside = 0;
  for (int32_t y = 0; y < 24; ++y)
    for (int32_t x = 0; x < 96; ++x)
      if ((x >= 8 || y >= 8) && before[size_t(y * 96 + x)] != cs->PixelAt(x, y)) ++changed_outside;
  EXPECT_EQ(changed_outside, 0);
}

TEST(WinContextWrapperTest, SelectionCountsAndExtents) {
  Ref<TWinContextWrapper> w = MakeRef<TWinContextWrapper>();
  EXPECT_EQ(w->Font().FaceName, u"Tahoma");
  EXPECT_EQ(w->Font().Size, 10.0f);
  TTextExtent e;
  EXPECT_THROW(w->TextExtent(u"x", e), EAbort);  // needs a selection
  EXPECT_THROW(w->Release(), EAbort);
  int a = 0, b = 0;
  w->Select(&a);
  w->Select(&a);
  EXPECT_THROW(w->Select(&b), EAbort);  // nested selections name one context
  w->TextExtent(u"Wide text", e);
  EXPECT_GT(e.Width, 0);
  TFontDesc bigger = w->Font();
  bigger.Size = 20;
  w->SetFont(bigger);
  TTextExtent e2;
  w->TextExtent(u"Wide text", e2);
  EXPECT_GT(e2.Width, e.Width);
  w->Release();
  w->Release();
  EXPECT_EQ(w->Context(), nullptr);
}
