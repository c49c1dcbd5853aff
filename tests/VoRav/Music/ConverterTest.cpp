// Converters against the machine's own decoders (sox, mpg123, oggdec,
// ffmpeg) on files made at test time.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "VoRav/Music/vxAdpcmConverter.h"
#include "VoRav/Music/vxDllDec.h"
#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/winWavConverters.h"
#include "VoRav/vxSoundKind.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/Music/AudioMedia.h"
#include "tests/VoRav/Music/ConverterCheck.h"

namespace kav {
namespace {

using test::Samples16;
using test::TDecoded;
using test::DecodeAll;
using test::WavSamples;
using test::BestAlignment;
using test::OpenConverter;

TEST(Converters, PlainPcmPassesAsItIsAndPadsAtTheEnd) {
  test::TAudioMedia media;
  const std::string wav = media.Wav("s16.wav", 44100, 2, 16, 0.5);
  TDecoded d = DecodeAll(wav);
  EXPECT_EQ(d.samples, WavSamples(wav));
  EXPECT_EQ(+d.format.SamplesPerSec, 44100u);
  // 8-bit data past its end pads with 128.
  const std::string u8 = media.Wav("u8.wav", 11025, 1, 8, 0.1);
  Ref<TStream> stream;
  TMediaInfo info;
  auto conv = OpenConverter(u8, stream, info);
  ASSERT_TRUE(conv);
  EXPECT_TRUE(conv->Fill(1000));
  conv->Output().Consume(1000);
  EXPECT_TRUE(conv->Fill(2000));  // the last real bytes, then silence
  conv->Output().Consume(2000);
  EXPECT_FALSE(conv->Fill(500));
  for (size_t i = 0; i < 500; ++i) ASSERT_EQ(conv->Output().Data()[i], 128);
  EXPECT_NEAR(conv->Time(), 100, 1);
}

TEST(Converters, WideFloatAndMultiChannelSourcesComeOutInTheOutputFormat) {
  test::TAudioMedia media;
  // 24-bit at 44,100 Hz: chunks of 12,288 bytes; the samples are the upper
  // 16 bits (sox's own truncation to 16 bits without dither).
  const std::string w24 = media.Wav("s24.wav", 44100, 2, 24, 0.5);
  const std::string ref = media.Path("s24_16.wav");
  ASSERT_EQ(test::RunTool({test::kSox, "-D", w24, "-b", "16", ref}), 0);
  // sox's requantiser rounds; the converter takes the upper bits: at most 1 apart.
  TDecoded d = DecodeAll(w24);
  const auto want = WavSamples(ref);
  // The interpolation looks one frame ahead: the last frame comes when the
  // data has ended (Drain), so every frame is there.
  ASSERT_EQ(d.samples.size(), want.size());
  for (size_t i = 0; i < d.samples.size(); ++i) ASSERT_NEAR(d.samples[i], want[i], 1) << i;
  EXPECT_EQ(+d.format.BitsPerSample, 16);

  // 32-bit integers are not read as floats.
  const std::string w32 = media.Wav("s32.wav", 44100, 2, 32, 0.2, 1000, {"-e", "signed-integer", "-b", "32"});
  d = DecodeAll(w32);
  const std::string ref32 = media.Path("s32_16.wav");
  ASSERT_EQ(test::RunTool({test::kSox, "-D", w32, "-b", "16", ref32}), 0);
  const auto tone = WavSamples(ref32);
  ASSERT_EQ(d.samples.size(), tone.size());
  for (size_t i = 0; i < d.samples.size(); ++i) ASSERT_NEAR(d.samples[i], tone[i], 1) << i;

  // Floats: 1.0 gives 32767, -1.0 gives -32767 (mono feeds both sides).
  std::vector<uint8_t> fw = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                             3, 0, 1, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 32, 0, 'd', 'a', 't', 'a', 16, 0, 0, 0};
  for (float f : {1.0f, -1.0f, 0.5f, 2.0f}) {
    uint8_t b[4];
    std::memcpy(b, &f, 4);
    fw.insert(fw.end(), b, b + 4);
  }
  const std::string fpath = media.Path("float.wav");
  test::WriteFileBytes(fpath, fw);
  d = DecodeAll(fpath);
  ASSERT_GE(d.samples.size(), 6u);
  EXPECT_EQ(d.samples[0], 32767);
  EXPECT_EQ(d.samples[1], 32767);
  EXPECT_EQ(d.samples[2], -32767);
  EXPECT_EQ(d.samples[4], 16384);

