#include "platform/media/FFMpegDll.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>

#include "tests/platform/media/MediaTestClips.h"

namespace kav {
namespace {

using testclips::MakeClip;
using testclips::TClipDesc;

std::u16string U16(const std::string& s) { return std::u16string(s.begin(), s.end()); }

class MediaLib : public ::testing::Test {
 protected:
  void SetUp() override { dll_ = AcquireFFMpegDll(u""); }
  void TearDown() override { ReleaseFFMpegDll(dll_); }
  TFFMpegDll* dll_ = nullptr;
};

TEST(MediaLibBinding, SharedBindingIsCountedAndEveryEntryPointResolves) {
  EXPECT_EQ(FFMpegDllUsers(), 0);
  TFFMpegDll* a = AcquireFFMpegDll(u"");
  // A path (which could come from a show) never makes another binding.
  TFFMpegDll* b = AcquireFFMpegDll(u"..\\Common\\FFmpeg.dll");
  EXPECT_EQ(a, b);
  EXPECT_EQ(FFMpegDllUsers(), 2);
  ReleaseFFMpegDll(b);
  EXPECT_EQ(b, nullptr);
  EXPECT_EQ(FFMpegDllUsers(), 1);
  ReleaseFFMpegDll(a);
  EXPECT_EQ(FFMpegDllUsers(), 0);
  EXPECT_EQ(media::MediaLibSymbol("NoSuchEntry"), nullptr);
  EXPECT_EQ(media::MediaLibSymbol(nullptr), nullptr);
}

TEST(MediaLibBinding, ContainerKindsByFormatName) {
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("avi"), kContainerAvi);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("matroska,webm"), kContainerMatroska);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("mov,mp4,m4a,3gp,3g2,mj2"), kContainerMov);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("mpegvideo"), kContainerMpeg);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("mpegts"), kContainerMpegTs);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("asf"), kContainerAsf);
  EXPECT_EQ(TFFMpegDll::ContainerKindOf("gif"), kContainerOther);
}

TEST_F(MediaLib, OpensClassifiesAndDecodesEveryFrameInOrder) {
  std::string clip = MakeClip(testclips::ClipDesc("plain.mp4"));
  ASSERT_FALSE(clip.empty());
  TMediaRecord* m = dll_->OpenMedia(U16(clip));
  ASSERT_NE(m, nullptr);
  auto* ex = static_cast<TVideoDataEx*>(m->VideoDataEx);
  ASSERT_NE(ex, nullptr);
  EXPECT_EQ(ex->ContainerKind, kContainerMov);
  EXPECT_EQ(m->CodecId, media::kCodecH264);
  EXPECT_EQ(m->Width, 64);
  EXPECT_EQ(m->Height, 48);
  EXPECT_EQ(m->FrameRateNum / std::max(1, m->FrameRateDen), 25);
  EXPECT_EQ(ex->FrameCount, 50);
  EXPECT_EQ(m->AudioStream, 0);
  EXPECT_EQ(dll_->FirstFrameFlag(m), 0);

  auto ref = testclips::DecodeReference(clip, 64, 48);
  ASSERT_EQ(ref.Frames(), 50);
  ASSERT_EQ(dll_->Seek(m, 0), 0);
  dll_->FlushVideo(m);
  TMediaBuffer* buf = dll_->AllocBuffer(m, media::kPixYUV420P);
  ASSERT_NE(buf, nullptr);
  int n = 0;
  TMediaFrameInfo info;
  while (dll_->DecodeVideoFrame(m, buf, &info) == 1) {
    ASSERT_TRUE(info.Complete);
    double fps = double(m->FrameRateNum) / m->FrameRateDen;
    EXPECT_EQ(std::lround(TFFMpegDll::PtsToMs(m, info.Pts) * fps / 1000.0), n);
    ASSERT_LT(n, ref.Frames());
    EXPECT_EQ(testclips::LumaDifference(info.Planes[0], info.Strides[0], ref.Frame(n), 64, 48), 0.0) << n;
    ++n;
  }
  EXPECT_EQ(n, 50);
  // At the end the decoder keeps answering "end", not an error.
  EXPECT_EQ(dll_->DecodeVideoFrame(m, buf, &info), 0);
  dll_->FreeBuffer(buf);
  dll_->CloseMedia(m);
}

