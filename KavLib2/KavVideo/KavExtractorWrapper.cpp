#include "KavLib2/KavVideo/KavExtractorWrapper.h"

#include <algorithm>

#include "KavLib2/3DEngine/vxDrawManager2.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxShowProblems.h"

namespace kav {

TExtractorWrapper::TExtractorWrapper(TExtractorList* list, TFileAccessor* accessor, const std::u16string& file_name)
    : list_(list), accessor_(accessor), base_name_(file_name) {
  // A drive letter's colon is followed by a separator, an index's by digits
  // only.
  const size_t colon = file_name.rfind(u':');
  if (colon != std::u16string::npos && colon + 1 < file_name.size() && file_name.size() - colon <= 10 &&
      std::all_of(file_name.begin() + long(colon) + 1, file_name.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
    base_name_ = file_name.substr(0, colon);
    name_index_ = 0;
    for (size_t i = colon + 1; i < file_name.size(); ++i) name_index_ = name_index_ * 10 + (file_name[i] - u'0');
  }
}

void TExtractorWrapper::Dispose() {
  if (list_) list_->Remove(this);
  list_ = nullptr;
  DropExtractor();
  accessor_ = nullptr;
  TRefObject::Dispose();
}

void TExtractorWrapper::DropExtractor() {
  if (!extractor_) return;
  {
    std::lock_guard<std::mutex> hold(lock_);
    if (held_.Frame) extractor_->PutFrameSlot(held_);
    use_count_ = 0;
  }
  extractor_->Stop();
  extractor_->ReleaseAllFrames();
  extractor_ = nullptr;
  primed_ = started_ = false;
}

void TExtractorWrapper::SetFileName(const std::u16string& name, bool on_disk) {
  if (opened_once_ && name == file_name_ && on_disk == on_disk_) return;
  opened_once_ = true;
  file_name_ = name;
  on_disk_ = on_disk;
  DropExtractor();
  Ref<TStream> stream;
  try {
    if (on_disk) {
      std::u16string path = base_name_;
      if (accessor_ && ResolveDiskPath(accessor_.get(), path)) stream = OpenDiskFile(accessor_.get(), path);
    } else if (accessor_) {
      stream = accessor_->OpenFile(base_name_);
    }
  } catch (const Exception&) {
    stream = nullptr;
  }
  // One line per failed open (a missing file and an unreadable one alike).
  if (!stream) {
    LogLine(u"Video clip not found: " + base_name_);
    // Departure: said as a missing picture is (its placeholder alone is easy to miss).
    ReportShowProblem(TShowProblemKind::File, base_name_, u"no such file", 0, true);
    state_ = kNotOpened;
    return;
  }
  Ref<TFrameSource> source = OpenFrameSource(stream.release(), true, base_name_);
  if (!source) {
    LogLine(u"Video clip not decoded (no frame source for it): " + base_name_);
    state_ = kNoSource;
    return;
  }
  extractor_ = MakeRef<TKavVideoExtractor>(source);
  state_ = kOpened;
}

void TExtractorWrapper::Prime(const TFrameMaker& make) {
  if (primed_ || !extractor_ || !make) return;
  primed_ = true;
  const TClipInfo& info = extractor_->Info();
  for (int i = 0; i < 2; ++i)
    if (Ref<TYUVImage> frame = make(info.Width, info.Height, info.Rgba != 0)) extractor_->AddFrame(frame);
}

void TExtractorWrapper::Prime(TDeviceDrawer* drawer) {
  if (!drawer) return;
  Prime([drawer](int32_t w, int32_t h, bool rgba) {
    return Ref<TYUVImage>::Adopt(drawer->CreateVideoTextures(w, h, rgba));
  });
}

void TExtractorWrapper::Start(bool restart, double time_ms) {
  if (!extractor_ || (started_ && !restart)) return;
  started_ = true;
  extractor_->Seek(false, time_ms);
}

TFrameSlot TExtractorWrapper::GetFrame(double display_rate, double time_ms, bool* exact) {
  // Asking without an extractor gives no frame (the video object then draws
  // the placeholder) rather than stopping the program; a frame that is not
  // ready yet is drawn as the nearest one while the extractor decodes the
  // right one, never an assertion.
  if (exact) *exact = false;
  if (!extractor_) return {};
  std::lock_guard<std::mutex> hold(lock_);
  if (!held_.Frame) {
    bool ok = extractor_->GetFrame(held_, display_rate, time_ms);
    if (exact) *exact = ok;
    if (!held_.Frame) return {};
  } else if (exact) {
    *exact = held_.Decoded == extractor_->NormalizeFrameIndex(time_ms);
  }
  ++use_count_;
  return held_;
}

void TExtractorWrapper::Release() {
  if (!extractor_) return;
  std::lock_guard<std::mutex> hold(lock_);
  // A release without a use is ignored (it would put back a frame that is
  // still drawn).
  if (use_count_ <= 0) return;
  if (--use_count_ == 0 && held_.Frame) extractor_->PutFrameSlot(held_);
}

double TExtractorWrapper::DurationMs() const {
  if (!extractor_) return 0;
  const TClipInfo& info = extractor_->Info();
  if (!(info.FramesPerSecond > 0)) return 0;
  return info.FrameCount / info.FramesPerSecond * 1000.0;
}

void TExtractorWrapper::FrameTimeRange(int32_t frame, double& from_ms, double& to_ms) const {
  from_ms = to_ms = 0;
  if (extractor_) extractor_->GetFrameTimeRange(frame, from_ms, to_ms);
}

TExtractorList::TExtractorList(TFileAccessor* accessor) : accessor_(accessor) {}

void TExtractorList::Dispose() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (TExtractorWrapper* w : items_) w->list_ = nullptr;
    items_.clear();
  }
  accessor_ = nullptr;
  TRefObject::Dispose();
}

Ref<TExtractorWrapper> TExtractorList::GetExtractor(const std::u16string& file_name, bool on_disk) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    for (TExtractorWrapper* w : items_)
      if (w->FileName() == file_name) return Ref<TExtractorWrapper>(w);
  }
  auto w = MakeRef<TExtractorWrapper>(this, accessor_.get(), file_name);
  w->SetFileName(file_name, on_disk);
  std::lock_guard<std::mutex> hold(lock_);
  items_.push_back(w.get());
  return w;
}

int32_t TExtractorList::Count() {
  std::lock_guard<std::mutex> hold(lock_);
  return int32_t(items_.size());
}

void TExtractorList::Remove(TExtractorWrapper* wrapper) {
  std::lock_guard<std::mutex> hold(lock_);
  items_.erase(std::remove(items_.begin(), items_.end(), wrapper), items_.end());
}

}  // namespace kav
