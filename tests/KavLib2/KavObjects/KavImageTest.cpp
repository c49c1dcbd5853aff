#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "KavLib2/KavObjects/KavImage.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "ShowFolderTestUtil.h"
#include "VoRav/Graphics/SysBitmap.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"

namespace kav {
namespace {

using test::Bmp32;
using test::KeyPoint;
using test::Obj;
using test::PixelAt;
using test::RenderSlide;
using test::RenderSlideWith;
using test::THostFixture;
using test::THostSlide;
using test::TShowFolder;

// A 200 x 100 picture: red left half, blue right half, opaque.
void HalfAndHalf(TShowFolder& f) {
  f.Write("pic.bmp", Bmp32(200, 100, [](int32_t x, int32_t) { return x < 100 ? 0xFFFF0000u : 0xFF0000FFu; }));
}

// A 4 x 2 sprite sheet of 10 x 10 cells, cell i filled with grey level 10 i.
void Sheet(TShowFolder& f) {
  f.Write("sheet.bmp", Bmp32(40, 20, [](int32_t x, int32_t y) {
            const uint32_t i = uint32_t(y / 10 * 4 + x / 10) * 10;
            return 0xFF000000u | i << 16 | i << 8 | i;
          }));
}

uint32_t Level0Pixel(TImage* image, int32_t x, int32_t y) {
  Ref<TBitmap> b = image->Store()->GetMipLevel(0, StdFormats().A8R8G8B8, &TSysBitmap::kClass);
  uint32_t v;
  std::memcpy(&v, static_cast<TSysBitmap*>(b.get())->PixelAddress(x, y), 4);
  return v;
}

TEST(SlideHost, ProducesKeyedPictures) {
  THostFixture h;
  h.Folder.Write("grey.bmp", Bmp32(4, 2, [](int32_t x, int32_t) { return x < 2 ? 0xFF808080u : 0xFF000000u; }));
  // Effect-buffer stand-ins take the size callback 3 answers.
  Ref<TImage> buffer = LoadImageHandle(h.Files.get(), u"SlideEffectBuffer1, 320, 180");
  EXPECT_EQ(buffer->Width(), 320);
  EXPECT_EQ(buffer->Height(), 180);
  // Effect resources are filled by the optional callback at the buffer size.
  Ref<TImage> res = LoadImageHandle(h.Files.get(), u"EffectResource7, 320, 180");
  EXPECT_EQ(h.Calls.Fills, 1);
  EXPECT_EQ(res->Width(), 320);
  EXPECT_EQ(Level0Pixel(res.get(), 5, 5), 0xFF000007u);
  // A number that does not parse is no effect resource (the placeholder).
  Ref<TImage> bad = LoadImageHandle(h.Files.get(), u"EffectResourceX, 1, 1");
  EXPECT_EQ(h.Calls.Fills, 1);
  // An opaque picture as a mask: its brightness becomes the alpha.
  Ref<TImage> mask = LoadImageHandle(h.Files.get(), u"Mask: grey.bmp");
  EXPECT_EQ(mask->Width(), 4);
  EXPECT_EQ(Level0Pixel(mask.get(), 0, 0) >> 24, 0x80u);
  EXPECT_EQ(Level0Pixel(mask.get(), 3, 0) >> 24, 0u);
  // Preset masks: white inside, black outside; a hostile size gives a
  // placeholder instead of a giant bitmap.
  Ref<TImage> preset = LoadImageHandle(h.Files.get(), u"PresetedMask:64:32:1:0:0");
  EXPECT_EQ(preset->Width(), 64);
  Ref<TImage> huge = LoadImageHandle(h.Files.get(), u"PresetedMask:900000:900000:1:0:0");
  EXPECT_LE(huge->Width(), 256);
  // Shadows come from their key.
  Ref<TImage> shadow = LoadImageHandle(h.Files.get(), u"Shadow: 0:0:50:40:0:0:0:4:0:8:255:255:0:N\\A");
  EXPECT_GT(shadow->Width(), 10);
}

// Sized texts: the text drawn in white into a picture of the key's size,
// fitted and centred; a size that is not usable, or nothing to lay out,
// gives the 1 x 1 placeholder.
TEST(SlideHost, SizedTexts) {
  THostFixture h;
  Ref<TImage> sized = LoadImageHandle(h.Files.get(), u"TextWithSize:200:60:Hello\r\nworld");
  ASSERT_NE(sized, nullptr);
  EXPECT_EQ(sized->Width(), 200);
  EXPECT_EQ(sized->Height(), 60);
  int32_t inked = 0, left = 200, right = -1;
  for (int32_t y = 0; y < 60; ++y)
    for (int32_t x = 0; x < 200; ++x) {
      const uint32_t p = Level0Pixel(sized.get(), x, y);
      if ((p >> 24) > 128) {
        ++inked;
        EXPECT_EQ(p & 0xFFFFFF, 0xFFFFFFu);
        left = std::min(left, x);
        right = std::max(right, x);
      }
    }
  EXPECT_GT(inked, 100);
  // Two lines fitted by height leave room on both sides, about equal.
  EXPECT_GT(left, 5);
  EXPECT_NEAR(left, 199 - right, 6);
  EXPECT_EQ(Level0Pixel(sized.get(), 0, 0) >> 24, 0u);
  for (const char16_t* bad : {u"TextWithSize:0:60:Hi", u"TextWithSize:90000:90000:Hi", u"TextWithSize:-4:10:Hi",
                              u"TextWithSize:"}) {
    Ref<TImage> p = LoadImageHandle(h.Files.get(), bad);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Width(), 1) << UTF8Encode(bad);
  }
}

int g_made_hosts = 0;

Ref<TKavSlideHost> MakeMarkedHost(TFileAccessor* a, const TKavSlideHost::TEffectResourceFill& f,
                                  const TKavSlideHost::TSectionQuery& s, const TKavSlideHost::TCameraQuery& c,
                                  const TKavSlideHost::TEffectBufferQuery& b, const std::u16string& t) {
  ++g_made_hosts;
  return MakeRef<TKavSlideHost>(a, f, nullptr, false, s, c, b, t + u"x/");
}

TEST(SlideHost, FactoryMakesTheShowsHost) {
  THostFixture h;
  const TSlideHostFactory before = SetSlideHostFactory(&MakeMarkedHost);
  Ref<TKavSlideHost> made = CreateSlideHost(
      h.Files.get(), {}, TKavSlideHost::TSectionQuery::Bind<&test::TTestCallbacks::Section>(&h.Calls),
      TKavSlideHost::TCameraQuery::Bind<&test::TTestCallbacks::CameraAt>(&h.Calls),
      TKavSlideHost::TEffectBufferQuery::Bind<&test::TTestCallbacks::BufferSize>(&h.Calls), u"themes/");
  SetSlideHostFactory(before);
  EXPECT_EQ(g_made_hosts, 1);
  EXPECT_EQ(made->ThemeFolder(), u"themes/x/");
  EXPECT_EQ(made->CameraPosition().z, h.Calls.Camera.z);
}

TEST(KavImage, PictureKeys) {
  THostSlide s(HalfAndHalf, Obj("a", "AniImage", "ImageName=anim.gif\nAnimEnable=1\n") +
                                Obj("b", "Image", "ImageName=anim.gif\n") +
                                Obj("c", "AniImage", "ImageName=ANIM.GIF\nAnimEnable=1\n") +
                                Obj("d", "Image", "ImageName=pic.bmp\nRestoreAlpha=1\n") +
                                Obj("e", "Image", "ReplaceWithEffectBuffer=258\n"));
  auto img = [&](int i) { return dynamic_cast<TKavImage*>(s.At(i)); };
  EXPECT_EQ(img(0)->PictureKey(), u"anim.gif|framesatlas");
  EXPECT_EQ(img(1)->PictureKey(), u"anim.gif");
  EXPECT_EQ(img(2)->PictureKey(), u"ANIM.GIF");
  EXPECT_EQ(img(3)->PictureKey(), u"Mask: pic.bmp");
  // The key's integer is kept in one byte; a slide that is not an effect
  // buffer asks for effect resources.
  EXPECT_EQ(img(4)->PictureKey(), u"EffectResource2, 320, 180");
  s.Slide->EffectBufferSlide = true;
  EXPECT_EQ(img(4)->PictureKey(), u"SlideEffectBuffer2, 320, 180");
  s.Slide->Live = true;
  EXPECT_EQ(img(4)->PictureKey(), u"EffectResource2, 320, 180");
  // A picture that cannot be loaded is the placeholder, and the object lives.
  EXPECT_NE(img(1)->Picture(), nullptr);
}

TEST(KavImage, CropBorderAndRedrawState) {
  THostSlide s(HalfAndHalf, Obj("a", "Image", "ImageName=pic.bmp\nEnableCrop=1\nCropRect=50,0,0,0\n") +
                                Obj("b", "Image", "ImageName=pic.bmp\nEnableBorder=1\nBorderWidth=10\n") +
                                Obj("c", "Image", "ImageName=pic.bmp\nCropRect=1,2,3\nEnableCrop=1\n"));
  auto* a = dynamic_cast<TKavImage*>(s.At(0));
  EXPECT_FLOAT_EQ(a->FitRect().Left, 100);
  EXPECT_FLOAT_EQ(a->FitRect().Right, 200);
  EXPECT_FLOAT_EQ(a->Size().x, 100);
  EXPECT_FLOAT_EQ(a->Size().y, 100);
  auto* b = dynamic_cast<TKavImage*>(s.At(1));
  EXPECT_FLOAT_EQ(b->BorderWidth(), 10);
  EXPECT_FLOAT_EQ(b->Size().x, 220);
  // The default crop stays unless exactly four numbers are given.
  auto* c = dynamic_cast<TKavImage*>(s.At(2));
  EXPECT_FLOAT_EQ(c->FitRect().Right - c->FitRect().Left, 200);
  // Changing only the border colour keeps the picture.
  TImage* before = b->Picture();
  TBorderParams border = b->Border();
  border.BorderColor = 0xFF00FF00u;
  b->SetBorder(border);
  s.Slide->SetTime(true, 10);
  EXPECT_EQ(b->Picture(), before);
  // A new name drops it (the old one is drawn until the new one arrives).
  b->SetImageName(u"missing.bmp");
  EXPECT_EQ(b->Picture(), before);
  s.Slide->SetTime(true, 20);
  EXPECT_NE(b->Picture(), before);
}

TEST(KavImage, SpriteSheetFrames) {
  THostSlide s(Sheet, Obj("a", "AniImage",
                          "ImageName=sheet.bmp\nAnimEnable=1\nAnimColumns=4\nAnimRows=2\nAnimCount=8\n"
                          "AnimInterval=100\nAnimRepCount=2\n") +
                          Obj("b", "AniImage", "ImageName=sheet.bmp\nAnimEnable=1\nAnimColumns=0\nAnimRows=0\n"
                                               "AnimCount=1000000000\nAnimInterval=0\n"));
  auto* a = dynamic_cast<TKavImage*>(s.At(0));
  // One cell is the object's size.
  EXPECT_FLOAT_EQ(a->Size().x, 10);
  EXPECT_FLOAT_EQ(a->Size().y, 10);
  auto frame_at = [&](double t) {
    s.Slide->SetTime(true, t);
    return a->FrameIndex();
  };
  EXPECT_EQ(frame_at(50), 0);
  EXPECT_EQ(frame_at(750), 7);
  EXPECT_EQ(frame_at(850), 0);
  EXPECT_EQ(frame_at(1700), 7);
  EXPECT_EQ(frame_at(4000), 7);
  // A sprite animation changes with the clock without keyframes: the slide
  // never counts as standing still.
  EXPECT_FALSE(s.Slide->StillFrom(4000));
  // The cell of frame 6: column 2, row 1.
  const TFloatRect r = a->FrameRect(6);
  EXPECT_FLOAT_EQ(r.Left, 20);
  EXPECT_FLOAT_EQ(r.Top, 10);
  EXPECT_FLOAT_EQ(a->GetDrawParams().SourceRect.Left, a->FrameRect(a->FrameIndex()).Left);
  // Zero columns and rows, zero intervals and a huge count: frame 0, no hang.
  auto* b = dynamic_cast<TKavImage*>(s.At(1));
  s.Slide->SetTime(true, 3000);
  EXPECT_EQ(b->FrameIndex(), 0);
}

// An animation that comes later changes the slide only once it is shown:
// the still wait ends at its window's start, then looks every frame.
TEST(KavImage, AnAnimationChangesTheSlideOnlyWhileShown) {
  THostSlide s(Sheet, Obj("a", "AniImage",
                          "ImageName=sheet.bmp\nAnimEnable=1\nAnimColumns=4\nAnimRows=2\nAnimCount=8\n"
                          "AnimInterval=100\nDeltaTime1=2000\n"));
  EXPECT_EQ(s.Slide->NextChange(500), 2000);
  EXPECT_TRUE(std::isinf(s.Slide->NextChange(500, false)));
  EXPECT_EQ(s.Slide->NextChange(2500), 2500);
  EXPECT_EQ(s.Slide->NextChange(2500, false), 2500);
}

// A picture placed by its keyframes, drawn through the draw manager.
TEST(KavImage, DrawnAtItsPlaceAndOpacity) {
  THostSlide s(HalfAndHalf, Obj("a", "Image",
                                "ImageName=pic.bmp\nFitMode=None\n" + KeyPoint("Time=0\nOpacity=50\n") +
                                    KeyPoint("Time=2000\nOpacity=50\nPosition=50,0\n")));
  s.Slide->SetTime(true, 1000);  // halfway: Pos.X 25, i.e. 240 px right of the centre
  const auto px = RenderSlide(s.Slide.get(), "image_half_opacity.png");
  // The picture is 200 x 100 slide pixels at 1/4 scale: 50 x 25 frame pixels
  // around (240 + 60, 135).
  const uint32_t left = PixelAt(px, 300 - 12, 135), right = PixelAt(px, 300 + 12, 135);
  // Half red over white, half blue over white.
  EXPECT_NEAR(int((left >> 16) & 0xFF), 255, 2);
  EXPECT_NEAR(int((left >> 8) & 0xFF), 128, 3);
  EXPECT_NEAR(int(right & 0xFF), 255, 2);
  EXPECT_NEAR(int((right >> 16) & 0xFF), 128, 3);
  // Outside the picture the page stays white.
  EXPECT_EQ(PixelAt(px, 300 - 30, 135) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(PixelAt(px, 300, 135 - 16) & 0xFFFFFF, 0xFFFFFFu);
}

// A JPEG whose header reads (64 x 32, three components) but whose data does
// not decode: it names a quantisation table it never defines.
std::vector<uint8_t> UndecodableJpeg() {
  std::vector<uint8_t> j = {0xFF, 0xD8,                                      // SOI
                            0xFF, 0xC0, 0, 17, 8, 0, 32, 0, 64, 3,           // SOF0: 8 bits, 32 rows, 64 columns
                            1,    0x22, 0, 2, 0x11, 0, 3, 0x11, 0,           // components, all on table 0
                            0xFF, 0xDA, 0, 12, 3, 1, 0, 2, 0x11, 3, 0x11, 0, 63, 0};  // SOS
  for (int i = 0; i < 600; ++i) j.push_back(uint8_t(i * 37 % 255));
  j.push_back(0xFF);
  j.push_back(0xD9);
  return j;
}

// A picture whose data turns out not to decode when it is prepared is drawn
// as the grey "Image load error:" placeholder, as one no decoder takes is;
// the same name asked for again is the placeholder at once.
TEST(KavImage, UndecodablePictureIsThePlaceholder) {
  THostSlide s([](TShowFolder& f) { f.Write("bad.jpg", UndecodableJpeg()); },
               Obj("a", "Image", "ImageName=bad.jpg\n" + KeyPoint("Time=0\nScaleX=50\nScaleY=50\n")));
  auto* a = dynamic_cast<TKavImage*>(s.At(0));
  ASSERT_NE(a->Picture(), nullptr);
  EXPECT_EQ(a->Picture()->Width(), 64);  // the header's size: nothing decoded yet
  TFrameDumper dumper(480, 270);
  TDrawerResourceVisitor visitor(dumper.Drawer());
  s.Slide->PrepareResources(&visitor);
  const auto px = RenderSlideWith(dumper, s.Slide.get(), "image_undecodable.png");
  EXPECT_NE(a->Picture()->Width(), 64);
  // The placeholder's grey around its text in the middle of the frame, its
  // light letters within it.
  EXPECT_EQ(PixelAt(px, 240 - 50, 135) & 0xFFFFFF, 0x646464u);
  int light = 0;
  for (int32_t x = 180; x < 300; ++x)
    for (int32_t y = 115; y < 155; ++y) light += (PixelAt(px, x, y) & 0xFF) > 0xC0 ? 1 : 0;
  EXPECT_GT(light, 20);
  EXPECT_EQ(LoadImageHandle(s.Files.get(), u"bad.jpg")->Store(), a->Picture()->Store());
}

// A placeholder is shown whole under a cover fit, which would crop its
// message to the middle ("ge load e"): its letters lie inside the frame
// with grey around them on every side.
TEST(KavImage, PlaceholderShownWholeUnderCover) {
  THostSlide s([](TShowFolder& f) { f.Write("bad.jpg", UndecodableJpeg()); },
               Obj("a", "Image",
                   "ImageName=bad.jpg\nFitMode=Cover\n" + KeyPoint("Time=0\nScaleX=100\nScaleY=100\n")));
  TFrameDumper dumper(480, 270);
  TDrawerResourceVisitor visitor(dumper.Drawer());
  s.Slide->PrepareResources(&visitor);
  const auto px = RenderSlideWith(dumper, s.Slide.get(), "image_placeholder_cover.png");
  int32_t left = 480, right = -1, top = 270, bottom = -1;
  for (int32_t y = 0; y < 270; ++y)
    for (int32_t x = 0; x < 480; ++x)
      if ((PixelAt(px, x, y) & 0xFF) > 0xC0 && (PixelAt(px, x, y) & 0xFFFFFF) != 0xFFFFFFu)
        left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
  ASSERT_GE(right, left);
  // Grey margins left and right of the letters, above and below them, all
  // inside the frame.
  ASSERT_TRUE(left >= 2 && right <= 477 && top >= 2 && bottom <= 267)
      << left << " " << right << " " << top << " " << bottom;
  EXPECT_EQ(PixelAt(px, left - 2, (top + bottom) / 2) & 0xFFFFFF, 0x646464u);
  EXPECT_EQ(PixelAt(px, right + 2, (top + bottom) / 2) & 0xFFFFFF, 0x646464u);
  EXPECT_EQ(PixelAt(px, (left + right) / 2, top - 2) & 0xFFFFFF, 0x646464u);
  EXPECT_EQ(PixelAt(px, (left + right) / 2, bottom + 2) & 0xFFFFFF, 0x646464u);
  // The picture does not cover the page: the slide's white shows around it.
  EXPECT_EQ(PixelAt(px, 240, 1) & 0xFFFFFF, 0xFFFFFFu);
}

// So is a slide's background picture: the placeholder is tiled in its place.
TEST(KavImage, UndecodableBackgroundIsThePlaceholder) {
  THostSlide s([](TShowFolder& f) { f.Write("bad.jpg", UndecodableJpeg()); }, "");
  s.Slide->ForegroundOnly = false;
  s.Slide->SetBackStyle(3);
  s.Slide->SetBackImageName(u"bad.jpg");
  TFrameDumper dumper(480, 270);
  TDrawerResourceVisitor visitor(dumper.Drawer());
  s.Slide->PrepareResources(&visitor);
  const auto px = RenderSlideWith(dumper, s.Slide.get(), "background_undecodable.png");
  // The placeholder's grey at the left edge, where its text leaves a margin.
  EXPECT_EQ(PixelAt(px, 2, 135) & 0xFFFFFF, 0x646464u);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A shadow falls below and to the right (45 degrees) of its object.
TEST(KavImage, ShadowOffsetBelowTheObject) {
  THostSlide s(HalfAndHalf, test::Obj("a", "Image",
                                      "ImageName=pic.bmp\nFitMode=None\nShadowEnable=1\nShadowDistance=40\n"
                                      "ShadowOpacity=100\nShadowColor=0,0,0,255\nShadowSize=1\n") +
                                test::Obj("b", "Box", "Size=200,100\nFitMode=None\nPosMode=Absolute\nShadowEnable=1\n"
                                                      "ShadowDistance=40\nShadowOpacity=100\nShadowColor=0,0,0,255\n"
                                                      "ShadowSize=1\nColor1=0,255,0\n" +
                                                          test::KeyPoint("Time=0\nPosition=-600,-300\n")));
  s.Slide->SetTime(true, 100);
  const auto px = RenderSlide(s.Slide.get(), "image_shadow.png");
  // The picture covers frame pixels 215..265 x 122..147; its shadow is
  // moved by 40 x cos 45 slide pixels (7 frame pixels) right and down.
  EXPECT_EQ(PixelAt(px, 269, 151) & 0xFFFFFF, 0u);
  EXPECT_EQ(PixelAt(px, 269, 124) & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(PixelAt(px, 212, 151) & 0xFFFFFF, 0xFFFFFFu);
  // The box's shadow the same way, in the shadow colour.
  EXPECT_LT(PixelAt(px, 112, 74) & 0xFF, 0x20u);
  EXPECT_EQ(PixelAt(px, 117, 49) & 0xFFFFFF, 0xFFFFFFu);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A picture shown at a quarter of its size is drawn from the level the
// slide's survey asks for.
TEST(KavImage, MipLevelFromTheSurvey) {
  THostSlide s(HalfAndHalf, test::Obj("a", "Image", "ImageName=pic.bmp\nFitMode=None\n" +
                                                        test::KeyPoint("Time=0\nScaleX=25\nScaleY=25\n")));
  auto* a = dynamic_cast<TKavImage*>(s.At(0));
  EXPECT_NEAR(a->RequiredResolution().x, 50, 0.5);
  EXPECT_EQ(a->MipLevel(), 1);  // 100 x 50 still covers 50 x 25
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// On a display of another profile a picture is drawn through its colour
// lookup: sRGB red is less saturated in AdobeRGB.
TEST(KavImage, ColourManagedThroughItsLookup) {
  THostSlide s([](TShowFolder& f) { f.Write("red.bmp", Bmp32(64, 64, [](int32_t, int32_t) { return 0xFFFF0000u; })); },
               "");
  s.Host->OutputProfile = Ref<TColorProfile>(GetStandardColorProfile(u"AdobeRGB"));
  auto doc = test::Doc(Obj("root", "Frame", Obj("a", "Image", "ImageName=red.bmp\nFitMode=None\n")));
  auto props = MakeRef<TKavObjectProps>();
  Ref<TKavSlide> slide = test::LoadTestSlide(s.Host.get(), props.get(), doc.get(), s.Timing);
  auto* a = dynamic_cast<TKavImage*>(slide->GetChild(0));
  if (!a->ColorTransform()) GTEST_SKIP() << "no colour transform (Little CMS missing)";
  EXPECT_TRUE(a->ForceColorGrade());
  const auto px = RenderSlide(slide.get(), "image_colour_managed.png");
  const uint32_t c = PixelAt(px, 240, 135);
  EXPECT_LT(int((c >> 16) & 0xFF), 240);  // converted
  EXPECT_GT(int((c >> 16) & 0xFF), 180);
  EXPECT_LT(int((c >> 8) & 0xFF), 40);
  // With colour management off the picture is drawn as it is.
  ColorManagementOff = 1;
  auto* b = dynamic_cast<TKavImage*>(slide->GetChild(0));
  b->SetImageName(u"red.bmp ");
  b->SetImageName(u"red.bmp");
  slide->SetTime(true, 10);
  EXPECT_EQ(b->ColorTransform(), nullptr);
  ColorManagementOff = 0;
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

// A colour filter keyed in on the second keyframe is drawn at the strength
// of the time between the two: red inverted halfway is grey.
TEST(KavImage, ColourFiltersBetweenKeyframes) {
  THostSlide s([](TShowFolder& f) { f.Write("red.bmp", Bmp32(64, 64, [](int32_t, int32_t) { return 0xFFFF0000u; })); },
               Obj("a", "Image", "ImageName=red.bmp\nFitMode=None\n" + KeyPoint("Time=0\n") +
                                     KeyPoint("Time=2000\nobject f:Invert\nend\n")));
  TFrameDumper dumper(480, 270);
  auto sample = [&](double t, const std::string& name) {
    s.Slide->SetTime(true, t);
    return PixelAt(test::RenderSlideWith(dumper, s.Slide.get(), name), 240, 135);
  };
  const uint32_t start = sample(0, "image_filter_0.png");
  EXPECT_EQ(start & 0xFFFFFF, 0xFF0000u);
  const uint32_t half = sample(1000, "image_filter_half.png");
  EXPECT_NEAR(int((half >> 16) & 0xFF), 128, 6);
  EXPECT_NEAR(int((half >> 8) & 0xFF), 128, 6);
  const uint32_t end = sample(2000, "image_filter_end.png");
  EXPECT_NEAR(int((end >> 16) & 0xFF), 0, 4);
  EXPECT_NEAR(int(end & 0xFF), 255, 4);
}

}  // namespace
}  // namespace kav