// AVI keeps decode times only: pictures after B-frames come out with the
// time of the packet that completed them. Numbered from the first picture,
// picture n has time n / rate, the drained last ones included.
TEST_F(MediaLib, AviPicturesWithBFramesHaveTheirOwnTimes) {
  for (auto codec : {std::vector<std::string>{"-c:v", "mpeg4", "-q:v", "3", "-g", "12", "-bf", "2"},
                     std::vector<std::string>{"-c:v", "libx264", "-bf", "3", "-g", "12", "-pix_fmt", "yuv420p"}}) {
    const std::string clip = MakeClip(testclips::ClipDesc("order_" + codec[1] + ".avi", codec));
    ASSERT_FALSE(clip.empty()) << codec[1];
    auto ref = testclips::DecodeReference(clip, 64, 48);
    ASSERT_EQ(ref.Frames(), 50) << codec[1];
    TMediaRecord* m = dll_->OpenMedia(U16(clip));
    ASSERT_NE(m, nullptr) << codec[1];
    TMediaBuffer* buf = dll_->AllocBuffer(m, media::kPixYUV420P);
    TMediaFrameInfo info;
    int n = 0;
    while (dll_->DecodeVideoFrame(m, buf, &info) == 1 && n < ref.Frames()) {
      if (info.Pts != kNoPts) {  // the drained last pictures have none
        EXPECT_EQ(std::lround(TFFMpegDll::PtsToMs(m, info.Pts) / 40.0), n) << codec[1];
      }
      EXPECT_EQ(testclips::LumaDifference(info.Planes[0], info.Strides[0], ref.Frame(n), 64, 48), 0.0) << codec[1] << n;
      ++n;
    }
    EXPECT_EQ(n, 50) << codec[1];
    dll_->FreeBuffer(buf);
    dll_->CloseMedia(m);
  }
}

// Rates, durations and counts of clips whose containers tell them in
// their own ways: H.264 counts two ticks a frame, a TS clip's sound starts
// before its pictures, a clip may start 3 s after time 0.
TEST_F(MediaLib, RatesDurationsAndCountsAreThePicturesOwn) {
  struct TCase {
    TClipDesc Desc;
    double Fps;
    int64_t Frames;
    int64_t FileMs;
  };
  auto desc = [](const char* name, std::vector<std::string> extra, bool audio) {
    TClipDesc s = testclips::ClipDesc(name);
    s.Seconds = 3;
    s.Audio = audio;
    s.Extra = std::move(extra);
    return s;
  };
  const TCase cases[] = {
      {desc("rate.ts", {}, true), 25, 75, 3000},   // the sound starts a little earlier
      {desc("rate.flv", {}, false), 25, 75, 3000},
      {desc("late.mp4", {"-output_ts_offset", "3"}, false), 25, 75, 3000},
      {desc("late.mkv", {"-output_ts_offset", "3"}, false), 25, 75, 3000},
  };
  for (const TCase& c : cases) {
    const std::string clip = MakeClip(c.Desc);
    ASSERT_FALSE(clip.empty()) << c.Desc.Name;
    TMediaRecord* m = dll_->OpenMedia(U16(clip));
    ASSERT_NE(m, nullptr) << c.Desc.Name;
    auto* ex = static_cast<TVideoDataEx*>(m->VideoDataEx);
    EXPECT_DOUBLE_EQ(double(m->FrameRateNum) / m->FrameRateDen, c.Fps) << c.Desc.Name;
    EXPECT_EQ(ex->FrameCount, c.Frames) << c.Desc.Name;
    EXPECT_NEAR(double(m->VideoDurationUs) / 1000, double(c.Frames) * 1000 / c.Fps, 1) << c.Desc.Name;
    EXPECT_NEAR(double(m->DurationUs) / 1000, double(c.FileMs), 50) << c.Desc.Name;
    dll_->CloseMedia(m);
  }
}

