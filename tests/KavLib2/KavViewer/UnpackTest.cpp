#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <random>

#include "../../VoRav/TempFolder.h"
#include "KavLib2/KavViewer/KavUnpack.h"
#include "KavLib2/KavViewer/KavZStream.h"
#include "KavPacker.h"
#include "VoRav/vxStreamUtils.h"

using namespace kav;
using namespace kav::packer;
using kav::test::TTempFolder;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::vector<uint8_t> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto& b : v) b = static_cast<uint8_t>(rng() % 7 == 0 ? rng() : 'k');
  return v;
}

Entry Make(const std::string& name, std::vector<uint8_t> data, int method) {
  Entry e;
  e.name = name;
  e.data = std::move(data);
  e.method = method;
  return e;
}

// The show used by most tests: every method, names that need escaping.
std::vector<Entry> ShowEntries() {
  return {Make("Project.kav", Bytes("[Main]\r\nopt_scr_width=1920\r\n"), kDeflated),
          Make("C:\\Show\\big[1].jpg", Noise(300000, 1), kStored),
          Make("a\x01" "b", Noise(70000, 2), kEnciphered),
          Make("lcms2.dll", Noise(200000, 3), kDeflated),
          Make("empty.txt", {}, kStored)};
}

std::vector<uint8_t> ReadAll(TStream* s) {
  std::vector<uint8_t> out, block(7000);
  while (int64_t n = s->Read(block, static_cast<int64_t>(block.size()))) out.insert(out.end(), block.begin(), block.begin() + n);
  return out;
}

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct Show {
  TTempFolder folder;
  std::u16string Write(const std::vector<uint8_t>& bytes, const std::string& name = "show.kvshow") {
    EXPECT_TRUE(WriteFileBytes(folder.Sys(name), bytes));
    return folder.Wide(name);
  }
  Ref<TKavUnpack> Open(const std::vector<Entry>& entries, const Options& o) {
    return MakeRef<TKavUnpack>(Write(Pack(entries, o)));
  }
};

void ExpectAllEntriesRead(TKavUnpack* u, const std::vector<Entry>& entries) {
  for (const Entry& e : entries) {
    SCOPED_TRACE(e.name);
    Ref<TStream> s = u->OpenEntry(Wide(e.name), nullptr);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->GetSize(), static_cast<int64_t>(e.data.size()));
    EXPECT_EQ(ReadAll(s.get()), e.data);
  }
}

}  // namespace

TEST(KavUnpack, EveryTrailerFormReadsBackEveryEntry) {
  std::ifstream exe("/proc/self/exe", std::ios::binary);
  const std::vector<uint8_t> program{std::istreambuf_iterator<char>(exe), {}};
  ASSERT_GT(program.size(), 1000u);
  const auto entries = ShowEntries();
  for (Trailer trailer : {Trailer::kShort, Trailer::kLong, Trailer::kLongBase0}) {
    for (bool with_host : {false, true}) {
      SCOPED_TRACE(static_cast<int>(trailer) * 10 + with_host);
      Options o;
      if (with_host) {
        o.host = program;  // our own ELF program in front
        o.host_entry = true;
      }
      o.trailer = trailer;
      Show show;
      auto u = show.Open(entries, o);
      ASSERT_TRUE(u->IsOpen());
      EXPECT_TRUE(u->ErrorText().empty());
      EXPECT_EQ(u->Version(), u"8.0.1");
      EXPECT_EQ(u->EntryShift(), 0);
      ExpectAllEntriesRead(u.get(), entries);
      if (with_host) {
        Ref<TStream> host = u->OpenEntry(u"kavplayer", nullptr);
        ASSERT_TRUE(host);
        EXPECT_EQ(ReadAll(host.get()), program);
      }
    }
  }
}

TEST(KavUnpack, EntryStreamsAreIndependentAndChunked) {
  Show show;
  auto u = show.Open(ShowEntries(), Options());
  int64_t position = 0, size = 0;
  int32_t method = -1;
  ASSERT_TRUE(u->GetEntry(u"C:\\Show\\big[1].jpg", position, method, size));
  EXPECT_EQ(method, kStored);
  EXPECT_FALSE(u->GetEntry(u"missing", position, method, size));
  EXPECT_FALSE(u->GetEntry(u"", position, method, size));

  // Two opens of one entry read independently.
  auto a = u->OpenEntry(u"a\x01" "b", nullptr), b = u->OpenEntry(u"a\x01" "b", nullptr);
  std::vector<uint8_t> x(100), y(100);
  a->Read(x, 50);
  b->Read(y, 100);
  a->Read(x, 50, 50);
  EXPECT_EQ(x, y);

  // Every kind reads through a window with 256-byte pieces.
  auto* crypt = dynamic_cast<TCryptStream*>(a.get());
  ASSERT_TRUE(crypt);
  EXPECT_EQ(dynamic_cast<TPartialStream*>(crypt->Source())->ChunkSize(), 256);
  auto deflated = u->OpenEntry(u"Project.kav", nullptr);
  EXPECT_EQ(dynamic_cast<TPartialStream*>(deflated.get())->ChunkSize(), 256);
  auto stored = u->OpenEntry(u"empty.txt", nullptr);
  EXPECT_EQ(dynamic_cast<TPartialStream*>(stored.get())->ChunkSize(), 256);
  EXPECT_EQ(u->OpenEntry(u"missing", nullptr), nullptr);

  u->Close();
  EXPECT_FALSE(u->IsOpen());
  EXPECT_FALSE(u->GetEntry(u"empty.txt", position, method, size));
  EXPECT_EQ(u->OpenFile(), nullptr);
  EXPECT_EQ(ReadAll(a.get()).size(), 70000u - 100u);  // open entries outlive the unpacker's file
}

