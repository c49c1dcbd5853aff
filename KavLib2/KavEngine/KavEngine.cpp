#include "KavLib2/KavEngine/KavEngine.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "KavLib2/KavClasses/KavSource.h"
#include "KavLib2/KavEngine/KavEngineClock.h"
#include "KavLib2/KavProcess/KavMemoryPolicy.h"
#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/vxConvert.h"
#include "VoRav/vxIni.h"
#include "VoRav/vxLog.h"
#include "VoRav/vxTime.h"
#include "VoRav/vxUTF8.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

constexpr double kNoTime = 3.4e38;  // "never", as a single-precision value
constexpr int32_t kNoIndex = 2147483646;
constexpr int64_t kFrameMs = 16;  // a frame at 60 Hz, whole milliseconds
// The longest wait of a still picture: what the engine cannot foresee (a
// window that moved without an expose, a picture's textures arriving) is
// noticed within it.
constexpr int64_t kStillWaitMs = 250;

// Milliseconds truncated toward zero into 32 bits (saturated, so a damaged
// show time can never overflow the conversion).
int32_t TruncMs(double t) {
  if (!(t == t)) return 0;
  if (t >= 2147483647.0) return 2147483647;
  if (t <= -2147483648.0) return -2147483647 - 1;
  return int32_t(t);
}

std::u16string Num(double t) { return IntToStr(TruncMs(t)); }
std::u16string Flag(bool b) { return b ? u"True" : u"False"; }

}  // namespace

TKavEngine::TKavEngine(TPostEventList* owner, TDrawDevice* device, bool overlay, bool paused, bool owns_device)
    : TCustomKavEngine(owner),
      paused_(paused),
      controller_(MakeRef<TKavDrawController>(device, owns_device)),
      overlay_flag_(overlay) {
  // An expose, a resize or a lost device ends a still picture's wait.
  Ref<TThreadEventList> list(EventList());
  controller_->SetWake([list] { static_cast<TKavThreadEventList*>(list.get())->Wake(); });
}

void TKavEngine::Dispose() {
  StopEngine();
  source_ = nullptr;
  root_ = nullptr;
  controller_ = nullptr;
  interpolator_ = nullptr;
  pending_ = nullptr;
  in_progress_ = nullptr;
  TCustomKavEngine::Dispose();
}

void TKavEngine::StopEngine() {
  Stop();
  StopLoader(true, true);
}

double TKavEngine::LoaderTime() const { return loader_ ? loader_->Timing()->Time.load() : position_; }

void TKavEngine::SetLoaderTime(double t) {
  if (!loader_) return;
  const double was = loader_->Timing()->Time.exchange(t);
  // A jump (seek, loop, rewind) needs other slides: the loader, which may
  // be waiting with a settled window, looks at once.
  if (t < was || t - was > 200) loader_->Wake();
}

bool TKavEngine::StopsAtEnd() const { return source_ && source_->RepeatMode() != kRepeatShow; }

double TKavEngine::EndTime() const { return StopsAtEnd() ? source_->Duration() : kNoTime; }

bool TKavEngine::AtStop() const { return barrier_.load() || (StopsAtEnd() && LoaderTime() >= source_->Duration()); }

// ---- Opening ----

bool TKavEngine::OpenShow(TFileAccessor* stream, TIniFile* options, int32_t start_time) {
  KAV_ASSERT(options != nullptr);
  Ref<TKavSource> release_after;
  if (has_show_ && (paused_ || (music_ && music_->KeepPrevious.load()))) release_after = source_;
  Ref<TKavSource> source;
  try {
    source = MakeRef<TKavSource>(stream, options);
  } catch (const Exception& e) {
    // A show that cannot be read leaves the engine on the show it has.
    LogLine(u"TKavEngine: OpenShow failed: " + SystemUTF8ToWide(e.what()));
    return false;
  }
  const bool had_show = has_show_;
  OpenAtPosition(source.get(), false, start_time);
  has_show_ = true;
  release_after = nullptr;
  if (!paused_ && music_) music_->KeepPrevious = had_show;
  return true;
}

namespace {

// A show without time (no slides, or slides that all end at 0) has its
// slides at 0 only: a position past that (a start slide or time asked for)
// would wait for slides that never cover it, with no frame drawn.
int32_t PositionWithin(const TKavSource* source, int32_t t) {
  return source && !(source->Duration() > 0) ? 0 : t;
}

}  // namespace