TEST_F(MediaLib, SeekLandsOnAKeyFrameNotAfterTheTargetAndCurrentPtsPeeks) {
  std::string clip = MakeClip(
      testclips::ClipDesc("gop.mkv", {"-c:v", "libx264", "-preset", "ultrafast", "-g", "10", "-pix_fmt", "yuv420p"}));
  ASSERT_FALSE(clip.empty());
  TMediaRecord* m = dll_->OpenMedia(U16(clip));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(static_cast<TVideoDataEx*>(m->VideoDataEx)->ContainerKind, kContainerMatroska);
  ASSERT_EQ(dll_->Seek(m, 1'000'000), 0);  // 1 s = frame 25; key frames every 10
  int64_t peek = dll_->CurrentPtsMs(m, 0);
  EXPECT_NE(peek, kNoPts);
  EXPECT_LE(peek, 1000);
  dll_->FlushVideo(m);
  TMediaBuffer* buf = dll_->AllocBuffer(m, media::kPixYUV420P);
  TMediaFrameInfo info;
  ASSERT_EQ(dll_->DecodeVideoFrame(m, buf, &info), 1);
  double ms = TFFMpegDll::PtsToMs(m, info.Pts);
  EXPECT_LE(ms, 1000.0);
  EXPECT_GE(ms, 800.0 - 1);
  EXPECT_DOUBLE_EQ(ms, double(peek));  // the peeked packet was not lost
  dll_->FreeBuffer(buf);
  dll_->CloseMedia(m);
}

TEST_F(MediaLib, ConvertsToPackedAndRgbFormats) {
  std::string clip = MakeClip(testclips::ClipDesc("conv.avi", {"-c:v", "mjpeg", "-q:v", "3"}));
  ASSERT_FALSE(clip.empty());
  TMediaRecord* m = dll_->OpenMedia(U16(clip));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(static_cast<TVideoDataEx*>(m->VideoDataEx)->ContainerKind, kContainerAvi);
  TMediaBuffer* yuv = dll_->AllocBuffer(m, media::kPixYUV420P);
  TMediaBuffer* rgb = dll_->AllocBufferWithData(m, media::kPixBGR24);
  TMediaBuffer* packed = dll_->AllocBuffer(m, media::kPixYUYV422);
  TMediaFrameInfo info;
  ASSERT_EQ(dll_->DecodeVideoFrame(m, yuv, &info), 1);
  EXPECT_EQ(info.Format, media::kPixYUV420P);  // full-range JPEG pictures arrive as plain 4:2:0
  ASSERT_EQ(dll_->ConvertFrame(m, yuv, rgb), 0);
  ASSERT_EQ(dll_->ConvertFrame(m, yuv, packed), 0);
  TMediaFrameInfo ri, pi;
  media::TGetFrameInfo get = reinterpret_cast<media::TGetFrameInfo>(media::MediaLibSymbol("GetFrameInfo"));
  get(rgb, &ri);
  get(packed, &pi);
  EXPECT_EQ(ri.Width, 64);
  EXPECT_GE(ri.Strides[0], 64 * 3);
  EXPECT_GE(pi.Strides[0], 64 * 2);
  // testsrc2's top-left corner is not black: the conversion wrote pixels.
  EXPECT_GT(int(ri.Planes[0][0]) + ri.Planes[0][1] + ri.Planes[0][2], 0);
  dll_->FreeBuffer(yuv);
  dll_->FreeBuffer(rgb);
  dll_->FreeBuffer(packed);
  dll_->CloseMedia(m);
}

