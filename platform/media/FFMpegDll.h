// The binding of the media library: one shared object, counted by its
// users, that resolves the library's 24 entry points, serialises every call
// into it and classifies each opened file for the video source and the
// audio converter.
//
//   TFFMpegDll* dll = AcquireFFMpegDll(u"");   // raises without the library
//   TMediaRecord* media = dll->OpenMedia(u"clip.mp4");
//   ...
//   dll->CloseMedia(media);
//   ReleaseFFMpegDll(dll);
//
// Any thread may call any operation: calls into the library never overlap.
#pragma once
#include <cstdint>
#include <mutex>
#include <string>

#include "platform/media/MediaLib.h"
#include "VoRav/wpExceptions.h"

namespace kav {

using media::TMediaAudioInfo;
using media::TMediaAudioParams;
using media::TMediaBuffer;
using media::TMediaFrameInfo;
using media::TMediaIO;
using media::TMediaRecord;

// Container kinds, from the library's format name.
enum : uint8_t {
  kContainerOther = 0,
  kContainerAvi = 1,
  kContainerMatroska = 2,
  kContainerMov = 3,
  kContainerMpeg = 4,
  kContainerFlv = 5,
  kContainerMpegTs = 6,
  kContainerAsf = 7,
};

// The binding's classification of one open file (TMediaRecord::VideoDataEx),
// freed by CloseMedia.
struct TVideoDataEx {
  uint8_t ContainerKind = kContainerOther;
  int64_t DecodedPosition = 0;  // time stamp of the first complete picture
  uint8_t SeekByFrames = 0;
  uint8_t HighFrameRate = 0;
  int64_t FrameCount = 0;  // from the duration and the (normalised) rate
};

// A missing library or entry point.
class EMediaLibrary : public Exception {
 public:
  using Exception::Exception;
};

// "INT64_MIN" stands for "no time" in the library's answers.
inline constexpr int64_t kNoPts = INT64_MIN;

class TFFMpegDll {
 public:
  // Resolves the 24 entry points by name; raises EMediaLibrary when one is
  // missing. The library is linked into the program: `path` is kept for
  // the record only and nothing is ever loaded from it.
  explicit TFFMpegDll(const std::u16string& path);
  TFFMpegDll(const TFFMpegDll&) = delete;
  TFFMpegDll& operator=(const TFFMpegDll&) = delete;

  // Opens a file by name, or through `io` when given (the name then only
  // helps format detection), decoding with `threads` threads (0 automatic).
  // Null when the file does not open or holds neither video nor audio;
  // otherwise the record carries its TVideoDataEx.
  TMediaRecord* OpenMedia(const std::u16string& file_name, const TMediaIO* io = nullptr, int32_t threads = 0);
  // Closes the record and frees its TVideoDataEx and audio buffer. Null is
  // ignored.
  void CloseMedia(TMediaRecord* media);

  TMediaBuffer* AllocBuffer(TMediaRecord* media, int32_t format);
  TMediaBuffer* AllocBufferWithData(TMediaRecord* media, int32_t format);
  void FreeBuffer(TMediaBuffer* buffer);
  // Decodes the next picture into `buffer` and reads its information.
  // 1 a picture, 0 the end, negative an error.
  int32_t DecodeVideoFrame(TMediaRecord* media, TMediaBuffer* buffer, TMediaFrameInfo* info);
  int32_t ConvertFrame(TMediaRecord* media, const TMediaBuffer* src, TMediaBuffer* dst);
  // The picture information of a buffer. 0 on success.
  int32_t FrameInfo(const TMediaBuffer* buffer, TMediaFrameInfo* info);
  // The container's format name ("" when unknown).
  std::string FormatName(TMediaRecord* media);
  // The time of the next packet of `stream` (0 video, audio index + 1) in
  // milliseconds from the stream's start; kNoPts when none.
  int64_t CurrentPtsMs(TMediaRecord* media, int32_t stream);
  // Seeks to the key frame at or before `microseconds` from the stream's
  // start. -1 without a time base (nothing is done), else the library's
  // answer (0 success).
  int32_t Seek(TMediaRecord* media, int64_t microseconds);
  void Flush(TMediaRecord* media);
  void FlushVideo(TMediaRecord* media);
  // The stream time stamp `pts` as milliseconds from the stream's start.
  static double PtsToMs(const TMediaRecord* media, int64_t pts);

