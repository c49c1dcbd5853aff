// The JPEG loader's stores and the ICC profile found in APP2 segments.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "JpegTestUtil.h"
#include "VoRav/Graphics/JpegColorSpace/vxJpegICCExtractor.h"
#include "VoRav/Graphics/JpegColorSpace/winJpegLoader.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"

using namespace kav;
using namespace kav::test;

namespace {

// A marker segment: FF, marker, big-endian length (payload + 2), payload.
// Sized up front: growing a 4-byte vector trips GCC 12's bogus -Warray-bounds.
std::vector<uint8_t> Segment(uint8_t marker, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> s(payload.size() + 4);
  s[0] = 0xFF;
  s[1] = marker;
  s[2] = uint8_t((payload.size() + 2) >> 8);
  s[3] = uint8_t(payload.size() + 2);
  std::copy(payload.begin(), payload.end(), s.begin() + 4);
  return s;
}

std::vector<uint8_t> IccChunk(uint8_t seq, uint8_t count, std::vector<uint8_t> bytes) {
  std::vector<uint8_t> p{'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, seq, count};
  p.insert(p.end(), bytes.begin(), bytes.end());
  return Segment(0xE2, p);
}

std::vector<uint8_t> Jpeg(std::initializer_list<std::vector<uint8_t>> segments) {
  std::vector<uint8_t> f{0xFF, 0xD8};
  for (const auto& s : segments) f.insert(f.end(), s.begin(), s.end());
  const auto sos = Segment(0xDA, {1, 1, 0, 0, 63, 0});
  f.insert(f.end(), sos.begin(), sos.end());
  return f;
}

std::vector<uint8_t> Icc(const std::vector<uint8_t>& file) {
  std::vector<uint8_t> bytes{9};
  ExtractJpegIccProfile(Mem(file).get(), bytes);
  return bytes;
}

class TCaptureLog : public TLog {
 public:
  std::vector<std::u16string> Lines;
  void WriteLine(const std::u16string& text) override { Lines.push_back(text); }
};

}  // namespace

TEST(JpegIcc, SegmentsJoinInSequenceOrderOrNotAtAll) {
  const auto a = IccChunk(1, 3, {1, 2}), b = IccChunk(2, 3, {3}), c = IccChunk(3, 3, {4, 5});
  const auto other = Segment(0xE2, {'F', 'P', 'X', 'R', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7, 7});
  const auto app0 = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  EXPECT_EQ(Icc(Jpeg({app0, other, c, a, b})), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(Icc(Jpeg({a, c})), std::vector<uint8_t>{});              // gap
  EXPECT_EQ(Icc(Jpeg({a, b, b, c})), std::vector<uint8_t>{});        // duplicate
  EXPECT_EQ(Icc(Jpeg({a, b, IccChunk(3, 4, {4})})), std::vector<uint8_t>{});  // counts disagree
  EXPECT_EQ(Icc(Jpeg({other})), std::vector<uint8_t>{});             // no ICC segment
  // A segment length below 2 ends the walk before the profile.
  EXPECT_EQ(Icc(Jpeg({{0xFF, 0xE1, 0, 1}, IccChunk(1, 1, {8})})), std::vector<uint8_t>{});
  // A profile segment cut by the end of the stream gives nothing.
  auto cut = Jpeg({IccChunk(1, 1, {1, 2, 3, 4, 5, 6})});
  cut.erase(cut.end() - 12, cut.end());  // the start of scan and two profile bytes
  EXPECT_EQ(Icc(cut), std::vector<uint8_t>{});

  // FF FF D8: one duplicate-FF line, then the walk goes on from SOI.
  auto log = MakeRef<TCaptureLog>();
  const Ref<TLog> saved = GetGlobalLog();
  SetGlobalLog(Ref<TLog>(log.get()));
  auto dup = Jpeg({IccChunk(1, 1, {6})});
  dup.insert(dup.begin(), 0xFF);
  EXPECT_EQ(Icc(dup), std::vector<uint8_t>{6});
  SetGlobalLog(saved);
  ASSERT_EQ(log->Lines.size(), 1u);
  EXPECT_EQ(log->Lines[0], u"Error: duplicate $FF encountered at 1");

  // Streams over 100 MB are not searched.
  struct THugeStream : TMemoryStream {
    int64_t GetSize() override { return kJpegIccMaxStreamSize + 1; }
  };
  auto huge = MakeRef<THugeStream>();
  huge->WriteBytes(Jpeg({IccChunk(1, 1, {6})}));
  std::vector<uint8_t> bytes;
  ExtractJpegIccProfile(huge.get(), bytes);
  EXPECT_TRUE(bytes.empty());
}

TEST(JpegLoader, StoresLevelsProfilesAndRefusals) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegload");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(203, 101, 11));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "c.jpg", dir / "in.ppm"}), 0);
  ASSERT_EQ(RunTool({kCjpeg, "-grayscale", "-outfile", dir / "g.jpg", dir / "in.ppm"}), 0);

  auto stream = Mem(ReadFileBytes(dir / "c.jpg"));
  Ref<TBitmapStore> store = LoadJpegImage(stream.get(), u"c.jpg", false, {});
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Width(), 203);
  EXPECT_EQ(store->PixelFormat(), StdFormats().R8G8B8);
  EXPECT_EQ(store->ColorProfile(), nullptr);
  const int32_t widths[] = {203, 102, 51, 26, 13};
  for (int level = 0; level <= 4; ++level) {
    Ref<TBitmap> b = store->GetMipLevel(level);
    EXPECT_EQ(b->Width(), widths[level]) << level;
    EXPECT_EQ(b->PixelFormat(), StdFormats().R8G8B8);
  }
  EXPECT_TRUE(store->GetMipLevel(3)->InheritsFrom(&TDibBitmap::kClass));

