#include <gtest/gtest.h>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

Ref<TSysBitmap> Bitmap32(int32_t w, int32_t h, TColor32 fill) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, w, h}, fill);
  return b;
}

uint32_t Pixel32(TBitmap* b, int32_t x, int32_t y) {
  uint32_t px = 0;
  b->GetPixels32(x, y, 1, std::span<uint32_t>(&px, 1), 0);
  return px;
}

class PanelImageCaptionTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitWinFrameControls();
    SetDefaultControlStyles(DefaultWinControlStyles());
  }
  void TearDown() override {
    root = nullptr;
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    CompositeTest::TearDown();
  }
  TFrameCaption* Caption(TFrameControl* parent, const std::u16string& text, int32_t w, int32_t h) {
    TFrameCaption* c = AllocFrameCaption(parent->CreateChildFrame());
    c->SetSize(w, h);
    c->SetCaption(text);
    return c;
  }
};

// A child with a baseline, for the caption's inline children.
class TBaselineProbe : public TPaintProbe {
 public:
  TBaselineProbe(TDrawFrame* frame, int32_t baseline) : TPaintProbe(frame, "inline", 0xFF0000FF) {
    SetBaseline(baseline);
  }
};

}  // namespace

TEST_F(PanelImageCaptionTest, CaptionFitsWholeTruncatesOrShowsOnlyTheEllipsis) {
  MakeRoot(300, 40);
  TFrameCaption* c = Caption(root.get(), u"Hello world", 300, 20);
  ASSERT_NE(c->TextElement(), nullptr);
  const int32_t full = c->TextElement()->Width();
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kWholeText);
  EXPECT_EQ(c->GetWidth(), full);
  EXPECT_GT(c->Baseline(), 0);
  // Exactly as wide as the text: the whole text, no ellipsis made.
  c->SetSize(full, 20);
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kWholeText);
  EXPECT_EQ(c->EllipsisElement(), nullptr);
  EXPECT_EQ(c->TruncatedElement(), nullptr);
  EXPECT_EQ(c->TextPosition().X, 0);
  // One pixel less: truncated text and the ellipsis.
  c->SetSize(full - 1, 20);
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kTruncatedText);
  ASSERT_NE(c->EllipsisElement(), nullptr);
  ASSERT_NE(c->TruncatedElement(), nullptr);
  const int32_t ew = c->EllipsisElement()->Width();
  EXPECT_LE(c->ShownTextWidth(), full - 1);
  EXPECT_EQ(c->ShownTextWidth(), ew + c->TruncatedElement()->Width());
  // Shrinking by less than a character keeps the truncated element; by a
  // character's width makes it once more.
  const int32_t made = c->TruncationCount();
  const int32_t kept = c->TruncatedElement()->Length();
  const int32_t last = c->TextElement()->PartWidth(kept - 1, 1);
  const int32_t slack = full - 1 - ew - c->TruncatedElement()->Width();
  if (slack > 0) {
    c->SetSize(full - 1 - slack, 20);
    EXPECT_EQ(c->TruncationCount(), made);
  }
  c->SetSize(ew + c->TextElement()->PartWidth(0, kept) - last, 20);
  EXPECT_EQ(c->TruncationCount(), made + 1);
  EXPECT_EQ(c->TruncatedElement()->Length(), kept - 1);
  // Narrower than the ellipsis: only the ellipsis.
  c->SetSize(ew - 1, 20);
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kTruncatedText);
  EXPECT_EQ(c->TruncatedElement(), nullptr);
  EXPECT_EQ(c->ShownTextWidth(), ew);
  // Without the ellipsis the whole text shows, cut by the frame.
  c->SetEllipsis(false);
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kWholeText);
  // No room at all, or no text: nothing shown.
  c->SetSize(0, 20);
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kNothingShown);
  c->SetSize(100, 20);
  c->SetCaption(u"");
  EXPECT_EQ(c->LayoutMode(), TFrameCaption::kNothingShown);
  EXPECT_FALSE(c->ContainsPoint(1, 1));
}