TEST_F(MediaLib, AudioDecodesToSixteenBitStereo) {
  TClipDesc desc = testclips::ClipDesc("av.mkv");
  desc.Audio = true;
  std::string clip = MakeClip(desc);
  ASSERT_FALSE(clip.empty());
  TMediaRecord* m = dll_->OpenMedia(U16(clip));
  ASSERT_NE(m, nullptr);
  ASSERT_GT(m->AudioStream, 0);
  TMediaAudioInfo ai;
  ASSERT_EQ(dll_->GetAudioInfo(m, &ai), 0);
  EXPECT_EQ(ai.SampleRate, 44100);
  EXPECT_EQ(ai.SampleBits, 16);
  TMediaAudioParams params;
  ASSERT_GT(dll_->OpenAudio(m, &params), 0);
  ASSERT_NE(m->AudioBuffer, nullptr);
  int64_t bytes = 0;
  int32_t peak = 0;
  int32_t size = 0;
  while (dll_->NextAudioFrame(m, size) == 1) {
    ASSERT_GT(size, 0);
    ASSERT_LE(size, media::kMaxAudioFrameBytes);
    const auto* s = reinterpret_cast<const int16_t*>(m->AudioBuffer);
    for (int i = 0; i < size / 2; ++i) peak = std::max(peak, std::abs(int32_t(s[i])));
    bytes += size;
  }
  // Two seconds of a sine at 44.1 kHz, one channel (a single channel is kept).
  EXPECT_NEAR(double(bytes), 2.0 * 44100 * 2 * ai.Channels, 44100.0);
  EXPECT_GT(peak, 4000);
  dll_->CloseAudio(m);
  EXPECT_EQ(m->AudioBuffer, nullptr);
  dll_->CloseMedia(m);
}

// A seek back to the start gives the very samples of a fresh decode: the
// encoder's priming packet before time 0 is read again, so the first
// frames decode whole and the priming is dropped as on opening.
TEST_F(MediaLib, AudioSoughtBackToTheStartDecodesAsFromOpening) {
  auto folder = testclips::ClipFolder();
  const std::string m4a = (folder / "sweep.m4a").string();
  ASSERT_TRUE(testclips::Run({testclips::kFfmpeg, "-nostdin", "-y", "-loglevel", "error", "-f", "lavfi", "-i",
                              "aevalsrc=0.5*sin(2*PI*(200+400*t)*t):s=44100:d=3", "-c:a", "aac", "-b:a", "128k", m4a}));
  TClipDesc desc = testclips::ClipDesc("sound.mp4");
  desc.Audio = true;
  const std::string mp4 = MakeClip(desc);
  ASSERT_FALSE(mp4.empty());
  for (const std::string& file : {m4a, mp4}) {
    auto decode = [&](TMediaRecord* m, int blocks) {
      std::vector<uint8_t> out;
      int32_t size = 0;
      for (int i = 0; i != blocks && dll_->NextAudioFrame(m, size) == 1; ++i)
        out.insert(out.end(), m->AudioBuffer, m->AudioBuffer + size);
      return out;
    };
    TMediaAudioParams params;
    TMediaRecord* m = dll_->OpenMedia(U16(file));
    ASSERT_NE(m, nullptr) << file;
    ASSERT_GT(dll_->OpenAudio(m, &params), 0) << file;
    const std::vector<uint8_t> fresh = decode(m, -1);
    ASSERT_GT(fresh.size(), 44100u) << file;
    auto rewind = [&] {
      ASSERT_EQ(dll_->Seek(m, 0), 0) << file;
      dll_->AfterAudioSeek(m);
    };
    // Back to 0 from the end, as a looping sound does, and after a part.
    for (int round = 0; round < 2; ++round) {
      rewind();
      if (round == 1) {
        const std::vector<uint8_t> part = decode(m, 20);
        ASSERT_FALSE(part.empty()) << file;
        EXPECT_TRUE(std::equal(part.begin(), part.end(), fresh.begin())) << file;
        rewind();
      }
      const std::vector<uint8_t> again = decode(m, -1);
      ASSERT_EQ(again.size(), fresh.size()) << file << " round " << round;
      size_t first_diff = 0;
      while (first_diff < fresh.size() && fresh[first_diff] == again[first_diff]) ++first_diff;
      EXPECT_EQ(first_diff, fresh.size()) << file << " round " << round << ": differs from byte " << first_diff;
    }
    dll_->CloseAudio(m);
    dll_->CloseMedia(m);
  }
}

