#include "VoRav/Music/vxFFMpegConverter.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "VoRav/Music/vxDllDec.h"
#include "VoRav/Music/vxMusicStreams.h"
#include "VoRav/wpLoadCallBack.h"

namespace kav {

namespace {

std::mutex g_audio_lock;
TFFMpegDll* g_audio_dll = nullptr;

// Whence value with which the library asks for the size.
constexpr int32_t kWhenceSize = 0x10000;
// The most channels taken from the library (5.1; more are dropped).
constexpr int32_t kMaxChannels = 6;
// Seeks that land after the wanted time are retried this much earlier.
constexpr double kSeekBackMs = 1000;

int32_t StreamRead(void* opaque, uint8_t* buffer, int32_t size) {
  const int64_t n = MusicStreamRead(static_cast<TStream*>(opaque), buffer, size);
  return n < 0 ? -1 : int32_t(n);
}

int64_t StreamSeek(void* opaque, int64_t offset, int32_t whence) {
  auto* stream = static_cast<TStream*>(opaque);
  if (whence == kWhenceSize) return MusicStreamGetSize(stream);
  // The media library asks the size by a seek from the end when the size
  // query fails: a stream whose size is not known before it is read
  // through (an inflated package entry) refuses it, as a stream from the
  // network does, instead of being inflated whole for it.
  if (whence == SEEK_END && MusicStreamGetSize(stream) < 0) return -1;
  return MusicStreamSeek(stream, offset, whence);
}

TMediaIO StreamIO(TStream* stream) {
  TMediaIO io;
  io.Opaque = stream;
  io.Read = &StreamRead;
  io.Seek = &StreamSeek;
  return io;
}

// The library's audio format, or false when it is none the output can take.
bool AudioFormatOf(TFFMpegDll* dll, TMediaRecord* media, TWaveFormat& format) {
  TMediaAudioInfo ai;
  if (!media || media->AudioStream == 0 || dll->GetAudioInfo(media, &ai) != 0) return false;
  if (ai.SampleRate < 100 || ai.SampleRate > 384000 || ai.Channels < 1) return false;
  // The library delivers 16-bit samples, here up to six channels, which
  // the resampler folds to two.
  const uint16_t channels = uint16_t(std::min(ai.Channels, kMaxChannels));
  format = TWaveFormat{kWaveFormatPcm, channels, uint32_t(ai.SampleRate), uint32_t(ai.SampleRate) * channels * 2,
                       uint16_t(channels * 2), 16, 0};
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// Converter

TFFMpegConverter::TFFMpegConverter(const std::u16string& name)
    : name_(MusicFileName(name)), dll_(AcquireFFMpegDll(u"")) {}

bool TFFMpegConverter::SetInputFormat(const TMediaInfo& info) {
  // Opened over the channel's stream, never by the name: the name is a
  // show's, and the stream already reads the show's entry.
  if (!stream_ || media_) return false;
  MusicStreamSeek(stream_.get(), 0, 0);
  io_ = StreamIO(stream_.get());
  media_ = dll_->OpenMedia(u"qwe" + name_, &io_);
  if (!AudioFormatOf(dll_, media_, source_)) return false;
  TMediaAudioParams params;
  params.MaxChannels = kMaxChannels;
  if (dll_->OpenAudio(media_, &params) <= 0) return false;
  at_start_ = true;
  TMediaInfo pcm = info;
  pcm.FormatCode = kMediaLibrary;
  pcm.Format = source_;
  if (!TWavConverter::SetInputFormat(pcm)) return false;
  const TWaveFormat& out = kOutputWaveFormat;
  if (source_.SamplesPerSec != out.SamplesPerSec || source_.Channels != out.Channels) {
    resampler_ = std::make_unique<TPcmResampler>(source_, out);
    output_->Format = out;
  }
  return true;
}

bool TFFMpegConverter::ReadChunk() {
  if (!media_ || ended_) return false;
  // Blocks dropped after a seek do not count as reads: up to a bounded
  // number of them is decoded in one call, the rest in the next calls.
  for (int guard = 0; guard < 256; ++guard) {
    int32_t size = 0;
    if (dll_->NextAudioFrame(media_, size) <= 0 || size <= 0) {
      ended_ = true;
      return false;
    }
    at_start_ = false;
    const uint8_t* data = media_->AudioBuffer;
    size_t n = size_t(size);
    const size_t skip = std::min(drop_bytes_, n);
    drop_bytes_ -= skip;
    data += skip;
    n -= skip;
    if (n > 0) {
      input_->Append(data, n);
      return true;
    }
    CallLoadCallback(this);
  }
  return true;  // nothing yet, data remains
}

void TFFMpegConverter::Seek(double ms) {
  ms = std::max(ms, 0.0);
  input_->Clear();
  output_->Clear();
  if (resampler_) resampler_->Reset();
  time_ = ms;
  drop_bytes_ = 0;
  ended_ = false;
  if (!media_ || source_.BlockAlign == 0) return;
  // A freshly opened file is left where it is. A seek to 0 otherwise goes
  // back to the file's first packet, before time 0 where an encoder put
  // priming (AAC), and decodes from there as on opening.
  if (ms == 0 && at_start_) return;
  at_start_ = false;
  // The library seeks to a packet at or before the time asked for; one
  // that lands later (a coarse index) is asked again further back.
  double landed = 0;
  for (int attempt = 0; attempt < 4; ++attempt) {
    const double target = std::max(ms - attempt * kSeekBackMs, 0.0);
    dll_->Seek(media_, int64_t(std::llround(target * 1000)));
    dll_->AfterAudioSeek(media_);
    const int64_t pts = dll_->CurrentPtsMs(media_, media_->AudioStream);
    // Without a time the seek is taken as exact; priming before 0 is
    // dropped by the decoder itself.
    landed = pts == kNoPts ? target : std::max(double(pts), 0.0);
    if (landed <= ms || target == 0) break;
  }
  const double ahead = std::max(ms - landed, 0.0);
  drop_bytes_ = size_t(std::llround(ahead / 1000.0 * source_.SamplesPerSec)) * source_.BlockAlign;
}

void TFFMpegConverter::Dispose() {
  if (media_) {
    dll_->CloseAudio(media_);
    dll_->CloseMedia(media_);
    media_ = nullptr;
  }
  ReleaseFFMpegDll(dll_);
  TWavConverter::Dispose();
}

// ---------------------------------------------------------------------------
// Binding, media information, factory

bool EnsureFFMpegDll(const std::u16string& path) {
  std::lock_guard<std::mutex> hold(g_audio_lock);
  if (!g_audio_dll) {
    try {
      g_audio_dll = AcquireFFMpegDll(path);
    } catch (const Exception&) {
      g_audio_dll = nullptr;
    }
  }
  return g_audio_dll != nullptr;
}

// Released by the uninstall rather than at exit: threads may still decode
// while the process ends, and the binding stays whole for them.
void ReleaseAudioFFMpegDll() {
  std::lock_guard<std::mutex> hold(g_audio_lock);
  if (g_audio_dll) ReleaseFFMpegDll(g_audio_dll);
}

bool MediaLibraryInfo(const std::u16string& file, int32_t, TStream* stream, TMediaInfo& info) {
  // The number after a "?" chose a stream of the original library; this
  // library takes the file's best audio stream, so the number is not used.
  TFFMpegDll* dll = nullptr;
  {
    // A user of its own for the call, so an uninstall meanwhile cannot
    // free the binding under it.
    std::lock_guard<std::mutex> hold(g_audio_lock);
    if (!g_audio_dll || !stream) return false;
    dll = AcquireFFMpegDll(u"");
  }
  struct TRelease {
    TFFMpegDll*& dll;
    ~TRelease() { ReleaseFFMpegDll(dll); }
  } release{dll};
  MusicStreamSeek(stream, 0, 0);
  TMediaIO io = StreamIO(stream);
  TMediaRecord* media = dll->OpenMedia(u"qwe" + file, &io);
  if (!media) return false;
  TWaveFormat source;
  // A file without sound (a silent clip) gets no record: no channel could
  // play it.
  const bool audio = AudioFormatOf(dll, media, source);
  if (audio) {
    TMediaAudioInfo ai;
    dll->GetAudioInfo(media, &ai);
    info = TMediaInfo{};
    info.FormatCode = kMediaLibrary;
    const int64_t ms = media->DurationUs > 0 ? std::llround(double(media->DurationUs) / 1000.0) : ai.DurationMs;
    info.Duration = uint32_t(std::clamp<int64_t>(ms, 0, INT32_MAX));
    info.Format = kOutputWaveFormat;
  }
  dll->CloseMedia(media);
  return audio;
}

Ref<TWavConverter> MediaLibraryConverter(const std::u16string& name, const TMediaInfo&) {
  try {
    return MakeRef<TFFMpegConverter>(name);
  } catch (const Exception&) {
    return nullptr;
  }
}

bool InstallMediaLibraryAudio() {
  if (!EnsureFFMpegDll(u"")) return false;
  SetMediaLibraryInfoHook(&MediaLibraryInfo);
  SetMediaLibraryConverter(&MediaLibraryConverter);
  return true;
}

void UninstallMediaLibraryAudio() {
  SetMediaLibraryInfoHook(nullptr);
  SetMediaLibraryConverter(nullptr);
  ReleaseAudioFFMpegDll();
}

}  // namespace kav