TEST_F(PanelImageCaptionTest, CaptionAlignsTextAndLinesChildrenUpOnTheBaseline) {
  MakeRoot(300, 40);
  TFrameCaption* c = Caption(root.get(), u"Name", 200, 30);
  c->SetName("caption");
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(c, {kFrameEventChanged});
  const int32_t tw = c->TextElement()->Width();
  c->SetFlag(1);
  EXPECT_EQ(c->TextPosition().X, (200 - tw) / 2);
  c->SetFlag(3);
  EXPECT_EQ(c->TextPosition().X, 200 - tw);
  c->SetFlag(0);
  EXPECT_EQ(c->TextPosition().X, 0);
  c->SetReversed(true);  // natural is right-aligned when reversed
  EXPECT_EQ(c->TextPosition().X, 200 - tw);
  c->SetReversed(false);

  auto* child = new TBaselineProbe(c->CreateChildFrame(), 6);
  child->SetSize(12, 8);
  EXPECT_EQ(log->Count("caption:1"), 2);  // added, then its size change
  c->SetGap(4);
  // Children first, then the gap, then the text; the child's baseline on
  // the caption's.
  EXPECT_EQ(child->GetPosition().X, 0);
  EXPECT_EQ(c->TextPosition().X, 16);
  EXPECT_EQ(child->GetPosition().Y + child->Baseline(), c->Baseline());
  EXPECT_EQ(c->GetWidth(), 16 + tw);
  c->SetChildrenPlacement(2);  // at the end
  EXPECT_EQ(child->GetPosition().X, 200 - 12);
  EXPECT_EQ(c->TextPosition().X, 0);
  c->SetChildrenPlacement(1);  // at the start, text aligned in the rest
  c->SetFlag(3);
  EXPECT_EQ(child->GetPosition().X, 0);
  EXPECT_EQ(c->TextPosition().X, 200 - tw);
  c->SetChildrenPlacement(0);
  c->SetReversed(true);  // text first, then the gap and the children, at the right
  EXPECT_EQ(child->GetPosition().X, 200 - 12);
  EXPECT_EQ(c->TextPosition().X, 200 - 12 - 4 - tw);
  // A child without a baseline is centred.
  child->SetBaseline(-1);
  child->SetSize(12, 10);
  EXPECT_EQ(child->GetPosition().Y, (30 - 10) / 2);
  // An alignment outside the list is an assertion failure.
  EXPECT_THROW(c->SetFlag(7), EAbort);
}

TEST_F(PanelImageCaptionTest, CaptionHitTestAndClickAndTheButtonCaption) {
  MakeRoot(300, 40);
  TFrameCaption* c = Caption(root.get(), u"Click", 100, 20);
  c->SetName("cap");
  EXPECT_FALSE(c->ContainsPoint(c->TextPosition().X + 1, c->TextPosition().Y + 1));  // transparent by default
  c->MouseTransparent = false;
  EXPECT_TRUE(c->ContainsPoint(c->TextPosition().X + 1, c->TextPosition().Y + 1));
  EXPECT_FALSE(c->ContainsPoint(99, 1));
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(c, {kFrameEventClick});
  Ref<TMouseData> down = MakeRef<TMouseData>();
  down->Kind = 1;
  down->Button = 1;
  c->MouseEvent(down.get());
  down->Captured = true;
  c->MouseEvent(down.get());
  EXPECT_EQ(log->Count("cap:13"), 1);

  // A push button's caption: made once, centred, and its changes reach the
  // button.
  auto* b = new TFrameButton(root->CreateChildFrame(), nullptr);
  b->SetName("button");
  log->Listen(b, {kFrameEventChanged});
  TFrameCaption* bc = b->GetCaption();
  EXPECT_EQ(b->GetCaption(), bc);
  EXPECT_EQ(bc->Alignment(), 1);
  bc->SetCaption(u"OK");
  EXPECT_EQ(log->Count("button:1"), 1);
  bc->Free();  // the button forgets a caption freed under it
  EXPECT_NE(b->GetCaption(), bc);
}

