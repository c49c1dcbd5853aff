#include "VoRav/Graphics/Video/FFMpegVideoSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxLog.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Decodes without reaching the wanted picture before the source gives up
// (a stream whose time stamps never get there).
constexpr int32_t kMaxDecodesPerPosition = 1 << 16;
// Stepping forward by fewer frames than this decodes on instead of seeking.
constexpr int32_t kForwardWindow = 30;
constexpr int32_t kMaxScanSeeks = 101;

std::u16string Num(int64_t v) {
  std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}

int32_t StreamRead(void* opaque, uint8_t* buffer, int32_t size) {
  try {
    return int32_t(static_cast<TStream*>(opaque)->Read(std::span<uint8_t>(buffer, size_t(size)), size));
  } catch (...) {
    return -1;
  }
}

int64_t StreamSeek(void* opaque, int64_t offset, int32_t whence) {
  try {
    auto* s = static_cast<TStream*>(opaque);
    // A clip inflated from a package does not know its size before it is
    // read through: the library is told so (by the size query and by a
    // seek from the end, which it tries next), as for a stream from the
    // network, rather than have the whole clip inflated for it; a demuxer
    // that needs the end reads on to it. A seek past the end fails in the
    // stream itself.
    const int64_t known = s->GetKnownSize();
    if (whence == 0x10000) return known;
    if (whence == SEEK_END && known < 0) return -1;
    const int64_t base = whence == SEEK_CUR ? s->GetPosition() : whence == SEEK_END ? known : 0;
    if (base + offset < 0 || (known >= 0 && base + offset > known)) return -1;
    return s->SetPosition(base + offset);
  } catch (...) {
    return -1;
  }
}

std::u16string CodecName(int32_t codec) {
  switch (codec) {
    case media::kCodecMpeg2: return u"MPEG2";
    case media::kCodecMpeg4: return u"MPEG4";
    case media::kCodecH264: return u"H264";
    case media::kCodecXvid: return u"XVID";
    default: return u"OTHER";
  }
}

Ref<TFrameSource> MediaLibFactory(TStream* stream, bool owned, const std::u16string& file_name) {
  Ref<TWinVideoSource> source = MakeRef<TWinVideoSource>(stream, owned, file_name);
  if (!source->Opened()) return {};
  return source;
}

}  // namespace

TWinVideoSource::TWinVideoSource(TStream* stream, bool owned, const std::u16string& file_name)
    : stream_(owned ? Ref<TStream>::Adopt(stream) : Ref<TStream>(stream)), file_name_(file_name) {
  KAV_ASSERT(!file_name.empty());
  for (int g = 0; g < 256; ++g) grey565_[g] = Grey565(uint8_t(g));
  try {
    dll_ = AcquireFFMpegDll(u"");
  } catch (const EMediaLibrary&) {
    return;  // no media library: the source stays closed
  }
  if (stream_) {
    try {
      stream_->SetPosition(0);  // the library reads the clip from its first byte
    } catch (const Exception&) {
      return;
    }
    io_.Opaque = stream_.get();
    io_.Read = StreamRead;
    io_.Seek = StreamSeek;
  }
  media_ = dll_->OpenMedia(file_name_, stream_ ? &io_ : nullptr, decoder_threads_.load());
  if (media_ && media_->VideoStream < 0) {
    dll_->CloseMedia(media_);
    media_ = nullptr;
  }
  if (!media_) return;
  rgba_ = media_->PixelFormat == media::kPixRGBA || media_->PixelFormat == media::kPixBGRA;
  const int32_t format = rgba_ ? media::kPixBGRA : media::kPixYUV420P;
  cur_ = dll_->AllocBuffer(media_, format);
  next_ = dll_->AllocBuffer(media_, format);
  rgb_ = dll_->AllocBufferWithData(media_, media::kPixBGR24);
  if (!cur_ || !next_ || !rgb_) {
    dll_->CloseMedia(media_);
    media_ = nullptr;
    return;
  }
  auto* ex = static_cast<TVideoDataEx*>(media_->VideoDataEx);
  fps_ = media_->FrameRateDen > 0 ? double(media_->FrameRateNum) / media_->FrameRateDen : 0;
  // A clip without a usable rate is numbered at 25 frames per second.
  if (!(fps_ > 0 && fps_ < 1000)) fps_ = 25;
  info_.Width = media_->Width;
  info_.Height = media_->Height;
  info_.FramesPerSecond = fps_;
  info_.FrameCount = ex ? int32_t(std::min<int64_t>(ex->FrameCount, INT32_MAX)) : 0;
  // The pictures' own playing time (a clip's sound may start earlier).
  const int64_t us = media_->VideoDurationUs > 0 ? media_->VideoDurationUs : media_->DurationUs;
  info_.DurationMs = int32_t(std::min<int64_t>(us / 1000, INT32_MAX));
  info_.CodecName = CodecName(media_->CodecId);
  info_.Rgba = rgba_;
  bool top_first = true;
  info_.Interlaced = uint8_t(dll_->FirstFrameFlag(media_, &top_first) != 0);
  info_.TopFieldFirst = top_first;
  if (media_->AspectNum > 0 && media_->AspectDen > 0 && media_->AspectNum != media_->AspectDen && media_->Height > 0) {
    double dar = double(media_->Width) * media_->AspectNum / (double(media_->Height) * media_->AspectDen);
    if (std::fabs(dar - 4.0 / 3.0) < 0.02) info_.AspectMode = 1;
    if (std::fabs(dar - 16.0 / 9.0) < 0.02) info_.AspectMode = 2;
  }
}

