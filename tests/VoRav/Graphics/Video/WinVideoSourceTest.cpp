#include "VoRav/Graphics/Video/FFMpegVideoSource.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxMemoryStream.h"
#include "tests/VoRav/Graphics/Video/MemYUVImage.h"
#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

using testclips::TClipDesc;
using testing::TMemYUVImage;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

struct TClipCase {
  const char* Label;
  TClipDesc ClipDesc;
  const char* Codec;  // the source's codec name
};

TClipDesc With(TClipDesc s, auto&& edit) {
  edit(s);
  return s;
}

std::vector<TClipCase> Cases() {
  using testclips::ClipDesc;
  return {
      {"H264_MP4_25_audio", With(ClipDesc("c1.mp4"), [](TClipDesc& s) { s.Audio = true; }), "H264"},
      {"H264_MKV_24_gop12",
       With(ClipDesc("c2.mkv", {"-c:v", "libx264", "-preset", "ultrafast", "-g", "12", "-bf", "2", "-pix_fmt", "yuv420p"}),
            [](TClipDesc& s) { s.Rate = "24"; }),
       "H264"},
      {"MPEG4_AVI_2997", With(ClipDesc("c3.avi", {"-c:v", "mpeg4", "-q:v", "2", "-g", "15"}),
                             [](TClipDesc& s) { s.Rate = "30000/1001"; }),
       "MPEG4"},
      {"VP9_WEBM_60",
       With(ClipDesc("c4.webm", {"-c:v", "libvpx-vp9", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "300k", "-g", "20"}),
            [](TClipDesc& s) { s.Rate = "60"; s.Seconds = 1.0; }),
       "OTHER"},
      {"VP8_MKV_25", ClipDesc("c5.mkv", {"-c:v", "libvpx", "-b:v", "300k", "-g", "10"}), "OTHER"},
      {"MJPEG_AVI_25", ClipDesc("c6.avi", {"-c:v", "mjpeg", "-q:v", "3"}), "OTHER"},
      {"MPEG2_TS_interlaced_audio",
       With(ClipDesc("c7.ts", {"-c:v", "mpeg2video", "-q:v", "3", "-g", "12"}), [](TClipDesc& s) {
         s.Interlaced = true;
         s.Audio = true;
         s.Width = 64;
         s.Height = 64;
       }),
       "MPEG2"},
      {"H264_odd_1919x1079",
       With(ClipDesc("c8.mkv", {"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv444p", "-g", "4"}),
            [](TClipDesc& s) {
              // testsrc2 makes even sizes only: scaled to the odd one.
              s.Width = 1919;
              s.Height = 1079;
              s.Seconds = 0.4;
              s.Extra = {"-vf", "scale=1919:1079"};
            }),
       "H264"},
  };
}

void PrintTo(const TClipCase& c, std::ostream* os) { *os << c.Label; }

class WinVideoSourceClips : public ::testing::TestWithParam<TClipCase> {};

// Frame n of the source must be ffmpeg's frame n, in any order of requests.
TEST_P(WinVideoSourceClips, DeliversTheAskedFrameForwardBackwardAndPastTheEnd) {
  const TClipCase& c = GetParam();
  std::string clip = testclips::MakeClip(c.ClipDesc);
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not make " << c.ClipDesc.Name;
  auto ref = testclips::DecodeReference(clip, c.ClipDesc.Width, c.ClipDesc.Height);
  ASSERT_GT(ref.Frames(), 8);
  const int last = ref.Frames() - 1;

  auto source = MakeRef<TWinVideoSource>(nullptr, false, U16(clip));
  ASSERT_TRUE(source->Opened());
  const TClipInfo& info = source->Info();
  EXPECT_EQ(info.Width, c.ClipDesc.Width);
  EXPECT_EQ(info.Height, c.ClipDesc.Height);
  EXPECT_EQ(info.CodecName, U16(c.Codec));
  EXPECT_EQ(info.FrameCount, ref.Frames());
  EXPECT_EQ(info.Interlaced != 0, c.ClipDesc.Interlaced);
  if (c.ClipDesc.Interlaced) {
    EXPECT_EQ(info.TopFieldFirst, 1);
  }

  TMemYUVImage image(info.Width, info.Height);
  const int asks[] = {0, 1, 2, 5, 4, 6, 8, last / 2 + 3, 3, last, last + 7, last - 1, 0, -1, 7};
  for (int n : asks) {
    ASSERT_TRUE(source->GetFrame(n, &image)) << "frame " << n;
    const int want = std::clamp(n, 0, last);
    // Neighbouring pictures of a small test pattern can be equal: the
    // picture must equal frame `want`, whichever frame matches first.
    const double diff = testclips::LumaDifference(image.Plane(kYuvPlaneY), image.Pitch(kYuvPlaneY),
                                                  ref.Frame(want), ref.Width, ref.Height);
    EXPECT_LT(diff, 0.5) << c.Label << " asked " << n << ", closest is frame "
                         << testclips::BestMatch(ref, image.Plane(0), image.Pitch(0));
  }
  // Chroma follows the luma (the last frame asked was 7).
  const uint8_t* ref_u = ref.Frame(7) + size_t(ref.Width) * ref.Height;
  const int cw = (ref.Width + 1) / 2;
  double sum = 0;
  for (int y = 0; y < ref.Height / 2; ++y)
    for (int x = 0; x < ref.Width / 2; ++x)
      sum += std::abs(int(image.Plane(kYuvPlaneU)[y * image.Pitch(kYuvPlaneU) + x]) -
                      int(ref_u[y * cw + x]));
  EXPECT_LT(sum / ((ref.Width / 2) * (ref.Height / 2)), 1.0);
}

