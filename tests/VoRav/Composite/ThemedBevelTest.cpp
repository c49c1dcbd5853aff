// Bevels: fitting and following the client, mouse transparency, content
// rectangles and the classic border lines.
#include <gtest/gtest.h>

#include "tests/VoRav/Composite/CheckControlsTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

class ThemedBevelTest : public CheckControlsTest {
 protected:
  TThemedBevel* Bevel(uint8_t style) {
    auto* b = dynamic_cast<TThemedBevel*>(AllocFrameBevel(root->CreateChildFrame(), nullptr));
    EXPECT_NE(b, nullptr);
    b->SetStyle(style);
    return b;
  }
};

TEST_F(ThemedBevelTest, AutoSizedBevelWrapsItsClientAndFollowsIt) {
  MakeRoot(200, 120);
  TThemedBevel* b = Bevel(kBevelStyleSunken);
  b->SetAutoSize(true);
  b->SetPosition(10, 10);
  TPaintProbe* client = AddProbe(b, "client", 0, 0, 50, 20);
  EXPECT_EQ(b->Client(), client);
  EXPECT_EQ(b->GetWidth(), 54);
  EXPECT_EQ(b->GetHeight(), 24);
  EXPECT_EQ(client->GetPosition(), (TPoint{2, 2}));
  // Resizing the bevel fits the client into the content.
  b->SetSize(80, 40);
  EXPECT_EQ(client->PaintArea(), (TRect{0, 0, 76, 36}));
  EXPECT_EQ(client->GetPosition(), (TPoint{2, 2}));
  // Moving the client of a following bevel moves the bevel; the client
  // stays at the content offset.
  b->FollowClient = true;
  client->SetPosition(7, 5);
  EXPECT_EQ(b->GetPosition(), (TPoint{15, 13}));
  EXPECT_EQ(client->GetPosition(), (TPoint{2, 2}));
  // A second child is no client; a freed client is dropped.
  AddProbe(b, "other", 0, 0, 5, 5);
  EXPECT_EQ(b->Client(), client);
  client->Free();
  EXPECT_EQ(b->Client(), nullptr);
  b->SetSize(30, 30);  // nothing to fit
}

TEST_F(ThemedBevelTest, ClicksGoToWhatLiesUnderTheBevel) {
  MakeRoot(200, 120);
  TPaintProbe* under = AddProbe(root.get(), "under", 0, 0, 200, 120);
  TThemedBevel* b = Bevel(kBevelStyleEtched);
  b->SetPosition(10, 10);
  b->SetSize(60, 40);
  Click(12, 12);
  ASSERT_FALSE(under->MouseKinds.empty());
  EXPECT_EQ(under->MouseKinds.back(), kMouseUp);
  EXPECT_FALSE(b->ContainsPoint(1, 1));
}

TEST_F(ThemedBevelTest, ContentRectanglesFollowStyleAndSides) {
  TBevelTheme* t = BevelThemeOf(nullptr);
  TRect r;
  t->ContentRect(kBevelAllSides, kBevelStyleLine, r, TSize{100, 50});
  EXPECT_EQ(r, (TRect{1, 1, 99, 49}));
  t->ContentRect(kBevelLeft | kBevelBottom, kBevelStyleEtched, r, TSize{100, 50});
  EXPECT_EQ(r, (TRect{2, 0, 100, 48}));
  TSize size;
  TPoint offset;
  t->SizeFromClient(kBevelStyleSunken, kBevelTop, size, offset, TSize{50, 20});
  EXPECT_EQ(size, (TSize{50, 22}));
  EXPECT_EQ(offset, (TPoint{0, 2}));
  EXPECT_EQ(t->DefaultStyle(), kBevelStyleEtched);
  // The borderless bevel of the plain allocator.
  MakeRoot(100, 100);
  Ref<TFrameBevel> plain = Ref<TFrameBevel>(AllocDefFrameBevel(root->CreateChildFrame(), nullptr));
  plain->ContentRect(TSize{30, 20}, r);
  EXPECT_EQ(r, (TRect{0, 0, 30, 20}));
}