void TWinVideoSource::Dispose() {
  if (dll_) {
    if (media_) dll_->CloseMedia(media_);
    media_ = nullptr;
    for (TMediaBuffer** b : {&cur_, &next_, &rgb_}) {
      if (*b) dll_->FreeBuffer(*b);
      *b = nullptr;
    }
    ReleaseFFMpegDll(dll_);
  }
  stream_ = nullptr;
  TFrameSource::Dispose();
}

int32_t TWinVideoSource::NumberOf(const TMediaFrameInfo& info, int32_t previous) const {
  // A picture without a time stamp follows the one before it.
  if (info.Pts == kNoPts) return previous + 1;
  double n = std::nearbyint(TFFMpegDll::PtsToMs(media_, info.Pts) * fps_ / 1000.0);
  return int32_t(std::clamp(n, -1.0, double(INT32_MAX - 1)));
}

int32_t TWinVideoSource::DecodeNext() {
  int32_t r = dll_->DecodeVideoFrame(media_, next_, &next_info_);
  if (r != 1 || !next_info_.Complete) return r == 1 ? -1 : r;
  ++decoded_;
  next_number_ = NumberOf(next_info_, cur_valid_ ? cur_number_ : -1);
  next_valid_ = true;
  return 1;
}

void TWinVideoSource::Promote() {
  std::swap(cur_, next_);
  cur_info_ = next_info_;
  cur_number_ = next_number_;
  cur_valid_ = true;
  next_valid_ = false;
}

int32_t TWinVideoSource::SeekTo(int32_t frame) {
  if (seek_method_ == kSeekUnknown) {
    auto* ex = static_cast<TVideoDataEx*>(media_->VideoDataEx);
    uint8_t kind = ex ? ex->ContainerKind : uint8_t(kContainerOther);
    // ASF files take the scanning seek too (there is no separate
    // audio-assisted one).
    if (kind == kContainerMatroska || kind == kContainerAsf || dll_->Seek(media_, 0) < 0)
      seek_method_ = kSeekScan;
    else
      seek_method_ = kSeekTime;
  }
  dll_->FlushVideo(media_);
  cur_valid_ = next_valid_ = at_end_ = false;
  const int64_t target_ms = int64_t(std::floor(frame * 1000.0 / fps_));
  int32_t r = 0;
  if (seek_method_ == kSeekScan) {
    int64_t back_us = 0;
    for (int i = 0; i < kMaxScanSeeks; ++i) {
      r = dll_->Seek(media_, std::max<int64_t>(0, target_ms * 1000 - back_us));
      int64_t at = dll_->CurrentPtsMs(media_, 0);
      if (r < 0 || at == kNoPts || at <= target_ms || target_ms * 1000 - back_us <= 0) break;
      back_us = back_us ? back_us * 2 : 500000;
    }
  } else {
    r = dll_->Seek(media_, target_ms * 1000);
  }
  if (r < 0) r = dll_->Seek(media_, 0);
  if (r < 0) return r;

  // When the seek lands after the wanted frame (or at the end), seek again
  // further back, at last from the start.
  static constexpr int64_t kBackMs[] = {1000, 4000, 16000, -1};
  size_t retreat = 0;
  bool from_start = target_ms <= 0;
  auto seek_back = [&]() {
    dll_->FlushVideo(media_);
    next_valid_ = false;
    int64_t back = kBackMs[retreat++];
    from_start = back < 0 || target_ms - back <= 0;
    return dll_->Seek(media_, from_start ? 0 : (target_ms - back) * 1000) >= 0;
  };
  for (int32_t i = 0; i < kMaxDecodesPerPosition; ++i) {
    int32_t d = DecodeNext();
    if (d <= 0) {
      if (!cur_valid_ && !from_start) {
        if (!seek_back()) return -1;
        continue;
      }
      at_end_ = true;
      break;
    }
    if (next_number_ <= frame) {
      Promote();
      continue;
    }
    if (cur_valid_) break;  // next_ is the picture after the wanted one
    if (!from_start) {
      if (!seek_back()) return -1;
      continue;
    }
    Promote();  // nothing comes before it: the clip's first picture
    break;
  }
  return cur_valid_ ? 0 : -1;
}

