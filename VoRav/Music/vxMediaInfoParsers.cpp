#include "VoRav/Music/vxMediaInfoParsers.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "VoRav/Music/vxDllDec.h"
#include "VoRav/Music/vxFFMpegConverter.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"
#include "VoRav/vxSoundKind.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr uint16_t kBitrates[2][3][15] = {
    // MPEG 1: layer I, II, III
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    // MPEG 2 and 2.5
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr uint32_t kRates[4][3] = {{11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};

// How far the frame search looks past the ID3v2 tag.
constexpr int64_t kMaxFrameSearch = 1 << 20;
// The largest MPEG frame (layer II at 384 kbps and 8 kHz is below this).
constexpr int64_t kMaxFrameBytes = 8192;

uint32_t LE32(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t BE32(const uint8_t* p) { return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]); }

// Reads up to `count` bytes at `at`; the bytes actually there.
std::vector<uint8_t> ReadAt(TStream* stream, int64_t at, int64_t count) {
  std::vector<uint8_t> bytes;
  if (count <= 0 || at < 0) return bytes;
  stream->SetPosition(at);
  bytes.resize(size_t(count));
  const int64_t got = stream->Read(std::span<uint8_t>(bytes), count);
  bytes.resize(size_t(std::max<int64_t>(got, 0)));
  return bytes;
}

std::atomic<TMediaInfoFallback> g_fallback{nullptr};

