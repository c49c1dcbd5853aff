#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "../../VoRav/LogCapture.h"
#include "../../VoRav/TempFolder.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "KavLib2/KavViewer/KavPackedSource.h"
#include "KavPacker.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/Graphics/SysImage.h"
#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/Graphics/vxBitmapLoader.h"
#include "VoRav/Graphics/vxImageRegistry.h"
#include "VoRav/vxIni.h"

using namespace kav;
using kav::test::TTempFolder;

namespace {

void RegisterLoadersOnce() {
  static bool done = [] {
    RegisterBmpLoader();
    return true;
  }();
  (void)done;
}

void Put16(std::string& s, uint32_t v) { s += char(v & 255), s += char(v >> 8 & 255); }
void Put32(std::string& s, uint32_t v) { Put16(s, v & 0xFFFF), Put16(s, v >> 16); }

// A 24-bit BMP, 2 x 1 pixels.
std::string TinyBmp() {
  std::string s = "BM";
  Put32(s, 62), Put32(s, 0), Put32(s, 54);
  Put32(s, 40), Put32(s, 2), Put32(s, 1), Put16(s, 1), Put16(s, 24), Put32(s, 0), Put32(s, 8);
  Put32(s, 2835), Put32(s, 2835), Put32(s, 0), Put32(s, 0);
  s += std::string("\x10\x20\x30\x40\x50\x60\0\0", 8);
  return s;
}

std::vector<std::u16string> g_lines;
Ref<TBitmapStore> RecordingRenderer(const std::vector<std::u16string>& lines, TColor32, TColor32, double) {
  g_lines = lines;
  Ref<TBitmap> b = NewBitmap(8, 4, PixelFormatByName("A8R8G8B8"));
  return MakeRef<TWrapperBitmapStore>(u"placeholder", TImageParamsCallback(), true, b.release());
}

Ref<TImage> FromCallback(void* data, TFileSource*, const std::u16string& name) {
  if (name != u"generated") return nullptr;
  return Ref<TImage>(static_cast<TImage*>(data));
}

// A producer of "Shadow: x" whose making is cut short until `ready` is set.
std::atomic<bool> g_ready{false};
Ref<TImage> CutShortUntilReady(void* data, TFileSource*, const std::u16string& name) {
  if (name != u"Shadow: x") return nullptr;
  if (!g_ready.load()) {
    NoteProductionCutShort();
    return nullptr;
  }
  return Ref<TImage>(static_cast<TImage*>(data));
}

}  // namespace

TEST(ImageCache, SharedPerSourceAndReleased) {
  RegisterLoadersOnce();
  TTempFolder t;
  t.WriteFile("a.bmp", TinyBmp());
  const int32_t before = ImageHandleCount();
  auto acc1 = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  auto acc2 = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  {
    Ref<TImage> x = LoadImageHandle(acc1.get(), t.Wide("a.bmp"));
    Ref<TImage> y = LoadImageHandle(acc1->Clone().get(), t.Wide("A.BMP"));
    Ref<TImage> z = LoadImageHandle(acc2.get(), t.Wide("a.bmp"));
    EXPECT_EQ(x->Width(), 2);
    EXPECT_EQ(x->Height(), 1);
    EXPECT_EQ(x->Store(), y->Store());  // one source: one load
    EXPECT_NE(x->Store(), z->Store());  // another source: its own
    EXPECT_EQ(ImageHandleCount(), before + 2);
  }
  EXPECT_EQ(ImageHandleCount(), before);

  // Threads loading and dropping the same pictures share one store while
  // any of them holds it, and leave no handle behind.
  {
    Ref<TImage> held = LoadImageHandle(acc1.get(), t.Wide("a.bmp"));
    std::vector<std::thread> threads;
    std::atomic<int> mismatches{0};
    for (int k = 0; k < 6; ++k)
      threads.emplace_back([&, k] {
        for (int i = 0; i < 40; ++i) {
          Ref<TImage> a = LoadImageHandle(acc1.get(), t.Wide("a.bmp"));
          Ref<TImage> b = LoadImageHandle(acc2.get(), t.Wide(k % 2 ? "a.bmp" : "gone.bmp"));
          if (a->Store() != held->Store()) ++mismatches;
        }
      });
    for (auto& th : threads) th.join();
    EXPECT_EQ(mismatches.load(), 0);
  }
  EXPECT_EQ(ImageHandleCount(), before);

  // An open callback of the source answers first.
  Ref<TImage> made = LoadImageHandle(acc1.get(), t.Wide("a.bmp"));
  Ref<TCallbackHandle> cb = acc2->Source()->AddCallback(TOpenImageCallback::Bind<&FromCallback>(),
                                                         made.get());
  EXPECT_EQ(LoadImageHandle(acc2.get(), u"generated")->Store(), made->Store());
  cb = nullptr;
  EXPECT_TRUE(acc2->Source()->Callbacks().empty());
}