INSTANTIATE_TEST_SUITE_P(Formats, WinVideoSourceClips, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.Label); });

// Clips whose time stamps the pictures' numbers cannot simply follow: AVI
// keeps no presentation times (pictures after B-frames come out with a
// later packet's decode time), a TS clip's sound starts before its
// pictures, and a clip may start seconds after time 0.
struct TTimingCase {
  const char* Label;
  TClipDesc ClipDesc;
  int Frames;  // the pictures ffmpeg decodes
  // ASF states a duration up to its last packet's time, which lies the
  // decoder's delay after the last picture's: one frame more is counted.
  int CountSlack = 0;
};

std::vector<TTimingCase> TimingCases() {
  using testclips::ClipDesc;
  auto sized = [](TClipDesc s, const char* rate, double seconds) {
    s.Width = 160;
    s.Height = 120;
    s.Rate = rate;
    s.Seconds = seconds;
    return s;
  };
  const std::vector<std::string> x264{"-c:v", "libx264", "-preset", "ultrafast", "-pix_fmt", "yuv420p"};
  auto plus = [](std::vector<std::string> a, std::vector<std::string> b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const std::vector<std::string> mpeg4{"-c:v", "mpeg4", "-q:v", "3", "-g", "30", "-bf", "2"};
  return {
      {"MPEG4_AVI_bframes", sized(ClipDesc("t1.avi", mpeg4), "25", 4), 100},
      {"MPEG4_AVI_bframes_12_5", sized(ClipDesc("t2.avi", mpeg4), "12.5", 4), 50},
      {"H264_AVI_bframes",
       sized(ClipDesc("t3.avi", {"-c:v", "libx264", "-bf", "3", "-g", "30", "-pix_fmt", "yuv420p"}), "25", 4), 100},
      {"H264_AVI_bframes_one_key",
       sized(ClipDesc("t4.avi", {"-c:v", "libx264", "-bf", "3", "-pix_fmt", "yuv420p"}), "25", 2), 50},
      {"H264_TS_audio_first", With(sized(ClipDesc("t5.ts", plus(x264, {"-g", "25"})), "25", 4),
                                   [](TClipDesc& s) { s.Audio = true; }),
       100},
      {"H264_MP4_starts_at_3s",
       With(sized(ClipDesc("t6.mp4", plus(x264, {"-g", "20", "-bf", "2"})), "25", 3),
            [](TClipDesc& s) { s.Extra = {"-output_ts_offset", "3"}; }),
       75},
      {"H264_MKV_starts_at_3s",
       With(sized(ClipDesc("t7.mkv", plus(x264, {"-g", "20"})), "25", 3),
            [](TClipDesc& s) { s.Extra = {"-output_ts_offset", "3"}; }),
       75},
      // Neighbours: H.264 in FLV (whose second rate the classification
      // divides by H.264's two ticks a frame), MPEG-PS, and ASF, which gives
      // B-frame pictures decode times as AVI does.
      {"H264_FLV_bframes", sized(ClipDesc("t8.flv", plus(x264, {"-g", "25", "-bf", "3"})), "25", 4), 100},
      {"MPEG4_ASF_bframes", sized(ClipDesc("t9.asf", mpeg4), "25", 4), 100, 1},
      {"MPEG2_PS_bframes",
       sized(ClipDesc("t10.mpg", {"-c:v", "mpeg2video", "-q:v", "3", "-g", "15", "-bf", "2"}), "25", 4), 100},
  };
}

void PrintTo(const TTimingCase& c, std::ostream* os) { *os << c.Label; }

class WinVideoSourceTiming : public ::testing::TestWithParam<TTimingCase> {};

// Frame n is ffmpeg's picture n for every n, the last ones included,
// stepping forward, stepping back (a seek each time) and jumping about.
TEST_P(WinVideoSourceTiming, EveryFrameIsFfmpegsPictureOfThatNumber) {
  const TTimingCase& c = GetParam();
  std::string clip = testclips::MakeClip(c.ClipDesc);
  ASSERT_FALSE(clip.empty()) << "ffmpeg could not make " << c.ClipDesc.Name;
  auto ref = testclips::DecodeReference(clip, c.ClipDesc.Width, c.ClipDesc.Height);
  ASSERT_EQ(ref.Frames(), c.Frames);
  const int last = ref.Frames() - 1;

  auto source = MakeRef<TWinVideoSource>(nullptr, false, U16(clip));
  ASSERT_TRUE(source->Opened());
  const TClipInfo& info = source->Info();
  EXPECT_NEAR(info.FrameCount, ref.Frames(), c.CountSlack);
  const double ms_per_frame = 1000.0 / info.FramesPerSecond;
  EXPECT_NEAR(info.DurationMs, ref.Frames() * ms_per_frame, ms_per_frame * (c.CountSlack + 0.5));

  TMemYUVImage image(info.Width, info.Height);
  int wrong = 0;
  auto check = [&](int n, const char* how) {
    ASSERT_TRUE(source->GetFrame(n, &image)) << how << " frame " << n;
    const int want = std::clamp(n, 0, last);
    const double diff = testclips::LumaDifference(image.Plane(kYuvPlaneY), image.Pitch(kYuvPlaneY),
                                                  ref.Frame(want), ref.Width, ref.Height);
    if (diff >= 0.5 && ++wrong <= 10) {
      ADD_FAILURE() << c.Label << " " << how << ": asked " << n << ", closest is frame "
                    << testclips::BestMatch(ref, image.Plane(0), image.Pitch(0));
    }
  };
  for (int n = 0; n <= last + 2; ++n) check(n, "forward");
  for (int n = last; n >= 0; n -= 3) check(n, "backward");
  uint32_t seed = 7;
  for (int i = 0; i < 40; ++i) {
    seed = seed * 1664525u + 1013904223u;
    check(int(seed >> 8) % (last + 1), "jump");
  }
  for (int n : {last, last - 1, 0, last - 2, last}) check(n, "ends");
  EXPECT_EQ(wrong, 0) << c.Label;
}

INSTANTIATE_TEST_SUITE_P(Clips, WinVideoSourceTiming, ::testing::ValuesIn(TimingCases()),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST(WinVideoSource, SameFrameTwiceAndSteppingForwardDecodeEachPictureOnce) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("step.mp4"));
  ASSERT_FALSE(clip.empty());
  auto source = MakeRef<TWinVideoSource>(nullptr, false, U16(clip));
  ASSERT_TRUE(source->Opened());
  TMemYUVImage image(64, 48);
  ASSERT_TRUE(source->GetFrame(10, &image));
  const int64_t after_seek = source->DecodedCount();
  ASSERT_TRUE(source->GetFrame(10, &image));
  EXPECT_EQ(source->DecodedCount(), after_seek);
  for (int n = 11; n < 20; ++n) ASSERT_TRUE(source->GetFrame(n, &image));
  EXPECT_EQ(source->DecodedCount(), after_seek + 9);
  EXPECT_EQ(source->LastFrame(), 19);
  EXPECT_EQ(image.Commits(), 11);
}

