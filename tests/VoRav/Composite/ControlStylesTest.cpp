// Style sets loaded from the system, brushes, attached control themes, the
// focus helpers and the start-up timing values.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "VoRav/Composite/winControlStyles.h"
#include "tests/platform/window/WinTestUtil.h"

namespace kav {
namespace {

class TRecordingCanvas : public TBrushCanvas {
 public:
  struct TFill {
    TRect rect;
    uint32_t color;
  };
  std::vector<TFill> fills;
  void FillRect(const TRect& rect, uint32_t color) override { fills.push_back({rect, color}); }
};

class TDpiBackend : public win::TNullWindowBackend {
 public:
  void ScreenDpi(int32_t& x, int32_t& y) override { x = y = 144; }
};

TEST(KeyboardTiming, SettingsGiveDelaysAndIntervals) {
  EXPECT_EQ(KeyRepeatDelayFromSetting(1), 500);
  EXPECT_EQ(KeyRepeatDelayFromSetting(0), 250);
  EXPECT_EQ(KeyRepeatDelayFromSetting(3), 1000);
  EXPECT_EQ(KeyRepeatIntervalFromSetting(15), 224);
  EXPECT_EQ(KeyRepeatIntervalFromSetting(31), 32);
  EXPECT_EQ(KeyRepeatIntervalFromSetting(0), 404);

  // A failed query leaves its value as it was; the window layer's answers
  // are read otherwise.
  KeyRepeatDelay = 111;
  KeyRepeatInterval = 222;
  ReadKeyboardTiming([](uint32_t, int32_t*) { return false; });
  EXPECT_EQ(KeyRepeatDelay, 111);
  EXPECT_EQ(KeyRepeatInterval, 222);
  ReadKeyboardTiming([](uint32_t action, int32_t* v) {
    *v = action == win::SPI_GETKEYBOARDDELAY ? 1 : 15;
    return true;
  });
  EXPECT_EQ(KeyRepeatDelay, 500);
  EXPECT_EQ(KeyRepeatInterval, 224);
  ReadKeyboardTiming();
  EXPECT_EQ(KeyRepeatDelay, 500);   // the layer's delay setting 1
  EXPECT_EQ(KeyRepeatInterval, 32);  // and speed 31
  EXPECT_EQ(CaretBlinkTime, int32_t(win::GetCaretBlinkTime()));
}

TEST(ControlStyles, DefaultsOfThePlainStyleSet) {
  Ref<TControlStyles> s = MakeRef<TControlStyles>();
  EXPECT_EQ(s->ScaleX, 1.0);
  EXPECT_EQ(s->BorderColor, ColorRGBA(127, 157, 185, 255));
  EXPECT_EQ(s->InfoBackground, ColorRGBA(255, 255, 225, 255));
  EXPECT_EQ(s->MixedFace, ColorRGBA(255, 255, 255, 255));
  EXPECT_EQ(BrushColor(s->FaceBrush.get()), kTransparentColor);  // no brush: transparent
}

TEST(ControlStyles, SystemValuesAtTheScreenResolution) {
  win::InitWindowSystem(std::make_unique<TDpiBackend>());
  Ref<TWinControlStyles> s = MakeRef<TWinControlStyles>();
  EXPECT_EQ(s->ScaleX, 1.5);
  EXPECT_EQ(s->ScaleY, 1.5);
  EXPECT_EQ(s->FaceColor, ColorRGBA(240, 240, 240, 255));
  EXPECT_EQ(s->WindowColor, ColorRGBA(255, 255, 255, 255));
  EXPECT_EQ(s->InfoBackground, ColorRGBA(255, 255, 225, 255));
  EXPECT_EQ(s->MixedFace, ColorLerp(s->FaceColor, s->WindowColor, 176));
  EXPECT_EQ(s->HighlightColor, ColorFromColorRef(win::GetSysColor(win::COLOR_HIGHLIGHT), 255));
  EXPECT_EQ(s->SelectionFont.Color1, ColorToRGBTriple(win::GetSysColor(win::COLOR_HIGHLIGHTTEXT)));
  EXPECT_EQ(s->NormalFont.Color2, ColorToRGBTriple(win::GetSysColor(win::COLOR_WINDOW)));
  EXPECT_EQ(s->ControlFont.Mode, 0);
  EXPECT_EQ(s->VScrollArrow, (TSize{26, 26}));
  EXPECT_EQ(s->HThumb, 26);
  ASSERT_TRUE(s->FaceBrush);
  EXPECT_EQ(s->FaceBrush->GetColor(), s->FaceColor);
  // The dotted pattern: frame colour where x + y is odd, transparent where even.
  ASSERT_TRUE(s->DottedPattern);
  EXPECT_EQ(s->DottedPattern->Width(), 32);
  EXPECT_EQ(s->DottedPattern->PixelAddress(0, 0)[3], 0);
  EXPECT_EQ(s->DottedPattern->PixelAddress(3, 5)[3], 0);
  EXPECT_EQ(s->DottedPattern->PixelAddress(1, 0)[3], 255);
  EXPECT_EQ(s->DottedPattern->PixelAddress(31, 30)[2], ColorRed(s->FrameColor));
  s = nullptr;
  win::DoneWindowSystem();
}

TEST(ControlStyles, AssignSharesTheBrushAndCopiesThePattern) {
  Ref<TWinControlStyles> a = MakeRef<TWinControlStyles>();
  Ref<TControlStyles> b = MakeRef<TControlStyles>();
  a->ScaleX = 2.0;
  a->NormalFont.Size = 12;
  b->Assign(a.get());
  EXPECT_EQ(b->ScaleX, 2.0);
  EXPECT_EQ(b->NormalFont.Size, 12.0f);
  EXPECT_EQ(b->FaceColor, a->FaceColor);
  EXPECT_EQ(b->FaceBrush.get(), a->FaceBrush.get());
  ASSERT_TRUE(b->DottedPattern);
  EXPECT_NE(b->DottedPattern.get(), a->DottedPattern.get());
  for (int32_t y = 0; y < 32; ++y)
    EXPECT_EQ(0, std::memcmp(a->DottedPattern->Row(y), b->DottedPattern->Row(y), 32 * 4));
  b->Assign(nullptr);
  b->Assign(b.get());
  EXPECT_EQ(b->ScaleX, 2.0);
}

TEST(ControlStyles, BrushesFillWithTheirColourInsideTheClip) {
  Ref<TSysColorBrush> brush = MakeRef<TSysColorBrush>(win::COLOR_INFOBK);
  EXPECT_EQ(brush->GetColor(), ColorRGBA(255, 255, 225, 255));
  TRecordingCanvas canvas;
  brush->Paint(&canvas, TRect{1, 2, 30, 40});
  brush->PaintClipped(&canvas, TRect{0, 0, 20, 20}, TRect{10, 5, 50, 50});
  brush->PaintClipped(&canvas, TRect{0, 0, 20, 20}, TRect{20, 0, 50, 50});  // touching only: nothing
  brush->Paint(nullptr, TRect{0, 0, 5, 5});
  ASSERT_EQ(canvas.fills.size(), 2u);
  EXPECT_EQ(canvas.fills[0].rect, (TRect{1, 2, 30, 40}));
  EXPECT_EQ(canvas.fills[1].rect, (TRect{10, 5, 20, 20}));
  EXPECT_EQ(canvas.fills[1].color, ColorRGBA(255, 255, 225, 255));
}

class TCountedTheme : public TFrameControlTheme {
 public:
  TCountedTheme(TControlStyles* s, int* disposed) : TFrameControlTheme(s), disposed_(disposed) {}

