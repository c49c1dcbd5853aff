// Media information of RIFF and MPEG files, made by sox and lame, and of
// hand-built hostile ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <span>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/vxShowProblems.h"
#include "tests/VoRav/LogCapture.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav {
namespace {

using test::BytesStream;
using test::OpenTestFile;

TMediaInfo InfoOf(const std::string& path) {
  TMediaInfo info;
  auto stream = OpenTestFile(path);
  TMediaInfoExtractor::Extract(SystemUTF8ToWide(path), stream.get(), info);
  return info;
}

// MPEG-1 layer III, 128 kbps, 44,100 Hz, stereo: 417-byte frames.
std::vector<uint8_t> CbrFrames(int count) {
  std::vector<uint8_t> out;
  for (int i = 0; i < count; ++i) {
    const size_t at = out.size();
    out.resize(at + 417);
    out[at] = 0xFF, out[at + 1] = 0xFB, out[at + 2] = 0x90, out[at + 3] = 0x00;
  }
  return out;
}

void PutBE32(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v); }

TEST(MediaInfo, WavesOfEveryRateWidthAndChannelCount) {
  test::TAudioMedia media;
  struct Case {
    uint32_t rate;
    int channels, bits;
    std::vector<std::string> enc;
    uint8_t code;
  } cases[] = {
      {44100, 2, 16, {}, kMediaPcm},
      {22050, 1, 8, {}, kMediaPcm},
      {8000, 1, 16, {}, kMediaPcm},
      {48000, 2, 24, {}, kMediaPcm},
      {96000, 2, 32, {"-e", "signed-integer", "-b", "32"}, kMediaPcm},  // integers, never read as float
      {44100, 2, 32, {"-e", "floating-point", "-b", "32"}, kMediaFloat},
      {44100, 6, 16, {}, kMediaPcm},                                     // extensible header
      {22050, 2, 4, {"-e", "ms-adpcm"}, kMediaAdpcm},
  };
  int n = 0;
  for (const Case& c : cases) {
    const std::string wav = media.Wav("w" + std::to_string(n++) + ".wav", c.rate, c.channels, c.bits, 1.0, 1000, c.enc);
    const TMediaInfo info = InfoOf(wav);
    SCOPED_TRACE(wav + " rate " + std::to_string(c.rate) + " bits " + std::to_string(c.bits));
    EXPECT_EQ(info.FormatCode, c.code);
    EXPECT_EQ(info.Filled, 1);
    EXPECT_EQ(+info.Format.Channels, c.channels);
    EXPECT_EQ(+info.Format.SamplesPerSec, c.rate);
    EXPECT_EQ(+info.Format.BitsPerSample, c.bits);
    EXPECT_NEAR(info.Duration, 1000, c.code == kMediaAdpcm ? 30 : 1);
    if (c.code != kMediaAdpcm) {
      EXPECT_EQ(info.DataLength, c.rate * c.channels * c.bits / 8);
    }
    EXPECT_EQ(+info.Format.ExtraSize, c.code == kMediaAdpcm ? 32 : 0);
  }
}

