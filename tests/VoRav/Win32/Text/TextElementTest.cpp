#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxImageHook.h"
#include "VoRav/Win32/Text/winFontThread.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/Win32/Text/winTextElement.h"
#include "VoRav/vxMonitors.h"
#include "VoRav/wpThreads2.h"

namespace kav {
namespace {

TFontDesc Font(const char16_t* face, float size = 24, uint8_t style = 0, bool transparent = true) {
  TFontDesc d;
  FontDescSetAll(d, face, size, style, TRGBTriple{255, 255, 255}, TRGBTriple{0, 0, 0}, transparent);
  return d;
}

Ref<TWinTextElement> Element(const std::u16string& text, const TFontDesc& font, TTextDirection dir = tdNone) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(font, dir);
  e->InsertText(0, text, int32_t(text.size()), 0);
  return e;
}

int32_t CountBreaks = 0;
int32_t BreakOne(void*, TTextElement*, int32_t count, int32_t) {
  ++CountBreaks;
  return count - 1;
}

TEST(TextElement, EmptyElement) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(Font(u"Arial"), tdNone);
  TTextBounds b;
  e->GetTextBounds(b);
  EXPECT_EQ(b.Advance, 0);
  EXPECT_EQ(b.InkWidth, 0);
  EXPECT_EQ(e->Width(), 0);
  EXPECT_EQ(e->FitCount(0, 100, TBreakBackProc::FromFunction(&BreakOne, nullptr)), 0);
  EXPECT_EQ(e->GlyphCount(), 0);
}

TEST(TextElement, SizeDefaultsAndInsertionPositions) {
  TFontDesc f = Font(u"Arial", -3);
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(f, tdNone);
  EXPECT_EQ(e->Font().Size, 8.0f);
  e->InsertText(0, u"bc", 2, 0);
  e->InsertText(-5, u"a", 1, 0);   // before the start: at the start
  e->InsertText(99, u"xyd", 1, 2);  // past the end: appended; start picks "d"
  e->InsertText(1, u"Q", 5, -3);    // count and start clamped
  EXPECT_EQ(e->Text(), u"aQbcd");
  EXPECT_EQ(e->Length(), 5);
}

TEST(TextElement, LatinWidthsCaretsAndFitting) {
  Ref<TWinTextElement> e = Element(u"Hello world", Font(u"Arial"));
  const int32_t w = e->Width();
  EXPECT_GT(w, 100);
  // Carets ascend and end at the advance.
  int32_t prev = -1;
  for (int32_t i = 0; i < e->Length(); ++i) {
    int32_t l, r;
    e->GetCaretPos(i, l, r);
    EXPECT_GT(r, l);
    EXPECT_GT(l, prev);
    prev = l;
  }
  int32_t l, r;
  e->GetCaretPos(e->Length() - 1, l, r);
  EXPECT_EQ(r, w);
  // Widths of both ends are measured and cached; the sum is about the whole.
  const int32_t a = e->PartWidth(0, 5), b = e->PartWidth(5, 6);
  EXPECT_NEAR(a + b, w, 2);
  EXPECT_EQ(e->PartWidth(0, 5), a);
  // The whole text fits: no break routine call.
  CountBreaks = 0;
  EXPECT_EQ(e->FitCount(0, w, TBreakBackProc::FromFunction(&BreakOne, nullptr)), 11);
  EXPECT_EQ(CountBreaks, 0);
  const int32_t n = e->FitCount(0, a, TBreakBackProc::FromFunction(&BreakOne, nullptr));
  EXPECT_EQ(n, 5);
  EXPECT_GT(CountBreaks, 0);
  // A break routine that never shortens ends the fitting.
  EXPECT_EQ(e->FitCount(0, 1, TBreakBackProc::FromFunction(
                                  [](void*, TTextElement*, int32_t c, int32_t) { return c; }, nullptr)),
            0);
  TTextMetrics m;
  e->GetFontMetrics(m);
  EXPECT_EQ(m.Height, m.Ascent + m.Descent);
  EXPECT_LT(e->UnderlinePosition(), 0);
  EXPECT_GE(e->UnderlineThickness(), 1);
}