void TKavEngine::OpenAtPosition(TKavSource* source, bool reopen, int32_t start_time) {
  end_reported_ = false;
  LogLine((reopen ? u"Reopen from new position>>>>>>>> " : u"Open from new position>>>>>>>> ") +
          IntToStr(start_time));
  const int64_t began = EngineNowMs();
  if (paused_) SetActive(false);
  StopLoader(true, paused_);
  source_ = Ref<TKavSource>(source);
  if (!source) return;

  loader_ = MakeRef<TKavSlideLoader>(source, 3, 0, 0, false);
  loader_->SetTarget(EventList(), kEngineSlides);
  if (TSlideWindowProducer* producer = loader_->Producer())
    producer->OnSlidePrepared = [this](TPreparedSlide* slide) { OnSlidePrepared(slide); };
  // Departure: a show opened while playing keeps the previous show's music
  // running; when there is none yet, the new show gets its own (stopped).
  if (paused_ || !music_) {
    music_ = NewEngineMusic(source);
    music_->Start();
    music_->SetPlaying(false);
  }
  if (!reopen) {
    PostEvent(kGuiWindowSize, {loader_->Width, loader_->Height, loader_->WindowMode()});
    prepare_drawer_ = controller_->GetDrawer();
  }
  const TSize view = controller_->GetViewSize();
  loader_->Width = std::max(view.cx, 10);
  loader_->Height = std::max(view.cy, 10);
  loader_->SetAspect(1.0);
  BuildOverlay();
  if (paused_) {
    start_time = PositionWithin(source, start_time);
    position_ = start_time;
    SetLoaderTime(start_time);
    last_reported_ = kForceReport;
    NextTimedAction(start_time);
    NextLoopPoint(start_time);
    barrier_ = false;
  }
  LogLine(u"Loader Inited To Time : " + IntToStr(int32_t(EngineNowMs() - began)));
}

void TKavEngine::StopLoader(bool release_loader, bool stop_music) {
  if (loader_) {
    loader_->Terminate();
    // The loader may be waiting in a send to this queue: keep serving it.
    while (loader_->Running()) {
      EventList()->ProcessMessages();
      SleepMs(3);
    }
  }
  if (stop_music && music_) {
    music_->SetPlaying(false);
    music_ = nullptr;
  }
  if (release_loader) {
    overlay_ = nullptr;
    dialog_shown_ = false;
  }
  if (release_loader && loader_) {
    loader_->Stop();
    loader_ = nullptr;
    for (auto& s : slides_) s = nullptr;
    slide_count_ = 0;
  }
}

// ---- Events from the GUI thread and the loader ----

