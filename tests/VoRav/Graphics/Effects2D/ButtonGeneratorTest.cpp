#include <gtest/gtest.h>

#include <map>

#include "EffectsTestUtil.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"
#include "VoRav/Graphics/SysHSLAdjust.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxMemoryStream.h"

namespace kav {
namespace {

constexpr int32_t kW = 30, kH = 20;

// Each skin pixel tells where it came from: blue = 8 x column, green = 12 x
// row, red 0x40.
uint32_t SkinPixel(int32_t x, int32_t y) { return 0xFF400000u | uint32_t(y * 12) << 8 | uint32_t(x * 8); }

Ref<TImage> MakeSkin(int32_t w, int32_t h, const std::u16string& name) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t px = SkinPixel(x, y);
      std::memcpy(b->PixelAddress(x, y), &px, 4);
    }
  return ImageFromBitmap(b.release(), true, name);
}

const char* kDescription =
    "[NormalState]\r\n"
    "LeftTop=skin.bmp,0,0,8,5\r\nTop=skin.bmp,8,0,22,5\r\nRightTop=skin.bmp,22,0,30,5\r\n"
    "Right=skin.bmp,22,5,30,15\r\nRightBottom=skin.bmp,22,15,30,20\r\nBottom=skin.bmp,8,15,22,20\r\n"
    "LeftBottom=skin.bmp,0,15,8,20\r\nLeft=skin.bmp,0,5,8,15\r\nCenter=skin.bmp,10,5,22,15\r\n"
    "[HoverState]\r\n"
    "LeftTop=wide.bmp,0,0,8,5\r\n"
    "[ClickState]\r\n"
    "LeftTop=skin.bmp,-2147483648,-9,2147483647,7\r\nTop=skin.bmp,2000000000,0,-3,900\r\nRightTop=skin.bmp,5,0,3,5\r\n"
    "Right=skin.bmp,-40,-5,30,15\r\nRightBottom=skin.bmp,x,y,z,w\r\nBottom=skin.bmp,8,15,22,99\r\n"
    "LeftBottom=skin.bmp,0,15,8,20\r\nLeft=skin.bmp,0,5,8,15\r\nCenter=skin.bmp,-1,5,22,15\r\n"
    "object TextParams:Params\r\n  Color=#102030,128\r\n  BtnOffset=2.5\r\n  Filtering=Sharp\r\nend\r\n";

struct TSkins {
  std::map<std::u16string, Ref<TImage>> Files;
  int Loads = 0;
  Ref<TImage> Load(const std::u16string& path) {
    ++Loads;
    auto it = Files.find(path);
    return it == Files.end() ? nullptr : it->second;
  }
  TSkinLoader Loader() { return TSkinLoader::Bind<&TSkins::Load>(this); }
};

// A producer over its own folder (the skin cache is shared by the whole run).
Ref<TButtonProducer> MakeProducer(TSkins& skins, const std::u16string& folder) {
  skins.Files[folder + u"\\skin.bmp"] = MakeSkin(kW, kH, u"skin");
  skins.Files[folder + u"\\wide.bmp"] = MakeSkin(kW + 1, kH, u"wide");
  Ref<TButtonProducer> p = MakeRef<TButtonProducer>(skins.Loader(), TResampleProgress());
  TStringStream text(kDescription);
  EXPECT_TRUE(p->LoadFromFile(&text, folder));
  return p;
}

Ref<TSysBitmap> Level0(TImage* image) {
  Ref<TBitmap> b = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  return Ref<TSysBitmap>(AsSysBitmap(b.get()));
}

// Where each result pixel comes from in the skin, as the nine parts place
// them: side columns copied, the middle band repeating one column.
uint32_t Expected(int32_t x, int32_t y, int32_t width) {
  if (x < 8) return SkinPixel(x, y);
  if (x >= width - 8) return SkinPixel(22 + x - (width - 8), y);
  return SkinPixel(y >= 5 && y < 15 ? 10 : 8, y);
}

TEST(ButtonProducer, DescriptionIsRead) {
  TSkins skins;
  Ref<TButtonProducer> p = MakeProducer(skins, u"desc");
  EXPECT_TRUE(p->Loaded());
  EXPECT_EQ(p->LayoutWidth(), kW);
  EXPECT_EQ(p->LayoutHeight(), kH);
  EXPECT_EQ(p->Part(0, TButtonPartKind::Center).Left, 10);
  EXPECT_EQ(p->Part(0, TButtonPartKind::Center).FileName, u"skin.bmp");
  EXPECT_EQ(p->Part(2, TButtonPartKind::RightBottom).Right, 0);  // not a number
  EXPECT_EQ(p->Part(1, TButtonPartKind::Center).FileName, u"");
  EXPECT_EQ(p->TextColor(), 0x80102030u);
  EXPECT_EQ(p->ButtonOffset(), 2.5f);
  EXPECT_EQ(p->MinWidth(), 0.0f);
  EXPECT_EQ(p->Filtering(), TButtonFiltering::Default);
}

