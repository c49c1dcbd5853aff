#include <gtest/gtest.h>

#include "KavLib2/NavPanel/KavNavBar.h"
#include "NavTestUtil.h"
#include "VoRav/wpExceptions.h"

namespace kav {
namespace {

using namespace navtest;

// Row 1: cells of 10 and 30 pixels, then the object cell with three
// buttons of box width 20, space 2 and offsets 5 on both sides.
std::string GridSkin(int objects = 3) {
  std::string s =
      "[Common]\nColsCount=3\nRowsCount=1\n[CellWithObjects]\nCell=3,1\nLeftOffset=5\nRightOffset=5\n"
      "[Cell(1:1)]\nBounds=0,0,10,20\n[Cell(2:1)]\nBounds=0,0,30,20\n[Cell(3:1)]\nBounds=0,0,1,20\n"
      "[Objects]\nCount=" + std::to_string(objects) + "\n";
  for (int i = 1; i <= objects; ++i) s += "[Object" + std::to_string(i) + "]\nSpace=2\n";
  for (const char* a : {"ACTION-Home", "Action-forward", "action-backward", "Action-rewind", "Other"})
    s += std::string("[") + a + "]\nBtnTextureNormalBounds=0,0,10,10\nBgTextureNormalBounds=0,0,20,16\n";
  return s;
}

struct BarFixture {
  TBarProbe probe;
  Ref<TNavBar> bar = MakeRef<TNavBar>();
  explicit BarFixture(const std::string& skin, std::vector<int32_t> items = {0, 1, 2}) {
    probe.Connect(bar.get());
    bar->LoadSkin(Ini(skin), u"");
    bar->SetItems(items, int32_t(items.size()));
  }
  void Mouse(uint8_t kind, int32_t x, int32_t y, uint32_t shift = 0) { bar->MouseEvent(1, shift, x, y, kind); }
  std::vector<uint8_t> States() const {
    std::vector<uint8_t> s;
    for (const auto& o : bar->Objects()) s.push_back(o.State);
    return s;
  }
};

TEST(NavBar, ActionSectionsNameTheObjectsAndTheGridLaysOut) {
  BarFixture f(GridSkin());
  // Any case of the prefix; a section named after another word adds nothing.
  EXPECT_EQ(f.bar->ObjectNames, (std::vector<std::u16string>{u"home", u"forward", u"backward"}));
  EXPECT_EQ(f.bar->Cell(3, 1)->Width, 76);
  EXPECT_EQ(f.bar->BarWidth(), 116);
  EXPECT_EQ(f.bar->BarHeight(), 16);
  ASSERT_TRUE(f.bar->BarBitmap);
  EXPECT_EQ(f.bar->BarBitmap->Width(), 116);
  const auto& o = f.bar->Objects();
  ASSERT_EQ(o.size(), 3u);
  EXPECT_EQ(o[0].X, 45);
  EXPECT_EQ(o[1].X, 67);
  EXPECT_EQ(o[2].X, 89);
  EXPECT_EQ(f.probe.Changes, 1);
  // Fewer items than [Objects] Count: only as many objects as items.
  BarFixture two(GridSkin(), {2, 0});
  EXPECT_EQ(two.bar->Objects().size(), 2u);
  EXPECT_EQ(two.bar->BarWidth(), 10 + 30 + 10 + 44);
}

TEST(NavBar, HoverPressAndReleaseOnAndOffAButton) {
  BarFixture f(GridSkin());
  f.Mouse(kNavMouseMove, 50, 5);
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{1, 0, 0}));
  f.Mouse(kNavMouseDown, 70, 5);
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{0, 2, 0}));
  // Off the button while held, then back: normal, then pressed again.
  f.Mouse(kNavMouseMove, 100, 5, kNavShiftLeft);
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{0, 0, 0}));
  f.Mouse(kNavMouseMove, 70, 5, kNavShiftLeft);
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{0, 2, 0}));
  f.Mouse(kNavMouseUp, 70, 5);
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{1}));
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{0, 1, 0}));
  // Released off the pressed button: no press.
  f.Mouse(kNavMouseDown, 50, 5);
  f.Mouse(kNavMouseUp, 70, 5);
  EXPECT_EQ(f.probe.Buttons, (std::vector<int32_t>{1}));
  // Leaving the bar clears the hover.
  f.Mouse(kNavMouseMove, 500, 5);
  EXPECT_EQ(f.States(), (std::vector<uint8_t>{0, 0, 0}));
}

