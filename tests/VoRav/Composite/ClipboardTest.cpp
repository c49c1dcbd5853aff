// The window layer's clipboard as the toolkit uses it (text, DIBs, nested
// opening, the change stamp), blocks from other programs that lie about
// their size, and the edit context menu.
#include <gtest/gtest.h>

#include <cstring>

#include "VoRav/Composite/vxFormServices.h"
#include "VoRav/Composite/winClipbrd.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/SysImage.h"
#include "tests/VoRav/Application2/AppTestUtil.h"

namespace kav {
namespace {

class ClipboardTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    InitWinClipboard();
    clip = dynamic_cast<TClipboard*>(Clipboard());
    ASSERT_NE(clip, nullptr);
  }
  void TearDown() override {
    FinalizeWinClipboard();
    AppTest::TearDown();
  }
  // Puts a raw block as another program would.
  void PutRaw(uint32_t format, std::vector<uint8_t> block) {
    ASSERT_TRUE(win::OpenClipboard(0));
    win::EmptyClipboard();
    win::SetClipboardData(format, std::move(block));
    win::CloseClipboard();
  }
  std::vector<uint8_t> Raw(uint32_t format) {
    std::vector<uint8_t> b;
    EXPECT_TRUE(win::OpenClipboard(0));
    win::GetClipboardData(format, b);
    win::CloseClipboard();
    return b;
  }
  TClipboard* clip = nullptr;
};

TEST_F(ClipboardTest, TextRoundTripsAndHasTextComparesItsBeginning) {
  std::u16string text = u"x";
  clip->GetText(text);
  EXPECT_EQ(text, u"") << "nothing on the clipboard yet";
  EXPECT_FALSE(clip->HasText(u"", false));
  TByteString before, after;
  clip->GetChangeStamp(before);
  ASSERT_TRUE(clip->SetText(u"Hello \u00C9t\u00E9"));
  clip->GetChangeStamp(after);
  EXPECT_NE(before, after);
  EXPECT_FALSE(after.empty());
  EXPECT_EQ(after.find_first_not_of("0123456789"), std::string::npos);
  clip->GetText(text);
  EXPECT_EQ(text, u"Hello \u00C9t\u00E9");
  EXPECT_EQ(Raw(win::CF_UNICODETEXT).size(), (text.size() + 1) * 2) << "the characters and a zero unit";
  // The empty text: whenever there is text. Case matters unless ignored.
  EXPECT_TRUE(clip->HasText(u"", false));
  EXPECT_TRUE(clip->HasText(u"Hello", false));
  EXPECT_FALSE(clip->HasText(u"hello", false));
  EXPECT_TRUE(clip->HasText(u"hello \u00E9", true));
  EXPECT_FALSE(clip->HasText(u"Hello \u00C9t\u00E9!", false));
  // One character on the clipboard: two asked for end early either way.
  ASSERT_TRUE(clip->SetText(u"a"));
  EXPECT_FALSE(clip->HasText(u"ab", true));
  EXPECT_FALSE(clip->HasText(u"ab", false));
  EXPECT_TRUE(clip->HasText(u"A", true));
  EXPECT_TRUE(ClipboardHasText());
}

TEST_F(ClipboardTest, TextBlocksFromOtherProgramsEndAtTheirZeroOrTheirEnd) {
  PutRaw(win::CF_UNICODETEXT, {'a', 0, 'b', 0, 0, 0, 'c', 0});
  std::u16string text;
  clip->GetText(text);
  EXPECT_EQ(text, u"ab");
  // No zero unit and an odd byte: the text stops at the block's end.
  PutRaw(win::CF_UNICODETEXT, {'a', 0, 'b', 0, 'c'});
  clip->GetText(text);
  EXPECT_EQ(text, u"ab");
  EXPECT_TRUE(clip->HasText(u"AB", true));
  EXPECT_FALSE(clip->HasText(u"abc", false));
  // An empty block, and one too short for a single unit, are the empty text.
  for (std::vector<uint8_t> block : {std::vector<uint8_t>{}, std::vector<uint8_t>{'a'}}) {
    PutRaw(win::CF_UNICODETEXT, block);
    text = u"old";
    clip->GetText(text);
    EXPECT_EQ(text, u"") << block.size() << " bytes";
    EXPECT_TRUE(clip->HasText(u"", false));
    EXPECT_FALSE(clip->HasText(u"a", false));
  }
}

