// The panel, image and caption controls drawn on the window surface in the
// visual style and the classic look, at 100% and 150%, against reference
// pictures made by this code and checked by eye. KAV_UPDATE_GOLDENS=1
// rewrites them.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <numbers>

#include "VoRav/Composite/vxControlStyles.h"
#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxFramePanels.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"
#include "tests/VoRav/ScopedEnv.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

int32_t Scaled(int32_t v, double s) { return int32_t(std::lround(v * s)); }

// A disc of `size` pixels: red to blue from left to right, a soft edge.
Ref<TSysBitmap> Disc(int32_t size) {
  Ref<TSysBitmap> b = CreateSysBitmap(size, size, StdFormats().A8R8G8B8);
  const double r = size / 2.0;
  for (int32_t y = 0; y < size; ++y)
    for (int32_t x = 0; x < size; ++x) {
      const double dx = x + 0.5 - r, dy = y + 0.5 - r;
      const double edge = std::clamp(r - std::sqrt(dx * dx + dy * dy), 0.0, 1.0);
      const uint8_t t = uint8_t(255 * x / std::max(1, size - 1));
      b->FillRect(TRect{x, y, x + 1, y + 1}, ColorRGBA(255 - t, 60, t, uint8_t(std::lround(255 * edge))));
    }
  return b;
}

class ControlsGoldenTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitWinFrameControls();
  }
  void TearDown() override {
    root = nullptr;
    SetDefaultControlStyles(nullptr);
    FinalizeWinFrameControls();
    CompositeTest::TearDown();
  }

  TFramePanel* Panel(TFrameControl* parent, double s, int32_t x, int32_t y, int32_t w, int32_t h,
                     const std::u16string& text, uint8_t alignment) {
    TFramePanel* p = AllocFramePanel(parent->CreateChildFrame(), nullptr);
    p->SetPosition(Scaled(x, s), Scaled(y, s));
    p->SetSize(Scaled(w, s), Scaled(h, s));
    p->SetAlignment(alignment);
    p->SetCaption(text);
    return p;
  }
  TFrameCaption* Caption(TFrameControl* parent, double s, int32_t x, int32_t y, int32_t w, int32_t h,
                         const std::u16string& text) {
    TFrameCaption* c = AllocFrameCaption(parent->CreateChildFrame());
    c->SetPosition(Scaled(x, s), Scaled(y, s));
    c->SetSize(Scaled(w, s), Scaled(h, s));
    c->SetCaption(text);
    return c;
  }
  TFrameImage* Image(TFrameControl* parent, double s, int32_t x, int32_t y, int32_t w, int32_t h, TBitmap* b) {
    TFrameImage* i = AllocFrameImage(parent->CreateChildFrame());
    i->SetPosition(Scaled(x, s), Scaled(y, s));
    i->SetSize(Scaled(w, s), Scaled(h, s));
    i->SetBitmap(b, false);
    return i;
  }

  // The sheet at scale s, as a 32-bit bitmap.
  Ref<TSysBitmap> Draw(double s) {
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    styles->ControlFont.Size = float(styles->ControlFont.Size * s);
    styles->ScaleX = styles->ScaleY = s;
    SetDefaultControlStyles(styles.get());
    const int32_t w = Scaled(328, s), h = Scaled(176, s);
    MakeRoot(w, h);
    AddProbe(root.get(), "white", 0, 0, w, h, 0xFFFFFFFF);

    // Panels: the three alignments; disabled; a text wider than a
    // right-aligned panel; an own style.
    Panel(root.get(), s, 8, 8, 100, 28, u"Centred", 0);
    Panel(root.get(), s, 114, 8, 100, 28, u"Left", 1);
    Panel(root.get(), s, 220, 8, 100, 28, u"Right", 2);
    Panel(root.get(), s, 8, 42, 100, 28, u"Disabled", 0)->SetEnabled(false);
    Panel(root.get(), s, 114, 42, 100, 28, u"Wider than the panel", 2)->FitFrame = true;
    TFramePanel* own = Panel(root.get(), s, 220, 42, 100, 28, u"", 0);
    TFontDesc font = styles->ControlFont;
    font.Style = 1;  // bold
    font.Color1 = TRGBTriple{200, 0, 0};  // blue
    FontDescSetTransparent(font, true);
    own->SetOwnStyle(font, true);
    own->SetCaption(u"Own style");

    // Images: plain, disabled, through a rotation, on a background colour.
    Ref<TSysBitmap> disc = Disc(Scaled(32, s));
    Image(root.get(), s, 8, 78, 40, 40, disc.get());
    Image(root.get(), s, 56, 78, 40, 40, disc.get())->SetEnabled(false);
    TFrameImage* turned = Image(root.get(), s, 104, 78, 40, 40, disc.get());
    const double a = 30 * std::numbers::pi / 180, c = std::cos(a), sn = std::sin(a), half = 16 * s;
    TAffineMatrix m;  // rotate about the disc's centre, then to the box's centre
    m.m[0] = float(c), m.m[1] = float(sn), m.m[3] = float(-sn), m.m[4] = float(c);
    m.m[6] = float(20 * s - (c * half - sn * half)), m.m[7] = float(20 * s - (sn * half + c * half));
    turned->SetTransform(m);
    turned->SetDrawMode(TFrameImage::kDrawTransformed);
    Image(root.get(), s, 152, 78, 40, 40, disc.get())->SetBackgroundColor(ColorRGBA(255, 200, 0, 255));

    // Captions on a face panel: whole, cut with an ellipsis at the end and
    // at the start, and with an inline child on the baseline.
    TFramePanel* face = Panel(root.get(), s, 8, 124, 312, 44, u"", 0);
    Caption(face, s, 4, 2, 100, 20, u"Whole caption");
    Caption(face, s, 108, 2, 90, 20, u"A caption cut short")->SetEllipsis(true);
    TFrameCaption* rev = Caption(face, s, 202, 2, 90, 20, u"A caption cut short");
    rev->SetReversed(true);
    TFrameCaption* inl = Caption(face, s, 4, 22, 200, 20, u"With a child");
    inl->SetGap(Scaled(4, s));
    TPaintProbe* child = new TPaintProbe(inl->CreateChildFrame(), "child", 0xFF0000FF);
    child->SetBaseline(Scaled(8, s));
    child->SetSize(Scaled(10, s), Scaled(10, s));

    Ref<TSysBitmap> out = test::SurfaceBitmap(frame, w, h);
    root = nullptr;
    SetDefaultControlStyles(DefaultWinControlStyles());
    return out;
  }
};

}  // namespace

