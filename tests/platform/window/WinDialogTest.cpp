#include <cstring>

#include "WinTestUtil.h"
#include "platform/window/WinDialog.h"
#include "platform/window/WinTerminate.h"

namespace kav::win {

namespace {

// Writes templates byte by byte, as a program would lay one out in memory.
class TTemplateBytes {
 public:
  std::vector<uint8_t> Bytes;
  void Word(uint16_t v) {
    Bytes.push_back(uint8_t(v));
    Bytes.push_back(uint8_t(v >> 8));
  }
  void Dword(uint32_t v) {
    Word(uint16_t(v));
    Word(uint16_t(v >> 16));
  }
  void String(const std::u16string& s) {
    for (char16_t c : s) Word(c);
    Word(0);
  }
  void Align() {
    while (Bytes.size() % 4) Bytes.push_back(0);
  }
  void Header(uint32_t style, uint16_t count, int16_t cx, int16_t cy, const std::u16string& caption) {
    Dword(style);
    Dword(0);
    Word(count);
    Word(0);
    Word(0);
    Word(uint16_t(cx));
    Word(uint16_t(cy));
    Word(0);  // no menu
    Word(0);  // the standard class
    String(caption);
    if (style & DS_SETFONT) {
      Word(8);
      String(u"MS Shell Dlg 2");
    }
  }
  void Item(uint32_t style, int16_t x, int16_t y, int16_t cx, int16_t cy, uint16_t id, const std::u16string& title) {
    Align();
    Dword(style);
    Dword(0);
    Word(uint16_t(x));
    Word(uint16_t(y));
    Word(uint16_t(cx));
    Word(uint16_t(cy));
    Word(id);
    Word(0xFFFF);
    Word(kDialogClassButton);
    String(title);
    Word(0);
  }
};

TTemplateBytes TwoButtons() {
  TTemplateBytes t;
  t.Header(0x94C809C5, 2, 150, 60, u"Print");
  t.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP, 7, 7, 50, 14, 1001, u"Print");
  t.Item(WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 7, 30, 50, 8, 0, u"Only Main Image");
  return t;
}

// A host that makes a plain window with one hidden child per item.
class TFakeHost : public TDialogHost {
 public:
  HWND Made = 0;
  int Destroyed = 0;
  HWND Enter = 0;
  HWND MadeOwner = HWND(-1);  // the owner the window is made with; -1: the dialog's
  HWND CreateDialogWindow(const TDialogTemplate& dialog, HWND owner) override {
    const TRect r = DialogUnitsToPixels(dialog, 0, 0, dialog.cx, dialog.cy);
    Made = CreateWindowEx(0, u"TestWindow", dialog.caption, WS_POPUP | WS_CAPTION, 0, 0, r.Width(), r.Height(),
                          MadeOwner == HWND(-1) ? owner : MadeOwner, 0, nullptr);
    for (const TDialogTemplateItem& item : dialog.items) {
      const HWND c = CreateWindowEx(0, u"TestWindow", item.title, WS_CHILD, item.x, item.y, item.cx, item.cy, Made, 0,
                                    nullptr);
      SetWindowLong(c, GWL_ID, item.id);
    }
    return Made;
  }
  void DestroyDialogWindow(HWND dialog) override {
    ++Destroyed;
    DestroyWindow(dialog);
  }
  HWND EnterButton(HWND) override { return Enter; }
};

class DialogTest : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    SetDialogHost(&host);
  }
  void TearDown() override {
    SetDialogHost(nullptr);
    WindowTest::TearDown();
  }
  intptr_t Run(const TTemplateBytes& t, HWND owner = 0) {
    return DialogBoxIndirectParamW(0, t.Bytes.data(), t.Bytes.size(), owner,
                                   TDlgProc::Bind<&DialogTest::DlgProc>(this), 77);
  }
  intptr_t DlgProc(HWND h, uint32_t m, WPARAM w, LPARAM l) {
    seen.push_back(m);
    if (m == WM_INITDIALOG) {
      init_param = l;
      owner_enabled_during = owner_ ? IsWindowEnabled(owner_) : true;
      if (on_init) on_init(h);
      return 1;
    }
    if (on_message) on_message(h, m);
    if (m == WM_COMMAND) {
      commands.push_back(int32_t(w & 0xFFFF));
      EndDialog(h, intptr_t(w & 0xFFFF));
      return 1;
    }
    return 0;
  }
  TFakeHost host;
  HWND owner_ = 0;
  std::vector<uint32_t> seen;
  std::vector<int32_t> commands;
  LPARAM init_param = 0;
  bool owner_enabled_during = true;
  std::function<void(HWND)> on_init;
  std::function<void(HWND, uint32_t)> on_message;
};

}  // namespace

