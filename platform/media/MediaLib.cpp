// The media library over libavformat and libavcodec.
//
// Every file is read through an AVIO context of our own (a plain file or the
// caller's callbacks), and the demuxers may not open any further file or
// URL: a playlist or reference inside a clip opens nothing.
#include "platform/media/MediaLib.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <type_traits>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace kav::media {

namespace {

constexpr int kIoBufferSize = 64 * 1024;
// Pictures above this size are refused before a decoder allocates them.
constexpr int64_t kMaxPictureSide = 16384;
constexpr int64_t kMaxPicturePixels = int64_t(1) << 26;
// Packets read in a row without a picture or audio before a decode call
// gives up (a stream of nothing but broken packets).
constexpr int kMaxPacketsWithoutOutput = 1 << 16;
// Packets read at opening for the first picture (see PictureShift).
constexpr int kMaxPacketsForFirstPicture = 4096;

}  // namespace

struct TMediaContext {
  AVFormatContext* Format = nullptr;
  AVIOContext* Io = nullptr;
  FILE* File = nullptr;
  TMediaIO CallerIo;
  AVCodecContext* Video = nullptr;
  AVCodecContext* Audio = nullptr;
  int AudioIndex = -1;
  AVPacket* Pending = nullptr;  // a packet read ahead (GetCurrentPts)
  bool HasPending = false;
  bool VideoDrained = false;  // the end of the file was sent to the video decoder
  bool AudioDrained = false;
  bool ReadEnded = false;
  bool SoughtToStart = false;  // the last seek went to the file's start
  int64_t LastDts = AV_NOPTS_VALUE;
  int64_t LastPts = AV_NOPTS_VALUE;
  // Subtracted from every picture's time: the first picture decoded from
  // the start then has the record's Start. In AVI (decode times only) each
  // picture comes out with the time of the packet that completed it, the
  // decoder's reordering delay later; a clip whose first packets decode to
  // nothing starts with a later picture than its first time stamp.
  int64_t PictureShift = 0;
  AVFrame* AudioFrame = nullptr;
  std::vector<uint8_t> AudioRest;  // converted samples not yet delivered
  int AudioOutChannels = 0;
};

struct TMediaBuffer {
  int32_t Format = kPixYUV420P;
  AVFrame* Decoded = nullptr;    // the decoder's picture
  AVFrame* Converted = nullptr;  // in the buffer's format when that differs
  SwsContext* Scaler = nullptr;
  int64_t Pts = AV_NOPTS_VALUE;  // the picture's time, moved by PictureShift
  bool Complete = false;
  bool UseConverted = false;
};

namespace {

void QuietLibraryOnce() {
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_FATAL); });
}

int FileRead(void* opaque, uint8_t* buf, int size) {
  FILE* f = static_cast<FILE*>(opaque);
  size_t n = fread(buf, 1, size_t(size), f);
  if (n == 0) return ferror(f) ? AVERROR(EIO) : AVERROR_EOF;
  return int(n);
}

int64_t FileSeek(void* opaque, int64_t offset, int whence) {
  FILE* f = static_cast<FILE*>(opaque);
  if (whence & AVSEEK_SIZE) {
    off_t here = ftello(f);
    if (fseeko(f, 0, SEEK_END) != 0) return -1;
    off_t size = ftello(f);
    fseeko(f, here, SEEK_SET);
    return size;
  }
  if (fseeko(f, off_t(offset), whence & ~AVSEEK_FORCE) != 0) return -1;
  return ftello(f);
}

int CallerRead(void* opaque, uint8_t* buf, int size) {
  auto* io = static_cast<TMediaIO*>(opaque);
  int32_t n = io->Read(io->Opaque, buf, size);
  if (n < 0) return AVERROR(EIO);
  if (n == 0) return AVERROR_EOF;
  return std::min(n, int32_t(size));
}

int64_t CallerSeek(void* opaque, int64_t offset, int whence) {
  auto* io = static_cast<TMediaIO*>(opaque);
  if (!io->Seek) return -1;
  return io->Seek(io->Opaque, offset, whence & ~AVSEEK_FORCE);
}

// Demuxers that would open further files (playlists, references) get none.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

int32_t CodecIdOf(const AVCodecParameters* par) {
  switch (par->codec_id) {
    case AV_CODEC_ID_MPEG1VIDEO: return kCodecMpeg1;
    case AV_CODEC_ID_MPEG2VIDEO: return kCodecMpeg2;
    case AV_CODEC_ID_MPEG4:
      return par->codec_tag == MKTAG('X', 'V', 'I', 'D') ? kCodecXvid : kCodecMpeg4;
    case AV_CODEC_ID_MSMPEG4V1: return kCodecMsMpeg4V1;
    case AV_CODEC_ID_MSMPEG4V2: return kCodecMsMpeg4V2;
    case AV_CODEC_ID_MSMPEG4V3: return kCodecMsMpeg4V3;
    case AV_CODEC_ID_H264: return kCodecH264;
    default: return kCodecOtherBase + int32_t(par->codec_id);
  }
}

bool HasAlpha(int format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(AVPixelFormat(format));
  return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}

