#include <gtest/gtest.h>

#include "KavLib2/KavObjects/KavButton.h"
#include "KavLib2/KavObjects/KavText.h"
#include "ShowFolderTestUtil.h"
#include "../../VoRav/LogCapture.h"
#include "VoRav/Graphics/Effects2D/ButtonGenerator.h"

namespace kav {
namespace {

using test::KeyPoint;
using test::Obj;
using test::PixelAt;
using test::RenderSlide;
using test::THostSlide;
using test::TShowFolder;

// The "aqua" theme: a 30 x 20 green skin, yellow captions inset by 20 %.
void Aqua(TShowFolder& f) {
  test::WriteButtonTheme(f, "aqua", 0xFF00C000u, "  Color=255,255,0\r\n  BtnOffset=80\r\n  BtnMinWidth=300\r\n");
}

TEST(KavButton, ThemeFallbackWidthAndLooks) {
  THostSlide s(Aqua, Obj("b", "Button", "Theme=..\\..\\outside\nAction=next\n") +
                         Obj("c", "Button", "Theme=Aqua\nBtnMinWidth=0\nBtnOpacity=50\n"));
  auto* b = dynamic_cast<TKavButton*>(s.At(0));
  // A theme name that would leave the theme folder is refused: the button
  // takes "aqua".
  EXPECT_EQ(b->Theme(), u"aqua");
  ASSERT_NE(b->Producer(), nullptr);
  EXPECT_TRUE(b->Producer()->Loaded());
  EXPECT_EQ(b->ButtonHeight(), 20);
  // Without a caption the theme's own width.
  EXPECT_EQ(b->Picture()->Width(), 30);
  auto* c = dynamic_cast<TKavButton*>(s.At(1));
  EXPECT_EQ(c->Picture()->Width(), 30);
  EXPECT_FLOAT_EQ(c->DrawOpacity(), 50.0f);
  // The caption rule: ratio 3 at height 40, offset 100, no minimum width.
  c->SetCaptionAspect(3.0);
  EXPECT_EQ(c->ButtonWidth(), 20 * 3 + 20);
  // Looks: each is made once; hovering again reuses the cached picture.
  test::TRecordingDrawer drawer;
  TDrawerResourceVisitor visitor(&drawer);
  s.Slide->PrepareResources(&visitor);
  const size_t prepared = drawer.Prepared.size();
  EXPECT_GE(prepared, 3u);
  b->SetLook(1);
  s.Slide->SetTime(true, 10);
  TImage* hover = b->Picture();
  b->SetLook(0);
  s.Slide->SetTime(true, 20);
  b->SetLook(1);
  s.Slide->SetTime(true, 30);
  EXPECT_EQ(b->Picture(), hover);
}

// The theme folder itself a link that leads out of the show: its themes are
// not read, like any other show name through such a link.
TEST(KavButton, ALinkedThemeFolderOutsideTheShowIsNotRead) {
  TShowFolder outside;
  Aqua(outside);
  test::THostFixture h;
  h.Files->SetFolder(h.Folder.Wide());
  ASSERT_EQ(symlink((outside.Dir / "buttons").c_str(), (h.Folder.Dir / "buttons").c_str()), 0);
  Ref<TKavObjectProps> props = MakeRef<TKavObjectProps>();
  Ref<TIniFile> doc = test::Doc(Obj("root", "Frame", Obj("b", "Button", "Theme=aqua\n")));
  Ref<TKavSlide> slide = test::LoadTestSlide(h.Host.get(), props.get(), doc.get(), TSlideLengths{6000, 1000, 500});
  auto* b = dynamic_cast<TKavButton*>(slide->GetChild(0));
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->Producer() == nullptr || !b->Producer()->Loaded());
  // A link that stays inside the show is read.
  test::THostFixture in;
  in.Files->SetFolder(in.Folder.Wide());
  Aqua(in.Folder);
  std::filesystem::rename(in.Folder.Dir / "buttons", in.Folder.Dir / "themes");
  ASSERT_EQ(symlink("themes", (in.Folder.Dir / "buttons").c_str()), 0);
  slide = test::LoadTestSlide(in.Host.get(), MakeRef<TKavObjectProps>().get(), doc.get(), TSlideLengths{6000, 1000, 500});
  b = dynamic_cast<TKavButton*>(slide->GetChild(0));
  ASSERT_NE(b, nullptr);
  ASSERT_NE(b->Producer(), nullptr);
  EXPECT_TRUE(b->Producer()->Loaded());
}

TEST(KavText, LinesColoursAndCaption) {
  THostSlide s(Aqua, Obj("t", "Text", "Text=\"\"\nTextColor=255,0,0\nTextColorClick=0,0,255\nLineSpacing=-500\n") +
                         Obj("b", "Button", "Theme=aqua\n" +
                                                Obj("cap", "Text", "Text=\"Go\r\nsecond line\"\n" +
                                                                       KeyPoint("Time=0\n"))) +
                         Obj("m", "Text", "Text=\"<%SlideIndex%>/<%SlidesCount%><%MainImg.Width%>\"\n"));
  auto* t = dynamic_cast<TKavText*>(s.At(0));
  // An empty text renders as one blank; the line spacing is held above -200.
  ASSERT_EQ(t->Lines().size(), 1u);
  EXPECT_EQ(t->Lines()[0], u" ");
  EXPECT_EQ(t->LineSpacing, -199);
  EXPECT_TRUE(t->ShadowEnable());
  // Hover without its own colour keeps the normal one; the drawn colours
  // went through the host's transform.
  EXPECT_EQ(t->TextColorHover, t->TextColor);
  t->SetLook(2);
  EXPECT_EQ(t->GetDrawParams().Color & 0xFFFFFF, 0x0000FFu);
  EXPECT_TRUE(t->GetDrawParams().Colorize);
  // The caption: first line only, no shadow, transparent for clicks, theme
  // colour, and its button's opacity.
  auto* b = dynamic_cast<TKavButton*>(s.At(1));
  ASSERT_NE(b->Caption, nullptr);
  TKavText* cap = b->Caption;
  EXPECT_EQ(cap->Lines().size(), 1u);
  EXPECT_FALSE(cap->ShadowEnable());
  EXPECT_TRUE(cap->TranspForClick);
  EXPECT_EQ(cap->TextColor & 0xFFFFFF, 0xFFFF00u);
  // The theme's caption inset (BtnOffset 80) is on the caption's keyframe.
  EXPECT_DOUBLE_EQ(cap->CaptionScaleX(), 20.0);
  // Macros: slide number (1-based), slide count; no main picture: empty.
  s.Slide->SlideIndex = 2;
  s.Host->SlideCount = 10;
  auto* m = dynamic_cast<TKavText*>(s.At(2));
  EXPECT_EQ(m->ExpandedLines().at(0), u"3/10");
}

TEST(KavText, DrawnAtItsHeight) {
  THostSlide s(Aqua, Obj("t", "Text", "Text=\"HHHH\"\nTextColor=0,0,0\nShadowEnable=0\n" +
                                          KeyPoint("Time=0\nScaleX=20\nScaleY=20\n")));
  auto* t = dynamic_cast<TKavText*>(s.At(0));
  ASSERT_NE(t->Picture(), nullptr);
  EXPECT_GT(t->Picture()->Height(), 1);
  // A text's shadow has the shape of its letters, not of its rectangle.
  t->SetShadowEnable(true);
  s.Slide->SetTime(true, 1);
  ASSERT_NE(t->Shadow(), nullptr);
  EXPECT_NE(t->Shadow()->Image()->Params().Name.find(u"Text: "), std::u16string::npos);
  t->SetShadowEnable(false);
  s.Slide->SetTime(true, 2);
  const auto px = RenderSlide(s.Slide.get(), "text_black.png");
  // A line of 20 % of the slide's height is 54 frame pixels: the capitals'
  // rows take about 0.7 of it, centred on the slide.
  int rows = 0, first = -1;
  for (int y = 0; y < 270; ++y) {
    bool dark = false;
    for (int x = 0; x < 480 && !dark; ++x) dark = (PixelAt(px, x, y) & 0xFF) < 0x80;
    if (dark) {
      ++rows;
      if (first < 0) first = y;
    }
  }
  EXPECT_GE(rows, 32);
  EXPECT_LE(rows, 46);
  EXPECT_NEAR(first + rows / 2.0, 135, 6);
}

}  // namespace
}  // namespace kav

