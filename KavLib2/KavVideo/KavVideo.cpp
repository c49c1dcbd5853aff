#include "KavLib2/KavVideo/KavVideo.h"

#include <algorithm>
#include <cmath>
#include <mutex>

#include "KavLib2/KavClasses/KavProjectLookups.h"
#include "KavLib2/KavObjects/KavBox.h"
#include "KavLib2/KavViewer/KavImageCache.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxByteStringLists.h"
#include "VoRav/vxIni.h"

namespace kav {

namespace {

TKavObjectFactory g_previous = nullptr;

Ref<TKavObject> CreateKavVideoObject(int32_t kind, TKavObject* parent, TKavObjectProps* props) {
  if (kind == kKindVideo) return TKavObject::Create<TKavVideo>(parent, props);
  return g_previous ? g_previous(kind, parent, props) : nullptr;
}

double Finite(double v, double def) { return std::isfinite(v) ? v : def; }

}  // namespace

TVideoClip2::TVideoClip2(TIniObject* entry, TIniFile* project, TExtractorList* clips) : entry_(entry) {
  auto item = [&](std::u16string_view key) { return entry ? entry->FindKey(key) : nullptr; };
  LoadFromDisk = IniGetBool(item(u"LoadFromDisk"), false);
  FileName = IniGetString(item(u"FileName"));
  Duration = Finite(IniGetFloat(item(u"Duration"), 0), 0);
  StartVideoTime = Finite(IniGetFloat(item(u"StartVideoTime"), 0), 0);
  StartKAVTime = Finite(IniGetFloat(item(u"StartKAVTime"), 0), 0);
  FPSMultiplier = Finite(IniGetFloat(item(u"FPSMultiplier"), 1.0), 1.0);
  ClipCaption = IniGetString(item(u"ClipCaption"));
  StartSlideIdx = IniGetInteger(item(u"StartSlideIdx"), 0);
  Mute = IniGetBool(item(u"Mute"), false);
  MasterID = IniGetString(item(u"MasterID"));
  TIniList* times = project ? project->FindSection(u"Times") : nullptr;
  BaseTime = StartSlideIdx == 0 || !times
                 ? 0
                 : Finite(IniGetFloat(times->FindKey(u"opt_synchpos" + IntToStr(StartSlideIdx)), 0), 0);
  if (clips && !FileName.empty()) Holder = clips->GetExtractor(FileName, LoadFromDisk);
}

void TVideoClip2::Dispose() {
  Holder = nullptr;
  entry_ = nullptr;
  TRefObject::Dispose();
}

void TVideoClip2::Write(std::u16string_view key, double value) {
  if (!entry_) return;
  TIniItem* item = entry_->FindByPath(key);
  if (item) item->SetFloat(value);
}

void TVideoClip2::Write(std::u16string_view key, const std::u16string& value) {
  if (!entry_) return;
  TIniItem* item = entry_->FindByPath(key);
  if (item) item->SetString(value);
}

void TKavVideo::Dispose() {
  if (holder_ && held_.Frame) holder_->Release();
  held_ = TFrameSlot();
  holder_ = nullptr;
  clip_ = nullptr;
  placeholder_ = nullptr;
  TKavObject::Dispose();
}

void TKavVideo::SetDefaults() {
  ClipGUID.clear();
  Mute = false;
  StartKAVTime = 0;
  FPSMultiplier = 1.0;
  LoadFromDisk = false;
  Duration = 10000.0;
  StartVideoTime = 0;
  AntialiasedBorder = true;
  Border = TBorderParams();
  Border.Zoom = 100;
  DeinterlaceType = 0;
  WaitForConvert = false;
  ChromaEnable = false;
  ChromaDelta = 0;
  ImageIndex = -2147483647;
}

void TKavVideo::LoadFromIni(TKavObjectProps* props, bool reload) {
  auto item = [&](std::u16string_view key) { return props ? props->FindValue(key) : nullptr; };
  // Objects without "Size" take their clip's frame size when laid out; a
  // "Size" key, beyond the clip object's own keys, is still honoured and wins.
  keyed_size_ = props && props->FindValue(u"Size");
  SetSize(ReadObjectSize(props));
  ClipGUID = IniGetString(item(u"ClipGUID"));
  Mute = IniGetBool(item(u"Mute"), false);
  StartKAVTime = Finite(IniGetFloat(item(u"StartKAVTime"), 0), 0);
  FPSMultiplier = Finite(IniGetFloat(item(u"FPSMultiplier"), 1.0), 1.0);
  LoadFromDisk = IniGetBool(item(u"LoadFromDisk"), false);
  FileName = IniGetString(item(u"FileName"));
  Duration = Finite(IniGetFloat(item(u"Duration"), 10000.0), 10000.0);
  StartVideoTime = Finite(IniGetFloat(item(u"StartVideoTime"), 0), 0);
  AntialiasedBorder = IniGetBool(item(u"AntialiasedBorder"), true);
  Border.EnableBorder = IniGetBool(item(u"EnableBorder"), false);
  Border.EnableCrop = IniGetBool(item(u"EnableCrop"), false);
  Border.EnableAspect = IniGetBool(item(u"EnableAspect"), false);
  Border.BorderWidth = float(Finite(IniGetFloat(item(u"BorderWidth"), 0), 0));
  Border.Aspect = float(Finite(IniGetFloat(item(u"Aspect"), 0), 0));
  TColor32 border = ParseColorText(IniGetValueBytes(item(u"BorderColor")), 0xFF000000u);
  TKavObjectHost* host = ParentQuery();
  Border.BorderColor = Border.EnableBorder && host ? host->TransformColor(border) : border;
  {
    TByteStringParts parts;
    IniSplitValue(item(u"CropRect"), ',', parts);
    auto part = [&](int n) { return float(Finite(ByteStringListGetFloat(parts, n, 0.0), 0)); };
    Border.CropRect = TFloatRect{part(0), part(1), part(2), part(3)};
  }
  DeinterlaceType = IniGetIndexOf(item(u"DeinterlaceType"), {u"Auto", u"Wave", u"BobEven", u"BobOdd"}, 0, true);
  WaitForConvert = IniGetBool(item(u"WaitForConvert"), false);
  ChromaEnable = IniGetBool(item(u"ChromaEnable"), false);
  Chromakey = ParseColorText(IniGetValueBytes(item(u"Chromakey")), 0xFF000000u);
  ChromaDelta = Finite(IniGetFloat(item(u"ChromaDelta"), 0), 0);
  ImageIndex = IniGetInteger(item(u"ImageIndex"), -2147483647);
  TKavObject::LoadFromIni(props, reload);

  // The clip's holder, shared by every object showing the file; a shared
  // clip of "Tracks" brings its own clip keys (the object keeps its
  // Duration and StartVideoTime).
  TKavVideoHost* video_host = dynamic_cast<TKavVideoHost*>(host);
  if (video_host) DisplayRate = video_host->DisplayRate();
  clip_ = nullptr;
  TIniFile* project = video_host ? video_host->Project() : nullptr;
  TIniList* tracks = project && !ClipGUID.empty() ? project->FindSection(u"Tracks") : nullptr;
  TIniObject* entry = tracks ? FindVideoClipByGUID(tracks, ClipGUID) : nullptr;
  if (!entry) ClipGUID.clear();
  // Each object reads its clip entry itself (the file's holder is shared).
  Ref<TVideoClip2> clip = entry ? MakeRef<TVideoClip2>(entry, project, video_host->VideoClips()) : nullptr;
  if (clip) {
    LoadFromDisk = clip->LoadFromDisk;
    StartKAVTime = clip->StartKAVTime;
    FPSMultiplier = clip->FPSMultiplier;
    Mute = clip->Mute;
  }
  // Loading writes nothing back into the clip's entry: the setters run
  // before the clip is attached.
  const std::u16string name = clip ? clip->FileName : FileName;
  FileName.clear();
  SetFileName(name);
  SetDuration(Duration);
  SetStartVideoTime(StartVideoTime);
  clip_ = clip;
  Changed = 1;
}

void TKavVideo::SetFileName(const std::u16string& name) {
  if (name == FileName && holder_) return;
  FileName = name;
  if (holder_ && held_.Frame) holder_->Release();
  held_ = TFrameSlot();
  TKavVideoHost* video_host = dynamic_cast<TKavVideoHost*>(ParentQuery());
  TExtractorList* clips = video_host ? video_host->VideoClips() : nullptr;
  holder_ = clips && !FileName.empty() ? clips->GetExtractor(FileName, LoadFromDisk) : nullptr;
  UpdatePlaceholder();
  if (clip_ && clip_->FileName != FileName) {
    clip_->FileName = FileName;
    clip_->Holder = holder_;
    clip_->Write(u"FileName", FileName);
  }
  Changed = 1;
}

void TKavVideo::SetLoadFromDisk(bool on_disk) {
  if (on_disk == LoadFromDisk) return;
  LoadFromDisk = on_disk;
  if (holder_) holder_->SetFileName(FileName, on_disk);
  UpdatePlaceholder();
  if (clip_) {
    clip_->LoadFromDisk = on_disk;
    clip_->Write(u"LoadFromDisk", on_disk ? 1.0 : 0.0);
  }
  Changed = 1;
}

void TKavVideo::SetDuration(double duration) {
  const double length = holder_ && holder_->State() == TExtractorWrapper::kOpened ? holder_->DurationMs() : 0;
  Duration = (duration < 0 || (length > 0 && duration > length)) && length > 0 ? length : duration;
  if (clip_ && clip_->Duration != Duration) {
    clip_->Duration = Duration;
    clip_->Write(u"Duration", Duration);
  }
  Changed = 1;
}

void TKavVideo::SetStartVideoTime(double start) {
  const double length = holder_ && holder_->State() == TExtractorWrapper::kOpened ? holder_->DurationMs() : 0;
  StartVideoTime = start < 0 || (length > 0 && start > length) ? 0 : start;
  if (clip_ && clip_->StartVideoTime != StartVideoTime) {
    clip_->StartVideoTime = StartVideoTime;
    clip_->Write(u"StartVideoTime", StartVideoTime);
  }
  Changed = 1;
}

void TKavVideo::UpdateAtTime(bool recursive, double time) {
  // A running clip is drawn at every new time.
  if (time != time_) Changed = 1;
  time_ = time;
  TKavObject::UpdateAtTime(recursive, time);
}

double TKavVideo::PositionMs(double t) const {
  // A shared clip keeps running across the slides it spans: its start is
  // moved back by how far this slide begins after the clip's base slide.
  double start = StartKAVTime;
  if (clip_) start = clip_->StartKAVTime - (const_cast<TKavVideo*>(this)->OriginTime(0) - clip_->BaseTime);
  // The object's own start in its visibility window is the earliest time
  // the clip runs.
  return VideoPositionMs(t, start, props_ ? props_->DeltaTime1() : 0.0, FPSMultiplier, Duration, StartVideoTime);
}

bool TKavVideo::FitFrame(float& border, TFloatRect& rect, float& scale) const {
  border = 0;
  rect = TFloatRect{};
  scale = 1.0f;
  if (!holder_ || holder_->State() != TExtractorWrapper::kOpened || !holder_->Extractor()) return false;
  const TClipInfo& info = holder_->Extractor()->Info();
  scale = float(FrameAspectScale(info.AspectMode, info.Width, info.Height));
  ComputeFitRect(Border, float(info.Width), float(info.Height), border, rect, scale);
  return true;
}

void TKavVideo::UpdatePlaceholder() {
  if (!holder_ || holder_->State() == TExtractorWrapper::kOpened) {
    placeholder_ = nullptr;
    return;
  }
  // "found": the file opened but no frame source could be made of it.
  placeholder_ = MakeNotFoundImage(holder_->BaseName(), holder_->State() == TExtractorWrapper::kNoSource, true);
}

TFloatPoint TKavVideo::DefaultPoint() {
  float border, scale;
  TFloatRect rect;
  if (!FitFrame(border, rect, scale)) {
    // Departure: without a clip the placeholder's size, not (0, 0), so that
    // an object without "Size" shows its placeholder at all.
    if (placeholder_) return FloatPoint(float(placeholder_->Width()), float(placeholder_->Height()));
    return FloatPoint(0, 0);
  }
  const float sx = scale > 0.001f ? scale : 1.0f;
  return FloatPoint((rect.Right - rect.Left) * sx + 2 * border, rect.Bottom - rect.Top + 2 * border);
}

float TKavVideo::DrawnBorderWidth() const {
  if (!Border.EnableBorder) return 0;
  float border, scale;
  TFloatRect rect;
  if (!FitFrame(border, rect, scale) || !(border > 0)) return 0;
  // The fitted border is in frame pixels; a "Size" key stretches the object
  // away from the frame's size, and the border with it (by height, the
  // measure its width is given in).
  const float fitted_height = rect.Bottom - rect.Top + 2 * border;
  const float width = fitted_height > 0 ? border * size_.y / fitted_height : 0;
  // Never more than half the rectangle: the frame keeps a non-negative size.
  return std::max(0.0f, std::min({width, size_.x / 2, size_.y / 2}));
}

void TKavVideo::Calculate(bool recursive) {
  // Without a size of its own the object is as large as its clip's frame:
  // a size of 0 would lay it out as a point and nothing would be seen.
  if (!keyed_size_) SetSize(DefaultPoint());
  TKavObject::Calculate(recursive);
}

TVideoDrawParams TKavVideo::DrawParams(int32_t frame, double position) {
  TVideoDrawParams p;
  p.Opacity = ScaledValue();
  p.AsRect = false;
  if (!holder_ || !holder_->Extractor()) return p;
  const TClipInfo& info = holder_->Extractor()->Info();
  double from, to;
  holder_->FrameTimeRange(frame, from, to);
  p.DeinterlaceMode = DeinterlaceField(DeinterlaceType, info.Interlaced != 0, info.TopFieldFirst != 0, position,
                                       (from + to) / 2);
  float border_width, scale;
  FitFrame(border_width, p.SourceRect, scale);
  if (ChromaEnable) {
    const int r = (Chromakey >> 16) & 255, g = (Chromakey >> 8) & 255, b = Chromakey & 255;
    p.ChromaKey = true;
    p.KeyU = float(((-38 * r - 74 * g + 112 * b + 128) / 256 + 128) / 255.0);
    p.KeyV = float(((112 * r - 94 * g - 18 * b + 128) / 256 + 128) / 255.0);
    p.KeyTolerance = float(ChromaDelta);
  }
  return p;
}

void TKavVideo::DrawSelf(TDeviceDrawer* drawer) {
  if (!Visible() || !(ScaledValue() > 0) || !drawer) return;
  // A clip that did not open draws the placeholder over the rectangle.
  if (placeholder_) {
    TImageDrawParams params = DefaultImageDrawParams();
    params.Opacity = ScaledValue();
    TVector3 origin, x_axis, y_axis;
    InsetAxes(0, origin, x_axis, y_axis);
    drawer->DrawImage(placeholder_.get(), origin, params, y_axis, x_axis,
                      TSize{placeholder_->Width(), placeholder_->Height()});
    return;
  }
  if (!holder_ || holder_->State() != TExtractorWrapper::kOpened) return;
  holder_->Prime(drawer);
  const double position = PositionMs(time_ - OriginTime(0));
  holder_->Start(false, position);
  if (WaitForConvert && holder_->Extractor()) holder_->Extractor()->Seek(true, position);
  if (held_.Frame) holder_->Release();
  held_ = holder_->GetFrame(DisplayRate, position);
  waiting_ = !held_.Frame;
  if (!held_.Frame) return;
  // The border is drawn here, not handed to the drawer with the frame (its
  // video operation draws only the frame): a band along the inside of the
  // object's rectangle, the frame filling what it leaves.
  const TVideoDrawParams params = DrawParams(held_.Decoded, position);
  const float border = DrawnBorderWidth();
  if (border > 0) DrawInsideBorder(drawer, border, Border.BorderColor, params.Opacity, AntialiasedBorder);
  TVector3 origin, x_axis, y_axis;
  InsetAxes(border, origin, x_axis, y_axis);
  drawer->DrawVideo(held_.Frame.get(), origin, params, y_axis, x_axis);
}

void TKavVideo::AfterDraw(TDeviceDrawer* drawer) {
  if (held_.Frame && holder_) {
    const double fps = holder_->Extractor() ? holder_->Extractor()->Info().FramesPerSecond : 0;
    const double step = DisplayRate > 0 && fps > 0 ? std::ceil(fps / DisplayRate) : 1;
    // Drawn again until a frame near enough to the wanted one arrives.
    if (std::fabs(double(held_.Decoded) - held_.Wanted) > step) Changed = 1;
    holder_->Release();
  }
  held_ = TFrameSlot();
  // No frame was decoded yet: drawn again, or a still slide would never
  // show the clip once its first frame arrives.
  if (waiting_) Changed = 1;
  waiting_ = false;
  TKavObject::AfterDraw(drawer);
}

void TKavVideo::PrepareResources(TKavResourceVisitor* visitor) {
  if (!visitor || !visitor->Ready()) return;
  if (placeholder_ && size_.x > 0 && size_.y > 0) visitor->Prepare(placeholder_.get(), DefaultImageDrawParams());
  TKavObject::PrepareResources(visitor);
}

void TKavVideo::ReleaseResources(TKavResourceVisitor* visitor) {
  if (visitor && placeholder_) visitor->Release(placeholder_.get());
  TKavObject::ReleaseResources(visitor);
}

void RefitVideoObjects(TKavObject* tree, const std::u16string& file_name, int32_t image_index) {
  if (!tree) return;
  if (auto* v = dynamic_cast<TKavVideo*>(tree)) {
    if (v->FileName == file_name || (image_index != -2147483647 && v->ImageIndex == image_index)) {
      v->Changed = 1;
      v->Calculate(false);
    }
  }
  for (int32_t i = 0; i < tree->ChildCount(); ++i) RefitVideoObjects(tree->GetChild(i), file_name, image_index);
}

void RegisterKavVideoObject() {
  static std::once_flag once;
  std::call_once(once, [] { g_previous = SetKavObjectFactory(CreateKavVideoObject); });
}

}  // namespace kav
