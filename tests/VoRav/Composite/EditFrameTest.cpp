// The edit-frame painters: layout and size for a text, picture keys and the
// painter's picture of each part, the visual style's button placement and
// state blends, and golden sheets of every state in both looks at 100% and
// 150% (KAV_UPDATE_GOLDENS=1 rewrites them; KAV_DUMP_DIR writes copies).
#include <gtest/gtest.h>

#include "tests/VoRav/Composite/GoldenSheets.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "VoRav/Application2/winApplication.h"
#include "VoRav/Composite/winControlStyles.h"
#include "VoRav/Composite/winFrameEdit.h"
#include "VoRav/Composite/winThemes2.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/wpExceptions.h"
#include "platform/window/null/NullWindowBackend.h"
#include "tests/platform/theme/ThemeTestUtil.h"

namespace kav {
namespace {

using uxtheme::test::Pixel;

// A null window system at a screen resolution, an application, and the
// toolkit's styles; visual styles on or off.
class EditLook {
 public:
  EditLook(int32_t dpi, bool styled) {
    saved_ = std::getenv("KAV_VISUAL_STYLES") ? std::getenv("KAV_VISUAL_STYLES") : "";
    had_ = std::getenv("KAV_VISUAL_STYLES") != nullptr;
    if (styled) unsetenv("KAV_VISUAL_STYLES");
    else setenv("KAV_VISUAL_STYLES", "classic", 1);
    struct TDpi : win::TNullWindowBackend {
      int32_t dpi;
      void ScreenDpi(int32_t& x, int32_t& y) override { x = y = dpi; }
    };
    auto backend = std::make_unique<TDpi>();
    backend->dpi = dpi;
    win::InitWindowSystem(std::move(backend));
    app = Ref<TVxApplication>::Adopt(CreateApplication());
    app->Initialize();
    InitWinFrameControls();
  }
  ~EditLook() {
    FinalizeWinFrameControls();
    FinalizeThemeServices();
    app->Finalize();
    app = nullptr;
    win::DoneWindowSystem();
    if (had_) setenv("KAV_VISUAL_STYLES", saved_.c_str(), 1);
    else unsetenv("KAV_VISUAL_STYLES");
  }
  Ref<TVxApplication> app;

