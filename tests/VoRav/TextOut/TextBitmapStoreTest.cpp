#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>

#include "../Win32/Text/GrayPng.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/TextOut/vxTextBitmapStore.h"
#include "VoRav/Win32/Text/winFontUtils.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/wpExceptions.h"
#include "VoRav/wpThreads2.h"

namespace kav {
namespace {

// An accessor whose show holds the streams of `files` (by name).
struct TShowFiles {
  std::map<std::u16string, std::vector<uint8_t>> files;
  std::vector<std::u16string> asked;
  Ref<TStream> Open(const std::u16string& name) {
    asked.push_back(name);
    auto it = files.find(name);
    if (it == files.end()) return {};
    Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
    s->WriteBytes(it->second);
    s->SetPosition(0);
    return s;
  }
  Ref<TFileAccessor> Accessor() {
    Ref<TFileAccessor> a = CreateDefaultFileAccessor();
    a->SetFallbackOpener(TFallbackOpener::Bind<&TShowFiles::Open>(this));
    return a;
  }
};

std::vector<uint8_t> Bytes(TMemoryStream* s) {
  std::vector<uint8_t> out(size_t(s->GetSize()));
  s->SetPosition(0);
  s->Read(out, int64_t(out.size()));
  return out;
}

std::u16string Key(const std::u16string& face, double scale, const std::vector<std::u16string>& lines,
                   uint8_t style = 0) {
  TTextParams p;
  p.FaceName = face;
  p.Scale = scale;
  p.Style = style;
  return TextParamsKey(p, lines);
}

Ref<TDirectBitmap> Level(TBitmapStore* store, int32_t level) {
  Ref<TBitmap> b = store->GetMipLevel(level, PixelFormatByName("A8R8G8B8"), &TDirectBitmap::kClass);
  return Ref<TDirectBitmap>(static_cast<TDirectBitmap*>(b.get()));
}

int InkedPixels(TDirectBitmap* b) {
  int n = 0;
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) n += (*reinterpret_cast<const uint32_t*>(b->PixelAddress(x, y)) >> 24) > 128;
  return n;
}

// The scale that draws a text laid out from the installed fonts at the GUI
// font's 11-pixel em.
const double kGuiScale = 11.0 / kVectorTextLayoutEm;

class TextBitmapStore : public ::testing::Test {
 protected:
  void SetUp() override { InstallTextServices(); }
};

TEST_F(TextBitmapStore, BuiltFromInstalledFontsWhenTheShowHasNoLayout) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  const std::u16string key = Key(u"DejaVu Sans", 2 * kGuiScale, {u"Hello", u"world"});
  Ref<TTextBitmapStore> s = TTextBitmapStore::Create(key, a.get());
  ASSERT_EQ(show.asked.size(), 1u);
  EXPECT_EQ(show.asked[0], u"VectTxt2: DejaVu Sans::\"Hello\r\nworld\"");
  TSize size;
  s->GetPixelSize(size);
  EXPECT_EQ(s->Width(), size.cx);
  EXPECT_EQ(s->Height(), size.cy);
  EXPECT_NEAR(s->LineHeight(), 2 * GetTextMetricsOf(CreateFontHandle([] {
                                       TFontDesc f = GetDefaultGuiFont();
                                       f.FaceName = u"DejaVu Sans";
                                       return f;
                                     }()).get()).Height,
              1.0);
  Ref<TDirectBitmap> l0 = Level(s.get(), 0);
  EXPECT_EQ(l0->Width(), size.cx);
  EXPECT_GT(InkedPixels(l0.get()), 50);
  // The white text keeps white colour under its alpha.
  // Level 1 is halved from level 0.
  Ref<TDirectBitmap> l1 = Level(s.get(), 1);
  EXPECT_EQ(l1->Width(), (size.cx + 1) / 2);
  EXPECT_GE(s->GetNotifyList()->Count(), 1);
}

