#include <gtest/gtest.h>

#include <zlib.h>

#include <atomic>
#include <random>
#include <thread>
#include <vector>

#include "KavLib2/KavViewer/KavInflator.h"
#include "KavLib2/KavViewer/KavZStream.h"
#include "KavPacker.h"
#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/wpThreads2.h"
#include "../../VoRav/LogCapture.h"

using namespace kav;

namespace {

// Compresses with zlib: raw deflate for window_bits -15, zlib-wrapped for 15.
std::vector<uint8_t> Deflate(const std::vector<uint8_t>& data, int window_bits) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::vector<uint8_t> out(deflateBound(&zs, data.size()));
  zs.next_in = const_cast<uint8_t*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// Text-like data with some repetition and some noise, `n` bytes.
std::vector<uint8_t> Sample(size_t n) {
  std::mt19937 rng(7);
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = (i % 97 < 60) ? static_cast<uint8_t>('a' + i % 26) : static_cast<uint8_t>(rng());
  return v;
}

Ref<TMemoryStream> Memory(const std::vector<uint8_t>& bytes) {
  auto m = MakeRef<TMemoryStream>();
  m->WriteBytes(bytes);
  m->SetPosition(0);
  return m;
}

std::vector<uint8_t> ReadAll(TStream* s) {
  std::vector<uint8_t> out, block(5000);
  while (int64_t n = s->Read(block, static_cast<int64_t>(block.size()))) out.insert(out.end(), block.begin(), block.begin() + n);
  return out;
}

}  // namespace

TEST(ZStream, InflatesRawAndWrappedAndStopsAtTheEnd) {
  const auto data = Sample(200000);
  // Raw deflate followed by trailing bytes and a source that starts mid-stream.
  auto raw = Deflate(data, -15);
  std::vector<uint8_t> file = {9, 9, 9};
  file.insert(file.end(), raw.begin(), raw.end());
  file.insert(file.end(), {1, 2, 3, 4});
  auto src = Memory(file);
  src->SetPosition(3);
  auto in = MakeRef<TInflateStream>(src.get());
  EXPECT_EQ(in->GetSize(), -1);
  EXPECT_EQ(ReadAll(in.get()), data);
  EXPECT_TRUE(in->Ended());
  EXPECT_EQ(in->GetPosition(), 200000);

  auto z = MakeRef<TZDecompressionStream>(Memory(Deflate(data, 15)).get());
  EXPECT_EQ(ReadAll(z.get()), data);
  EXPECT_THROW(z->Write(data, 1), EZDecompressionError);
  try {
    in->SetSize(5);
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message(), "Invalid ZStream operation!");
  }
}

TEST(ZStream, SeeksRestartSkipAndRefuse) {
  const auto data = Sample(50000);
  auto src = Memory(Deflate(data, -15));
  auto in = MakeRef<TInflateStream>(src.get(), 50000);
  EXPECT_EQ(in->GetSize(), 50000);
  std::vector<uint8_t> buf(10);
  in->Read(buf, 10);
  EXPECT_EQ(in->SetPosition(10), 10);  // the position it has: no reset
  EXPECT_EQ(in->ReadByte(), data[10]);
  EXPECT_EQ(in->SetPosition(30000), 30000);  // forward: skips
  EXPECT_EQ(in->ReadByte(), data[30000]);
  EXPECT_THROW(in->SetPosition(20000), EZDecompressionError);  // backward
  EXPECT_EQ(in->SetPosition(0), 0);  // restarts from the source window's start
  EXPECT_EQ(in->ReadByte(), data[0]);
  EXPECT_EQ(in->Seek(0, TSeekOrigin::End), 50000);
  EXPECT_THROW(in->Seek(1, TSeekOrigin::End), EZDecompressionError);
  in->SetPosition(0);
  EXPECT_THROW(in->SetPosition(50001), EStreamReadError);  // past the end
}