TEST(TextElement, RightToLeftCaretsAndExtents) {
  // Hebrew: the first character's caret is at the right.
  Ref<TWinTextElement> e = Element(u"\u05E9\u05DC\u05D5\u05DD", Font(u"DejaVu Sans"));
  int32_t l0, r0, l3, r3;
  e->GetCaretPos(0, l0, r0);
  e->GetCaretPos(3, l3, r3);
  EXPECT_GT(l0, l3);
  EXPECT_EQ(l0, e->Width());
  EXPECT_EQ(r3, 0);  // the end caret lies at the left edge
  // With a right-to-left override even Latin text gets carets at the right.
  Ref<TWinTextElement> o = Element(u"abc", Font(u"Arial"), tdRightToLeftOverride);
  int32_t l, r;
  o->GetCaretPos(2, l, r);
  EXPECT_LT(r, l);  // the end caret lies left of the last caret
}

TEST(TextElement, ClustersAndGlyphRecords) {
  Ref<TWinTextElement> e = Element(u"e\u0301x", Font(u"DejaVu Sans"));
  EXPECT_FALSE(e->IsClusterContinuation(0));
  EXPECT_TRUE(e->IsClusterContinuation(1));
  EXPECT_FALSE(e->IsClusterContinuation(2));
  EXPECT_FALSE(e->IsClusterContinuation(7));
  TGlyphRecord g;
  e->GetGlyph(e->GlyphCount() - 1, g);
  EXPECT_EQ(g.FontKey, u"DejaVu Sans:");
  EXPECT_GT(g.PenX, 0);
  EXPECT_EQ(g.Advance, g.A + g.B + g.C);
  EXPECT_EQ(g.Height, g.Ascent + g.Descent);
  // Beyond every glyph: the element's key and size, no metrics.
  e->GetGlyph(99, g);
  EXPECT_EQ(g.FontKey, u"DejaVu Sans:");
  EXPECT_EQ(g.FontSize, 24.0f);
  EXPECT_EQ(g.Ascent, 0);
  EXPECT_EQ(g.Advance, 0);
}

// Each glyph's pen is the run's start plus the advances before it, and its
// metrics are its run font's, over runs of different fonts (kept from the
// layout, so that long texts are not quadratic).
TEST(TextElement, GlyphRecordsFollowTheRuns) {
  Ref<TWinTextElement> e = Element(u"ab\u4F60\u597Dcd", Font(u"Arial"));
  ASSERT_GE(e->Runs().size(), 2u);
  int32_t index = 0, run_pen = 0;
  for (const TTextRun& run : e->Runs()) {
    const TTextMetrics m = GetTextMetricsOf(CreateFontHandle(run.Font).get());
    int32_t pen = run_pen;
    for (int32_t k = 0; k < run.GlyphCount; ++k, ++index) {
      TGlyphRecord g;
      e->GetGlyph(index, g);
      EXPECT_EQ(g.PenX, pen) << index;
      EXPECT_EQ(g.Ascent, m.Ascent) << index;
      EXPECT_EQ(g.Descent, m.Descent) << index;
      pen += run.Dx[size_t(k)];
    }
    run_pen += run.Width;
  }
  EXPECT_EQ(index, e->GlyphCount());
  // Laid out again after an insertion: the records follow the new layout.
  e->InsertText(0, u"xyz", 3, 0);
  TGlyphRecord g;
  e->GetGlyph(3, g);
  EXPECT_EQ(g.PenX, e->RangeWidth(0, 3));
}

