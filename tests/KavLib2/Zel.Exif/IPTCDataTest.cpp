#include <gtest/gtest.h>

#include "KavLib2/Zel.Exif/IPTCData.h"
#include "KavLib2/Zel.Exif/JpegSegments.h"
#include "MetadataFixtures.h"

using namespace kav;
using namespace kav::test;

namespace {

using Texts = std::vector<std::u16string>;

Ref<TIPTCData> Load(const Bytes& block) {
  auto iptc = MakeRef<TIPTCData>();
  iptc->LoadFromIPTC(block.data(), block.size());
  return iptc;
}

}  // namespace

TEST(IPTCData, LoadsTheFirstIptcBlockOfTheJpeg) {
  const Bytes first = Concat({Dataset(2, 0, {0, 4}), Dataset(2, 5, Text("Title")), Dataset(1, 60, Text("1")),
                              Dataset(2, 10, Text("0")), Dataset(2, 25, Text("k1")), Dataset(2, 25, Text("k2"), true),
                              Dataset(2, 25, Text("k3")), Dataset(2, 42, Text("02")), Dataset(2, 55, Text("20240229")),
                              Dataset(2, 80, Text("Ann")), Dataset(2, 80, Text("Bob")), Dataset(2, 85, Text("Boss")),
                              Dataset(3, 1, {0xAB, 0x01})});
  const Bytes second = Dataset(2, 5, Text("Other"));
  // The APP13 before holds no IPTC (a 4-byte 1028 block is skipped).
  const Bytes file = Jpeg({App0Jfif(), App13({AdobeBlock(1028, "", {0x1C, 2, 5, 0})}),
                           App13({AdobeBlock(1036, "thumb", Bytes(30, 0)), AdobeBlock(1028, "", first)}),
                           App13({AdobeBlock(1028, "", second)})});
  auto iptc = MakeRef<TIPTCData>();
  iptc->LoadFromJPEG(StreamOf(file).get());
  EXPECT_EQ(iptc->DocumentTitle(), u"Title");
  EXPECT_EQ(iptc->Application()->GetString(0), u"4");  // a number dataset
  EXPECT_EQ(iptc->Keywords(), (Texts{u"k1", u"k2", u"k3"}));
  EXPECT_EQ(iptc->ByLineDetails(), (Texts{u"Ann=Boss", u"Bob="}));
  EXPECT_EQ(iptc->EnvelopePriority(), 8);
  EXPECT_EQ(iptc->Urgency(), 10);
  EXPECT_EQ(iptc->ActionAdvised(), 2);
  EXPECT_EQ(iptc->DateCreated(), 45351);  // 29 February 2024
  EXPECT_EQ(IPTCBinaryToHex(iptc->Section(3)->Tag(0)->Data()), u"AB01");
  EXPECT_TRUE(iptc->Application()->Sorted());

  // A JPEG without IPTC data empties the model.
  iptc->LoadFromJPEG(StreamOf(Jpeg({App0Jfif()})).get());
  EXPECT_TRUE(iptc->Empty());
  EXPECT_THROW(iptc->LoadFromJPEG(StreamOf(Text("GIF89a")).get()), EInvalidJPEGHeader);
}

TEST(IPTCData, TextEncodingFollowsTheCodedCharacterSet) {
  const Bytes text = Text("Gr\xC3\xBC\xC3\x9F" "e");  // "Grüße" in UTF-8
  auto iptc = Load(Concat({Dataset(1, 90, Text("\x1B%G")), Dataset(2, 5, text)}));
  EXPECT_TRUE(iptc->UTF8);
  EXPECT_EQ(iptc->DocumentTitle(), u"Gr\u00FC\u00DFe");
  iptc = Load(Dataset(2, 5, text));  // default: 8-bit, one character per byte
  EXPECT_FALSE(iptc->UTF8);
  EXPECT_EQ(iptc->DocumentTitle(), u"Gr\u00C3\u00BC\u00C3\u0178e");
  iptc->DefaultUTF8 = true;
  iptc->LoadFromIPTC(text.data(), 0);  // nothing loaded: the flag stays
  EXPECT_FALSE(iptc->UTF8);
  const Bytes block = Dataset(2, 5, text);
  iptc->LoadFromIPTC(block.data(), block.size());
  EXPECT_EQ(iptc->DocumentTitle(), u"Gr\u00FC\u00DFe");
  // Invalid UTF-8 never fails the read.
  const Bytes bad = Concat({Dataset(1, 90, Text("\x1B%G")), Dataset(2, 5, {0xC3, 0x28, 0xFF})});
  EXPECT_EQ(Load(bad)->DocumentTitle(), u"\uFFFD(\uFFFD");
}