TEST_F(PanelImageCaptionTest, PanelPlacesItsTextAndFollowsTheMouseMode) {
  MakeRoot(200, 40);
  TFramePanel* p = AllocFramePanel(root->CreateChildFrame(), nullptr);
  EXPECT_EQ(p->Brush(), DefaultControlStyles()->FaceBrush.get());
  p->SetName("panel");
  p->SetSize(40, 20);
  p->SetCaption(u"A rather long caption");
  ASSERT_NE(p->TextElement(), nullptr);
  const int32_t tw = p->TextElement()->Width();
  ASSERT_GT(tw, 40);
  p->SetAlignment(2);  // right, but wider than the panel: at 0
  EXPECT_EQ(p->TextPosition().X, 0);
  p->SetCaption(u"ab");
  const int32_t sw = p->TextElement()->Width();
  EXPECT_EQ(p->TextPosition().X, 40 - sw);
  p->SetAlignment(1);
  EXPECT_EQ(p->TextPosition().X, 0);
  p->SetAlignment(0);
  EXPECT_EQ(p->TextPosition().X, (40 - sw) / 2);
  TTextMetrics m;
  p->TextElement()->GetFontMetrics(m);
  EXPECT_EQ(p->TextPosition().Y, (20 - m.Height) / 2);
  EXPECT_EQ(p->Baseline(), p->TextPosition().Y + m.Ascent);
  EXPECT_EQ(p->GetWidth(), sw);  // the text's size

  // A disabled panel writes in the shadow colour, unless it has its own style.
  TFontDesc style;
  p->SetEnabled(false);
  p->GetInheritedStyle(style);
  EXPECT_EQ(style.Color1, TripleOf(DefaultControlStyles()->ShadowColor));
  EXPECT_EQ(p->TextElement()->Font().Color1, style.Color1);
  TFontDesc own = style;
  own.Color1 = TRGBTriple{1, 2, 3};
  p->SetOwnStyle(own, true);
  p->GetInheritedStyle(style);
  EXPECT_EQ(style.Color1, (TRGBTriple{1, 2, 3}));
  p->SetEnabled(true);

  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(p, {kFrameEventClick});
  Ref<TMouseData> down = MakeRef<TMouseData>();
  down->Kind = 1;
  down->Button = 1;
  p->MouseEvent(down.get());
  EXPECT_EQ(log->Count("panel:13"), 0);
  p->MouseMode = 2;
  p->MouseEvent(down.get());
  EXPECT_EQ(log->Count("panel:13"), 1);
  p->MouseMode = 0;
  EXPECT_FALSE(p->ContainsPoint(1, 1));
  p->FitFrame = true;
  p->SetSize(50, 25);
  EXPECT_EQ(p->Frame()->BoundsRect(), (TRect{0, 0, 50, 25}));
  // Swapping the brush repaints the panel.
  frame->RecalcInvalidRegion();
  EXPECT_FALSE(frame->RecalcInvalidRegion());
  p->SetBrush(nullptr, false);
  EXPECT_TRUE(frame->RecalcInvalidRegion());
}