TEST(WinVideoSource, StreamInputPackedAndRgbOutputs) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("stream.mp4"));
  ASSERT_FALSE(clip.empty());
  auto ref = testclips::DecodeReference(clip, 64, 48);
  auto stream = MakeRef<TMemoryStream>();
  std::ifstream f(clip, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  stream->Write(bytes, int64_t(bytes.size()));
  auto source = MakeRef<TWinVideoSource>(stream.release(), true, u"clip.mp4");
  ASSERT_TRUE(source->Opened());

  // Packed: grey 5-6-5 from the luma.
  TMemYUVImage packed(64, 48, false, true);
  ASSERT_TRUE(source->GetFrame(12, &packed));
  uint16_t px;
  memcpy(&px, packed.Plane(kYuvPlanePacked) + 2 * 10, 2);
  const uint8_t y = ref.Frame(12)[10];
  EXPECT_EQ(px >> 11, y >> 3);
  EXPECT_EQ((px >> 5) & 63, y >> 2);

  // 24-bit: blue, green, red.
  auto bmp = MakeRef<TDirectBitmap>(64, 48, StdFormats().R8G8B8);
  ASSERT_TRUE(source->GetFrame24(12, bmp.get()));
  int sum = 0;
  for (int x = 0; x < 64 * 3; ++x) sum += bmp->Row(24)[x];
  EXPECT_GT(sum, 0);
  auto wrong = MakeRef<TDirectBitmap>(64, 48, StdFormats().A8R8G8B8);
  EXPECT_FALSE(source->GetFrame24(12, wrong.get()));
}