AVPixelFormat AvFormatOf(int32_t code) {
  switch (code) {
    case kPixYUV420P: return AV_PIX_FMT_YUV420P;
    case kPixYUYV422: return AV_PIX_FMT_YUYV422;
    case kPixRGB24: return AV_PIX_FMT_RGB24;
    case kPixBGR24: return AV_PIX_FMT_BGR24;
    case kPixBGRA: return AV_PIX_FMT_BGRA;
    case kPixRGBA: return AV_PIX_FMT_RGBA;
    default: return AV_PIX_FMT_NONE;
  }
}

// The threaded video decoder's flush and close free what the decoder's own
// threads wrote. Each library call sits one frame below a function of its
// own, so a ThreadSanitizer report inside it names that function (the
// library's frames have no names); scripts/tsan.supp suppresses by them.
[[gnu::noinline]] void CallFlushBuffers(AVCodecContext* ctx) { avcodec_flush_buffers(ctx); }
[[gnu::noinline]] void CallFreeContext(AVCodecContext** ctx) { avcodec_free_context(ctx); }
[[gnu::noinline]] void FlushVideoDecoder(AVCodecContext* ctx) { CallFlushBuffers(ctx); }
[[gnu::noinline]] void FreeVideoDecoder(AVCodecContext** ctx) { CallFreeContext(ctx); }

// The video decoder's decoding calls. Its slice threads share the work of a
// picture with the calling thread and order it through the library's own
// atomics, so ThreadSanitizer sees two of the library's writes with nothing
// between them; the report names these functions (never tail calls, so
// their frame stays on the stack).
[[gnu::noinline, gnu::optimize("no-optimize-sibling-calls")]] int DecodeVideoPacket(AVCodecContext* ctx,
                                                                                    const AVPacket* pkt) {
  return avcodec_send_packet(ctx, pkt);
}
[[gnu::noinline, gnu::optimize("no-optimize-sibling-calls")]] int DecodedVideoPicture(AVCodecContext* ctx,
                                                                                      AVFrame* frame) {
  return avcodec_receive_frame(ctx, frame);
}

AVCodecContext* OpenDecoder(AVStream* st, int threads) {
  const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
  if (!codec) return nullptr;
  AVCodecContext* ctx = avcodec_alloc_context3(codec);
  if (!ctx) return nullptr;
  if (avcodec_parameters_to_context(ctx, st->codecpar) < 0) {
    avcodec_free_context(&ctx);
    return nullptr;
  }
  ctx->pkt_timebase = st->time_base;
  ctx->thread_count = threads;
  ctx->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  if (avcodec_open2(ctx, codec, nullptr) < 0) avcodec_free_context(&ctx);
  return ctx;
}

void FreeContext(TMediaContext* c) {
  if (!c) return;
  FreeVideoDecoder(&c->Video);
  avcodec_free_context(&c->Audio);
  av_packet_free(&c->Pending);
  av_frame_free(&c->AudioFrame);
  avformat_close_input(&c->Format);
  if (c->Io) {
    av_freep(&c->Io->buffer);
    avio_context_free(&c->Io);
  }
  if (c->File) fclose(c->File);
  delete c;
}

bool SizeAllowed(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kMaxPictureSide && h <= kMaxPictureSide && w * h <= kMaxPicturePixels;
}

bool IsPlayedStream(const AVStream* st) {
  const AVMediaType type = st->codecpar->codec_type;
  return (type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) || type == AVMEDIA_TYPE_AUDIO;
}

// The file's playing time in microseconds: from its first time stamp to
// the end of the stream that ends last. Containers state their duration
// from time 0 (a clip made to start at 3 s claims 3 s more), so the
// streams' own start and duration are used where they tell them.
int64_t PlayingTimeUs(const AVFormatContext* fmt) {
  const int64_t start = fmt->start_time;
  int64_t end = AV_NOPTS_VALUE;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVStream* st = fmt->streams[i];
    if (!IsPlayedStream(st) || st->start_time == AV_NOPTS_VALUE || st->duration <= 0 || st->time_base.den <= 0 ||
        st->time_base.num <= 0)
      continue;
    const int64_t e = av_rescale_q(av_sat_add64(st->start_time, st->duration), st->time_base, AV_TIME_BASE_Q);
    if (end == AV_NOPTS_VALUE || e > end) end = e;
  }
  if (start != AV_NOPTS_VALUE && end != AV_NOPTS_VALUE && end > start) return end - start;
  if (fmt->duration <= 0) return 0;
  // A duration from the header counts from time 0; one measured from the
  // time stamps (MPEG streams) already starts at the first.
  if (start != AV_NOPTS_VALUE && start > 0 && start < fmt->duration &&
      fmt->duration_estimation_method != AVFMT_DURATION_FROM_PTS)
    return fmt->duration - start;
  return fmt->duration;
}

