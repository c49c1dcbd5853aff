#include <gtest/gtest.h>

#include <vector>

#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/SysPixelConverters.h"
#include "VoRav/Graphics/SysPixelKernels.h"

using namespace kav;
using namespace kav::test;

namespace {

std::vector<uint8_t> Convert(TPixelFormat* dst, TPixelFormat* src, std::vector<uint8_t> in) {
  const int32_t n = int32_t(in.size()) / src->BytesPerPixel();
  std::vector<uint8_t> out(size_t(n * dst->BytesPerPixel()) + 4, 0xEE);  // 4 sentinel bytes
  GetPixelConverter(dst, src)->Convert(out.data(), in.data(), n);
  for (size_t i = out.size() - 4; i < out.size(); ++i) EXPECT_EQ(out[i], 0xEE) << "written past the row";
  out.resize(out.size() - 4);
  return out;
}

using Bytes = std::vector<uint8_t>;

}  // namespace

TEST(PixelConverter, RegisteredPairs) {
  EXPECT_EQ(Convert(F().A8R8G8B8, F().R8G8B8, {10, 20, 30}), (Bytes{10, 20, 30, 255}));
  EXPECT_EQ(Convert(F().A8r8g8b8, F().A8R8G8B8, {200, 100, 50, 128, 1, 2, 3, 0, 9, 8, 7, 255}),
            (Bytes{100, 50, 25, 128, 0, 0, 0, 0, 9, 8, 7, 255}));
  EXPECT_EQ(Convert(F().R8G8B8, F().R5G6B5, {0xFF, 0xFF, 0, 0}), (Bytes{248, 252, 248, 0, 0, 0}));
  EXPECT_EQ(Convert(F().R8G8B8, F().X1R5G5B5, {0x1F, 0x7C}), (Bytes{248, 0, 248}));
  EXPECT_EQ(Convert(F().R8G8B8, F().Y8, {7}), (Bytes{7, 7, 7}));
  EXPECT_EQ(Convert(F().R8G8B8, F().A8R8G8B8, {1, 2, 3, 4}), (Bytes{1, 2, 3}));
  EXPECT_EQ(GetPixelConverter(F().A8B8G8R8, F().R8G8B8), GetPixelConverter(F().A8B8G8R8, F().R8G8B8));
}

TEST(PixelConverter, GenericPairs) {
  // 5-bit channels widen with ones in the freed bits: 0, 1 and 31 give 0, 15, 255.
  EXPECT_EQ(Convert(F().A8R8G8B8, F().X1R5G5B5, {0x00, 0x00, 0x01, 0x00, 0x1F, 0x00}),
            (Bytes{0, 0, 0, 255, 15, 0, 0, 255, 255, 0, 0, 255}));
  EXPECT_EQ(Convert(F().A8B8G8R8, F().A8R8G8B8, {1, 2, 3, 4}), (Bytes{3, 2, 1, 4}));
  EXPECT_EQ(Convert(F().X8B8G8R8, F().R8G8B8, {1, 2, 3}), (Bytes{3, 2, 1, 0}));
  EXPECT_EQ(Convert(F().A8, F().R8G8B8, {1, 2, 3}), (Bytes{255}));
  // Narrowing drops low bits; 16-bit formats take what their names say.
  EXPECT_EQ(Convert(F().R5G6B5, F().R8G8B8, {0xFF, 0x00, 0x80}), (Bytes{0x1F, 0x80}));
  EXPECT_EQ(Convert(F().B5G6R5, F().R8G8B8, {0xFF, 0x00, 0x80}), (Bytes{0x10, 0xF8}));
  // A 5-6-5 picture keeps its colours through either label.
  EXPECT_EQ(Convert(F().A8R8G8B8, F().B5G6R5, {0x1F, 0x00}), (Bytes{0, 0, 255, 255}));
  EXPECT_EQ(Convert(F().R8G8B8, F().B5G6R5, Convert(F().B5G6R5, F().R5G6B5, {0x00, 0xF8})), (Bytes{0, 0, 255}));
  // Odd formats never write past their pixels.
  Convert(PixelFormatByName("R3G3B2"), PixelFormatByName("X4R12G16B32"), RandomBytes(8 * 5, 1));
  Convert(PixelFormatByName("A32R32G32B32X32"), F().X1R5G5B5, RandomBytes(2 * 5, 2));
}

TEST(PixelConverter, GreyIntoSixteenBitsWritesTwoBytes) {
  EXPECT_EQ(Convert(F().B5G6R5, F().Y8, {0xFF, 0x00, 0x80}), (Bytes{0xFF, 0xFF, 0x00, 0x00, 0x10, 0x84}));
  EXPECT_EQ(Convert(F().B5G5R5X1, F().A8, {0xFF}), (Bytes{0xFE, 0xFF}));
  EXPECT_EQ(Convert(F().X1R5G5B5, F().Y8, {0xFF}), (Bytes{0xFF, 0x7F}));
}

