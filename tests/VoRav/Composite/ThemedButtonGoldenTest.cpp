// Every state of the themed push button and speed button on the window
// surface, in the classic look and the program's visual style, at 100% and
// 150%, against reference pictures made by this code and checked by eye.
// KAV_UPDATE_GOLDENS=1 rewrites them; KAV_DUMP_DIR gets a copy of each sheet.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/ThemedButtonTestUtil.h"
#include "tests/VoRav/Composite/GoldenSheets.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

int32_t Scaled(int32_t v, double s) { return int32_t(std::lround(v * s)); }

class ThemedButtonGoldenTest : public ThemedButtonFixture {
 protected:
  static constexpr int32_t kColumns = 5, kTileW = 104, kTileH = 38;

  // One tile: a face-coloured root with what `build` puts on it, painted.
  Ref<TSysBitmap> Tile(double s, const std::function<void()>& build) {
    const int32_t w = Scaled(kTileW, s), h = Scaled(kTileH, s);
    MakeRoot(w, h);
    AddProbe(root.get(), "face", 0, 0, w, h, DefaultControlStyles()->FaceColor | 0xFF000000u);
    build();
    frame->RecalcInvalidRegion();
    Ref<TSysBitmap> out = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) out->FillRect(TRect{x, y, x + 1, y + 1}, 0xFF000000u | frame->Surface()->PixelAt(x, y));
    root = nullptr;
    EmptyPendingReleaseList();
    return out;
  }

  TThemedFrameButton* Push(double s) {
    TThemedFrameButton* b = Button(root.get(), u"Button", Scaled(6, s), Scaled(5, s));
    b->SetName("b");
    return b;
  }
  TThemedSpeedButton* Tool(double s, bool drop_down) {
    TThemedSpeedButton* b = Speed(root.get(), u"", Scaled(6, s), Scaled(8, s));
    b->DropDown = drop_down;
    b->WidthAutoSize = true;
    b->GetCaption()->SetCaption(drop_down ? u"Menu" : u"Tool");
    return b;
  }
  // Root coordinates of a point inside the control.
  void Over(TFrameControl* c, int32_t dx = 4, int32_t dy = 4) {
    const TPoint p = c->GetPosition();
    Mouse(p.X + dx, p.Y + dy, kMouseMove);
  }
  void Down(TFrameControl* c, int32_t dx = 4, int32_t dy = 4) {
    Over(c, dx, dy);
    const TPoint p = c->GetPosition();
    Mouse(p.X + dx, p.Y + dy, kMouseDown, kMouseLeft);
  }

  // The sheet of every state in the current look at scale s.
  Ref<TSysBitmap> Sheet(double s) {
    Ref<TControlStyles> styles = MakeRef<TControlStyles>();
    styles->Assign(DefaultWinControlStyles());
    styles->ControlFont.Size = float(styles->ControlFont.Size * s);
    styles->ScaleX = styles->ScaleY = s;
    SetDefaultControlStyles(styles.get());
    std::vector<std::function<void()>> tiles = {
        // Push button: normal, hot, pressed, held down, default, focused,
        // focused default, disabled, and the default button at the top of
        // its pulse (the classic look does not pulse).
        [&] { Push(s); },
        [&] { Over(Push(s)); },
        [&] { Down(Push(s)); },
        [&] { Push(s)->SetDown(true); },
        [&] {
          TThemedFrameButton* b = Push(s);
          b->Handler()->SetDefault(b);
        },
        [&] {
          EnterClicksFocusedButton = false;
          Push(s)->Focus();
          EnterClicksFocusedButton = true;
        },
        [&] { Push(s)->Focus(); },
        [&] { Push(s)->SetEnabled(false); },
        [&] {
          TThemedFrameButton* b = Push(s);
          b->Handler()->SetDefault(b);
          Tick(30);   // the fade to the default picture ends, the pulse starts
          Tick(400);  // with the tile's 600 ms below: the top of the pulse
        },
        [] {},
        // Speed button: normal, hot, pressed, checked, checked under the
        // pointer, checked and pressed, disabled, disabled and checked.
        [&] { Tool(s, false); },
        [&] { Over(Tool(s, false)); },
        [&] { Down(Tool(s, false)); },
        [&] { Tool(s, false)->SetDown(true); },
        [&] {
          TThemedSpeedButton* b = Tool(s, false);
          b->SetDown(true);
          Over(b);
        },
        [&] {
          TThemedSpeedButton* b = Tool(s, false);
          b->SetDown(true);
          Down(b);
        },
        [&] { Tool(s, false)->SetEnabled(false); },
        [&] {
          TThemedSpeedButton* b = Tool(s, false);
          b->SetDown(true);
          b->SetEnabled(false);
        },
        [] {},
        [] {},
        // With the drop-down arrow: normal, hot, pressed, checked, disabled.
        [&] { Tool(s, true); },
        [&] { Over(Tool(s, true)); },
        [&] { Down(Tool(s, true)); },
        [&] { Tool(s, true)->SetDown(true); },
        [&] { Tool(s, true)->SetEnabled(false); },
    };
    const int32_t tw = Scaled(kTileW, s), th = Scaled(kTileH, s);
    const int32_t rows = int32_t((tiles.size() + kColumns - 1) / kColumns);
    Ref<TSysBitmap> sheet = CreateSysBitmap(tw * kColumns, th * rows, StdFormats().A8R8G8B8);
    sheet->FillRect(TRect{0, 0, sheet->Width(), sheet->Height()}, 0xFFFFFFFFu);
    for (size_t i = 0; i < tiles.size(); ++i) {
      // The transitions of the style end before the picture is taken.
      Ref<TSysBitmap> t = Tile(s, [&] {
        tiles[i]();
        Tick(600);
      });
      const int32_t x0 = int32_t(i % kColumns) * tw, y0 = int32_t(i / kColumns) * th;
      sheet->CopyRect(TRect{x0, y0, x0 + tw, y0 + th}, t.get(), 0, TPoint{0, 0});
    }
    SetDefaultControlStyles(DefaultWinControlStyles());
    return sheet;
  }
};

}  // namespace

TEST_F(ThemedButtonGoldenTest, EveryStateInBothLooksAt100And150Percent) {
  for (int32_t percent : {100, 150}) {
    for (bool classic : {true, false}) {
      UseClassic(classic);
      Ref<TSysBitmap> sheet = Sheet(percent / 100.0);
      test::CheckGoldenSheet(sheet.get(), std::string("themed_buttons_") + (classic ? "classic_" : "styled_") +
                                              std::to_string(percent) + ".png");
    }
  }
}