TEST(TextElement, MixedScriptsUseCoveringFontsAndStyleKeys) {
  Ref<TWinTextElement> e = Element(u"ab\u4F60\u597D", Font(u"Arial", 24, fsBold | fsItalic));
  ASSERT_EQ(e->Runs().size(), 2u);
  TGlyphRecord g;
  e->GetGlyph(0, g);
  EXPECT_EQ(g.FontKey, u"Arial:Bold,Italic");
  e->GetGlyph(2, g);
  EXPECT_NE(g.FontKey, u"Arial:Bold,Italic");
  EXPECT_NE(g.GlyphIndex, 0);  // not the missing glyph
  EXPECT_NE(g.FontKey.find(u":Bold,Italic"), std::u16string::npos);
  // A sub-element holds its range in the same font.
  Ref<TTextElement> sub = e->CreateSubElement(2, 2);
  EXPECT_EQ(sub->Length(), 2);
  EXPECT_EQ(static_cast<TWinTextElement*>(sub.get())->Text(), u"\u4F60\u597D");
}

TEST(TextElement, RunFilterSendsRunsElsewhere) {
  Ref<TWinTextElement> e = MakeRef<TWinTextElement>(Font(u"Arial"), tdNone);
  e->SetRunFilter(TRunFilter::FromFunction(
      [](void*, TWinTextElement*, const TFontDesc& f) { return f.FaceName != u"Arial"; }, nullptr));
  e->InsertText(0, u"Hi", 2, 0);
  ASSERT_FALSE(e->Runs().empty());
  for (const TTextRun& r : e->Runs()) EXPECT_NE(r.Font.FaceName, u"Arial");
}

TEST(TextElement, BlankTextDrawsOnlyItsBackground) {
  std::vector<uint32_t> px(40 * 30, 0x12345678);
  const ptext::TTextTarget t{reinterpret_cast<uint8_t*>(px.data()), 40, 30, 160};
  Ref<TWinTextElement> e = Element(u"  \t ", Font(u"Arial", 12, 0, false));
  e->DrawToDC(TPoint{0, 0}, TRect{0, 0, 40, 30}, t);
  for (uint32_t p : px) EXPECT_EQ(p, 0xFF000000u);
  Ref<TWinTextElement> ink = Element(u"Ig", Font(u"Arial", 12, 0, true));
  ink->DrawToDC(TPoint{2, 2}, TRect{0, 0, 40, 30}, t);
  int lit = 0;
  for (uint32_t p : px) lit += (p & 0xFF) > 0x80;
  EXPECT_GT(lit, 10);
}

TEST(TextElement, BoundsOfTransparentAndUnderlinedText) {
  Ref<TWinTextElement> e = Element(u"jaj", Font(u"Liberation Serif", 40, fsItalic));
  TRect r;
  e->GetBounds(TPoint{10, 20}, r);
  TTextBounds b;
  e->GetTextBounds(b);
  EXPECT_EQ(r.Left, 10 + b.InkLeft);
  EXPECT_EQ(r.Right, r.Left + b.InkWidth + 2);
  Ref<TWinTextElement> u = Element(u"jaj", Font(u"Liberation Serif", 40, fsUnderline));
  TRect ru;
  u->GetBounds(TPoint{10, 20}, ru);
  TTextMetrics m;
  u->GetFontMetrics(m);
  EXPECT_GE(ru.Bottom, 20 + m.Ascent - u->UnderlinePosition() + u->UnderlineThickness());
  EXPECT_LE(ru.Left, 10);
}

TEST(FontUtils, FaceNamesAreCutToFitAndSizesConvert) {
  const std::u16string longname(40, u'x');
  ptext::PFont f = CreateFontFromDesc(longname, 96, fsBold, 12);
  EXPECT_EQ(f->Request().FaceName.size(), kMaxFaceNameLength);
  EXPECT_EQ(f->Request().Height, -16);
  EXPECT_EQ(f->Request().Weight, 700);
  const TFontDesc back = LogFontToFontDesc(f->Request(), 96);
  EXPECT_EQ(back.Size, 12.0f);
  EXPECT_EQ(back.Style, fsBold);
  const TFontDesc gui = GetDefaultGuiFont();
  EXPECT_EQ(gui.FaceName, u"Tahoma");
  EXPECT_EQ(gui.Size, 8.25f);
  EXPECT_EQ(gui.Mode, 0);
}

