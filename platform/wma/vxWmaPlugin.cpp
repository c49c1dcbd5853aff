#include "platform/wma/vxWmaPlugin.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
}

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

namespace kav {

namespace {

constexpr int kIoBuffer = 16384;

struct TSource {
  void* context;
  const TSndStreamFunctions* stream;
};

int ReadCb(void* opaque, uint8_t* buf, int size) {
  auto* s = static_cast<TSource*>(opaque);
  const int64_t got = s->stream->Read64(s->context, buf, size);
  return got > 0 ? int(got) : AVERROR_EOF;
}

int64_t SeekCb(void* opaque, int64_t offset, int whence) {
  auto* s = static_cast<TSource*>(opaque);
  whence &= ~AVSEEK_FORCE;
  if (whence == AVSEEK_SIZE) return s->stream->GetSize64(s->context);
  // Unknown size (an inflated package entry): no seek from the end either,
  // which would inflate it whole; the library reads on without the size.
  if (whence == SEEK_END && s->stream->GetSize64(s->context) < 0) return -1;
  const int32_t origin = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : whence == SEEK_END ? 2 : -1;
  if (origin < 0) return -1;
  return s->stream->Seek64(s->context, offset, origin);
}

bool IsWma(AVCodecID id) {
  return id == AV_CODEC_ID_WMAV1 || id == AV_CODEC_ID_WMAV2 || id == AV_CODEC_ID_WMAPRO ||
         id == AV_CODEC_ID_WMALOSSLESS;
}

// One opened file: demuxer over the stream functions and an open decoder.
struct TWmaFile {
  TSource source{};
  AVFormatContext* format = nullptr;
  AVCodecContext* codec = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  int stream_index = -1;
  int channels = 0;
  int rate = 0;
  bool draining = false;
  int64_t skip_to_ms = -1;
  // The decoder stamps frames later than their place in the output (its
  // delay): the first frame's stamp is time 0.
  int64_t origin_ms = 0;
  bool priming = false;
  TSndPcmOutput output = nullptr;
  void* output_context = nullptr;
  std::vector<int16_t> pcm;

  ~TWmaFile() {
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&codec);
    if (format) {
      AVIOContext* io = format->pb;
      avformat_close_input(&format);
      if (io) av_freep(&io->buffer);
      avio_context_free(&io);
    }
  }

  bool Open(void* context, const TSndStreamFunctions* stream) {
    source = {context, stream};
    stream->Seek64(context, 0, 0);
    // Only the ASF demuxer: no other container is probed for.
    const AVInputFormat* asf = av_find_input_format("asf");
    if (!asf) return false;
    format = avformat_alloc_context();
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBuffer));
    if (!format || !buffer) {
      av_free(buffer);
      avformat_free_context(format);
      format = nullptr;
      return false;
    }
    AVIOContext* io = avio_alloc_context(buffer, kIoBuffer, 0, &source, ReadCb, nullptr, SeekCb);
    if (!io) {
      av_free(buffer);
      avformat_free_context(format);
      format = nullptr;
      return false;
    }
    format->pb = io;
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&format, nullptr, asf, nullptr) < 0) {
      // A failed open frees the context but leaves our I/O context.
      av_freep(&io->buffer);
      avio_context_free(&io);
      format = nullptr;
      return false;
    }
    if (avformat_find_stream_info(format, nullptr) < 0) return false;
    stream_index = av_find_best_stream(format, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (stream_index < 0) return false;
    const AVCodecParameters* par = format->streams[stream_index]->codecpar;
    if (!IsWma(par->codec_id)) return false;
    channels = par->ch_layout.nb_channels;
    rate = par->sample_rate;
    if (channels < 1 || channels > 2 || rate < 1000 || rate > 384000) return false;
    const AVCodec* decoder = avcodec_find_decoder(par->codec_id);
    if (!decoder) return false;
    codec = avcodec_alloc_context3(decoder);
    if (!codec || avcodec_parameters_to_context(codec, par) < 0 || avcodec_open2(codec, decoder, nullptr) < 0)
      return false;
    packet = av_packet_alloc();
    frame = av_frame_alloc();
    return packet && frame;
  }

  int64_t DurationMs() const {
    const AVStream* st = format->streams[stream_index];
    if (st->duration > 0 && st->duration != AV_NOPTS_VALUE)
      return av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    if (format->duration > 0) return format->duration / 1000;
    return 0;
  }

  // The frame as interleaved 16-bit samples, handed to the output; samples
  // before a seek target are dropped.
  bool Deliver() {
    const int n = frame->nb_samples;
    const int ch = std::min(channels, frame->ch_layout.nb_channels);
    if (n <= 0 || ch != channels) return false;
    int first = 0;
    const AVRational tb = format->streams[stream_index]->time_base;
    if (priming) {
      if (frame->pts != AV_NOPTS_VALUE) origin_ms = av_rescale_q(frame->pts, tb, AVRational{1, 1000});
      return true;
    }
    if (skip_to_ms >= 0 && frame->pts != AV_NOPTS_VALUE) {
      const int64_t start_ms = av_rescale_q(frame->pts, tb, AVRational{1, 1000}) - origin_ms;
      const int64_t drop = (skip_to_ms - start_ms) * rate / 1000;
      if (drop >= n) return false;
      first = int(std::max<int64_t>(drop, 0));
      skip_to_ms = -1;
    }
    pcm.resize(size_t(n - first) * channels);
    const auto fmt = AVSampleFormat(frame->format);
    const bool planar = av_sample_fmt_is_planar(fmt);
    for (int i = first; i < n; ++i) {
      for (int c = 0; c < channels; ++c) {
        const uint8_t* plane = frame->extended_data[planar ? c : 0];
        const int at = planar ? i : i * channels + c;
        int32_t v = 0;
        switch (av_get_packed_sample_fmt(fmt)) {
          case AV_SAMPLE_FMT_FLT: v = int32_t(std::lrint(std::clamp(reinterpret_cast<const float*>(plane)[at], -1.0f, 1.0f) * 32767)); break;
          case AV_SAMPLE_FMT_S16: v = reinterpret_cast<const int16_t*>(plane)[at]; break;
          case AV_SAMPLE_FMT_S32: v = reinterpret_cast<const int32_t*>(plane)[at] >> 16; break;
          default: return false;
        }
        pcm[size_t(i - first) * channels + c] = int16_t(v);
      }
    }
    output(output_context, pcm.data(), uint32_t(pcm.size() * 2));
    return true;
  }

  // Decodes until one frame was delivered; false at the end of the data.
  bool DecodeOne() {
    for (int guard = 0; guard < 10000; ++guard) {
      const int r = avcodec_receive_frame(codec, frame);
      if (r == 0) {
        const bool delivered = Deliver();
        av_frame_unref(frame);
        if (delivered) return true;
        continue;
      }
      if (r == AVERROR_EOF) return false;
      if (r != AVERROR(EAGAIN)) return false;
      if (draining) return false;
      const int got = av_read_frame(format, packet);
      if (got < 0) {
        draining = true;
        avcodec_send_packet(codec, nullptr);
        continue;
      }
      if (packet->stream_index == stream_index) avcodec_send_packet(codec, packet);
      av_packet_unref(packet);
    }
    return false;
  }
};

