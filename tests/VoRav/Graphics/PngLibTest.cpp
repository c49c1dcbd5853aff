#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "../ProbeStream.h"
#include "BmpTestUtil.h"
#include "GraphicsTestUtil.h"
#include "PillowReference.h"
#include "VoRav/Graphics/vxImageLib.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxUTF8.h"

using namespace kav;
using namespace kav::test;
namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

Ref<TImage> LoadPng(const std::vector<uint8_t>& bytes) {
  RegisterPngImageLib();
  return LoadImage(MemStream(bytes).get(), u"pic.png", false);
}

// Largest channel difference between level 0 and Pillow's RGBA.
int MaxDifference(TImage* image, const TPillowPicture& p) {
  if (uint32_t(image->Width()) != p.Width || uint32_t(image->Height()) != p.Height) return 1000;
  Ref<TBitmap> b = image->Store()->GetMipLevel(0, F().A8R8G8B8, &TSysBitmap::kClass);
  int worst = 0;
  for (int32_t y = 0; y < b->Height(); ++y)
    for (int32_t x = 0; x < b->Width(); ++x) {
      const uint8_t* ours = AsSysBitmap(b.get())->PixelAddress(x, y);
      const uint8_t* q = p.Rgba.data() + 4 * (size_t(y) * p.Width + size_t(x));
      const int d[4] = {ours[2] - q[0], ours[1] - q[1], ours[0] - q[2], ours[3] - q[3]};
      for (int c = 0; c < (p.Status == 2 ? 3 : 4); ++c) worst = std::max(worst, std::abs(d[c]));
    }
  return worst;
}

// A PNG file from raw chunks, with correct lengths and CRCs.
void Chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
  auto be32 = [&](uint32_t v) { for (int s = 24; s >= 0; s -= 8) png.push_back(uint8_t(v >> s)); };
  be32(uint32_t(data.size()));
  const size_t at = png.size();
  png.insert(png.end(), type, type + 4);
  png.insert(png.end(), data.begin(), data.end());
  be32(uint32_t(crc32(0, png.data() + at, uInt(png.size() - at))));
}
std::vector<uint8_t> MakePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t color, const std::vector<uint8_t>& raw) {
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  Chunk(png, "IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 24),
                      uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), depth, color, 0, 0, 0});
  std::vector<uint8_t> z(compressBound(uLong(raw.size())));
  uLongf zn = uLongf(z.size());
  compress(z.data(), &zn, raw.data(), uLong(raw.size()));
  z.resize(zn);
  Chunk(png, "IDAT", z);
  Chunk(png, "IEND", {});
  return png;
}

// A test library with one behaviour per extension.
int g_closed = 0;
uint8_t g_row[2 * 4] = {1, 2, 3, 4, 5, 6, 7, 8};
uint8_t* g_rows[1] = {g_row};
bool FakeOpen(TImageLibInfo& info, const TImageLibStreamCallbacks& s) {
  uint8_t b = 0;
  if (s.Read(s.Stream, &b, 1, 0) != 1 || b != 'F') return false;
  uint8_t bits = 0;
  s.Read(s.Stream, &bits, 1, 1);
  info = TImageLibInfo{&g_row, bits, 2, 1, nullptr};
  return true;
}
bool FakeOpenFile(TImageLibInfo&, const char*) { return false; }
bool FakeRead(TImageLibInfo& info) {
  info.Rows = g_rows;
  return true;
}
void FakeClose(TImageLibInfo& info) {
  ++g_closed;
  info = TImageLibInfo{};
}

}  // namespace

