// The show engine: one worker thread that owns the opened show, keeps the
// slide loader and the music running, decides from pass to pass whether the
// show plays, computes the show time, draws the current slides, carries out
// timed and clicked actions and reports time and state to the GUI thread.
//
// The viewer creates it paused and without a show, opens the first show
// synchronously (OpenShow before Start) and then feeds it requests through
// its queue (open or seek, pause state, mouse, image request).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "KavLib2/KavEngine/KavAction.h"
#include "KavLib2/KavEngine/KavDrawController.h"
#include "KavLib2/KavEngine/KavEngineMusic.h"
#include "KavLib2/KavEngine/KavEngineOverlay.h"
#include "KavLib2/KavEngine/KavFrameInterpolator.h"
#include "KavLib2/KavEngine/KavRootItem.h"
#include "KavLib2/KavEngine/KavSlideLoader.h"
#include "KavLib2/KavEngine/KavThread.h"

namespace kav {

class TFileAccessor;
class TIniFile;
class TKavSource;

// Open or move to a new position (event 102). Without an option file the
// request is a move.
class TOpenParams : public TRefObject {
 public:
  bool PausedAfter = true;
  int32_t RequestId = 0;
  Ref<TFileAccessor> Stream;
  Ref<TIniFile> Options;
  int32_t StartTime = 0;
};

// The pause state (event 103).
class TModeData : public TRefObject {
 public:
  explicit TModeData(bool paused) : Paused(paused) {}
  bool Paused;
};

// Mouse input (event 11) with the action the viewer found for it, if any.
class TEngineMouseData : public TRefObject {
 public:
  TEngineMouseState State;
  TKavAction Action;
};

class TKavEngine : public TCustomKavEngine {
 public:
  static constexpr int32_t kForceReport = -2147483647;

  // `owner`: the application's event list. `device` may be nil (nothing is
  // drawn); with `owns_device` the engine releases it.
  TKavEngine(TPostEventList* owner, TDrawDevice* device, bool overlay, bool paused, bool owns_device);

  // Synchronous open (the first one, before Start). False, with the old
  // show kept, when the show cannot be opened.
  bool OpenShow(TFileAccessor* stream, TIniFile* options, int32_t start_time);
  void OpenAtPosition(TKavSource* source, bool reopen, int32_t start_time);

  // One pass of the loop (the thread's body; tests call it directly).
  void MainLoop();

  // Set by the viewer (any thread).
  void SetLoopAndAction(bool on) { loop_and_action_ = on; }
  void SetVolume(float volume) { volume_ = volume; }

  // Inspection (engine thread, or tests between passes).
  bool Active() const { return active_.load(); }
  bool Paused() const { return paused_; }
  bool Barrier() const { return barrier_.load(); }
  // The time stands at a stop point or at the end of a show that stops there.
  bool AtStop() const;
  // Frames rendered to the device so far.
  int64_t FramesDrawn() const { return frames_drawn_; }
  // Engine thread: how long the last pass that drew nothing asked to wait
  // for the next one (ms).
  uint32_t IdleWaitMs() const { return idle_wait_ms_; }
  // Any thread: playback continues past the stop point the engine stands at
  // (taken up at the start of the next pass).
  void ContinuePastStopPoint() { continue_request_ = true; }
  double LoaderTime() const;
  int32_t CurrentOpenId() const { return current_open_id_.load(); }
  int32_t SlideCount() const { return slide_count_; }
  TKavSource* Source() const { return source_.get(); }
  TKavSlideLoader* Loader() const { return loader_.get(); }
  TEngineMusic* Music() const { return music_.get(); }
  TKavDrawController* DrawController() const { return controller_.get(); }
  TRootItem* Root() const { return root_.get(); }
  // The layer over the slides (logo, panel, dialogs); nil without one.
  TEngineOverlay* Overlay() const { return overlay_.get(); }
  const std::u16string& CursorName() const { return cursor_name_; }
  // Any thread: the overlay shows a dialog (as of the engine's last pass or
  // event).
  bool DialogShown() const { return dialog_shown_.load(); }
  bool OverLink() const { return link_.load(); }
  // Any thread: the last hit test found the mouse over the navigation panel
  // (the cursor name "NavPanel").
  bool OverPanel() const { return over_panel_.load(); }