TEST(FontUtils, SizeForPixelHeight) {
  TFontDesc f = Font(u"DejaVu Sans", 10);
  const float size = SizeForPixelHeight(f, 22);
  ASSERT_GT(size, 0);
  f.Size = size;
  EXPECT_NEAR(GetTextMetricsOf(CreateFontHandle(f).get()).Height, 22, 1);
  EXPECT_EQ(SizeForPixelHeight(f, 0), 0.0f);
  EXPECT_EQ(SizeForPixelHeight(f, -4), 0.0f);
}

TEST(FontUtils, RenderTextRecoversAlphaOverAnInvertedBackground) {
  // White text on a near-white background: the background becomes black
  // before the alpha is recovered, so the text still shows.
  TFontDesc f;
  FontDescSetAll(f, u"DejaVu Sans", 20, 0, TRGBTriple{250, 250, 250}, TRGBTriple{245, 240, 250}, true);
  TPoint origin;
  Ref<TImage> img = FontUtils()->RenderText(f, u"Ag", origin, 2, 0);
  ASSERT_TRUE(img);
  Ref<TBitmap> bmp = img->Store()->GetMipLevel(0, PixelFormatByName("A8R8G8B8"), &TDirectBitmap::kClass);
  ASSERT_TRUE(bmp);
  auto* d = static_cast<TDirectBitmap*>(bmp.get());
  int opaque = 0, clear = 0;
  for (int32_t y = 0; y < d->Height(); ++y)
    for (int32_t x = 0; x < d->Width(); ++x) {
      const uint32_t p = *reinterpret_cast<const uint32_t*>(d->PixelAddress(x, y));
      if (p >> 24 == 255) {
        ++opaque;
        EXPECT_EQ(p & 0xFFFFFF, 0xFAFAFAu);
      }
      if (p == 0) ++clear;
    }
  EXPECT_GT(opaque, 10);
  EXPECT_GT(clear, 10);
  EXPECT_FALSE(FontUtils()->RenderText(f, u"Ag", origin, 0, 0));
  EXPECT_GT(FontUtils()->TextWidth(f, u"Ag", 2, 0), 10);
}

// About `units` code units of Latin words.
std::u16string LongText(size_t units) {
  const char16_t* words[] = {u"Lorem", u"ipsum", u"dolor", u"sit", u"amet", u"consectetur", u"adipiscing", u"elit"};
  std::u16string text;
  for (int i = 0; text.size() < units; ++i) {
    text += words[(i * 7) % 8];
    text += u' ';
  }
  text.resize(units);
  return text;
}

// Lays a text out on a thread of its own; `stop_first` asks the thread to
// stop before the layout starts, else once it has started.
class TLayoutThread : public TThread {
 public:
  TLayoutThread(std::u16string text, bool stop_first) : text_(std::move(text)), stop_first_(stop_first) {}
  std::atomic<bool> started{false};
  Ref<TWinTextElement> element;

