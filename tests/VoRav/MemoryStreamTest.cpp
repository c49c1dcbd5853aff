#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"
#include "ProbeStream.h"

using namespace kav;
using kav::test::TProbeStream;

namespace {

std::string Contents(TMemoryStream* s) { return std::string(reinterpret_cast<const char*>(s->Memory()), s->GetSize()); }

}  // namespace

TEST(MemoryStream, CapacityGrowsInSteps) {
  auto s = MakeRef<TMemoryStream>();
  std::vector<int64_t> steps;
  for (int i = 1; i <= 305; ++i) {
    s->WriteByte(static_cast<uint8_t>(i));
    if (steps.empty() || steps.back() != s->Capacity()) steps.push_back(s->Capacity());
  }
  EXPECT_EQ(steps, (std::vector<int64_t>{16, 32, 48, 112, 176, 240, 304, 608}));
  for (int i = 0; i < 305; ++i) ASSERT_EQ(s->Memory()[i], static_cast<uint8_t>(i + 1));
}

TEST(MemoryStream, PositionAndSize) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(std::vector<uint8_t>(40, 0xEE));
  EXPECT_EQ(s->SetPosition(1000), 40);
  EXPECT_EQ(s->SetPosition(-5), 0);

  s->SetPosition(30);
  s->SetSize(10);  // only lowers the size; the position follows
  EXPECT_EQ(s->GetPosition(), 10);
  EXPECT_EQ(s->Capacity(), 48);
  s->SetSize(20);  // the data length becomes exactly 20; the bytes past the old end read as 0
  EXPECT_EQ(s->Capacity(), 20);
  EXPECT_EQ(s->Memory()[9], 0xEE);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(s->Memory()[i], 0) << i;

  EXPECT_THROW(s->SetSize(kMaxMemoryStreamSize), EStreamError);
  EXPECT_EQ(s->GetSize(), 20);
  s->SetSize(-1);  // a negative size empties the stream
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(s->GetPosition(), 0);
  s->Clear();
  EXPECT_EQ(s->Capacity(), 0);
  EXPECT_EQ(s->GetPosition(), 0);
}

TEST(MemoryStream, GrowthNeverPassesTheCapOrLosesItsSource) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteInteger(7);
  // A buffer claiming 512 MB is refused before any byte is touched: a short write.
  const uint8_t tiny[1] = {0};
  EXPECT_EQ(s->Write(std::span<const uint8_t>(tiny, kMaxMemoryStreamSize), kMaxMemoryStreamSize), 0);
  EXPECT_EQ(s->GetSize(), 4);
  // position + count must not wrap: a source announcing 2^63-1 bytes is refused.
  auto huge = MakeRef<TProbeStream>();
  huge->extra_size = std::numeric_limits<int64_t>::max();
  EXPECT_THROW(s->CopyFrom(huge.get(), std::numeric_limits<int64_t>::max()), EStreamWriteError);
  EXPECT_TRUE(huge->reads.empty());

  // Appending its own bytes: growing moves the data the source span points into.
  for (uint8_t i = 0; i < 12; ++i) s->WriteByte(i);
  ASSERT_EQ(s->Capacity(), 16);
  EXPECT_EQ(s->Write(std::span<const uint8_t>(s->Memory(), 16), 16), 16);
  EXPECT_EQ(Contents(s.get()).substr(16), Contents(s.get()).substr(0, 16));
}

TEST(MemoryStream, CopyFromSizedSource) {
  auto src = MakeRef<TStringStream>("0123456789");
  src->SetPosition(4);
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(std::vector<uint8_t>{'a', 'b'});
  EXPECT_EQ(s->CopyFrom(src.get(), 100), 6);  // cut to the source's remaining bytes
  EXPECT_EQ(s->GetPosition(), 8);
  EXPECT_EQ(Contents(s.get()), "ab456789");

  // A source that delivers fewer bytes than it announces: the bytes that came are kept.
  auto liar = MakeRef<TProbeStream>(std::vector<uint8_t>(30, 0x5A));
  liar->extra_size = 70;
  EXPECT_THROW(s->CopyFrom(liar.get(), 50), EStreamReadError);
  EXPECT_EQ(s->GetSize(), 38);

  // Copying from itself goes through the generic loop.
  s->SetPosition(0);
  EXPECT_EQ(s->CopyFrom(s.get(), 4), 4);
  EXPECT_EQ(Contents(s.get()).substr(0, 8), "ab45ab45");
}

TEST(StringStream, WorksOnItsOwnCopy) {
  std::string text = "hello";
  auto s = MakeRef<TStringStream>(text);
  EXPECT_EQ(s->GetSize(), 5);
  s->SetPosition(5);
  s->WriteText(u"!");
  EXPECT_EQ(s->DataString(), std::string("hello!\0", 7));
  EXPECT_EQ(s->Capacity(), 21);  // 5 grown by one step of 16
  EXPECT_EQ(text, "hello");
}
