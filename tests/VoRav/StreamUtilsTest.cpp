#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStreamUtils.h"
#include "ProbeStream.h"

using namespace kav;
using kav::test::TProbeStream;

namespace {

std::vector<uint8_t> Iota(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

std::string MessageOf(auto&& f) {
  try {
    f();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "no exception";
}

struct CallCounter {
  int calls = 0;
  void OnChunk(TStream*) { ++calls; }
};

}  // namespace

TEST(PartialStream, WindowMustLieInsideTheSource) {
  auto src = MakeRef<TProbeStream>(Iota(100));
  auto whole_end = MakeRef<TPartialStream>(src.get(), false, 90, 10);  // ends exactly at the end
  EXPECT_EQ(whole_end->GetSize(), 10);
  for (const auto& window : {std::pair<int64_t, int64_t>{90, 11}, {-1, 5}, {0, -1}, {101, 0},
                             {INT64_MAX, 2}, {2, INT64_MAX}}) {
    const int64_t start = window.first, size = window.second;  // clang 14 cannot capture bindings
    EXPECT_EQ(MessageOf([&] { TPartialStream(src.get(), false, start, size); }), "Insufficient Source Size")
        << start << "+" << size;
  }
  src->size_known = false;  // an unknown size fits no window
  EXPECT_EQ(MessageOf([&] { TPartialStream(src.get(), false, 0, 0); }), "Insufficient Source Size");

  // An owned source is released even when the window is refused.
  auto owned = MakeRef<TProbeStream>(Iota(4));
  RefAddRef(owned.get());
  EXPECT_THROW(TPartialStream(owned.get(), true, 0, 5), EStreamError);
  EXPECT_EQ(owned->RefCount(), 1);
}

TEST(PartialStream, ReadsStopAtTheWindowEnd) {
  auto src = MakeRef<TProbeStream>(Iota(200));
  auto w = MakeRef<TPartialStream>(src.get(), false, 50, 100);
  EXPECT_EQ(src->GetPosition(), 50);
  std::vector<uint8_t> buf(100);
  w->SetPosition(90);
  EXPECT_EQ(w->Read(buf, 100), 10);
  EXPECT_EQ(buf[0], 140);
  EXPECT_EQ(buf[9], 149);
  EXPECT_EQ(w->Read(buf, 100), 0);

  EXPECT_EQ(w->SetPosition(100), 100);  // the size itself is accepted
  EXPECT_EQ(w->Read(buf, 1), 0);
  EXPECT_EQ(MessageOf([&] { w->SetPosition(-1); }), "Incorrect Position");
  EXPECT_EQ(MessageOf([&] { w->SetPosition(101); }), "Incorrect Position");
  EXPECT_EQ(MessageOf([&] { w->SetSize(5); }), "Stream Cannot be resized");

  // Someone else moved the source before the window: no read outside it.
  src->SetPosition(10);
  EXPECT_EQ(MessageOf([&] { w->Read(buf, 1); }), "Incorrect Position");

  auto empty = MakeRef<TPartialStream>(src.get(), false, 200, 0);
  EXPECT_EQ(empty->SetPosition(0), 0);
  EXPECT_EQ(empty->Read(buf, 10), 0);
}

TEST(PartialStream, CallbackChunksAndWrites) {
  auto src = MakeRef<TProbeStream>(Iota(2000));
  auto w = MakeRef<TPartialStream>(src.get(), false, 100, 1500);
  CallCounter counter;
  w->SetChunkCallback(32768, TChunkCallback::Bind<&CallCounter::OnChunk>(&counter));
  EXPECT_EQ(w->ChunkSize(), 256);
  std::vector<uint8_t> buf(1000);
  EXPECT_EQ(w->Read(buf, 1000), 1000);
  EXPECT_EQ(src->reads, (std::vector<int64_t>{256, 256, 256, 232}));
  EXPECT_EQ(counter.calls, 4);
  EXPECT_EQ(buf[999], static_cast<uint8_t>((100 + 999) & 0xFF));

  // A write stops at the window's end and leaves the bytes after it alone.
  w->SetPosition(1490);
  std::vector<uint8_t> ones(30, 0xFF);
  EXPECT_EQ(w->Write(ones, 30), 10);
  EXPECT_EQ(src->bytes()[1599], 0xFF);
  EXPECT_EQ(src->bytes()[1600], static_cast<uint8_t>(1600 & 0xFF));

  w->SetChunkCallback(10, nullptr);
  EXPECT_EQ(w->ChunkSize(), 32768);
  w->SetChunkCallback(0, TChunkCallback::Bind<&CallCounter::OnChunk>(&counter));
  EXPECT_EQ(w->ChunkSize(), 1);  // a chunk never reaches 0, which would read nothing
}

TEST(PartialStream, CopyFromStaysInsideTheWindow) {
  auto src = MakeRef<TProbeStream>(std::vector<uint8_t>(100, 0));
  auto w = MakeRef<TPartialStream>(src.get(), false, 10, 20);
  auto from = MakeRef<TMemoryStream>();
  from->WriteBytes(std::vector<uint8_t>(50, 7));
  from->SetPosition(0);
  EXPECT_EQ(w->CopyFrom(from.get(), 0), 0);
  EXPECT_EQ(w->CopyFrom(from.get(), 15), 15);
  EXPECT_THROW(w->CopyFrom(from.get(), 15), EStreamWriteError);  // only 5 fit
  EXPECT_EQ(src->bytes()[29], 7);
  EXPECT_EQ(src->bytes()[30], 0);

  src->write_limit = 0;  // a source that takes nothing
  w->SetPosition(0);
  from->SetPosition(0);
  EXPECT_THROW(w->CopyFrom(from.get(), 4), EStreamWriteError);
}

TEST(CryptStream, KeyFollowsTheSourcePosition) {
  const std::string key = "K3y!";
  std::vector<uint8_t> plain(103);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 7 + 1);
  std::vector<uint8_t> cipher(plain);
  for (size_t i = 0; i < cipher.size(); ++i) cipher[i] ^= static_cast<uint8_t>(key[i % key.size()]);

  auto src = MakeRef<TProbeStream>(cipher);
  auto c = MakeRef<TCryptStream>(src.get(), key, false);
  std::vector<uint8_t> whole(103), single(103);
  EXPECT_EQ(c->Read(whole, 103), 103);
  EXPECT_EQ(whole, plain);
  c->SetPosition(0);
  for (size_t i = 0; i < single.size(); ++i) single[i] = c->ReadByte();
  EXPECT_EQ(single, plain);
  c->SetPosition(41);  // any position keys by the absolute position
  EXPECT_EQ(c->ReadByte(), plain[41]);
  EXPECT_EQ(c->GetSize(), 103);

  // Writing leaves the caller's buffer alone and reads back as written.
  std::vector<uint8_t> data = {1, 2, 3, 4, 5, 6};
  c->SetPosition(50);
  EXPECT_EQ(c->Write(data, 6), 6);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(src->bytes()[50], 1 ^ static_cast<uint8_t>(key[50 % 4]));
  c->SetPosition(50);
  std::vector<uint8_t> back(6);
  c->Read(back, 6);
  EXPECT_EQ(back, data);

  // Over a window the key position is the window position.
  auto w = MakeRef<TPartialStream>(src.get(), false, 40, 8);
  RefAddRef(w.get());  // the reference the cipher stream takes over
  auto cw = MakeRef<TCryptStream>(w.get(), "\x5A", true);
  cw->SetPosition(0);
  EXPECT_EQ(cw->ReadByte(), cipher[40] ^ 0x5A);
  cw = nullptr;
  EXPECT_EQ(w->RefCount(), 1);

  EXPECT_THROW(TCryptStream(src.get(), "", false), EAbort);
  EXPECT_THROW(TCryptStream(nullptr, "k", false), EAbort);
}