  // Six channels fold to two; 48 kHz becomes 44.1 kHz.
  const std::string six = media.Wav("six.wav", 48000, 6, 16, 0.5, 440);
  d = DecodeAll(six);
  EXPECT_EQ(+d.format.Channels, 2);
  EXPECT_EQ(+d.format.SamplesPerSec, 44100u);
  EXPECT_NEAR(double(d.samples.size()) / 2, 22050, 2);
}

TEST(Converters, ResamplingKeepsTheTone) {
  test::TAudioMedia media;
  for (uint32_t rate : {22050u, 48000u, 96000u}) {
    const std::string w = media.Wav("r" + std::to_string(rate) + ".wav", rate, 1, 24, 0.5, 1000);
    TDecoded d = DecodeAll(w);
    ASSERT_EQ(+d.format.SamplesPerSec, 44100u);
    double worst = 0;
    const size_t frames = d.samples.size() / 2;
    EXPECT_NEAR(double(frames), 22050, 3) << rate;
    for (size_t i = 100; i + 100 < frames; ++i) {
      const double want = 16383.5 * std::sin(2 * M_PI * 1000 * double(i) / 44100);
      worst = std::max(worst, std::abs(d.samples[2 * i] - want));
    }
    // The three-point interpolation of a 1 kHz tone sampled at 22 kHz is
    // within a few percent; at higher rates within a fraction of that.
    EXPECT_LT(worst, rate == 22050 ? 700 : 150) << rate;
  }
}

// A float file at 3 Hz: every input frame is 14,700 output frames. One
// chunk must not multiply into megabytes at once, and the output is the
// resampler's over the whole data in one block.
TEST(Converters, AVeryLowRateIsConvertedInSmallPieces) {
  test::TAudioMedia media;
  const uint32_t frames = 40;
  std::vector<uint8_t> data;
  auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) data.push_back(uint8_t(v >> (8 * i))); };
  auto put16 = [&](uint16_t v) { data.push_back(uint8_t(v)); data.push_back(uint8_t(v >> 8)); };
  data = {'R', 'I', 'F', 'F'};
  put32(36 + frames * 4);
  for (char c : std::string("WAVEfmt ")) data.push_back(uint8_t(c));
  put32(16);
  put16(3), put16(1), put32(3), put32(12), put16(4), put16(32);
  for (char c : std::string("data")) data.push_back(uint8_t(c));
  put32(frames * 4);
  std::vector<uint8_t> pcm;
  for (uint32_t i = 0; i < frames; ++i) {
    const float f = float(std::sin(double(i))) * 0.5f;
    uint8_t b[4];
    std::memcpy(b, &f, 4);
    pcm.insert(pcm.end(), b, b + 4);
  }
  data.insert(data.end(), pcm.begin(), pcm.end());
  const std::string path = media.Path("low.wav");
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
  }
  Ref<TStream> stream;
  TMediaInfo info;
  auto conv = OpenConverter(path, stream, info);
  ASSERT_TRUE(conv);
  EXPECT_TRUE(conv->Fill(4096));
  EXPECT_LE(conv->Output().Used(), size_t(65536) * 4);
  conv = nullptr;
  const TDecoded d = DecodeAll(path);
  TPcmResampler whole(info.Format, kOutputWaveFormat);
  TLocalBuffer out;
  whole.Process(pcm.data(), pcm.size(), out);
  whole.Flush(out);
  const auto want = Samples16(std::vector<uint8_t>(out.Data(), out.Data() + out.Used()));
  // The position is carried from piece to piece in floating point: the
  // count may end one frame apart, the samples a unit apart.
  EXPECT_NEAR(double(d.samples.size()), double(want.size()), 2);
  int worst = 0;
  for (size_t i = 0; i < std::min(want.size(), d.samples.size()); ++i)
    worst = std::max(worst, std::abs(d.samples[i] - want[i]));
  EXPECT_LE(worst, 1);
  // Every input frame, the last one too, gives its 14,700 output frames.
  EXPECT_NEAR(double(d.samples.size()) / 2, double(frames) * 14700, 2);
}

