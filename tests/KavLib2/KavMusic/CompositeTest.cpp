// Composite descriptions: the text, envelopes against their formula, and
// the mix of items made at test time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "KavLib2/KavMusic/KavCompositeConverter.h"
#include "VoRav/Music/MusicChannel.h"
#include "VoRav/Music/vxFFMpegConverter.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxSoundKind.h"
#include "VoRav/vxUTF8.h"
#include "tests/VoRav/Graphics/FuzzSeeds.h"
#include "tests/VoRav/LogCapture.h"
#include "tests/VoRav/Music/AudioMedia.h"

namespace kav {
namespace {

std::string LevelWav(test::TAudioMedia& media, const std::string& name, double seconds, int16_t level,
                     uint32_t rate = 44100) {
  return media.Level(name, seconds, level, rate);
}

std::vector<int16_t> Mix(const std::u16string& text, double seek_ms = 0, int blocks = 100) {
  auto conv = MakeRef<TCompositeConverter>(text, nullptr, nullptr);
  TMediaInfo info;
  EXPECT_TRUE(conv->SetInputFormat(info));
  if (seek_ms > 0) conv->Seek(seek_ms);
  std::vector<int16_t> out;
  for (int i = 0; i < blocks; ++i) {
    const bool more = conv->Convert();
    TLocalBuffer& o = conv->Output();
    const int16_t* s = reinterpret_cast<const int16_t*>(o.Data());
    out.insert(out.end(), s, s + o.Used() / 2);
    o.Consume(o.Used());
    if (!more) break;
  }
  return out;
}

TEST(Composite, TextRoundTripsAndIsCheckedAsMedia) {
  TCompositeParams p;
  p.Duration = 5000;
  TCompositeItem item;
  item.FileName = u"music\\a b.mp3";
  item.TimeLine = 100;
  item.BeginTime = 200;
  item.Duration = 3000;
  TVolumeParams env;
  env.Points = {{0, 0}, {500, 1000}};
  item.Envelopes = {env};
  p.Items = {item};
  p.MainVolume = {env};
  const std::u16string text = p.Write();
  EXPECT_TRUE(IsCompositeName(text));
  TCompositeParams q;
  ASSERT_TRUE(q.Parse(text));
  EXPECT_EQ(q.Duration, 5000);
  ASSERT_EQ(q.Items.size(), 1u);
  EXPECT_EQ(q.Items[0].FileName, item.FileName);
  EXPECT_EQ(q.Items[0].TimeLine, 100);
  EXPECT_EQ(q.Items[0].BeginTime, 200);
  ASSERT_EQ(q.Items[0].Envelopes.size(), 1u);
  EXPECT_EQ(q.Items[0].Envelopes[0].Points.size(), 2u);
  ASSERT_EQ(q.MainVolume.size(), 1u);
  // As media: a positive duration and an item.
  InstallCompositeHooks();
  TMediaInfo info;
  ASSERT_TRUE(MediaInfoHook()(text, info));
  EXPECT_EQ(info.FormatCode, kMediaComposite);
  EXPECT_EQ(info.Duration, 5000u);
  p.Duration = 0;
  EXPECT_FALSE(MediaInfoHook()(p.Write(), info));
  p.Duration = 5000;
  p.Items.clear();
  EXPECT_FALSE(MediaInfoHook()(p.Write(), info));
  EXPECT_FALSE(MediaInfoHook()(u"plain.mp3", info));
  // A fade count outside 0..16 is refused.
  EXPECT_TRUE(q.Parse(std::u16string(kCompositeMarker) + u"[Main]\nDuration=10\n[0]\nFileName=x\nFadeCount=16\n"));
  EXPECT_FALSE(q.Parse(std::u16string(kCompositeMarker) + u"[Main]\nDuration=10\n[0]\nFileName=x\nFadeCount=17\n"));
  EXPECT_FALSE(q.Parse(std::u16string(kCompositeMarker) + u"[Main]\nDuration=10\n[0]\nFileName=x\nFadeCount=-1\n"));
}

TEST(Composite, EnvelopesFollowTheirFormula) {
  TVolumeParams e;
  e.Points = {{1000, 500}, {0, 0}, {1000, 1000}};  // equal times: the later stays
  e.Compile(2000);
  ASSERT_EQ(e.Steps.size(), 3u);
  EXPECT_EQ(e.Steps[1].Position, 44100);
  EXPECT_DOUBLE_EQ(e.Steps[1].Gain, 1.0);
  EXPECT_TRUE(e.Steps[0].Flat);
  EXPECT_TRUE(e.Steps[2].Flat);  // held to the end
  for (int64_t f : {0, 4, 1000, 22050, 44099, 44100, 60000, 88200, 100000}) {
    const double want = f >= 44100 ? 1.0 : double(f) / 44100;
    EXPECT_NEAR(e.GainAt(f), want, 1e-9) << f;
  }
}

TEST(Composite, ItemsAreMixedUnderTheirEnvelopesAndClipped) {
  test::TAudioMedia media;
  const std::string a = LevelWav(media, "a.wav", 2.0, 20000);
  const std::string b = LevelWav(media, "b.wav", 2.0, 20000);
  const std::string quiet = LevelWav(media, "q.wav", 2.0, 1234, 22050);
  TCompositeParams p;
  p.Duration = 3000;
  TCompositeItem ia{SystemUTF8ToWide(a), 0, 0, 1000, {}};
  TCompositeItem ib{SystemUTF8ToWide(b), 500, 0, 1000, {}};
  TCompositeItem iq{SystemUTF8ToWide(quiet), 1600, 0, 1000, {}};
  TVolumeParams fade;
  fade.Points = {{0, 0}, {200, 1000}};  // 200 ms rise
  iq.Envelopes = {fade};
  p.Items = {ia, ib, iq};
  const auto out = Mix(p.Write());
  ASSERT_GE(out.size(), size_t(3 * 44100 * 2));
  auto left = [&](int64_t frame) { return out[size_t(frame) * 2]; };
  const int64_t at500 = TrackFrames(500), at1000 = TrackFrames(1000), at1500 = TrackFrames(1500);
  const int64_t at1600 = TrackFrames(1600);
  EXPECT_EQ(left(0), 20000);  // gain exactly 1: bit for bit
  EXPECT_EQ(left(at500 - 1), 20000);
  EXPECT_EQ(left(at500), 32767);  // the overlap clips, not wraps
  EXPECT_EQ(left(at1000 - 1), 32767);
  EXPECT_EQ(left(at1000), 20000);
  EXPECT_EQ(left(at1500 - 1), 20000);
  EXPECT_EQ(left(at1500), 0);
  // The quiet item at 22,050 Hz, resampled, rising over 200 ms.
  const int64_t rise = CompositeFrames(200);
  for (int64_t f = 1000; f < rise; f += 997) {
    const double g = double(f) / double(rise);
    EXPECT_NEAR(left(at1600 + f), 1234 * g, 2) << f;
  }
  EXPECT_NEAR(left(at1600 + rise + 100), 1234, 1);
  // The mix ends at the track's duration, within its last block: what
  // follows (its next repetition) joins it there.
  EXPECT_EQ(out.size(), size_t(TrackFrames(3000)) * 2);
  auto conv = MakeRef<TCompositeConverter>(p.Write(), nullptr, nullptr);
  ASSERT_TRUE(conv->SetInputFormat(TMediaInfo{}));
  conv->Seek(3000);
  EXPECT_FALSE(conv->Convert());
  EXPECT_EQ(conv->Output().Used(), 0u);
  // A seek into the middle of the first item starts there.
  const auto later = Mix(p.Write(), 700, 2);
  EXPECT_EQ(later[0], 32767);
  EXPECT_EQ(later[size_t(at1000 - TrackFrames(700)) * 2], 20000);
}

TEST(Composite, MissingFilesAreSilenceAndTheMainVolumeScales) {
  test::TAudioMedia media;
  const std::string a = LevelWav(media, "a.wav", 1.0, 10000);
  TCompositeParams p;
  p.Duration = 1000;
  p.Items = {{u"/nonexistent/x.wav", 0, 0, 1000, {}}, {SystemUTF8ToWide(a), 0, 0, 1000, {}}};
  TVolumeParams half;
  half.Points = {{0, 500}};
  p.MainVolume = {half};
  // The missing one is said to the show's author, as a missing picture is.
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& problem) { said.push_back(problem); });
  const auto out = Mix(p.Write());
  SetShowProblemSink(nullptr);
  ASSERT_EQ(said.size(), 1u);
  EXPECT_EQ(ShowProblemText(said[0]), u"/nonexistent/x.wav: no such file");
  EXPECT_TRUE(said[0].Error);
  ASSERT_GE(out.size(), 44100u * 2);
  EXPECT_EQ(out[0], 5000);
  EXPECT_EQ(out[44000 * 2], 5000);
  // Envelopes without points change nothing, however many there are.
  p.Items[1].Envelopes.assign(size_t(kMaxEnvelopeCount), TVolumeParams{});
  p.MainVolume.resize(size_t(kMaxEnvelopeCount));
  EXPECT_EQ(Mix(p.Write()), out);
}

