// A slide with a solid or gradient background says it is opaque, and the
// transitions that leave out what it hides draw the very pictures they
// draw for a slide that says nothing.
#include <gtest/gtest.h>

#include "KavLib2/3DEngine/Transitions/Dev3DEffects2.h"
#include "ShowFolderTestUtil.h"
#include "tools/transitionsheet/TransitionConfigs.h"

namespace kav {
namespace {

using test::KeyPoint;
using test::Obj;
using test::THostSlide;
using test::TShowFolder;

// Draws another item without its hint.
struct TSilent : TDrawItem {
  explicit TSilent(TDrawItem* item) : Item(item) {}
  void Draw(TDeviceDrawer* d) override { Item->Draw(d); }
  TDrawItem* Item;
};

Ref<TKavFilter> Transition(int32_t kind, std::vector<int32_t> flags, std::vector<int32_t> ints,
                           std::vector<float> floats, double time) {
  auto p = MakeRef<TKavFilter>();
  p->Effect = transsheet::Effect(kind, std::move(flags), std::move(ints), std::move(floats));
  p->Duration = 1000;
  p->EdgeFraction = 0.1f;
  p->Time = time;
  return p;
}

struct TTwoSlides {
  // Outgoing: a gradient background with a box; incoming: a solid
  // background under a half-transparent box.
  THostSlide From{[](TShowFolder&) {},
                  Obj("a", "Box", "Size=600,300\nFitMode=None\nColor1=0,0,255\n" + KeyPoint("Time=0\n"))};
  THostSlide To{[](TShowFolder&) {},
                Obj("b", "Box", "Size=900,500\nFitMode=None\nColor1=255,0,0\n" + KeyPoint("Time=0\nOpacity=50\n"))};
  TFrameDumper Dumper{240, 136};
  TTwoSlides() {
    From.Slide->ForegroundOnly = false;
    From.Slide->SetBackStyle(1);
    From.Slide->SetBackColor1(0x2080C0);
    From.Slide->SetBackColor2(0xE0A010);
    To.Slide->ForegroundOnly = false;
    To.Slide->SetBackColor1(0x30A050);
    Dumper.Drawer()->SetView(TFloatRect{0, 0, 1920, 1080}, FloatPoint(1920, 1080), true,
                             Vector3(960, 540, -935.3074360871938f));
  }
  std::vector<uint32_t> Frame(TKavFilter* params, bool hint, bool* claimed = nullptr) {
    TSilent from(From.Slide.get()), to(To.Slide.get());
    TDrawItem* a = hint ? static_cast<TDrawItem*>(From.Slide.get()) : &from;
    TDrawItem* b = hint ? static_cast<TDrawItem*>(To.Slide.get()) : &to;
    Dumper.RenderFrame([&](TDeviceDrawer* d) {
      if (claimed) *claimed = From.Slide->Opaque(d) && To.Slide->Opaque(d);
      d->Clear(0xFF000000u, 1);
      d->DrawTransition(a, b, params);
    });
    return Dumper.LastFrame().Pixels;
  }
};

TEST(KavSlideOpaque, TransitionsDrawTheSamePicturesWithTheHint) {
  InstallTransitions();
  TTwoSlides s;
  struct TCase {
    const char* Name;
    int32_t Kind;
    std::vector<int32_t> Flags, Ints;
    std::vector<float> Floats;
  };
  const TCase cases[] = {{"dissolve", 1, {}, {}, {}},
                         {"page", 5, {1}, {}, {}},
                         {"broom", 2, {3}, {}, {0.1f}},
                         {"push", 7, {0}, {}, {}},
                         {"curling", 9, {0}, {0, 0x204080}, {0.1f, 0.5f}},
                         {"curling_back", 9, {5, 1}, {0, 0x204080}, {0.1f, 0.5f}},
                         {"swap", 11, {0}, {}, {0.5f, 0.5f, 0.5f}}};
  for (const TCase& c : cases)
    for (double t : {200.0, 500.0, 800.0}) {
      SCOPED_TRACE(std::string(c.Name) + " at " + std::to_string(t));
      auto p = Transition(c.Kind, c.Flags, c.Ints, c.Floats, t);
      bool claimed = false;
      const auto plain = s.Frame(p.get(), false), hinted = s.Frame(p.get(), true, &claimed);
      EXPECT_TRUE(claimed);
      EXPECT_EQ(plain, hinted);
    }
  SetDrawTransitionHook(nullptr);
}

TEST(KavSlideOpaque, OnlyABackgroundOverTheWholeViewIsOpaque) {
  TTwoSlides s;
  T3DDrawer* d = s.Dumper.Drawer();
  EXPECT_TRUE(s.To.Slide->Opaque(d));
  s.To.Slide->ForegroundOnly = true;  // no background drawn
  EXPECT_FALSE(s.To.Slide->Opaque(d));
  s.To.Slide->ForegroundOnly = false;
  s.To.Slide->SetBackStyle(3);  // a picture: its alpha is not known
  EXPECT_FALSE(s.To.Slide->Opaque(d));
  s.To.Slide->SetBackStyle(0);
  // A view other than the slide's rectangle.
  d->SetView(TFloatRect{0, 0, 1600, 1080}, FloatPoint(1920, 1080), true, Vector3(960, 540, -935.3074360871938f));
  EXPECT_FALSE(s.To.Slide->Opaque(d));
  d->SetView(TFloatRect{0, 0, 1920, 1080}, FloatPoint(1920, 1080), true, Vector3(960, 540, -935.3074360871938f));
  d->SetOffset(TFloatPoint{3, 0});
  EXPECT_FALSE(s.To.Slide->Opaque(d));
  d->SetOffset(TFloatPoint{0, 0});
  EXPECT_TRUE(s.To.Slide->Opaque(d));
}

}  // namespace
}  // namespace kav