  // A level first asked for as A8R8G8B8 (as textures ask) is decoded
  // straight into it: the 24-bit level's pixels with alpha 255, and the only
  // bitmap of its level; asked for as R8G8B8 afterwards, a copy of the same
  // pixels.
  for (int level = 0; level <= 3; ++level) {
    Ref<TBitmapStore> wide = LoadJpegImage(Mem(ReadFileBytes(dir / "c.jpg")).get(), u"c.jpg", false, {});
    ASSERT_TRUE(wide);
    Ref<TBitmap> four = wide->GetMipLevel(level, StdFormats().A8R8G8B8);
    EXPECT_EQ(four->PixelFormat(), StdFormats().A8R8G8B8);
    EXPECT_EQ(wide->CachedCount(level), 1);
    auto* a = AsSysBitmap(four.get());
    auto* b = AsSysBitmap(store->GetMipLevel(level).get());
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->Width(), b->Width());
    ASSERT_EQ(a->Height(), b->Height());
    auto* c = AsSysBitmap(wide->GetMipLevel(level, StdFormats().R8G8B8).get());
    ASSERT_TRUE(c);
    for (int y = 0; y < a->Height(); ++y)
      for (int x = 0; x < a->Width(); ++x) {
        const uint8_t* pa = a->PixelAddress(x, y);
        const uint8_t* pb = b->PixelAddress(x, y);
        ASSERT_TRUE(pa[0] == pb[0] && pa[1] == pb[1] && pa[2] == pb[2] && pa[3] == 255) << level << ":" << x << "," << y;
        ASSERT_EQ(std::memcmp(c->PixelAddress(x, y), pb, 3), 0) << level << ":" << x << "," << y;
      }
  }

  // Grey: 24 bits with three equal bytes, every grey level of libjpeg's
  // 8-bit output kept.
  Ref<TBitmapStore> grey = LoadJpegImage(Mem(ReadFileBytes(dir / "g.jpg")).get(), u"g.jpg", false, {});
  ASSERT_TRUE(grey);
  auto direct = MakeRef<TJpegImage>();
  direct->LoadFromStream(Mem(ReadFileBytes(dir / "g.jpg")).get());
  Ref<TDibBitmap> plain = NewDibBitmapOn(direct->Decode(0).get(), false);
  auto* wide = AsSysBitmap(grey->GetMipLevel(0).get());
  for (int y = 0; y < 101; ++y)
    for (int x = 0; x < 203; ++x) {
      const uint8_t* p = wide->PixelAddress(x, y);
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2] && p[0] == plain->PixelAddress(x, y)[0]) << x << "," << y;
    }
  // Asked for as A8R8G8B8, a grey picture is widened the same way.
  Ref<TBitmapStore> grey4 = LoadJpegImage(Mem(ReadFileBytes(dir / "g.jpg")).get(), u"g.jpg", false, {});
  auto* wide4 = AsSysBitmap(grey4->GetMipLevel(0, StdFormats().A8R8G8B8).get());
  ASSERT_TRUE(wide4);
  EXPECT_EQ(wide4->PixelFormat(), StdFormats().A8R8G8B8);
  for (int y = 0; y < 101; y += 5)
    for (int x = 0; x < 203; x += 3) {
      const uint8_t* p = wide4->PixelAddress(x, y);
      ASSERT_TRUE(p[0] == p[1] && p[1] == p[2] && p[0] == plain->PixelAddress(x, y)[0] && p[3] == 255) << x << "," << y;
    }

  // Not a JPEG, or a header promising far more pixels than the data hold:
  // no store, the stream back where it was.
  auto text = Mem({'n', 'o', 't', ' ', 'j', 'p', 'e', 'g'});
  text->SetPosition(2);
  EXPECT_FALSE(LoadJpegImage(text.get(), u"t.jpg", false, {}));
  EXPECT_EQ(text->GetPosition(), 2);
  auto bytes = ReadFileBytes(dir / "c.jpg");
  for (size_t i = 2; i + 9 < bytes.size(); ++i)
    if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
      bytes[i + 5] = bytes[i + 7] = 0xFF;
      bytes[i + 6] = bytes[i + 8] = 0xDC;
      break;
    }
  EXPECT_FALSE(LoadJpegImage(Mem(bytes).get(), u"h.jpg", false, {}));

  // A profile of several hundred kilobytes, embedded by ImageMagick over
  // several APP2 segments, comes back whole.
  const std::string icc = "/usr/share/color/icc/ITULab.icc";
  if (!ToolExists(kMagick) || !std::filesystem::exists(icc)) GTEST_SKIP() << "imagemagick or the profile is missing";
  ASSERT_EQ(RunTool({kMagick, dir / "c.jpg", "-profile", icc, dir / "p.jpg"}), 0);
  Ref<TBitmapStore> with = LoadJpegImage(Mem(ReadFileBytes(dir / "p.jpg")).get(), u"p.jpg", false, {});
  ASSERT_TRUE(with && with->ColorProfile());
  EXPECT_EQ(with->ColorProfile()->Bytes(), ReadFileBytes(icc));
}