TEST(MediaInfo, Mp3HeadersTagsAndSummaries) {
  test::TAudioMedia media;
  const std::string wav = media.Wav("tone.wav", 44100, 2, 16, 3.0);
  const TMediaInfo cbr = InfoOf(media.Mp3("cbr.mp3", wav, {"-b", "128", "--id3v2-only", "--tt", "Title"}));
  EXPECT_EQ(cbr.FormatCode, kMediaMpeg);
  EXPECT_GT(cbr.DataOffset, 10u);  // after the ID3v2 tag
  EXPECT_NEAR(cbr.Duration, 3000, 60);
  EXPECT_EQ(+cbr.Format.SamplesPerSec, 44100u);
  EXPECT_EQ(+cbr.Format.Channels, 2);
  EXPECT_EQ(+cbr.Format.BitsPerSample, 16);
  EXPECT_EQ(cbr.FrameLength, 418u);  // 417 plus padding
  const std::string v1_file = media.Mp3("v1.mp3", wav, {"-b", "128", "--id3v1-only", "--tt", "Title"});
  const std::string plain_file = media.Mp3("plain.mp3", wav, {"-b", "128"});
  const TMediaInfo v1 = InfoOf(v1_file), plain = InfoOf(plain_file);
  EXPECT_EQ(plain.DataOffset, 0u);
  // The tag makes the file 128 bytes longer, not the audio.
  EXPECT_EQ(std::filesystem::file_size(v1_file), std::filesystem::file_size(plain_file) + 128);
  EXPECT_EQ(v1.DataLength, plain.DataLength);
  EXPECT_EQ(plain.DataLength, std::filesystem::file_size(plain_file));
  const TMediaInfo vbr = InfoOf(media.Mp3("vbr.mp3", wav, {"-V", "2", "--resample", "22.05", "-m", "m"}));
  EXPECT_EQ(vbr.Vbr, -1);
  EXPECT_EQ(+vbr.Format.SamplesPerSec, 22050u);
  EXPECT_EQ(+vbr.Format.Channels, 1);
  EXPECT_NEAR(vbr.Duration, 3000, 60);
  EXPECT_GT(vbr.MsPerFrame, 26.0);  // 576 samples at 22,050 Hz
}

TEST(MediaInfo, XingFrameCountGivesTheDuration) {
  std::vector<uint8_t> bytes = CbrFrames(20);
  std::memcpy(&bytes[36], "Xing", 4);
  PutBE32(&bytes[40], 0xF);
  PutBE32(&bytes[44], 1000);
  TMediaInfo info;
  auto s = BytesStream(bytes);
  ASSERT_TRUE(TMediaInfoExtractor::Extract(u"x.MP3", s.get(), info));
  EXPECT_EQ(info.Duration, 26122u);
  EXPECT_EQ(info.Vbr, -1);
  EXPECT_NEAR(info.MsPerFrame, 26.122, 0.001);
}

TEST(MediaInfo, Id3v2TagOf4096BytesIsSkipped) {
  std::vector<uint8_t> bytes(4106, 0);
  std::memcpy(bytes.data(), "ID3\x03\x00\x00", 6);
  bytes[8] = 0x20;  // 4096 as 7-bit groups: 0x00 0x00 0x20 0x00
  // A false sync inside the tag would be skipped anyway; put one there.
  bytes[100] = 0xFF, bytes[101] = 0xFB, bytes[102] = 0x90;
  const auto frames = CbrFrames(10);
  bytes.insert(bytes.end(), frames.begin(), frames.end());
  TMediaInfo info;
  auto s = BytesStream(bytes);
  ASSERT_TRUE(TMediaInfoExtractor::Extract(u"tag.mp3", s.get(), info));
  EXPECT_EQ(info.DataOffset, 4106u);
  EXPECT_EQ(info.DataLength, 4170u);
  EXPECT_EQ(info.Duration, 4170u * 8 / 128);
}

TEST(MediaInfo, LoneSyncWithoutASecondFrameIsSkipped) {
  std::vector<uint8_t> bytes(300, 0x11);
  bytes[10] = 0xFF, bytes[11] = 0xFB, bytes[12] = 0x90, bytes[13] = 0x00;  // no frame 417 bytes later
  const auto frames = CbrFrames(4);
  bytes.insert(bytes.end(), frames.begin(), frames.end());
  TMediaInfo info;
  auto s = BytesStream(bytes);
  ASSERT_TRUE(TMediaInfoExtractor::Extract(u"a.mp3", s.get(), info));
  EXPECT_EQ(info.DataOffset, 300u);
}