TEST_F(TextBitmapStore, ScalesShareOneLayoutAndMarkupIsStripped) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  Ref<TTextBitmapStore> s1 = TTextBitmapStore::Create(Key(u"Liberation Sans", kGuiScale, {u"a<<b"}), a.get());
  Ref<TTextBitmapStore> s3 = TTextBitmapStore::Create(Key(u"Liberation Sans", 3 * kGuiScale, {u"a<<b"}), a.get());
  ASSERT_EQ(show.asked.size(), 2u);
  EXPECT_EQ(show.asked[0], show.asked[1]);
  EXPECT_NEAR(double(s3->Width()) / s1->Width(), 3.0, 0.35);
  // "<<" draws one "<": three glyphs.
  EXPECT_EQ(s1->Text()->GetGlyphCount(0), 3);
  TRect r1, r3;
  s1->GetBoundsRect(r1, 0);
  s1->GetBoundsRect(r3, float(3 * kGuiScale));
  EXPECT_NEAR(double(r3.Right - r3.Left) / (r1.Right - r1.Left), 3.0, 0.3);
}

// A show whose glyphs live in its own caches renders the same on a machine
// without its face: the caches are copied under a face no machine has.
TEST_F(TextBitmapStore, ShowGlyphCachesStandInForMissingFonts) {
  const std::vector<std::u16string> lines = {u"Glyphs \u00E9\u4F60"};
  TShowFiles plain;
  Ref<TTextBitmapStore> live = TTextBitmapStore::Create(Key(u"DejaVu Serif", 1.5 * kGuiScale, lines), plain.Accessor().get());
  TShowFiles show;
  Ref<TCachedVectorText> text = BuildVectText(VectTxtKeyFromTextKey(Key(u"DejaVu Serif", 1, lines)));
  std::map<std::u16string, std::u16string> renamed;
  for (TGlyphLine& line : text->Lines())
    for (TGlyphPointer& p : line.Glyphs) {
      const std::u16string show_key = u"Show Face " + std::u16string(1, char16_t(u'A' + renamed.size())) + u":";
      if (!renamed.count(p.FontKey)) renamed[p.FontKey] = show_key;
      p.FontKey = renamed[p.FontKey];
      p.OffsetX = p.OffsetY = 0;
    }
  for (const auto& [live_key, show_key] : renamed) {
    int32_t index;
    Ref<TGlyphCache> from = FontCache()->Find(live_key, index);
    ASSERT_TRUE(from);
    Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
    from->SaveToStream(s.get());
    Ref<TGlyphCache> copy = MakeRef<TGlyphCache>();
    s->SetPosition(0);
    copy->LoadFromStream(s.get());
    s->Clear();
    copy->SaveToStream(s.get());
    std::vector<uint8_t> bytes = Bytes(s.get());
    // Patch the key in the stream: count, key length, key.
    std::vector<uint8_t> patched(bytes.begin(), bytes.begin() + 4);
    const int32_t old_len = int32_t(live_key.size());
    const int32_t new_len = int32_t(show_key.size());
    patched.insert(patched.end(), reinterpret_cast<const uint8_t*>(&new_len), reinterpret_cast<const uint8_t*>(&new_len) + 4);
    patched.insert(patched.end(), reinterpret_cast<const uint8_t*>(show_key.data()),
                   reinterpret_cast<const uint8_t*>(show_key.data()) + 2 * show_key.size());
    patched.insert(patched.end(), bytes.begin() + 8 + 2 * old_len, bytes.end());
    show.files[u"VectTextCache: " + show_key] = patched;
  }
  Ref<TMemoryStream> s = MakeRef<TMemoryStream>();
  SaveCachedVectorText(text.get(), s.get());
  const std::u16string key = Key(u"DejaVu Serif", 1.5 * kGuiScale, lines);
  show.files[VectTxtKeyFromTextKey(key)] = Bytes(s.get());
  Ref<TTextBitmapStore> cached = TTextBitmapStore::Create(key, show.Accessor().get());
  EXPECT_EQ(show.asked.size(), 1 + renamed.size());
  Ref<TDirectBitmap> a = Level(live.get(), 0), b = Level(cached.get(), 0);
  ASSERT_EQ(a->Width(), b->Width());
  ASSERT_EQ(a->Height(), b->Height());
  for (int32_t y = 0; y < a->Height(); ++y)
    ASSERT_EQ(std::memcmp(a->Row(y), b->Row(y), size_t(a->Width()) * 4), 0) << "row " << y;
}