namespace kav {
namespace {

TEST(KavText, BitmapHeldToTwiceTheSlideAndCaptionsWithoutKeyframes) {
  THostSlide s(Aqua, test::Obj("t", "Text", "Text=\"Big\"\nShadowEnable=0\n" +
                                                test::KeyPoint("Time=0\nScaleX=5000\nScaleY=5000\n")) +
                         test::Obj("b", "Button", "Theme=aqua\n" + test::Obj("cap", "Text", "Text=\"Go\"\n")));
  auto* t = dynamic_cast<TKavText*>(s.At(0));
  ASSERT_NE(t->Picture(), nullptr);
  EXPECT_LE(t->Picture()->Height(), int32_t(kMaxTextBitmapFactor * 1080) + 1);
  EXPECT_LE(t->Picture()->Width(), int32_t(kMaxTextBitmapFactor * 1920) + 1);
  // A caption without keyframes takes no inset and stops nothing.
  auto* b = dynamic_cast<TKavButton*>(s.At(1));
  ASSERT_NE(b->Caption, nullptr);
  EXPECT_DOUBLE_EQ(b->Caption->CaptionScaleX(), 100.0);
  EXPECT_GE(b->ButtonWidth(), b->ButtonHeight());
}

// A long line is rendered at the height it is shown at, however wide that
// makes its picture (it runs off the slide's sides); only a picture above
// kMaxTextBitmapPixels is rendered smaller, which the log says once.
TEST(KavText, LongLinesKeepTheirLettersSharp) {
  std::string line;
  while (line.size() < 400) line += "First pictures of the sea. ";
  std::string longer;
  while (longer.size() < 6000) longer += "First pictures of the sea. ";
  test::TLogCapture log;
  THostSlide s(Aqua, test::Obj("t", "Text", "Text=\"" + line + "\"\nShadowEnable=0\n" +
                                                test::KeyPoint("Time=0\nScaleX=10\nScaleY=10\n")) +
                         test::Obj("u", "Text", "Text=\"" + longer + "\"\nShadowEnable=0\n" +
                                                    test::KeyPoint("Time=0\nScaleX=10\nScaleY=10\n")));
  auto* t = dynamic_cast<TKavText*>(s.At(0));
  ASSERT_NE(t->Picture(), nullptr);
  // Its line is 10 % of the 1080-pixel slide: the rendering's line is as
  // high, and the picture far wider than twice the slide.
  EXPECT_NEAR(t->FontSize(), 108, 2);
  EXPECT_GT(t->Picture()->Width(), 8 * 1920);
  EXPECT_GT(t->Size().x, 8 * 1920 * 0.9);
  auto* u = dynamic_cast<TKavText*>(s.At(1));
  ASSERT_NE(u->Picture(), nullptr);
  EXPECT_LE(int64_t(u->Picture()->Width()) * u->Picture()->Height(), kMaxTextBitmapPixels * 101 / 100);
  EXPECT_LT(u->FontSize(), 100);
  EXPECT_GT(u->FontSize(), 40);
  int said = 0;
  for (const std::u16string& l : log.Lines())
    if (l.find(u"The text \"First pictures of the sea. First picture...\" is rendered at ") == 0) ++said;
  EXPECT_EQ(said, 1);
}

// The picture of a long line is not kept beside the device's tiles once they
// hold it (it is rendered again should a tile need filling anew), and the
// slide still shows its letters.
TEST(KavText, LongLinePictureLetGoOnceTheTilesHoldIt) {
  std::string longer;
  while (longer.size() < 6000) longer += "First pictures of the sea. ";
  THostSlide s(Aqua, test::Obj("u", "Text", "Text=\"" + longer + "\"\nShadowEnable=0\nTextColor=0,0,0\n" +
                                                test::KeyPoint("Time=0\nScaleX=10\nScaleY=10\n")));
  auto* u = dynamic_cast<TKavText*>(s.At(0));
  ASSERT_NE(u->Picture(), nullptr);
  TFrameDumper dumper(480, 270);
  TDrawerResourceVisitor visitor(dumper.Drawer());
  s.Slide->PrepareResources(&visitor);
  EXPECT_EQ(u->Picture()->Store()->CachedCount(0), 0);
  const auto px = test::RenderSlideWith(dumper, s.Slide.get(), "text_long_line_let_go.png");
  int dark = 0;
  for (int32_t x = 0; x < 480; ++x)
    for (int32_t y = 120; y < 150; ++y) dark += (PixelAt(px, x, y) & 0xFF) < 0x40 ? 1 : 0;
  EXPECT_GT(dark, 200);
  EXPECT_EQ(u->Picture()->Store()->CachedCount(0), 0);
}

}  // namespace
}  // namespace kav