// A released level is decoded again from the kept file, pixel for pixel,
// in the layout it is asked for.
TEST(JpegLoader, ReleasedLevelIsDecodedAgainUnchanged) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegrelease");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(203, 101, 5));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "c.jpg", dir / "in.ppm"}), 0);
  Ref<TBitmapStore> store = LoadJpegImage(Mem(ReadFileBytes(dir / "c.jpg")).get(), u"c.jpg", false, {});
  ASSERT_TRUE(store);
  EXPECT_TRUE(store->CanProduceAgain());
  EXPECT_FALSE(store->ReleaseLevel(1));  // nothing made yet
  for (int level = 0; level <= 4; ++level) {
    Ref<TBitmap> first = store->GetMipLevel(level, StdFormats().A8R8G8B8);
    ASSERT_TRUE(store->ReleaseLevel(level)) << level;
    EXPECT_EQ(store->CachedCount(level), 0);
    Ref<TBitmap> again = store->GetMipLevel(level, StdFormats().A8R8G8B8);
    ASSERT_NE(first.get(), again.get());
    auto* a = AsSysBitmap(first.get());
    auto* b = AsSysBitmap(again.get());
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->Width(), b->Width());
    ASSERT_EQ(a->Height(), b->Height());
    ASSERT_EQ(b->PixelFormat(), StdFormats().A8R8G8B8);
    for (int y = 0; y < a->Height(); ++y)
      ASSERT_EQ(std::memcmp(a->PixelAddress(0, y), b->PixelAddress(0, y), size_t(a->Width()) * 4), 0) << level << ":" << y;
  }
}