TEST(ZStream, CorruptAndTruncatedDataRaise) {
  const auto data = Sample(100000);
  auto raw = Deflate(data, -15);

  auto cut = raw;
  cut.resize(cut.size() / 2);
  auto in = MakeRef<TInflateStream>(Memory(cut).get());
  EXPECT_THROW(ReadAll(in.get()), EZDecompressionError);  // never a short file passed off as whole

  std::vector<uint8_t> junk = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
  auto bad = MakeRef<TInflateStream>(Memory(junk).get());
  EXPECT_THROW(ReadAll(bad.get()), EZDecompressionError);

  auto wrapped = Deflate(data, 15);
  wrapped[wrapped.size() - 1] ^= 1;  // the checksum no longer matches
  auto z = MakeRef<TZDecompressionStream>(Memory(wrapped).get());
  EXPECT_THROW(ReadAll(z.get()), EZDecompressionError);

  // A zlib header asking for a preset dictionary once made the reader stall.
  auto dict = MakeRef<TZDecompressionStream>(Memory({0x78, 0x20, 0, 0, 0, 1, 0x4B, 0x04, 0}).get());
  EXPECT_THROW(ReadAll(dict.get()), EZDecompressionError);

  auto empty = MakeRef<TInflateStream>(Memory({}).get());
  std::vector<uint8_t> b(1);
  EXPECT_THROW(empty->Read(b, 1), EZDecompressionError);
}

// Data that compress to almost nothing (a long silence) end in a match
// whose input is all taken while its output is still to come: a read that
// stops within it goes on from what the decoder holds, without more input,
// whatever the sizes the data are read in.
TEST(ZStream, TheLastBytesComeWhenAllTheInputIsTaken) {
  for (const size_t n : {size_t(1) << 20, (size_t(8) << 20) + 44}) {
    SCOPED_TRACE(n);
    const std::vector<uint8_t> zeros(n, 0);
    const auto raw = Deflate(zeros, -15);
    for (const size_t piece : {size_t(4096), size_t(65536), n - 1, n}) {
      SCOPED_TRACE(piece);
      auto in = MakeRef<TInflateStream>(Memory(raw).get());
      std::vector<uint8_t> block(piece);
      size_t total = 0;
      while (const int64_t got = in->Read(block, int64_t(piece))) total += size_t(got);
      EXPECT_EQ(total, n);
      EXPECT_TRUE(in->Ended());
    }
    auto seekable = MakeRef<TSeekableInflateStream>(Memory(raw).get(), int64_t(n), 1 << 20);
    EXPECT_EQ(seekable->GetSize(), int64_t(n));
    EXPECT_EQ(ReadAll(seekable.get()), zeros);
  }
}

TEST(Inflator, InflatesWholeBlocksAndReportsFailures) {
  const auto data = Sample(300000);
  auto raw = Deflate(data, -15);
  int progress = 0;
  struct Counter { int* n; void On(TRefObject*) { ++*n; } } counter{&progress};
  auto inflator = MakeRef<TInflator>();
  inflator->OnProgress = TZProgressEvent::Bind<&Counter::On>(&counter);
  auto out = MakeRef<TMemoryStream>();
  inflator->Inflate(Memory(raw).get(), out.get());
  ASSERT_EQ(out->GetSize(), 300000);
  EXPECT_TRUE(std::equal(data.begin(), data.end(), out->Memory()));
  EXPECT_GT(progress, 10);

  auto cut = raw;
  cut.resize(cut.size() - 20);
  auto out2 = MakeRef<TMemoryStream>();
  EXPECT_THROW(inflator->Inflate(Memory(cut).get(), out2.get()), EZDecompressionError);

  // An output window that is too small stops the decoding with an error.
  class TCapped : public TMemoryStream {
   protected:
    int64_t DoWrite(std::span<const uint8_t> b) override {
      return GetPosition() + static_cast<int64_t>(b.size()) > 1000 ? 0 : TMemoryStream::DoWrite(b);
    }
  };
  auto capped = MakeRef<TCapped>();
  EXPECT_THROW(inflator->Inflate(Memory(raw).get(), capped.get()), EZDecompressionError);
}