#include "../Zel.Exif/MetadataFixtures.h"

namespace kav {
namespace {

TEST(KavText, MainPictureMacros) {
  auto files = [](TShowFolder& f) {
    using namespace test;
    const Bytes exif = TTiffBuilder(false)
                           .Ascii(false, 0x010E, "A beach")
                           .Ascii(true, 0x9003, "2024:05:06 07:08:09")
                           .Build();
    Bytes iptc = Dataset(2, 80, Text("Ann"));
    Append(iptc, Dataset(2, 80, Text("Bob")));
    Append(iptc, Dataset(2, 90, Text("Paris")));
    f.Write("main.jpg", Jpeg({App1Exif(exif), App13({AdobeBlock(0x0404, "", iptc)})}));
  };
  THostSlide s(files, test::Obj("pic", "Image", "ImageName=main.jpg\nImageIndex=0\n") +
                          test::Obj("t", "Text",
                                    "Text=\"<%MainImg.Exif.Description%>|<%MainImg.Exif.Date%>|<%MainImg.Exif.Time%>|"
                                    "<%MainImg.IPTC.AuthorByline%>|<%MainImg.IPTC.City%>|"
                                    "<%MainImg.IPTC.Headline%>|<%MainImg.PathNameExt%>\"\n"));
  auto* t = dynamic_cast<TKavText*>(s.At(1));
  EXPECT_EQ(t->ExpandedLines().at(0), u"A beach|2024:05:06|07:08:09|Ann, Bob|Paris||main.jpg");
}

}  // namespace
}  // namespace kav