void TKavEngine::HandleEvent(TThreadEventList*, uint32_t code, bool& handled, TRefObject* param) {
  handled = true;
  switch (code) {
    case kEngineMouse: {
      auto* data = dynamic_cast<TEngineMouseData*>(param);
      if (!data) return;
      mouse_ = data->State;
      // The overlay (dialogs, then the panel) answers before the slides.
      if (overlay_) {
        TKavAction action;
        bool taken = false;
        TRefObject* object = nullptr;
        overlay_->HitTest(mouse_, action, taken, object);
        if (taken) {
          link_ = false;
          cursor_name_ = overlay_->PanelMode() == 2 ? u"NavPanel" : u"";
          over_panel_ = cursor_name_ == u"NavPanel";
          HandleAction(action);
          return;
        }
      }
      if (!HitTest(mouse_) && !data->Action.IsNone()) HandleAction(data->Action);
      return;
    }
    case kEngineRenderImage:
      RenderImage();
      return;
    case kEngineCloseDialog:
      if (overlay_) overlay_->CloseTopDialog();
      return;
    case kEngineHelpDialog:
      if (overlay_) overlay_->ShowDialog(u"help");
      return;
    case kEngineSlides: {
      auto* data = dynamic_cast<TSlideData*>(param);
      if (!data) return;
      std::u16string list;
      slide_count_ = data->Count;
      for (int32_t i = 0; i < TSlideData::kMaxSlides; ++i) {
        slides_[i] = i < data->Count ? data->Slides[i] : nullptr;
        if (i < data->Count && slides_[i]) {
          if (!list.empty()) list += u"  ";
          list += Num(slides_[i]->Times.Begin) + u"-" + Num(slides_[i]->Times.End);
        }
      }
      LogLine(u">>>>>>>>>>>>> slide list synched : " + list);
      return;
    }
    case kEngineOpen: {
      auto* req = dynamic_cast<TOpenParams*>(param);
      if (!req) return;
      const bool pause_after = pending_ ? pending_->PausedAfter : paused_;
      if (req->Options) {
        LogLine(u"TKavEngine: OpenShow Async");
        auto next = MakeRef<TOpenParams>();
        next->RequestId = req->RequestId;
        next->StartTime = req->StartTime;
        next->Stream = std::move(req->Stream);
        next->Options = std::move(req->Options);
        pending_ = next;
      } else {
        LogLine(u"TKavEngine: SetPosition Async");
        if (!pending_) pending_ = MakeRef<TOpenParams>();
        pending_->RequestId = req->RequestId;
        pending_->StartTime = req->StartTime;
      }
      // The pause state to apply afterwards: a pending request's, else the
      // current one (the viewer sends its own pause event after a move).
      pending_->PausedAfter = pause_after;
      LogLine(u"TKavEngine: Current Pause Status: " + Flag(paused_));
      LogLine(u"TKavEngine: Async Pause Status: " + Flag(pending_->PausedAfter));
      return;
    }
    case kEngineMode: {
      auto* mode = dynamic_cast<TModeData*>(param);
      if (!mode) return;
      if (!pending_ && !in_progress_) {
        LogLine(u"TKavEngine: Before Pause Status: " + Flag(paused_));
        paused_ = mode->Paused;
        LogLine(u"TKavEngine: SetPauseEvent Direct: " + Flag(paused_));
      } else {
        (pending_ ? pending_ : in_progress_)->PausedAfter = mode->Paused;
        LogLine(u"TKavEngine: SetPauseEvent Async: " + Flag(mode->Paused));
      }
      return;
    }
    default:
      KAV_ASSERT_FAIL("TKavEngine: unknown event code");
  }
}

void TKavEngine::ProcessAsyncEvents() {
  if (!pending_) return;
  in_progress_ = std::move(pending_);
  LogLine(u"TKavEngine: Begin ProcessAsyncOpen");
  TOpenParams* req = in_progress_.get();
  if (req->Options) {
    LogLine(u"TKavEngine: Process AsyncEvent Open");
    OpenShow(req->Stream.get(), req->Options.get(), req->StartTime);
  } else {
    LogLine(u"TKavEngine: Process AsyncEvent SetPosition");
    SetActive(false);
    const int32_t start = PositionWithin(source_.get(), req->StartTime);
    position_ = start;
    SetLoaderTime(start);
    last_reported_ = kForceReport;
    NextTimedAction(start);
    NextLoopPoint(start);
    barrier_ = false;
  }
  current_open_id_ = req->RequestId;
  LogLine(u"TKavEngine: Process AsyncEvent Curren Pause Status: " + Flag(paused_));
  paused_ = req->PausedAfter;
  LogLine(u"TKavEngine: Process AsyncEvent New Pause Status: " + Flag(paused_));
  in_progress_ = nullptr;
}

// ---- Clock ----

void TKavEngine::SetActive(bool on) {
  if (on == active_.load()) return;
  if (on) {
    TDeviceDrawer* drawer = controller_->Drawer();
    for (int32_t i = 0; i < slide_count_; ++i) {
      if (!drawer || !slides_[i]) continue;
      slides_[i]->PrepareOn(drawer);
      const double at = position_ - slides_[i]->Times.Begin;
      slides_[i]->PreloadOn(drawer, at);
      LogLine(u"PreloadEx Time: " + Num(at));
    }
    if (music_) {
      if (music_->StopTime() != loop_.Time) music_->SetStopTime(loop_.Time);
      music_->SetPlaying(true);
    }
    active_ = true;
    position_ = GetTime();  // now the clock's offset over the show time
    interpolator_->SetRunning(false);
  } else {
    // Departure: the clock stops where it stands now rather than at the
    // loader's time, which is that of the last pass: on a still slide that
    // pass may lie a long wait back, and the rest of the show would come
    // that much late. Never before the last pass, nor past a loop point.
    const double last = LoaderTime();
    double now = music_ ? music_->GetTime() - position_ : last;
    if (loop_.Present) now = std::min(now, loop_.Time);
    interpolator_->SetRunning(true);
    active_ = false;
    if (music_) music_->SetPlaying(false);
    position_ = now > last ? now : last;
    if (music_ && music_->KeepPrevious.load() && source_) {
      music_ = NewEngineMusic(source_.get());
      music_->Start();
      music_->SetPlaying(false);
    }
  }
}

