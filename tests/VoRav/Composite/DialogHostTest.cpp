#include <gtest/gtest.h>

#include "VoRav/Composite/vxFrameCaption.h"
#include "VoRav/Composite/vxStdFrameControls.h"
#include "VoRav/Composite/winDialogHost.h"
#include "VoRav/Composite/winFrameFormTree.h"
#include "VoRav/Composite/winThemedControls.h"
#include "tests/VoRav/Composite/CompositeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

// Print and the check box, one above the other; with `row`, side by side at
// the print dialog's places and sizes (its second row).
std::vector<uint8_t> PrintLikeTemplate(bool row = false) {
  std::vector<uint8_t> b;
  auto word = [&](uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
  };
  auto dword = [&](uint32_t v) {
    word(uint16_t(v));
    word(uint16_t(v >> 16));
  };
  auto str = [&](const std::u16string& s) {
    for (char16_t c : s) word(c);
    word(0);
  };
  auto item = [&](uint32_t style, int16_t x, int16_t y, uint16_t id, const std::u16string& text) {
    while (b.size() % 4) b.push_back(0);
    dword(style);
    dword(0);
    for (int16_t v : {x, y, int16_t(row ? 125 : 50), int16_t(row ? 25 : 14)}) word(uint16_t(v));
    word(id);
    word(0xFFFF);
    word(0x80);
    str(text);
    word(0);
  };
  dword(0x94C809C5);
  dword(0);
  word(2);
  for (int16_t v : {int16_t(0), int16_t(0), int16_t(row ? 282 : 150), int16_t(row ? 86 : 60)}) word(uint16_t(v));
  word(0);
  word(0);
  str(u"Print");
  word(8);
  str(u"MS Shell Dlg 2");
  item(0x50010000, row ? 12 : 7, row ? 49 : 7, 1001, u"Print");
  item(0x50010003, row ? 145 : 7, row ? 49 : 30, 0, u"Only Main Image");
  return b;
}

class DialogHostTest : public CompositeTest {
 protected:
  void SetUp() override {
    CompositeTest::SetUp();
    InitializeThemedControls();
  }
  void TearDown() override {
    Drain();
    FinalizeThemedControls();
    CompositeTest::TearDown();
  }
  intptr_t Run(bool row = false) {
    const std::vector<uint8_t> t = PrintLikeTemplate(row);
    return win::DialogBoxIndirectParamW(0, t.data(), t.size(), 0,
                                        win::TDlgProc::Bind<&DialogHostTest::Proc>(this), 0);
  }
  intptr_t Proc(win::HWND h, uint32_t m, win::WPARAM w, win::LPARAM l) {
    if (m == win::WM_INITDIALOG) {
      dialog = h;
      print = win::FindWindowExA(h, 0, "BUTTON", nullptr);
      box = win::FindWindowExA(h, print, "BUTTON", nullptr);
      win::SendMessage(box, win::BM_SETCHECK, win::BST_CHECKED, 0);
      win::PostMessage(h, win::WM_APP, 0, 0);
      return 1;
    }
    if (m == win::WM_APP) {
      if (on_shown) on_shown();
      // Input injected above is queued ahead of this: a dialog still open
      // after it ends here instead of waiting for ever.
      win::PostMessage(h, win::WM_APP + 1, 0, 0);
    }
    if (m == win::WM_APP + 1) win::EndDialog(h, -2);
    if (m == win::WM_COMMAND) {
      const int32_t id = int32_t(w & 0xFFFF);
      commands.push_back(id);
      if (id == 1001 && on_print) {
        std::function<void()> f = on_print;
        on_print = nullptr;
        f();
      }
      if (id != 0) {
        checked_at_end = win::SendMessage(box, win::BM_GETCHECK, 0, 0);
        win::EndDialog(h, id);
      }
      (void)l;
      return 1;
    }
    return 0;
  }
  // Clicks at the middle of an item's control through the window's input.
  void ClickItem(win::HWND item) {
    TFrameControl* c = DialogItemControl(item);
    ASSERT_NE(c, nullptr);
    TPoint p = c->GetPosition();
    p.X += c->PaintArea().Width() / 2;
    p.Y += c->PaintArea().Height() / 2;
    win::ClientToScreen(dialog, &p);
    win::InjectMouseMove(p.X, p.Y);
    win::InjectMouseButton(1, true, p.X, p.Y);
    win::InjectMouseButton(1, false, p.X, p.Y);
  }
  win::HWND dialog = 0, print = 0, box = 0;
  std::vector<int32_t> commands;
  win::LRESULT checked_at_end = -1;
  std::function<void()> on_shown;
  std::function<void()> on_print;  // runs (once) when Print is clicked
};

}  // namespace

