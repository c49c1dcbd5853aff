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

// Leaves the grid as it is (volume = identity) or inverts every byte.
class TFakeTransform : public TColorTransform {
 public:
  TFakeTransform(TColorProfile* s, TColorProfile* t, bool invert) : TColorTransform(s, t), invert_(invert) {}
  void TransformPixels(TBitmap* bitmap) override {
    if (!invert_) return;
    TSysBitmap* b = AsSysBitmap(bitmap);
    for (int32_t y = 0; y < b->Height(); ++y)
      for (int32_t i = 0; i < b->Width() * 3; ++i) b->Row(y)[i] = uint8_t(255 - b->Row(y)[i]);
  }

 private:
  bool invert_;
};

std::atomic<int> g_made{0};
Ref<TColorTransform> IdentityMaker(TColorProfile* s, TColorProfile* t) {
  ++g_made;
  return MakeRef<TFakeTransform>(s, t, false);
}
Ref<TColorTransform> InvertMaker(TColorProfile* s, TColorProfile* t) {
  ++g_made;
  return MakeRef<TFakeTransform>(s, t, true);
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

TEST(ColorVolumeTest, LookupFollowsTheGridAndHitsItsCorners) {
  TMakerScope scope(&IdentityMaker);
  Ref<TColorProfile> p = FreshProfile();
  uint32_t out = 0;
  TransformColor(p.get(), out, 0);
  ASSERT_NE(p->Volume(), nullptr);
  // The identity volume gives every byte back within one step of rounding,
  // on each axis alone and on the grey diagonal.
  for (uint32_t v = 0; v < 256; ++v) {
    for (uint32_t c : {v, v << 8, v << 16, v * 0x010101u, Rgb(v, 255 - v, v / 2)}) {
      TransformColor(p.get(), out, c);
      EXPECT_LE(MaxChannelDiff(out, c), 1) << std::hex << c;
    }
  }
  TransformColor(p.get(), out, 0xFFFFFF);
  EXPECT_EQ(out & 0xFFFFFF, 0xFFFFFFu);
  EXPECT_EQ(g_made, 1);
}

TEST(ColorVolumeTest, InvertedVolumeIsExactAtTheEndsAndKeepsTheTopByte) {
  TMakerScope scope(&InvertMaker);
  Ref<TColorProfile> p = FreshProfile();
  uint32_t out = 0xAB000000;
  TransformColor(p.get(), out, 0x12FFFFFF);  // all 255: the last grid entry (0) alone
  EXPECT_EQ(out, 0xAB000000u);
  TransformColor(p.get(), out, 0x00000000);
  EXPECT_EQ(out, 0xABFFFFFFu);
  TransformColor(p.get(), out, Rgb(255, 0, 255));
  EXPECT_EQ(out, 0xAB00FF00u);
  // Between grid points the lookup stays within one step of the inverse, so
  // the channels come out of the volume in the order they went in.
  for (uint32_t c : {Rgb(200, 10, 90), Rgb(3, 250, 128), Rgb(77, 141, 13)}) {
    TransformColor(p.get(), out, c);
    EXPECT_LE(MaxChannelDiff(out, ~c & 0xFFFFFF), 1) << std::hex << c;
  }
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

TEST(ColorVolumeTest, NoVolumeWhereNoConversionIsNeeded) {
  TMakerScope scope(&InvertMaker);
  uint32_t out = 0;
  // The default profile is the source of every volume: nothing to convert.
  TColorProfile* srgb = GetDefaultColorProfile();
  TransformColor(srgb, out, Rgb(1, 2, 3));
  EXPECT_EQ(out, Rgb(1, 2, 3));
  EXPECT_TRUE(srgb->VolumeBuilt());
  EXPECT_EQ(srgb->Volume(), nullptr);
  // No current profile: colours pass unchanged.
  SetCurrentColorProfile(nullptr, false);
  TransformColor(nullptr, out, Rgb(4, 5, 6));
  EXPECT_EQ(out, Rgb(4, 5, 6));
  EXPECT_EQ(g_made, 0);
  // A failed build is not retried.
  SetColorTransformMaker(nullptr);
  Ref<TColorProfile> p = FreshProfile();
  TransformColor(p.get(), out, Rgb(7, 8, 9));
  SetColorTransformMaker(&InvertMaker);
  TransformColor(p.get(), out, Rgb(7, 8, 9));
  EXPECT_EQ(out, Rgb(7, 8, 9));
  EXPECT_EQ(p->Volume(), nullptr);
}

TEST(ColorProfileTest, CurrentProfileAndReferences) {
  TMakerScope scope(&InvertMaker);
  EXPECT_EQ(GetCurrentColorProfile().get(), GetDefaultColorProfile());
  Ref<TColorProfile> p = FreshProfile();
  SetCurrentColorProfile(p.get(), false);
  EXPECT_EQ(p->RefCount(), 2);
  EXPECT_EQ(GetCurrentColorProfile().get(), p.get());
  uint32_t out = 0;
  TransformColor(nullptr, out, 0);  // to the current profile
  EXPECT_EQ(out, 0xFFFFFFu);
  // With `owns` the caller's reference is handed over.
  SetCurrentColorProfile(FreshProfile().release(), true);
  EXPECT_EQ(p->RefCount(), 1);
  EXPECT_EQ(GetCurrentColorProfile()->RefCount(), 2);
  SetCurrentColorProfile(nullptr, false);
  // A missing target is the current profile, a missing source the default;
  // no transform between a profile and itself.
  EXPECT_EQ(CreateColorTransform(nullptr, nullptr), nullptr);
  Ref<TColorTransform> t = CreateColorTransform(nullptr, p.get());
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->Source(), GetDefaultColorProfile());
}

TEST(ColorProfileTest, BytesNamingSRGBGiveTheDefaultProfile) {
  EXPECT_EQ(ColorProfileFromBytes({}, u"x"), nullptr);
  const std::string text = "sRGB IEC61966-2.1";
  for (size_t at : {size_t(0), size_t(495), size_t(496)}) {
    std::vector<uint8_t> bytes(600, 0);
    std::copy(text.begin(), text.end(), bytes.begin() + ptrdiff_t(at));
    Ref<TColorProfile> p = ColorProfileFromBytes(bytes, u"file.icc");
    if (at <= 495) {
      EXPECT_EQ(p.get(), GetDefaultColorProfile()) << at;
    } else {
      EXPECT_NE(p.get(), GetDefaultColorProfile());
      EXPECT_EQ(p->Name(), u"file.icc");
      EXPECT_EQ(p->Bytes(), bytes);
    }
  }
  // The built-in sRGB bytes identify themselves; the others are separate.
  EXPECT_EQ(ColorProfileFromBytes(kSRGBProfile, u"x").get(), GetDefaultColorProfile());
  EXPECT_EQ(GetStandardColorProfile(u"adobergb")->Name(), u"AdobeRGB");
  EXPECT_EQ(GetStandardColorProfile(u"YUVsRGB")->Bytes(), GetDefaultColorProfile()->Bytes());
  EXPECT_NE(GetStandardColorProfile(u"YUVsRGB"), GetDefaultColorProfile());
  EXPECT_EQ(GetStandardColorProfile(u"DuvazURI")->Bytes().size(), sizeof kDuvazURIProfile);
  EXPECT_EQ(GetStandardColorProfile(u"other"), nullptr);
}

}  // namespace
}  // namespace kav
