// The GUI-thread side of the engine: creates the draw device over the main
// form and the engine, turns the viewer's requests (open, go to a time,
// pause, mouse input, help, close a dialog, image request) into engine
// events, receives the engine's events and places the main window for the
// show's window options and the command line.
#pragma once

#include <cstdint>
#include <string>

#include "KavLib2/KavEngine/KavEngine.h"
#include "VoRav/Application2/vxForms.h"

namespace kav {

class TImage;
class TCommandsStorage;

using TViewerTimeEvent = TDelegate<void(bool finished)>;
using TViewerActionEvent = TDelegate<void(const TKavAction& action)>;
using TViewerImageEvent = TDelegate<void(TImage* image)>;

// Where a window of client size (width, height) goes in `area`; `frame` is
// the non-client size (0 x 0 without a border). A window larger than the
// area is scaled down to fit, keeping its aspect; the result is centred.
TRect PlaceShowWindow(int32_t width, int32_t height, TSize frame, const TRect& area);

// Command-line queries: "desktopalign", "resize", and the monitor of
// "display n" (n - 1 when it names a monitor, else the primary one).
bool CmdHasDesktopAlign(const TCommandsStorage* commands);
bool CmdHasResize(const TCommandsStorage* commands);
int32_t CmdDisplayIndex(const TCommandsStorage* commands);

class TKavShowViewer : public TRefObject {
 public:
  // `form` must be given (an assertion otherwise).
  explicit TKavShowViewer(TVxForm* form);

  // Opens a show: synchronously on the first open (which also creates and
  // starts the engine and places the window), through the engine's queue
  // afterwards. The stream is cloned and the options copied.
  void Open(TFileAccessor* stream, TIniFile* options, int32_t start_time);
  void SetPaused(bool paused);
  void SetPosition(int32_t time);
  void SetPositionAndPause(int32_t time, bool paused);
  void MouseInput(uint8_t kind, int32_t x, int32_t y, uint32_t shift, uint8_t button);
  void MouseInputWithAction(uint8_t kind, int32_t x, int32_t y, uint32_t shift, uint8_t button,
                            const TKavAction& action);
  void ShowHelp();
  void CloseDialog();
  void RequestImage();
  void SetLoopAndActions(bool on);

  bool Paused() const { return paused_; }
  int32_t LastTime() const { return last_time_; }
  int32_t Duration() const { return duration_; }
  TKavEngine* Engine() const { return engine_.get(); }
  TVxForm* Form() const { return form_; }
  // The command store the window placement reads (the program's by default).
  void SetCommands(TCommandsStorage* commands) { commands_ = commands; }

  TViewerTimeEvent OnTimeChanged;
  TViewerActionEvent OnAction;
  TViewerImageEvent OnImage;

  // Places the window for a show window of (width, height) in `mode`
  // (0 full screen, 1 bordered, 2 without border).
  void PlaceWindow(int32_t width, int32_t height, int32_t mode);

 protected:
  void Dispose() override;
  // Receives the show's option file before each open.
  virtual void BeforeOpen(TIniFile* /*options*/) {}

 private:
  void ApplyWindowOptions(TIniFile* options);
  bool EngineRunning() const { return engine_ && engine_->Running(); }
  void EngineState(TCustomKavEngine* engine);
  void EngineTime(TCustomKavEngine* engine, int32_t time, bool finished, int32_t duration);
  void EngineEvent(TCustomKavEngine* engine, TKavEventData* data);

  void FormGone(TRefObject* sender, uint32_t id, void* param);
  void DetachForm();

  // Not owned: the form owns the viewer (a reference here would keep both
  // alive for good). Cleared when the form goes first.
  TVxForm* form_ = nullptr;
  Ref<TKavEngine> engine_;
  bool paused_ = true;
  int32_t last_time_ = 0;
  int32_t duration_ = 0;
  bool loop_and_action_ = false;
  TCommandsStorage* commands_ = nullptr;
};

}  // namespace kav
