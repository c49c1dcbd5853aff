#include "VoRav/Graphics/Video/GifVideoSource.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "VoRav/Graphics/SysPixelFormat.h"
#include "VoRav/vxLog.h"

namespace kav {

namespace {

// Key frames kept beyond this many bytes are not cached: a GIF of many
// images on a large screen would otherwise hold gigabytes.
constexpr int64_t kMaxCachedKeyBytes = int64_t(256) << 20;
// Restore-to-previous chains deeper than this are composed without them.
constexpr int32_t kMaxComposeDepth = 8;
constexpr int32_t kMaxImages = 100000;

TFrameSourceFactory g_previous_factory = nullptr;
TFrameSourceFilter g_previous_filter = nullptr;

bool IsGifName(const std::u16string& name) {
  if (name.size() < 4) return false;
  std::u16string ext = name.substr(name.size() - 4);
  for (auto& c : ext)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return ext == u".gif";
}

Ref<TFrameSource> GifFactory(TStream* stream, bool owned, const std::u16string& file_name) {
  if (!IsGifName(file_name)) {
    if (g_previous_factory) return g_previous_factory(stream, owned, file_name);
    if (owned && stream) Ref<TStream>::Adopt(stream);  // dropped here
    return {};
  }
  Ref<TGifVideoSource> source = MakeRef<TGifVideoSource>(stream, owned, file_name);
  if (!source->Open()) return {};
  return source;
}

bool GifFilter(const std::u16string& file_name) {
  if (IsGifName(file_name)) return true;
  return !g_previous_filter || g_previous_filter(file_name);
}

void ClearRect(TDirectBitmap* bmp, const TGifImageDescriptor& r) {
  const int32_t x0 = std::min<int32_t>(r.Left, bmp->Width()), x1 = std::min<int32_t>(r.Left + r.Width, bmp->Width());
  const int32_t y0 = std::min<int32_t>(r.Top, bmp->Height()), y1 = std::min<int32_t>(r.Top + r.Height, bmp->Height());
  for (int32_t y = y0; y < y1; ++y) memset(bmp->Row(y) + int64_t(x0) * 4, 0, size_t(x1 - x0) * 4);
}

uint8_t Clamp8(int32_t v) { return uint8_t(std::clamp(v, 0, 255)); }

// Writes a blue-green-red-alpha picture into the image's planes.
bool WriteToImage(const TDirectBitmap* bgra, TYUVImage* image) {
  TFrameFill fill(image);
  const int32_t w = std::min(bgra->Width(), image->Width()), h = std::min(bgra->Height(), image->Height());
  auto luma = [](const uint8_t* p) { return Clamp8(((66 * p[2] + 129 * p[1] + 25 * p[0] + 128) >> 8) + 16); };
  switch (fill.Kind()) {
    case TFrameFill::kRgba: {
      TSysBitmap* dst = fill.Plane(kYuvPlaneRgba);
      for (int32_t y = 0; y < std::min(h, dst->Height()); ++y)
        memcpy(dst->Row(y), bgra->Row(y), size_t(std::min(w, dst->Width())) * 4);
      break;
    }
    case TFrameFill::kPacked: {
      TSysBitmap* dst = fill.Plane(kYuvPlanePacked);
      for (int32_t y = 0; y < std::min(h, dst->Height()); ++y)
        for (int32_t x = 0; x < std::min(w, dst->Width()); ++x) {
          const uint8_t* p = bgra->Row(y) + int64_t(x) * 4;
          const uint8_t g = Clamp8((77 * p[2] + 150 * p[1] + 29 * p[0] + 128) >> 8);
          const uint16_t v = Grey565(g);
          memcpy(dst->Row(y) + 2 * x, &v, 2);
        }
      break;
    }
    case TFrameFill::kPlanes: {
      TSysBitmap *py = fill.Plane(kYuvPlaneY), *pu = fill.Plane(kYuvPlaneU), *pv = fill.Plane(kYuvPlaneV);
      for (int32_t y = 0; y < std::min(h, py->Height()); ++y)
        for (int32_t x = 0; x < std::min(w, py->Width()); ++x) py->Row(y)[x] = luma(bgra->Row(y) + int64_t(x) * 4);
      const int32_t ch = std::min({h / 2, pu->Height(), pv->Height()}), cw = std::min({w / 2, pu->Width(), pv->Width()});
      for (int32_t y = 0; y < ch; ++y)
        for (int32_t x = 0; x < cw; ++x) {
          int32_t r = 0, g = 0, b = 0;
          for (int dy = 0; dy < 2; ++dy)
            for (int dx = 0; dx < 2; ++dx) {
              const uint8_t* p = bgra->Row(2 * y + dy) + int64_t(2 * x + dx) * 4;
              b += p[0], g += p[1], r += p[2];
            }
          r /= 4, g /= 4, b /= 4;
          pu->Row(y)[x] = Clamp8(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128);
          pv->Row(y)[x] = Clamp8(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128);
        }
      break;
    }
    default:
      return false;
  }
  fill.Commit();
  return true;
}

}  // namespace

TGifVideoSource::TGifVideoSource(TStream* stream, bool owned, const std::u16string& file_name)
    : stream_(owned ? Ref<TStream>::Adopt(stream) : Ref<TStream>(stream)), file_name_(file_name) {}

void TGifVideoSource::Dispose() {
  frames_.clear();
  work_ = nullptr;
  stream_ = nullptr;
  TFrameSource::Dispose();
}

bool TGifVideoSource::Open() {
  if (!stream_) return false;
  try {
    stream_->SetPosition(0);
    if (!reader_->InternalCheck(stream_.get())) return false;
    Ref<TDirectBitmap> first = reader_->InternalRead(stream_.get());
    screen_width_ = reader_->ScreenWidth();
    screen_height_ = reader_->ScreenHeight();
    if (!BitmapSizeAllowed(screen_width_, screen_height_, 4)) return false;
    loop_count_ = reader_->LoopCount();
    work_ = MakeRef<TDirectBitmap>(screen_width_, screen_height_, StdFormats().A8R8G8B8);
    int32_t shortest = 1000, restore_background = -1, total = 0;
    auto add = [&](int64_t position) {
      auto f = MakeRef<TGifFrameData>();
      const int32_t index = int32_t(frames_.size());
      f->Rect = reader_->Descriptor();
      f->Disposal = reader_->Disposal();
      f->DelayMs = reader_->Delay() ? reader_->Delay() * 10 : 50;
      f->Position = position;
      f->IsKey = index % 10 == 0;
      if (index > 0) {
        f->PrevDisposal = frames_.back()->Disposal;
        f->PrevRect = frames_.back()->Rect;
      }
      if (f->Disposal == 3) f->RestoreTo = restore_background;
      if (f->Disposal == 2) restore_background = index;
      shortest = std::min(shortest, f->DelayMs);
      total = int32_t(std::min<int64_t>(int64_t(total) + f->DelayMs, INT32_MAX));
      f->EndMs = total;
      frames_.push_back(std::move(f));
    };
    add(0);
    // The first image's composition is its key frame.
    frames_[0]->KeyFrame = MakeRef<TDirectBitmap>(screen_width_, screen_height_, StdFormats().A8R8G8B8);
    if (first) frames_[0]->KeyFrame->CopyRect(TRect{reader_->Descriptor().Left, reader_->Descriptor().Top,
                                                    reader_->Descriptor().Left + first->Width(),
                                                    reader_->Descriptor().Top + first->Height()},
                                              first.get(), TPoint{0, 0});
    if (reader_->Animated()) {
      int64_t position = reader_->SecondImagePosition();
      stream_->SetPosition(position);
      try {
        while (int32_t(frames_.size()) < kMaxImages && reader_->ReadNextFrame(stream_.get())) {
          add(position);
          position = stream_->GetPosition();
        }
      } catch (const Exception&) {
        // A damaged tail ends the animation at the last whole image.
      }
    }
    duration_ms_ = total;
    info_.Width = screen_width_;
    info_.Height = screen_height_;
    info_.FramesPerSecond = 1000.0 / shortest;
    info_.DurationMs = total;
    info_.Loop = loop_count_ == 0;
    info_.FrameCount = loop_count_ == 0 ? 1000000 : int32_t(std::nearbyint(double(total) / shortest));
    info_.CodecName = u"GIF";
    info_.Rgba = 1;
    return true;
  } catch (const Exception&) {
    return false;
  }
}

int32_t TGifVideoSource::FrameIndex(int32_t frame) const {
  if (frames_.empty()) return -1;
  double t = std::max(frame, 0) / info_.FramesPerSecond * 1000.0;
  const double d = duration_ms_;
  if (loop_count_ > 0 && t / d >= loop_count_) {
    t = d;  // the last image is held after the last pass
  } else if (t > d) {
    t = std::fmod(t, d);
    if (t == 0) t = d;
  }
  auto it = std::upper_bound(frames_.begin(), frames_.end(), t,
                             [](double v, const Ref<TGifFrameData>& f) { return v < f->EndMs; });
  return it == frames_.end() ? int32_t(frames_.size()) - 1 : int32_t(it - frames_.begin());
}

Ref<TDirectBitmap> TGifVideoSource::Step(const TDirectBitmap* composite, int32_t index, int32_t depth) {
  const TGifFrameData& f = *frames_[size_t(index)];
  Ref<TDirectBitmap> base;
  if (f.PrevDisposal == 3) {
    // Restore to previous: the restore-to image is the base; without one
    // nothing shows through.
    const int32_t restore = frames_[size_t(index) - 1]->RestoreTo;
    if (restore >= 0 && depth < kMaxComposeDepth) base = ComposeAt(restore, depth + 1);
    if (!base) base = MakeRef<TDirectBitmap>(screen_width_, screen_height_, StdFormats().A8R8G8B8);
  } else {
    base = MakeRef<TDirectBitmap>(screen_width_, screen_height_, StdFormats().A8R8G8B8);
    if (f.PrevDisposal >= 0) {
      base->CopyFrom(const_cast<TDirectBitmap*>(composite));
      if (f.PrevDisposal == 2) ClearRect(base.get(), f.PrevRect);
    }
  }
  stream_->SetPosition(f.Position);
  if (!reader_->ReadNextFrame(stream_.get())) return nullptr;
  const TDirectBitmap* img = reader_->Bitmap();
  if (img) {
    const int32_t x0 = f.Rect.Left, y0 = f.Rect.Top;
    for (int32_t y = 0; y < img->Height() && y0 + y < screen_height_; ++y) {
      const uint8_t* src = img->Row(y);
      uint8_t* dst = base->Row(y0 + y);
      for (int32_t x = 0; x < img->Width() && x0 + x < screen_width_; ++x)
        if (src[int64_t(x) * 4 + 3] != 0) memcpy(dst + int64_t(x0 + x) * 4, src + int64_t(x) * 4, 4);
    }
  }
  return base;
}

Ref<TDirectBitmap> TGifVideoSource::ComposeAt(int32_t index, int32_t depth) {
  if (index < 0 || index >= int32_t(frames_.size())) return nullptr;
  int32_t start = index;
  while (start > 0 && !frames_[size_t(start)]->KeyFrame) --start;
  Ref<TDirectBitmap> comp = frames_[size_t(start)]->KeyFrame;  // frame 0 always has one
  if (!comp) return nullptr;
  try {
    for (int32_t j = start + 1; j <= index; ++j) {
      comp = Step(comp.get(), j, depth);
      if (!comp) return nullptr;
      TGifFrameData& f = *frames_[size_t(j)];
      const int64_t bytes = int64_t(screen_width_) * screen_height_ * 4;
      if (f.IsKey && !f.KeyFrame && cached_bytes_ + bytes <= kMaxCachedKeyBytes) {
        f.KeyFrame = comp;
        cached_bytes_ += bytes;
      }
    }
  } catch (const Exception&) {
    return nullptr;
  }
  return comp;
}

Ref<TDirectBitmap> TGifVideoSource::Compose(int32_t index) { return ComposeAt(index, 0); }

bool TGifVideoSource::GetFrame(int32_t frame, TYUVImage* image) {
  if (!image) return false;
  Ref<TDirectBitmap> pic = Compose(FrameIndex(frame));
  if (!pic) {
    LogLine(u"GIF frame not decoded in " + file_name_);
    return false;
  }
  return WriteToImage(pic.get(), image);
}

bool TGifVideoSource::GetFrame24(int32_t frame, TDirectBitmap* bitmap) {
  if (!bitmap || bitmap->PixelFormat() != StdFormats().R8G8B8) return false;
  Ref<TDirectBitmap> pic = Compose(FrameIndex(frame));
  if (!pic) return false;
  const int32_t w = std::min(bitmap->Width(), pic->Width()), h = std::min(bitmap->Height(), pic->Height());
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = pic->Row(y);
    uint8_t* dst = bitmap->Row(y);
    for (int32_t x = 0; x < w; ++x) memcpy(dst + 3 * x, src + 4 * x, 3);
  }
  return true;
}

void RegisterGifVideoSource() {
  g_previous_factory = SetFrameSourceFactory(GifFactory);
  g_previous_filter = SetFrameSourceFilter(GifFilter);
}

}  // namespace kav