TEST(PixelConverter, PremultipliedToStraightUnpremultiplies) {
  EXPECT_EQ(Convert(F().A8R8G8B8, F().A8r8g8b8, {100, 50, 25, 128, 9, 9, 9, 0, 4, 5, 6, 255}),
            (Bytes{199, 99, 49, 128, 0, 0, 0, 0, 4, 5, 6, 255}));
  // Across byte orders and into formats without alpha as well.
  EXPECT_EQ(Convert(F().A8R8G8B8, F().A8b8g8r8, {100, 50, 25, 128}), (Bytes{49, 99, 199, 128}));
  EXPECT_EQ(Convert(F().R8G8B8, F().A8r8g8b8, {64, 32, 0, 128}), (Bytes{127, 63, 0}));
  // Straight into a premultiplied format of the other order premultiplies.
  EXPECT_EQ(Convert(F().A8b8g8r8, F().A8R8G8B8, {200, 100, 50, 128}), (Bytes{25, 50, 100, 128}));
  // Premultiplied to premultiplied moves the bytes.
  EXPECT_EQ(Convert(F().A8b8g8r8, F().A8r8g8b8, {1, 2, 3, 4}), (Bytes{3, 2, 1, 4}));
  // Colour bytes above alpha (invalid premultiplied data) saturate.
  EXPECT_EQ(Convert(F().A8R8G8B8, F().A8r8g8b8, {200, 0, 0, 10}), (Bytes{255, 0, 0, 10}));
  // A round trip through premultiplied stays within the rounding of alpha.
  std::vector<uint8_t> src = RandomBytes(4 * 4096, 5);
  for (size_t i = 3; i < src.size(); i += 4) src[i] = uint8_t(src[i] | 0x80);
  std::vector<uint8_t> back = Convert(F().A8R8G8B8, F().A8r8g8b8, Convert(F().A8r8g8b8, F().A8R8G8B8, src));
  for (size_t i = 0; i < src.size(); ++i) ASSERT_NEAR(back[i], src[i], 4) << i;
}

TEST(PixelKernels, FastFormsMatchTheScalarForm) {
  const TPixelKernels* scalar = PixelKernelsFor(TSimdLevel::Scalar);
  ASSERT_NE(scalar, nullptr);
  // Every colour-alpha pair, then seeded random pixels, at lengths that end
  // on and off every vector width.
  std::vector<uint8_t> all(65536 * 4);
  for (uint32_t i = 0; i < 65536; ++i) {
    all[4 * i] = uint8_t(i);
    all[4 * i + 1] = uint8_t(255 - i);
    all[4 * i + 2] = uint8_t(i * 7);
    all[4 * i + 3] = uint8_t(i >> 8);
  }
  std::vector<uint8_t> rnd = RandomBytes(4 * 5000, 11);
  int tested = 0;
  for (TSimdLevel level : {TSimdLevel::SSE2, TSimdLevel::AVX2}) {
    const TPixelKernels* k = PixelKernelsFor(level);
    if (!k) continue;
    ++tested;
    for (const std::vector<uint8_t>* input : {&all, &rnd}) {
      for (size_t n : {size_t(0), size_t(1), size_t(3), size_t(7), size_t(9), size_t(17), size_t(33),
                       input->size() / 4}) {
        const uint8_t* in = input->data();
        std::vector<uint8_t> a(n * 4 + 16, 0), b(n * 4 + 16, 0);
        scalar->ExpandRGB(a.data(), in, n);
        k->ExpandRGB(b.data(), in, n);
        ASSERT_EQ(a, b) << "ExpandRGB " << int(level) << " n=" << n;
        scalar->PremultiplyShift(a.data(), in, n);
        k->PremultiplyShift(b.data(), in, n);
        ASSERT_EQ(a, b) << "PremultiplyShift " << int(level) << " n=" << n;
        scalar->PremultiplyExact(a.data(), in, n);
        k->PremultiplyExact(b.data(), in, n);
        ASSERT_EQ(a, b) << "PremultiplyExact " << int(level) << " n=" << n;
        scalar->Unpremultiply(a.data(), in, n, 0x11223344);
        k->Unpremultiply(b.data(), in, n, 0x11223344);
        ASSERT_EQ(a, b) << "Unpremultiply " << int(level) << " n=" << n;
        // In place, as the copy-time premultiplication runs.
        std::vector<uint8_t> c(in, in + n * 4), d(in, in + n * 4);
        scalar->PremultiplyExact(c.data(), c.data(), n);
        k->PremultiplyExact(d.data(), d.data(), n);
        ASSERT_EQ(c, d);
      }
    }
  }
  if (tested == 0) GTEST_SKIP() << "no SIMD level on this processor";
}

TEST(PixelKernels, ScalarFormsFollowTheirFormulas) {
  const TPixelKernels* s = PixelKernelsFor(TSimdLevel::Scalar);
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c < 256; c += 5) {
      uint8_t px[4] = {uint8_t(c), uint8_t(c), uint8_t(c), uint8_t(a)}, out[4];
      s->PremultiplyExact(out, px, 1);
      ASSERT_EQ(out[0], c * a / 255);
      s->PremultiplyShift(out, px, 1);
      ASSERT_EQ(out[0], a == 255 ? c : (c * a) >> 8);
    }
  }
}