TEST(ImageCache, PlaceholdersAndOrientation) {
  RegisterLoadersOnce();
  TTempFolder t;
  t.WriteFile("bad.bmp", "not a picture at all");
  t.WriteFile("pic.bmp", TinyBmp());
  auto acc = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());

  EXPECT_EQ(NotFoundImageLines(u"C:\\x\\clip.avi", true, true),
            (std::vector<std::u16string>{u" Video load error: ", u" clip.avi "}));
  EXPECT_EQ(NotFoundImageLines(u"v.avi", false, true)[0], u" Video not found ");
  // Without a text renderer the placeholder is a plain grey picture.
  Ref<TImage> plain = LoadImageHandle(acc.get(), t.Wide("none.bmp"));
  ASSERT_NE(plain, nullptr);
  EXPECT_EQ(plain->Width(), 256);
  EXPECT_EQ(plain->Height(), 64);

  SetNotFoundRenderer(&RecordingRenderer);
  // Each placeholder is logged once, with the reason.
  kav::test::TLogCapture log;
  // The show's author hears of each once, in the show check's words.
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  Ref<TImage> bad = LoadImageHandle(acc.get(), t.Wide("bad.bmp"));
  EXPECT_EQ(g_lines, (std::vector<std::u16string>{u" Image load error: ", u" bad.bmp "}));
  EXPECT_TRUE(log.OneLineWith(u"no decoder accepts its data"));
  EXPECT_EQ(LoadImageHandle(acc.get(), t.Wide("bad.bmp"))->Store(), bad->Store());
  EXPECT_EQ(log.Count(), 0u);  // the cached placeholder is not logged again
  Ref<TImage> missing = LoadImageHandle(acc.get(), t.Wide("later.bmp"));
  EXPECT_EQ(g_lines[0], u" Image not found ");
  EXPECT_TRUE(log.OneLineWith(u"no such file"));
  SetShowProblemSink(nullptr);
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(ShowProblemText(said[0]), t.Wide("bad.bmp") + u": not a picture: no decoder accepts its data");
  EXPECT_FALSE(said[0].Error);
  EXPECT_EQ(ShowProblemText(said[1]), t.Wide("later.bmp") + u": no such file");
  EXPECT_TRUE(said[1].Error);
  EXPECT_EQ(missing->Width(), 8);
  // The failure is kept while the handle lives: a file that appears later
  // is not tried again.
  t.WriteFile("later.bmp", TinyBmp());
  EXPECT_EQ(LoadImageHandle(acc.get(), t.Wide("later.bmp"))->Store(), missing->Store());
  // A picture whose data turns out not to decode when a level is made is
  // the "Image load error:" placeholder from then on, said once in the log;
  // those holding the old picture see it marked.
  Ref<TImage> good = LoadImageHandle(acc.get(), t.Wide("pic.bmp"));
  good->Store()->SetUndecodable();
  Ref<TImage> again = LoadImageHandle(acc.get(), t.Wide("pic.bmp"));
  EXPECT_NE(again->Store(), good->Store());
  EXPECT_FALSE(again->Store()->Undecodable());
  EXPECT_EQ(g_lines, (std::vector<std::u16string>{u" Image load error: ", u" pic.bmp "}));
  EXPECT_TRUE(log.OneLineWith(u"is shown as a placeholder: its data does not decode"));
  EXPECT_EQ(LoadImageHandle(acc.get(), t.Wide("pic.bmp"))->Store(), again->Store());
  EXPECT_EQ(log.Count(), 0u);
  SetNotFoundRenderer(nullptr);

  // [RotationState] 6: turned 90 degrees clockwise, width and height swapped.
  auto mapped = MakeRef<TMappedFileSource>(t.Wide() + u"/");
  auto ini = MakeRef<TIniFile>();
  ini->LoadFromBytes("[RotationState]\r\n;\"PIC.bmp\"=6\r\n");
  mapped->LoadMappings(ini->FindSection(u"RotationState"));
  auto turned_acc = MakeRef<TFileAccessor>(mapped.get());
  turned_acc->SetMipLevel(1);
  Ref<TImage> turned = LoadImageHandle(turned_acc.get(), u"pic.bmp");
  EXPECT_EQ(turned->Width(), 1);
  EXPECT_EQ(turned->Height(), 2);
  EXPECT_EQ(turned->Store()->CachedCount(1), 1);  // the accessor's mip level made ahead
  EXPECT_EQ(turned->GetBitmap()->Size().cx, 1);
}

