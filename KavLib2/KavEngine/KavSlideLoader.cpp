#include "KavLib2/KavEngine/KavSlideLoader.h"

#include <algorithm>
#include <mutex>

#include "KavLib2/KavClasses/KavSource.h"
#include "VoRav/Win32/winPriorityClass.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

std::mutex g_factory_lock;
TSlideWindowFactory g_factory;

// Window sizes from a show are held to this range, so a damaged or hostile
// value cannot ask for an empty or absurd window.
constexpr int32_t kMinWindowSide = 1;
constexpr int32_t kMaxWindowSide = 32767;

// How far the loader thread runs below the thread that started it.
constexpr int kLoaderNiceSteps = 5;

int32_t WindowSide(TIniList* options, std::u16string_view key, int32_t def) {
  const int32_t v = IniReadInteger(options, u"main", key, def);
  // Departure: a side of 0 or less takes the default; larger ones are capped.
  if (v < kMinWindowSide) return def;
  return std::min(v, kMaxWindowSide);
}

}  // namespace

void SetSlideWindowFactory(TSlideWindowFactory factory) {
  std::lock_guard<std::mutex> lock(g_factory_lock);
  g_factory = std::move(factory);
}

TSlideData::TSlideData(TPreparedSlide* const* slides, int32_t count) {
  KAV_ASSERT(count <= kMaxSlides);
  Count = std::max(count, 0);
  for (int32_t i = 0; i < Count; ++i) Slides[i] = Ref<TPreparedSlide>(slides[i]);
}

TSlideShowParams::TSlideShowParams() {
  const TSize screen = GetScreenSize();
  Width = screen.cx;
  Height = screen.cy;
}

int32_t TShowWindowOptions::WindowMode() const {
  if (FullScreenValue == 1) return kWindowFullScreen;
  return Bordered ? kWindowBordered : kWindowBorderless;
}

void ReadShowWindowOptions(TIniList* ini, TShowWindowOptions& o) {
  o.Caption = IniReadString(ini, u"main", u"projectname", o.Caption);
  o.FullScreenValue = IniReadInteger(ini, u"main", u"opt_scr_full", 1);
  if (o.FullScreenValue == 0) {
    o.Bordered = !IniReadBool(ini, u"main", u"opt_withoutborder", true);
    if (o.Bordered) o.Caption = IniReadString(ini, u"main", u"opt_scr_caption", o.Caption);
  } else {
    o.Bordered = false;
  }
  if (o.FullScreenValue == 0 || o.FullScreenValue == 3) {
    o.Width = WindowSide(ini, u"opt_scr_width", 640);
    o.Height = WindowSide(ini, u"opt_scr_height", 480);
  }
}

void TSlideShowParams::ReadWindowOptions(TIniList* options) {
  TShowWindowOptions o{Width, Height, Caption, Bordered, FullScreenValue};
  ReadShowWindowOptions(options, o);
  Width = o.Width;
  Height = o.Height;
  Caption = o.Caption;
  Bordered = o.Bordered;
  FullScreenValue = o.FullScreenValue;
}

int32_t TSlideShowParams::WindowMode() const {
  return TShowWindowOptions{Width, Height, Caption, Bordered, FullScreenValue}.WindowMode();
}

TKavSlideLoader::TKavSlideLoader(TKavSource* source, int32_t window_count, int32_t param1, int32_t param2,
                                 bool owns_source) {
  KAV_ASSERT(source != nullptr);
  // The loader keeps the source alive either way; "owns" only tells whether
  // this reference is the one that ends its life.
  (void)owns_source;
  source_ = Ref<TKavSource>(source);
  TSlideWindowFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_factory_lock);
    factory = g_factory;
  }
  if (factory) producer_ = factory(source, timing_.get(), std::clamp(window_count, 1, TSlideData::kMaxSlides),
                                   param1, param2);
  if (producer_) {
    producer_->OnWindow = [this](TPreparedSlide* const* slides, int32_t count) { DeliverSlideData(slides, count); };
  } else {
    LogLine(u"TKavSlideLoader: no slide production; no slides will be prepared");
  }
  ReadWindowOptions(source->Ini());
}

void TKavSlideLoader::Dispose() {
  if (producer_) {
    producer_->OnWindow = nullptr;
    producer_->OnSlidePrepared = nullptr;
  }
  producer_ = nullptr;
  source_ = nullptr;
  timing_ = nullptr;
  TSlideShowParams::Dispose();
}

int32_t TKavSlideLoader::WindowCount() const { return producer_ ? producer_->WindowCount() : 0; }

void TKavSlideLoader::SetAspect(double scale) {
  if (producer_) producer_->SetAspectRatio(TSize{Width, Height}, scale, 100.0, 100.0);
}

TRect TKavSlideLoader::GetVisibleRect() {
  if (producer_) return producer_->GetVisibleRect();
  return TRect{0, 0, Width, Height};
}

void TKavSlideLoader::OnStart() {
  // Departure: the loader thread runs below the engine and raster threads
  // (five nice steps, kept when the process is raised while playing), so
  // decoding the next photos gives way to drawing the frame on a machine of
  // few cores instead of delaying it.
  LowerCallingThreadPriority(kLoaderNiceSteps);
}

void TKavSlideLoader::Step() {
  if (producer_) producer_->AdvanceSlideWindow(timing_->Time.load());
  // Departure: a settled window changes only when the show time reaches the next
  // slide: looked at every 40 ms then, every 10 ms while slides are being
  // made. The engine wakes the loader when the time jumps.
  WaitForMessage(producer_ && producer_->WindowSettled() ? 40 : 10);
}

void TKavSlideLoader::DeliverSlideData(TPreparedSlide* const* slides, int32_t count) {
  TThreadEventList* target = target_.load();
  if (!target) return;
  // Departure: a window larger than the record holds is cut to its first
  // three slides instead of failing the loader thread.
  auto data = MakeRef<TSlideData>(slides, std::min(count, TSlideData::kMaxSlides));
  if (DeliverDirectly) target->Notify(this, code_, data.get());
  else target->SendEvent(code_, data.get());
}

}  // namespace kav