double TKavEngine::GetTime() {
  if (!active_.load()) return position_;
  const double music = music_ ? music_->GetTime() : 0;
  return interpolator_->NextFrameTime(music - position_);
}

bool TKavEngine::IsMusicReady() {
  if (!music_) return false;
  if (!active_.load()) {
    const double t = LoaderTime();
    if (music_->GetTime() != t || music_->StopTime() != loop_.Time) music_->SeekTo(t, loop_.Time);
  }
  const bool ready = music_->Loaded();
  if (active_.load() && !ready) LogLine(u"TKavEngine.IsMusicReady: False");
  return ready;
}

bool TKavEngine::SlidesReady() {
  if (active_.load()) return true;
  if (!loader_ || slide_count_ <= 0 || slide_count_ < loader_->WindowCount()) return false;
  const double t = LoaderTime();
  const TPreparedSlide* first = slides_[0].get();
  const TPreparedSlide* last = slides_[slide_count_ - 1].get();
  if (!first || !last) return false;
  return t >= first->Times.Begin + first->Times.EffectTime && t <= last->Times.EndPlusNext;
}

bool TKavEngine::SlidesCover() {
  if (active_.load()) return true;
  const double t = LoaderTime();
  for (int32_t i = 0; i < slide_count_; ++i)
    if (!slides_[i]) return false;
  switch (slide_count_) {
    case 1:
      return t >= slides_[0]->Times.Begin + slides_[0]->Times.EffectTime && t <= slides_[0]->Times.End;
    case 2:
      return t >= slides_[0]->Times.Begin + slides_[0]->Times.EffectTime && t <= slides_[0]->Times.EndPlusNext &&
             t >= slides_[1]->Times.Begin && t <= slides_[1]->Times.End;
    case 3: {
      if (!loader_ || slide_count_ < loader_->WindowCount()) return false;
      return t >= slides_[0]->Times.Begin + slides_[0]->Times.EffectTime && t <= slides_[2]->Times.EndPlusNext;
    }
    default:
      return false;
  }
}

bool TKavEngine::CheckEnd() {
  if (!loader_ || !source_ || !StopsAtEnd()) return false;
  const double end = source_->Duration();
  if (LoaderTime() < end) return false;
  SetLoaderTime(end);
  if (!end_reported_) {
    end_reported_ = true;
    PostEvent(kGuiTime, {current_open_id_.load(), TruncMs(end), TruncMs(end), 1});
  }
  return true;
}

void TKavEngine::NextTimedAction(double t) {
  const int32_t count = source_ ? source_->SlideCount() : 0;
  const double old_time = action_.Time;
  const int32_t old_index = action_.Index;
  action_.Index = kNoIndex;
  action_.Time = kNoTime;
  action_.Text.clear();
  if (!loop_and_action_.load() || count <= 0) return;
  int32_t start = (t >= old_time && old_index != kNoIndex) ? old_index + 1 : source_->SlideIndexAtTime(t);
  if (start < 0) start = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t index = int64_t(start) + k;
    if (index >= kNoIndex) break;
    std::u16string text;
    if (!source_->GetRunApp(int32_t(index % count), text)) continue;
    TSlideTiming timing;
    source_->GetSlideTiming(int32_t(index), timing);
    if (timing.Begin + 1.0 < t) continue;
    action_.Index = int32_t(index);
    action_.Time = timing.Begin + 1.0;
    action_.Text = text;
    return;
  }
}