// A file no decoder reads is said to the show's author with what to do and
// logged as a "Music:" line (it played nothing without a word): a text (a
// download that failed) and an empty file, under a sound's name.
TEST(Composite, AFileThatIsNoSoundIsSaidAndLogged) {
  test::TAudioMedia media;
  const std::string text = media.Path("page.mp3"), empty = media.Path("empty.mp3");
  const std::string page = "<!DOCTYPE html>\n<html><body>404 Not Found</body></html>\n";
  test::WriteFileBytes(text, std::vector<uint8_t>(page.begin(), page.end()));
  test::WriteFileBytes(empty, {});
  TCompositeParams p;
  p.Duration = 500;
  p.Items = {{SystemUTF8ToWide(text), 0, 0, 500, {}}, {SystemUTF8ToWide(empty), 0, 0, 500, {}}};
  std::vector<TShowProblem> said;
  SetShowProblemSink([&said](const TShowProblem& problem) { said.push_back(problem); });
  test::TLogCapture log;
  const auto out = Mix(p.Write());
  SetShowProblemSink(nullptr);
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t v) { return v == 0; }));
  const std::u16string text_reason =
      u"a text file, not a sound (a download that failed?): download or export the sound again";
  ASSERT_EQ(said.size(), 2u);
  EXPECT_EQ(ShowProblemText(said[0]), SystemUTF8ToWide(text) + u": " + text_reason);
  EXPECT_EQ(ShowProblemText(said[1]), SystemUTF8ToWide(empty) + u": " + kEmptyShowFile);
  EXPECT_FALSE(said[0].Error);
  size_t music_lines = 0;
  for (const std::u16string& line : log.Lines())
    music_lines += line.find(u"Music: \"" + SystemUTF8ToWide(text) + u"\" does not play: " + text_reason) !=
                   std::u16string::npos;
  EXPECT_EQ(music_lines, 1u);

  // A video clip's sound track that is not there (a clip without sound) is
  // silence by design: logged, not said to the author.
  p.Items = {{SystemUTF8ToWide(text), 0, 0, 500, {}}};
  p.Items[0].ClipSound = true;
  TCompositeParams parsed;
  ASSERT_TRUE(parsed.Parse(p.Write()));
  EXPECT_TRUE(parsed.Items[0].ClipSound);
  said.clear();
  SetShowProblemSink([&said](const TShowProblem& problem) { said.push_back(problem); });
  test::TLogCapture clip_log;
  Mix(p.Write());
  SetShowProblemSink(nullptr);
  EXPECT_TRUE(said.empty());
  size_t clip_lines = 0;
  for (const std::u16string& line : clip_log.Lines())
    clip_lines += line.find(u"has no sound the player plays") != std::u16string::npos;
  EXPECT_EQ(clip_lines, 1u);
}