bool GetMediaInfo(void* context, const TSndStreamFunctions* stream, const char16_t*, uint32_t* duration_ms,
                  uint32_t* second, TWaveFormat* format) {
  if (!stream || !duration_ms || !second || !format) return false;
  TWmaFile file;
  if (!file.Open(context, stream)) return false;
  const uint16_t ch = uint16_t(file.channels);
  const uint32_t rate = uint32_t(file.rate);
  *format = TWaveFormat{kWaveFormatPcm, ch, rate, rate * ch * 2u, uint16_t(ch * 2), 16, 0};
  *duration_ms = uint32_t(std::clamp<int64_t>(file.DurationMs(), 0, UINT32_MAX));
  *second = 0;
  return true;
}

void* CreateDecoder(void* context, const TSndStreamFunctions* stream, TSndPcmOutput output, void* output_context,
                    uint32_t) {
  if (!stream || !output) return nullptr;
  auto* file = new (std::nothrow) TWmaFile;
  if (!file) return nullptr;
  if (!file->Open(context, stream)) {
    delete file;
    return nullptr;
  }
  file->output = output;
  file->output_context = output_context;
  // One frame decoded and thrown away tells the decoder's stamp of time 0;
  // then back to the start.
  file->priming = true;
  file->DecodeOne();
  file->priming = false;
  av_seek_frame(file->format, file->stream_index, 0, AVSEEK_FLAG_BACKWARD);
  avcodec_flush_buffers(file->codec);
  file->draining = false;
  return file;
}

void DestroyDecoder(void* decoder) { delete static_cast<TWmaFile*>(decoder); }

bool Decode(void* decoder) { return decoder && static_cast<TWmaFile*>(decoder)->DecodeOne(); }

bool SetPosition(void* decoder, uint32_t* ms) {
  auto* f = static_cast<TWmaFile*>(decoder);
  if (!f || !ms) return false;
  const AVRational tb = f->format->streams[f->stream_index]->time_base;
  // A little before the target, so that the frames dropped up to it are
  // whole; packets carry their stamps without the decoder's delay.
  const int64_t from = std::max<int64_t>(int64_t(*ms) - 100, 0);
  const int64_t ts = av_rescale_q(from, AVRational{1, 1000}, tb);
  if (av_seek_frame(f->format, f->stream_index, ts, AVSEEK_FLAG_BACKWARD) < 0) return false;
  avcodec_flush_buffers(f->codec);
  f->draining = false;
  f->skip_to_ms = *ms;
  return true;
}

const TSndDecoderPlugin kPlugin = {"kavwma.dll", GetMediaInfo, CreateDecoder, DestroyDecoder,
                                   Decode,       SetPosition,  nullptr};

}  // namespace

const TSndDecoderPlugin* WmaDecoderPlugin() { return &kPlugin; }

bool WmaDecoderAvailable() {
  return avcodec_find_decoder(AV_CODEC_ID_WMAV2) != nullptr && av_find_input_format("asf") != nullptr;
}

}  // namespace kav