void TKavEngine::NextLoopPoint(double t) {
  const int32_t count = source_ ? source_->SlideCount() : 0;
  const int32_t last = StopsAtEnd() ? count - 1 : kNoIndex;
  const double old_time = loop_.Time;
  const bool old_present = loop_.Present;
  const int32_t old_index = loop_.Index;
  loop_ = TLoopRecord{false, last, EndTime(), 0};
  if (!loop_and_action_.load() || !source_ || count <= 0) return;
  int32_t start = (old_present && t >= old_time) ? old_index : source_->SlideIndexAtTime(t);
  if (start < 0) start = 0;
  for (int32_t k = 0; k < count; ++k) {
    const int64_t index = int64_t(start) + k;
    if (index > last) break;
    TSlideTiming timing;
    source_->GetSlideTiming(int32_t(index), timing);
    if (timing.End < t) continue;
    double length = 0;
    if (!source_->GetEndAction(int32_t(index % count), length)) continue;
    loop_ = TLoopRecord{true, int32_t(index), timing.End, length};
    return;
  }
}

// ---- Actions and the mouse ----

bool TKavEngine::HandleAction(const TKavAction& action) {
  if (action.IsNone()) return false;
  if (action.Kind == kActPanelHandled) return true;
  if (overlay_) {
    if (action.Kind == kActHelp) {
      overlay_->ShowDialog(u"help");
      return true;
    }
    if (action.Kind == kActDialog) {
      overlay_->ShowDialog(action.Text);
      return true;
    }
    // Closing shuts the top dialog while one is open; without one it goes on
    // to the form.
    if (action.Kind == kActClose && overlay_->HasDialog()) {
      overlay_->CloseTopDialog();
      return true;
    }
    if (ClosesDialogsFirst(action.Kind)) overlay_->CloseDialogs();
  }
  // Without an overlay there are no dialogs to open or close: every other
  // kind goes to the GUI thread, which ignores the dialog kinds.
  PostEvent(kGuiAction, {action.Kind, action.Int}, !action.Text.empty(),
            action.Text.empty() ? nullptr : new TStrValue(action.Text));
  return true;
}

bool TKavEngine::HitTest(const TEngineMouseState& mouse) {
  link_ = false;
  cursor_name_.clear();
  // Over the navigation panel the cursor has the panel's name.
  if (overlay_ && overlay_->PanelMode() == 2) cursor_name_ = u"NavPanel";
  over_panel_ = cursor_name_ == u"NavPanel";
  double t = LoaderTime();
  if (t == 0) t = 0.1;
  for (int32_t i = slide_count_ - 1; i >= 0; --i) {
    TPreparedSlide* s = slides_[i].get();
    if (!s || !(s->Times.Begin < t && t <= s->Times.EndPlusNext)) continue;
    TKavAction action;
    bool link = false;
    if (!s->ProcessMouse(mouse, action, link)) continue;
    link_ = link;
    return HandleAction(action);
  }
  return false;
}

// ---- Drawing ----

void TKavEngine::SetShowRect(T3DDrawer* drawer) {
  if (!loader_) return;
  const TRect r = loader_->GetVisibleRect();
  drawer->SetOutputRect(r);
  // The slides and the overlay are laid out in device pixels (the visible
  // rectangle is already centred in the view), so the view is that same
  // rectangle and positions reach the device one to one. Left empty, the
  // view would be the whole device squeezed into the show's rectangle.
  drawer->ViewRect = TFloatRect{float(r.Left), float(r.Top), float(r.Right), float(r.Bottom)};
}

void TKavEngine::ApplyDisplayParameters() {
  if (!source_) return;
  const uint8_t* rgb = source_->HiderColor();
  root_->HiderColor = 0xFF000000u | (uint32_t(rgb[0]) << 16) | (uint32_t(rgb[1]) << 8) | uint32_t(rgb[2]);
  root_->UnsharpAmount = source_->UnsharpAmount();
}

void TKavEngine::BuildOverlay() {
  overlay_ = nullptr;
  if (!source_ || !loader_) return;
  TEngineOverlaySetup s;
  s.Accessor = source_->Accessor();
  s.Options = source_->Ini();
  s.Visible = loader_->GetVisibleRect();
  s.Root = root_.get();
  s.OverlayFlag = overlay_flag_;
  s.IsPlaying = TDelegate<bool(TCustomNavBar*)>::Bind<&TKavEngine::OverlayIsPlaying>(this);
  s.GoToTime = TDelegate<void(TCustomNavBar*, double)>::Bind<&TKavEngine::OverlayGoToTime>(this);
  s.SetVolume = TDelegate<void(TCustomNavBar*, double)>::Bind<&TKavEngine::OverlaySetVolume>(this);
  s.Window = TSize{loader_->Width, loader_->Height};
  s.Aspect = TSize{s.Visible.Width(), s.Visible.Height()};
  s.Volume = volume_.load();
  s.Duration = source_->Duration();
  s.Slides = loader_->Producer();
  try {
    overlay_ = NewEngineOverlay(s);
  } catch (const Exception& e) {
    // A show whose overlay cannot be built plays without one.
    LogLine(u"TKavEngine: overlay not built: " + SystemUTF8ToWide(e.what()));
    overlay_ = nullptr;
  }
}