bool EndsWithNoCase(const std::u16string& s, std::u16string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char16_t c = s[s.size() - tail.size() + i];
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
    if (c != tail[i]) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// MPEG frame headers

uint32_t TMpegHeader::BitrateKbps() const { return kBitrates[Version == 3 ? 0 : 1][3 - Layer][BitrateIndex]; }
uint32_t TMpegHeader::SampleRate() const { return kRates[Version][RateIndex]; }
uint32_t TMpegHeader::SamplesPerFrame() const {
  if (Layer == 3) return 384;
  if (Layer == 2) return 1152;
  return Version == 3 ? 1152 : 576;
}
// Samples per frame / 8 bytes per bit rate unit: 48 for layer I, 144 for
// layer II and MPEG-1 layer III, 72 for MPEG-2/2.5 layer III. Layers I and
// II of MPEG-2/2.5 keep the standard's 48 and 144 (half of those would never
// find the second frame of such files).
uint32_t TMpegHeader::FrameLength() const {
  const uint32_t rate = SampleRate();
  if (rate == 0) return 0;
  const uint32_t coefficient = SamplesPerFrame() / 8;
  return coefficient * BitrateKbps() * 1000 / rate + (Padding ? (Layer == 3 ? 4 : 1) : 0);
}

bool DecodeMpegHeader(const uint8_t* p, TMpegHeader& h) {
  if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
  h.Version = (p[1] >> 3) & 3;
  h.Layer = (p[1] >> 1) & 3;
  h.Protection = p[1] & 1;
  h.BitrateIndex = p[2] >> 4;
  h.RateIndex = (p[2] >> 2) & 3;
  h.Padding = (p[2] >> 1) & 1;
  h.Private = p[2] & 1;
  h.ChannelMode = p[3] >> 6;
  h.ModeExtension = (p[3] >> 4) & 3;
  h.Copyright = (p[3] >> 3) & 1;
  h.Original = (p[3] >> 2) & 1;
  h.Emphasis = p[3] & 3;
  return h.Version != 1 && h.Layer != 0 && h.BitrateIndex != 0 && h.BitrateIndex != 15 && h.RateIndex != 3 &&
         h.Emphasis != 2;
}

const char* MpegVersionName(uint8_t v) { return v == 3 ? "MPEG 1" : v == 2 ? "MPEG 2" : v == 0 ? "MPEG 2.5" : "MPEG ?"; }
const char* MpegLayerName(uint8_t l) { return l == 3 ? "Layer I" : l == 2 ? "Layer II" : l == 1 ? "Layer III" : "Layer ?"; }
const char* MpegChannelModeName(uint8_t m) {
  static const char* const kNames[4] = {"Stereo", "Joint Stereo", "Dual Channel", "Mono"};
  return kNames[m & 3];
}
const char* MpegEmphasisName(uint8_t e) {
  static const char* const kNames[4] = {"None", "50/15 ms", "Unknown", "CCIT J.17"};
  return kNames[e & 3];
}

// ---------------------------------------------------------------------------
// MPEG

bool ParseMpegInfo(TStream* stream, TMediaInfo& info, int64_t start, int64_t end) {
  // The file's size only where it is known without reading the data: an
  // inflated package entry's is learned below, once the data are MPEG.
  const int64_t known = stream->GetKnownSize();
  const bool to_learn = end < 0 && known < 0;
  if (end < 0 || (known >= 0 && end > known)) end = known < 0 ? std::numeric_limits<int64_t>::max() : known;
  if (start < 0 || start >= end) return false;
  int64_t offset = start;
  // An ID3v2 tag: skipped by its 28-bit size; one that claims to run past
  // the end leaves nothing to search.
  std::vector<uint8_t> head = ReadAt(stream, start, 10);
  if (head.size() == 10 && std::memcmp(head.data(), "ID3", 3) == 0 && head[3] != 255 && head[4] != 255) {
    const int64_t tag = (int64_t(head[6] & 0x7F) << 21 | int64_t(head[7] & 0x7F) << 14 | int64_t(head[8] & 0x7F) << 7 |
                         int64_t(head[9] & 0x7F)) + 10;
    offset += tag;
    if (offset >= end) return false;
  }
  // Frame search: a valid header followed, one frame later, by another.
  const std::vector<uint8_t> window =
      ReadAt(stream, offset, std::min(end - offset, kMaxFrameSearch + 3 * kMaxFrameBytes));
  const size_t n = window.size();
  TMpegHeader first{};
  size_t at = 0;
  bool found = false;
  for (; at + 4 <= n && at <= size_t(kMaxFrameSearch); ++at) {
    TMpegHeader h, next;
    if (!DecodeMpegHeader(&window[at], h)) continue;
    const size_t len = h.FrameLength();
    if (len < 4 || at + len + 4 > n || !DecodeMpegHeader(&window[at + len], next)) continue;
    first = h;
    found = true;
    break;
  }
  if (!found) return false;
  if (to_learn) {
    end = stream->GetSizeWithin(kMaxSoundFileSize);
    if (end < 0) throw ESoundTooLarge();
  }
  const int64_t data_offset = offset + int64_t(at);
  // Frame length: the largest of the first three frames.
  uint32_t frame_length = 0;
  for (size_t p = at, k = 0; k < 3 && p + 4 <= n; ++k) {
    TMpegHeader h;
    if (!DecodeMpegHeader(&window[p], h)) break;
    frame_length = std::max(frame_length, h.FrameLength());
    p += h.FrameLength();
  }
  // A Xing or VBRI summary in the first frame.
  const bool mono = first.ChannelMode == 3;
  const size_t side = first.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  const uint8_t* frame = &window[at];
  const size_t frame_bytes = std::min<size_t>(n - at, 1729);
  uint32_t frames = 0;
  bool summary = false;
  if (side + 16 <= frame_bytes && std::memcmp(frame + side, "Xing", 4) == 0) {
    summary = true;
    frames = BE32(frame + side + 8);
  } else if (36 + 18 <= frame_bytes && std::memcmp(frame + 36, "VBRI", 4) == 0) {
    // The VBRI summary sits 32 bytes after the header: version, delay and
    // quality (2 bytes each), then the byte and frame counts.
    summary = true;
    frames = BE32(frame + 36 + 14);
  }
  // An ID3v1 tag at the end is no audio.
  int64_t data_size = end - data_offset;
  if (data_size >= 128) {
    const std::vector<uint8_t> tail = ReadAt(stream, end - 128, 3);
    if (tail.size() == 3 && std::memcmp(tail.data(), "TAG", 3) == 0) data_size -= 128;
  }
  const uint32_t rate = first.SampleRate();
  const uint32_t kbps = first.BitrateKbps();
  const int64_t by_bitrate = data_size * 8 / kbps;
  int64_t duration = by_bitrate;
  if (summary && frames > 0) duration = int64_t(frames) * first.SamplesPerFrame() * 1000 / rate;

  info.FormatCode = kMediaMpeg;
  const uint16_t channels = mono ? 1 : 2;
  info.Format = TWaveFormat{kWaveFormatPcm, channels, rate, rate * 2 * channels, uint16_t(channels * 2), 16, 0};
  info.DataOffset = uint32_t(std::min<int64_t>(data_offset, UINT32_MAX));
  info.DataLength = uint32_t(std::min<int64_t>(data_size, UINT32_MAX));
  info.Duration = uint32_t(std::min<int64_t>(duration, UINT32_MAX));
  info.Duration2 = uint32_t(std::min<int64_t>(by_bitrate, UINT32_MAX));
  info.FrameLength = frame_length;
  info.Vbr = summary ? -1 : 0;
  if (summary && frames > 0)
    info.MsPerFrame = double(duration) / frames;
  else if (data_size > 0)
    info.MsPerFrame = double(frame_length) * double(duration) / double(data_size);
  return true;
}

int64_t MpegSeekPosition(TStream* stream, const TMediaInfo& info, double ms, double& reached) {
  reached = 0;
  int64_t begin = info.DataOffset;
  // The parser learned the size where it was not known; the data's length
  // bounds the walk all the same.
  const int64_t known = stream->GetKnownSize();
  const int64_t end = known < 0 ? begin + int64_t(info.DataLength) : std::min<int64_t>(begin + int64_t(info.DataLength), known);
  if (ms <= 0 || info.MsPerFrame <= 0 || info.FrameLength < 4) return begin;
  TMpegHeader first;
  std::vector<uint8_t> head = ReadAt(stream, begin, 40);
  if (head.size() < 40 || !DecodeMpegHeader(head.data(), first)) return -1;
  // A first frame that holds a summary ("Xing", "Info", "VBRI") carries no
  // audio: the time line starts after it.
  const bool mono = first.ChannelMode == 3;
  const size_t side = first.Version == 3 ? (mono ? 21 : 36) : (mono ? 13 : 21);
  if (std::memcmp(&head[side], "Xing", 4) == 0 || std::memcmp(&head[side], "Info", 4) == 0 ||
      std::memcmp(&head[36], "VBRI", 4) == 0)
    begin += first.FrameLength();
  if (info.Vbr == 0) {
    // Constant bit rate: the estimated frame, then forward to a header of the
    // first frame's length that is followed by another.
    const int64_t index = int64_t(ms / info.MsPerFrame);
    const double bytes_per_frame = double(info.DataLength) * info.MsPerFrame / std::max<double>(info.Duration, 1);
    int64_t guess = begin + int64_t(double(index) * bytes_per_frame);
    if (guess >= end) return -1;
    std::vector<uint8_t> w = ReadAt(stream, guess, std::min<int64_t>(end - guess, 4 * kMaxFrameBytes));
    const uint32_t want = first.FrameLength();
    for (size_t i = 0; i + 4 <= w.size(); ++i) {
      TMpegHeader h, next;
      if (!DecodeMpegHeader(&w[i], h)) continue;
      const uint32_t len = h.FrameLength();
      if (len + 1 < want || len > want + 1) continue;
      if (i + len + 4 <= w.size() && !DecodeMpegHeader(&w[i + len], next)) continue;
      const int64_t pos = guess + int64_t(i);
      reached = double(pos - begin) / bytes_per_frame * info.MsPerFrame;
      return pos;
    }
    return -1;
  }
  // Variable bit rate: walk the frames.
  int64_t pos = begin;
  double t = 0;
  uint8_t h4[4];
  while (t + info.MsPerFrame <= ms && pos < end) {
    stream->SetPosition(pos);
    if (stream->Read(std::span<uint8_t>(h4), 4) < 4) break;
    TMpegHeader h;
    if (!DecodeMpegHeader(h4, h) || h.FrameLength() < 4) break;
    pos += h.FrameLength();
    t += info.MsPerFrame;
  }
  reached = t;
  return std::min(pos, end);
}

// ---------------------------------------------------------------------------
// RIFF

bool ParseRiffInfo(TStream* stream, TMediaInfo& info) {
  // Chunks are clipped to the file only where its size is known without
  // reading it through (an inflated package entry's is not): the data
  // chunk then keeps the length it claims, and the decoder stops where the
  // data end.
  const int64_t known = stream->GetKnownSize();
  const int64_t size = known < 0 ? std::numeric_limits<int64_t>::max() : known;
  std::vector<uint8_t> head = ReadAt(stream, 0, 12);
  if (head.size() < 12 || std::memcmp(head.data(), "RIFF", 4) != 0 || std::memcmp(head.data() + 8, "WAVE", 4) != 0)
    return false;
  bool have_format = false, have_data = false;
  uint16_t tag = 0;
  TWaveFormat f;
  int64_t data_offset = 0, data_length = 0;
  int64_t at = 12;
  for (int chunks = 0; at + 8 <= size && chunks < 10000 && !(have_format && have_data); ++chunks) {
    std::vector<uint8_t> ch = ReadAt(stream, at, 8);
    if (ch.size() < 8) break;
    const int64_t body = at + 8;
    // A chunk running past the end of the file is clipped to it.
    const int64_t length = std::min<int64_t>(LE32(ch.data() + 4), size - body);
    if (std::memcmp(ch.data(), "fmt ", 4) == 0 && length >= 16) {
      std::vector<uint8_t> fm = ReadAt(stream, body, std::min<int64_t>(length, 40));
      if (fm.size() < 16) return false;
      tag = LE16(&fm[0]);
      f.Channels = LE16(&fm[2]);
      f.SamplesPerSec = LE32(&fm[4]);
      f.AvgBytesPerSec = LE32(&fm[8]);
      f.BlockAlign = LE16(&fm[12]);
      f.BitsPerSample = LE16(&fm[14]);
      // An extensible header names its real format in its sub-format GUID.
      static const uint8_t kSubTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                           0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
      if (tag == 0xFFFE) {
        tag = fm.size() >= 40 && std::memcmp(&fm[26], kSubTail, 14) == 0 ? LE16(&fm[24]) : 0xFFFE;
        if (tag != kWaveFormatPcm && tag != kWaveFormatFloat) return false;
      }
      have_format = true;
    } else if (std::memcmp(ch.data(), "data", 4) == 0) {
      data_offset = body;
      data_length = length;
      have_data = true;
    }
    // Chunks are word-aligned: an odd size is followed by a pad byte.
    at = body + length + (length & 1);
  }
  if (!have_format || !have_data) return false;
  // MPEG audio inside RIFF (format tags 0x50 and 0x55) goes to the MPEG
  // parser; other compressed tags are not read as MPEG.
  if (tag == 0x50 || tag == 0x55) {
    if (!ParseMpegInfo(stream, info, data_offset, data_offset + data_length)) return false;
    info.Filled = 1;
    return true;
  }
  uint8_t code = 0;
  const uint32_t bits = f.BitsPerSample;
  if (f.Channels == 0 || f.SamplesPerSec == 0 || f.SamplesPerSec > 768000) return false;
  if (tag == kWaveFormatPcm) {
    // 8 to 32 bits; 6 channels only as 16-bit (folded to stereo); the block
    // alignment and byte rate follow from them.
    if (bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    if (f.Channels > 2 && !(f.Channels == 6 && bits == 16)) return false;
    code = kMediaPcm;
    f.ExtraSize = 0;
  } else if (tag == kWaveFormatFloat) {
    if (bits != 32 || f.Channels > 2) return false;
    code = kMediaFloat;
    f.ExtraSize = 0;
  } else if (tag == kWaveFormatAdpcm) {
    if (f.Channels > 2 || bits != 4 || f.BlockAlign < 7 * f.Channels || f.AvgBytesPerSec == 0) return false;
    code = kMediaAdpcm;
    f.ExtraSize = 32;
  } else {
    return false;
  }
  if (code != kMediaAdpcm) {
    f.BlockAlign = uint16_t(f.Channels * bits / 8);
    f.AvgBytesPerSec = f.SamplesPerSec * f.BlockAlign;
  }
  f.FormatTag = tag;
  info.FormatCode = code;
  info.Format = f;
  info.DataOffset = uint32_t(std::min<int64_t>(data_offset, UINT32_MAX));
  info.DataLength = uint32_t(std::min<int64_t>(data_length, UINT32_MAX));
  info.Duration = uint32_t(std::llround(double(data_length) / f.AvgBytesPerSec * 1000));
  info.Filled = 1;
  return true;
}

// ---------------------------------------------------------------------------

TMediaInfoFallback SetMediaInfoFallback(TMediaInfoFallback fallback) { return g_fallback.exchange(fallback); }

bool TMediaInfoExtractor::Extract(const std::u16string& name, TStream* stream, TMediaInfo& info,
                                  std::u16string* refusal) {
  info = TMediaInfo{};
  if (!stream) return false;
  bool done = false, try_fallback = true;
  const std::u16string file = MusicFileName(name);
  try {
    if (stream->GetKnownSize() > kMaxSoundFileSize) throw ESoundTooLarge();
    std::vector<uint8_t> magic = ReadAt(stream, 0, 4);
    const TSoundKind kind = SoundKindOfStream(stream);
    // Departure: the data's kind decides before the name (an Ogg or a WAV
    // saved as ".mp3" plays; an MP3 under any name does).
    const bool named_mpeg = kind != TSoundKind::Ogg && kind != TSoundKind::Asf &&
                            (EndsWithNoCase(file, u".mp3") || EndsWithNoCase(file, u".mp2") ||
                             EndsWithNoCase(file, u".mp1"));
    if (magic.size() == 4 && std::memcmp(magic.data(), "RIFF", 4) == 0) {
      done = ParseRiffInfo(stream, info);
    } else if (kind == TSoundKind::Mpeg || named_mpeg) {
      done = ParseMpegInfo(stream, info);
      try_fallback = !named_mpeg;
    }
  } catch (const ESoundTooLarge&) {
    // Departure: refused with the reason, not handed to a decoder that
    // could use only part of it.
    const std::u16string why = u"larger than " + UTF8Decode(std::to_string(kMaxSoundFileSize >> 30)) +
                               u" GiB, more than a sound can be (the player reads at most that much of one)";
    LogLine(u"The sound \"" + file + u"\" is refused: " + why);
    if (refusal) *refusal = why;
    else ReportShowProblem(TShowProblemKind::File, file, why);
    info = TMediaInfo{};
    return false;
  } catch (const Exception&) {
    done = false;
  }
  if (!done) {
    info = TMediaInfo{};
    TMediaInfoFallback fallback = g_fallback.load();
    if (try_fallback && fallback) {
      try {
        stream->SetPosition(0);
        done = fallback(name, stream, info);
      } catch (const Exception&) {
        done = false;
      }
      if (!done) info = TMediaInfo{};
    }
  }
  return done;
}

int64_t SoundFileLength(TStream* stream, const std::u16string& name) {
  TMediaInfo info;
  if (!TMediaInfoExtractor::Extract(name, stream, info) || info.Duration == 0) return -1;
  return int64_t(info.Duration);
}

std::u16string SoundFileProblem(TStream* stream, const std::u16string& name, TMediaInfo* info) {
  TMediaInfo read;
  std::u16string refusal;
  if (TMediaInfoExtractor::Extract(name, stream, read, &refusal)) {
    if (info) *info = read;
    return {};
  }
  return refusal.empty() ? UnplayableSoundReason(stream) : refusal;
}

void InstallSoundDecoders() {
  // The paths only name the modules; a path a show gives is never loaded.
  if (!LoadWmaPlugin(u"kavwma.dll")) LogLine(u"WMA INITIALIZE FAILED");
  if (!LoadOggPlugin(u"kavogg.dll")) LogLine(u"OGG INITIALIZE FAILED");
  // The media library is linked in: binding it (once per process) makes the
  // other formats playable.
  InstallMediaLibraryAudio();
}

}  // namespace kav