TEST_F(TextBitmapStore, HostileLayoutStreamsRaise) {
  TShowFiles show;
  const std::u16string key = Key(u"Arial", 1, {u"x"});
  show.files[VectTxtKeyFromTextKey(key)] = {0xFF, 0xFF, 0xFF, 0x7F, 1, 2};
  EXPECT_THROW(TTextBitmapStore::Create(key, show.Accessor().get()), EStreamReadError);
  show.files[VectTxtKeyFromTextKey(key)] = {1, 0, 0};
  EXPECT_THROW(TTextBitmapStore::Create(key, show.Accessor().get()), EStreamReadError);
}

// Keys come from the show's text: extreme numbers give a bitmap within the
// limits, never a crash or an endless loop.
TEST_F(TextBitmapStore, ExtremeKeysStayWithinLimits) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  const std::vector<std::u16string> all = {
      u"Text: Arial:1e30:0:0::0:1:0:\"big\"",
      u"Text: Arial:-3:0:0::9:1:2000000000:\"a\r\nb\"",
      u"Text: Arial:nan:inf:-inf:Bold:1:nan:-99999:\"\"",
      u"Text: " + std::u16string(300, u'F') + u":0.001:0:0::2:1:0:\"tiny\"",
      u"Text:",
  };
  for (const std::u16string& key : all) {
    SCOPED_TRACE(std::string(key.begin(), key.begin() + std::min<size_t>(key.size(), 40)));
    Ref<TTextBitmapStore> s = TTextBitmapStore::Create(key, a.get());
    EXPECT_TRUE(BitmapSizeAllowed(s->Width(), s->Height(), 4));
    if (int64_t(s->Width()) * s->Height() <= 4000000) {
      Ref<TDirectBitmap> l0 = Level(s.get(), 0);
      EXPECT_EQ(l0->Width(), s->Width());
    }
  }
}

// Measures a text's store and draws its picture on a thread of its own,
// asked to stop before it starts when `stopped`.
class TStoreThread : public TThread {
 public:
  TStoreThread(TTextBitmapStore* store, bool stopped) : store_(store), stopped_(stopped) {}
  TRect bounds;
  Ref<TBitmap> picture;

 protected:
  void Execute() override {
    while (stopped_ && !Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    store_->GetBoundsRect(bounds, 0);
    picture = store_->GetMipLevel(0, PixelFormatByName("A8R8G8B8"), &TDirectBitmap::kClass);
  }

 private:
  Ref<TTextBitmapStore> store_;
  bool stopped_;
};

// On a worker asked to stop, the layout of a text's lines and the drawing
// of its glyphs give up (the long line's too): no picture. On a thread
// nobody stops, the picture is made whole.
TEST_F(TextBitmapStore, OnAThreadAskedToStopThePictureIsGivenUp) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  std::u16string line;
  while (line.size() < 2000) line += u"Lorem ipsum dolor sit amet ";
  Ref<TTextBitmapStore> s = TTextBitmapStore::Create(Key(u"DejaVu Sans", kGuiScale, {line, u"two"}), a.get());
  ASSERT_GT(s->Width(), 1000);
  Ref<TStoreThread> stopped = MakeRef<TStoreThread>(s.get(), true);
  ASSERT_TRUE(stopped->Start());
  stopped->Terminate();
  ASSERT_TRUE(stopped->WaitFor(120000));
  EXPECT_LE(stopped->bounds.Right - stopped->bounds.Left, 1);
  EXPECT_FALSE(stopped->picture);
  Ref<TStoreThread> going = MakeRef<TStoreThread>(s.get(), false);
  ASSERT_TRUE(going->Start());
  ASSERT_TRUE(going->WaitFor(120000));
  EXPECT_GT(going->bounds.Right - going->bounds.Left, 1000);
  ASSERT_TRUE(going->picture);
  EXPECT_GT(InkedPixels(static_cast<TDirectBitmap*>(going->picture.get())), 1000);
}