namespace {

// A store over a 1 x 1 picture that keeps the opener the cache gives it.
class TOpenerStore : public TWrapperBitmapStore {
 public:
  TOpenerStore() : TWrapperBitmapStore(u"opener", {}, true, NewBitmap(1, 1, PixelFormatByName("A8R8G8B8")).release()) {}
  void SetSourceOpener(TStreamOpener opener) override { Opener = std::move(opener); }
  TStreamOpener Opener;
};

// Takes files that begin with "OPEN".
Ref<TBitmapStore> LoadOpenerStore(TStream* stream, const std::u16string&, bool owns, const TImageParamsCallback&) {
  Ref<TStream> taken = owns ? Ref<TStream>::Adopt(stream) : Ref<TStream>();
  const int64_t start = stream->GetPosition();
  uint8_t head[4] = {};
  const bool ok = stream->Read(std::span<uint8_t>(head, 4), 4) == 4 && std::memcmp(head, "OPEN", 4) == 0;
  stream->SetPosition(start);
  return ok ? MakeRef<TOpenerStore>() : nullptr;
}

std::string ReadAll(TStream* s) {
  std::string out;
  uint8_t buf[256];
  for (int64_t n; (n = s->Read(std::span<uint8_t>(buf, sizeof buf), sizeof buf)) > 0;)
    out.append(reinterpret_cast<char*>(buf), size_t(n));
  return out;
}

}  // namespace

// A store may let go of its compressed file and read it again: the cache
// gives it an opener that opens the same name through the same source.
TEST(ImageCache, StoresGetAnOpenerOfTheirFileThroughTheSource) {
  RegisterImageLoader(&LoadOpenerStore, {u".opn"});
  TTempFolder t;
  t.WriteFile("sub/p.opn", "OPEN and the rest of the file");
  auto mapped = MakeRef<TMappedFileSource>(t.Wide() + u"/");
  auto acc = MakeRef<TFileAccessor>(mapped.get());
  {
    Ref<TImage> image = LoadImageHandle(acc.get(), u"sub\\p.opn");
    auto* store = dynamic_cast<TOpenerStore*>(image->Store());
    ASSERT_NE(store, nullptr);
    ASSERT_TRUE(store->Opener);
    Ref<TStream> again = store->Opener();
    ASSERT_TRUE(again);
    EXPECT_EQ(ReadAll(again.get()), "OPEN and the rest of the file");
    // A file gone since gives no stream (the store then reports it cannot
    // read its picture again).
    std::filesystem::remove(t.Sys("sub/p.opn"));
    EXPECT_FALSE(store->Opener());
  }
  UnregisterImageLoader(&LoadOpenerStore);
}