TEST(DialogTemplate, ReadsTheHeaderTheFontAndEveryItem) {
  const TTemplateBytes t = TwoButtons();
  TDialogTemplate d;
  ASSERT_TRUE(ParseDialogTemplate(t.Bytes.data(), t.Bytes.size(), d));
  EXPECT_EQ(d.style, 0x94C809C5u);
  EXPECT_EQ(d.cx, 150);
  EXPECT_EQ(d.cy, 60);
  EXPECT_EQ(d.caption, u"Print");
  EXPECT_TRUE(d.has_font);
  EXPECT_EQ(d.point_size, 8);
  EXPECT_EQ(d.face, u"MS Shell Dlg 2");
  ASSERT_EQ(d.items.size(), 2u);
  EXPECT_EQ(d.items[0].id, 1001);
  EXPECT_EQ(d.items[0].class_name, u"BUTTON");
  EXPECT_EQ(d.items[0].title, u"Print");
  EXPECT_EQ(d.items[1].style & BS_TYPEMASK, uint32_t(BS_AUTOCHECKBOX));
  EXPECT_EQ(d.items[1].title, u"Only Main Image");
  EXPECT_EQ(d.items[1].cy, 8);
}

TEST(DialogTemplate, DamagedTemplatesAreRefused) {
  const TTemplateBytes t = TwoButtons();
  TDialogTemplate d;
  // Every cut short of the whole template is refused, never read past.
  for (size_t n = 0; n + 1 < t.Bytes.size(); ++n) {
    std::vector<uint8_t> cut(t.Bytes.begin(), t.Bytes.begin() + ptrdiff_t(n));
    EXPECT_FALSE(ParseDialogTemplate(cut.data(), cut.size(), d)) << n;
  }
  EXPECT_FALSE(ParseDialogTemplate(nullptr, 0, d));
  // More items than the bytes hold, or than any dialog has.
  TTemplateBytes many;
  many.Header(0, 60000, 10, 10, u"x");
  EXPECT_FALSE(ParseDialogTemplate(many.Bytes.data(), many.Bytes.size(), d));
  // A menu, or an unknown item class.
  TTemplateBytes menu;
  menu.Dword(0);
  menu.Dword(0);
  for (int i = 0; i < 5; ++i) menu.Word(0);
  menu.Word(0xFFFF);
  menu.Word(5);
  menu.Word(0);
  menu.String(u"");
  EXPECT_FALSE(ParseDialogTemplate(menu.Bytes.data(), menu.Bytes.size(), d));
  TTemplateBytes unknown;
  unknown.Header(0, 1, 10, 10, u"x");
  unknown.Align();
  unknown.Dword(0);
  unknown.Dword(0);
  for (int i = 0; i < 5; ++i) unknown.Word(0);
  unknown.Word(0xFFFF);
  unknown.Word(0x99);
  unknown.String(u"");
  unknown.Word(0);
  EXPECT_FALSE(ParseDialogTemplate(unknown.Bytes.data(), unknown.Bytes.size(), d));
}

TEST(DialogTemplate, DialogUnitsFollowTheFontAndTheScreen) {
  TDialogTemplate d;
  d.has_font = true;
  d.point_size = 8;
  const TRect r = DialogUnitsToPixels(d, 4, 8, 282, 86);  // at the null backend's 96 dpi
  EXPECT_EQ(r.Left, 6);
  EXPECT_EQ(r.Top, 13);
  EXPECT_EQ(r.Width(), 423);
  EXPECT_EQ(r.Height(), 140);
}

TEST_F(DialogTest, RunsModallyUntilEndDialogAndGivesItsResult) {
  owner_ = MakeTop();
  on_init = [](HWND h) { PostMessage(h, WM_KEYDOWN, VK_ESCAPE, 0); };
  const intptr_t result = Run(TwoButtons(), owner_);
  EXPECT_EQ(result, IDCANCEL);  // Esc cancels
  EXPECT_EQ(init_param, 77);
  EXPECT_FALSE(owner_enabled_during);
  EXPECT_TRUE(IsWindowEnabled(owner_));
  EXPECT_EQ(host.Destroyed, 1);
  EXPECT_FALSE(IsWindow(host.Made));
  // The dialog procedure heard its window go.
  EXPECT_NE(std::find(seen.begin(), seen.end(), uint32_t(WM_DESTROY)), seen.end());
  EXPECT_FALSE(EndDialog(host.Made, 1));  // no longer running
}