// Level 0 read through the store's row reader, in bands of rows and in
// rectangles, is the level made whole, pixel for pixel: underlined and struck
// through, right to left, several lines centred and spaced, at a fraction of
// a pixel's scale.
TEST_F(TextBitmapStore, ALevelReadInPartsIsTheLevelMadeWhole) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  struct TCase {
    std::u16string Face;
    double Scale;
    std::vector<std::u16string> Lines;
    uint8_t Style, Alignment;
    int32_t Spacing;
  };
  const TCase cases[] = {
      {u"DejaVu Sans", 3.3 * kGuiScale, {u"First pictures of the sea, the harbour and the boats."}, fsUnderline | fsStrikeOut,
       0, 0},
      {u"DejaVu Sans", 2.7 * kGuiScale, {u"\u05E9\u05DC\u05D5\u05DD \u05E2\u05D5\u05DC\u05DD", u"\u0645\u0631\u062D\u0628\u0627"}, 0, 2, 0},
      {u"DejaVu Serif", 1.9 * kGuiScale, {u"Three lines", u"of text, centred", u"and spaced out"}, fsItalic | fsUnderline, 1, 150},
  };
  for (const TCase& c : cases) {
    TTextParams p;
    p.FaceName = c.Face;
    p.Scale = c.Scale;
    p.Style = c.Style;
    p.Alignment = c.Alignment;
    p.LineSpacing = c.Spacing;
    const std::u16string key = TextParamsKey(p, c.Lines);
    Ref<TTextBitmapStore> s = TTextBitmapStore::Create(key, a.get());
    const int32_t w = s->Width(), h = s->Height();
    ASSERT_GT(w, 20);
    ASSERT_GT(h, 10);
    Ref<TLevelRowReader> rows = s->OpenLevelRows(0);
    ASSERT_TRUE(rows);
    ASSERT_TRUE(rows->ReadsRects());
    EXPECT_EQ(rows->Size(), (TSize{w, h}));
    EXPECT_FALSE(s->OpenLevelRows(1));
    // Bands of 7 rows, then rectangles of 37 x 5 over the whole picture.
    std::vector<uint32_t> banded(size_t(w) * size_t(h), 0xDEADBEEFu), parted(banded);
    for (int32_t y = 0; y < h; y += 7) {
      std::vector<uint8_t*> lines;
      for (int32_t k = y; k < std::min(h, y + 7); ++k) lines.push_back(reinterpret_cast<uint8_t*>(&banded[size_t(k) * size_t(w)]));
      rows->ReadRows(lines.data(), 7);
    }
    Ref<TLevelRowReader> rects = s->OpenLevelRows(0);
    for (int32_t y = 0; y < h; y += 5)
      for (int32_t x = 0; x < w; x += 37) {
        const TRect r{x, y, std::min(w, x + 37), std::min(h, y + 5)};
        std::vector<uint8_t*> lines;
        for (int32_t k = r.Top; k < r.Bottom; ++k)
          lines.push_back(reinterpret_cast<uint8_t*>(&parted[size_t(k) * size_t(w) + size_t(x)]));
        rects->ReadRect(r, lines.data());
      }
    Ref<TDirectBitmap> whole = Level(s.get(), 0);
    ASSERT_TRUE(whole);
    ASSERT_EQ(whole->Width(), w);
    ASSERT_GT(InkedPixels(whole.get()), 200);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const uint32_t want = *reinterpret_cast<const uint32_t*>(whole->PixelAddress(x, y));
        ASSERT_EQ(banded[size_t(y) * size_t(w) + size_t(x)], want) << "band, " << x << "," << y;
        ASSERT_EQ(parted[size_t(y) * size_t(w) + size_t(x)], want) << "rectangle, " << x << "," << y;
      }
    // Made, the level is the cheaper source: no reader then.
    EXPECT_FALSE(s->OpenLevelRows(0));
  }
}