 protected:
  void Execute() override {
    while (stop_first_ && !Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    element = MakeRef<TWinTextElement>(Font(u"DejaVu Sans"), tdNone);
    started = true;
    element->InsertText(0, text_, int32_t(text_.size()), 0);
  }

 private:
  std::u16string text_;
  bool stop_first_;
};

TEST(TextElement, ALayoutOnAThreadAskedToStopIsGivenUpAndShowsNothing) {
  const std::u16string text = LongText(990000);
  {
    Ref<TLayoutThread> t = MakeRef<TLayoutThread>(text, true);
    ASSERT_TRUE(t->Start());
    t->Terminate();
    ASSERT_TRUE(t->WaitFor(120000));
    ASSERT_TRUE(t->element);
    EXPECT_TRUE(t->element->LayoutCancelled());
    EXPECT_EQ(t->element->GlyphCount(), 0);
    EXPECT_EQ(t->element->Width(), 0);
    EXPECT_TRUE(t->element->Runs().empty());
    EXPECT_EQ(t->element->Length(), int32_t(text.size()));
  }
  {
    // Characters the font lacks send the layout to the fallback fonts, whose
    // placement a stopping thread gives up: nothing is read from it.
    Ref<TLayoutThread> t = MakeRef<TLayoutThread>(u"abc \u6F22\u5B57 \u0E01\u0E32 def", true);
    ASSERT_TRUE(t->Start());
    t->Terminate();
    ASSERT_TRUE(t->WaitFor(120000));
    ASSERT_TRUE(t->element);
    EXPECT_EQ(t->element->GlyphCount(), 0);
  }
  {
    // Asked while it works: the layout (seconds for this text) gives up.
    Ref<TLayoutThread> t = MakeRef<TLayoutThread>(text, false);
    ASSERT_TRUE(t->Start());
    while (!t->started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    t->Terminate();
    ASSERT_TRUE(t->WaitFor(120000));
    EXPECT_TRUE(t->element->LayoutCancelled());
    EXPECT_EQ(t->element->GlyphCount(), 0);
  }
  {
    // On the worker of an active monitor (the loader's image tasks), asked
    // through its monitor while it works: the same.
    auto m = MakeRef<TActiveMonitor>();
    std::atomic<bool> started{false};
    Ref<TWinTextElement> element = MakeRef<TWinTextElement>(Font(u"DejaVu Sans"), tdNone);
    auto body = [&] {
      started = true;
      element->InsertText(0, text, int32_t(text.size()), 0);
    };
    using TBody = decltype(body);
    const TActiveProc proc =
        TActiveProc::FromFunction([](void* ctx, void*) { (*static_cast<TBody*>(ctx))(); }, &body);
    ASSERT_TRUE(m->Run(proc, nullptr, false));
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    m->Terminate();
    m->WaitFor();
    EXPECT_TRUE(element->LayoutCancelled());
    EXPECT_EQ(element->GlyphCount(), 0);
  }
  // On a thread nobody stops, and on threads that are no TThread, the text
  // is laid out whole.
  Ref<TWinTextElement> e = Element(text.substr(0, 2000), Font(u"DejaVu Sans"));
  EXPECT_FALSE(e->LayoutCancelled());
  EXPECT_GT(e->GlyphCount(), 1000);
}

TEST(TextElement, ATextLongerThanPlacementTakesShowsNoGlyphs) {
  const std::u16string text = LongText(1000001);
  Ref<TWinTextElement> e = Element(text, Font(u"DejaVu Sans"));
  EXPECT_EQ(e->Length(), int32_t(text.size()));
  EXPECT_EQ(e->GlyphCount(), 0);
  EXPECT_EQ(e->Width(), 0);
}

TEST(FontThread, ListsInstalledFamiliesAndStops) {
  Ref<TFontThread> t = CreateFontThread();
  bool listed = false;
  for (int tries = 0; tries < 3000 && !listed; ++tries) {  // 30 s at least: a loaded machine
    t->Enter();
    int32_t index;
    listed = t->FontList() && t->FontList()->Find(u"dejavu sans", index);
    if (listed) {
      auto* info = static_cast<TFontInfo*>(t->FontList()->GetObject(index));
      EXPECT_EQ(info->FaceName, u"DejaVu Sans");
      EXPECT_TRUE(info->Scalable);
    }
    t->Leave();
    if (!listed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(listed);
  t->TerminateAndWait();
}

}  // namespace
}  // namespace kav