TEST_F(ControlsGoldenTest, PanelImageAndCaptionInBothLooksAt100And150Percent) {
  test::TScopedEnv styles_env("KAV_VISUAL_STYLES", std::nullopt);
  for (int32_t percent : {100, 150}) {
    const std::string name = "panel_image_caption_" + std::to_string(percent) + ".png";
    SCOPED_TRACE(name);
    unsetenv("KAV_VISUAL_STYLES");
    Ref<TSysBitmap> styled = Draw(percent / 100.0);
    setenv("KAV_VISUAL_STYLES", "classic", 1);
    Ref<TSysBitmap> classic = Draw(percent / 100.0);
    if (const char* dump = std::getenv("KAV_DUMP_DIR"))
      uxtheme::test::WritePng(std::string(dump) + "/panel_image_caption_classic_" + std::to_string(percent) + ".png",
                              classic.get());
    if (test::WriteGoldenIfUpdating(styled.get(), name)) continue;
    int32_t w = 0, h = 0;
    std::vector<uint32_t> ref;
    ASSERT_TRUE(test::ReadGolden(name, w, h, ref));
    ASSERT_EQ(w, styled->Width());
    ASSERT_EQ(h, styled->Height());
    // These controls draw no themed parts: both looks match the one sheet.
    EXPECT_LE(test::WorstChannelDifference(styled.get(), ref), 3);
    EXPECT_LE(test::WorstChannelDifference(classic.get(), ref), 3);
  }
}