namespace {

// The rows of a 32-bit bitmap, top first.
std::vector<uint8_t> Pixels32(TBitmap* b) {
  std::vector<uint8_t> out;
  auto* s = AsSysBitmap(b);
  if (!s || s->PixelFormat() != StdFormats().A8R8G8B8) return out;
  for (int y = 0; y < s->Height(); ++y)
    out.insert(out.end(), s->PixelAddress(0, y), s->PixelAddress(0, y) + size_t(s->Width()) * 4);
  return out;
}

// A level read through OpenLevelRows in bands of 1, 7 and 64 rows in turn
// (empty when the store gives no reader).
std::vector<uint8_t> BandedPixels(TBitmapStore* store, int level) {
  std::vector<uint8_t> out;
  Ref<TLevelRowReader> rows = store->OpenLevelRows(level);
  if (!rows) return out;
  const TSize size = rows->Size();
  EXPECT_EQ(size.cx, (store->Width() + (1 << level) - 1) >> level);
  EXPECT_EQ(size.cy, (store->Height() + (1 << level) - 1) >> level);
  const int bands[] = {1, 7, 64};
  std::vector<uint8_t> band(size_t(size.cx) * 4 * 64);
  std::vector<uint8_t*> pointers(64);
  for (int y = 0, k = 0; y < size.cy; ++k) {
    const int n = std::min(bands[k % 3], size.cy - y);
    for (int i = 0; i < n; ++i) pointers[size_t(i)] = band.data() + size_t(i) * size_t(size.cx) * 4;
    rows->ReadRows(pointers.data(), n);
    out.insert(out.end(), band.begin(), band.begin() + std::ptrdiff_t(size_t(n) * size_t(size.cx) * 4));
    y += n;
  }
  rows->ReadRows(pointers.data(), 5);  // past the end: nothing more
  return out;
}

}  // namespace

// Levels read a band of rows at a time are the levels decoded whole, byte
// for byte: baseline, progressive and cut-off files alike.
TEST(JpegLoader, LevelRowsGiveTheDecodedLevel) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegrows");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(203, 101, 7));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "b.jpg", dir / "in.ppm"}), 0);
  ASSERT_EQ(RunTool({kCjpeg, "-progressive", "-outfile", dir / "p.jpg", dir / "in.ppm"}), 0);
  ASSERT_EQ(RunTool({kCjpeg, "-sample", "1x1", "-outfile", dir / "s.jpg", dir / "in.ppm"}), 0);
  std::vector<uint8_t> cut = ReadFileBytes(dir / "b.jpg");
  cut.resize(cut.size() * 3 / 5);
  const auto files = {ReadFileBytes(dir / "b.jpg"), ReadFileBytes(dir / "p.jpg"), ReadFileBytes(dir / "s.jpg"), cut};
  for (const auto& bytes : files) {
    for (int level = 0; level <= 3; ++level) {
      Ref<TBitmapStore> store = LoadJpegImage(Mem(bytes).get(), u"c.jpg", false, {});
      ASSERT_TRUE(store);
      const std::vector<uint8_t> banded = BandedPixels(store.get(), level);
      ASSERT_FALSE(banded.empty()) << level;
      EXPECT_EQ(store->CachedCount(level), 0);  // nothing kept whole
      EXPECT_TRUE(banded == Pixels32(store->GetMipLevel(level, StdFormats().A8R8G8B8).get())) << level;
      // A level made already is read from the bitmap, not through rows.
      EXPECT_FALSE(store->OpenLevelRows(level));
    }
  }
  // Levels libjpeg does not make, and grey pictures (widened by the store),
  // come whole.
  Ref<TBitmapStore> store = LoadJpegImage(Mem(ReadFileBytes(dir / "b.jpg")).get(), u"c.jpg", false, {});
  EXPECT_FALSE(store->OpenLevelRows(4));
  EXPECT_FALSE(store->OpenLevelRows(-1));
  ASSERT_EQ(RunTool({kCjpeg, "-grayscale", "-outfile", dir / "g.jpg", dir / "in.ppm"}), 0);
  Ref<TBitmapStore> grey = LoadJpegImage(Mem(ReadFileBytes(dir / "g.jpg")).get(), u"g.jpg", false, {});
  ASSERT_TRUE(grey);
  EXPECT_FALSE(grey->OpenLevelRows(0));
}