// A picture a producer makes, asked for while its making is cut short (its
// host going at the end of the show), is no missing file: nothing is said,
// the file is not looked for, and the next ask loads it.
TEST(ImageCache, AProductionCutShortIsNoMissingFileAndLoadsLater) {
  TTempFolder t;
  t.WriteFile("pic.bmp", TinyBmp());
  RegisterLoadersOnce();
  auto acc = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  Ref<TImage> made = LoadImageHandle(acc.get(), t.Wide("pic.bmp"));
  auto other = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  Ref<TCallbackHandle> cb =
      other->Source()->AddCallback(TOpenImageCallback::Bind<&CutShortUntilReady>(), made.get());
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  kav::test::TLogCapture log;
  g_ready = false;
  Ref<TImage> first = LoadImageHandle(other.get(), u"Shadow: x");
  EXPECT_EQ(first->Width(), 1);
  EXPECT_EQ(first->Height(), 1);
  EXPECT_FALSE(TakeProductionCutShort());  // taken by the cache
  g_ready = true;
  Ref<TImage> second = LoadImageHandle(other.get(), u"Shadow: x");
  EXPECT_EQ(second->Store(), made->Store());
  // A name the producer does not know still falls to the file and is said.
  g_ready = false;
  Ref<TImage> missing = LoadImageHandle(other.get(), u"gone.bmp");
  SetShowProblemSink(nullptr);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(ShowProblemText(said[0]), u"gone.bmp: no such file");
  EXPECT_FALSE(log.OneLineWith(u"Shadow: x"));
  cb = nullptr;
}

// Pictures of a package that inflate past what it holds in memory: one of
// 42 MB (a BMP of 3,200 x 3,300) loads from the streamed entry; a file
// larger than any picture (1 GB: a BMP header and zeros) is the "Image load
// error" placeholder with the reason, after no more of it was inflated
// than that: its size stays unknown.
TEST(ImageCache, APackedPictureLargerThanAnyPictureIsRefusedWithoutReadingIt) {
  RegisterLoadersOnce();
  TTempFolder t;
  auto bmp_head = [](uint32_t w, uint32_t h) {
    std::string s = "BM";
    const uint32_t pixels = w * h * 4;
    Put32(s, 54 + pixels), Put32(s, 0), Put32(s, 54);
    Put32(s, 40), Put32(s, w), Put32(s, h), Put16(s, 1), Put16(s, 32), Put32(s, 0), Put32(s, pixels);
    Put32(s, 2835), Put32(s, 2835), Put32(s, 0), Put32(s, 0);
    return std::vector<uint8_t>(s.begin(), s.end());
  };
  std::vector<packer::Entry> entries(2);
  entries[0].name = "big.bmp";
  entries[0].data = packer::RawDeflateZeros(bmp_head(3200, 3300), 54 + int64_t(3200) * 3300 * 4);
  entries[1].name = "huge.bmp";
  entries[1].data = packer::RawDeflateZeros(bmp_head(8000, 8000), int64_t(1) << 30);
  for (auto& e : entries) e.method = packer::kDeflated, e.predeflated = true;
  ASSERT_TRUE(packer::WriteFileBytes(t.Sys("show.kvshow"), packer::Pack(entries, {})));
  auto unpack = MakeRef<TKavUnpack>(t.Wide("show.kvshow"));
  ASSERT_TRUE(unpack->IsOpen());
  auto source = MakeRef<TPackedFileSource>(unpack.get(), true);
  auto acc = MakeRef<TFileAccessor>(source.get());
  Ref<TImage> big = LoadImageHandle(acc.get(), u"big.bmp");
  EXPECT_EQ(big->Width(), 3200);
  EXPECT_EQ(big->Height(), 3300);
  SetNotFoundRenderer(&RecordingRenderer);
  kav::test::TLogCapture log;
  Ref<TImage> huge = LoadImageHandle(acc.get(), u"huge.bmp");
  EXPECT_EQ(g_lines, (std::vector<std::u16string>{u" Image load error: ", u" huge.bmp "}));
  EXPECT_TRUE(log.OneLineWith(u"\"huge.bmp\" is shown as a placeholder: larger than 513 MiB, more than any picture "
                              u"the player shows"));
  SetNotFoundRenderer(nullptr);
  EXPECT_EQ(acc->OpenFile(u"huge.bmp")->GetKnownSize(), -1);
  EXPECT_EQ(acc->OpenFile(u"big.bmp")->GetKnownSize(), 54 + int64_t(3200) * 3300 * 4);
}