 private:
  std::string saved_;
  bool had_ = false;
};

TEST(FrameEditLayout, PartsFollowTheButtonKind) {
  Ref<TControlStyles> styles = MakeRef<TControlStyles>();
  Ref<TFrameEditTheme> t = MakeRef<TFrameEditTheme>(styles.get(), false);
  EXPECT_EQ(styles->FindTheme<TFrameEditTheme>(), nullptr) << "not attached unless asked";
  TEditLayout l;
  t->Layout(l, TSize{100, 24}, ebNone);
  EXPECT_EQ(l.ButtonCount, 1);
  EXPECT_EQ(l.Frame.Rect, (TRect{0, 0, 100, 24}));
  EXPECT_EQ(l.Frame.Value1, 500);
  EXPECT_EQ(l.Frame.Value2, 300);
  EXPECT_EQ(l.TextRect, (TRect{5, 4, 95, 20}));
  EXPECT_EQ(l.InnerRect, (TRect{2, 2, 98, 22}));
  // One button: inner height 20 - 2 wide, at the inner rectangle's right.
  t->Layout(l, TSize{100, 24}, ebDropDown);
  EXPECT_EQ(l.ButtonCount, 2);
  EXPECT_EQ(l.Button1.Rect, (TRect{80, 2, 98, 22}));
  EXPECT_EQ(l.Button1.Value1, 500);
  EXPECT_EQ(l.TextRect, (TRect{5, 4, 77, 20}));
  EXPECT_EQ(l.InnerRect, (TRect{2, 2, 80, 22}));
  // Two spin buttons split at half the height, rounded toward zero.
  t->Layout(l, TSize{100, 25}, ebSpin);
  EXPECT_EQ(l.ButtonCount, 3);
  EXPECT_EQ(l.Button1.Rect, (TRect{79, 2, 98, 12}));
  EXPECT_EQ(l.Button2.Rect, (TRect{79, 12, 98, 23}));
  EXPECT_EQ(l.Button2.Value2, 300);
  // Kinds past 2 have no button; a frame narrower than its button gives
  // the button the whole inner width.
  t->Layout(l, TSize{100, 24}, 3);
  EXPECT_EQ(l.ButtonCount, 1);
  t->Layout(l, TSize{12, 30}, ebDropDown);
  EXPECT_EQ(l.Button1.Rect, (TRect{2, 2, 10, 28}));
  EXPECT_EQ(l.InnerRect.Width(), 0);

  // The size for a text: the text rectangle comes out exactly that size.
  for (int32_t kind : {0, 1, 2}) {
    for (TSize text : {TSize{0, 0}, TSize{60, 16}, TSize{3, 40}}) {
      const TSize s = t->SizeForText(text.cx, text.cy, kind);
      t->Layout(l, s, kind);
      EXPECT_EQ(l.TextRect.Width(), text.cx) << kind;
      EXPECT_EQ(l.TextRect.Height(), text.cy) << kind;
    }
  }
  EXPECT_EQ(t->SizeForText(60, 16, ebNone), (TSize{70, 24}));
  EXPECT_EQ(t->SizeForText(60, 16, ebDropDown), (TSize{88, 24}));
}

TEST(FrameEditPainter, KeysNameSizeAndFlagsAndEachPartKeepsItsPicture) {
  EditLook look(96, false);
  Ref<TControlStyles> styles = MakeRef<TControlStyles>();
  styles->Assign(DefaultWinControlStyles());
  Ref<TFrameEditTheme> t = MakeRef<TWinFrameEditTheme>(styles.get(), true);
  EXPECT_EQ(styles->FindTheme<TFrameEditTheme>(), t.get());
  TEditPartRequest frame{epFrame, TSize{80, 22}, esFocused};
  EXPECT_EQ(t->PartKey(frame), u"DefEditTh:80,22,TT");
  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esDisabled}), u"DefEditTh:80,22,FF");
  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esReadOnly}), u"DefEditTh:80,22,FF");
  EXPECT_EQ(t->PartKey({epSpinUp, TSize{16, 9}, esPressed}), u"DefEditTh:16,9,TT");
  EXPECT_EQ(t->PartKey({epSpinUp, TSize{16, 9}, esHot}), u"DefEditTh:16,9,TF");
  // A width or height below 1 draws nothing.
  EXPECT_EQ(t->DrawPart({epFrame, TSize{0, 22}, esNormal}), nullptr);
  EXPECT_EQ(t->DrawPart({epFrame, TSize{80, -1}, esNormal}), nullptr);
  EXPECT_EQ(t->DrawCount(), 0);
  // Same key: the last picture again; a frame and a button of the same
  // key each keep their own.
  TImage* a = t->DrawPart(frame);
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Width(), 80);
  EXPECT_EQ(t->DrawPart(frame), a);
  TImage* button = t->DrawPart({epDropDown, TSize{80, 22}, esPressed});
  EXPECT_NE(button, a);
  EXPECT_EQ(t->DrawPart(frame), a);
  EXPECT_EQ(t->DrawCount(), 2);
  // Hot and normal look alike in the classic look: one picture.
  t->DrawPart({epDropDown, TSize{80, 22}, esNormal});
  t->DrawPart({epDropDown, TSize{80, 22}, esHot});
  EXPECT_EQ(t->DrawCount(), 3);
  // The styles of the toolkit get one visual-style painter at start-up.
  EXPECT_NE(dynamic_cast<TWinFrameEditTheme*>(DefaultWinControlStyles()->FindTheme<TFrameEditTheme>()), nullptr);
}

TEST(FrameEditPainter, TheVisualStyleMovesButtonsOntoTheBorderAndBlendsStates) {
  EditLook look(96, true);
  ASSERT_TRUE(EditThemesEnabled());
  Ref<TControlStyles> styles = MakeRef<TControlStyles>();
  styles->Assign(DefaultWinControlStyles());
  Ref<TWinFrameEditTheme> t = MakeRef<TWinFrameEditTheme>(styles.get(), false);
  TEditLayout l;
  t->Layout(l, TSize{100, 24}, ebDropDown);
  EXPECT_EQ(l.Button1.Rect, (TRect{80, 1, 99, 23}));
  EXPECT_EQ(l.TextRect, (TRect{5, 4, 77, 20})) << "the text keeps the classic place";
  t->Layout(l, TSize{100, 24}, ebSpin);
  EXPECT_EQ(l.Button1.Rect, (TRect{80, 1, 99, 12}));
  EXPECT_EQ(l.Button2.Rect, (TRect{80, 12, 99, 23}));
  EXPECT_EQ(t->SizeForText(60, 16, ebSpin), (TSize{88, 24}));

  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esHot}), u"WinEditTh:80,22,2,TF");
  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esHot, esNormal, 128}), u"WinEditTh:80,22,32786,TF");
  // Weight 0 or equal states: the state alone; 255: the other state alone.
  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esHot, esHot, 128}), u"WinEditTh:80,22,2,TF");
  EXPECT_EQ(t->PartKey({epFrame, TSize{80, 22}, esHot, esNormal, 255}), u"WinEditTh:80,22,1,TF");

  auto centre = [&](const TEditPartRequest& r) {
    TImage* i = t->DrawPart(r);
    EXPECT_NE(i, nullptr);
    Ref<TBitmap> b = i->GetBitmap();
    auto* s = dynamic_cast<TSysBitmap*>(b.get());
    return Pixel(s, 0, r.Size.cy / 2);  // the left border, halfway down
  };
  const TColor32 normal = centre({epFrame, TSize{40, 20}, esNormal});
  const TColor32 hot = centre({epFrame, TSize{40, 20}, esHot});
  const TColor32 half = centre({epFrame, TSize{40, 20}, esHot, esNormal, 128});
  ASSERT_NE(normal, hot);
  for (int sh = 0; sh < 24; sh += 8) {
    const int32_t a = int32_t((normal >> sh) & 0xFF), b = int32_t((hot >> sh) & 0xFF), m = int32_t((half >> sh) & 0xFF);
    EXPECT_LE(std::abs(m - (a * 128 + b * 127 + 127) / 255), 1) << sh;
  }
  EXPECT_EQ(centre({epFrame, TSize{40, 20}, esHot, esNormal, 255}), normal);
}