TEST(SeekableInflate, ReadsAnyPositionLikeTheData) {
  // 3 MB with a state kept every 4 KiB at first: the kept states are thinned
  // (and the spacing doubled) many times on the way.
  const auto data = Sample(3'000'000);
  const int64_t size = static_cast<int64_t>(data.size());
  auto src = Memory(Deflate(data, -15));
  auto in = MakeRef<TSeekableInflateStream>(src.get(), size, 4096);
  EXPECT_EQ(in->GetSize(), size);
  EXPECT_EQ(in->GetPosition(), 0);
  EXPECT_EQ(ReadAll(in.get()), data);
  EXPECT_EQ(in->GetPosition(), size);

  // Jumps both ways, reads of every size (tiny, within the buffer, larger
  // than it), each compared with the data at that place.
  std::mt19937 rng(3);
  std::vector<uint8_t> block(200000);
  for (int i = 0; i < 300; ++i) {
    SCOPED_TRACE(i);
    const int64_t at = i % 10 == 0 ? size - static_cast<int64_t>(rng() % 100) : static_cast<int64_t>(rng() % data.size());
    const int64_t want = static_cast<int64_t>(rng() % (i % 3 == 0 ? 200000 : 300)) + 1;
    ASSERT_EQ(in->SetPosition(at), at);
    ASSERT_EQ(in->GetPosition(), at);
    const int64_t got = in->Read(block, want);
    ASSERT_EQ(got, std::min(want, size - at));
    ASSERT_TRUE(std::equal(block.begin(), block.begin() + got, data.begin() + at));
    ASSERT_EQ(in->GetPosition(), at + got);
    if (i % 7 == 0) {  // a step back inside what was just read
      ASSERT_EQ(in->SetPosition(at + got / 2), at + got / 2);
      ASSERT_EQ(in->ReadByte(), data[static_cast<size_t>(at + got / 2)]);
    }
  }
  EXPECT_THROW(in->SetPosition(size + 1), EStreamError);
  EXPECT_THROW(in->SetPosition(-1), EStreamError);
  EXPECT_THROW(in->SetSize(5), EZDecompressionError);
  EXPECT_EQ(in->SetPosition(size), size);
  EXPECT_EQ(in->Read(block, 10), 0);
}

// Streams made on one index keep their own positions and decoders while
// both add to it (the states they pass, the size one of them reaches):
// interleaved jumps and reads of both, on two threads, each give the data.
TEST(SeekableInflate, StreamsSharingAnIndexReadIndependently) {
  const auto data = Sample(1'500'000);
  const auto raw = Deflate(data, -15);
  auto first = MakeRef<TSeekableInflateStream>(Memory(raw).get(), 1 << 30, 16384);
  auto second = MakeRef<TSeekableInflateStream>(Memory(raw).get(), 1 << 30, first->Index());
  auto jumps = [&data](TStream* s, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> block(5000);
    int wrong = 0;
    for (int i = 0; i < 200; ++i) {
      const int64_t at = static_cast<int64_t>(rng() % (data.size() - block.size()));
      s->SetPosition(at);
      const int64_t got = s->Read(block, static_cast<int64_t>(block.size()));
      wrong += got != static_cast<int64_t>(block.size()) || !std::equal(block.begin(), block.end(), data.begin() + at);
    }
    return wrong;
  };
  int wrong_first = -1;
  std::thread other([&] { wrong_first = jumps(first.get(), 1); });
  const int wrong_second = jumps(second.get(), 2);
  other.join();
  EXPECT_EQ(wrong_first, 0);
  EXPECT_EQ(wrong_second, 0);
  first = nullptr;  // the index outlives the stream that made it
  EXPECT_EQ(jumps(second.get(), 3), 0);
  EXPECT_EQ(second->GetSize(), static_cast<int64_t>(data.size()));
}

namespace {

// A source that counts the bytes read from it.
class TCounted : public TMemoryStream {
 public:
  int64_t taken = 0;

