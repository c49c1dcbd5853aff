#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "VoRav/vxBits.h"
#include "VoRav/vxCpuInfo.h"

using namespace kav;

TEST(Bits, TablesAgreeWithTheBitFunctions) {
  EXPECT_EQ(BitReverseTable[0x01], 0x80);
  EXPECT_EQ(BitReverseTable[0x0F], 0xF0);
  for (int b = 0; b < 256; ++b) {
    uint8_t v = static_cast<uint8_t>(b);
    ASSERT_EQ(BitReverseTable[BitReverseTable[b]], b);
    ASSERT_EQ(BitCountTable[b], std::popcount(v));
    ASSERT_EQ(LeadingZerosTable[b], std::countl_zero(v));
    ASSERT_EQ(TrailingZerosTable[b], std::countr_zero(v));
  }
  EXPECT_EQ(PopCount32(0xFFFFFFFFu), 32u);
  EXPECT_EQ(PopCount32(0x80000001u), 2u);

  const uint32_t in[] = {0, 1, 2, 3, 255, 256, 0x40000001u, 0x80000000u, 0x80000001u};
  const uint32_t out[] = {0, 1, 2, 4, 256, 256, 0x80000000u, 0x80000000u, 0};
  for (size_t i = 0; i < std::size(in); ++i) EXPECT_EQ(NextPowerOfTwo(in[i]), out[i]) << in[i];
}

TEST(Bits, BitSetShrinkClearsAndBoundsAreIgnored) {
  auto set = MakeRef<TBitSet>();
  set->SetSize(20);
  EXPECT_EQ(set->Bits().size(), 3u);
  for (int i = 0; i < 20; ++i) set->SetBit(i, true);
  set->SetBit(20, true);  // outside: ignored
  set->SetBit(-1, true);
  EXPECT_FALSE(set->GetBit(20));
  EXPECT_EQ(set->Bits()[2], 0x0F);

  set->SetSize(3);
  EXPECT_EQ(set->Bits().size(), 3u);  // the array is kept
  EXPECT_FALSE(set->GetBit(3));
  set->SetSize(20);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(set->GetBit(i), i < 3) << i;

  set->SetSize(17);  // clears bit 16 alone, then nothing whole
  set->SetSize(9);
  set->SetBit(8, true);
  set->SetBit(2, false);
  set->SetSize(-5);
  EXPECT_EQ(set->Size(), 9);
  EXPECT_EQ(set->Bits()[0], 0x03);
  EXPECT_EQ(set->Bits()[1], 0x01);
  EXPECT_EQ(set->Bits()[2], 0x00);
}

namespace {

// A made-up processor: vendor "FakeCpuVendr", family 6, model 0xA, every
// feature bit set, and a highest extended leaf chosen by the test.
uint32_t g_max_ext = 0;
TCpuidRegs FakeCpuid(uint32_t leaf) {
  TCpuidRegs r;
  if (leaf == 0) {
    r.Eax = 1;
    std::memcpy(&r.Ebx, "Fake", 4);
    std::memcpy(&r.Edx, "CpuV", 4);
    std::memcpy(&r.Ecx, "endr", 4);
  } else if (leaf == 1) {
    r.Eax = 0x6A0;
    r.Edx = 0xFFFFFFFFu;
  } else if (leaf == 0x80000000u) {
    r.Eax = g_max_ext;
  } else if (leaf == 0x80000001u) {
    r.Edx = 0xFFFFFFFFu;
  }
  return r;
}

}  // namespace

TEST(CpuInfo, FeatureFlagsFollowTheAvailableLeaves) {
  TCpuInfo none = ReadCpuInfo(nullptr, 4);
  EXPECT_EQ(none.Features, 0);
  EXPECT_EQ(none.Vendor, "");
  EXPECT_EQ(none.ProcessorCount, 4);
  EXPECT_EQ(ReadCpuInfo(nullptr, 256).ProcessorCount, 255);

  g_max_ext = 0x80000000u;
  TCpuInfo plain = ReadCpuInfo(&FakeCpuid, 2);
  EXPECT_EQ(plain.Vendor, "FakeCpuVendr");
  EXPECT_EQ(plain.Family, 6);
  EXPECT_EQ(plain.Model, 0xA);
  EXPECT_EQ(plain.Features, kCpuCmov | kCpuMmx | kCpuSse | kCpuSse2);

  g_max_ext = 0x80000008u;
  EXPECT_EQ(ReadCpuInfo(&FakeCpuid, 2).Features, 0x7F);

#if defined(__x86_64__)
  const TCpuInfo& real = GetCpuInfo();
  EXPECT_TRUE(CpuidAvailable());
  EXPECT_EQ(real.Vendor.size(), 12u);
  EXPECT_TRUE(real.Features & kCpuSse2);  // every x86-64 processor has it
  EXPECT_GE(real.ProcessorCount, 1);
  std::string vendor;
  EXPECT_GE(GetCpuVendor(vendor), 1u);
  EXPECT_EQ(vendor, real.Vendor);
#endif
}