TEST_F(ClipboardTest, NestedOpeningsKeepItOpenUntilTheOutermostClose) {
  ASSERT_TRUE(clip->Open());
  ASSERT_TRUE(clip->Open());
  EXPECT_EQ(clip->OpenCount(), 2);
  EXPECT_NE(win::GetOpenClipboardWindow(), 0u) << "opened on the application window";
  clip->Close();
  EXPECT_NE(win::GetOpenClipboardWindow(), 0u);
  clip->Close();
  EXPECT_EQ(win::GetOpenClipboardWindow(), 0u);
  clip->Close();  // at 0: nothing
  EXPECT_EQ(clip->OpenCount(), 0);

  // Held open by another window: every operation gives up quietly.
  ASSERT_TRUE(clip->SetText(u"kept"));
  const win::HWND other = MakeTop();
  ASSERT_TRUE(win::OpenClipboard(other));
  EXPECT_FALSE(clip->Open());
  EXPECT_EQ(clip->OpenCount(), 0);
  EXPECT_FALSE(clip->SetText(u"lost"));
  std::u16string text = u"?";
  clip->GetText(text);
  EXPECT_EQ(text, u"");
  EXPECT_FALSE(clip->HasText(u"", false));
  EXPECT_EQ(clip->GetBitmap(), nullptr);
  EXPECT_FALSE(clip->SetBitmap(NewDibBitmap(2, 2, 24).get(), u"p"));
  clip->Clear();
  win::CloseClipboard();
  clip->GetText(text);
  EXPECT_EQ(text, u"kept");
}

TEST_F(ClipboardTest, DibsOfEveryDepthRoundTripWithTheirHeaderSizes) {
  for (int32_t bits : {8, 15, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    Ref<TDibBitmap> b = NewDibBitmap(3, 2, bits);
    TFastDIB* dib = b->Dib();
    for (int32_t row = 0; row < dib->RowCount(); ++row)
      for (int32_t i = 0; i < dib->Stride(); ++i) dib->Row(row)[i] = uint8_t(row * 31 + i * 7 + 1);
    if (bits <= 8) dib->Colors()[1] = 0x00102030;
    ASSERT_TRUE(clip->SetBitmap(b.get(), u"pic"));
    EXPECT_EQ(clip->BitmapName(), u"pic");
    const std::vector<uint8_t> block = Raw(win::CF_DIB);
    const size_t header = size_t(DibHeaderSize(dib->BitCount(), dib->Header().Compression));
    EXPECT_EQ(block.size(), header + size_t(dib->Stride()) * 2);
    Ref<TBitmap> back = clip->GetBitmap();
    ASSERT_NE(back, nullptr);
    auto* d = dynamic_cast<TDibBitmap*>(back.get());
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->Width(), 3);
    EXPECT_EQ(d->Height(), 2);
    ASSERT_EQ(d->Dib()->BitCount(), dib->BitCount());
    ASSERT_EQ(d->Dib()->Stride(), dib->Stride());
    for (int32_t row = 0; row < 2; ++row)
      EXPECT_EQ(std::memcmp(d->Dib()->Row(row), dib->Row(row), size_t(dib->Stride())), 0);
    if (bits <= 8) {
      EXPECT_EQ(d->Dib()->Colors()[1], 0x00102030u);
    }
  }
  // 1 and 4 bits come back as their colours in 24 bits.
  for (int32_t bits : {1, 4}) {
    SCOPED_TRACE(bits);
    Ref<TFastDIB> dib = MakeRef<TFastDIB>();
    dib->SetSize(3, 2, bits);
    dib->Colors()[0] = 0x00FF0000;  // red
    dib->Colors()[1] = 0x000000FF;  // blue
    dib->Row(1)[0] = uint8_t(bits == 1 ? 0x40 : 0x01);  // top row: pixel 1 is colour 1
    ASSERT_TRUE(clip->PutDib(dib.get()));
    EXPECT_EQ(Raw(win::CF_DIB).size(), size_t(40 + 4 * (1 << bits) + 4 * 2));
    Ref<TBitmap> back = clip->GetBitmap();
    auto* d = dynamic_cast<TDibBitmap*>(back.get());
    ASSERT_NE(d, nullptr);
    ASSERT_EQ(d->Dib()->BitCount(), 24);
    const uint8_t* top = d->Dib()->Row(1);
    EXPECT_EQ(top[2], 255) << "pixel 0 red";
    EXPECT_EQ(top[3], 255) << "pixel 1 blue";
    EXPECT_EQ(top[5], 0);
  }
  // A 1 x 1 8-bit DIB: a 1064-byte header (40 + 1024), then one padded row.
  ASSERT_TRUE(clip->SetBitmap(NewDibBitmap(1, 1, 8).get(), u""));
  EXPECT_EQ(Raw(win::CF_DIB).size(), 1064u + 4u);
  EXPECT_EQ(DibHeaderSize(32, 3), 52);
  EXPECT_EQ(DibHeaderSize(24, 0), 40);
}

