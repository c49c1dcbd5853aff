// Sound files only the media library reads (AAC in M4A, FLAC, the sound of
// a video clip), made by ffmpeg at test time, decoded through the converter
// factory and compared with ffmpeg's own decode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "VoRav/Music/vxDllDec.h"
#include "VoRav/Music/vxFFMpegConverter.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/ConverterCheck.h"

namespace kav {
namespace {

using test::BestAlignment;
using test::DecodeAll;
using test::TDecoded;
using test::WavSamples;

class MediaLibraryAudio : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(InstallMediaLibraryAudio()); }
  void TearDown() override { UninstallMediaLibraryAudio(); }

  // ffmpeg's decode of `file` as 16-bit PCM (its own rate and channels).
  std::vector<int16_t> Reference(const std::string& file) {
    const std::string ref = file + ".ref.wav";
    EXPECT_EQ(test::RunTool({test::kFfmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", file, "-vn", "-c:a",
                             "pcm_s16le", ref}),
              0);
    return WavSamples(ref);
  }
  TMediaInfo Info(const std::string& file) {
    TMediaInfo info;
    auto s = test::OpenTestFile(file);
    EXPECT_TRUE(TMediaInfoExtractor::Extract(SystemUTF8ToWide(file), s.get(), info)) << file;
    return info;
  }

  test::TAudioMedia media_;
};

TEST_F(MediaLibraryAudio, FilesOnlyTheLibraryReadsPlayAsTheReferenceDecodesThem) {
  const std::string wav = media_.Sweep("s.wav", 44100, 2, 6.0);
  const std::string m4a = media_.Ffmpeg("s.m4a", wav, {"-c:a", "aac", "-b:a", "128k"});
  const std::string flac = media_.Ffmpeg("s.flac", wav, {"-c:a", "flac"});
  for (const std::string& file : {flac, m4a}) {
    const TMediaInfo info = Info(file);
    EXPECT_EQ(info.FormatCode, kMediaLibrary) << file;
    EXPECT_NEAR(double(info.Duration), 6000, 50) << file;
    EXPECT_EQ(+info.Format.SamplesPerSec, 44100u);
    EXPECT_EQ(+info.Format.Channels, 2);
    const auto want = Reference(file);
    TDecoded d = DecodeAll(file);
    EXPECT_EQ(+d.format.SamplesPerSec, 44100u) << file;
    EXPECT_EQ(+d.format.Channels, 2) << file;
    EXPECT_EQ(+d.format.BitsPerSample, 16) << file;
    // The same decoder: the same samples at the same place (AAC decodes to
    // floats, which the two round to 16 bits a unit apart).
    auto [shift, rms] = BestAlignment(want, d.samples, 2048);
    EXPECT_EQ(shift, 0) << file;
    EXPECT_LT(rms, file == flac ? 0.01 : 2.0) << file;
    EXPECT_NEAR(double(d.samples.size()), double(want.size()), 2 * 1024) << file;
    // A seek to 3.5 s lands on the reference's 3.5 s within a millisecond.
    TDecoded s = DecodeAll(file, 3500);
    std::vector<int16_t> tail(want.begin() + 3500 * 441 / 10 * 2, want.end());
    auto [seek_shift, seek_rms] = BestAlignment(tail, s.samples, 400);
    EXPECT_LE(std::abs(seek_shift), 2 * 44) << file;
    EXPECT_LT(seek_rms, 200) << file;
    EXPECT_NEAR(double(s.samples.size()), double(tail.size()), 2 * 1024) << file;
  }
}

// A sound played again from the start (a loop, a slide shown twice) gives
// the samples of its first play, the first milliseconds included.
TEST_F(MediaLibraryAudio, ASeekBackToTheStartGivesTheSamplesOfTheFirstDecode) {
  for (const uint32_t rate : {44100u, 48000u}) {
    const std::string name = "z" + std::to_string(rate);
    const std::string wav = media_.Sweep(name + ".wav", rate, 2, 3.0);
    const std::string m4a = media_.Ffmpeg(name + ".m4a", wav, {"-c:a", "aac", "-b:a", "128k"});
    const TDecoded fresh = DecodeAll(m4a);
    ASSERT_GT(fresh.samples.size(), size_t(44100 * 2 * 2)) << rate;
    Ref<TStream> stream;
    TMediaInfo info;
    auto conv = test::OpenConverter(m4a, stream, info);
    ASSERT_TRUE(conv) << rate;
    TLocalBuffer& o = conv->Output();
    for (int i = 0; i < 30 && conv->ReadChunk() && conv->Convert(); ++i) o.Consume(o.Used());
    o.Consume(o.Used());
    conv->Seek(1200);
    ASSERT_TRUE(conv->ReadChunk() && conv->Convert()) << rate;
    conv->Seek(0);
    std::vector<uint8_t> bytes;
    for (int guard = 0; guard < 1000000; ++guard) {
      bytes.insert(bytes.end(), o.Data(), o.Data() + o.Used());
      o.Consume(o.Used());
      if (!conv->ReadChunk() || !conv->Convert()) break;
    }
    conv->Drain();
    bytes.insert(bytes.end(), o.Data(), o.Data() + o.Used());
    const std::vector<int16_t> again = test::Samples16(bytes);
    ASSERT_EQ(again.size(), fresh.samples.size()) << rate;
    size_t first_diff = 0;
    while (first_diff < again.size() && again[first_diff] == fresh.samples[first_diff]) ++first_diff;
    EXPECT_EQ(first_diff, again.size()) << rate << ": differs from sample " << first_diff;
  }
}

