#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "VoRav/vxMemoryStream.h"
#include "VoRav/vxStream.h"
#include "VoRav/vxUTF8.h"
#include "ProbeStream.h"

using namespace kav;
using kav::test::Sequence;
using kav::test::TProbeStream;
using namespace std::literals;


TEST(Stream, TransfersNeverLeaveTheCallersBuffer) {
  auto s = MakeRef<TProbeStream>(Sequence(100));
  uint8_t buf[8] = {};
  EXPECT_EQ(s->Read(buf, 1000, 5), 3);  // cut to the room after the offset
  EXPECT_EQ(s->Read(buf, 4, -3), 4);  // a negative offset counts as 0
  EXPECT_EQ(buf[0], Sequence(100)[3]);
  EXPECT_EQ(s->Read(buf, 4, 8), 0);  // offset past the buffer
  EXPECT_EQ(s->Read(buf, -1), 0);
  EXPECT_EQ(s->reads, (std::vector<int64_t>{3, 4}));  // only two reached the stream

  const uint8_t out[3] = {9, 8, 7};
  EXPECT_EQ(s->Write(out, 10, 1), 2);
  EXPECT_EQ(s->writes.back(), 2);
  EXPECT_EQ(s->Write(out, 10, 3), 0);
}

TEST(Stream, TypedReadersAndWriters) {
  auto s = MakeRef<TMemoryStream>();
  s->WriteByte(0xFE);
  s->WriteWord(0x1234);
  s->WriteSmallInt(-2);
  s->WriteInteger(-100000);
  s->WriteSingle(-1.5f);
  s->WriteBytes(std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8});
  s->WriteBytes(std::vector<uint8_t>{9, 10, 11, 12}, 1, 100);  // 10 11 12
  const uint8_t expect[] = {0xFE, 0x34, 0x12, 0xFE, 0xFF, 0x60, 0x79, 0xFE, 0xFF, 0x00, 0x00, 0xC0, 0xBF};
  EXPECT_EQ(std::memcmp(s->Memory(), expect, sizeof expect), 0);

  s->SetPosition(0);
  EXPECT_EQ(s->ReadByte(), 0xFE);
  EXPECT_EQ(s->ReadWord(), 0x1234);
  EXPECT_EQ(s->ReadSmallIntBE(), -257);  // FE FF read big-endian, sign-extended
  EXPECT_EQ(s->ReadInteger(), -100000);
  EXPECT_EQ(s->ReadSingle(), -1.5f);
  EXPECT_EQ(s->ReadInt64(), 0x0807060504030201LL);
  s->SetPosition(13);
  EXPECT_EQ(s->ReadDWordBE(), 0x01020304u);
  EXPECT_EQ(s->ReadWordBE(), 0x0506);

  // Short reads raise; the position has moved by the bytes that came.
  s->SetPosition(s->GetSize() - 1);
  EXPECT_THROW(s->ReadWord(), EStreamReadError);
  EXPECT_EQ(s->GetPosition(), s->GetSize());
  s->SetPosition(s->GetSize() - 3);
  EXPECT_THROW(s->ReadInt64(), EStreamReadError);
}

TEST(Stream, ShortWritesRaise) {
  auto s = MakeRef<TProbeStream>();
  s->write_limit = 3;
  EXPECT_THROW(s->WriteInteger(1), EStreamWriteError);
  s->write_limit = 0;
  EXPECT_THROW(s->WriteText(u"x"), EStreamWriteError);
  s->write_limit = 1500;
  EXPECT_THROW(s->WriteBytes(Sequence(3000)), EStreamWriteError);
  EXPECT_EQ(s->writes, (std::vector<int64_t>{4, 2, 1024, 1024}));
}