TEST_F(ClipboardTest, BitmapsAndTextShareOneOpeningOnlyInThatOrderOfReplacement) {
  // Text after a bitmap in the same opening removes the bitmap.
  ASSERT_TRUE(clip->Open());
  ASSERT_TRUE(clip->SetBitmap(NewDibBitmap(2, 2, 24).get(), u"a"));
  ASSERT_TRUE(clip->SetText(u"t"));
  clip->Close();
  EXPECT_EQ(clip->GetBitmap(), nullptr);
  EXPECT_TRUE(clip->HasText(u"t", false));
  // Two bitmaps in one opening: the first write empties, the second adds.
  ASSERT_TRUE(clip->SetText(u"old"));
  ASSERT_TRUE(clip->Open());
  ASSERT_TRUE(clip->SetBitmap(NewDibBitmap(2, 2, 24).get(), u"a"));
  ASSERT_TRUE(clip->SetBitmap(NewDibBitmap(5, 1, 24).get(), u"b"));
  clip->Close();
  EXPECT_FALSE(clip->HasText(u"", false));
  Ref<TBitmap> got = clip->GetBitmap();
  ASSERT_NE(got, nullptr);
  EXPECT_EQ(got->Width(), 5);
}

TEST_F(ClipboardTest, OtherBitmapsGoThroughTheirImageWithTheName) {
  Ref<TSysBitmap> b = CreateSysBitmap(4, 3, StdFormats().A8R8G8B8);
  b->FillRect(TRect{0, 0, 4, 3}, ColorRGBA(10, 20, 30, 128));
  ASSERT_TRUE(clip->SetBitmap(b.get(), u"photo"));
  EXPECT_EQ(clip->BitmapName(), u"photo");
  Ref<TBitmap> got = clip->GetBitmap();
  auto* d = dynamic_cast<TDibBitmap*>(got.get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Dib()->BitCount(), 32);
  EXPECT_EQ(d->Width(), 4);
  // An empty bitmap puts nothing.
  EXPECT_FALSE(clip->SetImage(nullptr));
}