TEST(MediaInfo, HostileHeadersAreRefusedCleanly) {
  auto refuse = [](std::vector<uint8_t> bytes, const char16_t* name) {
    TMediaInfo info;
    auto s = BytesStream(bytes);
    EXPECT_FALSE(TMediaInfoExtractor::Extract(name, s.get(), info)) << std::string(name, name + 5);
    EXPECT_EQ(info.FormatCode, 0);
  };
  // An ID3v2 tag claiming 256 MB in a 40-byte file.
  std::vector<uint8_t> id3(40, 0);
  std::memcpy(id3.data(), "ID3\x03\x00\x00\x7F\x7F\x7F\x7F", 10);
  refuse(id3, u"a.mp3");
  // A whole file shorter than the ID3v1 tag, and empty files.
  refuse({'T', 'A', 'G'}, u"b.mp3");
  refuse({}, u"c.mp3");
  refuse({}, u"c.wav");
  // RIFF with a zero rate, zero channels, 24-bit float, and truncated headers.
  auto riff = [](uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits, bool with_data) {
    std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0};
    auto le = [&b](uint32_t v, int n) {
      for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
    };
    le(tag, 2), le(channels, 2), le(rate, 4), le(0, 4), le(0, 2), le(bits, 2);
    if (with_data) {
      b.insert(b.end(), {'d', 'a', 't', 'a'});
      le(0xFFFFFFF0u, 4);  // runs past the end: clipped
      le(0, 4);
    }
    return b;
  };
  refuse(riff(1, 2, 0, 16, true), u"d.wav");
  refuse(riff(1, 0, 44100, 16, true), u"e.wav");
  refuse(riff(3, 2, 44100, 24, true), u"f.wav");
  refuse(riff(1, 2, 44100, 16, false), u"g.wav");
  refuse(riff(0x11, 2, 44100, 4, true), u"h.wav");  // IMA ADPCM is not MPEG
  refuse(riff(0xFFFE, 2, 44100, 16, true), u"i.wav");  // extensible without its GUID
  auto ok = riff(1, 2, 44100, 16, true);
  TMediaInfo info;
  auto s = BytesStream(ok);
  ASSERT_TRUE(TMediaInfoExtractor::Extract(u"ok.wav", s.get(), info));
  EXPECT_EQ(info.DataOffset, 44u);
  EXPECT_EQ(info.DataLength, 4u);  // clipped to the file
  EXPECT_EQ(+info.Format.AvgBytesPerSec, 176400u);  // from the format, not the header's 0
  // Cut anywhere before the data chunk's header is whole: refused.
  for (size_t cut = 0; cut < 44; ++cut) refuse(std::vector<uint8_t>(ok.begin(), ok.begin() + cut), u"t.wav");
}

// A stream that does not know its size before it is read through, as a
// large deflated entry of a package: GetKnownSize answers -1, and learning
// the size (GetSize, GetSizeWithin) is counted. `size` is the size it would
// learn: its bytes, or more (zeros past them, never read).
class TUnknownSize : public TMemoryStream {
 public:
  TUnknownSize(std::span<const uint8_t> bytes, int64_t size) : size_(size) {
    WriteBytes(bytes);
    SetPosition(0);
  }
  int learned = 0;
  int64_t GetKnownSize() override { return -1; }
  int64_t GetSize() override { return GetSizeWithin(INT64_MAX); }
  int64_t GetSizeWithin(int64_t limit) override {
    ++learned;
    return size_ <= limit ? size_ : -1;
  }

 private:
  int64_t size_;
};