TEST(Stream, TextIsWrittenAndReadAsUtf16LittleEndianInPieces) {
  auto s = MakeRef<TProbeStream>();
  std::u16string text(600, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(0x41 + i * 97);
  s->WriteText(text);
  EXPECT_EQ(s->writes, (std::vector<int64_t>{1024, 176}));
  EXPECT_EQ(s->bytes()[2], 0xA2);  // U+00A2 low byte first
  s->WriteText(u"abc", 1, 9);  // "bc"

  s->SetPosition(0);
  std::u16string back(610, u'#');
  EXPECT_EQ(s->ReadTextRange(back, 5, 1000), 602);  // cut at the stream's end
  EXPECT_EQ(back.substr(5, 600), text);
  EXPECT_EQ(back.substr(605), u"bc###");
  EXPECT_EQ(s->reads, (std::vector<int64_t>{1024, 186}));

  // A dangling half character ends the read.
  s->SetPosition(1201);
  std::u16string tail(4, u'#');
  EXPECT_EQ(s->ReadTextRange(tail, 0, 4), 1);
  EXPECT_EQ(tail, u"\u6300###");
  EXPECT_EQ(s->GetPosition(), 1204);
}

TEST(Stream, ReadAnsiRangeFillsTheExistingText) {
  auto s = MakeRef<TProbeStream>(Sequence(5000));
  std::string text(4600, '#');
  EXPECT_EQ(s->ReadAnsiRange(text, 10, 9999), 4590);  // never past the text's length
  EXPECT_EQ(s->reads, (std::vector<int64_t>{2048, 2048, 494}));
  EXPECT_EQ(std::memcmp(text.data() + 10, Sequence(5000).data(), 4590), 0);
  EXPECT_EQ(s->ReadAnsiRange(text, 0, 600), 410);
}

TEST(Stream, CopyFromMovesUpToCountOrToTheSourceEnd) {
  const std::vector<uint8_t> seq = Sequence(100000);
  auto src = MakeRef<TProbeStream>(seq);
  auto dst = MakeRef<TProbeStream>();
  src->SetPosition(10);
  EXPECT_EQ(dst->CopyFrom(src.get(), 70000), 70000);
  EXPECT_EQ(dst->writes, (std::vector<int64_t>{32768, 32768, 4464}));
  EXPECT_EQ(std::vector<uint8_t>(seq.begin() + 10, seq.begin() + 70010), dst->bytes());
  EXPECT_EQ(dst->CopyFrom(src.get(), std::numeric_limits<int64_t>::max()), 29990);

  auto full = MakeRef<TProbeStream>();
  full->write_limit = 40000;
  src->SetPosition(0);
  EXPECT_THROW(full->CopyFrom(src.get(), 100000), EStreamWriteError);
}

TEST(Stream, LoadFromCopiesTheWholeSourceAndRestoresItsPosition) {
  auto src = MakeRef<TProbeStream>(Sequence(70000));
  src->SetPosition(1234);
  auto dst = MakeRef<TMemoryStream>();
  dst->WriteBytes(Sequence(100000));
  dst->LoadFrom(src.get());
  EXPECT_EQ(src->GetPosition(), 1234);
  EXPECT_EQ(dst->GetPosition(), 0);
  ASSERT_EQ(dst->GetSize(), 70000);
  EXPECT_EQ(std::memcmp(dst->Memory(), src->bytes().data(), 70000), 0);

  // A source of unknown size, handing out small pieces, is copied to its end.
  src->size_known = false;
  src->read_piece = 1000;
  auto probe = MakeRef<TProbeStream>();
  probe->LoadFrom(src.get());
  EXPECT_EQ(probe->bytes(), src->bytes());
  EXPECT_EQ(src->GetPosition(), 1234);

  // A destination that stops taking bytes fails; the source's position is still restored.
  src->size_known = true;
  auto full = MakeRef<TProbeStream>();
  full->write_limit = 500;
  EXPECT_THROW(full->LoadFrom(src.get()), EStreamWriteError);
  EXPECT_EQ(src->GetPosition(), 1234);

  dst->SetPosition(5);
  dst->LoadFrom(dst.get());
  EXPECT_EQ(dst->GetSize() + dst->GetPosition(), 70000);
}

TEST(Stream, FileHooksAssertUntilInstalled) {
  // The file-stream module installs its hooks when it is linked in: take them out for this test.
  const TReadFileHook installed_read = SetReadFileHook(nullptr);
  const TWriteFileHook installed_write = SetWriteFileHook(nullptr);
  try {
    WriteFile(u"a.txt", true);
    FAIL();
  } catch (const EAbort& e) {
    EXPECT_NE(e.Message().find("vxStream.WriteFile not Assigned"), std::string::npos);
  }
  auto hook = [](const std::u16string& name) -> Ref<TStream> { return MakeRef<TStringStream>("n" + UTF8Encode(name)); };
  EXPECT_NE(SetReadFileHook(hook), nullptr);
  EXPECT_EQ(ReadFile(u"b.txt")->GetSize(), 6);
  SetReadFileHook(nullptr);
  EXPECT_THROW(ReadFile(u"a.txt"), EAbort);
  SetReadFileHook(installed_read);
  SetWriteFileHook(installed_write);
}

namespace {

std::vector<uint8_t> Bytes(std::string_view s) { return std::vector<uint8_t>(s.begin(), s.end()); }

uint8_t ReadText(TStream* s, std::vector<uint8_t>& out, uint32_t code_page = 0) {
  return StreamReadTextUTF8(s, out, code_page);
}

}  // namespace

TEST(Stream, ReadTextUTF8FollowsTheByteOrderMark) {
  std::vector<uint8_t> out;
  auto s = MakeRef<TProbeStream>(Bytes("\xFF\xFE\x41\x00"sv));
  EXPECT_EQ(ReadText(s.get(), out), 2);
  EXPECT_EQ(out, Bytes("A"sv));

  // UTF-16 above U+FFFF becomes the library's two 3-byte sequences; a final odd byte is dropped.
  s = MakeRef<TProbeStream>(Bytes("\xFF\xFE\x3D\xD8\x00\xDE\xE4\x00\x01"sv));
  EXPECT_EQ(ReadText(s.get(), out), 2);
  EXPECT_EQ(out, Bytes("\xED\xA0\xBD\xED\xB8\x80\xC3\xA4"sv));

  s = MakeRef<TProbeStream>(Bytes("\xEF\xBB\xBF" "k\xC3\xA4y"sv));
  EXPECT_EQ(ReadText(s.get(), out), 1);
  EXPECT_EQ(out, Bytes("k\xC3\xA4" "y"sv));

  // No mark: converted from the code page (0 is Windows-1252 here); read from the current position.
  s = MakeRef<TProbeStream>(Bytes("..A\xE4\x80"sv));
  s->SetPosition(2);
  EXPECT_EQ(ReadText(s.get(), out), 3);
  EXPECT_EQ(out, Bytes("A\xC3\xA4\xE2\x82\xAC"sv));
  // No mark, valid UTF-8 holding non-ASCII bytes: kept as UTF-8 (4-byte form too); with a
  // named code page the bytes are that code page's all the same.
  s = MakeRef<TProbeStream>(Bytes("Caf\xC3\xA9 \xF0\x9F\x98\x80"sv));
  EXPECT_EQ(ReadText(s.get(), out), 3);
  EXPECT_EQ(out, Bytes("Caf\xC3\xA9 \xF0\x9F\x98\x80"sv));
  s = MakeRef<TProbeStream>(Bytes("Caf\xC3\xA9"sv));
  EXPECT_EQ(ReadText(s.get(), out, 28591), 3);
  EXPECT_EQ(out, Bytes("Caf\xC3\x83\xC2\xA9"sv));
  s = MakeRef<TProbeStream>(Bytes("\xEF\xBB"sv));  // too short for a mark
  EXPECT_EQ(ReadText(s.get(), out, 28591), 3);
  EXPECT_EQ(out, Bytes("\xC3\xAF\xC2\xBB"sv));
  s = MakeRef<TProbeStream>();
  out = {1};
  EXPECT_EQ(ReadText(s.get(), out), 3);
  EXPECT_TRUE(out.empty());
}

TEST(Stream, ReadTextUTF8Failures) {
  std::vector<uint8_t> out = {1, 2};
  auto s = MakeRef<TProbeStream>(Bytes("\xEF\xBB\xBF" "abc"sv));
  s->size_known = false;
  EXPECT_EQ(ReadText(s.get(), out), 0);
  EXPECT_TRUE(out.empty());
  s->size_known = true;
  s->extra_size = 0x7FFFFFF;  // announces more than 0x7FFFFFF bytes
  EXPECT_EQ(ReadText(s.get(), out), 0);
  EXPECT_EQ(s->reads.size(), 0u);

  // Short reads: after the UTF-8 mark the bytes that came are kept.
  s->extra_size = 5;
  EXPECT_EQ(ReadText(s.get(), out), 0);
  EXPECT_EQ(out, Bytes("abc"sv));
  s = MakeRef<TProbeStream>(Bytes("\xFF\xFE" "a\x00"sv));
  s->extra_size = 2;
  EXPECT_EQ(ReadText(s.get(), out), 0);
  EXPECT_TRUE(out.empty());
}
