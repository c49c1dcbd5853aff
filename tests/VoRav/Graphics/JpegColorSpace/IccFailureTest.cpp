// The ICC transform with malformed profiles, unsupported pixel formats,
// overlapping rectangles and without a usable colour library.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/lcms2Dll.h"
#include "VoRav/Graphics/JpegColorSpace/vxBuiltinProfiles.h"
#include "VoRav/Graphics/JpegColorSpace/vxICCColorProfile.h"

namespace kav {
namespace {

const std::vector<uint8_t> kSRGB(std::begin(kSRGBProfile), std::end(kSRGBProfile));
const std::vector<uint8_t> kAdobe(std::begin(kAdobeRGBProfile), std::end(kAdobeRGBProfile));

Ref<TSysBitmap> NoiseBitmap(int32_t w, int32_t h, TPixelFormat* format, uint32_t seed) {
  Ref<TSysBitmap> b = CreateSysBitmap(w, h, format);
  std::mt19937 rng(seed);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t i = 0; i < w * b->BytesPerPixel(); ++i) b->Row(y)[i] = uint8_t(rng());
  return b;
}

std::vector<uint8_t> Pixels(TSysBitmap* b) {
  std::vector<uint8_t> v;
  for (int32_t y = 0; y < b->Height(); ++y) v.insert(v.end(), b->Row(y), b->Row(y) + b->Width() * b->BytesPerPixel());
  return v;
}

// Converts a whole bitmap in place; answers whether any pixel changed.
bool Converts(std::span<const uint8_t> from, std::span<const uint8_t> to) {
  Ref<TSysBitmap> b = NoiseBitmap(64, 4, StdFormats().R8G8B8, 1);
  const std::vector<uint8_t> before = Pixels(b.get());
  IccTransformBitmap(b.get(), b.get(), TRect{0, 0, 64, 4}, TPoint{}, from, to, 0);
  return Pixels(b.get()) != before;
}

void PutBE32(std::vector<uint8_t>& v, size_t at, uint32_t x) {
  for (int i = 0; i < 4; ++i) v[at + size_t(i)] = uint8_t(x >> (24 - 8 * i));
}

TEST(IccFailureTest, MalformedProfilesAreIgnored) {
  ASSERT_TRUE(GetLcmsDll()->Loaded());
  ASSERT_TRUE(Converts(kSRGB, kAdobe));
  // Real profiles pass the checks, cut to their declared size.
  for (const auto* p : {&kSRGB, &kAdobe}) EXPECT_EQ(CheckedIccProfile(*p).size(), p->size());
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator("/usr/share/color/icc/colord", ec)) {
    std::ifstream f(e.path(), std::ios::binary);
    std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(f), {});
    bytes.push_back(0);  // trailing bytes past the declared size are cut
    EXPECT_EQ(CheckedIccProfile(bytes).size(), bytes.size() - 1) << e.path();
  }
  // Every truncation is refused, and the picture keeps its pixels.
  for (size_t n = 0; n < kSRGB.size(); n += 13) {
    const std::span<const uint8_t> cut(kSRGB.data(), n);
    EXPECT_TRUE(CheckedIccProfile(cut).empty()) << n;
    EXPECT_FALSE(Converts(cut, kAdobe)) << n;
    EXPECT_FALSE(Converts(kAdobe, cut)) << n;
  }
  // Sizes in the header and the tag table that point outside the profile.
  auto broken = [](size_t at, uint32_t value) {
    std::vector<uint8_t> v = kSRGB;
    PutBE32(v, at, value);
    return v;
  };
  for (const auto& bad : {broken(0, uint32_t(kSRGB.size()) + 1), broken(0, 100), broken(128, 0xFFFFFFFF),
                          broken(128, 250), broken(132 + 4, 0xFFFFFFF0), broken(132 + 8, 0xFFFFFFF0),
                          broken(132 + 4, 16), broken(36, 0)}) {
    EXPECT_TRUE(CheckedIccProfile(bad).empty());
    EXPECT_FALSE(Converts(bad, kAdobe));
  }
  // Profiles of other colour spaces are not used for RGB pictures.
  std::ifstream gray("/usr/share/color/icc/Gray.icc", std::ios::binary);
  const std::vector<uint8_t> gray_bytes(std::istreambuf_iterator<char>(gray), {});
  if (!gray_bytes.empty()) {
    EXPECT_FALSE(Converts(gray_bytes, kAdobe));
  }
  // Scrambled tag data reaches the library, which must cope.
  std::mt19937 rng(3);
  for (int i = 0; i < 100; ++i) {
    std::vector<uint8_t> v = kSRGB;
    for (int k = 0; k < 8; ++k) v[264 + rng() % (v.size() - 264)] = uint8_t(rng());
    Converts(v, kAdobe);
    Converts(kAdobe, v);
  }
}

