#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "BmpTestUtil.h"
#include "GraphicsTestUtil.h"
#include "PillowReference.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"

using namespace kav;
using namespace kav::test;
namespace fs = std::filesystem;

namespace {

Ref<TDirectBitmap> Load(const std::vector<uint8_t>& bytes) { return LoadBmp(MemStream(bytes).get()); }

std::vector<uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The picture as 0xAARRGGBB values, row by row.
std::vector<uint32_t> Argb(TBitmap* b) {
  Ref<TBitmap> c = NewBitmap(b->Width(), b->Height(), F().A8R8G8B8, {}, b, &TSysBitmap::kClass);
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < c->Height(); ++y)
    for (int32_t x = 0; x < c->Width(); ++x) out.push_back(Get32(AsSysBitmap(c.get()), x, y));
  return out;
}

// Largest channel difference against Pillow's RGBA (alpha left out when asked).
int MaxDifference(TBitmap* b, const TPillowPicture& p, bool with_alpha = true) {
  if (uint32_t(b->Width()) != p.Width || uint32_t(b->Height()) != p.Height) return 1000;
  const std::vector<uint32_t> ours = Argb(b);
  int worst = 0;
  for (size_t i = 0; i < ours.size(); ++i) {
    const uint8_t* q = p.Rgba.data() + 4 * i;
    const int d[4] = {int(ours[i] >> 16 & 255) - q[0], int(ours[i] >> 8 & 255) - q[1], int(ours[i] & 255) - q[2],
                      int(ours[i] >> 24) - q[3]};
    for (int c = 0; c < (with_alpha ? 4 : 3); ++c) worst = std::max(worst, std::abs(d[c]));
  }
  return worst;
}

}  // namespace

