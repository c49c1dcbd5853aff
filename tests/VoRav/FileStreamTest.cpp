#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>

#include "ProbeStream.h"
#include "TempFolder.h"
#include "VoRav/wpFileStream.h"
#include "VoRav/wpResources.h"

using namespace kav;
using kav::test::TProbeStream;
using kav::test::TTempFolder;

namespace {

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + i / 251);
  return v;
}

const uint8_t kLogo[] = {'P', 'N', 'G', 1, 2, 3};
const TResourceRegistrar kLogoResource(u"Logo", kResourceRawData, kLogo);
const TResourceRegistrar kEmptyResource(u"EMPTY", kResourceRawData, {});

}  // namespace

TEST(FileStream, ReadWriteSeekSizeAndErrors) {
  TTempFolder t;
  Ref<TFileStream> s = OpenFileStreamRW(t.Wide("f.bin"), true);
  ASSERT_TRUE(s);
  s->WriteInteger(0x04030201);
  s->WriteBytes(Pattern(5000));
  EXPECT_EQ(s->GetSize(), 5004);
  EXPECT_EQ(s->SetPosition(0), 0);
  EXPECT_EQ(s->ReadDWordBE(), 0x01020304u);
  s->SetSize(10);
  EXPECT_EQ(s->GetPosition(), 4);  // setting the size leaves the position alone
  s->SetPosition(8);
  EXPECT_THROW(s->ReadInteger(), EStreamReadError);
  EXPECT_THROW(s->SetPosition(-1), EStreamSeekError);
  s->Clear();
  EXPECT_EQ(s->GetSize(), 0);
  EXPECT_EQ(s->GetPosition(), 0);
  s->Close();
  EXPECT_EQ(s->Handle(), kInvalidHandle);

  // A read-only stream refuses writes as stream errors carrying the system's text.
  t.WriteFile("r.bin", "abc");
  Ref<TFileStream> r = OpenFileStreamRead(t.Wide("r.bin"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->FileName(), t.Wide("r.bin"));
  try {
    r->WriteByte(1);
    FAIL();
  } catch (const EStreamWriteError& e) {
    EXPECT_EQ(e.Message(), OSErrorMessage(EBADF));
  }
  // Reopening keeps the new file.
  r->Open(t.Wide("f.bin"), kGenericRead, kFileShareRead, kOpenExisting);
  EXPECT_EQ(r->GetSize(), 0);

  EXPECT_FALSE(OpenFileStreamRead(t.Wide("missing")));
  EXPECT_FALSE(OpenFileStreamRW(t.Wide("no/such/folder/x"), true));
  EXPECT_THROW(TFileStream(t.Wide("missing"), kGenericRead, 0, kOpenExisting), EFileOpenError);
}

TEST(FileStream, CopyFromCopiesWholeSourcesAndRaisesOnShortWrites) {
  TTempFolder t;
  const std::vector<uint8_t> data = Pattern(0x100001 + 12345);  // more than the unknown-size count of old
  {
    TProbeStream src(data);
    src.size_known = false;
    Ref<TFileStream> f = OpenFileStreamRW(t.Wide("u.bin"), true);
    EXPECT_EQ(f->CopyFrom(&src, 10), static_cast<int64_t>(data.size()));  // unknown size: to the end
    EXPECT_EQ(f->GetSize(), static_cast<int64_t>(data.size()));
  }
  {
    TProbeStream src(data);
    src.SetPosition(100);
    Ref<TFileStream> f = OpenFileStreamRW(t.Wide("k.bin"), true);
    EXPECT_EQ(f->CopyFrom(&src, 1 << 30), static_cast<int64_t>(data.size()) - 100);  // cut to what remains
    f->SetPosition(0);
    EXPECT_EQ(f->ReadByte(), data[100]);
    EXPECT_EQ(TFileStream().CopyFrom(&src, 10), 0);  // closed
  }
  // A file size limit makes the system take only part of a write.
  struct rlimit old;
  getrlimit(RLIMIT_FSIZE, &old);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 1000;
  setrlimit(RLIMIT_FSIZE, &small);
  {
    TProbeStream src(Pattern(5000));
    Ref<TFileStream> f = OpenFileStreamRW(t.Wide("short.bin"), true);
    EXPECT_THROW(f->CopyFrom(&src, 5000), EStreamWriteError);
    f->SetPosition(0);
    EXPECT_THROW(f->WriteBytes(Pattern(2000)), EStreamWriteError);
  }
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, previous);

  TProbeStream src(Pattern(3000));
  EXPECT_TRUE(StreamSaveToFile(&src, t.Wide("saved.bin")));
  EXPECT_EQ(t.ReadFile("saved.bin").size(), 3000u);
  EXPECT_FALSE(StreamSaveToFile(&src, t.Wide("no/folder/saved.bin")));
}

TEST(FileStream, ResourcesAndTheOpenHooks) {
  TTempFolder t;
  Ref<TStream> s = ReadFile(u"RES:LOGO.PNG");  // through the stream module's hook
  ASSERT_TRUE(s);
  EXPECT_EQ(s->GetSize(), 6);
  EXPECT_EQ(s->ReadDWordBE(), 0x504E4701u);
  EXPECT_TRUE(OpenFileOrResource(u"res:logo"));
  EXPECT_FALSE(OpenFileOrResource(u"RES:Other.png"));
  EXPECT_FALSE(OpenFileOrResource(u"RES:EMPTY"));
  EXPECT_FALSE(OpenResourceStream(u"LOGO", 3));  // another type

  t.WriteFile("Show/Pic.jpg", "jpeg");
  Ref<TStream> f = ReadFile(t.Wide() + u"\\show\\PIC.JPG");
  ASSERT_TRUE(f);
  EXPECT_EQ(f->GetSize(), 4);
  Ref<TStream> w = WriteFile(t.Wide("new.txt"), true);
  ASSERT_TRUE(w);
  w->WriteByte('z');
  w = nullptr;
  EXPECT_EQ(t.ReadFile("new.txt"), "z");
}
