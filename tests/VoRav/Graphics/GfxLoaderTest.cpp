// The packed graphics container: fields, the deflated BMP payload, the
// green picture for a damaged payload, refusals and the registry road.
#include <gtest/gtest.h>

#include <zlib.h>

#include "GifTestUtil.h"
#include "GraphicsTestUtil.h"
#include "VoRav/Graphics/FastDIB.h"
#include "VoRav/Graphics/SysGfxLoader.h"
#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"

using namespace kav;
using namespace kav::test;

namespace {

std::vector<uint8_t> Deflate(const std::vector<uint8_t>& in) {
  z_stream zs{};
  deflateInit2(&zs, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<uint8_t> out(deflateBound(&zs, uLong(in.size())));
  zs.next_in = const_cast<Bytef*>(in.data());
  zs.avail_in = uInt(in.size());
  zs.next_out = out.data();
  zs.avail_out = uInt(out.size());
  deflate(&zs, Z_FINISH);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

std::vector<uint8_t> BmpOf(TFastDIB* dib) {
  auto s = MakeRef<TMemoryStream>();
  dib->SaveToStream(s.get());
  return std::vector<uint8_t>(s->Memory(), s->Memory() + s->GetSize());
}

using TFields = std::vector<std::pair<std::string, std::string>>;

std::vector<uint8_t> Container(const TFields& fields, const std::vector<uint8_t>& payload) {
  std::vector<uint8_t> c{'V', 'X', 'G', 'F', uint8_t(fields.size()), uint8_t(fields.size() >> 8)};
  auto str = [&](const std::string& s) {
    c.push_back(uint8_t(s.size()));
    c.push_back(uint8_t(s.size() >> 8));
    c.insert(c.end(), s.begin(), s.end());
  };
  for (const auto& [k, v] : fields) {
    str(k);
    str(v);
  }
  c.insert(c.end(), payload.begin(), payload.end());
  return c;
}

TFields Required(int w, int h) {
  return {{"File", "pic.png"}, {"Width", std::to_string(w)}, {"Height", std::to_string(h)}, {"OriginalSize", "1234"}};
}

Ref<TBitmapStore> Load(const std::vector<uint8_t>& bytes) {
  return LoadGfxImage(MemStream(bytes).get(), u"p.vxgfx", false, {});
}

bool IsGreen(TBitmapStore* store) {
  auto* b = AsSysBitmap(store->GetMipLevel(0).get());
  for (int y = 0; y < b->Height(); ++y)
    for (int x = 0; x < b->Width(); ++x)
      if (Get32(b, x, y) != 0xFF00FF00u) return false;
  return b->Width() == store->Width() && b->Height() == store->Height();
}

}  // namespace

TEST(GfxLoader, ReadsFieldsAndPayload) {
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(37, 23, 32);
  Ref<TDibBitmap> src = NewDibBitmapOn(dib.get(), false);
  FillRandom(src.get(), 3);
  Ref<TBitmapStore> store = Load(Container(Required(37, 23), Deflate(BmpOf(dib.get()))));
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Width(), 37);
  EXPECT_EQ(store->PixelFormat(), StdFormats().A8R8G8B8);
  auto* level0 = AsSysBitmap(store->GetMipLevel(0).get());
  ASSERT_TRUE(level0);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) {
      // The BMP reader makes a picture whose alpha is all 0 opaque; random
      // alpha is kept as stored.
      ASSERT_EQ(Get32(level0, x, y), Get32(src.get(), x, y)) << x << "," << y;
    }
  EXPECT_EQ(store->GetMipLevel(0).get(), level0);  // made once
  Ref<TBitmap> level2 = store->GetMipLevel(2);
  EXPECT_EQ(level2->Width(), 10);
  EXPECT_EQ(level2->Height(), 6);
}

TEST(GfxLoader, DeclinesWhatIsNoCompleteHeader) {
  const auto payload = Deflate({1, 2, 3});
  auto declined = [&](const std::vector<uint8_t>& bytes) {
    auto s = MemStream(bytes);
    s->SetPosition(0);
    const bool none = !LoadGfxImage(s.get(), u"x.png", false, {});
    return none && s->GetPosition() == 0;
  };
  EXPECT_TRUE(declined({0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}));
  TFields bad = Required(12, 5);
  bad[1].second = "12a";
  EXPECT_TRUE(declined(Container(bad, payload)));
  TFields missing = Required(12, 5);
  missing.pop_back();
  EXPECT_TRUE(declined(Container(missing, payload)));
  EXPECT_TRUE(declined(Container(Required(0, 5), payload)));
  EXPECT_TRUE(declined(Container(Required(70000, 70000), payload)));  // over the bitmap limits
  EXPECT_TRUE(declined(Container(Required(4, 4), {})) == false);     // no payload: a green picture
  const auto full = Container(Required(12, 5), payload);
  EXPECT_TRUE(declined(std::vector<uint8_t>(full.begin(), full.end() - std::ptrdiff_t(payload.size()) - 1)));
}

TEST(GfxLoader, DamagedPayloadsShowGreen) {
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(9, 7, 24);
  const auto bmp = BmpOf(dib.get());
  auto cut = Deflate(bmp);
  cut.resize(cut.size() / 2);
  // A payload inflating to 64 MB of zeros for a 10 x 10 picture: inflation
  // stops at what a 10 x 10 BMP can need.
  const auto bomb = Deflate(std::vector<uint8_t>(size_t(64) << 20, 0));
  for (const auto& payload : {std::vector<uint8_t>{1, 2, 3, 4, 5}, cut, Deflate(bmp), bomb}) {
    Ref<TBitmapStore> store = Load(Container(Required(10, 10), payload));  // 9 x 7 is not 10 x 10
    ASSERT_TRUE(store);
    EXPECT_TRUE(IsGreen(store.get()));
  }
}

TEST(GfxLoader, RegistryTriesContainersFirst) {
  RegisterGfxLoader();
  RegisterBmpLoader();
  auto dib = MakeRef<TFastDIB>();
  dib->SetSize(3, 2, 24);
  const auto bmp = BmpOf(dib.get());
  Ref<TBitmapStore> plain = LoadBitmapStore(MemStream(bmp).get(), u"a.bmp", false, {});
  ASSERT_TRUE(plain);
  EXPECT_FALSE(dynamic_cast<TGfxBitmapStore*>(plain.get()));
  for (const char16_t* name : {u"a.bmp", u"a.png", u"a.vxgfx", u"a.gif|framesatlas"}) {
    Ref<TBitmapStore> packed = LoadBitmapStore(MemStream(Container(Required(3, 2), Deflate(bmp))).get(), name,
                                               false, {});
    EXPECT_TRUE(dynamic_cast<TGfxBitmapStore*>(packed.get())) << std::string(name, name + 5);
  }
}
