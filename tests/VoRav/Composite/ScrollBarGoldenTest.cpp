// The scroll bar's pictures in the classic look (left) and the visual style
// (right) at 100% and 150%: every part in every state for both
// orientations, and whole bars idle and disabled, against reference
// pictures made by this code and checked by eye. KAV_UPDATE_GOLDENS=1
// rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "VoRav/Composite/vxThemedFrameScrollBar.h"
#include "VoRav/Composite/win9xFrameScrollBarTheme.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Composite/winXPFrameScrollBarTheme.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

int32_t Scaled(int32_t v, double s) { return int32_t(std::lround(v * s)); }

// Shows one picture at its offset.
class TPictureTile : public TFrameControl {
 public:
  TPictureTile(TDrawFrame* frame, Ref<TImage> picture, TPoint offset)
      : TFrameControl(frame), picture_(std::move(picture)), offset_(offset) {}
  void Paint(TDrawSurface* surface) override {
    if (!picture_) return;
    Ref<TBitmap> b = picture_->GetBitmap();
    surface->DrawBitmap(b.get(), TRect{offset_.X, offset_.Y, offset_.X + b->Width(), offset_.Y + b->Height()},
                        offset_.X, offset_.Y);
  }

 private:
  Ref<TImage> picture_;
  TPoint offset_;
};

// The state columns: Normal, Hot, Pressed, Disabled, Focused (bar hot).
const uint32_t kStates[5] = {0, kSbHot, kSbHot | kSbPressed, kSbDisabled, kSbBarHot};

class ScrollBarGoldenTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    unsetenv("KAV_VISUAL_STYLES");
    InitWinFrameControls();
    SetDefaultControlStyles(DefaultWinControlStyles());
  }
  void TearDown() override {
    root = nullptr;
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    FinalizeThemeServices();
    CompositeTest::TearDown();
  }

  // The length of a part's picture along the bar.
  static int32_t PartLength(int32_t part, double s) {
    return part == kSbThumb ? Scaled(40, s) : part >= kSbUpperTrack ? Scaled(30, s) : Scaled(17, s);
  }

  // One look: the two grids and four whole bars at (x, 0).
  void Look(TFrameControl* parent, TControlStyles* styles, TFrameScrollBarTheme* painter, double s, int32_t x) {
    const int32_t t = Scaled(17, s), cell_long = Scaled(44, s), cell_short = Scaled(21, s);
    auto tile = [&](uint8_t orientation, int32_t part, uint32_t state, int32_t px, int32_t py) {
      const int32_t len = PartLength(part, s);
      const TSize size = orientation == kSbHorizontal ? TSize{len, t} : TSize{t, len};
      TPoint offset;
      Ref<TImage> picture = painter->DrawPart(painter->GetPartName(part, state, orientation), size, offset);
      auto* c = new TPictureTile(parent->CreateChildFrame(), picture, offset);
      c->SetPosition(px, py);
      c->SetSize(size.cx, size.cy);
    };
    // Horizontal: a row per part, a column per state.
    for (int32_t part = 0; part < 5; ++part)
      for (int32_t col = 0; col < 5; ++col) tile(kSbHorizontal, part, kStates[col], x + col * cell_long, part * cell_short);
    // Vertical: a column per part, a row per state, beside them.
    const int32_t vx = x + 5 * cell_long + Scaled(8, s);
    for (int32_t part = 0; part < 5; ++part)
      for (int32_t row = 0; row < 5; ++row) tile(kSbVertical, part, kStates[row], vx + part * cell_short, row * cell_long);
    // Whole bars under the horizontal grid: idle and disabled.
    const int32_t by = 5 * cell_short + Scaled(8, s);
    for (int32_t i = 0; i < 2; ++i) {
      auto* h = new TThemedFrameScrollBar(parent->CreateChildFrame(), 1, styles, painter);
      h->SetPosition(x, by + i * (t + Scaled(6, s)));
      h->SetSize(5 * cell_long, t);
      h->SetPageAndPosition(0.3f, 0.4f);
      auto* v = new TThemedFrameScrollBar(parent->CreateChildFrame(), 0, styles, painter);
      v->SetPosition(x + i * (t + Scaled(6, s)), by + 2 * (t + Scaled(6, s)));
      v->SetSize(t, 5 * cell_long - (by + 2 * (t + Scaled(6, s))));
      v->SetPageAndPosition(0.3f, 0.6f);
      if (i == 1) {
        h->SetEnabled(false);
        v->SetEnabled(false);
      }
    }
  }

  Ref<TSysBitmap> Draw(double s) {
    Ref<TControlStyles> classic_styles = MakeRef<TControlStyles>(), styled_styles = MakeRef<TControlStyles>();
    for (TControlStyles* st : {classic_styles.get(), styled_styles.get()}) {
      st->Assign(DefaultWinControlStyles());
      st->ScaleX = st->ScaleY = s;
    }
    auto* classic = new TWin9xFrameScrollBarTheme(classic_styles.get());
    auto* styled = new TWinXPFrameScrollBarTheme(styled_styles.get());
    RefRelease(classic);  // the style sets keep them
    RefRelease(styled);
    const int32_t look = 5 * Scaled(44, s) + Scaled(8, s) + 5 * Scaled(21, s);
    const int32_t margin = Scaled(8, s);
    const int32_t w = 2 * margin + 2 * look + Scaled(16, s), h = 2 * margin + 5 * Scaled(44, s);
    MakeRoot(w, h);
    AddProbe(root.get(), "white", 0, 0, w, h, 0xFFFFFFFF);
    auto* sheet = AddProbe(root.get(), "sheet", margin, margin, w - 2 * margin, h - 2 * margin, 0xFFFFFFFF);
    Look(sheet, classic_styles.get(), classic, s, 0);
    Look(sheet, styled_styles.get(), styled, s, look + Scaled(16, s));
    // The visual style fades into the disabled state: let it end.
    for (int32_t i = 0; i < 700; ++i) {
      backend->Advance(1);
      Drain();
    }
    Ref<TSysBitmap> out = test::SurfaceBitmap(frame, w, h);
    root = nullptr;
    return out;
  }
};

}  // namespace

TEST_F(ScrollBarGoldenTest, EveryPartAndStateInBothLooksAt100And150Percent) {
  for (int32_t percent : {100, 150}) {
    Ref<TSysBitmap> sheet = Draw(percent / 100.0);
    test::CheckGoldenSheet(sheet.get(), "scrollbar_" + std::to_string(percent) + ".png");
  }
}