// A file whose data breaks off into garbage fails the same way read in
// bands as decoded whole, or gives the same pixels.
TEST(JpegLoader, BrokenDataFailsInBandsAsItFailsWhole) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegrowsbad");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(160, 120, 9));
  ASSERT_EQ(RunTool({kCjpeg, "-progressive", "-outfile", dir / "p.jpg", dir / "in.ppm"}), 0);
  const std::vector<uint8_t> good = ReadFileBytes(dir / "p.jpg");
  for (size_t at : {good.size() / 3, good.size() / 2, good.size() * 4 / 5}) {
    std::vector<uint8_t> bad = good;
    for (size_t i = at; i < std::min(bad.size() - 2, at + 40); ++i) bad[i] = uint8_t(0xFF - (i * 37 & 0x7F));
    Ref<TBitmapStore> a = LoadJpegImage(Mem(bad).get(), u"a.jpg", false, {});
    Ref<TBitmapStore> b = LoadJpegImage(Mem(bad).get(), u"b.jpg", false, {});
    ASSERT_TRUE(a && b);
    std::vector<uint8_t> whole, banded;
    bool whole_failed = false, banded_failed = false;
    try {
      whole = Pixels32(a->GetMipLevel(0, StdFormats().A8R8G8B8).get());
    } catch (const EJPEG&) {
      whole_failed = true;
    }
    try {
      banded = BandedPixels(b.get(), 0);
    } catch (const EJPEG&) {
      banded_failed = true;
    }
    EXPECT_EQ(whole_failed, banded_failed) << at;
    if (!whole_failed && !banded_failed) {
      EXPECT_TRUE(whole == banded) << at;
    }
  }
}

// libjpeg decodes past damaged data (bytes changed inside the picture, a
// file cut short) and says so: the show's author hears it once per picture,
// by name, whether the level is decoded whole or in bands; data it cannot
// decode past is said as damage too.
TEST(JpegLoader, DamagedDataIsSaidOnceByName) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegdamage");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(320, 240, 11));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "b.jpg", dir / "in.ppm"}), 0);
  const std::vector<uint8_t> good = ReadFileBytes(dir / "b.jpg");
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  auto decode = [](const std::vector<uint8_t>& bytes, const std::u16string& name, bool banded) {
    Ref<TBitmapStore> store = LoadJpegImage(Mem(bytes).get(), name, false, {});
    EXPECT_TRUE(store);
    if (!store) return;
    try {
      for (int pass = 0; pass < 2; ++pass) {
        if (banded) BandedPixels(store.get(), 1);
        else store->GetMipLevel(pass, StdFormats().A8R8G8B8);
      }
    } catch (const EJPEG&) {
    }
  };
  // A sound picture says nothing.
  decode(good, u"Photos\\good.jpg", false);
  EXPECT_TRUE(said.empty());
  // 64 bytes changed in the middle (none made a marker).
  std::vector<uint8_t> changed = good;
  std::mt19937 rng(3);
  for (size_t i = changed.size() / 2; i < changed.size() / 2 + 64; ++i) changed[i] = uint8_t(rng() % 255);
  for (bool banded : {false, true}) {
    said.clear();
    ResetShowProblems();
    decode(changed, u"Photos\\changed.jpg", banded);
    decode(changed, u"Photos\\changed.jpg", banded);  // the same picture loaded again
    ASSERT_EQ(said.size(), 1u) << banded;
    EXPECT_EQ(said[0].Kind, TShowProblemKind::File);
    EXPECT_EQ(said[0].Name, u"Photos\\changed.jpg");
    EXPECT_EQ(said[0].Reason.rfind(u"the picture's data is damaged (libjpeg: Corrupt JPEG data", 0), 0u)
        << UTF8Encode(said[0].Reason);
  }
  // Cut short: the words of the show check.
  said.clear();
  std::vector<uint8_t> cut(good.begin(), good.begin() + std::ptrdiff_t(good.size() * 2 / 3));
  decode(cut, u"cut.jpg", false);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].Reason, kPictureCutShort);
  // A marker libjpeg cannot read in the middle of the data: nothing is made.
  said.clear();
  std::vector<uint8_t> broken = good;
  for (size_t i = broken.size() / 2; i < broken.size() / 2 + 64; i += 2) broken[i] = 0xFF, broken[i + 1] = 0x55;
  decode(broken, u"broken.jpg", false);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].Reason.rfind(u"a damaged JPEG picture: its data does not decode", 0), 0u)
      << UTF8Encode(said[0].Reason);
  SetShowProblemSink(nullptr);
}