// A block with a 40-byte header of these fields and `extra` bytes after it.
std::vector<uint8_t> Dib(int32_t w, int32_t h, uint16_t bits, uint32_t compression, uint32_t used, size_t extra,
                         uint32_t size = 40, uint32_t size_image = 0) {
  std::vector<uint8_t> d(40 + extra, 0);
  auto put32 = [&](size_t at, uint32_t v) { for (int i = 0; i < 4; ++i) d[at + size_t(i)] = uint8_t(v >> (8 * i)); };
  put32(0, size);
  put32(4, uint32_t(w));
  put32(8, uint32_t(h));
  d[12] = 1;
  d[14] = uint8_t(bits);
  put32(16, compression);
  put32(20, size_image);
  put32(32, used);
  return d;
}

TEST_F(ClipboardTest, DibBlocksThatLieAboutTheirSizeGiveNoBitmap) {
  // Each header field against the bytes present.
  const std::vector<std::vector<uint8_t>> lies = {
      std::vector<uint8_t>(39, 0),                        // no whole header
      Dib(4, 4, 24, 0, 0, 47),                            // rows one byte short
      Dib(2, 2, 24, 0, 0, 16, 4000),                      // header larger than the block
      Dib(2, 2, 24, 0, 0, 16, 12),                        // header smaller than 40
      Dib(1, 1, 8, 0, 0, 1023),                           // palette cut short
      Dib(1, 1, 8, 0, 257, 4 * 257 + 4),                  // more colours than 8 bits hold
      Dib(1, 1, 32, 3, 0, 8),                             // masks cut short
      Dib(0x40000000, 0x40000000, 32, 0, 0, 64),          // past every cap
      Dib(1, INT32_MIN, 8, 0, 0, 1028),                   // no height
      Dib(0, 1, 24, 0, 0, 4),                             // no width
      Dib(1, 1, 7, 0, 0, 4),                              // no such depth
      Dib(1, 1, 24, 1, 0, 4),                             // run-length of the wrong depth
      Dib(1, 1, 32, 9, 0, 4),                             // unknown compression
  };
  for (size_t i = 0; i < lies.size(); ++i) {
    SCOPED_TRACE(i);
    PutRaw(win::CF_DIB, lies[i]);
    EXPECT_EQ(clip->GetBitmap(), nullptr);
  }
  // Masks in an order a DIB cannot hold are refused rather than misread.
  std::vector<uint8_t> odd = Dib(1, 1, 32, 3, 0, 16);
  odd[40] = 0xFF;  // red in the lowest byte
  odd[45] = 0xFF;
  odd[50] = 0xFF;
  PutRaw(win::CF_DIB, odd);
  EXPECT_EQ(clip->GetBitmap(), nullptr);

  // A palette of two colours (ClrUsed): the rows follow those two entries.
  std::vector<uint8_t> two = Dib(2, 1, 8, 0, 2, 8 + 4);
  two[44] = 9;       // colour 1 blue
  two[48 + 1] = 1;   // pixel 1 uses colour 1
  PutRaw(win::CF_DIB, two);
  Ref<TBitmap> got = clip->GetBitmap();
  auto* d = dynamic_cast<TDibBitmap*>(got.get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Dib()->Colors()[1], 9u);
  EXPECT_EQ(d->Dib()->Row(0)[1], 1);

  // Run-length data is bounded by the block: an end code decodes, a block
  // cut before the rows are filled gives none.
  std::vector<uint8_t> rle = Dib(2, 1, 8, 1, 0, 1024 + 4, 40, 4);
  rle[1064] = 2, rle[1065] = 5, rle[1066] = 0, rle[1067] = 1;  // two of colour 5, end of bitmap
  PutRaw(win::CF_DIB, rle);
  got = clip->GetBitmap();
  d = dynamic_cast<TDibBitmap*>(got.get());
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Dib()->Row(0)[0], 5);
  std::vector<uint8_t> cut = Dib(2, 3, 8, 1, 0, 1024 + 2, 40, 400);
  cut[1064] = 2, cut[1065] = 5;
  PutRaw(win::CF_DIB, cut);
  EXPECT_EQ(clip->GetBitmap(), nullptr);
}