// Frame n is the picture with the largest number not above n: decoding
// stops before the first picture past n rather than delivering it.
int32_t TWinVideoSource::Position(int32_t frame) {
  KAV_ASSERT(dll_ && media_ && cur_ && next_);
  frame = std::max(frame, 0);  // a negative frame is the start
  if (cur_valid_ && cur_number_ <= frame) {
    if (next_valid_ ? frame < next_number_ : (at_end_ || frame == cur_number_)) return 0;
    const int32_t last = next_valid_ ? next_number_ : cur_number_;
    if (frame < last + kForwardWindow) {
      for (int32_t i = 0; i < kMaxDecodesPerPosition; ++i) {
        if (!next_valid_) {
          int32_t d = DecodeNext();
          if (d <= 0) {
            at_end_ = true;  // an end or a broken rest: the last picture stays
            return 0;
          }
        }
        if (next_number_ > frame) return 0;
        Promote();
      }
      return 0;
    }
  }
  return SeekTo(frame);
}

bool TWinVideoSource::CopyPlanes(TYUVImage* image) {
  const TMediaFrameInfo& pic = cur_info_;
  // The decoded data is checked before any plane is touched: a failure
  // leaves the image as it was.
  const bool have_yuv = !rgba_ && pic.Planes[0] && pic.Planes[1] && pic.Planes[2];
  const bool have_rgba = rgba_ && pic.Planes[0];
  if (!have_yuv && !have_rgba) {
    LogLine(rgba_ ? u"RGBA data not found" : u"YUV data not found");
    return false;
  }
  TFrameFill fill(image);
  const int32_t w = std::min(image->Width(), pic.Width);
  const int32_t h = std::min(image->Height(), pic.Height);
  auto copy = [](TSysBitmap* dst, const uint8_t* src, int32_t stride, int32_t bytes, int32_t rows) {
    rows = std::min(rows, dst->Height());
    bytes = std::min(bytes, dst->Width() * dst->BytesPerPixel());
    for (int32_t y = 0; y < rows; ++y) memcpy(dst->Row(y), src + int64_t(y) * stride, size_t(std::max(bytes, 0)));
  };
  if (fill.Kind() == TFrameFill::kRgba && have_rgba) {
    copy(fill.Plane(kYuvPlaneRgba), pic.Planes[0], pic.Strides[0], w * 4, h);
  } else if (fill.Kind() == TFrameFill::kPacked && have_yuv) {
    TSysBitmap* dst = fill.Plane(kYuvPlanePacked);
    const int32_t rows = std::min(h, dst->Height()), cols = std::min(w, dst->Width());
    for (int32_t y = 0; y < rows; ++y) {
      const uint8_t* src = pic.Planes[0] + int64_t(y) * pic.Strides[0];
      uint8_t* row = dst->Row(y);
      for (int32_t x = 0; x < cols; ++x) memcpy(row + 2 * x, &grey565_[src[x]], 2);
    }
  } else if (fill.Kind() == TFrameFill::kPlanes && have_yuv) {
    // Two luma rows to each chroma row.
    copy(fill.Plane(kYuvPlaneY), pic.Planes[0], pic.Strides[0], w, h);
    copy(fill.Plane(kYuvPlaneU), pic.Planes[1], pic.Strides[1], w / 2, h / 2);
    copy(fill.Plane(kYuvPlaneV), pic.Planes[2], pic.Strides[2], w / 2, h / 2);
  } else {
    LogLine(rgba_ ? u"RGBA data not found" : u"YUV data not found");
    return false;
  }
  fill.Commit();
  return true;
}

bool TWinVideoSource::GetFrame(int32_t frame, TYUVImage* image) {
  if (!image) return false;
  int32_t r = Position(frame);
  if (r != 0 || !cur_valid_) {
    LogLine(u"GetFrame " + Num(frame) + u" of file " + file_name_ + u" Error= " + Num(r));
    return false;
  }
  return CopyPlanes(image);
}

bool TWinVideoSource::GetFrame24(int32_t frame, TDirectBitmap* bitmap) {
  if (!bitmap || bitmap->PixelFormat() != StdFormats().R8G8B8) return false;
  int32_t r = Position(frame);
  if (r != 0 || !cur_valid_) {
    LogLine(u"GetFrame24 Error");
    return false;
  }
  TMediaFrameInfo rgb;
  if (dll_->ConvertFrame(media_, cur_, rgb_) != 0 ||
      dll_->FrameInfo(rgb_, &rgb) != 0 ||
      !rgb.Planes[0]) {
    LogLine(u"RGB data not found");
    return false;
  }
  const int32_t w = std::min(bitmap->Width(), rgb.Width), h = std::min(bitmap->Height(), rgb.Height);
  for (int32_t y = 0; y < h; ++y) memcpy(bitmap->Row(y), rgb.Planes[0] + int64_t(y) * rgb.Strides[0], size_t(w) * 3);
  return true;
}

void RegisterFFMpegVideoSource() {
  // The media library takes every clip the factories in front of it pass
  // on, so the one before it is not called.
  SetFrameSourceFactory(MediaLibFactory);
}

}  // namespace kav