TEST(Converters, Mp3MatchesTheReferenceDecoderAndSeeks) {
  test::TAudioMedia media;
  const std::string wav = media.Sweep("m.wav", 44100, 2, 12.0);
  for (auto options : {std::vector<std::string>{"-b", "128"}, std::vector<std::string>{"-V", "4"}}) {
    const std::string mp3 = media.Mp3("m" + options[1] + ".mp3", wav, options);
    const std::string ref = media.Path("ref" + options[1] + ".wav");
    ASSERT_EQ(test::RunTool({test::kMpg123, "-q", "-w", ref, mp3}), 0);
    const auto want = WavSamples(ref);
    TDecoded d = DecodeAll(mp3);
    EXPECT_EQ(+d.format.SamplesPerSec, 44100u);
    // The same library decodes: the samples agree once aligned (the
    // reference may drop the encoder delay).
    auto [shift, rms] = BestAlignment(want, d.samples, 2 * 1152);
    EXPECT_LT(rms, 1.0) << options[1];
    EXPECT_NEAR(double(d.samples.size()), double(want.size()), 2 * 2 * 1152 + 4);
    // A seek to 10 s lands on the reference's 10 s, after the same shift.
    TDecoded s = DecodeAll(mp3, 10000);
    const size_t at = size_t(10 * 44100 * 2 - shift);
    std::vector<int16_t> tail(want.begin() + int64_t(at), want.end());
    auto [seek_shift, seek_rms] = BestAlignment(tail, s.samples, 300);
    EXPECT_LE(std::abs(seek_shift), 2 * 45) << options[1];  // within 1 ms
    EXPECT_LT(seek_rms, 200) << options[1];
    // A seek to 50 ms decodes from the start and drops 50 ms.
    TDecoded early = DecodeAll(mp3, 50);
    std::vector<int16_t> from50(d.samples.begin() + 4410, d.samples.end());
    auto [early_shift, early_rms] = BestAlignment(from50, early.samples, 50);
    EXPECT_EQ(early_shift, 0);
    EXPECT_LT(early_rms, 1.0);
  }
}