void FillRecord(TMediaRecord* rec, TMediaContext* c, int video_index) {
  AVFormatContext* fmt = c->Format;
  rec->DurationUs = PlayingTimeUs(fmt);
  if (const AVDictionaryEntry* e = av_dict_get(fmt->metadata, "comment", nullptr, 0)) {
    snprintf(rec->Text, sizeof rec->Text, "%s", e->value);
  }
  if (video_index < 0) rec->VideoDurationUs = rec->DurationUs;
  if (c->AudioIndex >= 0) {
    rec->AudioStream = c->AudioIndex + 1;
    AVStream* ast = fmt->streams[c->AudioIndex];
    rec->TimeBaseNum = ast->time_base.num;
    rec->TimeBaseDen = ast->time_base.den;
  }
  if (video_index < 0) return;
  AVStream* st = fmt->streams[video_index];
  AVRational rate = st->avg_frame_rate.num > 0 && st->avg_frame_rate.den > 0 ? st->avg_frame_rate : st->r_frame_rate;
  rec->VideoStream = video_index;
  rec->FrameRateNum = rate.num;
  rec->FrameRateDen = rate.den;
  // libavformat's guess is a frame rate; the record carries the codec's
  // tick rate, which callers divide by the ticks per frame.
  AVRational rate2 = st->r_frame_rate;
  if (rate2.num > 0 && rate2.den > 0 && c->Video->ticks_per_frame > 1)
    rate2 = av_mul_q(rate2, AVRational{c->Video->ticks_per_frame, 1});
  rec->FrameRate2Num = rate2.num;
  rec->FrameRate2Den = rate2.den;
  rec->Start = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
  if (st->duration > 0 && st->time_base.num > 0 && st->time_base.den > 0)
    rec->VideoDurationUs = av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
  rec->CodecId = CodecIdOf(st->codecpar);
  rec->Width = st->codecpar->width;
  rec->Height = st->codecpar->height;
  rec->TicksPerFrame = c->Video->ticks_per_frame;
  rec->PixelFormat = HasAlpha(st->codecpar->format) ? kPixBGRA : kPixYUV420P;
  rec->TimeBaseNum = st->time_base.num;
  rec->TimeBaseDen = st->time_base.den;
  rec->FrameCount = st->nb_frames > 0 ? st->nb_frames : 0;
  AVRational sar = st->sample_aspect_ratio.num > 0 ? st->sample_aspect_ratio : st->codecpar->sample_aspect_ratio;
  rec->AspectNum = sar.num > 0 && sar.den > 0 ? sar.num : 0;
  rec->AspectDen = sar.num > 0 && sar.den > 0 ? sar.den : 0;
}

TMediaRecord* OpenMediaFile2Impl(const char* file_name, const TMediaIO* io, int32_t threads) {
  QuietLibraryOnce();
  auto* c = new TMediaContext();
  void* opaque = nullptr;
  int (*read)(void*, uint8_t*, int) = nullptr;
  int64_t (*seek)(void*, int64_t, int) = nullptr;
  if (io && io->Read) {
    c->CallerIo = *io;
    opaque = &c->CallerIo;
    read = CallerRead;
    seek = CallerSeek;
  } else {
    if (!file_name || !(c->File = fopen(file_name, "rb"))) {
      FreeContext(c);
      return nullptr;
    }
    opaque = c->File;
    read = FileRead;
    seek = FileSeek;
  }
  auto* buf = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
  c->Io = buf ? avio_alloc_context(buf, kIoBufferSize, 0, opaque, read, nullptr, seek) : nullptr;
  c->Format = avformat_alloc_context();
  c->Pending = av_packet_alloc();
  c->AudioFrame = av_frame_alloc();
  if (!c->Io) av_free(buf);
  if (!c->Io || !c->Format || !c->Pending || !c->AudioFrame) {
    FreeContext(c);
    return nullptr;
  }
  c->Format->pb = c->Io;
  c->Format->flags |= AVFMT_FLAG_CUSTOM_IO;
  c->Format->io_open = RefuseNestedOpen;
  // avformat_open_input frees the context on failure.
  if (avformat_open_input(&c->Format, file_name ? file_name : "", nullptr, nullptr) < 0) {
    c->Format = nullptr;
    FreeContext(c);
    return nullptr;
  }
  if (avformat_find_stream_info(c->Format, nullptr) < 0) {
    FreeContext(c);
    return nullptr;
  }
  int video = -1;
  for (unsigned i = 0; i < c->Format->nb_streams; ++i) {
    AVStream* st = c->Format->streams[i];
    if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO || (st->disposition & AV_DISPOSITION_ATTACHED_PIC)) continue;
    if (!SizeAllowed(st->codecpar->width, st->codecpar->height)) continue;
    video = int(i);
    break;
  }
  if (video >= 0 && !(c->Video = OpenDecoder(c->Format->streams[video], threads))) video = -1;
  c->AudioIndex = av_find_best_stream(c->Format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (c->AudioIndex < 0) c->AudioIndex = -1;
  auto* rec = new TMediaRecord();
  rec->Context = c;
  FillRecord(rec, c, video);
  return rec;
}

// Reads the next packet, the one read ahead first. 0, or AVERROR_EOF / an
// error.
int NextPacket(TMediaContext* c, AVPacket* pkt) {
  if (c->HasPending) {
    av_packet_move_ref(pkt, c->Pending);
    c->HasPending = false;
    return 0;
  }
  if (c->ReadEnded) return AVERROR_EOF;
  int r = av_read_frame(c->Format, pkt);
  if (r < 0) {
    c->ReadEnded = true;
    return r;
  }
  c->LastDts = pkt->dts;
  c->LastPts = pkt->pts;
  return 0;
}

