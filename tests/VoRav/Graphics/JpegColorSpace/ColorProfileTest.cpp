// Profiles, the current profile and single colours through the lookup volume,
// with transform makers whose results are known exactly.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <latch>
#include <thread>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/vxBuiltinProfiles.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorProfile.h"
#include "VoRav/Graphics/JpegColorSpace/vxColorVolume.h"

namespace kav {
namespace {

// Inverts every byte: a transform whose result is known everywhere.
class TInvertTransform : public TColorTransform {
 public:
  using TColorTransform::TColorTransform;
  void TransformPixels(TBitmap* bitmap) override {
    TSysBitmap* b = AsSysBitmap(bitmap);
    for (int32_t y = 0; y < b->Height(); ++y)
      for (int32_t i = 0; i < b->Width() * 3; ++i) b->Row(y)[i] = uint8_t(255 - b->Row(y)[i]);
  }
};

std::atomic<int> g_made{0};
Ref<TColorTransform> InvertMaker(TColorProfile* s, TColorProfile* t) {
  ++g_made;
  return MakeRef<TInvertTransform>(s, t);
}

// Installs a maker for one test and restores the previous one.
struct TMakerScope {
  explicit TMakerScope(TColorTransformMaker m) : previous(SetColorTransformMaker(m)) { g_made = 0; }
  ~TMakerScope() { SetColorTransformMaker(previous); }
  TColorTransformMaker previous;
};

Ref<TColorProfile> FreshProfile() {
  static const uint8_t kBytes[] = {1, 2, 3};
  return ColorProfileCreate(kBytes, u"test");
}

uint32_t Rgb(uint32_t r, uint32_t g, uint32_t b) { return b | g << 8 | r << 16; }

int MaxChannelDiff(uint32_t a, uint32_t b) {
  int d = 0;
  for (int s = 0; s < 24; s += 8) d = std::max(d, std::abs(int((a >> s) & 0xFF) - int((b >> s) & 0xFF)));
  return d;
}

TEST(ColorVolumeTest, LookupFollowsTheGridAndHitsItsEnds) {
  TMakerScope scope(&InvertMaker);
  Ref<TColorProfile> p = FreshProfile();
  uint32_t out = 0xAB000000;  // the top byte stays
  TransformColor(p.get(), out, 0x12FFFFFF);  // all 255: the last grid entry alone
  EXPECT_EQ(out, 0xAB000000u);
  TransformColor(p.get(), out, Rgb(255, 0, 255));
  EXPECT_EQ(out, 0xAB00FF00u);
  // Between grid points the lookup stays close to the inverse (within two
  // steps: the rounding term is added before the division drops the
  // fraction toward zero, which on falling entries can cost one more), on
  // each axis alone, on the grey diagonal and on mixed colours, so the
  // channels also come out of the volume in the order they went in.
  for (uint32_t v = 0; v < 256; ++v)
    for (uint32_t c : {v, v << 8, v << 16, v * 0x010101u, Rgb(v, 255 - v, v / 2)}) {
      TransformColor(p.get(), out, c);
      EXPECT_LE(MaxChannelDiff(out, ~c & 0xFFFFFF), 2) << std::hex << c;
    }
  EXPECT_EQ(g_made, 1);
}

TEST(ColorVolumeTest, ConcurrentFirstUsesBuildOneVolume) {
  TMakerScope scope(&InvertMaker);
  Ref<TColorProfile> p = FreshProfile();
  constexpr int kThreads = 8;
  std::latch start(kThreads);
  std::vector<uint32_t> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      uint32_t out = 0;
      TransformColor(p.get(), out, Rgb(10, 20, 30));
      results[size_t(i)] = out;
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(g_made, 1);
  for (uint32_t r : results) EXPECT_EQ(r, results[0]);
}

TEST(ColorVolumeTest, TargetsThatNeedNoVolume) {
  TMakerScope scope(&InvertMaker);
  uint32_t out = 0;
  // The default profile is the source of every volume: nothing to convert.
  TColorProfile* srgb = GetDefaultColorProfile();
  TransformColor(srgb, out, Rgb(1, 2, 3));
  EXPECT_EQ(out, Rgb(1, 2, 3));
  EXPECT_TRUE(srgb->VolumeBuilt());
  EXPECT_EQ(srgb->Volume(), nullptr);
  // No current profile: colours pass unchanged; with one they go to it.
  TransformColor(nullptr, out, Rgb(4, 5, 6));
  EXPECT_EQ(out, Rgb(4, 5, 6));
  EXPECT_EQ(g_made, 0);
  Ref<TColorProfile> p = FreshProfile();
  SetCurrentColorProfile(p.get(), false);
  EXPECT_EQ(GetCurrentColorProfile().get(), p.get());
  TransformColor(nullptr, out, 0);
  EXPECT_EQ(out, 0xFFFFFFu);
  SetCurrentColorProfile(nullptr, false);
  // A failed build is not retried.
  SetColorTransformMaker(nullptr);
  p = FreshProfile();
  TransformColor(p.get(), out, Rgb(7, 8, 9));
  SetColorTransformMaker(&InvertMaker);
  TransformColor(p.get(), out, Rgb(7, 8, 9));
  EXPECT_EQ(out, Rgb(7, 8, 9));
  EXPECT_EQ(p->Volume(), nullptr);
}

TEST(ColorProfileTest, BytesNamingSRGBGiveTheDefaultProfile) {
  EXPECT_EQ(ColorProfileFromBytes({}, u"x"), nullptr);
  const std::string text = "sRGB IEC61966-2.1";
  for (size_t at : {size_t(0), size_t(495), size_t(496)}) {
    std::vector<uint8_t> bytes(600, 0);
    std::copy(text.begin(), text.end(), bytes.begin() + ptrdiff_t(at));
    Ref<TColorProfile> p = ColorProfileFromBytes(bytes, u"file.icc");
    EXPECT_EQ(p.get() == GetDefaultColorProfile(), at <= 495) << at;
    EXPECT_EQ(p->Bytes().size(), at <= 495 ? sizeof kSRGBProfile : bytes.size());
  }
  // The built-in sRGB bytes identify themselves; "YUVsRGB" is a profile of its own.
  EXPECT_EQ(ColorProfileFromBytes(kSRGBProfile, u"x").get(), GetDefaultColorProfile());
  EXPECT_NE(GetStandardColorProfile(u"yuvsrgb"), GetDefaultColorProfile());
  EXPECT_EQ(GetStandardColorProfile(u"yuvsrgb")->Bytes(), GetDefaultColorProfile()->Bytes());
}

}  // namespace
}  // namespace kav