TEST_F(MediaLibraryAudio, OtherRatesAndChannelsComeOutInTheOutputFormat) {
  const std::string wav = media_.Sweep("m.wav", 22050, 1, 2.0);
  const std::string flac = media_.Ffmpeg("m.flac", wav, {"-c:a", "flac"});
  const auto want = Reference(flac);  // 22,050 Hz mono
  TDecoded d = DecodeAll(flac);
  EXPECT_EQ(+d.format.SamplesPerSec, 44100u);
  EXPECT_EQ(+d.format.Channels, 2);
  // Doubling the rate: every second output frame is an input sample, on
  // both sides.
  ASSERT_GE(d.samples.size(), 4 * (want.size() - 2));
  for (size_t j = 0; j + 2 < want.size(); ++j) {
    ASSERT_NEAR(d.samples[4 * j], want[j], 1) << j;
    ASSERT_NEAR(d.samples[4 * j + 1], want[j], 1) << j;
  }
  EXPECT_NEAR(double(d.samples.size()), 4.0 * double(want.size()), 16);
}

TEST_F(MediaLibraryAudio, SixChannelsAreFoldedToTwo) {
  const std::string wav = media_.Wav("six.wav", 44100, 6, 16, 1.0, 1000, {"-b", "16"});
  const std::string flac = media_.Ffmpeg("six.flac", wav, {"-c:a", "flac"});
  const auto want = Reference(flac);
  TDecoded d = DecodeAll(flac);
  EXPECT_EQ(+d.format.Channels, 2);
  // Each side sums four of the six channels.
  ASSERT_GE(d.samples.size() / 2, want.size() / 6 - 2);
  for (size_t j = 0; j + 2 < want.size() / 6; ++j) {
    auto c = [&](int k) { return int32_t(want[6 * j + size_t(k)]); };
    ASSERT_EQ(d.samples[2 * j], std::clamp(c(0) + c(1) + c(3) + c(5), -32768, 32767)) << j;
    ASSERT_EQ(d.samples[2 * j + 1], std::clamp(c(1) + c(2) + c(4) + c(5), -32768, 32767)) << j;
  }
}

TEST_F(MediaLibraryAudio, TheSoundOfAVideoClipSeeksOnItsOwnTimes) {
  const std::string wav = media_.Sweep("v.wav", 44100, 2, 12.0);
  // Key frames every 10 pictures (a seek lands near the time) and only the
  // first one (a seek lands at the start and drops 9 s of sound).
  for (const std::string gop : {"10", "1000"}) {
    const std::string clip = media_.Path("v" + gop + ".mp4");
    ASSERT_EQ(test::RunTool({test::kFfmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                             "testsrc2=size=64x48:rate=25:duration=12", "-i", wav, "-c:v", "libx264", "-preset",
                             "ultrafast", "-g", gop, "-c:a", "aac", "-b:a", "128k", "-shortest", clip}),
              0);
    EXPECT_NEAR(double(Info(clip).Duration), 12000, 80) << gop;
    const auto want = Reference(clip);
    TDecoded s = DecodeAll(clip, 9000);
    std::vector<int16_t> tail(want.begin() + 9000 * 441 / 10 * 2, want.end());
    auto [shift, rms] = BestAlignment(tail, s.samples, 400);
    EXPECT_LE(std::abs(shift), 2 * 44) << gop;
    EXPECT_LT(rms, 200) << gop;
  }
}