TEST_F(PanelImageCaptionTest, ImageHitTestByAlphaAndTheDisabledCopy) {
  MakeRoot(100, 100);
  TFrameImage* img = AllocFrameImage(root->CreateChildFrame());
  img->SetSize(20, 20);
  Ref<TSysBitmap> b = Bitmap32(10, 10, ColorRGBA(200, 100, 50, 255));
  b->FillRect(TRect{0, 0, 1, 1}, ColorRGBA(200, 100, 50, 127));
  b->FillRect(TRect{1, 0, 2, 1}, ColorRGBA(200, 100, 50, 128));
  img->SetBitmap(b.get(), false);
  EXPECT_FALSE(img->ContainsPoint(5, 5));  // threshold 256: never
  img->HitThreshold = 0;
  EXPECT_TRUE(img->ContainsPoint(15, 15));  // the plain rectangle
  img->HitThreshold = 128;
  EXPECT_FALSE(img->ContainsPoint(0, 0));  // alpha 127
  EXPECT_TRUE(img->ContainsPoint(1, 0));   // alpha 128
  EXPECT_FALSE(img->ContainsPoint(15, 15));  // outside the bitmap: alpha 0
  img->SetBackgroundColor(ColorRGBA(0, 0, 0, 128));
  EXPECT_TRUE(img->ContainsPoint(15, 15));  // the background reaches it
  img->SetBackgroundColor(0);
  // Through the transform: control (2x, 2y) shows bitmap (x, y).
  TAffineMatrix m = AffineScale(2, 2);
  img->SetTransform(m);
  img->SetDrawMode(TFrameImage::kDrawTransformed);
  EXPECT_TRUE(img->ContainsPoint(2, 0));    // bitmap (1, 0)
  EXPECT_FALSE(img->ContainsPoint(0, 0));   // bitmap (0, 0)
  EXPECT_TRUE(img->ContainsPoint(18, 18));   // bitmap (9, 9)
  EXPECT_FALSE(img->ContainsPoint(19, 19));  // bitmap (9.5, 9.5) rounds to (10, 10): outside
  img->SetDrawMode(TFrameImage::kDrawNone);
  EXPECT_FALSE(img->ContainsPoint(5, 5));
  img->SetDrawMode(TFrameImage::kDrawPlain);
  // A bitmap without alpha is opaque everywhere.
  Ref<TSysBitmap> rgb = CreateSysBitmap(4, 4, StdFormats().R8G8B8);
  rgb->FillRect(TRect{0, 0, 4, 4}, ColorRGBA(9, 9, 9, 255));
  img->SetBitmap(rgb.get(), false);
  EXPECT_TRUE(img->ContainsPoint(3, 3));
  EXPECT_FALSE(img->ContainsPoint(4, 3));

  // The disabled copy is half as opaque with the colours kept.
  img->SetBitmap(b.get(), false);
  TBitmap* d = img->DisabledBitmap();
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(img->DisabledBitmap(), d);  // made once
  EXPECT_EQ(Pixel32(d, 5, 5), ColorRGBA(200, 100, 50, 127));
  EXPECT_EQ(Pixel32(d, 1, 0), ColorRGBA(200, 100, 50, 64));
  // Painted: a disabled image on white blends half-way.
  AddProbe(root.get(), "white", 50, 50, 20, 20, 0xFFFFFFFF);
  TFrameImage* on_white = AllocFrameImage(root->CreateChildFrame());
  on_white->SetPosition(50, 50);
  on_white->SetSize(10, 10);
  on_white->SetBitmap(Bitmap32(10, 10, ColorRGBA(0, 0, 0, 255)).get(), true);
  on_white->SetEnabled(false);
  frame->RecalcInvalidRegion();
  const uint32_t grey = frame->Surface()->PixelAt(55, 55);
  EXPECT_NEAR(int(grey & 0xFF), 128, 2);
  EXPECT_EQ(frame->Surface()->PixelAt(65, 65), 0xFFFFFFu);
}

TEST_F(PanelImageCaptionTest, CaptionChildrenComeAndGoAndTheCaptionDiesQuietly) {
  MakeRoot(300, 40);
  TFrameCaption* c = Caption(root.get(), u"Row", 200, 30);
  c->SetName("cap");
  Ref<TEventLog> log = MakeRef<TEventLog>();
  log->Listen(c, {kFrameEventChanged});
  auto* a = new TBaselineProbe(c->CreateChildFrame(), 5);
  a->SetSize(10, 8);
  auto* b = new TBaselineProbe(c->CreateChildFrame(), 5);
  b->SetSize(20, 8);
  EXPECT_EQ(b->GetPosition().X, 10);
  const int before = log->Count("cap:1");
  a->Free();  // removed: laid out again, and its size no longer heard
  EXPECT_EQ(log->Count("cap:1"), before + 1);
  EXPECT_EQ(b->GetPosition().X, 0);
  EXPECT_EQ(c->TextPosition().X, 20);
  EmptyPendingReleaseList();
  // Freeing the caption frees its children without laying it out again.
  log->Lines.clear();
  c->Free();
  EXPECT_EQ(log->Count("cap:1"), 0);
}