// A RIFF file of one format chunk and `data`, written by hand.
std::string HandWav(test::TAudioMedia& media, const std::string& name, uint16_t tag, uint16_t channels,
                    uint16_t bits, const std::vector<uint8_t>& data, uint32_t rate = 44100) {
  std::vector<uint8_t> b = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 16, 0, 0, 0};
  auto le = [&b](uint32_t v, int n) {
    for (int k = 0; k < n; ++k) b.push_back(uint8_t(v >> (8 * k)));
  };
  const uint32_t align = uint32_t(channels) * std::max<uint32_t>(bits / 8, 1);
  le(tag, 2), le(channels, 2), le(rate, 4), le(rate * align, 4), le(align, 2), le(bits, 2);
  b.insert(b.end(), {'d', 'a', 't', 'a'});
  le(uint32_t(data.size()), 4);
  b.insert(b.end(), data.begin(), data.end());
  const uint32_t riff = uint32_t(b.size() - 8);
  for (int k = 0; k < 4; ++k) b[4 + size_t(k)] = uint8_t(riff >> (8 * k));
  const std::string out = media.Path(name);
  test::WriteFileBytes(out, b);
  return out;
}

TEST(Composite, ASoundThatYieldsNoSamplesIsSilence) {
  // As the music player has it: the media library takes what the parsers
  // do not.
  InstallMediaLibraryAudio();
  test::TAudioMedia media;
  const std::string tune = LevelWav(media, "tune.wav", 0.5, 12000);
  std::vector<uint8_t> noise(8000);
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t(i * 37 + 11);
  // 255 channels whose data holds less than one frame (510 bytes).
  const std::string wide = HandWav(media, "wide.wav", 1, 255, 16, std::vector<uint8_t>(noise.begin(), noise.begin() + 300));
  const std::string mpeg = HandWav(media, "mpeg.wav", 0x55, 2, 0, noise);
  struct TCase {
    std::string file;
    int32_t begin;
  };
  // Played from past the tune's end; 255 channels and not one frame; MPEG
  // in RIFF that is no MPEG. Each as the only item, and beside a sound that plays.
  for (const TCase& c : {TCase{tune, 2000}, TCase{wide, 0}, TCase{mpeg, 0}}) {
    TCompositeParams p;
    p.Duration = 600;
    p.Items = {{SystemUTF8ToWide(c.file), 0, c.begin, 600, {}}};
    const auto alone = Mix(p.Write());
    ASSERT_EQ(alone.size(), size_t(TrackFrames(600)) * 2) << c.file;  // to the track's end, no further
    EXPECT_TRUE(std::all_of(alone.begin(), alone.end(), [](int16_t v) { return v == 0; })) << c.file;
    p.Items.push_back({SystemUTF8ToWide(tune), 100, 0, 400, {}});
    const auto beside = Mix(p.Write());
    ASSERT_EQ(beside.size(), alone.size()) << c.file;
    EXPECT_EQ(beside[0], 0) << c.file;
    EXPECT_EQ(beside[size_t(TrackFrames(300)) * 2], 12000) << c.file;
  }
  UninstallMediaLibraryAudio();
}