TEST_F(MediaLib, BrokenFilesOpenAsNoneOrEndCleanly) {
  auto folder = testclips::ClipFolder();
  // Not a media file at all.
  {
    std::ofstream(folder / "text.mp4") << "this is not a clip";
    EXPECT_EQ(dll_->OpenMedia(U16((folder / "text.mp4").string())), nullptr);
  }
  EXPECT_EQ(dll_->OpenMedia(u"/nonexistent/clip.mp4"), nullptr);
  // A playlist naming another file opens nothing beyond itself.
  {
    std::string clip = MakeClip(testclips::ClipDesc("target.ts", {"-c:v", "mpeg2video"}));
    ASSERT_FALSE(clip.empty());
    std::ofstream(folder / "list.m3u8") << "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:2.0,\n" << clip
                                        << "\n#EXT-X-ENDLIST\n";
    TMediaRecord* m = dll_->OpenMedia(U16((folder / "list.m3u8").string()));
    EXPECT_EQ(m, nullptr);
    dll_->CloseMedia(m);
  }
  // A truncated clip decodes what it has and then ends.
  std::string clip = MakeClip(testclips::ClipDesc("whole.ts"));
  ASSERT_FALSE(clip.empty());
  auto size = std::filesystem::file_size(clip);
  std::filesystem::copy_file(clip, folder / "cut.ts", std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(folder / "cut.ts", size / 2);
  TMediaRecord* m = dll_->OpenMedia(U16((folder / "cut.ts").string()));
  ASSERT_NE(m, nullptr);
  TMediaBuffer* buf = dll_->AllocBuffer(m, media::kPixYUV420P);
  int frames = 0, r;
  TMediaFrameInfo info;
  while ((r = dll_->DecodeVideoFrame(m, buf, &info)) == 1) ++frames;
  EXPECT_EQ(r, 0);
  EXPECT_GT(frames, 5);
  EXPECT_LT(frames, 50);
  dll_->FreeBuffer(buf);
  dll_->CloseMedia(m);
}

TEST_F(MediaLib, CustomInputReadsThroughCallbacks) {
  std::string clip = MakeClip(testclips::ClipDesc("io.webm", {"-c:v", "libvpx", "-b:v", "200k"}));
  ASSERT_FALSE(clip.empty());
  std::ifstream f(clip, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  struct TCursor {
    std::vector<uint8_t>* Bytes;
    int64_t Pos = 0;
  } cursor{&bytes};
  TMediaIO io;
  io.Opaque = &cursor;
  io.Read = [](void* o, uint8_t* buf, int32_t size) -> int32_t {
    auto* c = static_cast<TCursor*>(o);
    int64_t n = std::min<int64_t>(size, int64_t(c->Bytes->size()) - c->Pos);
    if (n <= 0) return 0;
    memcpy(buf, c->Bytes->data() + c->Pos, size_t(n));
    c->Pos += n;
    return int32_t(n);
  };
  io.Seek = [](void* o, int64_t off, int32_t whence) -> int64_t {
    auto* c = static_cast<TCursor*>(o);
    int64_t size = int64_t(c->Bytes->size());
    if (whence == 0x10000) return size;
    int64_t base = whence == SEEK_CUR ? c->Pos : whence == SEEK_END ? size : 0;
    if (base + off < 0 || base + off > size) return -1;
    return c->Pos = base + off;
  };
  TMediaRecord* m = dll_->OpenMedia(u"clip.webm", &io, 2);
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(static_cast<TVideoDataEx*>(m->VideoDataEx)->ContainerKind, kContainerMatroska);
  TMediaBuffer* buf = dll_->AllocBuffer(m, media::kPixYUV420P);
  int frames = 0;
  TMediaFrameInfo info;
  while (dll_->DecodeVideoFrame(m, buf, &info) == 1) ++frames;
  EXPECT_EQ(frames, 50);
  dll_->FreeBuffer(buf);
  dll_->CloseMedia(m);
}

}  // namespace
}  // namespace kav