void TKavEngine::OverlayGoToTime(TCustomNavBar*, double t) {
  if (!std::isfinite(t)) return;
  HandleAction(TKavAction{kActGotoTime, int32_t(std::clamp(t, 0.0, 2147483647.0)), {}});
}

void TKavEngine::OverlaySetVolume(TCustomNavBar*, double v) {
  if (std::isfinite(v)) volume_ = float(std::clamp(v, 0.0, 1.0));
}

void TKavEngine::Draw(bool with_slides, bool force) {
  TPreparedSlide* raw[TSlideData::kMaxSlides] = {};
  const int32_t count = with_slides ? slide_count_ : 0;
  for (int32_t i = 0; i < count; ++i) raw[i] = slides_[i].get();
  root_->AtStop = AtStop();
  if (!root_->Prepare(raw, overlay_.get(), count)) return;
  if (!root_->NeedsDraw() && !force) return;
  HitTest(mouse_);
  if (T3DDrawer* drawer = controller_->Drawer()) {
    SetShowRect(drawer);
    ApplyDisplayParameters();
    if (controller_->Render(root_.get())) {
      frame_drawn_ = true;
      ++frames_drawn_;
      redraw_ = false;
    } else {
      // Departure: a frame the ready device did not show (a call that drew
      // nothing) is drawn again next pass; an unready device wakes the engine itself.
      redraw_ = drawer->IsReady();
    }
  }
  if (!first_frame_reported_) {
    PostEvent(kGuiState);
    first_frame_reported_ = true;
  }
}

uint32_t TKavEngine::StillWaitMs(uint32_t state) {
  if ((state & (kDrawRedraw | kDrawLost)) || !(state & kDrawReady) || slide_prepared_.load() || redraw_) return 0;
  if (slide_count_ < 1 || root_->NeedsDraw()) return 0;
  if (overlay_ && !overlay_->Settled()) return 0;
  const bool playing = active_.load();
  // Stopped for readiness (slides, music), the engine looks every frame:
  // what it waits for does not always come as a message.
  if (!playing && !paused_ && !AtStop()) return 0;
  const double t = LoaderTime();
  int32_t j = -1;
  for (int32_t k = 0; k < slide_count_; ++k)
    if (slides_[k] && t >= slides_[k]->Times.Begin) j = k;
  if (j < 0) return 0;
  // The slide before it may still show (its transition, or a cut at its end
  // plus the next effect time).
  const bool before_shows = j > 0 && slides_[j - 1] && t < slides_[j - 1]->Times.EndPlusNext;
  if (!playing) {
    // With the clock standing (a transition too) only what plays by itself
    // can change.
    const auto changes = [t](TPreparedSlide* s) { return !std::isinf(s->NextChange(t, false)); };
    if (changes(slides_[j].get()) || (before_shows && changes(slides_[j - 1].get()))) return 0;
    return uint32_t(kStillWaitMs);
  }
  if (root_->InTransition() || before_shows) return 0;
  // Departure: the wait ends before the slide's next change (an object's visible window, a keyframe), not only its last keyframe.
  // One due now means a frame every pass.
  double next = slides_[j]->NextChange(t, true);
  if (!(next > t)) return 0;
  next = std::min(next, slides_[j]->Times.End);
  for (int32_t k = j + 1; k < slide_count_; ++k)
    if (slides_[k]) next = std::min(next, slides_[k]->Times.Begin);
  if (loop_.Present) next = std::min(next, loop_.Time);
  next = std::min({next, action_.Time, EndTime()});
  // The show clock runs at the wall clock's pace; woken a frame early, the
  // pass that finds nothing changed yet waits on the frame grid.
  const double ms = std::min(next - t - double(kFrameMs), double(kStillWaitMs));
  return ms > double(kFrameMs) ? uint32_t(ms) : 0;
}