// One rising tone cut into pieces of other rates, channel counts, widths and
// short lengths, each piece a file going on in phase from the one before:
// played one after another as a track's items they must be the tone, with
// no sample dropped, held back or moved at a join. A resampled piece held
// back its last input frame's output samples (3 to 5 of them zero at the
// join after a 22,050 Hz piece), and items placed on multiples of four
// frames left every second join of 60 ms items 4 frames of silence.
namespace tone {
constexpr double kAmp = 12000, kF0 = 200, kRise = 100;  // Hz, Hz a second
double At(double seconds) {
  const double cycles = kF0 * seconds + kRise * seconds * seconds / 2;
  return kAmp * std::sin(2 * std::numbers::pi * cycles);
}
struct TPiece {
  uint32_t rate;
  uint16_t channels, bits;
  int32_t ms;
};
// The piece from `from_ms` as a RIFF file of its own format.
std::string Wav(test::TAudioMedia& media, const std::string& name, const TPiece& p, int32_t from_ms) {
  const int64_t first = int64_t(from_ms) * p.rate / 1000, frames = int64_t(p.ms) * p.rate / 1000;
  EXPECT_EQ(frames * 1000, int64_t(p.ms) * p.rate) << name << ": not a whole number of frames";
  EXPECT_EQ(first * 1000, int64_t(from_ms) * p.rate) << name << ": does not begin on a whole frame";
  std::vector<uint8_t> data;
  for (int64_t f = first; f < first + frames; ++f) {
    const long v = std::lround(At(double(f) / p.rate));
    for (int c = 0; c < p.channels; ++c) {
      if (p.bits == 8) {
        data.push_back(uint8_t(std::clamp(128 + (v >> 8), 0L, 255L)));
      } else {
        data.push_back(uint8_t(v));
        data.push_back(uint8_t(v >> 8));
      }
    }
  }
  return HandWav(media, name, 1, p.channels, p.bits, data, p.rate);
}
}  // namespace tone