TSize SizeOf(const TRect& r) { return TSize{r.Width(), r.Height()}; }

// Every state of the three kinds in one look at one scale.
Ref<TSysBitmap> Sheet(int32_t percent, bool styled) {
  const double s = percent / 100.0;
  EditLook look(int32_t(std::lround(96 * s)), styled);
  Ref<TControlStyles> styles = MakeRef<TControlStyles>();
  styles->Assign(DefaultWinControlStyles());
  styles->ScaleX = styles->ScaleY = s;
  Ref<TWinFrameEditTheme> t = MakeRef<TWinFrameEditTheme>(styles.get(), false);
  // Columns: normal, hot (the frame and the first button), focused,
  // focused with the first button pressed, disabled, read-only, and a
  // blend halfway from normal to hot.
  struct TColumn {
    int32_t frame, button1, button2, from, weight;
  };
  const TColumn columns[] = {{1, 1, 1, 0, 0}, {2, 2, 1, 0, 0}, {5, 1, 1, 0, 0}, {5, 3, 1, 0, 0},
                             {4, 4, 4, 0, 0}, {6, 1, 1, 0, 0}, {2, 2, 1, 1, 128}};
  const int32_t cw = int32_t(std::lround(72 * s)), ch = int32_t(std::lround(22 * s));
  const int32_t gap = int32_t(std::lround(6 * s));
  const int32_t w = gap + 7 * (cw + gap), h = gap + 3 * (ch + gap);
  Ref<TSysBitmap> out = uxtheme::test::NewBitmap32(w, h, ColorRGBA(255, 255, 255, 255));
  auto over = [&](TImage* image, int32_t x0, int32_t y0) {
    if (!image) return;
    Ref<TBitmap> b = image->GetBitmap();
    auto* src = dynamic_cast<TSysBitmap*>(b.get());
    ASSERT_NE(src, nullptr);
    for (int32_t y = 0; y < src->Height(); ++y)
      for (int32_t x = 0; x < src->Width(); ++x) {
        const TColor32 c = Pixel(src, x, y), d = Pixel(out.get(), x0 + x, y0 + y);
        const uint32_t a = src->BytesPerPixel() == 4 ? c >> 24 : 255;
        uint32_t r = 0xFF000000u;
        for (int sh = 0; sh < 24; sh += 8)
          r |= ((((c >> sh) & 0xFF) * a + ((d >> sh) & 0xFF) * (255 - a) + 127) / 255) << sh;
        out->FillRect(TRect{x0 + x, y0 + y, x0 + x + 1, y0 + y + 1}, r);
      }
  };
  for (int32_t kind = 0; kind < 3; ++kind)
    for (int32_t c = 0; c < 7; ++c) {
      const TColumn& col = columns[c];
      const int32_t x0 = gap + c * (cw + gap), y0 = gap + kind * (ch + gap);
      TEditLayout l;
      t->Layout(l, TSize{cw, ch}, kind);
      over(t->DrawPart({epFrame, SizeOf(l.Frame.Rect), col.frame, col.from, col.weight}), x0, y0);
      const int32_t p1 = kind == ebDropDown ? epDropDown : epSpinUp;
      const int32_t from1 = col.from ? 1 : 0;
      if (kind >= 1)
        over(t->DrawPart({p1, SizeOf(l.Button1.Rect), col.button1, from1, col.weight}), x0 + l.Button1.Rect.Left,
             y0 + l.Button1.Rect.Top);
      if (kind == 2)
        over(t->DrawPart({epSpinDown, SizeOf(l.Button2.Rect), col.button2}), x0 + l.Button2.Rect.Left,
             y0 + l.Button2.Rect.Top);
    }
  return out;
}

TEST(FrameEditGolden, EveryStateInBothLooksAt100And150Percent) {
  for (int32_t percent : {100, 150})
    for (bool styled : {false, true}) {
      Ref<TSysBitmap> sheet = Sheet(percent, styled);
      test::CheckGoldenSheet(sheet.get(), std::string("edit_frame_") + (styled ? "styled_" : "classic_") +
                                              std::to_string(percent) + ".png");
    }
}

}  // namespace
}  // namespace kav