 protected:
  void Dispose() override {
    ++*disposed_;
    TFrameControlTheme::Dispose();
  }

 private:
  int* disposed_;
};
class TOtherTheme : public TFrameControlTheme {
 public:
  using TFrameControlTheme::TFrameControlTheme;
};

TEST(ControlStyles, AttachedThemesLiveWithTheirStyleSet) {
  int disposed = 0;
  Ref<TControlStyles> s = MakeRef<TControlStyles>();
  EXPECT_EQ(s->FindTheme<TFrameControlTheme>(), nullptr);
  {
    Ref<TCountedTheme> t = MakeRef<TCountedTheme>(s.get(), &disposed);
    EXPECT_EQ(t->Styles(), s.get());
    EXPECT_EQ(s->FindTheme<TCountedTheme>(), t.get());
    EXPECT_EQ(s->FindTheme<TFrameControlTheme>(), t.get());
    EXPECT_EQ(s->FindTheme<TOtherTheme>(), nullptr);
  }
  EXPECT_EQ(disposed, 0);  // the style set keeps it
  EXPECT_EQ(s->AttachedThemes()->Count(), 1);
  s = nullptr;
  EXPECT_EQ(disposed, 1);
}

class TPlainRoot : public TFocusRoot {
 public:
  TList list;
  TList& AttachedObjects() override { return list; }
  ~TPlainRoot() override { list.FreeAll(); }
};

class TWindowRoot : public TWinHandleFocusRoot {
 public:
  TList list;
  win::HWND window = 0;
  TDelegate<void()> callback;
  TList& AttachedObjects() override { return list; }
  win::HWND RootWindow() override { return window; }
  void SetUIStateCallback(TDelegate<void()> cb) override { callback = cb; }
  ~TWindowRoot() override { list.FreeAll(); }
};

class FocusHelperTest : public win::WindowTest {
 protected:
  void SetUp() override {
    win::WindowTest::SetUp();
    InitWinFrameControls();
  }
  void TearDown() override {
    FinalizeWinFrameControls();
    win::WindowTest::TearDown();
  }
};

TEST_F(FocusHelperTest, OneHelperPerRootOfTheClassTheHookChooses) {
  EXPECT_EQ(AttachFocusHelper(nullptr), nullptr);
  TPlainRoot plain;
  TFocusHelper* h = AttachFocusHelper(&plain);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(dynamic_cast<TWinFocusHelper*>(h), nullptr);
  EXPECT_EQ(AttachFocusHelper(&plain), h);
  EXPECT_EQ(plain.list.Count(), 1);
  EXPECT_TRUE(h->ShowFocusRect());

  TWindowRoot root;
  auto* w = dynamic_cast<TWinFocusHelper*>(AttachFocusHelper(&root));
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(bool(root.callback));
  // No window: cues shown.
  EXPECT_TRUE(w->ShowFocusRect());
  // The window's keyboard-cue state decides.
  win::LRESULT answer = 0;
  recorder.Hook = [&](win::HWND, uint32_t m, win::WPARAM, win::LPARAM, win::LRESULT& result) {
    if (m != 0x129) return false;
    result = answer;
    return true;
  };
  root.window = MakeTop();
  EXPECT_TRUE(w->ShowFocusRect());
  answer = 1;
  EXPECT_FALSE(w->ShowFocusRect());
  answer = 2;  // other bits do not hide the focus
  EXPECT_TRUE(w->ShowFocusRect());

  // A UI-state change raises event 1 on the helper.
  std::vector<int32_t> codes;
  struct TListener {
    std::vector<int32_t>* codes;
    void On(TFocusHelper*, int32_t code) { codes->push_back(code); }
  } listener{&codes};
  w->AddListener(TFocusHelper::TListener::Bind<&TListener::On>(&listener));
  root.callback();
  EXPECT_EQ(codes, (std::vector<int32_t>{1}));
  w->RemoveListener(TFocusHelper::TListener::Bind<&TListener::On>(&listener));
  root.callback();
  EXPECT_EQ(codes.size(), 1u);

  // After finalisation the plain helper is made again.
  FinalizeWinFrameControls();
  TWindowRoot other;
  EXPECT_EQ(dynamic_cast<TWinFocusHelper*>(AttachFocusHelper(&other)), nullptr);
  InitWinFrameControls();
  ASSERT_NE(DefaultWinControlStyles(), nullptr);
}

TEST_F(FocusHelperTest, AFreedHelperLeavesNoCallbackBehind) {
  TWindowRoot root;
  AttachFocusHelper(&root);
  ASSERT_TRUE(bool(root.callback));
  root.list.FreeAll();
  EXPECT_FALSE(bool(root.callback));
}

}  // namespace
}  // namespace kav
