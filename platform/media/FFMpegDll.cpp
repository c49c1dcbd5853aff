#include "platform/media/FFMpegDll.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstring>
#include <vector>

#include "VoRav/vxUTF8.h"

namespace kav {

namespace {

std::mutex g_binding_lock;
TFFMpegDll* g_binding = nullptr;
int32_t g_users = 0;

template <typename T>
void Resolve(T& slot, const char* name) {
  slot = reinterpret_cast<T>(media::MediaLibSymbol(name));
  if (!slot) throw EMediaLibrary();  // no message text, as a missing library gives
}

bool Near(double a, double b) { return std::fabs(a - b) < 0.001; }

}  // namespace

TFFMpegDll::TFFMpegDll(const std::u16string& path) : path_(path) {
  Resolve(open_media_file_, "OpenMediaFile");
  Resolve(open_media_file2_, "OpenMediaFile2");
  Resolve(close_media_file_, "CloseMediaFile");
  Resolve(alloc_buffer_, "AllocBuffer");
  Resolve(alloc_buffer_with_data_, "AllocBufferWithData");
  Resolve(free_buffer_, "FreeBuffer");
  Resolve(convert_frame_, "ConvertFrame");
  Resolve(get_next_video_frame_, "GetNextVideoFrame");
  Resolve(seek_file_, "SeekFile");
  Resolve(get_format_name_, "GetFormatName");
  Resolve(flush_, "Flush");
  Resolve(flush_video_, "FlushVideo");
  Resolve(get_frame_info_, "GetFrameInfo");
  Resolve(get_dts_pts_, "GetDtsPts");
  Resolve(get_dts_pts2_, "GetDtsPts2");
  Resolve(get_audio_info_, "GetAudioInfo");
  Resolve(open_audio_stream_, "OpenAudioStream");
  Resolve(close_audio_stream_, "CloseAudioStream");
  Resolve(get_next_audio_frame_, "GetNextAudioFrame");
  Resolve(after_audio_seek_, "AfterAudioSeek");
  Resolve(get_current_pts_, "GetCurrentPts");
  Resolve(create_video_file_, "CreateVideoFile");
  Resolve(create_audio_file_, "CreateAudioFile");
  Resolve(create_video_audio_file_, "CreateVideoAudioFile");
}

TMediaRecord* TFFMpegDll::OpenMedia(const std::u16string& file_name, const TMediaIO* io, int32_t threads) {
  // File names are handed to the system as standard UTF-8, not the 8-bit
  // code page a Windows library takes.
  std::string name = WideToSystemUTF8(file_name);
  TMediaRecord* media;
  {
    std::lock_guard<std::mutex> hold(call_lock_);
    media = io || threads != 0 ? open_media_file2_(name.c_str(), io, threads) : open_media_file_(name.c_str());
    std::feclearexcept(FE_ALL_EXCEPT);
  }
  return media ? ClassifyMedia(media) : nullptr;
}

void TFFMpegDll::CloseMedia(TMediaRecord* media) {
  if (!media) return;
  delete static_cast<TVideoDataEx*>(media->VideoDataEx);
  media->VideoDataEx = nullptr;
  delete[] media->AudioBuffer;
  media->AudioBuffer = nullptr;
  std::lock_guard<std::mutex> hold(call_lock_);
  close_media_file_(media);
}

TMediaBuffer* TFFMpegDll::AllocBuffer(TMediaRecord* media, int32_t format) {
  std::lock_guard<std::mutex> hold(call_lock_);
  return alloc_buffer_(media, format);
}

TMediaBuffer* TFFMpegDll::AllocBufferWithData(TMediaRecord* media, int32_t format) {
  std::lock_guard<std::mutex> hold(call_lock_);
  return alloc_buffer_with_data_(media, format);
}

void TFFMpegDll::FreeBuffer(TMediaBuffer* buffer) {
  std::lock_guard<std::mutex> hold(call_lock_);
  free_buffer_(buffer);
}

int32_t TFFMpegDll::DecodeVideoFrame(TMediaRecord* media, TMediaBuffer* buffer, TMediaFrameInfo* info) {
  std::lock_guard<std::mutex> hold(call_lock_);
  int32_t r = get_next_video_frame_(media, buffer, 0);
  if (info) get_frame_info_(buffer, info);
  return r;
}

int32_t TFFMpegDll::ConvertFrame(TMediaRecord* media, const TMediaBuffer* src, TMediaBuffer* dst) {
  std::lock_guard<std::mutex> hold(call_lock_);
  return convert_frame_(media, src, dst);
}

int32_t TFFMpegDll::FrameInfo(const TMediaBuffer* buffer, TMediaFrameInfo* info) {
  std::lock_guard<std::mutex> hold(call_lock_);
  return get_frame_info_(buffer, info);
}

std::string TFFMpegDll::FormatName(TMediaRecord* media) {
  std::lock_guard<std::mutex> hold(call_lock_);
  int32_t len = get_format_name_(media, nullptr, 0);
  if (len <= 0 || len > 4096) return std::string();
  std::vector<char> buf(size_t(len) + 1);
  get_format_name_(media, buf.data(), len + 1);
  return std::string(buf.data(), strnlen(buf.data(), size_t(len)));
}

double TFFMpegDll::PtsToMs(const TMediaRecord* media, int64_t pts) {
  if (!media || media->TimeBaseDen <= 0 || pts == kNoPts) return 0;
  return double(pts - media->Start) * 1000.0 * media->TimeBaseNum / media->TimeBaseDen;
}

int64_t TFFMpegDll::CurrentPtsMs(TMediaRecord* media, int32_t stream) {
  int64_t pts;
  {
    std::lock_guard<std::mutex> hold(call_lock_);
    pts = get_current_pts_(media, stream);
  }
  if (pts == kNoPts || media->TimeBaseDen <= 0) return kNoPts;
  return int64_t(std::llround(PtsToMs(media, pts)));
}

int32_t TFFMpegDll::Seek(TMediaRecord* media, int64_t microseconds) {
  if (!media || media->TimeBaseNum <= 0 || media->TimeBaseDen <= 0) return -1;
  // Microseconds to stream ticks without overflow for any sane clip.
  long double ticks = (long double)microseconds * media->TimeBaseDen / (1000000.0L * media->TimeBaseNum);
  if (!(std::fabs(ticks) < 9.0e18L)) return -1;
  std::lock_guard<std::mutex> hold(call_lock_);
  return seek_file_(media, int64_t(std::llround(ticks)) + media->Start);
}

void TFFMpegDll::Flush(TMediaRecord* media) {
  std::lock_guard<std::mutex> hold(call_lock_);
  flush_(media);
}

void TFFMpegDll::FlushVideo(TMediaRecord* media) {
  std::lock_guard<std::mutex> hold(call_lock_);
  flush_video_(media);
}

int32_t TFFMpegDll::GetAudioInfo(TMediaRecord* media, TMediaAudioInfo* info) {
  int32_t r;
  {
    std::lock_guard<std::mutex> hold(call_lock_);
    r = get_audio_info_(media, info);
  }
  if (info && info->SampleBits == 0) info->SampleBits = 16;
  return r;
}

int32_t TFFMpegDll::OpenAudio(TMediaRecord* media, const TMediaAudioParams* params) {
  std::lock_guard<std::mutex> hold(call_lock_);
  int32_t r = open_audio_stream_(media, params);
  if (r > 0) {
    flush_(media);
    if (!media->AudioBuffer) media->AudioBuffer = new uint8_t[media::kMaxAudioFrameBytes];
  }
  return r;
}

int32_t TFFMpegDll::NextAudioFrame(TMediaRecord* media, int32_t& size) {
  size = 0;
  if (!media || !media->AudioBuffer) return -1;
  int32_t n = media::kMaxAudioFrameBytes;
  std::lock_guard<std::mutex> hold(call_lock_);
  int32_t r = get_next_audio_frame_(media, media->AudioBuffer, &n);
  size = r > 0 ? n : 0;
  return r;
}

void TFFMpegDll::AfterAudioSeek(TMediaRecord* media) {
  std::lock_guard<std::mutex> hold(call_lock_);
  after_audio_seek_(media);
}

void TFFMpegDll::CloseAudio(TMediaRecord* media) {
  if (!media) return;
  {
    std::lock_guard<std::mutex> hold(call_lock_);
    close_audio_stream_(media);
  }
  delete[] media->AudioBuffer;
  media->AudioBuffer = nullptr;
}

uint8_t TFFMpegDll::ContainerKindOf(const std::string& name) {
  if (name == "avi") return kContainerAvi;
  if (name == "matroska,webm") return kContainerMatroska;
  if (name == "mov,mp4,m4a,3gp,3g2,mj2") return kContainerMov;
  if (name == "mpeg" || name == "mpegvideo") return kContainerMpeg;
  if (name == "flv") return kContainerFlv;
  if (name == "mpegts") return kContainerMpegTs;
  if (name == "asf") return kContainerAsf;
  return kContainerOther;
}

TMediaRecord* TFFMpegDll::ClassifyMedia(TMediaRecord* media) {
  if (media->VideoStream < 0 && media->AudioStream == 0) {
    CloseMedia(media);
    return nullptr;
  }
  if (media->Height == 1088) media->Height = 1080;
  auto* ex = new TVideoDataEx();
  media->VideoDataEx = ex;
  ex->ContainerKind = ContainerKindOf(FormatName(media));
  const int32_t codec = media->CodecId;
  const double rate = media->FrameRateDen > 0 ? double(media->FrameRateNum) / media->FrameRateDen : 0;
  const double rate2 = media->FrameRate2Den > 0 ? double(media->FrameRate2Num) / media->FrameRate2Den : 0;
  if (codec != media::kCodecMpeg2) {
    ex->HighFrameRate = rate > 100 || codec == 15 || codec == 16 || codec == 17 || codec == 47;
    if (ex->ContainerKind == kContainerAvi && codec == media::kCodecMpeg4) ex->HighFrameRate = 1;
    if (ex->ContainerKind == kContainerMpegTs && codec == media::kCodecH264 && rate2 >= 50) ex->HighFrameRate = 1;
  }
  if (!ex->HighFrameRate && media->VideoStream >= 0) {
    const double film = 24000.0 / 1001.0, ntsc = 30000.0 / 1001.0;
    double second = rate2;
    if (media->TicksPerFrame > 0) second /= media->TicksPerFrame;
    if (Near(rate, film) || Near(rate, ntsc)) {
      // kept as it is
    } else if (Near(second, film) || Near(second, ntsc)) {
      media->FrameRateNum = Near(second, film) ? 24000 : 30000;
      media->FrameRateDen = 1001;
    } else if ((ex->ContainerKind == kContainerMpeg || ex->ContainerKind == kContainerFlv ||
                ex->ContainerKind == kContainerMpegTs) &&
               rate2 > 0 && rate2 <= 130) {
      // A denominator that would overflow keeps the rate as it was.
      const int64_t den = int64_t(media->FrameRate2Den) * std::max(media->TicksPerFrame, 1);
      if (den <= INT32_MAX) {
        media->FrameRateNum = media->FrameRate2Num;
        media->FrameRateDen = int32_t(den);
      }
    }
  }
  if (media->FrameRateDen > 0 && media->FrameRateNum > 0) {
    double fps = double(media->FrameRateNum) / media->FrameRateDen;
    // From the video's own playing time: the sound may run longer.
    const int64_t us = media->VideoDurationUs > 0 ? media->VideoDurationUs : media->DurationUs;
    double frames = double(us) * fps / 1e6;
    if (media->FrameCount > 0 && media->FrameCount < INT32_MAX) frames = double(media->FrameCount);
    ex->FrameCount = frames > 0 && frames < 2e9 ? std::llround(frames) : 0;
  }
  if (media->Start < 0) media->Start = 0;
  return media;
}

int32_t TFFMpegDll::FirstFrameFlag(TMediaRecord* media, bool* top_first) {
  if (top_first) *top_first = true;
  if (!media || media->VideoStream < 0) return 0;
  if (strncmp(media->Text, "Orvane_ITFA", sizeof media->Text) == 0) return 1;
  if (strncmp(media->Text, "Orvane_ITFB", sizeof media->Text) == 0) return 0;
  auto* ex = static_cast<TVideoDataEx*>(media->VideoDataEx);
  if (ex && (ex->ContainerKind == kContainerAvi || ex->ContainerKind == kContainerMatroska)) return 0;
  TMediaBuffer* buffer = AllocBuffer(media, media::kPixYUV420P);
  if (!buffer) return 0;
  Seek(media, 0);
  int32_t flag = 0;
  for (int i = 0; i < 3; ++i) {
    TMediaFrameInfo info;
    if (DecodeVideoFrame(media, buffer, &info) <= 0) break;
    if (info.Complete) {
      flag = info.Interlaced;
      if (top_first) *top_first = info.TopFieldFirst != 0;
      if (ex) ex->DecodedPosition = info.Pts;
      break;
    }
  }
  FreeBuffer(buffer);
  return flag;
}

TFFMpegDll* AcquireFFMpegDll(const std::u16string& path) {
  std::lock_guard<std::mutex> hold(g_binding_lock);
  if (!g_binding) {
    // The library is linked in: the path is never loaded (it may come from
    // a show).
    g_binding = new TFFMpegDll(path);  // raises without the library
    g_users = 0;
  }
  ++g_users;
  return g_binding;
}

void ReleaseFFMpegDll(TFFMpegDll*& dll) {
  if (!dll) return;
  KAV_ASSERT(dll == g_binding);
  std::lock_guard<std::mutex> hold(g_binding_lock);
  // The last user frees the binding; nothing is released again at exit.
  if (--g_users == 0) {
    delete g_binding;
    g_binding = nullptr;
  }
  dll = nullptr;
}

int32_t FFMpegDllUsers() {
  std::lock_guard<std::mutex> hold(g_binding_lock);
  return g_users;
}

}  // namespace kav
