// The INI fuzz entry point over the committed seed corpus, over seeded
// mutations of it, and a parse -> save -> parse check on the rich sample.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "VoRav/vxIni.h"
#include "VoRav/vxMemoryStream.h"
#include "tools/fuzz/FuzzTargets.h"

using namespace kav;

namespace {

const std::filesystem::path kSeeds = std::filesystem::path(KAV_SOURCE_DIR) / "tests/data/ini";

std::vector<std::string> Seeds() {
  std::vector<std::string> out;
  for (const auto& entry : std::filesystem::directory_iterator(kSeeds)) {
    std::ifstream in(entry.path(), std::ios::binary);
    out.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  return out;
}

int FuzzOnce(const std::string& bytes) {
  return FuzzIniParser(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

TEST(IniFuzz, SeedCorpusAndMutations) {
  const auto seeds = Seeds();
  ASSERT_GE(seeds.size(), 5u);
  for (const auto& s : seeds) EXPECT_EQ(FuzzOnce(s), 0);
  // Seeded mutations: byte flips, inserted structure bytes, cut and spliced seeds.
  const char pieces[][12] = {"\r", "\n", "[", "]", "object ", "end", ":", "=", "\0", "\xC3", ";", "  "};
  std::mt19937 rng(2024);
  for (int round = 0; round < 1500; ++round) {
    std::string s = seeds[rng() % seeds.size()];
    for (int k = 1 + rng() % 6; k > 0; --k) {
      const size_t at = s.empty() ? 0 : rng() % s.size();
      switch (rng() % 4) {
        case 0:
          if (!s.empty()) s[at] = char(rng());
          break;
        case 1: {
          const char* p = pieces[rng() % std::size(pieces)];
          s.insert(at, p, std::max<size_t>(1, std::char_traits<char>::length(p)));
          break;
        }
        case 2:
          s.erase(at, rng() % 16);
          break;
        case 3:
          s.insert(at, seeds[rng() % seeds.size()].substr(0, rng() % 64));
          break;
      }
    }
    ASSERT_EQ(FuzzOnce(s), 0);
  }
}

TEST(IniFuzz, RichSampleIsStable) {
  std::ifstream in(kSeeds / "project.kav", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto doc = MakeRef<TIniFile>();
  ASSERT_TRUE(doc->LoadFrom(MakeRef<TStringStream>(text).get()));
  TIniList* main = doc->FindSection(u"MAIN");
  ASSERT_NE(main, nullptr);
  EXPECT_EQ(main->ReadString(u"LateKey", u""), u"merged into Main");
  EXPECT_EQ(main->ReadString(u"object", u""), u"not an object");
  TIniItem* text1 = doc->FindByPath(u"Main:Slide1:Picture:Text1:Text");
  EXPECT_EQ(text1->GetString(), u"Line one\\nLine two; not a comment");
  EXPECT_EQ(doc->FindSection(u"")->ReadString(u"Title", u""), u"Summer \u00e4\u00f6\u00fc \u20ac trip");
  EXPECT_NE(main->FindObject(u"slide1")->FindObject(u"a:b"), nullptr);

  // The saved text parses back to the same document, and saving is
  // idempotent from the first save on.
  auto saved = MakeRef<TMemoryStream>();
  ASSERT_TRUE(doc->SaveToStream(saved.get(), true));
  saved->SetPosition(0);
  auto again = MakeRef<TIniFile>();
  ASSERT_TRUE(again->LoadFrom(saved.get()));
  EXPECT_EQ(again->SaveToBytes(), doc->SaveToBytes());
  EXPECT_EQ(again->Sections()->Count(), doc->Sections()->Count());
  // The only changes from the source: keys at column 0 with no blanks
  // around "=", the merged section, indentation by level.
  const std::string out = doc->SaveToBytes();
  EXPECT_NE(out.find("\r\n;  indented comment with trailing blanks\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\n  object Picture:TKavImage\r\n    File=%SHOW%\\img\\001.jpg\r\n"), std::string::npos);
  EXPECT_NE(out.find("\r\n  object a:b:c\r\n  end\r\n  object\r\n  end\r\n"), std::string::npos);
  EXPECT_NE(out.find("[]\r\nNoName=1\r\n"), std::string::npos);
}