TEST(IPTCData, MalformedDatasets) {
  auto failure = [](const Bytes& block) -> std::string {
    auto iptc = MakeRef<TIPTCData>();
    iptc->UTF8 = false;
    try {
      iptc->LoadFromIPTC(block.data(), block.size());
    } catch (const Exception& e) {
      EXPECT_TRUE(iptc->Empty());  // nothing half-loaded stays behind
      EXPECT_FALSE(iptc->UTF8);
      return std::string(e.ClassName()) + ": " + e.Message();
    }
    return "loaded";
  };
  const Bytes utf = Dataset(1, 90, Text("\x1B%G"));
  EXPECT_EQ(failure(Concat({utf, {0x1C, 2, 5, 0x80, 0x03, 0, 0, 0}})),
            "EInvalidIPTCData: Invalid IPTC tag size field (32765)");
  EXPECT_EQ(failure(Concat({utf, Dataset(0, 5, {})})), "EInvalidIPTCData: Invalid IPTC record number (0)");
  EXPECT_EQ(failure(Dataset(10, 5, {1})), "EInvalidIPTCData: Invalid IPTC record number (10)");
  // Sizes beyond the block, plain and extended (up to 4 GB), and a cut size field.
  EXPECT_EQ(failure(Concat({utf, {0x1C, 2, 5, 0x7F, 0xFF, 1, 2}})), "EStreamReadError: Orvane Exception: \"EStreamReadError\"");
  EXPECT_EQ(failure({0x1C, 2, 5, 0x80, 0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0}), "EStreamReadError: Orvane Exception: \"EStreamReadError\"");
  EXPECT_EQ(failure({0x1C, 2, 5, 0x80, 0x04, 0xFF}), "EStreamReadError: Orvane Exception: \"EStreamReadError\"");
  // A byte other than 0x1C, or fewer than 5 bytes, ends the datasets quietly.
  auto iptc = Load(Concat({Dataset(2, 5, Text("T")), {0x00, 0x1C, 2, 5, 0, 0}}));
  EXPECT_EQ(iptc->DocumentTitle(), u"T");
  EXPECT_EQ(iptc->Application()->Count(), 1);
  iptc = Load(Concat({Dataset(2, 5, Text("T")), {0x1C, 2, 6, 0}}));
  EXPECT_EQ(iptc->Application()->Count(), 1);
  // Extended sizes of 1, 2 and 4 bytes, in the standard form and as -k.
  iptc = Load({0x1C, 2, 5, 0x80, 0x01, 2, 'a', 'b', 0x1C, 2, 6, 0x80, 0x02, 0, 1, 'c', 0x1C, 2, 7, 0x80, 0x04, 0, 0, 0, 0,
               0x1C, 2, 8, 0xFF, 0xFE, 0, 1, 'd'});
  EXPECT_EQ(iptc->Application()->GetString(5), u"ab");
  EXPECT_EQ(iptc->Application()->GetString(6), u"c");
  EXPECT_EQ(iptc->Application()->Find(7)->Data().size(), 0u);
  EXPECT_EQ(iptc->Application()->GetString(8), u"d");
}

TEST(IPTCData, ValuesAndLookups) {
  auto iptc = Load(Concat({Dataset(1, 20, {1, 2, 3, 4}), Dataset(1, 22, {1, 2, 3}), Dataset(1, 60, Text("11")),
                           Dataset(2, 30, Text("B")), Dataset(2, 20, Text("A")), Dataset(2, 55, Text("20230229")),
                           Dataset(2, 56, Text("19991301")), Dataset(2, 57, Text("2000131")),
                           Dataset(2, 42, Text("100")), Dataset(2, 10, Text("x")), Dataset(2, 26, Text("c1"))}));
  TIPTCSection* env = iptc->Envelope();
  TIPTCSection* app = iptc->Application();
  EXPECT_EQ(env->GetString(20), u"16909060");
  EXPECT_EQ(env->GetString(22), u"\u0001\u0002\u0003");  // 3 bytes are no number
  EXPECT_EQ(iptc->EnvelopePriority(), 0);               // two bytes do not count
  EXPECT_FALSE(app->Sorted());
  EXPECT_EQ(app->GetString(20), u"A");  // an unsorted section is searched to the end
  EXPECT_EQ(iptc->DateCreated(), 0);    // 29 February of a common year
  EXPECT_EQ(app->GetDate(56), 0);
  EXPECT_EQ(app->GetDate(57), 0);
  EXPECT_EQ(iptc->ActionAdvised(), 0);
  EXPECT_EQ(iptc->Urgency(), 0);
  EXPECT_EQ(iptc->ContentLocations(), (Texts{u"c1="}));
  EXPECT_TRUE(env->Sorted());

  // Freeing a tag takes it out of its section.
  TIPTCTag* tag = app->Find(30);
  tag->Free();
  EXPECT_EQ(app->Find(30), nullptr);
  EXPECT_EQ(app->Count(), 7);
  // A section kept beyond its model forgets the model.
  Ref<TIPTCSection> kept(app);
  iptc = nullptr;
  EXPECT_EQ(kept->Owner(), nullptr);
  EXPECT_EQ(kept->GetString(20), u"A");
}