 protected:
  int64_t DoRead(std::span<uint8_t> b) override {
    const int64_t n = TMemoryStream::DoRead(b);
    taken += n;
    return n;
  }
};

Ref<TCounted> Counted(const std::vector<uint8_t>& bytes) {
  auto m = MakeRef<TCounted>();
  m->WriteBytes(bytes);
  m->SetPosition(0);
  return m;
}

}  // namespace

// Nothing is inflated when a stream is made, nor by asking the size it does
// not know yet; a read inflates as far as it reaches, and a size asked within
// a limit no further than just past the limit. The states kept on the way
// serve a second stream on the index: it jumps past what the first read
// from the last state before the place, not from the start.
TEST(SeekableInflate, InflatesOnlyAsFarAsItIsRead) {
  const auto data = Sample(24'000'000);
  const int64_t size = static_cast<int64_t>(data.size());
  const auto raw = Deflate(data, -15);
  auto src = Counted(raw);
  auto first = MakeRef<TSeekableInflateStream>(src.get(), int64_t(1) << 30, 1 << 20);
  EXPECT_EQ(src->taken, 0);
  EXPECT_EQ(first->GetKnownSize(), -1);
  EXPECT_EQ(src->taken, 0);
  std::vector<uint8_t> block(100000);
  ASSERT_EQ(first->Read(block, 100000), 100000);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin()));
  // The input read ahead is one buffer of the inflater's.
  EXPECT_LE(src->taken, int64_t(TCustomZStream::kInputBufferSize));
  // Within 5 MB: not known, and at most that far inflated (with the input
  // needed for it); the reader's place is kept.
  EXPECT_EQ(first->GetSizeWithin(5'000'000), -1);
  EXPECT_LT(src->taken, int64_t(raw.size()) / 3);
  EXPECT_EQ(first->GetPosition(), 100000);
  EXPECT_EQ(first->Index()->CheckpointCount(), 4u);  // at 1, 2, 3 and 4 MiB
  ASSERT_EQ(first->Read(block, 100000), 100000);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 100000));

  auto src2 = Counted(raw);
  auto second = MakeRef<TSeekableInflateStream>(src2.get(), int64_t(1) << 30, first->Index());
  ASSERT_EQ(second->SetPosition(4'500'000), 4'500'000);
  ASSERT_EQ(second->Read(block, 100000), 100000);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 4'500'000));
  EXPECT_LT(src2->taken, int64_t(raw.size()) / 20);
  // Past everything known: on from the last state (4 MiB), keeping more.
  ASSERT_EQ(second->SetPosition(20'000'000), 20'000'000);
  ASSERT_EQ(second->Read(block, 100000), 100000);
  EXPECT_TRUE(std::equal(block.begin(), block.end(), data.begin() + 20'000'000));
  EXPECT_EQ(first->Index()->CheckpointCount(), 19u);
  // The size, learned by one stream, is known to both; each reads on.
  EXPECT_EQ(second->GetSize(), size);
  EXPECT_EQ(first->GetKnownSize(), size);
  EXPECT_EQ(second->GetPosition(), 20'100'000);
  EXPECT_EQ(ReadAll(first.get()).size(), data.size() - 200000);
  EXPECT_THROW(second->SetPosition(size + 1), EStreamError);
}