TEST_F(ThemedBevelTest, ClassicRingsStayInsideEachOther) {
  MakeRoot(100, 100);
  AddProbe(root.get(), "white", 0, 0, 100, 100, 0xFFFFFFFF);
  TControlStyles* s = DefaultControlStyles();
  TThemedBevel* b = Bevel(kBevelStyleSunken);
  b->SetPosition(10, 10);
  b->SetSize(10, 10);
  TThemedBevel* etched = Bevel(kBevelStyleEtched);
  etched->SetPosition(30, 10);
  etched->SetSize(10, 10);
  etched->SetSides(kBevelRight | kBevelBottom);
  TThemedBevel* line = Bevel(kBevelStyleSunken);
  line->SetSides(kBevelLeft);
  line->SetPosition(50, 10);
  line->SetSize(2, 10);
  frame->RecalcInvalidRegion();
  TWinSurface* surf = frame->Surface();
  auto rgb = [](TColor32 c) { return c & 0xFFFFFF; };
  // The outer ring of the sunken bevel: shadow left and top, highlight
  // right and bottom; the inner ring one pixel in on every side.
  EXPECT_EQ(surf->PixelAt(10, 15), rgb(s->ShadowColor));
  EXPECT_EQ(surf->PixelAt(15, 10), rgb(s->ShadowColor));
  EXPECT_EQ(surf->PixelAt(19, 15), rgb(s->HilightColor));
  EXPECT_EQ(surf->PixelAt(15, 19), rgb(s->HilightColor));
  EXPECT_EQ(surf->PixelAt(11, 15), rgb(s->DarkShadowColor));
  EXPECT_EQ(surf->PixelAt(18, 15), rgb(s->LightColor));
  EXPECT_EQ(surf->PixelAt(15, 18), rgb(s->LightColor));
  EXPECT_EQ(surf->PixelAt(15, 15), 0xFFFFFFu);  // the content is not painted
  // Only the masked sides are drawn.
  EXPECT_EQ(surf->PixelAt(30, 15), 0xFFFFFFu);
  EXPECT_EQ(surf->PixelAt(39, 15), rgb(s->ShadowColor));
  EXPECT_EQ(surf->PixelAt(38, 15), rgb(s->HilightColor));
  // A two-pixel vertical line: shadow column, highlight column.
  EXPECT_EQ(surf->PixelAt(50, 15), rgb(s->ShadowColor));
  EXPECT_EQ(surf->PixelAt(51, 15), rgb(s->HilightColor));
}

TEST_F(ThemedBevelTest, VisualStyleBevelDrawsTheListViewBorder) {
  TStyleEnvironment env;
  InstallStyledPainters();
  for (bool classic : {false, true}) {
    env.Set(classic);
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    TBevelTheme* t = BevelThemeOf(styles.get());
    ASSERT_NE(dynamic_cast<TWinBevelTheme*>(t), nullptr);
    EXPECT_EQ(t->DefaultStyle(), classic ? kBevelStyleSunken : kBevelStyleLine);
    Ref<TBevelParts> parts = MakeRef<TBevelParts>();
    t->PrepareParts(kBevelAllSides, kBevelStyleLine, parts.get(), TSize{40, 30}, false);
    EXPECT_EQ(parts->Pieces.size(), classic ? 0u : 4u);
    if (!classic) {
      EXPECT_EQ(parts->Content, (TRect{1, 1, 39, 29}));
    }
    TRect r;
    t->ContentRect(kBevelLeft, kBevelStyleEtched, r, TSize{40, 30});
    EXPECT_EQ(r, classic ? (TRect{2, 0, 40, 30}) : (TRect{1, 0, 40, 30}));
  }
}

}  // namespace
