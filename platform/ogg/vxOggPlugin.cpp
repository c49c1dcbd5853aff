#include "platform/ogg/vxOggPlugin.h"

#include <vorbis/vorbisfile.h>

#include <cmath>
#include <new>

namespace kav {

namespace {

struct TSource {
  void* context;
  const TSndStreamFunctions* stream;
};

size_t ReadCb(void* ptr, size_t size, size_t count, void* source) {
  auto* s = static_cast<TSource*>(source);
  if (size == 0 || count == 0) return 0;
  const int64_t got = s->stream->Read64(s->context, ptr, int64_t(size * count));
  return got > 0 ? size_t(got) / size : 0;
}

int SeekCb(void* source, ogg_int64_t offset, int whence) {
  auto* s = static_cast<TSource*>(source);
  const int32_t origin = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? 1 : 2;
  return s->stream->Seek64(s->context, offset, origin) < 0 ? -1 : 0;
}

long TellCb(void* source) {
  auto* s = static_cast<TSource*>(source);
  return long(s->stream->GetPosition64(s->context));
}

constexpr ov_callbacks kCallbacks = {ReadCb, SeekCb, nullptr, TellCb};

struct TOggDecoder {
  TSource source;
  OggVorbis_File file;
  TSndPcmOutput output;
  void* output_context;
  int section = 0;
  char pcm[16384];
};

// Opens the file; false (nothing to clear) when it is no Vorbis stream the
// player can take.
bool Open(OggVorbis_File& file, TSource& source) {
  if (ov_open_callbacks(&source, &file, nullptr, 0, kCallbacks) != 0) return false;
  const vorbis_info* vi = ov_info(&file, -1);
  if (!vi || vi->channels < 1 || vi->channels > 2 || vi->rate < 1000 || vi->rate > 384000) {
    ov_clear(&file);
    return false;
  }
  return true;
}

bool GetMediaInfo(void* context, const TSndStreamFunctions* stream, const char16_t*, uint32_t* duration_ms,
                  uint32_t* second, TWaveFormat* format) {
  if (!stream || !duration_ms || !second || !format) return false;
  TSource source{context, stream};
  OggVorbis_File file;
  if (!Open(file, source)) return false;
  const vorbis_info* vi = ov_info(&file, -1);
  const double seconds = ov_time_total(&file, -1);
  const uint16_t channels = uint16_t(vi->channels);
  const uint32_t rate = uint32_t(vi->rate);
  *format = TWaveFormat{kWaveFormatPcm, channels, rate, rate * channels * 2u, uint16_t(channels * 2), 16, 0};
  *duration_ms = seconds > 0 && seconds < 4e6 ? uint32_t(std::lround(seconds * 1000)) : 0;
  *second = 0;
  ov_clear(&file);
  return true;
}

void* CreateDecoder(void* context, const TSndStreamFunctions* stream, TSndPcmOutput output, void* output_context,
                    uint32_t) {
  if (!stream || !output) return nullptr;
  auto* d = new (std::nothrow) TOggDecoder;
  if (!d) return nullptr;
  d->source = {context, stream};
  d->output = output;
  d->output_context = output_context;
  stream->Seek64(context, 0, 0);
  if (!Open(d->file, d->source)) {
    delete d;
    return nullptr;
  }
  return d;
}

void DestroyDecoder(void* decoder) {
  auto* d = static_cast<TOggDecoder*>(decoder);
  if (!d) return;
  ov_clear(&d->file);
  delete d;
}

bool Decode(void* decoder) {
  auto* d = static_cast<TOggDecoder*>(decoder);
  if (!d) return false;
  // A hole in the data (OV_HOLE) is skipped; a few in a row end the file.
  for (int tries = 0; tries < 8; ++tries) {
    const long got = ov_read(&d->file, d->pcm, sizeof d->pcm, 0, 2, 1, &d->section);
    if (got > 0) {
      d->output(d->output_context, d->pcm, uint32_t(got));
      return true;
    }
    if (got == 0 || got != OV_HOLE) return false;
  }
  return false;
}

bool SetPosition(void* decoder, uint32_t* ms) {
  auto* d = static_cast<TOggDecoder*>(decoder);
  if (!d || !ms) return false;
  if (ov_time_seek(&d->file, *ms / 1000.0) != 0) return false;
  const double t = ov_time_tell(&d->file);
  if (t >= 0) *ms = uint32_t(std::lround(t * 1000));
  return true;
}

const TSndDecoderPlugin kPlugin = {"kavogg.dll", GetMediaInfo, CreateDecoder, DestroyDecoder,
                                   Decode,       SetPosition,  nullptr};

}  // namespace

const TSndDecoderPlugin* OggDecoderPlugin() { return &kPlugin; }

}  // namespace kav
