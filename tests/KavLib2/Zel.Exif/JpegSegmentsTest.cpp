#include <gtest/gtest.h>

#include "KavLib2/Zel.Exif/JpegSegments.h"
#include "MetadataFixtures.h"

using namespace kav;
using namespace kav::test;

namespace {

struct TSeen {
  uint8_t Marker;
  int64_t Offset;
  int64_t Size;
};

std::vector<TSeen> Walk(const Bytes& file, const TJPEGMarkerSet& wanted) {
  auto s = StreamOf(file);
  auto parser = MakeRef<TJPEGHeaderParser>(s.get(), false, wanted);
  std::vector<TSeen> seen;
  while (parser->MoveNext()) {
    const TFoundJPEGSegment* seg = parser->GetCurrent();
    seen.push_back({seg->Marker(), seg->GetOffset(), seg->GetData()->GetSize()});
  }
  EXPECT_FALSE(parser->MoveNext());
  return seen;
}

TJPEGMarkerSet All() { return TJPEGMarkerSet().set(); }

bool operator==(const TSeen& a, const TSeen& b) {
  return a.Marker == b.Marker && a.Offset == b.Offset && a.Size == b.Size;
}

}  // namespace

TEST(JpegSegments, WalksTheHeaderSegments) {
  // SOI; APP0 (18 bytes); fill bytes before DQT; a restart marker without
  // length; SOS; image data with a stuffed FF 00; EOI.
  Bytes file = {0xFF, 0xD8};
  Append(file, App0Jfif());                       // at 2
  Append(file, {0xFF, 0xFF, 0xFF});               // at 20
  Append(file, Segment(0xDB, Bytes(5, 9)));       // the last fill byte counts: 23
  Append(file, {0xFF, 0xD0});                     // at 32
  Append(file, Segment(0xDA, {1, 2, 3}));         // at 34
  Append(file, {0x11, 0xFF, 0x00, 0x22, 0xFF, 0xD9});  // EOI at 45
  EXPECT_EQ(Walk(file, All()), (std::vector<TSeen>{{0xE0, 2, 14}, {0xDB, 23, 5}, {0xD0, 32, 0}, {0xDA, 34, 3},
                                                   {0xD9, 45, 0}}));
  EXPECT_EQ(Walk(file, JPEGMarkers({0xDB})), (std::vector<TSeen>{{0xDB, 23, 5}}));
  // Without EOI wanted the walk ends at SOS and never looks at the image data.
  EXPECT_EQ(Walk(file, JPEGMarkers({0xE0, 0xDA})), (std::vector<TSeen>{{0xE0, 2, 14}, {0xDA, 34, 3}}));
  // EOI found after a large image, across the search's block boundary.
  Bytes big = {0xFF, 0xD8};
  Append(big, Segment(0xDA, {1}));
  big.resize(big.size() + 65535, 0x55);  // the FF is the last byte of the first block
  Append(big, {0xFF, 0xD9});
  EXPECT_EQ(Walk(big, JPEGMarkers({0xD9})), (std::vector<TSeen>{{0xD9, 65542, 0}}));
  // An EOI before any SOS ends the walk.
  EXPECT_EQ(Walk({0xFF, 0xD8, 0xFF, 0xD9, 0xFF, 0xE0, 0, 2}, All()), (std::vector<TSeen>{{0xD9, 2, 0}}));
}