  // Audio. GetAudioInfo takes a sample size left 0 as 16 bits. OpenAudio
  // answers > 0 on success, after which the decoder is flushed and the
  // record's audio buffer (kMaxAudioFrameBytes) exists until CloseAudio.
  int32_t GetAudioInfo(TMediaRecord* media, TMediaAudioInfo* info);
  int32_t OpenAudio(TMediaRecord* media, const TMediaAudioParams* params);
  // Decodes into the record's audio buffer; `size` gets the bytes. 1 data,
  // 0 the end, negative an error.
  int32_t NextAudioFrame(TMediaRecord* media, int32_t& size);
  void AfterAudioSeek(TMediaRecord* media);
  void CloseAudio(TMediaRecord* media);

  // The frame-info flag (interlaced) of the first complete picture: the
  // texts "Orvane_ITFA" and "Orvane_ITFB" answer 1 and 0 without decoding,
  // AVI and Matroska files 0; otherwise up to three pictures are decoded
  // from the start. The picture's time is kept in the record's
  // TVideoDataEx; `top_first` gets its field order.
  int32_t FirstFrameFlag(TMediaRecord* media, bool* top_first = nullptr);

  // Classifies an opened record (see OpenMedia): closes and answers null
  // when it has neither video nor audio; corrects a height of 1088 to 1080;
  // attaches a TVideoDataEx with the container kind, the high-frame-rate
  // flag and the normalised frame rate.
  TMediaRecord* ClassifyMedia(TMediaRecord* media);
  static uint8_t ContainerKindOf(const std::string& format_name);

 private:
  struct TEntries;
  std::u16string path_;
  std::mutex call_lock_;
  // The resolved entry points, in the library's order.
  media::TOpenMediaFile open_media_file_ = nullptr;
  media::TOpenMediaFile2 open_media_file2_ = nullptr;
  media::TCloseMediaFile close_media_file_ = nullptr;
  media::TAllocBuffer alloc_buffer_ = nullptr;
  media::TAllocBufferWithData alloc_buffer_with_data_ = nullptr;
  media::TFreeBuffer free_buffer_ = nullptr;
  media::TConvertFrame convert_frame_ = nullptr;
  media::TGetNextVideoFrame get_next_video_frame_ = nullptr;
  media::TSeekFile seek_file_ = nullptr;
  media::TGetFormatName get_format_name_ = nullptr;
  media::TFlush flush_ = nullptr;
  media::TFlushVideo flush_video_ = nullptr;
  media::TGetFrameInfo get_frame_info_ = nullptr;
  media::TGetDtsPts get_dts_pts_ = nullptr;
  media::TGetDtsPts2 get_dts_pts2_ = nullptr;
  media::TGetAudioInfo get_audio_info_ = nullptr;
  media::TOpenAudioStream open_audio_stream_ = nullptr;
  media::TCloseAudioStream close_audio_stream_ = nullptr;
  media::TGetNextAudioFrame get_next_audio_frame_ = nullptr;
  media::TAfterAudioSeek after_audio_seek_ = nullptr;
  media::TGetCurrentPts get_current_pts_ = nullptr;
  media::TCreateVideoFile create_video_file_ = nullptr;
  media::TCreateAudioFile create_audio_file_ = nullptr;
  media::TCreateVideoAudioFile create_video_audio_file_ = nullptr;
};

// Under the binding lock: makes the shared binding on first use and adds
// one user. Raises EMediaLibrary when the library cannot be bound.
TFFMpegDll* AcquireFFMpegDll(const std::u16string& path);
// Drops one user of the shared binding (asserting that `dll` is it) and
// clears the variable; the last user frees the binding.
void ReleaseFFMpegDll(TFFMpegDll*& dll);
// Users of the shared binding (for tests).
int32_t FFMpegDllUsers();

}  // namespace kav