// With an opener the store lets go of its compressed file and reads it
// again for the next level, with the same pixels; a file that cannot be
// opened again or changed since is an error, not another picture.
TEST(JpegLoader, DroppedFileIsReadAgainThroughTheOpener) {
  if (!ToolExists(kCjpeg)) GTEST_SKIP() << "cjpeg (libjpeg-turbo-progs) is not installed";
  TScratchDir dir("jpegopener");
  WriteFileBytes(dir / "in.ppm", SyntheticPpm(203, 101, 5));
  WriteFileBytes(dir / "other.ppm", SyntheticPpm(101, 203, 5));
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "c.jpg", dir / "in.ppm"}), 0);
  ASSERT_EQ(RunTool({kCjpeg, "-outfile", dir / "o.jpg", dir / "other.ppm"}), 0);
  const std::vector<uint8_t> file = ReadFileBytes(dir / "c.jpg");
  Ref<TBitmapStore> store = LoadJpegImage(Mem(file).get(), u"c.jpg", false, {});
  auto* jpeg = dynamic_cast<TJpegBitmapStore*>(store.get());
  ASSERT_TRUE(jpeg);
  // Without an opener the file stays.
  store->TrimSource();
  EXPECT_TRUE(jpeg->HoldsSource());

  std::vector<uint8_t> current = file;
  bool gone = false;
  int opens = 0;
  store->SetSourceOpener([&]() -> Ref<TStream> {
    ++opens;
    return gone ? nullptr : Ref<TStream>(Mem(current));
  });
  const std::vector<uint8_t> first = Pixels32(store->GetMipLevel(1, StdFormats().A8R8G8B8).get());
  store->TrimSource();
  EXPECT_FALSE(jpeg->HoldsSource());
  EXPECT_EQ(opens, 0);
  EXPECT_EQ(store->Width(), 203);  // the picture's facts stay
  ASSERT_TRUE(store->ReleaseLevel(1));
  EXPECT_TRUE(Pixels32(store->GetMipLevel(1, StdFormats().A8R8G8B8).get()) == first);
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(jpeg->HoldsSource());
  // Rows are read from the file read again too.
  store->TrimSource();
  const std::vector<uint8_t> rows = BandedPixels(store.get(), 2);
  EXPECT_EQ(opens, 2);
  EXPECT_TRUE(rows == Pixels32(store->GetMipLevel(2, StdFormats().A8R8G8B8).get()));

  store->TrimSource();
  store->ReleaseLevel(1);
  gone = true;
  EXPECT_THROW(store->GetMipLevel(1, StdFormats().A8R8G8B8), EStreamReadError);
  EXPECT_THROW(store->OpenLevelRows(0), EStreamReadError);
  gone = false;
  current = ReadFileBytes(dir / "o.jpg");
  EXPECT_THROW(store->GetMipLevel(1, StdFormats().A8R8G8B8), EStreamReadError);
  EXPECT_EQ(store->CachedCount(1), 0);
  // The file back as it was, the level comes again.
  current = file;
  EXPECT_TRUE(Pixels32(store->GetMipLevel(1, StdFormats().A8R8G8B8).get()) == first);
}
