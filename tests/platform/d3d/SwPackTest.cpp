// Pixels kept packed while a device holds a copy elsewhere: the packed form
// itself, and surfaces that pack, give their pages back and come back whole
// on a lock.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <thread>

#include "platform/d3d/SwPack.h"
#include "platform/d3d/SwSurface.h"
#include "tests/platform/d3d/SwTestRig.h"

namespace kav {
namespace {

// A line of white text over `text_rows` rows, clear rows below.
std::vector<uint32_t> TextLike(uint32_t w, uint32_t h, uint32_t text_rows) {
  std::vector<uint32_t> px(size_t(w) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) px[size_t(y) * w + x] = swtest::TextPixel(x, y, text_rows);
  return px;
}

std::vector<uint32_t> Noise(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint32_t> px(n);
  for (uint32_t& v : px) v = rng();
  return px;
}

std::vector<uint32_t> RoundTrip(const std::vector<uint32_t>& px, size_t max_bytes, bool* packed) {
  std::vector<uint8_t> p;
  *packed = SwPackWords(reinterpret_cast<const uint8_t*>(px.data()), px.size(), max_bytes, p);
  std::vector<uint32_t> back(px.size(), 0xDEADBEEF);
  if (*packed) {
    EXPECT_TRUE(SwUnpackWords(p, reinterpret_cast<uint8_t*>(back.data()), back.size()));
    EXPECT_LE(p.size(), max_bytes);
  }
  return back;
}

TEST(SwPack, WordsComeBackExactlyAndEvenPicturesShrink) {
  bool packed = false;
  const std::vector<uint32_t> text = TextLike(512, 64, 44);
  EXPECT_EQ(RoundTrip(text, text.size(), &packed), text);
  EXPECT_TRUE(packed);
  std::vector<uint8_t> p;
  ASSERT_TRUE(SwPackWords(reinterpret_cast<const uint8_t*>(text.data()), text.size(), text.size() * 4, p));
  EXPECT_LT(p.size(), text.size() * 4 / 4) << "text should pack to a quarter";

  // Short pictures, runs of two, a run at the very end, alternating words,
  // one colour with every alpha, and words whose alpha alone is even.
  const std::vector<std::vector<uint32_t>> cases = {
      {},
      {7},
      {7, 7},
      {1, 2, 2, 3, 3, 3},
      {5, 5, 5, 5, 5, 5, 5, 5, 9},
      {1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 1, 2, 4, 4, 4},
      {0x00ABCDEF, 0x10ABCDEF, 0x20ABCDEF, 0x30ABCDEF, 0xFFABCDEF, 0xFFABCDEF, 0xFFABCDEF},
      {0xFF000001, 0xFF000002, 0xFF000003, 0xFF000004, 0xFF000005},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(RoundTrip(c, c.size() * 4 + 64, &packed), c);
    EXPECT_TRUE(packed);
  }
  // Noise round-trips when allowed its full size and more.
  const std::vector<uint32_t> noise = Noise(4099, 1);
  EXPECT_EQ(RoundTrip(noise, noise.size() * 8, &packed), noise);
  EXPECT_TRUE(packed);
}

TEST(SwPack, GivesUpAtItsLimitAndRefusesCutOrLongerInput) {
  // A photo does not pack to a quarter: refused, with nothing kept.
  const std::vector<uint32_t> noise = Noise(1 << 16, 2);
  std::vector<uint8_t> p(5, 1);
  EXPECT_FALSE(SwPackWords(reinterpret_cast<const uint8_t*>(noise.data()), noise.size(), noise.size(), p));
  EXPECT_TRUE(p.empty());
  // The limit holds to the byte: exactly the packed size passes, one less fails.
  const std::vector<uint32_t> text = TextLike(256, 16, 12);
  ASSERT_TRUE(SwPackWords(reinterpret_cast<const uint8_t*>(text.data()), text.size(), text.size() * 4, p));
  const size_t exact = p.size();
  EXPECT_TRUE(SwPackWords(reinterpret_cast<const uint8_t*>(text.data()), text.size(), exact, p));
  EXPECT_FALSE(SwPackWords(reinterpret_cast<const uint8_t*>(text.data()), text.size(), exact - 1, p));

  // Damaged packed forms are refused without reading or writing outside.
  ASSERT_TRUE(SwPackWords(reinterpret_cast<const uint8_t*>(text.data()), text.size(), text.size() * 4, p));
  std::vector<uint32_t> out(text.size());
  auto* bytes = reinterpret_cast<uint8_t*>(out.data());
  EXPECT_FALSE(SwUnpackWords(p, bytes, out.size() - 1));  // holds more words than asked
  EXPECT_FALSE(SwUnpackWords(p, bytes, out.size() + 1));  // holds fewer
  for (size_t cut : {size_t(1), size_t(3), size_t(5), p.size() / 2}) {
    std::vector<uint8_t> short_form(p.begin(), p.end() - std::ptrdiff_t(cut));
    EXPECT_FALSE(SwUnpackWords(short_form, bytes, out.size())) << cut;
  }
  std::vector<uint8_t> longer = p;
  longer.push_back(0);
  EXPECT_FALSE(SwUnpackWords(longer, bytes, out.size()));
  std::vector<uint8_t> zero_piece = {0, 0, 0, 0};
  EXPECT_FALSE(SwUnpackWords(zero_piece, bytes, out.size()));
  std::vector<uint8_t> huge_run = {0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3, 4};
  EXPECT_FALSE(SwUnpackWords(huge_run, bytes, out.size()));
}

// Resident pages among the whole pages of [p, p + n).
size_t ResidentPages(const uint8_t* p, size_t n) {
  const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (uintptr_t(p) + page - 1) & ~(page - 1), end = (uintptr_t(p) + n) & ~(page - 1);
  if (end <= begin) return 0;
  std::vector<unsigned char> v((end - begin) / page);
  if (mincore(reinterpret_cast<void*>(begin), end - begin, v.data()) != 0) return SIZE_MAX;
  size_t r = 0;
  for (unsigned char c : v) r += c & 1;
  return r;
}

Ref<TSwSurface> Surface(uint32_t w, uint32_t h, TSwPool pool, const std::vector<uint32_t>& px) {
  Ref<TSwSurface> s;
  EXPECT_EQ(TSwSurface::Create(TSwSurfaceDesc{TSwFormat::A8R8G8B8, pool, 0, w, h}, nullptr, nullptr, s),
            TSwResult::Ok);
  for (uint32_t y = 0; y < h; ++y) std::memcpy(s->Row(int32_t(y)), &px[size_t(y) * w], size_t(w) * 4);
  return s;
}

std::vector<uint32_t> Pixels(TSwSurface& s) {
  std::vector<uint32_t> px(size_t(s.Width()) * s.Height());
  for (uint32_t y = 0; y < s.Height(); ++y) std::memcpy(&px[size_t(y) * s.Width()], s.Row(int32_t(y)), s.Width() * 4);
  return px;
}

TEST(SwSurfacePack, APackedSurfaceGivesItsPagesBackAndALockBringsItBackWhole) {
  const std::vector<uint32_t> text = TextLike(512, 64, 44);
  Ref<TSwSurface> s = Surface(512, 64, TSwPool::Managed, text);
  const size_t bytes = size_t(s->Pitch()) * s->Height();
  ASSERT_GT(ResidentPages(s->Bits(), bytes), 0u);
  ASSERT_TRUE(s->Pack());
  EXPECT_TRUE(s->Packed());
  EXPECT_EQ(ResidentPages(s->Bits(), bytes), 0u);
  EXPECT_TRUE(s->Pack());  // already packed

  // A lock of a few pixels brings them all back; what it writes stays, the
  // rest is as it was.
  const uint32_t writes = s->Writes();
  TSwLockedRect lr;
  const TSwRect r{100, 10, 104, 12};
  ASSERT_EQ(s->LockRect(lr, &r, 0), TSwResult::Ok);
  EXPECT_FALSE(s->Packed());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x)
      reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(lr.Bits) + y * lr.Pitch)[x] = 0xFF123456u;
  ASSERT_EQ(s->UnlockRect(), TSwResult::Ok);
  EXPECT_NE(s->Writes(), writes);
  std::vector<uint32_t> want = text;
  for (int y = 10; y < 12; ++y)
    for (int x = 100; x < 104; ++x) want[size_t(y) * 512 + size_t(x)] = 0xFF123456u;
  EXPECT_EQ(Pixels(*s), want);
  // Written again soon after it was packed: it changes too often to pack.
  EXPECT_FALSE(s->Pack());
  EXPECT_FALSE(s->Packed());