TEST(PngLib, PngSuiteMatchesPillow) {
  const fs::path dir = CorporaDir() / "pngsuite" / "png";
  if (!fs::is_directory(dir)) GTEST_SKIP() << "PngSuite not found in " << dir;
  if (!PillowAvailable()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
  std::vector<std::string> good, bad;
  for (const auto& e : fs::directory_iterator(dir))
    (e.path().filename().string()[0] == 'x' ? bad : good).push_back(e.path().string());
  std::sort(good.begin(), good.end());
  ASSERT_GT(good.size(), 100u);
  ASSERT_GT(bad.size(), 10u);
  for (const std::string& f : bad) EXPECT_FALSE(LoadPng(FileBytes(f))) << f;
  const std::vector<TPillowPicture> pics = PillowDecode(good);
  ASSERT_EQ(pics.size(), good.size());
  for (size_t i = 0; i < good.size(); ++i) {
    SCOPED_TRACE(good[i]);
    Ref<TImage> image = LoadPng(FileBytes(good[i]));
    ASSERT_TRUE(image);
    if (pics[i].Status == 1) {
      ADD_FAILURE() << "Pillow refused it";
      continue;
    }
    EXPECT_EQ(MaxDifference(image.get(), pics[i]), 0);
  }
}

TEST(PngLib, HostileAndTruncatedFilesAreRefused) {
  // 2 x 2 RGB with an alpha-free palette-less picture: rows of filter byte + samples.
  const std::vector<uint8_t> raw = {0, 10, 20, 30, 40, 50, 60, 0, 70, 80, 90, 100, 110, 120};
  const std::vector<uint8_t> ok = MakePng(2, 2, 8, 2, raw);
  Ref<TImage> image = LoadPng(ok);
  ASSERT_TRUE(image);
  EXPECT_EQ(image->PixelFormat(), F().R8G8B8);
  EXPECT_EQ(Get24(AsSysBitmap(image->GetBitmap().get()), 1, 1), 0x646E78u);  // red 100, blue 120
  EXPECT_EQ(image->Store()->GetMipLevel(1)->Width(), 1);
  // Cut anywhere before the end of the picture data: refused (a file cut
  // after it, in its CRC or IEND, still holds the whole picture).
  for (size_t len = 0; len < ok.size() - 16; ++len)
    EXPECT_FALSE(LoadPng(std::vector<uint8_t>(ok.begin(), ok.begin() + ptrdiff_t(len)))) << len;
  // A header announcing a picture past the limits, and one whose data is short.
  EXPECT_FALSE(LoadPng(MakePng(100000, 100000, 8, 6, raw)));
  EXPECT_FALSE(LoadPng(MakePng(0x7FFFFFFF, 1, 8, 0, raw)));
  EXPECT_FALSE(LoadPng(MakePng(8000, 8000, 8, 6, raw)));  // within the limits, but no data for it
  EXPECT_FALSE(LoadPng(MakePng(4, 4, 8, 2, raw)));
  std::vector<uint8_t> flipped = ok;
  flipped[flipped.size() - 20] ^= 0x40;  // inside IDAT: its CRC no longer fits
  EXPECT_FALSE(LoadPng(flipped));
  // The file entry point reads the same picture from a file.
  const fs::path tmp = fs::temp_directory_path() / ("kav_png_" + std::to_string(getpid()) + ".png");
  std::ofstream(tmp, std::ios::binary).write(reinterpret_cast<const char*>(ok.data()), std::streamsize(ok.size()));
  TImageLibInfo info;
  ASSERT_TRUE(PngImageLibEntries().OpenImageFile(info, tmp.c_str()));
  EXPECT_EQ(info.BitsPerPixel, 24);
  ASSERT_TRUE(PngImageLibEntries().ReadImage(info));
  EXPECT_EQ(info.Rows[1][5], 100);  // red of pixel (1, 1)
  PngImageLibEntries().CloseImage(info);
  EXPECT_EQ(info.Context, nullptr);
  fs::remove(tmp);
  EXPECT_FALSE(PngImageLibEntries().OpenImageFile(info, tmp.c_str()));
  // A stream that does not know its size is read to its end.
  auto unsized = MakeRef<TProbeStream>(ok);
  unsized->size_known = false;
  EXPECT_TRUE(LoadImage(unsized.get(), u"u.png", false));
}

// What the show's author is told of a damaged PNG: a chunk libpng skips
// (a CRC that does not fit an ancillary chunk) is said once by name and the
// picture shows; a picture libpng refuses is named as damaged or cut short
// by its signature, and data of another kind as no picture.
TEST(PngLib, DamageIsSaidOnceByName) {
  const std::vector<uint8_t> raw = {0, 10, 20, 30, 40, 50, 60, 0, 70, 80, 90, 100, 110, 120};
  const std::vector<uint8_t> ok = MakePng(2, 2, 8, 2, raw);
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  std::vector<uint8_t> noted(ok.begin(), ok.begin() + 33);  // signature and IHDR
  Chunk(noted, "tEXt", {'A', 0, 'b'});
  noted.back() ^= 1;  // its CRC
  noted.insert(noted.end(), ok.begin() + 33, ok.end());
  RegisterPngImageLib();
  for (int i = 0; i < 2; ++i) EXPECT_TRUE(LoadImage(MemStream(noted).get(), u"Photos\\noted.png", false));
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(said[0].Name, u"Photos\\noted.png");
  EXPECT_EQ(said[0].Reason, u"the picture's data is damaged (tEXt: CRC error): it may not show as it should; copy or "
                            u"export the picture again");
  EXPECT_TRUE(LoadImage(MemStream(ok).get(), u"ok.png", false));
  EXPECT_EQ(said.size(), 1u);
  SetShowProblemSink(nullptr);

  std::vector<uint8_t> flipped = ok;
  flipped[flipped.size() - 20] ^= 0x40;  // inside IDAT
  EXPECT_EQ(UndecodablePictureReason(MemStream(flipped).get()),
            u"a damaged PNG picture: its data does not decode (changed or cut short?); copy or export it again");
  const std::vector<uint8_t> cut(ok.begin(), ok.begin() + 50);
  EXPECT_EQ(UndecodablePictureReason(MemStream(cut).get()), kPngCutShort);
  EXPECT_EQ(PictureCutShortReason(MemStream(cut).get()), kPngCutShort);
  EXPECT_EQ(PictureCutShortReason(MemStream(ok).get()), u"");
  const std::vector<uint8_t> list = {'m', 'i', 'l', 'k', '\n', 'b', 'r', 'e', 'a', 'd', '\n'};
  EXPECT_EQ(UndecodablePictureReason(MemStream(list).get()), u"not a picture: no decoder accepts its data");
  // The stream stays where it was.
  Ref<TStream> at = MemStream(cut);
  at->SetPosition(7);
  UndecodablePictureReason(at.get());
  EXPECT_EQ(at->GetPosition(), 7);
}

TEST(PngLib, BridgeStreamsDepthsAndBinding) {
  RegisterPngImageLib();
  RegisterImageLib(u"broken.dll", TImageLibEntries{&FakeOpen, nullptr, &FakeRead, &FakeClose}, {u".fk"});
  RegisterImageLib(u"fake.dll", TImageLibEntries{&FakeOpen, &FakeOpenFile, &FakeRead, &FakeClose}, {u"*.fk"});
  // The library that cannot bind is skipped; a 16-bit answer is closed and refused.
  g_closed = 0;
  Ref<TMemoryStream> s16 = MemStream({'F', 16});
  s16->SetPosition(0);
  EXPECT_FALSE(LoadImage(s16.get(), u"a.FK", false));
  EXPECT_EQ(g_closed, 1);
  EXPECT_EQ(s16->GetPosition(), 0);

  // The picture is read from the stream's position; an owned stream is let
  // go at once and level 0 is still delivered afterwards.
  Ref<TMemoryStream> s = MemStream({'x', 'x', 'F', 32});
  s->SetPosition(2);
  RefAddRef(s.get());
  Ref<TImage> image = LoadImage(s.get(), u"b.fk", true);
  ASSERT_TRUE(image);
  EXPECT_EQ(s->RefCount(), 1);
  s = nullptr;
  Ref<TBitmap> level0 = image->GetBitmap();
  EXPECT_EQ(level0->PixelFormat(), F().A8R8G8B8);
  EXPECT_EQ(Get32(AsSysBitmap(level0.get()), 1, 0), 0x08070605u);
  // The rows stay open while the bitmap lives, even past the store.
  g_closed = 0;
  image = nullptr;
  EXPECT_EQ(g_closed, 0);
  level0 = nullptr;
  EXPECT_EQ(g_closed, 1);

  // Positions handed to a library count from the picture's start.
  Ref<TMemoryStream> m = MemStream({9, 9, 9, 1, 2, 3});
  TImageLibStreamSource source{m.get(), 3};
  TImageLibStreamCallbacks cb = MakeImageLibStreamCallbacks(source);
  uint8_t got[4] = {};
  EXPECT_EQ(cb.GetSize(cb.Stream), 3);
  EXPECT_EQ(cb.Read(cb.Stream, got, 4, 1), 2);
  EXPECT_EQ(got[0], 2);
  EXPECT_EQ(cb.Read(cb.Stream, got, 1, -1), -1);
}