TEST(JpegSegments, DamagedStreamsEndTheWalk) {
  const Bytes head = {0xFF, 0xD8};
  auto with = [&](Bytes tail) {
    Bytes f = head;
    Append(f, Segment(0xE1, {7, 7}));
    Append(f, tail);
    return Walk(f, All());
  };
  const std::vector<TSeen> first = {{0xE1, 2, 2}};
  EXPECT_EQ(with({0xFF, 0xE2, 0x00, 0x01, 0xFF, 0xE3, 0, 2}), first);  // length below 2
  EXPECT_EQ(with({0xFF, 0xE2, 0x00, 0x00}), first);
  EXPECT_EQ(with({0xFF, 0xE2, 0x01, 0x00, 1, 2, 3}), first);           // runs past the end
  EXPECT_EQ(with({0xFF, 0xE2, 0x00}), first);                          // half a length
  EXPECT_EQ(with({0x00, 0xFF, 0xE2, 0x00, 0x02}), first);              // no FF where a marker belongs
  EXPECT_EQ(with({0xFF, 0xFF, 0xFF}), first);                          // fill bytes to the end
  EXPECT_EQ(with({0xFF, 0xDA, 0x00, 0x02, 0xFF}), (std::vector<TSeen>{{0xE1, 2, 2}, {0xDA, 8, 0}}));  // no EOI

  // An unwanted segment that runs past the end is not skipped into nowhere.
  Bytes f = head;
  Append(f, {0xFF, 0xE2, 0xFF, 0xFF, 0x00});
  EXPECT_TRUE(Walk(f, JPEGMarkers({0xE3})).empty());

  for (const Bytes& bad : {Bytes{}, Bytes{0xFF}, Bytes{0xD8, 0xFF}, Bytes{0xFF, 0xD9}}) {
    auto s = StreamOf(bad);
    try {
      MakeRef<TJPEGHeaderParser>(s.get(), false, All());
      ADD_FAILURE() << "no exception";
    } catch (const EInvalidJPEGHeader& e) {
      EXPECT_STREQ(e.what(), "JPEG header is not valid");
    }
  }
}

TEST(JpegSegments, OwnedStreamIsReleasedWhenTheWalkEnds) {
  auto s = StreamOf(Jpeg({}));
  RefAddRef(s.get());  // the parser's reference
  auto parser = MakeRef<TJPEGHeaderParser>(s.get(), true, JPEGMarkers({0xE1}));
  EXPECT_EQ(s->RefCount(), 2);
  EXPECT_FALSE(parser->MoveNext());
  EXPECT_EQ(s->RefCount(), 1);

  auto bad = StreamOf({0, 0});
  RefAddRef(bad.get());
  EXPECT_THROW(MakeRef<TJPEGHeaderParser>(bad.get(), true, All()), EInvalidJPEGHeader);
  EXPECT_EQ(bad->RefCount(), 1);
}

TEST(JpegSegments, PhotoshopResourceBlocks) {
  const Bytes blocks = Concat({AdobeBlock(0x03ED, "", Bytes(16, 1)),            // empty name: one pad byte
                               AdobeBlock(1028, "ab", Bytes{0x1C, 2, 5, 0}),    // IPTC type, only 4 bytes
                               AdobeBlock(1028, "odd", Dataset(2, 5, Text("Title!"))),  // odd size: pad byte
                               AdobeBlock(1028, "x", Bytes{0x1D, 0, 0, 0, 0, 0})});
  for (const std::string& header : {std::string("Photoshop 3.0\0", 14), std::string("Adobe_Photoshop2.5:")}) {
    auto e = MakeRef<TUserJPEGSegment>(kJpegAPP13, StreamOf(Concat({Text(header), blocks})))->AdobeBlocks();
    ASSERT_TRUE(e);
    std::string seen;
    while (e->MoveNext())
      seen += std::string(e->GetCurrent()->Signature, 4) + e->GetCurrent()->Name + (e->GetCurrent()->HoldsIPTC() ? "+ " : " ");
    EXPECT_EQ(seen, "8BIM 8BIMab 8BIModd+ 8BIMx ") << header;
  }
  // Not Photoshop data, or too short, gives no enumerator.
  EXPECT_FALSE(MakeRef<TUserJPEGSegment>(kJpegAPP13, StreamOf(Text("Photoshop 3.0 but not")))->AdobeBlocks());
  EXPECT_FALSE(MakeRef<TUserJPEGSegment>(kJpegAPP13, StreamOf(Text(std::string("Photoshop 3.0\0", 14))))->AdobeBlocks());

  // A negative size counts as 0; a block running past the data ends the walk.
  Bytes neg = AdobeBlock(7, "n", {}), cut = AdobeBlock(8, "c", Bytes(40, 3));
  neg[neg.size() - 4] = 0x80;
  cut.pop_back();
  auto e = MakeRef<TUserJPEGSegment>(kJpegAPP13, StreamOf(Concat({Text(std::string("Photoshop 3.0\0", 14)), neg, cut})))
               ->AdobeBlocks();
  ASSERT_TRUE(e && e->MoveNext());
  EXPECT_EQ(e->GetCurrent()->Data->GetSize(), 0);
  EXPECT_FALSE(e->MoveNext());
}