TEST_F(DialogHostTest, TemplateItemsBecomeToolkitControlsThatSendCommands) {
  on_shown = [this] {
    EXPECT_TRUE(win::IsWindowVisible(dialog));
    // The items are the toolkit's controls, with the template's texts and places.
    auto* button = dynamic_cast<TFrameButton*>(DialogItemControl(print));
    auto* check = dynamic_cast<TFrameCheckBox*>(DialogItemControl(box));
    ASSERT_NE(button, nullptr);
    ASSERT_NE(check, nullptr);
    EXPECT_EQ(win::GetDlgCtrlID(print), 1001);
    EXPECT_EQ(check->State(), kCheckChecked);
    EXPECT_EQ(button->GetPosition().X, 11);  // 7 dialog units at 6 pixels a 4 units
    EXPECT_EQ(button->PaintArea().Width(), 75);
    // Placing the item window moves the control.
    win::SetWindowPos(print, 0, 20, 30, 120, 40, win::SWP_NOZORDER);
    EXPECT_EQ(button->GetPosition().X, 20);
    EXPECT_EQ(button->GetPosition().Y, 30);
    EXPECT_EQ(button->PaintArea().Width(), 120);
    win::SetWindowPos(print, 0, 11, 11, 75, 23, win::SWP_NOZORDER);
    // Queued clicks: the check box toggles and tells the dialog (id 0),
    // then the button's command ends the dialog.
    ClickItem(box);
    ClickItem(print);
  };
  EXPECT_EQ(Run(), 1001);
  EXPECT_EQ(commands, (std::vector<int32_t>{0, 1001}));
  EXPECT_EQ(checked_at_end, win::BST_UNCHECKED);
  EXPECT_FALSE(win::IsWindow(dialog));
  EXPECT_EQ(DialogItemControl(print), nullptr);
}

TEST_F(DialogHostTest, EnterClicksTheFocusedButtonAndEscCancels) {
  on_shown = [this] {
    win::SendMessage(print, win::WM_SETFOCUS, 0, 0);
    win::InjectKey(win::VK_RETURN, true);
    win::InjectKey(win::VK_RETURN, false);
  };
  EXPECT_EQ(Run(), 1001);
  commands.clear();
  on_shown = [] {
    win::InjectKey(win::VK_ESCAPE, true);
    win::InjectKey(win::VK_ESCAPE, false);
  };
  EXPECT_EQ(Run(), win::IDCANCEL);
  EXPECT_EQ(commands, (std::vector<int32_t>{win::IDCANCEL}));
}

// The first button has the focus; the check box's caption sits on the same
// line as a button's; a dialog that a click opens takes its first click.
TEST_F(DialogHostTest, FirstButtonFocusedCaptionsInLineAndANestedDialogTakesTheFirstClick) {
  intptr_t nested = 0;
  on_shown = [this] {
    auto* button = dynamic_cast<TFrameButton*>(DialogItemControl(print));
    auto* check = dynamic_cast<TFrameCheckBox*>(DialogItemControl(box));
    ASSERT_NE(button, nullptr);
    ASSERT_NE(check, nullptr);
    EXPECT_TRUE(button->Focused());
    EXPECT_FALSE(check->Focused());
    // Side by side, as in the print dialog: the texts share their baseline.
    auto baseline = [](TFrameControl* c, TFrameCaption* caption) {
      return c->GetPosition().Y + caption->GetPosition().Y + caption->Baseline();
    };
    EXPECT_NEAR(baseline(check, check->GetCaption()), baseline(button, button->GetCaption()), 1);
    auto* frame = static_cast<TWinFrame*>(button->Frame());
    static_cast<TRootFrame*>(button->GetRootControl()->Frame())->RecalcInvalidRegion();
    DumpSurface("dialog_row", frame->Surface());
    ClickItem(print);
  };
  on_print = [&] {
    on_shown = [this] { ClickItem(print); };
    nested = Run();
  };
  Run(true);
  EXPECT_EQ(nested, 1001);
}