// Scales or converts the decoded picture into the buffer's format.
bool ConvertInto(const AVFrame* src, TMediaBuffer* dst) {
  AVPixelFormat want = AvFormatOf(dst->Format);
  if (want == AV_PIX_FMT_NONE || src->width <= 0 || src->height <= 0) return false;
  if (AVPixelFormat(src->format) == want) {
    dst->UseConverted = false;
    return true;
  }
  AVFrame* out = dst->Converted;
  if (out->width != src->width || out->height != src->height || out->format != want) {
    av_frame_unref(out);
    out->width = src->width;
    out->height = src->height;
    out->format = want;
    if (av_frame_get_buffer(out, 0) < 0) return false;
  }
  if (av_frame_make_writable(out) < 0) return false;
  dst->Scaler = sws_getCachedContext(dst->Scaler, src->width, src->height, AVPixelFormat(src->format), src->width,
                                     src->height, want, SWS_BICUBIC, nullptr, nullptr, nullptr);
  if (!dst->Scaler) return false;
  if (sws_scale(dst->Scaler, src->data, src->linesize, 0, src->height, out->data, out->linesize) <= 0) return false;
  out->pts = src->pts;
  dst->UseConverted = true;
  return true;
}

const AVFrame* PictureOf(const TMediaBuffer* b) { return b->UseConverted ? b->Converted : b->Decoded; }

// Converts decoded audio to interleaved 16-bit samples appended to `out`.
void AppendPcm16(const AVFrame* f, int channels, std::vector<uint8_t>& out) {
  const int in_channels = f->ch_layout.nb_channels;
  const int n = f->nb_samples;
  const AVSampleFormat fmt = AVSampleFormat(f->format);
  const bool planar = av_sample_fmt_is_planar(fmt);
  const int bps = av_get_bytes_per_sample(fmt);
  if (in_channels <= 0 || n <= 0 || bps <= 0) return;
  size_t at = out.size();
  out.resize(at + size_t(n) * size_t(channels) * 2);
  auto* dst = reinterpret_cast<int16_t*>(out.data() + at);
  for (int i = 0; i < n; ++i) {
    for (int ch = 0; ch < channels; ++ch) {
      int src_ch = std::min(ch, in_channels - 1);
      const uint8_t* p = planar ? f->extended_data[src_ch] + size_t(i) * size_t(bps)
                                : f->extended_data[0] + (size_t(i) * size_t(in_channels) + size_t(src_ch)) * size_t(bps);
      int32_t v = 0;
      switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8: v = (int32_t(*p) - 128) << 8; break;
        case AV_SAMPLE_FMT_S16: { int16_t s; memcpy(&s, p, 2); v = s; break; }
        case AV_SAMPLE_FMT_S32: { int32_t s; memcpy(&s, p, 4); v = s >> 16; break; }
        case AV_SAMPLE_FMT_S64: { int64_t s; memcpy(&s, p, 8); v = int32_t(s >> 48); break; }
        case AV_SAMPLE_FMT_FLT: { float s; memcpy(&s, p, 4); v = int32_t(std::clamp(s, -1.0f, 1.0f) * 32767.0f); break; }
        case AV_SAMPLE_FMT_DBL: { double s; memcpy(&s, p, 8); v = int32_t(std::clamp(s, -1.0, 1.0) * 32767.0); break; }
        default: break;
      }
      *dst++ = int16_t(v);
    }
  }
}

