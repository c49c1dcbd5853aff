// The media library: video and audio decoding of clip files, on libavformat,
// libavcodec, libswscale and libavutil.
//
// The player reaches it only through its 24 named entry points, found by
// name with MediaLibSymbol (the way a separately built library would be
// bound): the binding (FFMpegDll.h) resolves them once. The library is
// linked into the program; nothing is ever loaded from a file.
//
// None of the entry points is safe against concurrent calls on one media
// record: the binding serialises every call. Records and buffers are owned
// by the library and given back with CloseMediaFile and FreeBuffer.
#pragma once
#include <cstdint>

namespace kav::media {

struct TMediaContext;  // the library's private state of one open file

// Codec ids reported in TMediaRecord::CodecId. The named ones keep the
// numbers the player's classification knows; every other codec is
// kCodecOtherBase + its libavcodec id.
enum : int32_t {
  kCodecNone = 0,
  kCodecMpeg1 = 1,
  kCodecMpeg2 = 2,
  kCodecMpeg4 = 13,
  kCodecMsMpeg4V1 = 15,
  kCodecMsMpeg4V2 = 16,
  kCodecMsMpeg4V3 = 17,
  kCodecH264 = 28,
  kCodecXvid = 63,
  kCodecOtherBase = 1000,
};

// Pixel format codes: of the decoder (TMediaRecord::PixelFormat) and of a
// frame buffer (AllocBuffer). Decoders whose pictures carry alpha report
// kPixBGRA or kPixRGBA; all others report kPixYUV420P and their pictures
// are converted to it.
enum : int32_t {
  kPixYUV420P = 0,  // three planes, chroma halved both ways
  kPixYUYV422 = 1,  // packed, two bytes per pixel
  kPixRGB24 = 2,    // R, G, B bytes
  kPixBGR24 = 3,    // B, G, R bytes
  kPixBGRA = 6,     // B, G, R, A bytes
  kPixRGBA = 30,    // R, G, B, A bytes
};

// Custom input: the file's bytes come from these callbacks instead of a
// named file. `read` answers the bytes read (0 at the end, negative on an
// error); `seek` answers the new position, or the size for whence 0x10000,
// or negative on an error.
struct TMediaIO {
  void* Opaque = nullptr;
  int32_t (*Read)(void* opaque, uint8_t* buffer, int32_t size) = nullptr;
  int64_t (*Seek)(void* opaque, int64_t offset, int32_t whence) = nullptr;
};

// The per-file record of an open media file. The library fills every field
// but the last three, which belong to the caller.
struct TMediaRecord {
  int32_t FrameRateNum = 0;  // video frame rate; 0/0 unknown
  int32_t FrameRateDen = 0;
  // The video stream's first time stamp, in its time base. Pictures are
  // reported so that the first one decoded from the start has this time.
  int64_t Start = 0;
  int32_t VideoStream = -1;  // -1: none
  int32_t CodecId = kCodecNone;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t TicksPerFrame = 0;
  // The rate of the codec's ticks: the container's guess of the frame rate
  // times TicksPerFrame (a frame rate once divided by it).
  int32_t FrameRate2Num = 0;
  int32_t FrameRate2Den = 0;
  int32_t AudioStream = 0;  // stream index + 1; 0: none
  int32_t PixelFormat = kPixYUV420P;
  int32_t TimeBaseNum = 0;  // of the video stream (of the audio one without video)
  int32_t TimeBaseDen = 0;
  int64_t FrameCount = 0;  // frames the container declares; 0 unknown
  // The file's playing time in microseconds, from its first time stamp
  // (a file that starts at 3 s does not count those 3 s); 0 unknown.
  int64_t DurationUs = 0;
  // The video stream's own playing time (the sound may start earlier or end
  // later); the file's without video or when the stream does not tell.
  int64_t VideoDurationUs = 0;
  int32_t AspectNum = 0;  // sample aspect ratio; 0/0 square
  int32_t AspectDen = 0;
  char Text[64] = {};  // the file's "comment" tag (truncated), "" without one
  // The caller's own fields.
  uint8_t* AudioBuffer = nullptr;
  void* VideoDataEx = nullptr;
  TMediaContext* Context = nullptr;  // the library's; never touched by callers
};

// A frame buffer. Made by AllocBuffer for one format; its planes point into
// library memory valid until the next decode into the buffer or FreeBuffer.
struct TMediaBuffer;

struct TMediaFrameInfo {
  // Presentation time in the stream's time base; INT64_MIN none. Containers
  // without presentation times (AVI) give pictures after B-frames the time
  // of a later packet: every picture's time is moved by the same amount so
  // that the stream's first picture has the record's Start.
  int64_t Pts = INT64_MIN;
  int32_t Complete = 0;     // a whole picture was decoded into the buffer
  int32_t Interlaced = 0;
  int32_t TopFieldFirst = 0;
  int32_t KeyFrame = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t Format = 0;  // the buffer's pixel format code
  uint8_t* Planes[4] = {};
  int32_t Strides[4] = {};
};

struct TMediaAudioInfo {
  int32_t SampleRate = 0;
  int32_t Channels = 0;
  int32_t SampleBits = 0;  // of the decoded output; 0 means the default (16)
  int32_t CodecId = 0;
  int64_t DurationMs = 0;
  int32_t BitRate = 0;
};

// Parameters of OpenAudioStream: the output is interleaved signed 16-bit
// PCM with the stream's own rate and at most MaxChannels channels (extra
// channels are dropped, a single one is kept).
struct TMediaAudioParams {
  int32_t MaxChannels = 2;
};

// The largest block GetNextAudioFrame delivers at once.
inline constexpr int32_t kMaxAudioFrameBytes = 192000;

// Entry-point signatures.
using TOpenMediaFile = TMediaRecord* (*)(const char* file_name);
// `io` may be null (the named file is opened); `threads` is the decoder's
// thread count (0: automatic).
using TOpenMediaFile2 = TMediaRecord* (*)(const char* file_name, const TMediaIO* io, int32_t threads);
using TCloseMediaFile = void (*)(TMediaRecord* media);
using TAllocBuffer = TMediaBuffer* (*)(TMediaRecord* media, int32_t format);
using TAllocBufferWithData = TMediaBuffer* (*)(TMediaRecord* media, int32_t format);
using TFreeBuffer = void (*)(TMediaBuffer* buffer);
// Converts the picture in `src` into `dst` (its format, the picture's size).
// 0 on success.
using TConvertFrame = int32_t (*)(TMediaRecord* media, const TMediaBuffer* src, TMediaBuffer* dst);
// Decodes the next video picture into the buffer (converted to its format).
// 1 a picture, 0 the end of the stream, negative an error.
using TGetNextVideoFrame = int32_t (*)(TMediaRecord* media, TMediaBuffer* buffer, int32_t flags);
// Seeks the video stream (the audio one without video) to the key frame at
// or before `position` (stream time base). 0 on success, negative on error.
// A position at or before the start goes to the file's first packets, also
// those before time 0 (the priming of an AAC encoder).
using TSeekFile = int32_t (*)(TMediaRecord* media, int64_t position);
// Writes the container's format name (with its terminating 0, cut to
// `size`) and answers its length without the 0; with no buffer only the
// length.
using TGetFormatName = int32_t (*)(TMediaRecord* media, char* buffer, int32_t size);
using TFlush = void (*)(TMediaRecord* media);
using TFlushVideo = void (*)(TMediaRecord* media);
// 0 on success; -1 without a buffer.
using TGetFrameInfo = int32_t (*)(const TMediaBuffer* buffer, TMediaFrameInfo* info);
// The decode and presentation times of the buffer's picture.
using TGetDtsPts = int32_t (*)(const TMediaBuffer* buffer, int64_t* dts, int64_t* pts);
// The decode and presentation times of the last packet read.
using TGetDtsPts2 = int32_t (*)(TMediaRecord* media, int64_t* dts, int64_t* pts);
using TGetAudioInfo = int32_t (*)(TMediaRecord* media, TMediaAudioInfo* info);
// > 0 on success.
using TOpenAudioStream = int32_t (*)(TMediaRecord* media, const TMediaAudioParams* params);
using TCloseAudioStream = void (*)(TMediaRecord* media);
// Decodes audio into `buffer` (room for *size bytes, at least
// kMaxAudioFrameBytes), sets *size to the bytes delivered. 1 data, 0 the
// end, negative an error.
using TGetNextAudioFrame = int32_t (*)(TMediaRecord* media, uint8_t* buffer, int32_t* size);
// Drops the audio decoder's state after a seek.
using TAfterAudioSeek = void (*)(TMediaRecord* media);
// The time stamp of the next packet of `stream` (index + 1 of the audio
// stream, or 0 for the video stream) without consuming it, in the record's
// time base; INT64_MIN none.
using TGetCurrentPts = int64_t (*)(TMediaRecord* media, int32_t stream);
// Writing clip files belongs to the authoring tool: these answer null.
using TCreateVideoFile = void* (*)(const char* file_name, int32_t width, int32_t height, int32_t fps);
using TCreateAudioFile = void* (*)(const char* file_name, int32_t rate, int32_t channels);
using TCreateVideoAudioFile = void* (*)(const char* file_name, int32_t width, int32_t height, int32_t fps,
                                        int32_t rate, int32_t channels);

// The entry point of that name, or null for an unknown name.
void* MediaLibSymbol(const char* name) noexcept;

}  // namespace kav::media
