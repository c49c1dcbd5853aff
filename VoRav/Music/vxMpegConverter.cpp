#include "VoRav/Music/vxMpegConverter.h"

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <mutex>

#include "VoRav/Music/vxMediaInfoParsers.h"
#include "VoRav/Music/vxMusicStreams.h"

namespace kav {

namespace {

// The shared decoder library: initialised by its first user, its calls
// serialised.
struct TMpg123 {
  std::mutex lock;
  int users = 0;
} g_mpg123;

void Acquire() {
  std::lock_guard<std::mutex> hold(g_mpg123.lock);
  if (g_mpg123.users++ == 0) mpg123_init();
}

void ReleaseUser() {
  std::lock_guard<std::mutex> hold(g_mpg123.lock);
  if (--g_mpg123.users == 0) mpg123_exit();
}

constexpr size_t kDecodeSpace = 8192;

}  // namespace

TMpegConverter::TMpegConverter() : pcm_(MakeRef<TLocalBuffer>()) {
  Acquire();
  acquired_ = true;
}

void TMpegConverter::Dispose() {
  CloseDecoder();
  if (acquired_) ReleaseUser();
  acquired_ = false;
  TWavConverter::Dispose();
}

bool TMpegConverter::OpenDecoder() {
  CloseDecoder();
  std::lock_guard<std::mutex> hold(g_mpg123.lock);
  int err = 0;
  handle_ = mpg123_new(nullptr, &err);
  if (!handle_) return false;
  mpg123_param(handle_, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
  // Every decoded sample counts, the encoder's delay included: a decoder
  // started in the middle of the file cannot trim it, and times must mean
  // the same from the start and after a seek.
  mpg123_param(handle_, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0);
  // Always 16-bit with the channels the file information reported, so the
  // output format never changes under the channel.
  mpg123_format_none(handle_);
  const long rate = long(info_.Format.SamplesPerSec);
  const int channels = info_.Format.Channels == 1 ? MPG123_MONO : MPG123_STEREO;
  if (mpg123_format(handle_, rate, channels, MPG123_ENC_SIGNED_16) != MPG123_OK ||
      mpg123_open_feed(handle_) != MPG123_OK) {
    mpg123_delete(handle_);
    handle_ = nullptr;
    return false;
  }
  return true;
}

void TMpegConverter::CloseDecoder() {
  if (!handle_) return;
  std::lock_guard<std::mutex> hold(g_mpg123.lock);
  mpg123_delete(handle_);
  handle_ = nullptr;
}

bool TMpegConverter::SetInputFormat(const TMediaInfo& info) {
  TMediaInfo pcm = info;
  const TWaveFormat& f = info.Format;
  if (f.SamplesPerSec == 0 || f.Channels < 1 || f.Channels > 2) return false;
  info_ = info;
  if (!OpenDecoder()) return false;
  // The output is 16-bit PCM; the base converter passes it on as it is.
  pcm.FormatCode = kMediaPcm;
  pcm.Format = TWaveFormat{kWaveFormatPcm, f.Channels, f.SamplesPerSec, f.SamplesPerSec * f.Channels * 2,
                           uint16_t(f.Channels * 2), 16, 0};
  if (!TWavConverter::SetInputFormat(pcm)) return false;
  // Keep the MPEG record (frame index, data range) for reading and seeking;
  // the frame length sets the chunk for constant bit rates.
  info_.Format = pcm.Format;
  info_.FormatCode = kMediaMpeg;
  chunk_ = info.Vbr == 0 && info.FrameLength > 0 ? std::min<size_t>(size_t(info.FrameLength) * 6, 4096) : 4096;
  input_->Format = pcm.Format;
  return true;
}

bool TMpegConverter::DecodeInput() {
  if (!handle_) return false;
  std::lock_guard<std::mutex> hold(g_mpg123.lock);
  const unsigned char* in = input_->Data();
  size_t in_size = input_->Used();
  for (int guard = 0; guard < 100000; ++guard) {
    pcm_->Reserve(kDecodeSpace);
    size_t done = 0;
    const int r = mpg123_decode(handle_, in, in_size, pcm_->WritePtr(), kDecodeSpace, &done);
    in = nullptr;
    in_size = 0;
    pcm_->Commit(done);
    if (r == MPG123_NEED_MORE) break;
    if (r == MPG123_ERR) return false;
    // MPG123_OK, MPG123_NEW_FORMAT: decode on with no new input.
  }
  input_->Clear();
  return true;
}

bool TMpegConverter::Convert() {
  if (!DecodeInput()) return false;
  // Whole sample frames only; a split frame waits for the next chunk.
  const size_t align = info_.Format.BlockAlign;
  const size_t whole = pcm_->Used() - pcm_->Used() % align;
  Produce(pcm_->Data(), whole);
  pcm_->Consume(whole);
  return true;
}

void TMpegConverter::Seek(double ms) {
  ms = std::max(ms, 0.0);
  input_->Clear();
  output_->Clear();
  pcm_->Clear();
  time_ = ms;
  if (!stream_ || !OpenDecoder()) return;
  // Decode from up to 300 ms before the target so the decoder's state is
  // whole there, then drop what lies before the target. (100 ms leaves the
  // first frames of variable-bit-rate files wrong.)
  const double preroll = std::min(ms, 300.0);
  double reached = 0;
  int64_t pos = MpegSeekPosition(stream_.get(), info_, ms - preroll, reached);
  if (pos < 0) {
    pos = int64_t(info_.DataOffset) + info_.DataLength;
    reached = ms;
  }
  MusicStreamSeek(stream_.get(), pos, 0);
  const size_t align = info_.Format.BlockAlign;
  size_t drop = size_t(std::llround((ms - reached) / 1000.0 * info_.Format.SamplesPerSec)) * align;
  for (int chunk = 0; chunk < 11 && pcm_->Used() < drop; ++chunk) {
    if (!ReadChunk() || !DecodeInput()) break;
  }
  drop = std::min(drop, pcm_->Used() - pcm_->Used() % align);
  pcm_->Consume(drop);
  const size_t whole = pcm_->Used() - pcm_->Used() % align;
  output_->Append(pcm_->Data(), whole);
  pcm_->Consume(whole);
  time_ = ms + double(whole) * 1000.0 / info_.Format.AvgBytesPerSec;
}

}  // namespace kav
