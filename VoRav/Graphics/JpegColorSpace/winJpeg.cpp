#include "VoRav/Graphics/JpegColorSpace/winJpeg.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "VoRav/Graphics/JpegColorSpace/winJpegCore.h"

namespace kav {

namespace {

// Destroys the job's decompressor whatever way the caller leaves.
struct TJobGuard {
  TJpegJob* job;
  ~TJobGuard() {
    if (job) JpegEndJob(*job);
  }
};

[[noreturn]] void RaiseJpegError(const TJpegJob& job) {
  throw EJPEG(FormatAnsi("JPEG error #%d", job.error_code));
}

void ProgressTrampoline(void* context, int percent) noexcept {
  try {
    auto* image = static_cast<TJpegImage*>(context);
    image->Progress(image, psRunning, uint8_t(std::clamp(percent, 0, 100)), true, TRect{}, std::u16string());
  } catch (...) {
    // Nothing may unwind through libjpeg.
  }
}

}  // namespace

void TJpegImage::Progress(TRefObject* sender, uint8_t stage, uint8_t percent, bool redraw, const TRect& rect,
                          const std::u16string& message) {
  if (OnProgress) OnProgress(sender, stage, percent, redraw, rect, message);
}

void TJpegImage::LoadFromStream(TStream* stream) {
  const int64_t remaining = stream->GetRemaining();
  ReadData(stream, remaining < 0 ? 0 : remaining);
}

void TJpegImage::ReadData(TStream* stream, int64_t count) {
  auto data = MakeRef<TJPEGData>();
  data->Data = MakeRef<TMemoryStream>();
  Image = data;
  if (count >= kMaxMemoryStreamSize) throw EStreamReadError("JPEG data too large");
  if (count > 0 && data->Data->CopyFrom(stream, count) != count) throw EStreamReadError();
  if (count > 0) {
    auto job = std::make_unique<TJpegJob>();
    JpegInitJob(*job, data->Data->Memory(), size_t(count), 0);
    TJobGuard guard{job.get()};
    if (!JpegReadHeader(*job)) RaiseJpegError(*job);
    data->Width = job->width;
    data->Height = job->height;
    data->Grayscale = job->grayscale;
    data->Cmyk = job->cmyk;
    data->Arithmetic = job->arithmetic;
    Progressive = job->progressive;
  }
  PaletteChanged = true;
  Changed();
}

TSize TJpegImage::GetSize() const noexcept {
  return Image ? TSize{Image->Width, Image->Height} : TSize{0, 0};
}

Ref<TFastDIB> TJpegImage::Decode(uint8_t scale, bool four_bytes) {
  const uint8_t saved_scale = Scale;
  Scale = std::min<uint8_t>(scale, 3);
  auto job = std::make_unique<TJpegJob>();
  TMemoryStream* data = Image ? Image->Data.get() : nullptr;
  JpegInitJob(*job, data ? data->Memory() : nullptr, data ? size_t(data->GetSize()) : 0, Scale);
  job->four_bytes = four_bytes;
  job->on_progress = &ProgressTrampoline;
  job->progress_context = this;
  bool ok = false;
  Ref<TFastDIB> bitmap;
  {
    TJobGuard guard{job.get()};
    // The ending report and the scale come back also when this raises.
    struct TFinish {
      TJpegImage* self;
      const bool& ok;
      uint8_t scale;
      ~TFinish() {
        try {
          self->Progress(self, psEnding, ok ? 100 : 0, self->PaletteChanged, TRect{}, std::u16string());
          if (self->PaletteChanged) self->Changed();
        } catch (...) {
        }
        self->Scale = scale;
      }
    } finish{this, ok, saved_scale};
    Progress(this, psStarting, 0, false, TRect{}, std::u16string());
    if (!JpegReadHeader(*job) || !JpegStartOutput(*job)) RaiseJpegError(*job);
    const int32_t bytes = job->output == joGrey ? 1 : job->output == joBGRA ? 4 : 3;
    CheckBitmapSize(job->out_width, job->out_height, bytes);
    bitmap = MakeRef<TFastDIB>();
    bitmap->SetSizeToFill(job->out_width, job->out_height, bytes * 8);  // every row is decoded or the job raises
    // Row-table entry 0 is the bottom row of the picture.
    std::vector<uint8_t*> rows(size_t(job->out_height));
    for (int32_t y = 0; y < job->out_height; ++y) rows[size_t(y)] = bitmap->Row(job->out_height - 1 - y);
    std::vector<uint8_t> cmyk_row(size_t(job->out_width) * 4);
    if (!JpegReadRows(*job, rows.data(), cmyk_row.data())) RaiseJpegError(*job);
    DecodeWarning = job->warnings > 0 ? std::string(job->warning) : std::string();
    DecodeWarningEndOfData = job->warnings > 0 && JpegWarningIsEndOfData(job->warning_code);
    ok = true;
  }
  return bitmap;
}

// ---- TJpegRowDecoder ----

TJpegRowDecoder::TJpegRowDecoder(Ref<TJPEGData> data, uint8_t scale, bool four_bytes)
    : data_(std::move(data)), job_(std::make_unique<TJpegJob>()) {
  TMemoryStream* bytes = data_ ? data_->Data.get() : nullptr;
  JpegInitJob(*job_, bytes ? bytes->Memory() : nullptr, bytes ? size_t(bytes->GetSize()) : 0,
              std::min<uint8_t>(scale, 3));
  job_->four_bytes = four_bytes;
  // The decompressor goes with the job whatever way this constructor ends.
  TJobGuard guard{job_.get()};
  if (!JpegReadHeader(*job_) || !JpegStartOutput(*job_)) RaiseJpegError(*job_);
  if (job_->cmyk) throw EJPEG("JPEG error #-1");
  CheckBitmapSize(job_->out_width, job_->out_height, BytesPerPixel());
  if (!JpegBeginRows(*job_)) RaiseJpegError(*job_);
  guard.job = nullptr;
}

TJpegRowDecoder::~TJpegRowDecoder() { JpegEndJob(*job_); }

std::string TJpegRowDecoder::Warning() const { return job_->warnings > 0 ? std::string(job_->warning) : std::string(); }
bool TJpegRowDecoder::WarningIsEndOfData() const {
  return job_->warnings > 0 && JpegWarningIsEndOfData(job_->warning_code);
}

int32_t TJpegRowDecoder::Width() const noexcept { return job_->out_width; }
int32_t TJpegRowDecoder::Height() const noexcept { return job_->out_height; }
int32_t TJpegRowDecoder::BytesPerPixel() const noexcept {
  return job_->output == joGrey ? 1 : job_->output == joBGRA ? 4 : 3;
}

void TJpegRowDecoder::SetProgress(void (*on_progress)(void* context, int percent) noexcept,
                                  void* context) noexcept {
  job_->on_progress = on_progress;
  job_->progress_context = context;
}

void TJpegRowDecoder::Read(uint8_t* const* rows, int32_t count) {
  if (failed_) throw EJPEG(FormatAnsi("JPEG error #%d", job_->error_code));
  count = std::min(count, job_->out_height - read_);
  if (count <= 0) return;
  if (!JpegReadRowBand(*job_, rows, count)) {
    failed_ = true;
    RaiseJpegError(*job_);
  }
  read_ += count;
}

}  // namespace kav