TEST(KavUnpack, IntegrityRules) {
  const auto entries = ShowEntries();
  struct Case {
    const char* strucpos;  // nullptr: the recorded position
    const char* allowmodify;
    int64_t recorded_host;
    std::u16string error;
  };
  // The real host is 40 bytes; a recorded host of 10 moves the directory by 30.
  const Case cases[] = {
      {nullptr, nullptr, 40, u""},                         // strucpos equals the directory position
      {"", nullptr, 40, u""},                              // strucpos absent
      {nullptr, nullptr, 10, kShowModified},               // moved, not allowed
      {nullptr, "0", 10, kShowModified},
      {nullptr, "1", 10, u""},                             // moved and allowed: entries shift
      {"abc", "1", 40, kShowDamaged},
      {"99999999", "1", 40, kShowDamaged},                 // beyond the directory
      {nullptr, "1", -5000000, u""},                      // a negative recorded position
      {"-9223372036854775808", "1", 40, kShowDamaged},     // a shift beyond 64 bits
      {"99999999999999999999999", "1", 40, kShowDamaged},  // out of range
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.strucpos ? c.strucpos : "recorded") + "/" + (c.allowmodify ? c.allowmodify : "-"));
    Options o;
    o.trailer = Trailer::kLong;
    o.host.assign(40, 'H');
    o.recorded_host_size = c.recorded_host;
    if (c.strucpos) o.strucpos = c.strucpos;
    if (c.allowmodify) o.allowmodify = c.allowmodify;
    Show show;
    auto u = show.Open(entries, o);
    EXPECT_EQ(u->ErrorText(), c.error);
    EXPECT_EQ(u->IsOpen(), c.error.empty());
    if (u->IsOpen()) {
      EXPECT_EQ(u->EntryShift(), 40 - c.recorded_host);
      ExpectAllEntriesRead(u.get(), entries);
    }
  }
  // A negative position that moves the entries too far opens, and no entry
  // window outside the file is handed out.
  {
    Options o;
    o.strucpos = "-5";
    o.allowmodify = "1";
    Show show;
    const std::vector<uint8_t> bytes = Pack(entries, o);
    auto u = MakeRef<TKavUnpack>(show.Write(bytes));
    ASSERT_TRUE(u->IsOpen());
    int64_t position = 0, size = 0;
    int32_t method = 0;
    EXPECT_FALSE(u->GetEntry(u"lcms2.dll", position, method, size));
    for (const Entry& e : entries) {
      if (u->GetEntry(Wide(e.name), position, method, size)) {
        EXPECT_LE(position + size, int64_t(bytes.size()));
      }
    }
  }
  // A long-form window that ends in the trailer's last 8 bytes lies in the
  // file, though past the package's end: it is readable.
  {
    Options o;
    o.trailer = Trailer::kLong;
    o.host.assign(40, 'H');
    std::vector<uint8_t> bytes;
    for (int64_t size = 0; int64_t(bytes.size()) != size || size == 0;) {
      size = int64_t(bytes.size());
      o.extra_directory_text = "[tail]\r\n_ps=" + std::to_string(size - 8) + "\r\n_sz=8\r\n";
      bytes = Pack(entries, o);
    }
    Show show;
    auto u = MakeRef<TKavUnpack>(show.Write(bytes));
    ASSERT_TRUE(u->IsOpen());
    EXPECT_EQ(u->EndPosition(), int64_t(bytes.size()) - 8);
    Ref<TStream> tail = u->OpenEntry(u"tail", nullptr);
    ASSERT_TRUE(tail);
    EXPECT_EQ(ReadAll(tail.get()), std::vector<uint8_t>(bytes.end() - 8, bytes.end()));
  }

  Options none;
  none.protection = false;
  Show show;
  auto u = show.Open(entries, none);
  EXPECT_TRUE(u->IsOpen());
  EXPECT_EQ(u->Version(), u"");

  std::u16string version;
  EXPECT_TRUE(ReadPackedShowVersion(show.Write(Pack(entries, Options()), "v.kvshow"), version));
  EXPECT_EQ(version, u"8.0.1");
  EXPECT_FALSE(ReadPackedShowVersion(show.folder.Wide("nothing"), version));
}