// Receives the video decoder's next picture into `frame`, feeding it
// packets as it needs them. 1 a picture, 0 the end, -1 when `budget` (read
// packets and broken pictures, counted down) runs out first.
int ReceivePicture(TMediaContext* c, int video, AVFrame* frame, int& budget) {
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return -1;
  int result = -1;
  while (budget > 0) {
    --budget;
    int r = DecodedVideoPicture(c->Video, frame);
    if (r == 0) {
      result = 1;
      break;
    }
    if (r == AVERROR_EOF) {
      result = 0;
      break;
    }
    if (r != AVERROR(EAGAIN)) continue;  // a broken picture: decode on
    if (c->VideoDrained) {
      result = 0;
      break;
    }
    if (NextPacket(c, pkt) < 0) {
      DecodeVideoPacket(c->Video, nullptr);  // drain the pictures still held
      c->VideoDrained = true;
      continue;
    }
    if (pkt->stream_index == video) DecodeVideoPacket(c->Video, pkt);  // broken packets are skipped
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return result;
}

// The decoder's time of a picture (its own presentation time, else the
// decode time it came out with), before PictureShift.
int64_t DecodedTime(const AVFrame* f) {
  return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
}

void ResetReading(TMediaContext* c) {
  av_packet_unref(c->Pending);
  c->HasPending = false;
  c->ReadEnded = false;
}

// Seeks to the file's first packets: MPEG streams by bytes (a time seek
// lands on a later key frame), indexed files to the earliest first entry
// of their streams. That entry may lie before time 0 (an AAC encoder's
// priming packet, which the first sound needs to decode whole and which
// is then dropped as on opening): a time seek to 0 would start after it.
// 0 on success, negative when the caller should seek by time.
int SeekToStart(TMediaContext* c, int stream) {
  AVFormatContext* fmt = c->Format;
  if (!(fmt->iformat->flags & AVFMT_NO_BYTE_SEEK) && (fmt->iformat->flags & AVFMT_TS_DISCONT))
    return av_seek_frame(fmt, -1, 0, AVSEEK_FLAG_BYTE);
  int first = -1;
  int64_t first_ts = 0;
  for (unsigned i = 0; i < fmt->nb_streams; ++i) {
    const AVStream* st = fmt->streams[i];
    if (!IsPlayedStream(st) || st->time_base.num <= 0 || st->time_base.den <= 0) continue;
    const AVIndexEntry* e = avformat_index_get_entry(const_cast<AVStream*>(st), 0);
    if (!e || e->timestamp == AV_NOPTS_VALUE) continue;
    // The asked stream wins a tie.
    const int order =
        first < 0 ? -1 : av_compare_ts(e->timestamp, st->time_base, first_ts, fmt->streams[first]->time_base);
    if (order < 0 || (order == 0 && int(i) == stream)) {
      first = int(i);
      first_ts = e->timestamp;
    }
  }
  if (first < 0) return -1;
  return av_seek_frame(fmt, first, first_ts, AVSEEK_FLAG_BACKWARD);
}

// Decodes the first picture from the start to learn PictureShift, then
// goes back to the start.
void MeasurePictureShift(TMediaRecord* rec) {
  TMediaContext* c = rec->Context;
  if (!c->Video || rec->VideoStream < 0 || !(c->Io->seekable & AVIO_SEEKABLE_NORMAL)) return;
  AVFrame* f = av_frame_alloc();
  if (!f) return;
  int budget = kMaxPacketsForFirstPicture;
  if (ReceivePicture(c, rec->VideoStream, f, budget) == 1) {
    const int64_t t = DecodedTime(f);
    constexpr int64_t kSane = int64_t(1) << 60;
    if (t != AV_NOPTS_VALUE && t > -kSane && t < kSane && rec->Start > -kSane && rec->Start < kSane)
      c->PictureShift = t - rec->Start;
  }
  av_frame_free(&f);
  if (SeekToStart(c, rec->VideoStream) < 0)
    av_seek_frame(c->Format, rec->VideoStream, rec->Start, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  ResetReading(c);
  FlushVideoDecoder(c->Video);
  c->VideoDrained = false;
}

// Without a duration of its own the video plays from its first picture to
// the end of the file.
void FillVideoDuration(TMediaRecord* rec) {
  if (rec->VideoStream < 0 || rec->VideoDurationUs > 0 || rec->DurationUs <= 0) return;
  const AVFormatContext* fmt = rec->Context->Format;
  const AVStream* st = fmt->streams[rec->VideoStream];
  rec->VideoDurationUs = rec->DurationUs;
  if (st->time_base.num <= 0 || st->time_base.den <= 0) return;
  const int64_t file_start = fmt->start_time != AV_NOPTS_VALUE ? fmt->start_time : 0;
  const int64_t first =
      av_rescale_q(av_sat_add64(rec->Start, rec->Context->PictureShift), st->time_base, AV_TIME_BASE_Q);
  const int64_t rest = file_start + rec->DurationUs - first;
  if (rest > 0 && rest <= rec->DurationUs) rec->VideoDurationUs = rest;
}

// ---- the entry points ----

TMediaRecord* OpenMediaFile2(const char* file_name, const TMediaIO* io, int32_t threads) {
  TMediaRecord* rec = OpenMediaFile2Impl(file_name, io, std::clamp(threads, 0, 64));
  if (rec) {
    MeasurePictureShift(rec);
    FillVideoDuration(rec);
  }
  return rec;
}

TMediaRecord* OpenMediaFile(const char* file_name) { return OpenMediaFile2(file_name, nullptr, 0); }

void CloseMediaFile(TMediaRecord* media) {
  if (!media) return;
  FreeContext(media->Context);
  delete media;
}

TMediaBuffer* AllocBuffer(TMediaRecord*, int32_t format) {
  if (AvFormatOf(format) == AV_PIX_FMT_NONE) return nullptr;
  auto* b = new TMediaBuffer();
  b->Format = format;
  b->Decoded = av_frame_alloc();
  b->Converted = av_frame_alloc();
  if (!b->Decoded || !b->Converted) {
    av_frame_free(&b->Decoded);
    av_frame_free(&b->Converted);
    delete b;
    return nullptr;
  }
  return b;
}

TMediaBuffer* AllocBufferWithData(TMediaRecord* media, int32_t format) {
  TMediaBuffer* b = AllocBuffer(media, format);
  if (!b || !media || !SizeAllowed(media->Width, media->Height)) return b;
  AVFrame* out = b->Converted;
  out->width = media->Width;
  out->height = media->Height;
  out->format = AvFormatOf(format);
  av_frame_get_buffer(out, 0);  // a failure leaves the frame empty: the first conversion retries
  return b;
}

void FreeBuffer(TMediaBuffer* buffer) {
  if (!buffer) return;
  av_frame_free(&buffer->Decoded);
  av_frame_free(&buffer->Converted);
  sws_freeContext(buffer->Scaler);
  delete buffer;
}

int32_t ConvertFrame(TMediaRecord*, const TMediaBuffer* src, TMediaBuffer* dst) {
  if (!src || !dst || !src->Complete) return -1;
  const AVFrame* pic = PictureOf(src);
  if (!ConvertInto(pic, dst)) return -1;
  if (!dst->UseConverted) {
    // Same format: the destination refers to the same picture.
    av_frame_unref(dst->Decoded);
    if (av_frame_ref(dst->Decoded, pic) < 0) return -1;
  }
  dst->Pts = src->Pts;
  dst->Complete = true;
  return 0;
}

int32_t GetNextVideoFrame(TMediaRecord* media, TMediaBuffer* buffer, int32_t) {
  if (!media || !buffer || !media->Context || !media->Context->Video) return -1;
  TMediaContext* c = media->Context;
  buffer->Complete = false;
  int budget = kMaxPacketsWithoutOutput;
  for (;;) {
    const int r = ReceivePicture(c, media->VideoStream, buffer->Decoded, budget);
    if (r <= 0) return r;
    const AVFrame* f = buffer->Decoded;
    if (!SizeAllowed(f->width, f->height) || !ConvertInto(f, buffer)) {
      av_frame_unref(buffer->Decoded);
      continue;  // a picture we cannot deliver: try the next one
    }
    const int64_t t = DecodedTime(f);
    buffer->Pts = t == AV_NOPTS_VALUE ? t : av_sat_sub64(t, c->PictureShift);
    buffer->Complete = true;
    return 1;
  }
}

int32_t SeekFile(TMediaRecord* media, int64_t position) {
  if (!media || !media->Context) return -1;
  TMediaContext* c = media->Context;
  int stream = media->VideoStream >= 0 ? media->VideoStream : c->AudioIndex;
  if (stream < 0) return -1;
  int r = -1;
  const int64_t start = c->Format->streams[stream]->start_time;
  c->SoughtToStart = position <= 0 || (start != AV_NOPTS_VALUE && position <= start);
  if (c->SoughtToStart) r = SeekToStart(c, stream);
  if (r < 0) r = av_seek_frame(c->Format, stream, position, AVSEEK_FLAG_BACKWARD);
  if (r < 0) r = av_seek_frame(c->Format, stream, position, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY);
  ResetReading(c);
  return r < 0 ? r : 0;
}

int32_t GetFormatName(TMediaRecord* media, char* buffer, int32_t size) {
  if (!media || !media->Context || !media->Context->Format->iformat) return 0;
  const char* name = media->Context->Format->iformat->name;
  int32_t len = int32_t(strlen(name));
  if (buffer && size > 0) snprintf(buffer, size_t(size), "%s", name);
  return len;
}

void FlushVideo(TMediaRecord* media) {
  if (!media || !media->Context) return;
  TMediaContext* c = media->Context;
  if (c->Video) FlushVideoDecoder(c->Video);
  c->VideoDrained = false;
}

void AfterAudioSeek(TMediaRecord* media) {
  if (!media || !media->Context) return;
  TMediaContext* c = media->Context;
  // Back at the start the decoder is made afresh: a flushed one keeps
  // state (AAC's noise generator) and would not repeat the first decode.
  AVCodecContext* fresh = c->Audio && c->SoughtToStart ? OpenDecoder(c->Format->streams[c->AudioIndex], 1) : nullptr;
  if (fresh) {
    avcodec_free_context(&c->Audio);
    c->Audio = fresh;
  } else if (c->Audio) {
    avcodec_flush_buffers(c->Audio);
  }
  c->AudioDrained = false;
  c->AudioRest.clear();
}

void Flush(TMediaRecord* media) {
  FlushVideo(media);
  AfterAudioSeek(media);
}

int32_t GetFrameInfo(const TMediaBuffer* buffer, TMediaFrameInfo* info) {
  if (!buffer || !info) return -1;
  *info = TMediaFrameInfo();
  info->Complete = buffer->Complete;
  info->Format = buffer->Format;
  if (!buffer->Complete) return 0;
  const AVFrame* d = buffer->Decoded;
  const AVFrame* pic = PictureOf(buffer);
  info->Pts = buffer->Pts != AV_NOPTS_VALUE ? buffer->Pts : INT64_MIN;
  info->Interlaced = d->interlaced_frame;
  info->TopFieldFirst = d->top_field_first;
  info->KeyFrame = d->key_frame;
  info->Width = pic->width;
  info->Height = pic->height;
  for (int i = 0; i < 4; ++i) {
    info->Planes[i] = pic->data[i];
    info->Strides[i] = pic->linesize[i];
  }
  return 0;
}

int32_t GetDtsPts(const TMediaBuffer* buffer, int64_t* dts, int64_t* pts) {
  if (!buffer || !buffer->Complete) return -1;
  if (dts) *dts = buffer->Decoded->pkt_dts != AV_NOPTS_VALUE ? buffer->Decoded->pkt_dts : INT64_MIN;
  if (pts) *pts = buffer->Decoded->pts != AV_NOPTS_VALUE ? buffer->Decoded->pts : INT64_MIN;
  return 0;
}

int32_t GetDtsPts2(TMediaRecord* media, int64_t* dts, int64_t* pts) {
  if (!media || !media->Context) return -1;
  if (dts) *dts = media->Context->LastDts != AV_NOPTS_VALUE ? media->Context->LastDts : INT64_MIN;
  if (pts) *pts = media->Context->LastPts != AV_NOPTS_VALUE ? media->Context->LastPts : INT64_MIN;
  return 0;
}

int32_t GetAudioInfo(TMediaRecord* media, TMediaAudioInfo* info) {
  if (!media || !media->Context || !info || media->Context->AudioIndex < 0) return -1;
  AVStream* st = media->Context->Format->streams[media->Context->AudioIndex];
  *info = TMediaAudioInfo();
  info->SampleRate = st->codecpar->sample_rate;
  info->Channels = st->codecpar->ch_layout.nb_channels;
  info->CodecId = kCodecOtherBase + int32_t(st->codecpar->codec_id);
  info->BitRate = int32_t(std::min<int64_t>(st->codecpar->bit_rate, INT32_MAX));
  if (st->duration != AV_NOPTS_VALUE && st->time_base.den > 0)
    info->DurationMs = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
  else if (media->DurationUs > 0)
    info->DurationMs = media->DurationUs / 1000;
  return 0;
}

int32_t OpenAudioStream(TMediaRecord* media, const TMediaAudioParams* params) {
  if (!media || !media->Context || media->Context->AudioIndex < 0) return 0;
  TMediaContext* c = media->Context;
  if (!c->Audio) c->Audio = OpenDecoder(c->Format->streams[c->AudioIndex], 1);
  if (!c->Audio) return 0;
  int want = params ? std::max(1, params->MaxChannels) : 2;
  c->AudioOutChannels = std::clamp(c->Audio->ch_layout.nb_channels, 1, want);
  c->AudioDrained = false;
  c->AudioRest.clear();
  return 1;
}

void CloseAudioStream(TMediaRecord* media) {
  if (!media || !media->Context) return;
  avcodec_free_context(&media->Context->Audio);
  media->Context->AudioRest.clear();
}

int32_t GetNextAudioFrame(TMediaRecord* media, uint8_t* buffer, int32_t* size) {
  if (!media || !media->Context || !media->Context->Audio || !buffer || !size || *size <= 0) return -1;
  TMediaContext* c = media->Context;
  const int32_t room = *size;
  *size = 0;
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return -1;
  int result = -1;
  for (int idle = 0; idle < kMaxPacketsWithoutOutput; ++idle) {
    if (!c->AudioRest.empty()) {
      int32_t n = int32_t(std::min<size_t>(c->AudioRest.size(), size_t(room) & ~size_t(3)));
      if (n <= 0) n = int32_t(std::min<size_t>(c->AudioRest.size(), size_t(room)));
      memcpy(buffer, c->AudioRest.data(), size_t(n));
      c->AudioRest.erase(c->AudioRest.begin(), c->AudioRest.begin() + n);
      *size = n;
      result = 1;
      break;
    }
    int r = avcodec_receive_frame(c->Audio, c->AudioFrame);
    if (r == 0) {
      AppendPcm16(c->AudioFrame, c->AudioOutChannels, c->AudioRest);
      av_frame_unref(c->AudioFrame);
      continue;
    }
    if (r == AVERROR_EOF || (r == AVERROR(EAGAIN) && c->AudioDrained)) {
      result = 0;
      break;
    }
    if (r != AVERROR(EAGAIN)) continue;
    if (NextPacket(c, pkt) < 0) {
      avcodec_send_packet(c->Audio, nullptr);
      c->AudioDrained = true;
      continue;
    }
    if (pkt->stream_index == c->AudioIndex) avcodec_send_packet(c->Audio, pkt);
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return result;
}

int64_t GetCurrentPts(TMediaRecord* media, int32_t stream) {
  if (!media || !media->Context) return INT64_MIN;
  TMediaContext* c = media->Context;
  int want = stream > 0 ? stream - 1 : media->VideoStream;
  if (want < 0) return INT64_MIN;
  AVPacket* pkt = av_packet_alloc();
  if (!pkt) return INT64_MIN;
  int64_t result = INT64_MIN;
  // Packets of other streams before the wanted one are dropped; the wanted
  // one is kept for the next decode.
  for (int i = 0; i < kMaxPacketsWithoutOutput; ++i) {
    if (NextPacket(c, pkt) < 0) break;
    if (pkt->stream_index == want) {
      int64_t t = pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
      // Answered in the record's time base (the video stream's when there
      // is one), which is what callers convert with.
      const int base = media->VideoStream >= 0 ? media->VideoStream : c->AudioIndex;
      if (t != AV_NOPTS_VALUE && base >= 0 && base != want)
        t = av_rescale_q(t, c->Format->streams[want]->time_base, c->Format->streams[base]->time_base);
      if (t != AV_NOPTS_VALUE) result = t;
      av_packet_move_ref(c->Pending, pkt);
      c->HasPending = true;
      break;
    }
    av_packet_unref(pkt);
  }
  av_packet_free(&pkt);
  return result;
}

void* CreateVideoFile(const char*, int32_t, int32_t, int32_t) { return nullptr; }
void* CreateAudioFile(const char*, int32_t, int32_t) { return nullptr; }
void* CreateVideoAudioFile(const char*, int32_t, int32_t, int32_t, int32_t, int32_t) { return nullptr; }

// Each entry point has exactly the signature its callers cast it to.
static_assert(std::is_same_v<decltype(&OpenMediaFile), TOpenMediaFile>);
static_assert(std::is_same_v<decltype(&OpenMediaFile2), TOpenMediaFile2>);
static_assert(std::is_same_v<decltype(&CloseMediaFile), TCloseMediaFile>);
static_assert(std::is_same_v<decltype(&AllocBuffer), TAllocBuffer>);
static_assert(std::is_same_v<decltype(&AllocBufferWithData), TAllocBufferWithData>);
static_assert(std::is_same_v<decltype(&FreeBuffer), TFreeBuffer>);
static_assert(std::is_same_v<decltype(&ConvertFrame), TConvertFrame>);
static_assert(std::is_same_v<decltype(&GetNextVideoFrame), TGetNextVideoFrame>);
static_assert(std::is_same_v<decltype(&SeekFile), TSeekFile>);
static_assert(std::is_same_v<decltype(&GetFormatName), TGetFormatName>);
static_assert(std::is_same_v<decltype(&Flush), TFlush>);
static_assert(std::is_same_v<decltype(&FlushVideo), TFlushVideo>);
static_assert(std::is_same_v<decltype(&GetFrameInfo), TGetFrameInfo>);
static_assert(std::is_same_v<decltype(&GetDtsPts), TGetDtsPts>);
static_assert(std::is_same_v<decltype(&GetDtsPts2), TGetDtsPts2>);
static_assert(std::is_same_v<decltype(&GetAudioInfo), TGetAudioInfo>);
static_assert(std::is_same_v<decltype(&OpenAudioStream), TOpenAudioStream>);
static_assert(std::is_same_v<decltype(&CloseAudioStream), TCloseAudioStream>);
static_assert(std::is_same_v<decltype(&GetNextAudioFrame), TGetNextAudioFrame>);
static_assert(std::is_same_v<decltype(&AfterAudioSeek), TAfterAudioSeek>);
static_assert(std::is_same_v<decltype(&GetCurrentPts), TGetCurrentPts>);
static_assert(std::is_same_v<decltype(&CreateVideoFile), TCreateVideoFile>);
static_assert(std::is_same_v<decltype(&CreateAudioFile), TCreateAudioFile>);
static_assert(std::is_same_v<decltype(&CreateVideoAudioFile), TCreateVideoAudioFile>);

struct TSymbol {
  const char* Name;
  void* Address;
};

#define KAV_MEDIA_SYMBOL(name) {#name, reinterpret_cast<void*>(&name)}
const TSymbol kSymbols[] = {
    KAV_MEDIA_SYMBOL(OpenMediaFile),     KAV_MEDIA_SYMBOL(OpenMediaFile2),     KAV_MEDIA_SYMBOL(CloseMediaFile),
    KAV_MEDIA_SYMBOL(AllocBuffer),       KAV_MEDIA_SYMBOL(AllocBufferWithData), KAV_MEDIA_SYMBOL(FreeBuffer),
    KAV_MEDIA_SYMBOL(ConvertFrame),      KAV_MEDIA_SYMBOL(GetNextVideoFrame),  KAV_MEDIA_SYMBOL(SeekFile),
    KAV_MEDIA_SYMBOL(GetFormatName),     KAV_MEDIA_SYMBOL(Flush),              KAV_MEDIA_SYMBOL(FlushVideo),
    KAV_MEDIA_SYMBOL(GetFrameInfo),      KAV_MEDIA_SYMBOL(GetDtsPts),          KAV_MEDIA_SYMBOL(GetDtsPts2),
    KAV_MEDIA_SYMBOL(GetAudioInfo),      KAV_MEDIA_SYMBOL(OpenAudioStream),    KAV_MEDIA_SYMBOL(CloseAudioStream),
    KAV_MEDIA_SYMBOL(GetNextAudioFrame), KAV_MEDIA_SYMBOL(AfterAudioSeek),     KAV_MEDIA_SYMBOL(GetCurrentPts),
    KAV_MEDIA_SYMBOL(CreateVideoFile),   KAV_MEDIA_SYMBOL(CreateAudioFile),    KAV_MEDIA_SYMBOL(CreateVideoAudioFile),
};
#undef KAV_MEDIA_SYMBOL

}  // namespace

void* MediaLibSymbol(const char* name) noexcept {
  if (!name) return nullptr;
  for (const TSymbol& s : kSymbols)
    if (strcmp(s.Name, name) == 0) return s.Address;
  return nullptr;
}

}  // namespace kav::media