TEST_F(MediaLibraryAudio, BrokenFilesEndCleanlyOrAreNotOpened) {
  const std::string wav = media_.Sweep("b.wav", 44100, 2, 4.0);
  const std::string flac = media_.Ffmpeg("b.flac", wav, {"-c:a", "flac"});
  // The index first, then half the data: the header still tells 4 s, what
  // is there plays, then the sound ends.
  const std::string m4a = media_.Ffmpeg("b.m4a", wav, {"-c:a", "aac", "-movflags", "+faststart"});
  auto cut = [&](const std::string& file, const std::string& name) {
    const std::string out = media_.Path(name);
    std::filesystem::copy_file(file, out);
    std::filesystem::resize_file(out, std::filesystem::file_size(file) / 2);
    return out;
  };
  const std::string half_m4a = cut(m4a, "half.m4a");
  EXPECT_NEAR(double(Info(half_m4a).Duration), 4000, 50);
  TDecoded cut_aac = DecodeAll(half_m4a);
  EXPECT_GT(cut_aac.samples.size(), size_t(44100 * 2 * 1));
  EXPECT_LT(cut_aac.samples.size(), size_t(44100 * 2 * 3));
  // The first half of a FLAC file: the same, and a seek past its end.
  const std::string half = cut(flac, "half.flac");
  TMediaInfo info = Info(half);
  ASSERT_EQ(info.FormatCode, kMediaLibrary);
  TDecoded d = DecodeAll(half);
  EXPECT_GT(d.samples.size(), size_t(44100 * 2 * 1));
  EXPECT_LT(d.samples.size(), size_t(44100 * 2 * 3));
  {
    Ref<TStream> stream = test::OpenTestFile(half);
    auto conv = CreateConverter(u"half.flac", info);
    ASSERT_TRUE(conv);
    conv->SetStream(stream);
    ASSERT_TRUE(conv->SetInputFormat(info));
    // Past the end: silence and false; a seek past the end as well.
    conv->Seek(3900);
    EXPECT_FALSE(conv->Fill(4096));
    EXPECT_EQ(conv->Output().Used(), 4096u);
    EXPECT_EQ(conv->Output().Data()[100], 0);
  }
  // Noise, a silent clip and no stream at all: no record, no converter.
  const std::string noise = media_.Path("noise.m4a");
  {
    std::ofstream f(noise, std::ios::binary);
    for (int i = 0; i < 5000; ++i) f.put(char(i * 7919 % 251));
  }
  const std::string silent = media_.Path("silent.mp4");
  ASSERT_EQ(test::RunTool({test::kFfmpeg, "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                           "testsrc2=size=64x48:rate=25:duration=1", "-c:v", "libx264", "-preset", "ultrafast",
                           silent}),
            0);
  for (const std::string& file : {noise, silent}) {
    TMediaInfo none;
    auto s = test::OpenTestFile(file);
    EXPECT_FALSE(TMediaInfoExtractor::Extract(SystemUTF8ToWide(file), s.get(), none)) << file;
    EXPECT_EQ(none.FormatCode, kMediaUnknown) << file;
  }
  auto conv = CreateConverter(u"x.flac", info);
  ASSERT_TRUE(conv);
  EXPECT_FALSE(conv->SetInputFormat(info));  // no stream
}

TEST_F(MediaLibraryAudio, AnOggFileGoesToTheLibraryWhileItsPluginIsNotLoaded) {
  const std::string wav = media_.Sweep("o.wav", 44100, 2, 1.0);
  const std::string ogg = media_.Ogg("o.ogg", wav);
  const bool had = OggPlugin() != nullptr;
  UnloadOggPlugin();
  const TMediaInfo info = Info(ogg);
  EXPECT_EQ(info.FormatCode, kMediaLibrary);
  TDecoded d = DecodeAll(ogg);
  auto [shift, rms] = BestAlignment(Reference(ogg), d.samples, 2048);
  EXPECT_EQ(shift, 0);
  EXPECT_LT(rms, 2.0);
  if (had) LoadOggPlugin(u"");
}

TEST_F(MediaLibraryAudio, WithoutTheInstallNothingGoesToTheLibrary) {
  const std::string wav = media_.Sweep("u.wav", 44100, 2, 1.0);
  const std::string flac = media_.Ffmpeg("u.flac", wav, {"-c:a", "flac"});
  const TMediaInfo info = Info(flac);
  const int32_t users = FFMpegDllUsers();
  {
    auto conv = CreateConverter(u"u.flac", info);
    ASSERT_TRUE(conv);
    EXPECT_EQ(FFMpegDllUsers(), users + 1);  // each converter holds the binding
  }
  EXPECT_EQ(FFMpegDllUsers(), users);
  UninstallMediaLibraryAudio();
  EXPECT_EQ(FFMpegDllUsers(), users - 1);
  TMediaInfo none;
  auto s = test::OpenTestFile(flac);
  EXPECT_FALSE(TMediaInfoExtractor::Extract(u"u.flac", s.get(), none));
  EXPECT_FALSE(CreateConverter(u"u.flac", info));
  ASSERT_TRUE(InstallMediaLibraryAudio());
  ASSERT_TRUE(InstallMediaLibraryAudio());  // a second install changes nothing
  EXPECT_EQ(FFMpegDllUsers(), users);
}

}  // namespace
}  // namespace kav