void TKavEngine::RenderImage() {
  T3DDrawer* drawer = controller_->Drawer();
  Ref<TImage> image;
  TPreparedSlide* raw[TSlideData::kMaxSlides] = {};
  for (int32_t i = 0; i < slide_count_; ++i) raw[i] = slides_[i].get();
  root_->AtStop = AtStop();
  if (drawer && root_->Prepare(raw, overlay_.get(), slide_count_)) {
    SetShowRect(drawer);
    ApplyDisplayParameters();
    const bool no_present = drawer->NoPresent;
    drawer->NoPresent = true;
    // The saved picture shows the logo and the dialogs, not the panel.
    if (overlay_) overlay_->HidePanel = true;
    if (controller_->Render(root_.get())) image = drawer->Snapshot();
    if (overlay_) overlay_->HidePanel = false;
    drawer->NoPresent = no_present;
    root_->Force();  // the screen still shows the last presented frame
  }
  if (image) {
    LogLine(u"********************* Image ");
    PostEvent(kGuiImage, {}, true, image.release());
  } else {
    LogLine(u"********************* Image not Assigned");
  }
}

void TKavEngine::OnSlidePrepared(TPreparedSlide* slide) {
  TDeviceDrawer* drawer = prepare_drawer_.load();
  if (!drawer || !slide || !slide->Object()) return;
  if (active_.load()) {
    slide->PrepareOn(drawer);
    LogLine(u"preload from callback.............");
  }
  slide->PreloadOn(drawer, 0);
  // The pages the slides before this one left free go back to the system:
  // a looping show's resident size stays flat.
  TrimHeap();
  // A frame drawn before the slide's pictures were ready lacks them, and a
  // still slide would draw no other: the next pass draws again.
  slide_prepared_ = true;
  Wake();
}

void TKavEngine::ReportTime() {
  const double t = LoaderTime();
  if (std::fabs(t - double(last_reported_)) <= 20.0) return;
  last_reported_ = TruncMs(t);
  PostEvent(kGuiTime, {current_open_id_.load(), last_reported_, source_ ? TruncMs(source_->Duration()) : 0, 0});
}

// ---- The pass ----