// The window system is told which window a dialog or a box stays above:
// the dialog's owner even when the host made its window under the hidden
// application window, the nearest visible one up an owner chain, and for a
// box the window it is for, else the active window.
TEST_F(DialogTest, DialogsAndBoxesStayAboveTheWindowTheyAreFor) {
  const HWND app = MakeTop(WS_OVERLAPPEDWINDOW);  // hidden, as the application's window
  owner_ = CreateWindowEx(0, u"TestWindow", u"main", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200, app,
                          kProgramInstance, nullptr);
  const HWND inside = CreateWindowEx(0, u"TestWindow", u"panel", WS_CHILD | WS_VISIBLE, 0, 0, 50, 50, owner_,
                                     kProgramInstance, nullptr);
  ASSERT_TRUE(backend->TopLevels.count(owner_));
  EXPECT_EQ(backend->TopLevels[owner_].owner, HWND(0));  // its owner is hidden
  host.MadeOwner = app;
  HWND dialog_owner = 0;
  on_init = [](HWND h) { PostMessage(h, WM_APP, 0, 0); };
  on_message = [&](HWND h, uint32_t m) {
    if (m != WM_APP) return;
    dialog_owner = backend->TopLevels.count(h) ? backend->TopLevels[h].owner : HWND(-1);
    MessageBox(0, u"over the active dialog", u"box", 0);
    MessageBox(inside, u"over the main window", u"box", 0);
    EndDialog(h, 5);
  };
  EXPECT_EQ(Run(TwoButtons(), owner_), 5);
  EXPECT_EQ(dialog_owner, owner_);
  ASSERT_EQ(backend->Boxes.size(), 2u);
  EXPECT_EQ(backend->Boxes[0].owner, host.Made);
  EXPECT_EQ(backend->Boxes[1].owner, owner_);
}

TEST_F(DialogTest, EnterClicksTheHostsButtonOrGivesIdOk) {
  on_init = [](HWND h) { PostMessage(h, WM_KEYDOWN, VK_RETURN, 0); };
  EXPECT_EQ(Run(TwoButtons()), IDOK);
  on_init = [this](HWND h) {
    host.Enter = GetDlgItem(h, 1001);
    PostMessage(h, WM_KEYDOWN, VK_RETURN, 0);
  };
  EXPECT_EQ(Run(TwoButtons()), 1001);
  // The close box cancels.
  on_init = [](HWND h) { PostMessage(h, WM_CLOSE, 0, 0); };
  EXPECT_EQ(Run(TwoButtons()), IDCANCEL);
}

TEST_F(DialogTest, ItemsAreFoundInCreationOrder) {
  // The fake host makes its children with the test class ("TestWindow").
  on_init = [](HWND h) {
    const HWND first = FindWindowExA(h, 0, "testwindow", nullptr);  // class names ignore case
    EXPECT_EQ(GetWindowText(first), u"Print");
    const HWND second = FindWindowExA(h, first, nullptr, nullptr);
    EXPECT_EQ(GetWindowText(second), u"Only Main Image");
    EXPECT_EQ(FindWindowExA(h, second, nullptr, nullptr), 0u);
    EXPECT_EQ(FindWindowExA(h, 0, nullptr, "Only Main Image"), second);
    EXPECT_EQ(FindWindowExA(h, 0, nullptr, "only main image"), 0u);  // titles do not
    EXPECT_EQ(GetDlgItem(h, 1001), first);
    EndDialog(h, 5);
  };
  EXPECT_EQ(Run(TwoButtons()), 5);
}

TEST_F(DialogTest, AQuitEndsTheDialogAndIsPostedAgain) {
  on_init = [](HWND) { PostQuitMessage(3); };
  EXPECT_EQ(Run(TwoButtons()), 0);
  TMsg m;
  ASSERT_FALSE(GetMessage(&m, 0, 0, 0));
  EXPECT_EQ(m.wParam, 3u);
}

TEST_F(DialogTest, ATerminationSignalEndsTheDialogAndTheLoopsAroundIt) {
  owner_ = MakeTop(WS_OVERLAPPEDWINDOW | WS_VISIBLE);
  on_init = [](HWND) { RequestTermination(); };
  EXPECT_EQ(Run(TwoButtons(), owner_), 0);
  EXPECT_EQ(host.Destroyed, 1);
  EXPECT_TRUE(IsWindowEnabled(owner_));
  TMsg m;
  EXPECT_FALSE(GetMessage(&m, 0, 0, 0));
  // A dialog opened afterwards ends at once too.
  on_init = nullptr;
  EXPECT_EQ(Run(TwoButtons(), owner_), 0);
  ResetTerminationForTests();
}

TEST_F(DialogTest, NoHostOrADamagedTemplateGivesMinusOne) {
  TTemplateBytes t = TwoButtons();
  t.Bytes.erase(t.Bytes.end() - 3, t.Bytes.end());
  EXPECT_EQ(Run(t), -1);
  SetDialogHost(nullptr);
  EXPECT_EQ(Run(TwoButtons()), -1);
  EXPECT_EQ(host.Made, 0u);
}

}  // namespace kav::win