TEST(BmpLoader, GoodSuiteMatchesReferences) {
  const fs::path dir = CorporaDir() / "bmpsuite";
  if (!fs::is_directory(dir / "g")) GTEST_SKIP() << "bmpsuite not found in " << dir;
  if (!PillowAvailable()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
  const std::map<std::string, std::string> reference = {
      {"pal1", "pal1"}, {"pal1bg", "pal1bg"}, {"pal1wb", "pal1"}, {"pal4", "pal4"}, {"pal4gs", "pal4gs"},
      {"pal4rle", "pal4"}, {"pal8-0", "pal8"}, {"pal8", "pal8"}, {"pal8gs", "pal8gs"},
      {"pal8nonsquare", "pal8nonsquare-e"}, {"pal8os2", "pal8"}, {"pal8rle", "pal8"}, {"pal8topdown", "pal8"},
      {"pal8v4", "pal8"}, {"pal8v5", "pal8"}, {"pal8w124", "pal8w124"}, {"pal8w125", "pal8w125"},
      {"pal8w126", "pal8w126"}, {"rgb16-565", "rgb16-565"}, {"rgb16-565pal", "rgb16-565"}, {"rgb16", "rgb16"},
      {"rgb16bfdef", "rgb16"}, {"rgb24", "rgb24"}, {"rgb24pal", "rgb24"}, {"rgb32", "rgb24"},
      {"rgb32bf", "rgb24"}, {"rgb32bfdef", "rgb24"}};
  std::vector<std::string> names, refs;
  for (const auto& e : fs::directory_iterator(dir / "g")) names.push_back(e.path().stem().string());
  std::sort(names.begin(), names.end());
  for (const std::string& n : names) {
    ASSERT_TRUE(reference.count(n)) << "no reference named for " << n;
    refs.push_back((dir / "reference" / (reference.at(n) + ".png")).string());
  }
  const std::vector<TPillowPicture> pics = PillowDecode(refs);
  ASSERT_EQ(pics.size(), names.size());
  for (size_t i = 0; i < names.size(); ++i) {
    SCOPED_TRACE(names[i]);
    Ref<TDirectBitmap> b = Load(FileBytes(dir / "g" / (names[i] + ".bmp")));
    ASSERT_TRUE(b);
    // 5-bit channels widen by a shift, the references by bit replication.
    const bool five_bits = b->BytesPerPixel() == 2;
    EXPECT_LE(MaxDifference(b.get(), pics[i]), five_bits ? 7 : 0);
  }
}

TEST(BmpLoader, BadSuiteAndTruncationsFailCleanly) {
  const fs::path dir = CorporaDir() / "bmpsuite";
  if (!fs::is_directory(dir / "b")) GTEST_SKIP() << "bmpsuite not found in " << dir;
  std::set<std::string> refused;
  for (const auto& e : fs::directory_iterator(dir / "b")) {
    SCOPED_TRACE(e.path().filename().string());
    if (!Load(FileBytes(e.path()))) refused.insert(e.path().stem().string());
  }
  for (const char* n : {"badbitcount", "badfilesize", "badplanes", "badwidth", "reallybig", "shortfile", "rgb16-880"})
    EXPECT_TRUE(refused.count(n)) << n;
  // Every prefix of a few good files is refused or decoded, never over-read.
  for (const char* n : {"pal4rle", "pal8rle", "rgb16-565", "pal8v5", "pal8os2", "rgb32bf"}) {
    const std::vector<uint8_t> whole = FileBytes(dir / "g" / (std::string(n) + ".bmp"));
    for (size_t len = 0; len < whole.size(); len += 1 + len / 8) {
      std::vector<uint8_t> cut(whole.begin(), whole.begin() + ptrdiff_t(len));
      Load(cut);
      // The file-size field still names the whole file: refused.
      if (len >= 14 && len < whole.size()) {
        EXPECT_FALSE(Load(cut)) << n << " cut at " << len;
      }
    }
  }
}

TEST(BmpLoader, HandMadeBitFieldsAndAlpha) {
  // 16-bit 5-6-5 with the format's 32-bit masks after the header.
  TBmpSpec s565{.Width = 2, .Height = 1, .BitCount = 16, .Compression = 3,
                .Palette = {0xF800, 0x07E0, 0x001F}, .Data = {0x1F, 0x00, 0xE0, 0x07}};
  Ref<TDirectBitmap> b = Load(MakeBmp(s565));
  ASSERT_TRUE(b);
  EXPECT_EQ(b->PixelFormat(), F().R5G6B5);
  EXPECT_EQ(Argb(b.get()), (std::vector<uint32_t>{0xFF0000FF, 0xFF00FF00}));
  // 5-5-5 masks, and plain 16 bits, are "X1R5G5B5"; other masks are refused.
  TBmpSpec s555 = s565;
  s555.Palette = {0x7C00, 0x03E0, 0x001F};
  EXPECT_EQ(Load(MakeBmp(s555))->PixelFormat(), F().X1R5G5B5);
  s555.Compression = 0;
  s555.Palette.clear();
  ASSERT_TRUE(Load(MakeBmp(s555)));
  EXPECT_EQ(Argb(Load(MakeBmp(s555)).get())[1], 0xFF0FFF00u);  // red 1, green 31
  s555.Compression = 3;
  s555.Palette = {0xFF00, 0x00FF, 0};
  EXPECT_FALSE(Load(MakeBmp(s555)));

  // A V5 header with its own masks, alpha included.
  TBmpSpec v5{.Width = 2, .Height = 1, .BitCount = 32, .Compression = 3, .HeaderSize = 124,
              .HeaderMasks = {0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000},
              .Data = {0x10, 0x20, 0x30, 0x80, 0xFF, 0x00, 0x00, 0x40}};
  b = Load(MakeBmp(v5));
  ASSERT_TRUE(b);
  EXPECT_EQ(Argb(b.get()), (std::vector<uint32_t>{0x80102030, 0x40FF0000}));
  // A 32-bit file whose alpha is all 0 is opaque; one alpha set keeps them.
  TBmpSpec s32{.Width = 2, .Height = 1, .BitCount = 32, .Data = {1, 2, 3, 0, 4, 5, 6, 0}};
  EXPECT_EQ(Argb(Load(MakeBmp(s32)).get()), (std::vector<uint32_t>{0xFF030201, 0xFF060504}));
  s32.Data[7] = 9;
  EXPECT_EQ(Argb(Load(MakeBmp(s32)).get()), (std::vector<uint32_t>{0x00030201, 0x09060504}));
}

TEST(BmpLoader, HandMadePalettesAndRunLengths) {
  // 4 bits, 3 colours used: entries 3..15 are black. Top-down and bottom-up agree.
  TBmpSpec p4{.Width = 3, .Height = 2, .BitCount = 4, .ColorsUsed = 3,
              .Palette = {0x0000FF, 0x00FF00, 0xFF0000}, .Data = {0x01, 0x20, 0, 0, 0x3F, 0x10, 0, 0}};
  Ref<TDirectBitmap> up = Load(MakeBmp(p4));
  ASSERT_TRUE(up);
  EXPECT_EQ(Argb(up.get()), (std::vector<uint32_t>{0xFF000000, 0xFF000000, 0xFF00FF00,  // stored row 1
                                                   0xFF0000FF, 0xFF00FF00, 0xFFFF0000}));
  TBmpSpec down = p4;
  down.Height = -2;
  down.Data = {0x3F, 0x10, 0, 0, 0x01, 0x20, 0, 0};
  EXPECT_EQ(Argb(Load(MakeBmp(down)).get()), Argb(up.get()));

  // Standard RLE4: a run alternates its two nibbles; literal runs are
  // word-padded; a delta skips; runs past the row's end are clipped.
  TBmpSpec r4{.Width = 6, .Height = 3, .BitCount = 4, .Compression = 2, .ColorsUsed = 4,
              .Palette = {0x000000, 0x0000FF, 0x00FF00, 0xFF0000},
              .Data = {0x05, 0x12, 0x00, 0x00,              // row 0: 1 2 1 2 1 .
                       0x00, 0x03, 0x32, 0x10, 0x00, 0x00,  // row 1: 3 2 1
                       0x00, 0x02, 0x02, 0x00,              // delta to column 2
                       0x09, 0x33, 0x00, 0x01}};            // row 2: . . 3 3 3 3 (clipped)
  Ref<TDirectBitmap> b = Load(MakeBmp(r4));
  ASSERT_TRUE(b);
  const uint32_t k = 0xFF000000, r = 0xFF0000FF, g = 0xFF00FF00, bl = 0xFFFF0000;
  EXPECT_EQ(Argb(b.get()), (std::vector<uint32_t>{k, k, bl, bl, bl, bl,  // image top = stored row 2
                                                  bl, g, r, k, k, k,
                                                  r, g, r, g, r, k}));
  // Data that ends inside the picture is refused; a delta past the last row ends it.
  TBmpSpec cut = r4;
  cut.Data.resize(6);
  EXPECT_FALSE(Load(MakeBmp(cut)));
  TBmpSpec r8{.Width = 4, .Height = 2, .BitCount = 8, .Compression = 1, .ColorsUsed = 2, .Palette = {0, 0xFFFFFF},
              .Data = {0xFF, 0x01, 0x00, 0x02, 0xFF, 0xFF}};
  ASSERT_TRUE(Load(MakeBmp(r8)));
  EXPECT_EQ(Argb(Load(MakeBmp(r8)).get())[4], 0xFFFFFFFFu);
}

TEST(BmpLoader, HostileSizesAndRegistry) {
  // Sizes from the file never reach an allocation unchecked.
  TBmpSpec huge{.Width = 0x40000000, .Height = 0x40000000, .BitCount = 24, .Data = {1, 2, 3}};
  EXPECT_FALSE(Load(MakeBmp(huge)));
  huge.Width = 10000;
  huge.Height = -10000;  // allowed size, but the data is not there
  EXPECT_FALSE(Load(MakeBmp(huge)));
  huge.Compression = 0;
  huge.BitCount = 8;
  huge.Compression = 1;  // RLE of a large picture from three bytes
  EXPECT_FALSE(Load(MakeBmp(huge)));
  TBmpSpec wide{.Width = int32_t(0x7FFFFFFF), .Height = 1, .BitCount = 32};
  EXPECT_FALSE(Load(MakeBmp(wide)));
  TBmpSpec ok{.Width = 1, .Height = 1, .BitCount = 24, .Data = {1, 2, 3, 0}};
  EXPECT_TRUE(Load(MakeBmp(ok)));
  ok.FileSizeDelta = 1;  // the file claims more than the stream holds
  EXPECT_FALSE(Load(MakeBmp(ok)));
  ok.FileSizeDelta = 0;
  ok.HeaderSize = 39;
  EXPECT_FALSE(Load(MakeBmp(ok)));

  // Through the registry: a store over the picture; a refusal sets the stream back.
  RegisterBmpLoader();
  RegisterBmpLoader();
  ok.HeaderSize = 40;
  Ref<TMemoryStream> s = MemStream(MakeBmp(ok));
  Ref<TImage> image = LoadImage(s.get(), u"a.DIB", false);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->PixelFormat(), F().R8G8B8);
  EXPECT_EQ(Get24(AsSysBitmap(image->GetBitmap().get()), 0, 0), 0x030201u);
  std::vector<uint8_t> junk(40, 'B');
  Ref<TMemoryStream> j = MemStream(junk);
  j->SetPosition(3);
  EXPECT_FALSE(LoadBmpImage(j.get(), u"x.bmp", false, {}));
  EXPECT_EQ(j->GetPosition(), 3);
}

TEST(BmpLoader, FuzzSeedsRunCleanly) {
  int count = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = fs::path(KAV_SOURCE_DIR) / "tests" / "fuzz" / kind / "bmp";
    if (!fs::is_directory(dir)) continue;
    for (const auto& e : fs::directory_iterator(dir)) {
      const std::vector<uint8_t> bytes = FileBytes(e.path());
      SCOPED_TRACE(e.path().string());
      EXPECT_EQ(FuzzBmp(bytes.data(), bytes.size()), 0);
      ++count;
    }
  }
  EXPECT_GE(count, 5);
}