void TKavEngine::MainLoop() {
  if (music_ && music_->GetVolume() != volume_.load()) music_->SetVolume(volume_.load());
  if (EventList()->IsClosed()) return;
  EventList()->ProcessMessages();
  if (pending_) ProcessAsyncEvents();
  NoteDialogs();
  if (continue_request_.exchange(false) && barrier_.load()) {
    // Departure: the next stop point is looked for just after this one, so
    // continuing does not stop again at the same place at once.
    barrier_ = false;
    NextLoopPoint(loop_.Time + 0.001);
  }
  if (loader_ && !loader_->Running() && !Terminated()) loader_->Start();

  const uint32_t state = controller_->GetState();
  if (!frame_drawn_) ++passes_before_frame_;

  bool new_active = !paused_ && !barrier_.load() && SlidesReady() && IsMusicReady();
  if (!source_ || (source_->PauseWhenInactive() && !(state & kDrawDeviceReady))) new_active = false;
  const bool dialog_holds = overlay_ && overlay_->IsPausing();
  if (dialog_holds) new_active = false;  // a dialog holds the show
  // Departure: the music is told when the viewer or a dialog holds the
  // show, so that music running free of the show's time pauses with it.
  if (music_) music_->SetHeld(paused_ || dialog_holds);
  // Departure: the end holds while stopped too (asked only while playing, play flipped on and off every pass).
  if (CheckEnd()) new_active = false;
  bool force = (state & (kDrawRedraw | kDrawLost)) != 0 || slide_prepared_.exchange(false) || redraw_;
  if (!new_active) {
    if (active_.load()) {
      LogLine(u"TKavEngine.MainLoop: SetActive(False) - Stop by not NewActive");
      force = true;
    }
    SetActive(false);
  }
  if ((state & kDrawLost) && (state & kDrawReady)) {
    first_frame_reported_ = false;
    new_active = false;
    if (active_.load()) LogLine(u"TKavEngine.MainLoop: SetActive(False) - Stop by Reinited");
    SetActive(false);
    if (controller_->Drawer())
      for (int32_t i = 0; i < slide_count_; ++i)
        if (slides_[i]) slides_[i]->ReleaseDeviceResources();
    const TSize view = controller_->GetViewSize();
    if (loader_ && (std::max(view.cx, 10) != loader_->Width || std::max(view.cy, 10) != loader_->Height)) {
      LogLine(u"OpenInt on diff size: " + IntToStr(view.cx) + u" " + IntToStr(view.cy));
      OpenAtPosition(source_.get(), true, TruncMs(GetTime()));
    }
    if (T3DDrawer* drawer = controller_->Drawer())
      for (int32_t i = 1; i < slide_count_; ++i)
        if (slides_[i]) slides_[i]->PrepareOn(drawer);
    LogLine(u"DrawDevice Reinited (Slides:" + IntToStr(slide_count_) + u")");
  }
  if (new_active && !active_.load()) {
    LogLine(u"TKavEngine.MainLoop: SetActive(True) - Start by NewActive");
    SetActive(true);
  }
  if (Terminated()) return;

  if (still_wake_ && active_.load()) {
    // After a wait of many frames the clock's step is not a frame's: the
    // smoothing passes this value through rather than learn that step.
    interpolator_->SetRunning(true);
    interpolator_->SetRunning(false);
  }
  still_wake_ = false;
  const double raw = GetTime();
  if (loader_) loader_->Timing()->RawTime = raw;
  if (active_.load() && loop_.Present && raw >= loop_.Time) {
    LogLine(u"TKavEngine.MainLoop: SetActive(False) - Stop by Barrier");
    SetActive(false);
    // Departure: a loop length of 0 or less stops at the loop point (a
    // negative one would otherwise rewind for ever).
    if (loop_.Length <= 0) {
      barrier_ = true;
      SetLoaderTime(loop_.Time);
      NextLoopPoint(loop_.Time);
    } else {
      // Rewound by whole loop lengths until before the loop time, computed
      // in one step so a huge overshoot cannot keep the pass busy.
      double t = raw - loop_.Length * (std::floor((raw - loop_.Time) / loop_.Length) + 1.0);
      while (t >= loop_.Time) t -= loop_.Length;
      SetLoaderTime(t);
    }
    position_ = LoaderTime();
    if (music_) music_->SeekTo(LoaderTime(), loop_.Time);
  } else {
    SetLoaderTime(raw);
  }

  CheckEnd();
  if (overlay_) overlay_->SetTime(LoaderTime());
  NoteDialogs();  // a closed dialog leaves the list when its fade ends

  if (active_.load() && LoaderTime() >= action_.Time) {
    const std::u16string text = action_.Text;
    NextTimedAction(action_.Time);
    if (!text.empty()) HandleAction(TKavAction{kActRunApp, 0, text});
  }

  const int64_t frames_before = frames_drawn_;
  if (slide_count_ >= 1) {
    if (SlidesCover()) Draw(true, force);
    else if (state & kDrawRedraw) Draw(false, true);
  }

  const int64_t now = EngineNowMs();
  if (frames_drawn_ != frames_before) last_frame_ms_ = now;
  if (frames_drawn_ != frames_before || !frame_drawn_ || pending_) {
    SleepMs(now - last_pass_ms_ > 16 ? 1 : 3);
  } else {
    // Departure: a pass that drew nothing (a still picture, paused or
    // playing) waits for the next frame time of a 60 Hz grid from the last
    // drawn frame instead of looking again after 3 ms; a message (mouse,
    // pause, new slides, stop, an expose) ends the wait at once. Three
    // hundred idle passes a second kept the machine awake for nothing. When
    // nothing on screen can change by the clock before a later time (the
    // next slide, an object's visible window or keyframe, a stop or action),
    // it waits until a frame before then, at most kStillWaitMs.
    idle_wait_ms_ = uint32_t(kFrameMs - std::max<int64_t>(now - last_frame_ms_, 0) % kFrameMs);
    const uint32_t still = StillWaitMs(state);
    if (still > idle_wait_ms_) {
      idle_wait_ms_ = still;
      still_wake_ = true;
    }
    const uint32_t limit = EngineWaitLimitMs();
    WaitForMessage(limit > 0 ? std::min(idle_wait_ms_, limit) : idle_wait_ms_);
  }
  last_pass_ms_ = EngineNowMs();
  ReportTime();
}

}  // namespace kav