  struct TLoopRecord {
    bool Present = false;
    int32_t Index = 0;
    double Time = 0;
    double Length = 0;
  };
  const TLoopRecord& LoopRecord() const { return loop_; }

 protected:
  void HandleEvent(TThreadEventList* sender, uint32_t code, bool& handled, TRefObject* param) override;
  void Step() override { MainLoop(); }
  void Dispose() override;

 public:
  // Ends the thread, then stops the loader and releases it and the music.
  void StopEngine();

 private:
  void ProcessAsyncEvents();
  void StopLoader(bool release_loader, bool stop_music);
  void SetActive(bool on);
  double GetTime();
  bool IsMusicReady();
  bool SlidesReady();
  bool SlidesCover();
  bool CheckEnd();
  void NextTimedAction(double t);
  void NextLoopPoint(double t);
  bool HandleAction(const TKavAction& action);
  // True when an action was carried out.
  bool HitTest(const TEngineMouseState& mouse);
  void Draw(bool with_slides, bool force);
  // How long a pass that drew nothing may wait when nothing on screen can
  // change before then by the clock alone (0: it may change any frame).
  uint32_t StillWaitMs(uint32_t state);
  void RenderImage();
  void OnSlidePrepared(TPreparedSlide* slide);
  void SetLoaderTime(double t);
  bool StopsAtEnd() const;
  double EndTime() const;
  void ReportTime();
  // The drawer's output rectangle and view: the visible rectangle of the show.
  void SetShowRect(T3DDrawer* drawer);
  void ApplyDisplayParameters();
  void BuildOverlay();
  // Publishes whether the overlay shows a dialog (engine thread).
  void NoteDialogs() { dialog_shown_ = overlay_ && overlay_->HasDialog(); }
  // The overlay's panel asks and commands through these.
  bool OverlayIsPlaying(TCustomNavBar*) { return !paused_; }
  void OverlayGoToTime(TCustomNavBar*, double t);
  void OverlaySetVolume(TCustomNavBar*, double v);

  Ref<TKavSource> source_;
  bool has_show_ = false;
  bool paused_;
  Ref<TFrameInterpolator> interpolator_ = MakeRef<TFrameInterpolator>();
  std::atomic<int32_t> current_open_id_{0};
  Ref<TOpenParams> pending_;
  Ref<TOpenParams> in_progress_;
  Ref<TKavDrawController> controller_;
  Ref<TRootItem> root_ = MakeRef<TRootItem>(true);
  Ref<TEngineOverlay> overlay_;
  std::atomic<bool> active_{false};
  double position_ = 0;
  Ref<TEngineMusic> music_;
  bool overlay_flag_;
  Ref<TKavSlideLoader> loader_;
  Ref<TPreparedSlide> slides_[TSlideData::kMaxSlides];
  int32_t slide_count_ = 0;
  bool first_frame_reported_ = false;
  int32_t last_reported_ = kForceReport;
  TEngineMouseState mouse_;
  std::atomic<bool> link_{false};
  std::u16string cursor_name_;
  TLoopRecord loop_;
  struct {
    int32_t Index = 2147483646;
    double Time = 3.4e38;
    std::u16string Text;
  } action_;
  std::atomic<bool> loop_and_action_{false};
  std::atomic<float> volume_{1.0f};
  std::atomic<bool> barrier_{false};
  std::atomic<bool> continue_request_{false};
  std::atomic<bool> dialog_shown_{false};
  std::atomic<bool> over_panel_{false};
  bool end_reported_ = false;
  bool frame_drawn_ = false;
  bool redraw_ = false;  // the last frame failed on a ready device
  int64_t frames_drawn_ = 0;
  int32_t passes_before_frame_ = 0;
  int64_t last_pass_ms_ = 0;
  int64_t last_frame_ms_ = 0;  // when the last frame was drawn
  uint32_t idle_wait_ms_ = 0;
  bool still_wake_ = false;  // the last wait was longer than a frame
  std::atomic<bool> slide_prepared_{false};  // the loader prepared a slide since the last pass
  // The drawer the loader thread may prepare slides on (set once created).
  std::atomic<TDeviceDrawer*> prepare_drawer_{nullptr};
};

}  // namespace kav
