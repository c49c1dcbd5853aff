// Drawing one visual-styles part into a bitmap: straight alpha kept as
// drawn, transparent pixels carrying the face colour, and the second
// drawing on white (in a scratch bitmap that only grows) for a library that
// leaves no alpha.
#include <gtest/gtest.h>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "tests/VoRav/Composite/ThemedButtonTestUtil.h"
#include "tests/platform/theme/ThemeTestUtil.h"

using namespace kav;
using namespace kav::test;

namespace {

constexpr TColor32 kFace = 0xFFC0C0C0u;

// A library whose background drawing paints the left half of the rectangle
// in one colour with no alpha, as drawing without alpha support does.
struct TNoAlphaLibrary {
  static inline int draws = 0;
  static uxtheme::HRESULT Draw(uxtheme::HTHEME, uxtheme::HDC dc, int32_t, int32_t, const TRect* rect, const TRect*) {
    ++draws;
    dc->FillRect(TRect{rect->Left, rect->Top, rect->Left + rect->Width() / 2, rect->Bottom}, 0x00336699u);
    return uxtheme::S_OK;
  }
  static bool Load() { return true; }
  static void* GetProc(const char* name) {
    if (std::string(name) == "DrawThemeBackground") return reinterpret_cast<void*>(&Draw);
    return uxtheme::GetEntry(name);
  }
  static void Free() {}
  static uint32_t Version() { return 0x60000; }
};
const TUxThemeLibrary kNoAlpha = {&TNoAlphaLibrary::Load, &TNoAlphaLibrary::GetProc, &TNoAlphaLibrary::Free,
                                  &TNoAlphaLibrary::Version};

class ThemedPartDrawTest : public ThemedButtonFixture {
 protected:
  void TearDown() override {
    FinalizeThemeServices();
    FinalizeUxTheme();
    SetUxThemeLibrary(nullptr);
    ThemedButtonFixture::TearDown();
  }
};

}  // namespace

TEST_F(ThemedPartDrawTest, StyleDrawingKeepsItsAlphaAndGivesClearPixelsTheFace) {
  Ref<TSysBitmap> b = CreateSysBitmap(23, 22, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 23, 22}, 0xFF123456u);  // cleared first
  // The style's idle tool-bar button draws nothing.
  EXPECT_EQ(DrawThemedPart(b.get(), TThemedElementDetails{teToolBar, 1, 1}, kFace, TRect{0, 0, 23, 22}), 0);
  EXPECT_EQ(uxtheme::test::Pixel(b.get(), 11, 11), kFace & 0x00FFFFFFu);
  // A hot push button: opaque inside, a soft rounded corner kept as drawn.
  EXPECT_EQ(DrawThemedPart(b.get(), TThemedElementDetails{teButton, 1, 2}, kFace, TRect{0, 0, 23, 22}), 0);
  EXPECT_EQ(uxtheme::test::Pixel(b.get(), 11, 11) >> 24, 255u);
  EXPECT_EQ(uxtheme::test::Pixel(b.get(), 0, 0), kFace & 0x00FFFFFFu);
  EXPECT_EQ(ThemedPartScratchSize(), (TSize{0, 0}));  // never needed
  // A 24-bit bitmap is drawn on directly.
  Ref<TSysBitmap> rgb = CreateSysBitmap(23, 22, StdFormats().R8G8B8);
  rgb->FillRect(TRect{0, 0, 23, 22}, 0xFF000000u);
  DrawThemedPart(rgb.get(), TThemedElementDetails{teButton, 1, 1}, kFace, TRect{0, 0, 23, 22});
  EXPECT_NE(uxtheme::test::Pixel(rgb.get(), 11, 11), 0xFF000000u);
  EXPECT_EQ(uxtheme::test::Pixel(rgb.get(), 0, 0), 0xFF000000u);  // the corner shows what was there
}

TEST_F(ThemedPartDrawTest, DrawingWithoutAlphaIsMergedWithASecondDrawingOnWhite) {
  FinalizeThemeServices();
  FinalizeUxTheme();
  SetUxThemeLibrary(&kNoAlpha);
  TNoAlphaLibrary::draws = 0;
  Ref<TSysBitmap> b = CreateSysBitmap(20, 10, StdFormats().A8R8G8B8);
  EXPECT_EQ(DrawThemedPart(b.get(), TThemedElementDetails{teButton, 1, 1}, kFace, TRect{0, 0, 20, 10}), 0);
  EXPECT_EQ(TNoAlphaLibrary::draws, 2);
  EXPECT_EQ(uxtheme::test::Pixel(b.get(), 3, 5), 0xFF336699u);               // drawn: opaque
  EXPECT_EQ(uxtheme::test::Pixel(b.get(), 15, 5), kFace);  // not drawn: the face colour
  EXPECT_EQ(ThemedPartScratchSize(), (TSize{20, 10}));
  // The scratch bitmap grows to the largest size asked and never shrinks.
  Ref<TSysBitmap> tall = CreateSysBitmap(8, 30, StdFormats().A8R8G8B8);
  DrawThemedPart(tall.get(), TThemedElementDetails{teButton, 1, 1}, kFace, TRect{0, 0, 8, 30});
  EXPECT_EQ(ThemedPartScratchSize(), (TSize{20, 30}));
  EXPECT_EQ(uxtheme::test::Pixel(tall.get(), 1, 29), 0xFF336699u);
  FinalizeThemedPartDraw();
  EXPECT_EQ(ThemedPartScratchSize(), (TSize{0, 0}));
}