TEST(Converters, AdpcmMatchesSox) {
  test::TAudioMedia media;
  for (int channels : {1, 2}) {
    const std::string w = media.Wav("a" + std::to_string(channels) + ".wav", 22050, channels, 4, 1.0, 700,
                                    {"-e", "ms-adpcm"});
    const std::string ref = media.Path("a_ref" + std::to_string(channels) + ".wav");
    ASSERT_EQ(test::RunTool({test::kSox, w, "-e", "signed-integer", "-b", "16", ref}), 0);
    const auto want = WavSamples(ref);
    TDecoded d = DecodeAll(w);
    ASSERT_GE(d.samples.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(d.samples[i], want[i]) << i << " of " << channels;
    // Seeking lands inside a block and keeps the samples.
    TDecoded s = DecodeAll(w, 300);
    const size_t at = size_t(std::llround(0.3 * 22050)) * channels;
    for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(s.samples[i], want[at + i]) << i;
  }
  // Hostile blocks: predictor past the table, short blocks.
  uint8_t block[20] = {200, 9, 0xFF, 0x7F, 0, 0x80, 0, 0};
  int16_t out[40];
  EXPECT_TRUE(TAdpcmConverter::DecodeBlock(block, sizeof block, 1, out, 28));
  EXPECT_FALSE(TAdpcmConverter::DecodeBlock(block, 6, 1, out, 2));
  EXPECT_FALSE(TAdpcmConverter::DecodeBlock(block, 20, 3, out, 2));
}

TEST(Converters, PluginsDecodeOggAndWma) {
  test::TAudioMedia media;
  const std::string wav = media.Sweep("p.wav", 44100, 2, 2.0);
  const std::string ogg = media.Ogg("p.ogg", wav);
  const std::string wma = media.Ffmpeg("p.wma", wav, {"-c:a", "wmav2", "-b:a", "128k"});
  UnloadOggPlugin();
  UnloadWmaPlugin();
  // Empty slots: no record and no converter for those formats.
  TMediaInfo info;
  {
    auto s = test::OpenTestFile(ogg);
    EXPECT_FALSE(TMediaInfoExtractor::Extract(u"p.ogg", s.get(), info));
    info.FormatCode = kMediaOgg;
    EXPECT_FALSE(CreateConverter(u"p.ogg", info));
  }
  ASSERT_TRUE(LoadOggPlugin(u"C:\\somewhere\\kavogg.dll"));
  ASSERT_TRUE(LoadWmaPlugin(u""));
  EXPECT_FALSE(TDllDec(u"other.dll").Valid());
  for (const std::string& file : {ogg, wma}) {
    const bool is_ogg = file == ogg;
    auto s = test::OpenTestFile(file);
    // A "?" and number after the name does not hide the extension.
    ASSERT_TRUE(TMediaInfoExtractor::Extract(SystemUTF8ToWide(file) + u"?2", s.get(), info)) << file;
    EXPECT_EQ(info.FormatCode, is_ogg ? kMediaOgg : kMediaWma);
    EXPECT_NEAR(info.Duration, 2000, 60);
    const std::string ref = media.Path(is_ogg ? "ogg_ref.wav" : "wma_ref.wav");
    ASSERT_EQ(test::RunTool({test::kFfmpeg, "-nostdin", "-loglevel", "error", "-y", "-i", file, "-c:a", "pcm_s16le", ref}), 0);
    const auto want = WavSamples(ref);
    TDecoded d = DecodeAll(file);
    auto [shift, rms] = BestAlignment(want, d.samples, 4096);
    EXPECT_EQ(shift, 0) << file;
    EXPECT_LT(rms, is_ogg ? 2.0 : 2.0) << file;
    EXPECT_NEAR(double(d.samples.size()), double(want.size()), 4096) << file;
    // Seeking to 1 s continues at 1 s.
    TDecoded later = DecodeAll(file, 1000);
    std::vector<int16_t> tail(want.begin() + 88200, want.end());
    auto [seek_shift, seek_rms] = BestAlignment(tail, later.samples, 2048);
    EXPECT_LE(std::abs(seek_shift), 90) << file;
    EXPECT_LT(seek_rms, 300) << file;
  }
  // A file of the wrong kind under a plug-in's extension is refused.
  {
    auto s = test::OpenTestFile(wav);
    EXPECT_FALSE(PluginMediaInfo(OggPlugin(), s.get(), u"x.ogg", info));
    EXPECT_FALSE(PluginMediaInfo(WmaPlugin(), s.get(), u"x.wma", info));
  }
  info = TMediaInfo{};
  info.FormatCode = 77;
  EXPECT_FALSE(CreateConverter(u"x", info));
}

// A sound is read as what its data is, whatever its name says; what is no
// sound at all is said so, in words the show's author can act on.
TEST(Converters, SoundsAreReadByTheirDataNotTheirName) {
  test::TAudioMedia media;
  const std::string wav = media.Sweep("k.wav", 44100, 2, 1.0);
  const std::string ogg = media.Ogg("k.ogg", wav);
  const std::string mp3 = media.Mp3("k.mp3", wav, {"-b", "128"});
  const std::string wma = media.Ffmpeg("k.wma", wav, {"-c:a", "wmav2", "-b:a", "128k"});
  ASSERT_TRUE(LoadOggPlugin(u""));
  ASSERT_TRUE(LoadWmaPlugin(u""));
  const struct {
    std::string file, as;
    int code;
  } cases[] = {{ogg, "ogg.mp3", kMediaOgg}, {wma, "wma.mp3", kMediaWma}, {mp3, "mp3.ogg", kMediaMpeg},
               {mp3, "mp3.wav", kMediaMpeg}, {wav, "wav.mp3", kMediaPcm}, {wma, "wma.ogg", kMediaWma}};
  for (const auto& c : cases) {
    const std::string path = media.Path(c.as);
    std::filesystem::copy_file(c.file, path, std::filesystem::copy_options::overwrite_existing);
    auto s = test::OpenTestFile(path);
    TMediaInfo info;
    // A "?" and number after the name changes nothing.
    EXPECT_TRUE(TMediaInfoExtractor::Extract(SystemUTF8ToWide(path) + u"?1", s.get(), info)) << c.as;
    EXPECT_EQ(info.FormatCode, c.code) << c.as;
    EXPECT_NEAR(info.Duration, 1000, 100) << c.as;  // MP3 carries its encoder's padding
    EXPECT_GT(DecodeAll(path).samples.size(), 80000u) << c.as;
  }

  const std::string html = "<!DOCTYPE html>\n<html><head><title>404 Not Found</title></head></html>\n";
  const std::vector<uint8_t> text(html.begin(), html.end()), none, binary = {0, 1, 2, 3, 'f', 'L', 'a', 'C', 9, 9};
  TMediaInfo info;
  EXPECT_FALSE(TMediaInfoExtractor::Extract(u"tune.mp3", test::BytesStream(text).get(), info));
  EXPECT_EQ(UnplayableSoundReason(test::BytesStream(text).get()),
            u"a text file, not a sound (a download that failed?): download or export the sound again");
  EXPECT_EQ(UnplayableSoundReason(test::BytesStream(none).get()), kEmptyShowFile);
  EXPECT_NE(UnplayableSoundReason(test::BytesStream(binary).get()).find(u"not a sound the player plays"),
            std::u16string::npos);
  const std::vector<uint8_t> cut_ogg = {'O', 'g', 'g', 'S', 0, 2, 0, 0};
  EXPECT_NE(UnplayableSoundReason(test::BytesStream(cut_ogg).get()).find(u"a damaged or unplayable Ogg sound"),
            std::u16string::npos);
  EXPECT_TRUE(SoundIsNoSound(test::BytesStream(text).get()));
  EXPECT_FALSE(SoundIsNoSound(test::BytesStream(binary).get()));
}

}  // namespace
}  // namespace kav
