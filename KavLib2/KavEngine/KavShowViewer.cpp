#include "KavLib2/KavEngine/KavShowViewer.h"

#include <algorithm>
#include <cmath>

#include "KavLib2/KavViewer/KavFileAccessor.h"
#include "VoRav/Application2/FormDevice/vxFormDevice.h"
#include "VoRav/Application2/vxApplication.h"
#include "VoRav/Graphics/vxImage.h"
#include "VoRav/Win32/winScreen.h"
#include "VoRav/vxCommandLine.h"
#include "VoRav/vxIni.h"
#include "VoRav/wpExceptions.h"

namespace kav {

namespace {

// Border styles of the form: none, sizeable, single (fixed) frame.
constexpr uint8_t kBorderNone = 0;
constexpr uint8_t kBorderSizeable = 1;
constexpr uint8_t kBorderSingle = 5;

const TCommandsStorage* Commands(const TCommandsStorage* given) {
  return given ? given : CommandLineCommands();
}

}  // namespace

bool CmdHasDesktopAlign(const TCommandsStorage* commands) {
  const TCommandsStorage* c = Commands(commands);
  return c && c->FindCommand(u"desktopalign");
}

bool CmdHasResize(const TCommandsStorage* commands) {
  const TCommandsStorage* c = Commands(commands);
  return c && c->FindCommand(u"resize");
}

int32_t CmdDisplayIndex(const TCommandsStorage* commands) {
  const TCommandsStorage* c = Commands(commands);
  const int32_t count = Screen()->MonitorCount();
  if (const TCommand* display = c ? c->FindCommand(u"display") : nullptr) {
    if (const TCommandItem* v = display->GetValue(0)) {
      const int64_t index = int64_t(v->GetIntDef(0)) - 1;
      if (index >= 0 && index < count) return int32_t(index);
    }
  }
  for (int32_t i = count - 1; i >= 1; --i)
    if (Ref<TScreenMonitor> m = Screen()->GetMonitor(i); m && m->IsPrimary()) return i;
  return 0;
}

TRect PlaceShowWindow(int32_t width, int32_t height, TSize frame, const TRect& area) {
  // Departure: sizes from a show are at least one pixel, so the fitting
  // below never divides by zero.
  int64_t cw = std::max(width, 1), ch = std::max(height, 1);
  int64_t ww = cw + frame.cx, wh = ch + frame.cy;
  const int64_t aw = int64_t(area.Right) - area.Left, ah = int64_t(area.Bottom) - area.Top;
  if (ww > aw || wh > ah) {
    const double f = std::min(double(aw - frame.cx) / double(cw), double(ah - frame.cy) / double(ch));
    // A frame larger than the area leaves a one-pixel client.
    cw = std::max<int64_t>(1, int64_t(std::nearbyint(double(cw) * std::max(f, 0.0))));
    ch = std::max<int64_t>(1, int64_t(std::nearbyint(double(ch) * std::max(f, 0.0))));
    ww = cw + frame.cx;
    wh = ch + frame.cy;
  }
  const int64_t left = (int64_t(area.Left) + area.Right - ww) / 2;
  const int64_t top = (int64_t(area.Top) + area.Bottom - wh) / 2;
  return TRect{int32_t(left), int32_t(top), int32_t(left + ww), int32_t(top + wh)};
}

TKavShowViewer::TKavShowViewer(TVxForm* form) {
  KAV_ASSERT(form != nullptr);
  form_ = form;
  form_->Events()->AddHandler(kFormEventDestroy, TEventListHandler::Bind<&TKavShowViewer::FormGone>(this));
}

void TKavShowViewer::FormGone(TRefObject*, uint32_t, void*) { DetachForm(); }

void TKavShowViewer::DetachForm() {
  if (!form_) return;
  form_->Events()->RemoveHandler(kFormEventDestroy, TEventListHandler::Bind<&TKavShowViewer::FormGone>(this));
  form_ = nullptr;
}

void TKavShowViewer::Dispose() {
  if (engine_) {
    engine_->OnState = nullptr;
    engine_->OnTime = nullptr;
    engine_->OnEvent = nullptr;
    engine_->StopEngine();
  }
  engine_ = nullptr;
  DetachForm();
  TRefObject::Dispose();
}

void TKavShowViewer::ApplyWindowOptions(TIniFile* options) {
  if (engine_) return;
  if (!form_) return;
  auto device = MakeRef<TVxFormDevice>(form_);
  const TRect client = form_->GetClientRect();
  const TPoint origin = form_->ClientToScreen(TPoint{client.Left, client.Top});
  device->SetBounds(TRect{origin.X, origin.Y, origin.X + client.Width(), origin.Y + client.Height()}, origin, false);
  engine_ = MakeRef<TKavEngine>(Application(), device.get(), false, true, true);
  engine_->OnState = TKavStateEvent::Bind<&TKavShowViewer::EngineState>(this);
  engine_->OnTime = TKavTimeEvent::Bind<&TKavShowViewer::EngineTime>(this);
  engine_->OnEvent = TKavEngineEvent::Bind<&TKavShowViewer::EngineEvent>(this);
  engine_->SetLoopAndAction(loop_and_action_);
  if (options) {
    // Departure: the same reading as the engine's own window report, so the
    // first placement and the engine's report never disagree.
    TShowWindowOptions o;
    const TSize screen = GetScreenSize();
    o.Width = screen.cx;
    o.Height = screen.cy;
    ReadShowWindowOptions(options, o);
    PlaceWindow(o.Width, o.Height, o.WindowMode());
  }
}

void TKavShowViewer::Open(TFileAccessor* stream, TIniFile* options, int32_t start_time) {
  ApplyWindowOptions(options);
  if (!stream || !options) return;
  // The engine keeps its own accessor: the viewer's may move on.
  Ref<TFileAccessor> own = stream->Clone();
  auto copy = MakeRef<TIniFile>();
  copy->LoadFromBytes(options->SaveToBytes());
  BeforeOpen(copy.get());
  if (EngineRunning()) {
    auto req = MakeRef<TOpenParams>();
    req->RequestId = engine_->NextEventId();
    req->Stream = own;
    req->Options = copy;
    req->StartTime = start_time;
    req->PausedAfter = paused_;
    engine_->EventList()->PostEvent(kEngineOpen, req.release());
  } else {
    engine_->OpenShow(own.get(), copy.get(), start_time);
    engine_->Start();
  }
}

void TKavShowViewer::SetPaused(bool paused) {
  if (paused == paused_) return;
  paused_ = paused;
  if (engine_) engine_->EventList()->PostEvent(kEngineMode, new TModeData(paused));
}

void TKavShowViewer::SetPosition(int32_t time) {
  if (time < 0 || !EngineRunning()) return;
  auto req = MakeRef<TOpenParams>();
  req->RequestId = engine_->NextEventId();
  req->StartTime = time;
  req->PausedAfter = paused_;
  engine_->EventList()->PostEvent(kEngineOpen, req.release());
  last_time_ = time;
}

void TKavShowViewer::SetPositionAndPause(int32_t time, bool paused) {
  SetPosition(time);
  SetPaused(paused);
}

void TKavShowViewer::MouseInput(uint8_t kind, int32_t x, int32_t y, uint32_t shift, uint8_t button) {
  MouseInputWithAction(kind, x, y, shift, button, TKavAction{});
}

void TKavShowViewer::MouseInputWithAction(uint8_t kind, int32_t x, int32_t y, uint32_t shift, uint8_t button,
                                          const TKavAction& action) {
  if (!EngineRunning()) return;
  auto data = MakeRef<TEngineMouseData>();
  data->State = TEngineMouseState{kind, button, shift, x, y};
  data->Action = action;
  engine_->EventList()->PostEvent(kEngineMouse, data.release());
}

void TKavShowViewer::ShowHelp() {
  if (engine_) engine_->EventList()->PostEvent(kEngineHelpDialog, nullptr);
}

void TKavShowViewer::CloseDialog() {
  if (engine_) engine_->EventList()->PostEvent(kEngineCloseDialog, nullptr);
}

void TKavShowViewer::RequestImage() {
  if (EngineRunning()) engine_->EventList()->PostEvent(kEngineRenderImage, nullptr);
}

void TKavShowViewer::SetLoopAndActions(bool on) {
  loop_and_action_ = on;
  if (engine_) engine_->SetLoopAndAction(on);
}

void TKavShowViewer::EngineState(TCustomKavEngine*) {
  if (form_ && !form_->Visible()) form_->SetVisible(true);
}

void TKavShowViewer::EngineTime(TCustomKavEngine*, int32_t time, bool finished, int32_t duration) {
  last_time_ = time;
  duration_ = duration;
  if (OnTimeChanged.Assigned()) OnTimeChanged(finished);
}

void TKavShowViewer::EngineEvent(TCustomKavEngine*, TKavEventData* data) {
  if (!data) return;
  switch (data->Code) {
    case kGuiAction:
      if (OnAction.Assigned()) {
        TKavAction action;
        action.Kind = uint8_t(data->Param(0) & 0xFF);
        action.Int = data->Param(1);
        if (auto* text = dynamic_cast<TStrValue*>(data->Object)) action.Text = text->Value;
        OnAction(action);
      }
      return;
    case kGuiImage:
      if (OnImage.Assigned()) OnImage(dynamic_cast<TImage*>(data->Object));
      return;
    case kGuiWindowSize:
      PlaceWindow(data->Param(0), data->Param(1), data->Param(2));
      return;
    default:
      return;
  }
}

void TKavShowViewer::PlaceWindow(int32_t width, int32_t height, int32_t mode) {
  if (!form_) return;
  const uint8_t border = mode == kWindowBordered ? (CmdHasResize(commands_) ? kBorderSizeable : kBorderSingle)
                                                 : kBorderNone;
  form_->SetBorderStyle(border);
  TRect area;
  if (CmdHasDesktopAlign(commands_)) {
    area = GetDesktopRect();
  } else {
    Ref<TScreenMonitor> m = Screen()->GetMonitor(CmdDisplayIndex(commands_));
    area = m ? m->GetBounds() : TRect{0, 0, GetScreenSize().cx, GetScreenSize().cy};
  }
  if (mode == kWindowFullScreen) {
    width = area.Right - area.Left;
    height = area.Bottom - area.Top;
  }
  const TSize frame = mode == kWindowBordered ? form_->GetNonClientSize() : TSize{0, 0};
  const TRect window = PlaceShowWindow(width, height, frame, area);
  form_->SetBoundsRect(window);
  if (engine_ && engine_->DrawController() && engine_->DrawController()->Device()) {
    const TRect client = form_->GetClientRect();
    const TPoint origin = form_->ClientToScreen(TPoint{client.Left, client.Top});
    engine_->DrawController()->Device()->SetBounds(
        TRect{origin.X, origin.Y, origin.X + client.Width(), origin.Y + client.Height()}, origin,
        mode == kWindowFullScreen);
  }
}

}  // namespace kav