// A glyph too large for a mask is drawn from its outline, whose curves are
// split where the glyph lies: such a text is not read in parts (the level is
// made whole instead).
TEST_F(TextBitmapStore, AGlyphTooLargeForAMaskIsNotReadInParts) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  Ref<TTextBitmapStore> s = TTextBitmapStore::Create(Key(u"DejaVu Sans", 1.2, {u"O"}), a.get());
  ASSERT_GT(int64_t(s->Width()) * s->Height(), int64_t(1) << 20);
  EXPECT_FALSE(s->OpenLevelRows(0));
}

// A reader of a worker asked to stop gives its part up as a decoder does.
TEST_F(TextBitmapStore, OnAThreadAskedToStopAPartIsGivenUp) {
  TShowFiles show;
  Ref<TFileAccessor> a = show.Accessor();
  Ref<TTextBitmapStore> s = TTextBitmapStore::Create(Key(u"DejaVu Sans", 2 * kGuiScale, {u"Stopped"}), a.get());
  Ref<TLevelRowReader> rows = s->OpenLevelRows(0);
  ASSERT_TRUE(rows);
  struct TReader : TThread {
    TLevelRowReader* Rows;
    bool Aborted = false;
    explicit TReader(TLevelRowReader* r) : Rows(r) {}
    void Execute() override {
      while (!Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      std::vector<uint8_t> row(size_t(Rows->Size().cx) * 4);
      uint8_t* line = row.data();
      try {
        Rows->ReadRows(&line, 1);
      } catch (const EAbort&) {
        Aborted = true;
      }
    }
  };
  Ref<TReader> t = MakeRef<TReader>(rows.get());
  ASSERT_TRUE(t->Start());
  t->Terminate();
  ASSERT_TRUE(t->WaitFor(120000));
  EXPECT_TRUE(t->Aborted);
}

TEST_F(TextBitmapStore, PlaceholderShowsItsLines) {
  Ref<TImage> img = MakeNotFoundImage(u"C:\\shows\\holiday\\beach photo.jpg", false, false);
  ASSERT_TRUE(img);
  Ref<TDirectBitmap> px = Level(img->Store(), 0);
  EXPECT_GT(px->Width(), 100);
  int text = 0, back = 0;
  for (int32_t y = 0; y < px->Height(); ++y)
    for (int32_t x = 0; x < px->Width(); ++x) {
      const uint32_t p = *reinterpret_cast<const uint32_t*>(px->PixelAddress(x, y));
      text += p == 0xFFE6E6E6u;
      back += p == 0xFF646464u;
    }
  EXPECT_GT(text, 100);
  EXPECT_GT(back, text);
  if (const char* dump = std::getenv("KAV_DUMP_TEXT")) {
    // For a look: the placeholder's red channel as a grey PNG.
    test::TGrayImage g{px->Width(), px->Height(), {}};
    for (int32_t y = 0; y < px->Height(); ++y)
      for (int32_t x = 0; x < px->Width(); ++x) g.Pixels.push_back(*px->PixelAddress(x, y));
    test::WriteGrayPng(std::string(dump) + "/placeholder.png", g);
  }
  SetNotFoundRenderer(nullptr);
}

}  // namespace
}  // namespace kav