TEST(ButtonProducer, PartsArePlacedAsComputed) {
  TSkins skins;
  Ref<TButtonProducer> p = MakeProducer(skins, u"place");
  for (int32_t width : {kW, 50, 17}) {
    Ref<TImage> img = p->Render(0, width, 0, 0, 0);
    EXPECT_EQ(img->Params().Name, MakeButtonKey(u"place", 0, width, 0, 0, 0));
    Ref<TSysBitmap> b = Level0(img.get());
    ASSERT_EQ(b->Width(), width);
    ASSERT_EQ(b->Height(), kH);
    int wrong = 0;
    for (int32_t y = 0; y < kH; ++y)
      for (int32_t x = 0; x < width; ++x) wrong += test::Pixel32(b.get(), x, y) != Expected(x, y, width);
    EXPECT_EQ(wrong, 0) << "width " << width;
    if (width == 50) test::DumpOverChecker(b.get(), "button_50.png");
  }
  // Narrower than both side columns: held at their sum.
  EXPECT_EQ(p->Render(0, 3, 0, 0, 0)->Width(), 16);
  // The skin was loaded once for all parts and renders.
  EXPECT_EQ(skins.Loads, 1);
}

TEST(ButtonProducer, ColourShiftsApplyToTheWholePicture) {
  TSkins skins;
  Ref<TButtonProducer> p = MakeProducer(skins, u"hsl");
  Ref<TSysBitmap> b = Level0(p->Render(0, 40, 120, -20, 10).get());
  Ref<TSysBitmap> want = CreateSysBitmap(40, kH, StdFormats().A8R8G8B8);
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      const uint32_t px = Expected(x, y, 40);
      std::memcpy(want->PixelAddress(x, y), &px, 4);
    }
  HSLAdjustPixels(want.get(), TRect{0, 0, 40, kH}, nullptr, 10, -20, 120);
  EXPECT_NE(test::Pixel32(want.get(), 20, 10), Expected(20, 10, 40));
  int wrong = 0;
  for (int32_t y = 0; y < kH; ++y)
    for (int32_t x = 0; x < 40; ++x) wrong += test::Pixel32(b.get(), x, y) != test::Pixel32(want.get(), x, y);
  EXPECT_EQ(wrong, 0);
}

TEST(ButtonProducer, BadSkinsGiveTheErrorPicture) {
  TSkins skins;
  Ref<TButtonProducer> p = MakeProducer(skins, u"bad");
  EXPECT_EQ(p->Render(1, 40, 0, 0, 0)->Params().Name, u"Incorrect Image: ");  // Center has no file
  skins.Files[u"bad2\\skin.bmp"] = MakeSkin(kW, kH, u"skin");
  skins.Files[u"bad2\\wide.bmp"] = MakeSkin(kW + 1, kH, u"wide");
  Ref<TButtonProducer> q = MakeRef<TButtonProducer>(skins.Loader(), TResampleProgress());
  TStringStream text(std::string(kDescription).replace(std::string(kDescription).find("Center=skin"), 11,
                                                       "Center=wide"));
  ASSERT_TRUE(q->LoadFromFile(&text, u"bad2"));
  EXPECT_EQ(q->Render(0, 40, 0, 0, 0)->Params().Name, u"Incorrect Image: wide.bmp");
  // Any other state has no parts.
  EXPECT_EQ(p->Render(7, 40, 0, 0, 0)->Params().Name, u"Incorrect Image: ");
  // A width beyond the bitmap limits.
  EXPECT_EQ(p->Render(0, 2000000000, 0, 0, 0)->Params().Name, u"Incorrect Image: bad");
}

// Part rectangles far outside the skin and the result read and write
// nothing outside them.
TEST(ButtonProducer, HostileRectanglesStayInside) {
  TSkins skins;
  Ref<TButtonProducer> p = MakeProducer(skins, u"hostile");
  Ref<TSysBitmap> b = Level0(p->Render(2, 60, 0, 0, 0).get());
  // The right column claims 70 pixels: the width grows to hold both sides.
  EXPECT_EQ(b->Width(), 78);
  // The bottom-left corner is an ordinary part in this state.
  EXPECT_EQ(test::Pixel32(b.get(), 3, 17), SkinPixel(3, 17));
}

TEST(ButtonKey, RoundTripKeepsADriveName) {
  const std::u16string key = MakeButtonKey(u"C:\\Styles\\Glass", 2, 180, -30, 15, -5);
  EXPECT_EQ(key, u"Button: C:\\Styles\\Glass:2:180:-30:15:-5");
  std::u16string folder;
  int32_t s, w, h, sat, l;
  ParseButtonKey(key, folder, s, w, h, sat, l);
  EXPECT_EQ(folder, u"C:\\Styles\\Glass");
  EXPECT_EQ((std::array{s, w, h, sat, l}), (std::array{2, 180, -30, 15, -5}));
  ParseButtonKey(u"Button: plain:x:7", folder, s, w, h, sat, l);
  EXPECT_EQ(folder, u"plain");
  EXPECT_EQ(sat, 0);
  EXPECT_EQ(l, 7);
  ParseButtonKey(u"Button: dir", folder, s, w, h, sat, l);
  EXPECT_EQ(folder, u"dir");
  EXPECT_EQ(l, 0);
  ParseButtonKey(u"Bu", folder, s, w, h, sat, l);
  EXPECT_EQ(folder, u"");
}

TEST(ButtonProducerHost, OneProducerPerFolder) {
  TSkins skins;
  Ref<TButtonProducerHost> host = MakeRef<TButtonProducerHost>(skins.Loader(), TResampleProgress());
  TButtonProducer* a = host->GetProducer(u"");
  TStringStream text(kDescription);
  a->LoadFromFile(&text, u"one");
  EXPECT_EQ(host->GetProducer(u"one"), a);
  TButtonProducer* b = host->GetProducer(u"two");
  EXPECT_NE(b, a);
  EXPECT_FALSE(b->Loaded());
  EXPECT_EQ(host->Count(), 2);
}

}  // namespace
}  // namespace kav