TEST(KavUnpack, MissingAndForeignFiles) {
  TTempFolder folder;
  auto missing = MakeRef<TKavUnpack>(folder.Wide("no-such.kvshow"));
  EXPECT_FALSE(missing->IsOpen());
  EXPECT_EQ(missing->ErrorText(), kShowNotFound);

  // Our own program has no package: not open, no error text.
  auto self = MakeRef<TKavUnpack>(u"/proc/self/exe");
  EXPECT_FALSE(self->IsOpen());
  EXPECT_EQ(self->ErrorText(), u"");

  for (const std::string& bytes : {std::string(), std::string(".dne"), std::string("12345678.dne")}) {
    folder.WriteFile("tiny", bytes);
    auto u = MakeRef<TKavUnpack>(folder.Wide("tiny"));
    EXPECT_FALSE(u->IsOpen());
    EXPECT_EQ(u->ErrorText(), bytes.empty() ? u"" : kShowDamaged);  // a marker without room is damage
  }
}

TEST(KavUnpack, DamagedTrailersAndDirectories) {
  const auto entries = ShowEntries();
  const auto good = Pack(entries, Options());
  auto patch_int64 = [](std::vector<uint8_t> file, size_t at, int64_t v) {
    for (int i = 0; i < 8; ++i) file[at + i] = static_cast<uint8_t>(static_cast<uint64_t>(v) >> (8 * i));
    return file;
  };
  std::vector<std::vector<uint8_t>> damaged;
  const size_t dir_at = good.size() - 12;
  for (int64_t v : {int64_t{-1}, int64_t(good.size()), int64_t(good.size() - 11), INT64_MAX, INT64_MIN})
    damaged.push_back(patch_int64(good, dir_at, v));
  auto corrupt = good;
  corrupt[dir_at - 5] ^= 0x55;  // inside the deflated directory
  damaged.push_back(corrupt);
  auto cut = good;
  cut.erase(cut.end() - 40, cut.end() - 12);  // directory truncated
  damaged.push_back(cut);
  // Long forms whose base lies outside the file or overflows.
  Options lo;
  lo.trailer = Trailer::kLong;
  const auto lgood = Pack(entries, lo);
  for (int64_t v : {int64_t{-3}, int64_t(lgood.size()), INT64_MIN})
    damaged.push_back(patch_int64(lgood, lgood.size() - 8, v));
  // A directory that inflates beyond its cap.
  Options bomb;
  bomb.extra_directory_text = std::string(kMaxDirectorySize + 10, ';');
  damaged.push_back(Pack(entries, bomb));

  Show show;
  for (size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    auto u = MakeRef<TKavUnpack>(show.Write(damaged[i]));
    EXPECT_FALSE(u->IsOpen());
    EXPECT_EQ(u->ErrorText(), kShowDamaged);
  }
}

TEST(KavUnpack, HostileEntryValuesAreNotFound) {
  std::vector<Entry> entries = ShowEntries();
  auto with = [&](size_t i, const char* ps, const char* sz) {
    std::vector<Entry> e = entries;
    if (ps) e[i].ps_text = ps;
    if (sz) e[i].sz_text = sz;
    return e;
  };
  const std::vector<std::vector<Entry>> shows = {
      with(1, "9223372036854775807", nullptr), with(1, "-1", nullptr),      with(1, nullptr, "-5"),
      with(1, nullptr, "9223372036854775807"), with(1, nullptr, "99999999"), with(1, "abc", nullptr),
      with(1, "", nullptr),                    with(1, nullptr, ""),          with(1, "12x", nullptr)};
  Show show;
  for (size_t i = 0; i < shows.size(); ++i) {
    SCOPED_TRACE(i);
    auto u = show.Open(shows[i], Options());
    ASSERT_TRUE(u->IsOpen());
    int64_t p, s;
    int32_t m;
    EXPECT_FALSE(u->GetEntry(u"C:\\Show\\big[1].jpg", p, m, s));
    EXPECT_EQ(u->OpenEntry(u"C:\\Show\\big[1].jpg", nullptr), nullptr);
    ExpectAllEntriesRead(u.get(), {entries[0], entries[2]});
  }

  // _pm missing or unknown: stored.
  entries[1].write_pm = false;
  entries[4].method = 7;
  auto u = show.Open(entries, Options());
  ExpectAllEntriesRead(u.get(), {entries[1], entries[4]});

  // A deflated entry cut short raises instead of reading as a short file.
  std::vector<Entry> cut = ShowEntries();
  cut[3].sz_text = "1000";
  auto v = show.Open(cut, Options());
  EXPECT_THROW(v->OpenEntry(u"lcms2.dll", nullptr), EZDecompressionError);
}

TEST(KavUnpack, EscapeSectionName) {
  EXPECT_EQ(EscapeSectionName(u"a[1]b"), u"a<1>b");
  EXPECT_EQ(EscapeSectionName(std::u16string(u"a\x01" "b")), u"a#01b");
  EXPECT_EQ(EscapeSectionName(std::u16string(u"\x1F\x0A x", 4)), u"#1F#0A x");
  EXPECT_EQ(EscapeSectionName(u"ÄПривет"), u"ÄПривет");
}
