#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"

using namespace kav;

namespace {

// A source that announces `size` bytes but delivers only `real` of them.
class TLyingStream : public TStream {
 public:
  TLyingStream(int64_t size, int64_t real) : size_(size), real_(real) {}
  int64_t GetPosition() override { return pos_; }
  int64_t SetPosition(int64_t p) override { return pos_ = p; }
  int64_t GetSize() override { return size_; }
  void SetSize(int64_t) override { throw EStreamError(); }
  int64_t reads = 0;

 protected:
  int64_t DoRead(std::span<uint8_t> b) override {
    ++reads;
    const int64_t n = std::min<int64_t>(static_cast<int64_t>(b.size()), std::max<int64_t>(real_ - pos_, 0));
    std::memset(b.data(), 0x5A, static_cast<size_t>(n));
    pos_ += n;
    return n;
  }
  int64_t DoWrite(std::span<const uint8_t>) override { return 0; }

 private:
  int64_t size_, real_, pos_ = 0;
};

}  // namespace

TEST(MemoryStream, CapacityGrowsInSteps) {
  auto s = MakeRef<TMemoryStream>();
  std::vector<int64_t> steps;
  for (int i = 1; i <= 305; ++i) {
    s->WriteByte(static_cast<uint8_t>(i));
    if (steps.empty() || steps.back() != s->Capacity()) steps.push_back(s->Capacity());
    if (i == 1) {
      EXPECT_EQ(s->Capacity(), 16);
    }
  }
  EXPECT_EQ(steps, (std::vector<int64_t>{16, 32, 48, 112, 176, 240, 304, 608}));
  EXPECT_EQ(s->GetSize(), 305);
  for (int i = 0; i < 305; ++i) ASSERT_EQ(s->Memory()[i], static_cast<uint8_t>(i + 1));
}

TEST(MemoryStream, PositionAndSize) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(std::vector<uint8_t>(40, 0xEE));
  EXPECT_EQ(s->SetPosition(1000), 40);
  EXPECT_EQ(s->SetPosition(-5), 0);
  EXPECT_EQ(s->GetRemaining(), 40);

  s->SetPosition(30);
  s->SetSize(10);  // only lowers the size; the position follows
  EXPECT_EQ(s->GetSize(), 10);
  EXPECT_EQ(s->GetPosition(), 10);
  EXPECT_EQ(s->Capacity(), 48);
  s->SetSize(20);  // the data length becomes exactly 20; the bytes past the old end read as 0
  EXPECT_EQ(s->Capacity(), 20);
  EXPECT_EQ(s->Memory()[9], 0xEE);
  for (int i = 10; i < 20; ++i) EXPECT_EQ(s->Memory()[i], 0) << i;
  EXPECT_EQ(s->GetPosition(), 10);

  EXPECT_THROW(s->SetSize(-1), EStreamError);
  EXPECT_THROW(s->SetSize(kMaxMemoryStreamSize), EStreamError);
  EXPECT_EQ(s->GetSize(), 20);

  s->Clear();
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(s->Capacity(), 0);
  EXPECT_EQ(s->GetPosition(), 0);
  uint8_t b[4];
  EXPECT_EQ(s->Read(b, 4), 0);
}

TEST(MemoryStream, WritesThatWouldPassTheCapFail) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteInteger(7);
  // A buffer claiming 512 MB: refused before any byte is touched.
  const uint8_t tiny[1] = {0};
  EXPECT_EQ(s->Write(std::span<const uint8_t>(tiny, kMaxMemoryStreamSize), kMaxMemoryStreamSize), 0);
  EXPECT_EQ(s->GetSize(), 4);
  EXPECT_EQ(s->GetPosition(), 4);

  // position + count must not wrap: a source announcing 2^63-1 bytes is refused.
  auto huge = MakeRef<TLyingStream>(std::numeric_limits<int64_t>::max(), 0);
  EXPECT_THROW(s->CopyFrom(huge.get(), std::numeric_limits<int64_t>::max()), EStreamWriteError);
  EXPECT_EQ(huge->reads, 0);
  EXPECT_EQ(s->GetSize(), 4);
}

TEST(MemoryStream, WritingItsOwnBytesWhileGrowing) {
  auto s = MakeRef<TMemoryStream>();
  for (uint8_t i = 0; i < 16; ++i) s->WriteByte(i);
  ASSERT_EQ(s->Capacity(), 16);
  // Appends its own 16 bytes; growing moves the data the source span points into.
  EXPECT_EQ(s->Write(std::span<const uint8_t>(s->Memory(), 16), 16), 16);
  ASSERT_EQ(s->GetSize(), 32);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(s->Memory()[i], i % 16) << i;
  // Overlapping copy inside the capacity.
  s->SetPosition(1);
  EXPECT_EQ(s->Write(std::span<const uint8_t>(s->Memory(), 4), 4), 4);
  EXPECT_EQ(s->Memory()[4], 3);
  EXPECT_EQ(s->Memory()[1], 0);
}

TEST(MemoryStream, CopyFromSizedSource) {
  auto src = MakeRef<TStringStream>("0123456789");
  src->SetPosition(4);
  auto s = MakeRef<TMemoryStream>();
  s->WriteBytes(std::vector<uint8_t>{'a', 'b'});
  EXPECT_EQ(s->CopyFrom(src.get(), 100), 6);  // cut to the source's remaining bytes
  EXPECT_EQ(s->GetSize(), 8);
  EXPECT_EQ(s->GetPosition(), 8);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s->Memory()), 8), "ab456789");
  EXPECT_EQ(s->CopyFrom(src.get(), 5), 0);

  // A source that delivers fewer bytes than it announces: the bytes that came are kept.
  auto liar = MakeRef<TLyingStream>(100, 30);
  EXPECT_THROW(s->CopyFrom(liar.get(), 50), EStreamReadError);
  EXPECT_EQ(s->GetSize(), 38);
  EXPECT_EQ(s->Memory()[37], 0x5A);

  // Copying from itself goes through the generic loop.
  s->SetPosition(0);
  EXPECT_EQ(s->CopyFrom(s.get(), 4), 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s->Memory()), 8), "ab45ab45");
}

TEST(StringStream, WorksOnItsOwnCopy) {
  std::string text = "hello";
  auto s = MakeRef<TStringStream>(text);
  EXPECT_EQ(s->GetSize(), 5);
  EXPECT_EQ(s->GetPosition(), 0);
  std::string got(3, '#');
  EXPECT_EQ(s->ReadAnsiRange(got, 0, 3), 3);
  EXPECT_EQ(got, "hel");
  s->SetPosition(5);
  s->WriteText(u"!");
  EXPECT_EQ(s->DataString(), std::string("hello!\0", 7));
  EXPECT_EQ(s->Capacity(), 21);  // 5 grown by one step of 16
  EXPECT_EQ(text, "hello");
  s->SetSize(2);
  EXPECT_EQ(s->DataString(), "he");
}