  // Unpack alone (the device reading Bits) brings the pixels back too, and
  // a read-only lock of a packed surface counts no write.
  Ref<TSwSurface> t = Surface(512, 64, TSwPool::Managed, text);
  ASSERT_TRUE(t->Pack());
  EXPECT_TRUE(t->Unpack());
  EXPECT_EQ(Pixels(*t), text);
  ASSERT_TRUE(t->Pack());
  const uint32_t before = t->Writes();
  ASSERT_EQ(t->LockRect(lr, nullptr, SwLockReadOnly), TSwResult::Ok);
  EXPECT_EQ(std::memcmp(lr.Bits, text.data(), 512 * 4), 0);
  ASSERT_EQ(t->UnlockRect(), TSwResult::Ok);
  EXPECT_EQ(t->Writes(), before + 1);  // the unlock alone
}

TEST(SwSurfacePack, OnlyManagedSurfacesThatPackWellAndAreNotLockedArePacked) {
  const std::vector<uint32_t> text = TextLike(512, 64, 44);
  Ref<TSwSurface> def = Surface(512, 64, TSwPool::Default, text);
  EXPECT_FALSE(def->Pack());
  Ref<TSwSurface> sys = Surface(512, 64, TSwPool::SystemMem, text);
  EXPECT_FALSE(sys->Pack());
  Ref<TSwSurface> small = Surface(64, 64, TSwPool::Managed, TextLike(64, 64, 44));
  EXPECT_FALSE(small->Pack());
  Ref<TSwSurface> photo = Surface(512, 64, TSwPool::Managed, Noise(512 * 64, 3));
  EXPECT_FALSE(photo->Pack());
  EXPECT_EQ(Pixels(*photo), Noise(512 * 64, 3));
  Ref<TSwSurface> locked = Surface(512, 64, TSwPool::Managed, text);
  TSwLockedRect lr;
  ASSERT_EQ(locked->LockRect(lr, nullptr, 0), TSwResult::Ok);
  EXPECT_FALSE(locked->Pack());
  ASSERT_EQ(locked->UnlockRect(), TSwResult::Ok);
  EXPECT_TRUE(locked->Pack());
}

TEST(SwSurfacePack, ALockOnAnotherThreadNeverSeesHalfPackedPixels) {
  // One thread packs and unpacks while another locks and reads: every lock
  // finds the whole picture (the surface stops packing after the first
  // quick lock, so the first rounds are the race).
  const std::vector<uint32_t> text = TextLike(512, 64, 44);
  for (int round = 0; round < 50; ++round) {
    Ref<TSwSurface> s = Surface(512, 64, TSwPool::Managed, text);
    std::thread packer([&] {
      for (int i = 0; i < 20; ++i) {
        s->Pack();
        s->Unpack();
      }
    });
    for (int i = 0; i < 20; ++i) {
      TSwLockedRect lr;
      ASSERT_EQ(s->LockRect(lr, nullptr, SwLockReadOnly), TSwResult::Ok);
      EXPECT_EQ(std::memcmp(lr.Bits, text.data(), text.size() * 4), 0);
      ASSERT_EQ(s->UnlockRect(), TSwResult::Ok);
    }
    packer.join();
  }
}

}  // namespace
}  // namespace kav