// Damage, a cut and a cap are met where the data are read, not when the
// stream is made; the first failure is noted in the index, logged once
// with the entry's name, and raised again by every stream on the index
// that asks the size. A stream that has not reached the place reads what
// lies before it.
TEST(SeekableInflate, DamageTruncationAndTheCapRaiseWhereRead) {
  const auto data = Sample(300000);
  auto raw = Deflate(data, -15);
  auto cut = raw;
  cut.resize(cut.size() / 2);
  auto cut_stream = MakeRef<TSeekableInflateStream>(Memory(cut).get(), 1 << 30);
  EXPECT_THROW(ReadAll(cut_stream.get()), EZDecompressionError);
  auto bad = raw;
  bad[0] |= 0x06;  // the reserved block type
  auto bad_stream = MakeRef<TSeekableInflateStream>(Memory(bad).get(), 1 << 30);
  EXPECT_THROW(bad_stream->GetSize(), EZDecompressionError);

  kav::test::TLogCapture log;
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  auto capped = MakeRef<TSeekableInflateStream>(Memory(raw).get(), 299999);
  capped->Index()->SetName(u"Music\\long.wav");
  auto other = MakeRef<TSeekableInflateStream>(Memory(raw).get(), 299999, capped->Index());
  std::vector<uint8_t> block(1000);
  EXPECT_EQ(other->Read(block, 1000), 1000);
  try {
    capped->GetSize();
    FAIL();
  } catch (const EZDecompressionError& e) {
    EXPECT_EQ(e.Message(), kInflatedSizeLimitText);
  }
  EXPECT_EQ(capped->Index()->Failure(), kInflatedSizeLimitText);
  EXPECT_THROW(other->GetSizeWithin(1 << 20), EZDecompressionError);
  EXPECT_THROW(ReadAll(capped.get()), EZDecompressionError);
  const auto lines = log.Take();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find(u"\"Music\\long.wav\""), std::u16string::npos);
  EXPECT_NE(lines[0].find(u"more than a show can use"), std::u16string::npos);
  SetShowProblemSink(nullptr);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(ShowProblemText(said[0]), u"Music\\long.wav: cannot be read past 299999 bytes: it inflates to more "
                                      u"than 299999 bytes, more than a show can use");
  EXPECT_EQ(other->Read(block, 1000), 1000);  // before the cap the data read
  EXPECT_EQ(MakeRef<TSeekableInflateStream>(Memory(raw).get(), 300000)->GetSize(), 300000);
}

// Gigabytes of zeros (a few MB of deflate): learning their size is the one
// long inflation, and it gives up when the thread doing it is asked to stop,
// or on any thread when the program is ending.
TEST(SeekableInflate, LearningTheSizeStopsWithItsThread) {
  const auto raw = packer::RawDeflateZeros({}, int64_t(15) << 30);
  struct TLearner : TThread {
    Ref<TSeekableInflateStream> stream;
    std::atomic<bool> aborted{false};
    void Execute() override {
      try {
        stream->GetSize();
      } catch (const EAbort&) {
        aborted = true;
      }
    }
  };
  auto learner = MakeRef<TLearner>();
  learner->stream = MakeRef<TSeekableInflateStream>(Memory(raw).get(), int64_t(16) << 30);
  ASSERT_TRUE(learner->Start());
  // Under way: a few states kept.
  while (learner->stream->Index()->CheckpointCount() < 3) std::this_thread::yield();
  learner->Terminate();
  ASSERT_TRUE(learner->WaitForever());
  EXPECT_TRUE(learner->aborted);
  EXPECT_EQ(learner->stream->GetKnownSize(), -1);
  // On any thread, once the program's stop check says so: the size being
  // learned, and every read after it.
  static std::atomic<bool> ending{false};
  SetInflateStopCheck([]() noexcept { return ending.load(); });
  auto stream = MakeRef<TSeekableInflateStream>(Memory(raw).get(), int64_t(16) << 30);
  std::atomic<bool> aborted{false};
  std::thread plain([&] {
    try {
      stream->GetSize();
    } catch (const EAbort&) {
      aborted = true;
    }
  });
  while (stream->Index()->CheckpointCount() < 3) std::this_thread::yield();
  ending = true;
  plain.join();
  EXPECT_TRUE(aborted);
  std::vector<uint8_t> block(10);
  EXPECT_THROW(stream->Read(block, 10), EAbort);
  SetInflateStopCheck(nullptr);
  EXPECT_EQ(stream->Read(block, 10), 10);
  // Zeros after a head, learned whole: the size asked for.
  EXPECT_EQ(MakeRef<TSeekableInflateStream>(Memory(packer::RawDeflateZeros({1, 2}, 40 << 20)).get(), 1 << 30)
                ->GetSize(),
            40 << 20);
}