TEST(IccFailureTest, OnlyRgbFormatsAreConverted) {
  // Neither converted nor copied: 16-bit, grey, bit-field formats, and two
  // bitmaps of different formats.
  const TStdPixelFormats& f = StdFormats();
  const std::pair<TPixelFormat*, TPixelFormat*> cases[] = {
      {f.B5G6R5, f.B5G6R5}, {f.Y8, f.Y8}, {PixelFormatByName("A2R10G10B10"), PixelFormatByName("A2R10G10B10")},
      {f.R8G8B8, f.B8G8R8}};
  for (const auto& [from_format, to_format] : cases) {
    Ref<TSysBitmap> from = NoiseBitmap(8, 2, from_format, 1), to = NoiseBitmap(8, 2, to_format, 2);
    const std::vector<uint8_t> before = Pixels(to.get());
    IccTransformBitmap(to.get(), from.get(), TRect{0, 0, 8, 2}, TPoint{}, kSRGB, kAdobe, 0);
    EXPECT_EQ(Pixels(to.get()), before) << to_format->Name();
    if (from_format == to_format) {
      IccTransformBitmap(to.get(), to.get(), TRect{0, 0, 8, 2}, TPoint{}, kSRGB, kAdobe, 0);
      EXPECT_EQ(Pixels(to.get()), before) << to_format->Name();
    }
  }
}

TEST(IccFailureTest, OverlappingRectanglesReadEverySourcePixelFirst) {
  TPixelFormat* format = StdFormats().A8R8G8B8;
  for (const auto& profiles : {std::pair{kSRGB, kAdobe}, std::pair{std::vector<uint8_t>{}, kAdobe}}) {
    for (const TPoint shift : {TPoint{1, 1}, TPoint{-1, -2}, TPoint{3, 0}, TPoint{-3, 0}}) {
      Ref<TSysBitmap> b = NoiseBitmap(40, 30, format, 5);
      Ref<TSysBitmap> want = NoiseBitmap(40, 30, format, 5);
      Ref<TSysBitmap> original = NoiseBitmap(40, 30, format, 5);
      const TRect dest{5 + shift.X, 5 + shift.Y, 35 + shift.X, 25 + shift.Y};
      IccTransformBitmap(want.get(), original.get(), dest, TPoint{5, 5}, profiles.first, profiles.second, 0);
      IccTransformBitmap(b.get(), b.get(), dest, TPoint{5, 5}, profiles.first, profiles.second, 0);
      EXPECT_EQ(Pixels(b.get()), Pixels(want.get())) << shift.X << "," << shift.Y;
    }
  }
}

TEST(IccFailureTest, WithoutTheLibraryPicturesPassUnchanged) {
  struct TRestore {
    ~TRestore() { SetLcmsLibraryNameForTests(u""); }
  } restore;
  auto check_unconverted = [] {
    EXPECT_FALSE(Converts(kSRGB, kAdobe));
    // Into another bitmap the pixels are copied as they are.
    Ref<TSysBitmap> from = NoiseBitmap(16, 3, StdFormats().R8G8B8, 1), to = NoiseBitmap(16, 3, StdFormats().R8G8B8, 2);
    IccTransformBitmap(to.get(), from.get(), TRect{0, 0, 16, 3}, TPoint{}, kSRGB, kAdobe, 0);
    EXPECT_EQ(Pixels(to.get()), Pixels(from.get()));
    // Single colours too.
    Ref<TColorProfile> p = ColorProfileCreate(kAdobe, u"AdobeRGB");
    uint32_t out = 0;
    TransformColor(p.get(), out, 0x00FF0000);
    EXPECT_EQ(out, 0x00FF0000u);
  };
  SetLcmsLibraryNameForTests(u"/nonexistent/liblcms2.so.2");
  EXPECT_FALSE(GetLcmsDll()->Loaded());
  check_unconverted();
  // A library without all nine entry points is not used.
  SetLcmsLibraryNameForTests(u"" KAV_LCMS_STUB);
  Ref<TLcmsDll> stub = GetLcmsDll();
  EXPECT_FALSE(stub->Loaded());
  EXPECT_TRUE(stub->Path().empty());
  EXPECT_EQ(stub->cmsDoTransform, nullptr);
  check_unconverted();
  // The system library again, loaded on request.
  SetLcmsLibraryNameForTests(u"");
  EXPECT_TRUE(GetLcmsDll(true)->Loaded());
  EXPECT_TRUE(Converts(kSRGB, kAdobe));
}

}  // namespace
}  // namespace kav