TEST(WinVideoSource, MissingPlanesAreLoggedAndLeaveThePreviousFrame) {
  std::string clip = testclips::MakeClip(testclips::ClipDesc("planes.mp4"));
  ASSERT_FALSE(clip.empty());
  auto source = MakeRef<TWinVideoSource>(nullptr, false, U16(clip));
  ASSERT_TRUE(source->Opened());
  // An RGBA image for a clip that comes as YUV planes: nothing to put there.
  TMemYUVImage image(64, 48, true, false);
  std::vector<uint8_t> before(image.Plane(kYuvPlaneRgba),
                              image.Plane(kYuvPlaneRgba) + image.Pitch(kYuvPlaneRgba) * 48);
  EXPECT_FALSE(source->GetFrame(3, &image));
  EXPECT_EQ(image.Commits(), 0);
  EXPECT_EQ(image.MonitorEntries(), 0);  // the monitor was left
  EXPECT_TRUE(std::equal(before.begin(), before.end(), image.Plane(kYuvPlaneRgba)));
}

TEST(WinVideoSource, TruncatedAndCorruptClipsEndCleanly) {
  std::string clip = testclips::MakeClip(
      testclips::ClipDesc("broken.mkv", {"-c:v", "libx264", "-preset", "ultrafast", "-g", "5", "-pix_fmt", "yuv420p"}));
  ASSERT_FALSE(clip.empty());
  auto folder = testclips::ClipFolder();
  const auto size = std::filesystem::file_size(clip);
  std::filesystem::copy_file(clip, folder / "cut.mkv", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(folder / "cut.mkv", size * 2 / 3);
  std::filesystem::copy_file(clip, folder / "noise.mkv", std::filesystem::copy_options::overwrite_existing);
  {
    std::fstream f(folder / "noise.mkv", std::ios::in | std::ios::out | std::ios::binary);
    uint32_t seed = 12345;
    for (auto pos = size / 3; pos < size; pos += 97) {
      f.seekp(std::streamoff(pos));
      seed = seed * 1664525u + 1013904223u;
      char junk[8];
      memcpy(junk, &seed, 4);
      memcpy(junk + 4, &seed, 4);
      f.write(junk, 8);
    }
  }
  for (const char* name : {"cut.mkv", "noise.mkv"}) {
    auto source = MakeRef<TWinVideoSource>(nullptr, false, U16((folder / name).string()));
    ASSERT_TRUE(source->Opened()) << name;
    TMemYUVImage image(64, 48);
    int delivered = 0;
    for (int n : {0, 10, 49, 200, 5, 30, 29, 31}) delivered += source->GetFrame(n, &image);
    EXPECT_GE(delivered, 1) << name;
    EXPECT_EQ(image.MonitorEntries(), 0);
  }
  // The truncated clip's frames past its end are its last whole frame.
  auto source = MakeRef<TWinVideoSource>(nullptr, false, U16((folder / "cut.mkv").string()));
  TMemYUVImage a(64, 48), b(64, 48);
  ASSERT_TRUE(source->GetFrame(45, &a));
  ASSERT_TRUE(source->GetFrame(49, &b));
  EXPECT_EQ(0, memcmp(a.Plane(0), b.Plane(0), size_t(a.Pitch(0)) * 48));
  EXPECT_LT(source->LastFrame(), 45);
}

TEST(WinVideoSource, FilesWithoutVideoDoNotOpen) {
  auto folder = testclips::ClipFolder();
  ASSERT_TRUE(testclips::Run({testclips::kFfmpeg, "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                              "sine=duration=0.5", (folder / "tone.wav").string()}));
  EXPECT_FALSE(MakeRef<TWinVideoSource>(nullptr, false, U16((folder / "tone.wav").string()))->Opened());
  EXPECT_FALSE(MakeRef<TWinVideoSource>(nullptr, false, u"/nonexistent.mp4")->Opened());
}

}  // namespace
}  // namespace kav