TEST_F(ClipboardTest, TheGlobalClipboardIsReplacedAndForgotten) {
  TClipbrd* first = Clipboard();
  InitWinClipboard();
  EXPECT_NE(Clipboard(), first);
  EXPECT_NE(Clipboard(), nullptr);
  FinalizeWinClipboard();
  EXPECT_EQ(Clipboard(), nullptr);
  EXPECT_FALSE(ClipboardHasText());
  // The base class answers nothing; its bitmap slot goes through SetImage.
  Ref<TClipbrd> base = MakeRef<TClipbrd>();
  EXPECT_FALSE(base->SetBitmap(NewDibBitmap(1, 1, 24).get(), u""));
  EXPECT_FALSE(base->Open());
  InitWinClipboard();
}

TEST(EditContextMenu, HoldsTheEditCommandsInOrderAndEnablesThemPerState) {
  InitEditContextMenu();
  TMenuDesc* m = EditContextMenu();
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->Name(), u"EditContextMenu");
  const std::vector<std::pair<std::u16string, int32_t>> want = {
      {u"Undo", 1}, {u"Redo", 2}, {u"-", 0}, {u"Cut", 3}, {u"Copy", 4},
      {u"Paste", 5}, {u"Delete", 6}, {u"-", 0}, {u"Select All", 7}};
  ASSERT_EQ(m->Count(), int32_t(want.size()));
  for (int32_t i = 0; i < m->Count(); ++i) {
    EXPECT_EQ(m->Item(i).Caption, want[size_t(i)].first);
    EXPECT_EQ(m->Item(i).Command, want[size_t(i)].second);
    EXPECT_FALSE(m->Item(i).Disabled) << "every entry is added enabled";
  }
  EXPECT_EQ(m->Value1, -1);
  EXPECT_EQ(m->Value2, -1);

  auto enabled = [&](int32_t command) { return !m->FindCommand(command)->Disabled; };
  auto states = [&](const TEditMenuState& s) {
    SetEditMenuState(m, s);
    std::string r;
    for (int32_t c = ecUndo; c <= ecSelectAll; ++c) r += enabled(c) ? '1' : '0';
    return r;
  };
  //                       Undo Redo Cut Copy Paste Delete SelectAll
  EXPECT_EQ(states({}), "0000000") << "an empty edit with nothing to paste";
  EXPECT_EQ(states({.HasText = true}), "0000001");
  EXPECT_EQ(states({.CanPaste = true}), "0000100");
  EXPECT_EQ(states({.CanUndo = true, .CanRedo = true}), "1100000");
  EXPECT_EQ(states({.HasSelection = true, .HasText = true}), "0011011");
  EXPECT_EQ(states({.HasSelection = true, .AllSelected = true, .HasText = true, .CanPaste = true}), "0011110");
  // Read-only: only Copy and Select All remain.
  EXPECT_EQ(states({.CanUndo = true, .CanRedo = true, .HasSelection = true, .HasText = true, .ReadOnly = true,
                    .CanPaste = true}),
            "0001001");
  SetEditMenuState(nullptr, {});  // no menu: nothing

  // The item array grows past 16 by doubling.
  Ref<TMenuDesc> big = MakeRef<TMenuDesc>(u"big");
  for (int32_t i = 0; i < 40; ++i) big->AddItem(u"i", i + 1, i % 2 == 0);
  EXPECT_EQ(big->Count(), 40);
  EXPECT_EQ(big->Capacity(), 64);
  EXPECT_TRUE(big->Item(39).Disabled);
  Ref<TMenuDesc> sub = MakeRef<TMenuDesc>(u"sub");
  big->AddSubMenu(u"More", sub.get(), true);
  EXPECT_EQ(big->Item(40).Sub.get(), sub.get());
  EXPECT_EQ(big->FindCommand(99), nullptr);
  FinalizeEditContextMenu();
  EXPECT_EQ(EditContextMenu(), nullptr);
}

}  // namespace
}  // namespace kav