TEST(Composite, ItemsOfAnyFormatAndLengthJoinSampleForSample) {
  test::TAudioMedia media;
  // Each piece begins on a whole frame of its own rate (a 11,025 Hz one on
  // 40 ms), as a tone cut into files does.
  std::vector<tone::TPiece> pieces = {{22050, 2, 16, 400}, {44100, 2, 16, 80}, {22050, 1, 16, 60},
                                      {44100, 2, 16, 50},  {32000, 2, 16, 50}, {11025, 1, 8, 80},
                                      {48000, 2, 16, 60},  {22050, 2, 16, 80}};
  for (int k = 0; k < 8; ++k) pieces.push_back({44100, 2, 16, 60});
  pieces.push_back({22050, 2, 16, 200});
  TCompositeParams p;
  std::vector<int32_t> joins;
  int32_t at = 0;
  for (size_t i = 0; i < pieces.size(); ++i) {
    const std::string file = tone::Wav(media, "piece" + std::to_string(i) + ".wav", pieces[i], at);
    p.Items.push_back({SystemUTF8ToWide(file), at, 0, pieces[i].ms, {}});
    at += pieces[i].ms;
    joins.push_back(at);
  }
  p.Duration = at;
  const auto out = Mix(p.Write());
  // As long as the track, to the frame.
  EXPECT_EQ(out.size(), size_t(int64_t(at) * kOutputRate / 1000) * 2);
  // The tone within what the formats keep of it: the three-point resampler
  // and 8-bit samples stray from it by a few hundredths; a dropped or moved
  // sample at a join by thousands.
  constexpr double kTolerance = 0.03 * tone::kAmp;
  for (size_t f = 0; f < out.size() / 2; ++f) {
    const double want = tone::At(double(f) / kOutputRate);
    const int32_t ms = int32_t(f * 1000 / kOutputRate);
    const int32_t join = *std::min_element(joins.begin(), joins.end(), [ms](int32_t a, int32_t b) {
      return std::abs(a - ms) < std::abs(b - ms);
    });
    for (int c = 0; c < 2; ++c)
      ASSERT_NEAR(out[2 * f + size_t(c)], want, kTolerance)
          << "frame " << f << " (" << ms << " ms; the nearest join at " << join << " ms)";
  }
}

TEST(Composite, FuzzSeedsRunCleanly) {
  EXPECT_GE(test::RunFuzzSeeds("composite", &FuzzCompositeDescription), 2);
}

}  // namespace
}  // namespace kav
