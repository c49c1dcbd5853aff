#include "KavLib2/KavVideo/KavExtractorWrapper.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/vxShowProblems.h"
#include "tests/VoRav/Graphics/Video/MemYUVImage.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

using testing::TMemYUVImage;

Ref<TYUVImage> MemFrame(int32_t w, int32_t h, bool rgba) { return MakeRef<TMemYUVImage>(w, h, rgba); }

TEST(ExtractorWrapper, SharedPerFileOpenedPrimedAndFramesHandedOut) {
  RegisterVideoSources();
  std::string clip = testclips::MakeClip(testclips::ClipDesc("holder.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  auto list = MakeRef<TExtractorList>(accessor.get());
  const std::u16string name(clip.begin(), clip.end());
  Ref<TExtractorWrapper> a = list->GetExtractor(name);
  Ref<TExtractorWrapper> b = list->GetExtractor(name);
  EXPECT_EQ(a.get(), b.get());
  EXPECT_EQ(list->Count(), 1);
  ASSERT_EQ(a->State(), TExtractorWrapper::kOpened);
  EXPECT_DOUBLE_EQ(a->DurationMs(), 2000);
  double from, to;
  a->FrameTimeRange(25, from, to);
  EXPECT_DOUBLE_EQ(from, 980);
  EXPECT_DOUBLE_EQ(to, 1020);

  // No frame before priming.
  EXPECT_FALSE(a->GetFrame(60, 1000).Frame);
  a->Prime(MemFrame);
  a->Prime(MemFrame);  // once only
  a->Start(false, 1000);
  a->Extractor()->Seek(true, 1000);
  bool exact = false;
  TFrameSlot s1 = a->GetFrame(60, 1000, &exact);
  ASSERT_TRUE(s1.Frame);
  EXPECT_TRUE(exact);
  auto* img = static_cast<TMemYUVImage*>(s1.Frame.get());
  EXPECT_LT(testclips::LumaDifference(img->Plane(0), img->Pitch(0), ref.Frame(25), 64, 48), 0.5);
  // A second object drawing the same clip shares the held frame.
  TFrameSlot s2 = b->GetFrame(60, 1000);
  EXPECT_EQ(s1.Frame.get(), s2.Frame.get());
  EXPECT_EQ(a->UseCount(), 2);
  a->Release();
  a->Release();
  a->Release();  // one too many: ignored
  EXPECT_EQ(a->UseCount(), 0);
  b = nullptr;
  a = nullptr;
  EXPECT_EQ(list->Count(), 0);
}

TEST(ExtractorWrapper, MissingAndUnreadableClipsLeaveNoExtractor) {
  RegisterVideoSources();
  auto accessor = MakeRef<TFileAccessor>(MakeRef<TRealFileSource>().get());
  auto list = MakeRef<TExtractorList>(accessor.get());
  // A missing clip is said to the show's author, as a missing picture is.
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  Ref<TExtractorWrapper> missing = list->GetExtractor(u"/no/such/clip.mp4");
  SetShowProblemSink(nullptr);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(ShowProblemText(said[0]), u"/no/such/clip.mp4: no such file");
  EXPECT_TRUE(said[0].Error);
  EXPECT_EQ(missing->State(), TExtractorWrapper::kNotOpened);
  EXPECT_FALSE(missing->GetFrame(60, 0).Frame);
  missing->Release();
  EXPECT_EQ(missing->DurationMs(), 0);
  auto junk = testclips::ClipFolder() / "junk.mp4";
  std::ofstream(junk) << "not a clip at all";
  Ref<TExtractorWrapper> bad = list->GetExtractor(std::u16string(junk.u16string()));
  EXPECT_EQ(bad->State(), TExtractorWrapper::kNoSource);
  // A name with an index keeps both parts; a drive colon is no index.
  auto indexed = MakeRef<TExtractorWrapper>(nullptr, accessor.get(), u"clip.mp4:12");
  EXPECT_EQ(indexed->BaseName(), u"clip.mp4");
  EXPECT_EQ(indexed->NameIndex(), 12);
  auto drive = MakeRef<TExtractorWrapper>(nullptr, accessor.get(), u"C:\\clips\\a.mp4");
  EXPECT_EQ(drive->BaseName(), u"C:\\clips\\a.mp4");
  EXPECT_EQ(drive->NameIndex(), -1);
}

}  // namespace
}  // namespace kav