TEST(NavBar, DamagedSkinsRaiseTheSkinAssertion) {
  TBarProbe probe;
  auto bar = MakeRef<TNavBar>();
  probe.Connect(bar.get());
  std::string s = GridSkin();
  std::string bad = s;
  bad.replace(bad.find("Cell=3,1"), 8, "Cell=3");
  EXPECT_THROW(bar->LoadSkin(Ini(bad), u""), EAbort);
  bad = s;
  bad.replace(bad.find("Bounds=0,0,30,20"), 16, "Bounds=0,0,30");
  EXPECT_THROW(bar->LoadSkin(Ini(bad), u""), EAbort);
  bad = s;
  bad.replace(bad.find("BtnTextureNormalBounds=0,0,10,10"), 32, "BtnTextureNormalBounds=");
  bar->LoadSkin(Ini(bad), u"");
  EXPECT_THROW(bar->SetItems({0, 1, 2}, 3), EAbort);
}

TEST(NavBar, HostileSizesAreCappedAndNamesStayInTheSkinFolder) {
  // Huge counts and bounds: the grid is capped and the bar refuses a
  // picture larger than a bar may be.
  std::string s =
      "[Common]\nColsCount=100000\nRowsCount=1\n[CellWithObjects]\nCell=1,1\n"
      "[Objects]\nCount=99999999\n";
  for (int c = 1; c <= kNavMaxGrid; ++c) s += "[Cell(" + std::to_string(c) + ":1)]\nBounds=0,0,99999999,10\n";
  TBarProbe probe;
  auto bar = MakeRef<TNavBar>();
  probe.Connect(bar.get());
  bar->LoadSkin(Ini(s), u"");
  bar->SetItems({}, 0);
  EXPECT_FALSE(bar->BarBitmap);
  EXPECT_EQ(ParseNavBounds({u"1", u"2", u"-5", u"x"}), (TRect{1, 2, 1, 2}));
  EXPECT_EQ(SplitNavValue(u" a , \"b,c\" ,d"), (std::vector<std::u16string>{u"a", u"\"b,c\"", u"d"}));
  // A texture name leading out of the skin folder is never asked for.
  struct TAsked {
    std::vector<std::u16string> Names;
    void Load(TCustomNavBar*, const std::u16string& n, Ref<TSysBitmap>& b) {
      Names.push_back(n);
      b = nullptr;
    }
  } asked;
  bar = MakeRef<TNavBar>();
  bar->On.LoadImage =
      TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)>::Bind<&TAsked::Load>(&asked);
  bar->LoadSkin(Ini("[Common]\nColsCount=2\nRowsCount=1\n[CellWithObjects]\nCell=1,1\n"
                    "[Cell(1:1)]\nBounds=0,0,4,4\nflnm_Texture=..\\..\\etc\\passwd\n"
                    "[Cell(2:1)]\nBounds=0,0,4,4\nflnm_Texture=ok.png\n"),
                u"skin/");
  EXPECT_EQ(asked.Names, (std::vector<std::u16string>{u"skin/ok.png"}));
}

TEST(NavBar, EmptyTilesAndPicturesSmallerThanTheirBoundsDrawNothing) {
  // The cell's tile has no pixels: tiling it would divide by zero.
  struct TTiny {
    void Load(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>& b) {
      b = CreateSysBitmap(2, 2, PixelFormatByName("A8R8G8B8"));
      b->FillRect(TRect{0, 0, 2, 2}, 0xFF00FF00);
    }
  } tiny;
  auto bar = MakeRef<TNavBar>();
  bar->ShowBackground = true;
  bar->On.LoadImage =
      TDelegate<void(TCustomNavBar*, const std::u16string&, Ref<TSysBitmap>&)>::Bind<&TTiny::Load>(&tiny);
  bar->LoadSkin(Ini("[Common]\nColsCount=3\nRowsCount=1\n[CellWithObjects]\nCell=3,1\nLeftOffset=4\nTopOffset=4\n"
                    "[Cell(1:1)]\nBounds=0,0,0,8\nflnm_Texture=t.png\n"
                    "[Cell(2:1)]\nBounds=0,0,8,8\nflnm_Texture=t.png\n"
                    "[Cell(3:1)]\nBounds=0,0,2,2\nflnm_Texture=t.png\n"),
                u"");
  bar->SetItems({}, 0);
  ASSERT_TRUE(bar->BarBitmap);
  EXPECT_EQ(Pixel(bar->BarBitmap.get(), 1, 1), 0u);           // larger than the picture: left empty
  EXPECT_EQ(Pixel(bar->BarBitmap.get(), 9, 1), 0xFF00FF00u);  // the object cell's 2 x 2 tile
}

TEST(NavBar, FactoryChainGivesTheButtonBarForOtherTypes) {
  EXPECT_TRUE(dynamic_cast<TNavBar*>(CreateNavBar(u"").get()));
  EXPECT_TRUE(dynamic_cast<TNavBar*>(CreateNavBar(u"anything").get()));
}

}  // namespace
}  // namespace kav