// Where the size is not known without reading the data through, the WAV
// parser takes the data chunk's length as it claims it and the MP3 parser
// learns the size only once it found frames: zeros under an MP3's name are
// refused without it. A sound larger than 4 GiB is refused with its name,
// whether its size was known or learned.
TEST(MediaInfo, ASizeThatTakesReadingIsLearnedOnlyWhereNeeded) {
  auto info_of = [](TStream* s, const char16_t* name) {
    TMediaInfo info;
    TMediaInfoExtractor::Extract(name, s, info);
    return info;
  };
  std::vector<uint8_t> wav = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0,
                              1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0,
                              'd', 'a', 't', 'a', 0x10, 0xB1, 2, 0};  // one second claimed
  wav.resize(wav.size() + 4000);
  auto wave = MakeRef<TUnknownSize>(wav, int64_t(15) << 30);
  const TMediaInfo w = info_of(wave.get(), u"long.wav");
  EXPECT_EQ(w.FormatCode, kMediaPcm);
  EXPECT_EQ(w.DataLength, 176400u);
  EXPECT_EQ(w.Duration, 1000u);
  EXPECT_EQ(wave->learned, 0);

  const std::vector<uint8_t> frames = CbrFrames(400);
  auto known = BytesStream(frames);
  auto unknown = MakeRef<TUnknownSize>(frames, int64_t(frames.size()));
  const TMediaInfo a = info_of(known.get(), u"a.mp3"), b = info_of(unknown.get(), u"a.mp3");
  EXPECT_EQ(b.FormatCode, kMediaMpeg);
  EXPECT_EQ(b.DataLength, a.DataLength);
  EXPECT_EQ(b.Duration, a.Duration);
  EXPECT_EQ(unknown->learned, 1);

  auto zeros = MakeRef<TUnknownSize>(std::vector<uint8_t>(100000), int64_t(15) << 30);
  EXPECT_EQ(info_of(zeros.get(), u"z.mp3").FormatCode, 0);
  EXPECT_EQ(zeros->learned, 0);

  kav::test::TLogCapture log;
  auto huge = MakeRef<TUnknownSize>(frames, kMaxSoundFileSize + 1);
  EXPECT_EQ(info_of(huge.get(), u"Music\\huge.mp3").FormatCode, 0);
  struct TKnown : TMemoryStream {
    int64_t GetSize() override { return kMaxSoundFileSize + 1; }
  };
  auto claimed = MakeRef<TKnown>();
  claimed->WriteBytes(wav);
  claimed->SetPosition(0);
  EXPECT_EQ(info_of(claimed.get(), u"big.wav").FormatCode, 0);
  const auto lines = log.Take();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], u"The sound \"Music\\huge.mp3\" is refused: larger than 4 GiB, more than a sound can be "
                      u"(the player reads at most that much of one)");
  EXPECT_NE(lines[1].find(u"\"big.wav\" is refused"), std::u16string::npos);
  // The music player and kavpack say the refusal themselves, once, in the
  // same words, not as a damaged sound.
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& p) { said.push_back(p); });
  huge->SetPosition(0);
  EXPECT_EQ(SoundFileProblem(huge.get(), u"Music\\again.mp3"),
            u"larger than 4 GiB, more than a sound can be (the player reads at most that much of one)");
  SetShowProblemSink(nullptr);
  EXPECT_TRUE(said.empty());
}

TEST(MusicStreams, NamesShiftedStreamsAndTheFunctionTable) {
  EXPECT_EQ(MusicFileName(u"a.wma?3"), u"a.wma");
  EXPECT_EQ(MusicStreamIndex(u"a.wma?3"), 3);
  EXPECT_EQ(MusicFileName(u"a?b.wma"), u"a?b.wma");
  EXPECT_EQ(MusicFileName(u"a.wma?"), u"a.wma?");
  EXPECT_EQ(MusicStreamIndex(u"a.wma?99999999999"), 0);
  std::vector<uint8_t> bytes(100);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i);
  auto inner = BytesStream(bytes);
  auto shifted = MakeRef<TMp3ShiftStream>(inner, 40);
  EXPECT_EQ(shifted->GetSize(), 60);
  EXPECT_EQ(shifted->GetPosition(), 0);
  uint8_t b[4];
  const TSndStreamFunctions* f = MusicStreamFunctions();
  EXPECT_EQ(f->Read(shifted.get(), b, 4), 4);
  EXPECT_EQ(b[0], 40);
  EXPECT_EQ(f->Seek64(shifted.get(), -10, 2), 50);
  EXPECT_EQ(f->GetPosition(shifted.get()), 50);
  EXPECT_EQ(f->Seek(shifted.get(), 0, 7), -1);
  EXPECT_EQ(f->Read64(shifted.get(), b, kMaxMusicRead + 1), 0);
  EXPECT_THROW(shifted->SetSize(10), Exception);
  // The default opener gives null for a missing file; a close handler gets
  // the inner stream of a shifted one.
  EXPECT_FALSE(OpenMusicStream(u"/nonexistent/x.mp3", {}));
  struct Closer {
    TStream* seen = nullptr;
    void Close(TStream* s) { seen = s; }
  } closer;
  CloseMusicStream(shifted, TMusicCloseHandler::Bind<&Closer::Close>(&closer));
  EXPECT_EQ(closer.seen, inner.get());
}

}  // namespace
}  // namespace kav
